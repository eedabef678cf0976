#!/bin/sh
# What the pins did, as a waveform: the virtual board in virtual time runs
# blink.tav and writes blink.vcd (GTKWave, PulseView) and blink.svg.
cd "$(dirname "$0")" || exit 1
tavctl --sim --virtual-time --vcd "${1:-blink.vcd}" --svg "${2:-blink.svg}" run blink.tav
