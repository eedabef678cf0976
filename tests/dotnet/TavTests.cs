// Tav.cs under Mono against libtav on virtual boards: open, pins, PWM, state,
// errors, close twice, use after close, a board never closed, and two boards
// from two threads. Prints "ok: ..." or "FAIL: ..." per check and
// "N passed, N failed" last; the exit code is the failures' count.
using System;
using System.Threading;
using Tav;

static class TavTests
{
    static int passed;
    static int failed;

    static void Check(string name, bool good, string detail = "")
    {
        if (good)
        {
            ++passed;
            Console.WriteLine("ok: " + name);
        }
        else
        {
            ++failed;
            Console.WriteLine("FAIL: " + name + (detail.Length > 0 ? ": " + detail : ""));
        }
    }

    // The TavException an action throws, or null.
    static TavException Thrown(Action action)
    {
        try
        {
            action();
            return null;
        }
        catch (TavException error)
        {
            return error;
        }
    }

    static string Line(Board board, string pin)
    {
        foreach (string line in board.Status().Split('\n'))
            if (line.StartsWith("  " + pin + " "))
                return line;
        return "";
    }

    // Waits up to 5 s for a condition another thread makes true.
    static bool Eventually(Func<bool> condition)
    {
        for (int wait = 0; wait < 500 && !condition(); ++wait)
            Thread.Sleep(10);
        return condition();
    }

    // What a program uses beyond driving pins: the pin and group state, watching, the log and
    // connection callbacks, listing, and the virtual board's clock and waveforms.
    static void ProgramFacingCalls()
    {
        using (var board = Board.Open("sim:S"))
        {
            board.Init();
            board.Output("P4.5");
            board.Write("P4.5", "on");
            PinState pin = board.Pin("P4.5");
            Check("Pin: state as data", pin.Name == "P4.5" && pin.Identifier == 0x40000020u && pin.Function == "output_high"
                  && pin.Level == 1 && pin.Known && pin.McuPin == Line(board, "P4.5").Split(new[] { ' ' },
                  StringSplitOptions.RemoveEmptyEntries)[2], pin.Name + " " + pin.Function + " " + pin.McuPin);
            board.Write("P4.5", "low");
            Check("Write(pins, \"low\")", board.Pin("P4.5").Level == 0);
            var badLevel = Thrown(() => board.Write("P4.5", "HIGH"));
            Check("a level word the library does not know", badLevel != null && badLevel.Code == TavException.Invalid
                  && badLevel.Message.Contains("HIGH"), badLevel?.Message ?? "no exception");
            board.PwmStart('C', 4, "25%", "0", "100");
            PinState[] pins = board.Pins();
            PinState pwm = Array.Find(pins, state => state.Function == "pwm" && state.Group == 'C' && state.Channel == 1);
            Check("Pins: 33, a PWM pin with its group and channel", pins.Length == 33 && pins[0].Name == "P4.0"
                  && pins[32].Name == "P8.16" && pwm != null && pwm.DutyCounts == 9000 && pwm.PeriodCounts == 36000,
                  pins.Length.ToString());
            var multiple = Thrown(() => board.Pin("P4.0-1"));
            Check("Pin takes one pin", multiple != null && multiple.Code == TavException.Invalid);
            GroupState group = board.Group('c');
            Check("Group: the divider, running, each channel's duty", group.Known && group.Running && group.Divider == 4
                  && group.FullScale == 36000 && group.Duties.Length == 4 && group.Duties[0] == 9000 && group.Duties[2] == 100
                  && group.DutyKnown[3], group.Divider + " " + string.Join(",", group.Duties));
            Check("Group A has 3 channels", board.Group('A').Duties.Length == 3);
            board.Sim.UseVirtualTime();
            board.Sim.Advance(0.002);
            board.Set("P4.5");
            board.Sim.Advance(0.001);
            board.Reset("P4.5");
            string vcd = System.IO.Path.GetTempFileName();
            string svg = System.IO.Path.GetTempFileName();
            board.Sim.WriteVcd(vcd);
            board.Sim.WriteSvg(svg);
            var edges = board.Sim.Edges("P4.5");
            string vcdText = System.IO.File.ReadAllText(vcd);
            Check("virtual time and the waveforms", edges.Length == 2 && edges[0].Level == 1 && edges[1].Level == 0
                  && Math.Abs(edges[0].TimeSeconds - 0.002) < 1e-9 && Math.Abs(edges[1].TimeSeconds - 0.003) < 1e-9
                  && vcdText.Contains("$timescale") && vcdText.Contains("#2000000") && System.IO.File.ReadAllText(svg).Contains("<svg"),
                  edges.Length + " edges");
            var badPath = Thrown(() => board.Sim.WriteVcd("/nonexistent/folder/x.vcd"));
            Check("a waveform that cannot be written", badPath != null && badPath.Code == TavException.IoFailed);
            System.IO.File.Delete(vcd);
            System.IO.File.Delete(svg);
        }

        var lines = new System.Collections.Concurrent.ConcurrentQueue<string>();
        var told = new System.Collections.Concurrent.ConcurrentQueue<bool>();
        var seen = new System.Collections.Concurrent.ConcurrentQueue<BoardEvent>();
        Library.SetLogCallback((level, text) => lines.Enqueue(level + " " + text));
        using (var board = Board.Open("reattach:sim:T"))
        using (var watcher = Library.Watch(happened => seen.Enqueue(happened), 10))
        {
            board.OnConnection(connected => told.Enqueue(connected));
            Check("Watch: the virtual board is there first", Eventually(() => Array.Exists(seen.ToArray(),
                  happened => happened.Arrived && happened.Initial && happened.Device.UsbLibrary == "sim"
                              && happened.Device.Port.StartsWith("sim-"))), seen.Count.ToString());
            board.Sim.Unplug();
            Check("OnConnection(false) and a left event when it is unplugged", Eventually(() => Array.IndexOf(told.ToArray(), false) >= 0)
                  && Eventually(() => Array.Exists(seen.ToArray(), happened => !happened.Arrived)));
            board.Sim.Plug();
            Check("OnConnection(true) once it is back", Eventually(() => Array.IndexOf(told.ToArray(), true) >= 0) && board.Connected);
            Check("SetLogCallback: the library says the board is back", Eventually(() => Array.Exists(lines.ToArray(),
                  line => line.StartsWith("3 ") && line.Contains("is back"))), string.Join(" | ", lines.ToArray()));
            board.OnConnection(null);
        }
        Library.SetLogCallback(null);
        int linesThen = lines.Count;
        using (var board = Board.Open("reattach:sim:T"))
        {
            board.Sim.Unplug();
            board.Sim.Plug();
            Eventually(() => board.Connected);
        }
        Check("SetLogCallback(null) stops it", lines.Count == linesThen);
        Device[] devices = Library.ListBoards(true);
        Check("ListBoards: devices as the library lists them", Array.TrueForAll(devices, device => device.UsbLibrary.Length > 0),
              devices.Length.ToString());
        using (var queued = Board.Open("sim:T"))
        using (var sync = Board.Open("sync:sim:T"))
            Check("Queued by default, one at a time after sync:", queued.Queued && !sync.Queued);
        Check("BoardPins: the 33, bank 4 first", Library.BoardPins().Length == 33 && Library.BoardPins()[16] == 0x80000001u);
    }

    static int Main()
    {
        using (var board = Board.Open("sim:T"))
        {
            board.Init();
            double reached = board.PwmStartHz('B', 50, 7.5);
            Check("PwmStartHz: a servo at 50 Hz", Math.Abs(reached - 50) < 0.05 && Line(board, "P8.0").Contains("duty 4909/65455"),
                  Line(board, "P8.0"));
            board.PwmPulse('B', 2, 2000);
            Check("PwmPulse: 2000 us", Line(board, "P8.1").Contains("duty 6545/65455"), Line(board, "P8.1"));
            board.PwmSetPercent('B', 3, 50);
            Check("PwmSetPercent: 50 %", Line(board, "P8.2").Contains("duty 32728/65455"), Line(board, "P8.2"));
            board.PwmStartHz('C', 20000, 25);
            board.PwmStop('B');
            Check("PwmStop('B'): B stops, C runs on", Line(board, "P8.0").Contains("floating input")
                  && Line(board, "P4.1").Contains("20000 Hz, duty 900/3600"), Line(board, "P4.1"));
            var tooLong = Thrown(() => board.PwmPulse('C', 1, 51));
            Check("PwmPulse longer than the period is refused", tooLong != null && tooLong.Code == TavException.Invalid);
            var tooFast = Thrown(() => board.PwmStartHz('A', 1e9));
            Check("PwmStartHz out of range is refused", tooFast != null && tooFast.Code == TavException.Invalid);
            board.InputPullUp("P4.9");
            board.InputPullDown("P4.10");
            board.OutputOpenDrain("P4.8");
            Check("pull-up, pull-down, open drain", Line(board, "P4.9").Contains("input with pull-up")
                  && Line(board, "P4.10").Contains("input with pull-down") && Line(board, "P4.8").Contains("open-drain"),
                  Line(board, "P4.8"));
        }
        using (var board = Board.Open("reattach:sim:T"))
        {
            board.Init();
            board.Output("P4.8");
            board.Set("P4.8");
            board.Sim.Unplug();
            for (int wait = 0; wait < 500 && board.Connected; ++wait)
                Thread.Sleep(10);
            Check("Sim.Unplug: the board is gone", !board.Connected);
            board.Sim.Plug();
            for (int wait = 0; wait < 500 && !board.Connected; ++wait)
                Thread.Sleep(10);
            Check("Sim.Plug: back, the output restored", board.Connected && Line(board, "P4.8").Contains("output high"),
                  Line(board, "P4.8"));
            board.Sim.Fail("stall");
            var stalled = Thrown(() => board.Reset("P4.8"));
            Check("Sim.Fail stall: the next record fails", stalled != null && stalled.Code == TavException.IoFailed);
            var edges = board.Sim.Edges("P4.8");
            Check("Sim.Edges: low, high, let go, high again (no glitch to low)", edges.Length == 4 && edges[0].Level == 0 && edges[1].Level == 1
                  && edges[2].Level == -1 && edges[3].Level == 1, edges.Length.ToString());
            var unknown = Thrown(() => board.Sim.Fail("jam"));
            Check("Sim.Fail of no such fault", unknown != null && unknown.Code == TavException.Invalid && unknown.Message.Contains("jam"));
        }
        ProgramFacingCalls();
        Check("the library's version", Library.Version.Length > 0 && char.IsDigit(Library.Version[0]), Library.Version);
        using (var board = Board.Open("sim:T"))
        {
            Check("a virtual board of model T", board.Model == 'T' && board.Firmware == "1.0.0.0", board.ToString());
            board.Init();
            board.Output("P4.8", "P4.10");
            board.Set("P4.8");
            Check("pins: P4.8 high", Line(board, "P4.8").Contains("output high"), Line(board, "P4.8"));
            board.Write("P4.10", 1);
            Check("Write(pins, 1)", Line(board, "P4.10").Contains("output high"), Line(board, "P4.10"));
            board.Write("P4.10", false);
            board.Reset("P4.8");
            Check("Write(pins, false) and Reset", Line(board, "P4.10").Contains("output low")
                  && Line(board, "P4.8").Contains("output low"), Line(board, "P4.8"));
            board.PwmStart('B', 2, "25%", "0", "9000");
            Check("PwmStart: 1000 Hz, 25 % and 9000 counts", Line(board, "P8.0").Contains("PWM TIM2 CH1, 1000 Hz, duty 9000/36000")
                  && Line(board, "P8.2").Contains("duty 9000/36000"), Line(board, "P8.0"));
            board.PwmSet('b', 1, "50%");
            Check("PwmSet: 50 %", Line(board, "P8.0").Contains("duty 18000/36000"), Line(board, "P8.0"));
            board.PwmStop();
            Check("PwmStop floats the PWM pins", Line(board, "P8.0").Contains("floating input"), Line(board, "P8.0"));
            board.Safe();

            // Errors carry the library's words and codes; nothing reaches the board.
            string before = board.Status();
            var error = Thrown(() => board.Output("P4.16"));
            Check("a pin that does not exist", error != null && error.Code == TavException.Invalid
                  && error.Message.Contains("bank P4 has pins 0-15"), error?.Message ?? "no exception");
            error = Thrown(() => board.PwmStart('B', 3));
            Check("a divider that does not exist names those that do", error != null && error.Code == TavException.Invalid
                  && error.Message.Contains("128"), error?.Message ?? "no exception");
            error = Thrown(() => board.PwmStart('D', 1));
            Check("a group that does not exist", error != null && error.Code == TavException.Invalid, error?.Message ?? "none");
            error = Thrown(() => board.PwmSet('A', 4, "10"));
            Check("group A has no channel 4, and says which it has", error != null && error.Code == TavException.Invalid
                  && error.Message == "PwmSet: group A has channels 1 to 3, not 4", error?.Message ?? "none");
            error = Thrown(() => board.PwmSetPercent('B', 9, 10));
            Check("group B has no channel 9", error != null && error.Message == "PwmSetPercent: group B has channels 1 to 4, not 9",
                  error?.Message ?? "none");
            error = Thrown(() => board.PwmPulse('C', 0, 1500));
            Check("channels count from 1", error != null && error.Message == "PwmPulse: group C has channels 1 to 4, not 0",
                  error?.Message ?? "none");
            error = Thrown(() => board.PwmSet('B', 1, "150%"));
            Check("a duty above full scale", error != null && error.Code == TavException.Invalid, error?.Message ?? "none");
            error = Thrown(() => board.Write("P4.8", 2));
            Check("a level that is no level", error != null && error.Code == TavException.Invalid, error?.Message ?? "none");
            error = Thrown(() => board.Set("P4.8\0P4.9"));
            Check("text with a NUL", error != null && error.Code == TavException.Invalid, error?.Message ?? "none");
            Check("failed calls sent nothing", board.Status() == before);
        }
        var missing = Thrown(() => Board.Open("sim:X"));
        Check("a selector that names nothing", missing != null && missing.Code == TavException.Invalid
              && missing.Message.Contains("sim:T"), missing?.Message ?? "no exception");
        missing = Thrown(() => Board.Open("usb:9:99"));
        Check("a board that is not there", missing != null && missing.Code == TavException.NotFound, missing?.Message ?? "none");

        // Close twice, use after close; a released board.
        var closed = Board.Open("sim:S");
        closed.Close();
        closed.Close();
        var after = Thrown(() => closed.Set("P4.8"));
        Check("use after close", closed.Closed && after != null && after.Code == TavException.NotOpen
              && after.Message == "the board is closed", after?.Message ?? "no exception");
        Check("Model after close", Thrown(() => { char model = closed.Model; }) != null);
        var released = Board.Open("sim:C");
        released.Release();
        Check("released", released.Closed && Thrown(() => released.Init()).Code == TavException.NotOpen);

        // A board never closed is let go when it is collected.
        for (int index = 0; index < 50; ++index)
            Board.Open("sim:T").Init();
        GC.Collect();
        GC.WaitForPendingFinalizers();
        Check("boards never closed are collected", true);

        // Two boards from two threads, each its own.
        var boards = new[] { Board.Open("sim:T"), Board.Open("sim:S") };
        var threads = new Thread[2];
        var problems = new string[2];
        for (int index = 0; index < 2; ++index)
        {
            int which = index;
            threads[index] = new Thread(() =>
            {
                try
                {
                    for (int round = 0; round < 200; ++round)
                    {
                        boards[which].Output(which == 0 ? "P4.8" : "P8.16");
                        boards[which].Write(which == 0 ? "P4.8" : "P8.16", round % 2 == 0);
                    }
                }
                catch (Exception error)
                {
                    problems[which] = error.Message;
                }
            });
            threads[index].Start();
        }
        foreach (var thread in threads)
            thread.Join();
        Check("two boards from two threads", problems[0] == null && problems[1] == null
              && Line(boards[0], "P4.8").Contains("output low") && Line(boards[1], "P8.16").Contains("output low")
              && Line(boards[0], "P8.16").Contains("floating input") && Line(boards[1], "P4.8").Contains("floating input"),
              (problems[0] ?? "") + (problems[1] ?? "") + Line(boards[1], "P8.16"));
        foreach (var board in boards)
            board.Dispose();

        Console.WriteLine(passed + " passed, " + failed + " failed");
        return failed;
    }
}
