// What a program sent, as a waveform: with TAV_TRACE set, the library writes
// every record the program sends, on any board, real or virtual (a .vcd name
// gives a VCD for GTKWave or PulseView). This program sets it for itself;
// from the shell, `TAV_TRACE=run.vcd mono Program.exe` does the same for any program.
//   mcs TraceVcd.cs Tav.cs -out:TraceVcd.exe && mono TraceVcd.exe
using System;
using System.Threading;

static class TraceVcd
{
    static int Main()
    {
        if (Environment.GetEnvironmentVariable("TAV_TRACE") == null) {
            Console.Error.WriteLine("run it as: TAV_TRACE=blink.vcd mono TraceVcd.exe");
            return 2;
        }
        try {
            using (var board = Tav.Board.Open()) {
                board.Init();
                board.Output("P4.8");
                for (int edge = 0; edge < 4; ++edge) {
                    if (edge % 2 == 0)
                        board.Set("P4.8");
                    else
                        board.Reset("P4.8");
                    Thread.Sleep(50);
                }
            }
            Console.WriteLine("wrote " + Environment.GetEnvironmentVariable("TAV_TRACE"));
            return 0;
        } catch (Tav.TavException error) {
            Console.Error.WriteLine(error.Message);
            return 1;
        }
    }
}
