// Tav.cs: TAV USB input/output boards from C# (6 or later) and VB.NET, over
// libtav's C interface (tav.h). One source file: add it to your project and
// put tav.dll (Windows, the arch of your program) beside the program; on
// Linux under Mono put libtav.so (a copy of libtav.so.1) beside it with
// Tav.Net.dll.config renamed PROGRAM.exe.config (its dllmap). VB.NET and
// package users reference the assembly Tav.Net.dll of the NuGet package
// Tav.Net instead (scripts/nuget.sh), which carries the native libraries.
//
//     using (var board = Tav.Board.Open("sim:T"))    // "" = the first board, "usb:1:5", "port:1-3.2"
//     {
//         board.Init();
//         board.Output("P4.8", "P4.10");
//         board.Set("P4.8");
//         board.PwmStart('B', 2, "25%", "0", "9000");  // counts or percentages
//         board.PwmSet('B', 1, "50%");
//         Console.WriteLine($"{board.Model} {board.Firmware}");
//     }   // Dispose closes the board into the safe state; Release() leaves outputs as they are
//
// The names are the Python package's in C#'s case. Failures throw
// Tav.TavException: Code is the library's result code (tav.h), Message its
// words. Every call may come from any thread; one board's calls run one at
// a time. The C functions are cdecl on 32-bit Windows too, as declared here.
using System;
using System.Collections.Generic;
using System.Runtime.InteropServices;
using System.Text;

namespace Tav
{
    /// <summary>A call into libtav failed: Code is its result (tav.h), Message its words.</summary>
    public class TavException : Exception
    {
        // The result codes as the library has them (tav_constant): one home, in tav.h.
        public static readonly int NotOpen = Native.Constant("TAV_NOT_OPEN");
        public static readonly int IoFailed = Native.Constant("TAV_IO_FAILED");
        public static readonly int BadPin = Native.Constant("TAV_BAD_PIN");
        public static readonly int PinUnavailable = Native.Constant("TAV_PIN_UNAVAILABLE");
        public static readonly int Invalid = Native.Constant("TAV_E_INVALID");
        public static readonly int NotFound = Native.Constant("TAV_E_NOT_FOUND");
        public static readonly int Access = Native.Constant("TAV_E_ACCESS");
        public static readonly int NotVirtual = Native.Constant("TAV_E_NOT_VIRTUAL");

        public int Code { get; }

        public TavException(int code, string message) : base(message)
        {
            Code = code;
        }

        internal static TavException Of(int code, string what)
        {
            return new TavException(code, what + ": " + Library.StrError(code));
        }
    }

    /// <summary>The library itself.</summary>
    public static class Library
    {
        /// <summary>libtav's version ("1.1.0").</summary>
        public static string Version => Native.Text(Native.tav_version());

        /// <summary>A result code in the library's words.</summary>
        public static string StrError(int code) => Native.Text(Native.tav_strerror(code));

        /// <summary>Counter steps in one PWM period (36000).</summary>
        public static uint PwmFullScale => Native.tav_pwm_full_scale();
    }

    /// <summary>One board, open from Open() until Close(), Release() or Dispose().</summary>
    public sealed class Board : IDisposable
    {
        private readonly BoardHandle handle;

        private Board(BoardHandle handle)
        {
            this.handle = handle;
        }

        /// <summary>Opens the board the selector names: "" (the first board, or TAV_DEVICE's),
        /// "usb:BUS:DEV", "port:1-3.2", "sim:T" (a virtual board), with "queued:" or "reattach:" before it.</summary>
        public static Board Open(string selector = "")
        {
            IntPtr opened;
            byte[] text = Native.Utf8(selector ?? "", "selector");
            var reason = new byte[512];
            if (Native.tav_parse_selector(text, reason, (UIntPtr)reason.Length) != Native.OK)
                throw new TavException(TavException.Invalid, Native.Text(reason));
            int code = Native.tav_open(text, out opened);
            IntPtr problem = code == TavException.Access || code == TavException.NotFound ? Native.tav_open_problem() : IntPtr.Zero;
            if (problem != IntPtr.Zero && code == TavException.Access)
                throw new TavException(code, Native.Text(problem)); // in use by another program, or no permission
            if (code != Native.OK)
                throw new TavException(code, "cannot open " + (string.IsNullOrEmpty(selector) ? "the first board" : "'" + selector + "'") +
                                              ": " + Library.StrError(code) +
                                              (problem != IntPtr.Zero ? ": " + Native.Text(problem) : "")); // no USB library, or one that cannot reach it
            return new Board(new BoardHandle(opened));
        }

        /// <summary>The board's model: 'T', 'S' or 'C'.</summary>
        public char Model
        {
            get { return (char)Call(h => Native.tav_model(h)); }
        }

        /// <summary>The board's firmware version ("1.0.0.0").</summary>
        public string Firmware
        {
            get
            {
                var text = new byte[64];
                Check(Call(h => Native.tav_firmware(h, text, (UIntPtr)text.Length)), "Firmware");
                return Native.Text(text);
            }
        }

        /// <summary>Whether Close() or Release() ended this board object.</summary>
        public bool Closed => handle.IsClosed;

        /// <summary>Bring-up: the debug port's pins freed, every pin floating, the timers reset.</summary>
        public void Init(uint value = 0) => Check(Call(h => Native.tav_init(h, value)), "Init");

        /// <summary>The safe state: PWM off, every pin floating.</summary>
        public void Safe() => Check(Call(h => Native.tav_safe(h)), "Safe");

        /// <summary>Push-pull outputs: "P4.8", "P4.0-3", "P8.16", or an identifier ("0x40000100").</summary>
        public void Output(params string[] pins) => Pins(Native.tav_pin_output, "Output", pins);
        public void Input(params string[] pins) => Pins(Native.tav_pin_input, "Input", pins);
        public void Float(params string[] pins) => Pins(Native.tav_pin_float, "Float", pins);
        public void Set(params string[] pins) => Pins(Native.tav_pin_set, "Set", pins);
        public void Reset(params string[] pins) => Pins(Native.tav_pin_reset, "Reset", pins);

        /// <summary>Drives the pins high (true) or low (false).</summary>
        public void Write(string pins, bool high) => Pins((h, id) => Native.tav_pin_write(h, id, high ? 1 : 0), "Write", pins);

        /// <summary>Drives the pins high (1) or low (0).</summary>
        public void Write(string pins, int level)
        {
            if (level != 0 && level != 1)
                throw new TavException(TavException.Invalid, "Write: level " + level + " is neither 0 nor 1");
            Write(pins, level == 1);
        }

        /// <summary>Starts a group ('A', 'B', 'C') at 2000 Hz / divider (1, 2, 4 ... 128), with a duty
        /// per channel from the first: counts ("9000") or percentages ("25%").</summary>
        public void PwmStart(char group, int divider, params string[] duties)
        {
            var reason = new byte[256];
            int checkedDivider;
            if (Native.tav_parse_pwm_divider(Native.Utf8(divider.ToString(), "divider"), out checkedDivider, reason, (UIntPtr)reason.Length) != Native.OK)
                throw new TavException(TavException.Invalid, "PwmStart: " + Native.Text(reason));
            var counts = new uint[duties == null ? 0 : duties.Length];
            for (int index = 0; index < counts.Length; ++index)
                counts[index] = Duty(duties[index], "PwmStart");
            Check(Call(h => Native.tav_pwm_start(h, Group(group, "PwmStart"), checkedDivider, counts, (UIntPtr)counts.Length)), "PwmStart");
        }

        /// <summary>Retunes one channel (1..4; group A has 3) of a group: counts or a percentage.</summary>
        public void PwmSet(char group, int channel, string duty)
        {
            byte letter = Group(group, "PwmSet");
            CheckChannel(letter, channel, "PwmSet");
            uint counts = Duty(duty, "PwmSet");
            Check(Call(h => Native.tav_pwm_set(h, letter, (uint)channel, counts)), "PwmSet");
        }

        /// <summary>Stops every group; the PWM pins float.</summary>
        public void PwmStop() => Check(Call(h => Native.tav_pwm_stop(h)), "PwmStop");

        /// <summary>Stops one group; its pins float, the other groups run on.</summary>
        public void PwmStop(char group) => Check(Call(h => Native.tav_pwm_stop_group(h, Group(group, "PwmStop"))), "PwmStop");

        /// <summary>Starts a group at any frequency (0.0168 Hz to 720 kHz: 50 for servos, 20000 for
        /// motors) with duties in percent of channels 1, 2, ...; returns the frequency reached.</summary>
        public double PwmStartHz(char group, double hz, params double[] dutyPercent)
        {
            var duties = dutyPercent ?? new double[0];
            double reached = 0;
            Check(Call(h => Native.tav_pwm_start_hz(h, Group(group, "PwmStartHz"), hz, duties, (UIntPtr)duties.Length, out reached)),
                  "PwmStartHz " + group + " at " + hz + " Hz");
            return reached;
        }

        /// <summary>One channel's duty in percent of the group's full scale.</summary>
        public void PwmSetPercent(char group, int channel, double percent)
        {
            byte letter = Group(group, "PwmSetPercent");
            CheckChannel(letter, channel, "PwmSetPercent");
            Check(Call(h => Native.tav_pwm_set_percent(h, letter, (uint)channel, percent)), "PwmSetPercent");
        }

        /// <summary>One channel's high time in microseconds, of the running group (a servo: 1000 to 2000).</summary>
        public void PwmPulse(char group, int channel, double microseconds)
        {
            byte letter = Group(group, "PwmPulse");
            CheckChannel(letter, channel, "PwmPulse");
            Check(Call(h => Native.tav_pwm_set_pulse(h, letter, (uint)channel, microseconds)),
                  "PwmPulse (the group must run, the pulse fit its period)");
        }

        /// <summary>Inputs with the chip's pull-up (a button to ground) or pull-down resistor.</summary>
        public void InputPullUp(params string[] pins) => Pins((h, id) => Native.tav_pin_input_pull(h, id, PullUp), "InputPullUp", pins);
        public void InputPullDown(params string[] pins) => Pins((h, id) => Native.tav_pin_input_pull(h, id, PullDown), "InputPullDown", pins);

        /// <summary>Outputs that only pull low; Set lets the line float (relays, shared lines).</summary>
        public void OutputOpenDrain(params string[] pins) => Pins(Native.tav_pin_output_open_drain, "OutputOpenDrain", pins);

        private static readonly int PullUp = Native.Constant("TAV_PULL_UP");
        private static readonly int PullDown = Native.Constant("TAV_PULL_DOWN");

        /// <summary>Virtual boards only: what every pin does now, as `tavctl status` shows it.</summary>
        public string Status()
        {
            var text = new byte[16384];
            Check(Call(h => Native.tav_sim_status(h, text, (UIntPtr)text.Length)), "Status");
            return Native.Text(text);
        }

        /// <summary>Whether the board is there now; a "reattach:" board is again once found back.</summary>
        public bool Connected => !handle.IsClosed && Call(h => Native.tav_connected(h)) == 1;

        /// <summary>What a program's tests do to a virtual board: board.Sim.Unplug().</summary>
        public SimBoard Sim => new SimBoard(this);

        /// <summary>A virtual board taken out, put back and made to fail (tav_sim_* in tav.h).
        /// On a real board each call throws TavException (Code NotVirtual).</summary>
        public sealed class SimBoard
        {
            private readonly Board board;

            internal SimBoard(Board board)
            {
                this.board = board;
            }

            /// <summary>The board leaves its bus, as a real one leaves USB.</summary>
            public void Unplug() => Check(board.Call(h => Native.tav_sim_unplug(h)), "Sim.Unplug");

            /// <summary>It comes back on its port at power-on; a "reattach:" board restores itself.</summary>
            public void Plug() => Check(board.Call(h => Native.tav_sim_plug(h)), "Sim.Plug");

            /// <summary>The after-th record transfer from now meets "timeout", "stall", "short" or "unplug".</summary>
            public void Fail(string kind, int after = 1)
            {
                int code = kind == "timeout" ? 1 : kind == "stall" ? 2 : kind == "short" ? 3 : kind == "unplug" ? 4 : 0;
                if (code == 0)
                    throw new TavException(TavException.Invalid, "Sim.Fail: no fault '" + kind + "': timeout, stall, short or unplug");
                if (after < 1)
                    throw new TavException(TavException.Invalid, "Sim.Fail: after counts from 1 (the next record), not " + after);
                Check(board.Call(h => Native.tav_sim_fail(h, code, (uint)after)), "Sim.Fail");
            }

            /// <summary>One pin's level changes since the board was opened: Level 1 high, 0 low,
            /// -1 not driven, 2 a PWM square wave (its settings changed).</summary>
            public Edge[] Edges(string pin)
            {
                uint[] ids = ParsePins(pin, "Sim.Edges");
                if (ids.Length != 1)
                    throw new TavException(TavException.Invalid, "Sim.Edges takes one pin, not '" + pin + "'");
                for (;;)
                {
                    int count = board.Call(h => Native.tav_sim_edges(h, ids[0], null, UIntPtr.Zero));
                    if (count < 0)
                        throw TavException.Of(count, "Sim.Edges");
                    var raw = new NativeEdge[Math.Max(count, 1)];
                    int filled = board.Call(h => Native.tav_sim_edges(h, ids[0], raw, (UIntPtr)count));
                    if (filled > count)
                        continue; // more came in between
                    var edges = new Edge[filled];
                    for (int index = 0; index < filled; ++index)
                        edges[index] = new Edge(raw[index].TimeNs / 1e9, raw[index].Level);
                    return edges;
                }
            }
        }

        /// <summary>A level change of a virtual board's pin.</summary>
        public struct Edge
        {
            public Edge(double timeSeconds, int level)
            {
                TimeSeconds = timeSeconds;
                Level = level;
            }
            public double TimeSeconds { get; }
            public int Level { get; }
        }

        /// <summary>Closes the board into the safe state and lets it go; later calls throw
        /// TavException (Code NotOpen). Closing again does nothing.</summary>
        public void Close()
        {
            handle.SafeState = true;
            handle.Dispose();
        }

        /// <summary>Lets the board go as it is: outputs keep driving, PWM keeps running.</summary>
        public void Release()
        {
            handle.SafeState = false;
            handle.Dispose();
        }

        /// <summary>As Close().</summary>
        public void Dispose() => Close();

        public override string ToString()
        {
            return Closed ? "Tav.Board (closed)" : "Tav.Board model " + Model + ", firmware " + Firmware;
        }

        // ---- plumbing ---------------------------------------------------------

        // The call with the board's pointer, held for its length (a Close from
        // another thread waits, as tav_close waits for calls in flight).
        private int Call(Func<IntPtr, int> call)
        {
            bool added = false;
            try
            {
                if (!handle.IsClosed)
                    handle.DangerousAddRef(ref added);
                if (!added)
                    throw new TavException(TavException.NotOpen, "the board is closed");
                return call(handle.DangerousGetHandle());
            }
            catch (ObjectDisposedException)
            {
                throw new TavException(TavException.NotOpen, "the board is closed");
            }
            finally
            {
                if (added)
                    handle.DangerousRelease();
            }
        }

        private static void Check(int code, string what)
        {
            if (code != Native.OK)
                throw TavException.Of(code, what);
        }

        private void Pins(Func<IntPtr, uint, int> action, string what, params string[] pins)
        {
            if (pins == null || pins.Length == 0)
                throw new TavException(TavException.Invalid, what + ": no pin given");
            var identifiers = new List<uint>();
            foreach (string text in pins)
                identifiers.AddRange(ParsePins(text, what));
            foreach (uint identifier in identifiers)
                Check(Call(h => action(h, identifier)), what);
        }

        private static uint[] ParsePins(string text, string what)
        {
            var ids = new uint[2];
            UIntPtr count;
            var reason = new byte[256];
            if (Native.tav_parse_pins(Native.Utf8(text, "pins"), ids, out count, reason, (UIntPtr)reason.Length) != Native.OK)
                throw new TavException(TavException.Invalid, what + ": " + Native.Text(reason));
            var parsed = new uint[(int)count];
            Array.Copy(ids, parsed, parsed.Length);
            return parsed;
        }

        private static uint Duty(string text, string what)
        {
            uint counts;
            var reason = new byte[256];
            if (Native.tav_parse_duty(Native.Utf8(text, "duty"), out counts, reason, (UIntPtr)reason.Length) != Native.OK)
                throw new TavException(TavException.Invalid, what + ": " + Native.Text(reason));
            return counts;
        }

        // A channel the group has (channels count from 1; group A has 3, B and C 4), or why not.
        private static void CheckChannel(byte group, int channel, string what)
        {
            int count = Native.tav_pwm_channel_count(group);
            if (channel < 1 || channel > count)
                throw new TavException(TavException.Invalid, what + ": group " + (char)group + " has channels 1 to " + count +
                                                             ", not " + channel);
        }

        private static byte Group(char group, string what)
        {
            byte letter;
            var reason = new byte[256];
            if (Native.tav_parse_pwm_group(Native.Utf8(group.ToString(), "group"), out letter, reason, (UIntPtr)reason.Length) != Native.OK)
                throw new TavException(TavException.Invalid, what + ": " + Native.Text(reason));
            return letter;
        }
    }

    // tav_board* with the C lifetime rules: tav_close (the safe state) or
    // tav_release (left as it is) frees it once no call runs on it; a board
    // never closed is released when it is collected, never left claimed.
    internal sealed class BoardHandle : SafeHandle
    {
        internal bool SafeState;

        internal BoardHandle(IntPtr board) : base(IntPtr.Zero, true)
        {
            SetHandle(board);
        }

        public override bool IsInvalid => handle == IntPtr.Zero;

        protected override bool ReleaseHandle()
        {
            if (SafeState)
                Native.tav_close(handle);
            else
                Native.tav_release(handle);
            return true;
        }
    }

    // tav_sim_edge as tav.h lays it out.
    [StructLayout(LayoutKind.Sequential)]
    internal struct NativeEdge
    {
        public ulong TimeNs;
        public int Level;
    }

    internal static class Native
    {
        // tav.dll on Windows, libtav.so on Linux (libtav.so.1 through its link, or a dllmap).
        private const string Lib = "tav";
        internal static readonly int OK = Constant("TAV_OK");

        // C's long is 64 bits on 64-bit Linux and 32 bits on Windows: the value
        // lands in the low bytes of a 64-bit buffer either way (little-endian),
        // and every constant fits an int.
        internal static int Constant(string name)
        {
            var value = new long[1];
            if (tav_constant(Encoding.ASCII.GetBytes(name + "\0"), value) != 0)
                throw new InvalidOperationException("libtav does not know " + name + ": an older library than Tav.cs");
            return unchecked((int)value[0]);
        }

        internal static byte[] Utf8(string text, string what)
        {
            if (text == null)
                throw new TavException(TavException.Invalid, what + " is null");
            if (text.IndexOf('\0') >= 0)
                throw new TavException(TavException.Invalid, what + " holds a NUL character");
            var bytes = Encoding.UTF8.GetBytes(text);
            Array.Resize(ref bytes, bytes.Length + 1);
            return bytes;
        }

        internal static string Text(byte[] buffer)
        {
            int length = Array.IndexOf(buffer, (byte)0);
            return Encoding.UTF8.GetString(buffer, 0, length < 0 ? buffer.Length : length);
        }

        internal static string Text(IntPtr text)
        {
            if (text == IntPtr.Zero)
                return "";
            int length = 0;
            while (Marshal.ReadByte(text, length) != 0)
                ++length;
            var bytes = new byte[length];
            Marshal.Copy(text, bytes, 0, length);
            return Encoding.UTF8.GetString(bytes);
        }

        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int tav_constant(byte[] name, long[] value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern IntPtr tav_strerror(int code);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern IntPtr tav_version();
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern uint tav_pwm_full_scale();
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int tav_open(byte[] selector, out IntPtr board);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern void tav_close(IntPtr board);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern void tav_release(IntPtr board);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern byte tav_model(IntPtr board);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int tav_firmware(IntPtr board, byte[] text, UIntPtr size);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int tav_init(IntPtr board, uint value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int tav_safe(IntPtr board);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int tav_pin_output(IntPtr board, uint pins);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int tav_pin_input(IntPtr board, uint pins);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int tav_pin_float(IntPtr board, uint pins);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int tav_pin_set(IntPtr board, uint pins);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int tav_pin_reset(IntPtr board, uint pins);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int tav_pin_write(IntPtr board, uint pins, int value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int tav_pwm_start(IntPtr board, byte group, int divider, uint[] duties, UIntPtr count);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int tav_pwm_set(IntPtr board, byte group, uint channel, uint duty);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int tav_pwm_stop(IntPtr board);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int tav_pwm_channel_count(byte group);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int tav_sim_status(IntPtr board, byte[] text, UIntPtr size);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int tav_pwm_stop_group(IntPtr board, byte group);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int tav_pwm_start_hz(IntPtr board, byte group, double hz, double[] dutyPercent, UIntPtr count, out double actualHz);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int tav_pwm_set_percent(IntPtr board, byte group, uint channel, double percent);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int tav_pwm_set_pulse(IntPtr board, byte group, uint channel, double microseconds);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int tav_pin_input_pull(IntPtr board, uint pins, int pull);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int tav_pin_output_open_drain(IntPtr board, uint pins);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int tav_sim_unplug(IntPtr board);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int tav_sim_plug(IntPtr board);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int tav_sim_fail(IntPtr board, int kind, uint afterRecords);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int tav_sim_edges(IntPtr board, uint pin, [Out] NativeEdge[] edges, UIntPtr capacity);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int tav_connected(IntPtr board);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int tav_parse_pins(byte[] text, uint[] ids, out UIntPtr count, byte[] reason, UIntPtr reasonSize);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int tav_parse_pwm_group(byte[] text, out byte group, byte[] reason, UIntPtr reasonSize);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int tav_parse_pwm_divider(byte[] text, out int divider, byte[] reason, UIntPtr reasonSize);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern IntPtr tav_open_problem();
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int tav_parse_selector(byte[] text, byte[] reason, UIntPtr reasonSize);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int tav_parse_duty(byte[] text, out uint counts, byte[] reason, UIntPtr reasonSize);
    }
}
