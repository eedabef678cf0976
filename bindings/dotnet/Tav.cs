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

        /// <summary>The TAV boards on the USB bus (every USB device with all), each opened for a
        /// moment to tell whether it can be and its model, as `tavctl list` shows them.</summary>
        public static Device[] ListBoards(bool all = false)
        {
            int size = Marshal.SizeOf(typeof(NativeDevice));
            for (int capacity = 16; ; )
            {
                var found = new NativeDevice[capacity];
                int count = Native.tav_list_sized(found, (UIntPtr)capacity, all ? 1 : 0, (UIntPtr)size);
                if (count < 0)
                    throw TavException.Of(count, "ListBoards");
                if (count <= capacity)
                {
                    var devices = new Device[count];
                    for (int index = 0; index < count; ++index)
                        devices[index] = new Device(found[index]);
                    return devices;
                }
                capacity = count; // more came in between
            }
        }

        /// <summary>Boards arriving on the USB bus and leaving it, told to callback on a thread of
        /// the library's: first each board already there (Initial), then each change once. The
        /// bus is looked at every intervalMs (10 to 10000; 0: 250). Dispose the watcher to stop.</summary>
        public static Watcher Watch(Action<BoardEvent> callback, int intervalMs = 0)
        {
            if (callback == null)
                throw new TavException(TavException.Invalid, "Watch: no callback");
            if (intervalMs < 0)
                throw new TavException(TavException.Invalid, "Watch: interval " + intervalMs + " ms is negative");
            return new Watcher(callback, (uint)intervalMs);
        }

        // Kept while set: the library calls it from any thread.
        private static Native.LogCallback logCallback;

        /// <summary>Where the library's log lines go (why an open or a transfer failed, its debug
        /// lines): callback(level, text), level 1 error, 2 warning, 3 info, 4 debug; null stops it.</summary>
        public static void SetLogCallback(Action<int, string> callback)
        {
            Native.LogCallback native = null;
            if (callback != null)
                native = (level, text, user) => callback(level, Native.Text(text));
            var previous = logCallback;
            logCallback = native; // before the library may call it
            Native.tav_set_log_callback(native, IntPtr.Zero);
            GC.KeepAlive(previous); // it may run until the library has switched
        }

        /// <summary>The identifiers of the 33 board pins, P4.0 to P4.15 then P8.0 to P8.16.</summary>
        public static uint[] BoardPins()
        {
            var pins = new uint[Native.tav_board_pins(null, UIntPtr.Zero)];
            Native.tav_board_pins(pins, (UIntPtr)pins.Length);
            return pins;
        }
    }

    /// <summary>A USB device as Library.ListBoards() finds it.</summary>
    public sealed class Device
    {
        internal Device(NativeDevice device)
        {
            Selector = Native.Text(device.Selector);
            Bus = device.Bus;
            DeviceNumber = device.Device;
            Vendor = device.Vendor;
            Product = device.Product;
            IsBoard = device.Board != 0;
            Openable = device.Openable != 0;
            Model = (char)device.Model;
            UsbLibrary = Native.Text(device.Library);
            Port = Native.Text(device.Port);
            Queued = device.Queued != 0;
        }

        /// <summary>"usb:1:10", for Board.Open(); "" where no selector reaches it.</summary>
        public string Selector { get; }
        public uint Bus { get; }
        public uint DeviceNumber { get; }
        public ushort Vendor { get; }
        public ushort Product { get; }
        /// <summary>A TAV board.</summary>
        public bool IsBoard { get; }
        /// <summary>It could be opened just now.</summary>
        public bool Openable { get; }
        /// <summary>'T', 'S', 'C', '?' for a board it could open; '\0' otherwise.</summary>
        public char Model { get; }
        /// <summary>The USB library that reaches it: "libusb 0.1", "libusb-win32", "libusb-1.0", "sim".</summary>
        public string UsbLibrary { get; }
        /// <summary>Where it is plugged in ("1-3.2"), for Board.Open("port:1-3.2"); "" where unknown.</summary>
        public string Port { get; }
        /// <summary>Board.Open(Selector) would queue its records (the default where its library can).</summary>
        public bool Queued { get; }
    }

    /// <summary>A TAV board arriving on the USB bus or leaving it (Library.Watch).</summary>
    public sealed class BoardEvent
    {
        internal BoardEvent(bool arrived, bool initial, Device device)
        {
            Arrived = arrived;
            Initial = initial;
            Device = device;
        }

        /// <summary>True: it arrived; false: it left.</summary>
        public bool Arrived { get; }
        /// <summary>One of the boards already there when watching began.</summary>
        public bool Initial { get; }
        /// <summary>The board as ListBoards gives it, not opened: Openable false, Model '\0'.</summary>
        public Device Device { get; }
    }

    /// <summary>A running Library.Watch: Dispose() stops it; no event comes after it returns
    /// (from inside the callback it stops without waiting).</summary>
    public sealed class Watcher : IDisposable
    {
        private readonly Native.WatchCallback callback; // kept: the library calls it until Dispose
        private IntPtr watcher;

        internal Watcher(Action<BoardEvent> told, uint intervalMs)
        {
            int arrived = Native.Constant("TAV_EVENT_ARRIVED");
            callback = (eventPointer, user) =>
            {
                var native = (NativeEvent)Marshal.PtrToStructure(eventPointer, typeof(NativeEvent));
                var device = (NativeDevice)Marshal.PtrToStructure(native.Device, typeof(NativeDevice));
                told(new BoardEvent(native.Kind == arrived, native.Initial != 0, new Device(device)));
            };
            int code = Native.tav_watch(callback, IntPtr.Zero, intervalMs, out watcher);
            if (code != Native.OK)
                throw TavException.Of(code, "Watch");
        }

        public void Dispose()
        {
            IntPtr stopping = System.Threading.Interlocked.Exchange(ref watcher, IntPtr.Zero);
            if (stopping != IntPtr.Zero)
                Native.tav_unwatch(stopping);
        }
    }

    /// <summary>What a board pin does by the records this board object sent (on a virtual board:
    /// what the board does). Known is false for a pin of a real board this object has not set.</summary>
    public sealed class PinState
    {
        internal PinState(uint identifier, NativePinState state, char group, int groupChannel)
        {
            Identifier = identifier;
            Name = Native.Text(state.Name);
            McuPin = Native.Text(state.McuPin);
            Function = Native.PinFunctionName(state.Function);
            Known = state.Known != 0;
            Description = Native.Text(state.Description);
            Group = group;
            Channel = groupChannel;
            FrequencyHz = state.FrequencyHz;
            DutyCounts = state.DutyCounts;
            PeriodCounts = state.PeriodCounts;
            DutyPercent = state.DutyPercent;
        }

        /// <summary>"P4.8".</summary>
        public string Name { get; }
        /// <summary>0x40000100.</summary>
        public uint Identifier { get; }
        /// <summary>"PB8"; "-" where this model has no such pin.</summary>
        public string McuPin { get; }
        /// <summary>"output_high", "floating_input", "pwm", ... as the Python package and tavctl's JSON name them.</summary>
        public string Function { get; }
        public bool Known { get; }
        /// <summary>As Status() shows it.</summary>
        public string Description { get; }
        /// <summary>1 or 0 for an output, null otherwise.</summary>
        public int? Level => Function == "output_high" ? 1 : Function == "output_low" ? (int?)0 : null;
        /// <summary>A PWM pin's group ('A', 'B', 'C') and its channel there (1..4); '\0' and 0 otherwise.</summary>
        public char Group { get; }
        public int Channel { get; }
        public double FrequencyHz { get; }
        public uint DutyCounts { get; }
        public uint PeriodCounts { get; }
        public double DutyPercent { get; }
    }

    /// <summary>A PWM group's state, as this board object set it (on a virtual board: as it runs).</summary>
    public sealed class GroupState
    {
        internal GroupState(NativeGroupState state)
        {
            Known = state.Known != 0;
            Running = state.Running != 0;
            Divider = state.Divider;
            FrequencyHz = state.FrequencyHz;
            FullScale = state.FullScale;
            Prescaler = state.Prescaler;
            Duties = new uint[state.ChannelCount];
            DutyKnown = new bool[state.ChannelCount];
            for (int index = 0; index < Duties.Length; ++index)
            {
                Duties[index] = state.Duty[index];
                DutyKnown[index] = state.DutyKnown[index] != 0;
            }
        }

        public bool Known { get; }
        /// <summary>Its counter runs (group A: and its outputs are on).</summary>
        public bool Running { get; }
        /// <summary>1..128; 0 for a time base none of the dividers sets.</summary>
        public int Divider { get; }
        public double FrequencyHz { get; }
        /// <summary>Steps in one period: the unit of Duties and PwmSet.</summary>
        public uint FullScale { get; }
        public uint Prescaler { get; }
        /// <summary>Each channel's duty in counts (3 for group A, 4 for B and C).</summary>
        public uint[] Duties { get; }
        /// <summary>False where no record of this object set that channel's duty.</summary>
        public bool[] DutyKnown { get; }
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
        /// "usb:BUS:DEV", "port:1-3.2", "sim:T" (a virtual board), with "sync:" (one transfer at a
        /// time; queued is the default) or "reattach:" before it.</summary>
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

        /// <summary>Whether each operation's records go out back to back on the bus (the default)
        /// rather than one transfer at a time ("sync:").</summary>
        public bool Queued => Call(h => Native.tav_queued(h)) == 1;

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

        /// <summary>What one board pin does ("P4.8"), as data.</summary>
        public PinState Pin(string pin)
        {
            uint[] ids = ParsePins(pin, "Pin");
            var singles = new List<uint>();
            foreach (uint boardPin in Library.BoardPins())
                if (ids.Length == 1 && (ids[0] & boardPin) == boardPin)
                    singles.Add(boardPin);
            if (singles.Count != 1)
                throw new TavException(TavException.Invalid, "Pin takes one pin, not '" + pin + "'");
            return PinOf(singles[0]);
        }

        /// <summary>What each of the 33 board pins does, P4.0 to P8.16.</summary>
        public PinState[] Pins()
        {
            uint[] boardPins = Library.BoardPins();
            var states = new PinState[boardPins.Length];
            for (int index = 0; index < boardPins.Length; ++index)
                states[index] = PinOf(boardPins[index]);
            return states;
        }

        private PinState PinOf(uint identifier)
        {
            var state = new NativePinState();
            Check(Call(h => Native.tav_pin_state_get(h, identifier, ref state)), "Pin " + identifier.ToString("x8"));
            byte group = 0;
            int channel = 0;
            if (Native.PinFunctionName(state.Function) == "pwm")
                Check(Native.tav_pin_state_group(ref state, out group, out channel), "Pin " + Native.Text(state.Name));
            return new PinState(identifier, state, (char)group, channel);
        }

        /// <summary>The state of group 'A', 'B' or 'C'.</summary>
        public GroupState Group(char group)
        {
            byte letter = Group(group, "Group");
            var state = new NativeGroupState { Duty = new uint[4], DutyKnown = new int[4] };
            Check(Call(h => Native.tav_pwm_group_state_get_sized(h, letter, ref state,
                                                                  (UIntPtr)Marshal.SizeOf(typeof(NativeGroupState)))),
                  "Group");
            return new GroupState(state);
        }

        /// <summary>Drives the pins to a level: "1", "high" or "on"; "0", "low" or "off".</summary>
        public void Write(string pins, string level)
        {
            int value;
            var reason = new byte[256];
            if (Native.tav_parse_level(Native.Utf8(level, "level"), out value, reason, (UIntPtr)reason.Length) != Native.OK)
                throw new TavException(TavException.Invalid, "Write: " + Native.Text(reason));
            Write(pins, value == 1);
        }

        // Kept while set: the library calls it from its healing thread.
        private Native.ConnectionCallback connectionCallback;

        /// <summary>A "reattach:" board calls callback(false) when it noticed its board gone and
        /// callback(true) once the board is back and its policy applied, on a thread of the
        /// library's; null stops it.</summary>
        public void OnConnection(Action<bool> callback)
        {
            Native.ConnectionCallback native = null;
            if (callback != null)
                native = (board, connected, user) => callback(connected != 0);
            var previous = connectionCallback;
            connectionCallback = native; // before the library may call it
            Check(Call(h => Native.tav_set_connection_callback(h, native, IntPtr.Zero)), "OnConnection");
            GC.KeepAlive(previous); // it may run until the library has switched
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

            /// <summary>Virtual time: the clock that stamps records moves only by Advance (it
            /// restarts at 0); false: it follows real time again.</summary>
            public void UseVirtualTime(bool enabled = true) =>
                Check(board.Call(h => Native.tav_sim_set_virtual_time(h, enabled ? 1 : 0)), "Sim.UseVirtualTime");

            /// <summary>In virtual time: moves the clock on.</summary>
            public void Advance(double seconds)
            {
                if (!(seconds >= 0 && seconds * 1e9 < 1.8e19))
                    throw new TavException(TavException.Invalid, "Sim.Advance: cannot advance by " + seconds + " seconds");
                Check(board.Call(h => Native.tav_sim_advance(h, (ulong)Math.Round(seconds * 1e9))), "Sim.Advance");
            }

            /// <summary>What the pins did, as a VCD file (sigrok, GTKWave).</summary>
            public void WriteVcd(string path) =>
                Check(board.Call(h => Native.tav_sim_write_vcd(h, Native.Utf8(path, "path"))), "Sim.WriteVcd " + path);

            /// <summary>The same as an SVG timing diagram.</summary>
            public void WriteSvg(string path) =>
                Check(board.Call(h => Native.tav_sim_write_svg(h, Native.Utf8(path, "path"))), "Sim.WriteSvg " + path);

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

    // tav_device as tav.h lays it out (tav_list_sized takes its size).
    [StructLayout(LayoutKind.Sequential)]
    internal struct NativeDevice
    {
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = 24)] public byte[] Selector;
        public uint Bus;
        public uint Device;
        public ushort Vendor;
        public ushort Product;
        public int Board;
        public int Openable;
        public byte Model;
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = 16)] public byte[] Library;
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = 32)] public byte[] Port;
        public int Queued;
    }

    // tav_event.
    [StructLayout(LayoutKind.Sequential)]
    internal struct NativeEvent
    {
        public int Kind;
        public int Initial;
        public IntPtr Device;
    }

    // tav_pin_state.
    [StructLayout(LayoutKind.Sequential)]
    internal struct NativePinState
    {
        public int Known;
        public int Function;
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = 8)] public byte[] Name;
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = 8)] public byte[] McuPin;
        public int Timer;
        public int Channel;
        public double FrequencyHz;
        public uint DutyCounts;
        public uint PeriodCounts;
        public double DutyPercent;
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = 112)] public byte[] Description;
    }

    // tav_pwm_group_state (1.2's layout; the library takes its size).
    [StructLayout(LayoutKind.Sequential)]
    internal struct NativeGroupState
    {
        public int Known;
        public int Running;
        public int Divider;
        public double FrequencyHz;
        public uint ChannelCount;
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = 4)] public uint[] Duty;
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = 4)] public int[] DutyKnown;
        public uint FullScale;
        public uint Prescaler;
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

        // tav_pin_function's values by the library: TAV_PIN_PULL_UP_INPUT is "pull_up_input".
        private static readonly Dictionary<int, string> PinFunctions = MakePinFunctions();

        private static Dictionary<int, string> MakePinFunctions()
        {
            var functions = new Dictionary<int, string>();
            foreach (string name in new[] { "debug_port", "analog_input", "floating_input", "pull_down_input", "pull_up_input",
                                            "output_high", "output_low", "pwm", "not_driven" })
                functions[Constant("TAV_PIN_" + name.ToUpperInvariant())] = name;
            return functions;
        }

        internal static string PinFunctionName(int function)
        {
            string name;
            return PinFunctions.TryGetValue(function, out name) ? name : "function " + function;
        }

        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] internal delegate void LogCallback(int level, IntPtr text, IntPtr user);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] internal delegate void WatchCallback(IntPtr tavEvent, IntPtr user);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] internal delegate void ConnectionCallback(IntPtr board, int connected, IntPtr user);

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
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int tav_queued(IntPtr board);
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
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int tav_parse_level(byte[] text, out int level, byte[] reason, UIntPtr reasonSize);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int tav_list_sized([In, Out] NativeDevice[] devices, UIntPtr capacity, int all, UIntPtr deviceSize);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int tav_watch(WatchCallback callback, IntPtr user, uint intervalMs, out IntPtr watcher);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern void tav_unwatch(IntPtr watcher);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern void tav_set_log_callback(LogCallback callback, IntPtr user);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int tav_set_connection_callback(IntPtr board, ConnectionCallback callback, IntPtr user);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int tav_board_pins(uint[] pins, UIntPtr capacity);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int tav_pin_state_get(IntPtr board, uint pin, ref NativePinState state);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int tav_pin_state_group(ref NativePinState state, out byte group, out int channel);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int tav_pwm_group_state_get_sized(IntPtr board, byte group, ref NativeGroupState state, UIntPtr stateSize);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int tav_sim_set_virtual_time(IntPtr board, int enabled);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int tav_sim_advance(IntPtr board, ulong nanoseconds);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int tav_sim_write_vcd(IntPtr board, byte[] path);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int tav_sim_write_svg(IntPtr board, byte[] path);
    }
}
