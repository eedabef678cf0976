// A board that heals: "reattach:" finds the board again after it was
// unplugged and sends what the program had set. On a virtual board
// (TAV_DEVICE=sim:T) the program unplugs and plugs it itself; on a real one,
// unplug it and plug it back.
//   mcs Heal.cs Tav.cs -out:Heal.exe && mono Heal.exe
using System;
using System.Threading;

static class Heal
{
    static int Main()
    {
        try {
            using (var board = Tav.Board.Open("reattach:")) {
                board.Init();
                board.Output("P4.8");
                board.Set("P4.8");
                try {
                    board.Sim.Unplug(); // a virtual board: the test a program makes of itself
                    Console.WriteLine("board left: connected " + board.Connected);
                    board.Sim.Plug();
                } catch (Tav.TavException error) when (error.Code == Tav.TavException.NotVirtual) {
                    Console.WriteLine("unplug the board and plug it back");
                }
                for (int waited = 0; waited < 600 && !board.Connected; ++waited)
                    Thread.Sleep(100);
                Console.WriteLine("board back: connected " + board.Connected);
                board.Reset("P4.8"); // the restored board takes calls as before
            }
            return 0;
        } catch (Tav.TavException error) {
            Console.Error.WriteLine(error.Message);
            return 1;
        }
    }
}
