"""What the pins did, as a waveform: a virtual board in virtual time writes
blink.vcd (open it in GTKWave or PulseView). A real board reports nothing
back; run any program with TAV_TRACE=run.vcd to see what it sent."""
import tav

with tav.open("sim:T") as board:
    board.use_virtual_time()  # sleeps cost nothing and the file is the same every run
    board.init()
    board.output("P4.8")
    for _ in range(4):
        board.toggle("P4.8")
        board.advance(0.25)
    board.write_vcd("blink.vcd")
    print("wrote blink.vcd")
