// Sweeps the duty of group B, channel 1 (a motor, an LED) from 0 to 100 % at 20 kHz.
//   mcs PwmSweep.cs Tav.cs -out:PwmSweep.exe && mono PwmSweep.exe
using System;
using System.Threading;

static class PwmSweep
{
    static int Main()
    {
        try {
            using (var board = Tav.Board.Open()) {
                board.Init();
                double hz = board.PwmStartHz('B', 20000);
                for (int percent = 0; percent <= 100; percent += 10) {
                    board.PwmSetPercent('B', 1, percent);
                    Thread.Sleep(50);
                }
                Console.WriteLine("swept group B channel 1 at " + hz + " Hz");
            }
            return 0;
        } catch (Tav.TavException error) {
            Console.Error.WriteLine(error.Message);
            return 1;
        }
    }
}
