// Blinks an LED on P4.8 three times. TAV_DEVICE=sim:T runs it on a virtual board.
//   mcs Blink.cs Tav.cs -out:Blink.exe && mono Blink.exe
using System;
using System.Threading;

static class Blink
{
    static int Main()
    {
        try {
            using (var board = Tav.Board.Open()) { // the first board, or TAV_DEVICE's; closed safe at the end
                board.Init();
                board.Output("P4.8");
                for (int round = 0; round < 3; ++round) {
                    board.Set("P4.8");
                    Thread.Sleep(100);
                    board.Reset("P4.8");
                    Thread.Sleep(100);
                }
                Console.WriteLine("blinked P4.8 on board model " + board.Model);
            }
            return 0;
        } catch (Tav.TavException error) {
            Console.Error.WriteLine(error.Message);
            return 1;
        }
    }
}
