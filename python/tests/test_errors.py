"""What goes wrong: result codes, exceptions and the words they carry."""

import ctypes
import os

import pytest

import tav


def test_errors_carry_code_and_library_words():
    with pytest.raises(tav.InvalidArgumentError) as caught:
        tav.open("sim:X")
    assert caught.value.code == -1
    with pytest.raises(tav.NotFoundError) as caught:
        tav.open("usb:250:250")
    assert caught.value.code == -2 and "no board matches the selector" in str(caught.value)
    assert issubclass(tav.AccessError, tav.TavError)
    with tav.open("sim:T") as board:
        with pytest.raises(tav.TavError) as caught:
            board.set(0x80020000)  # bit 17 of bank 8: no such pin on any model
        assert caught.value.code == 64
    with pytest.raises(tav.TavError, match="closed"):
        board.set("P4.0")
    assert tav.version().count(".") == 2


def test_wrong_types_raise_type_error_and_bad_values_invalid_argument():
    """Never a bare ctypes ArgumentError, OverflowError or UnicodeEncodeError,
    and nothing wraps around on its way to C."""
    with tav.open("sim:T") as board:
        before = board.status()
        for call in [lambda: board.init(2 ** 32), lambda: board.init(-1),
                     lambda: board.pwm_start("B", 2 ** 32 + 2), lambda: board.pwm_set("B", 2 ** 32 + 1, "50%"),
                     lambda: board.pwm_start("B", 3), lambda: board.advance(1e300), lambda: board.advance(-1),
                     lambda: board.pwm_set("B", 1, 2 ** 32 + 5), lambda: board.pwm_start("B", 2, [2 ** 32 + 5]),
                     lambda: board.advance(float("nan")), lambda: board.output("P4.8\0junk"),
                     lambda: board.output("P\ud800"), lambda: tav.open("sim:T\0junk"),
                     lambda: board.write_vcd("out\0.vcd")]:
            with pytest.raises(tav.InvalidArgumentError):
                call()
        for call in [lambda: board.pwm_start("B", divider=2.0), lambda: board.pwm_start("B", 2, "1234"),
                     lambda: board.pwm_start("B", 2, 1234), lambda: board.pwm_start(2), lambda: board.init("7"),
                     lambda: board.init(True), lambda: board.advance("1"), lambda: board.output(1.5),
                     lambda: board.output(None), lambda: board.pwm_set("B", 1.0, 0), lambda: tav.open(b"sim:T"),
                     lambda: board.send_record("text"), lambda: tav.describe_record(None)]:
            with pytest.raises(TypeError):
                call()
        assert board.status() == before  # nothing was sent


def test_refusals_carry_the_library_reason():
    with tav.open("sim:T") as board:
        with pytest.raises(tav.InvalidArgumentError, match="divider 3 is not one of 1, 2, 4, 8, 16, 32, 64, 128"):
            board.pwm_start("B", 3)
    with pytest.raises(tav.InvalidArgumentError, match="'sim:X' is not a board selector: .*sim:T, sim:S, sim:C"):
        tav.open("sim:X")


def test_messages_quote_huge_inputs_short():
    with tav.open("sim:T") as board:
        for call in [lambda: tav.open("x" * 1_000_000 + "\0"), lambda: board.output("P4.8" * 250_000 + "\ud800"),
                     lambda: board.init(2 ** 100_000), lambda: board.pwm_set("B", 1, -(2 ** 100_000)),
                     lambda: board.write("P4.8", "high" * 250_000), lambda: board.output("P4.99" * 200_000)]:
            with pytest.raises(tav.InvalidArgumentError) as raised:
                call()
            assert len(str(raised.value)) < 300, str(raised.value)[:300]


def test_the_package_takes_the_headers_constants_from_the_library():
    """Every number tav.h defines is the library's to give (bindings cannot
    read the header), and the package's own uses match it."""
    import ctypes
    import re
    header = os.path.join(os.path.dirname(__file__), "..", "..", "include", "tav", "tav.h")
    with open(header, encoding="utf-8") as text:
        source = text.read()
    defined = dict(re.findall(r"^#define (TAV_[A-Z0-9_]+)\s+\(?(-?(?:0x[0-9A-Fa-f]+|\d+))u?\)?", source, re.M))
    defined.update(re.findall(r"^\s+(TAV_PIN_[A-Z_]+) = (\d+)", source, re.M))
    assert "TAV_E_NOT_VIRTUAL" in defined and "TAV_PIN_NOT_DRIVEN" in defined and len(defined) > 25
    for name, literal in defined.items():
        value = ctypes.c_long()
        assert tav._native._lib.tav_constant(name.encode(), ctypes.byref(value)) == 0, name
        assert value.value == int(literal, 0), name
    assert tav.PWM_DIVIDERS == (1, 2, 4, 8, 16, 32, 64, 128)
    with tav.open("sim:T") as board:
        with pytest.raises(tav.InvalidArgumentError, match="not from 1 to 128"):
            board.pwm_start("A", 256)


def test_a_bad_tav_device_is_named_as_the_cause(monkeypatch):
    monkeypatch.setenv("TAV_DEVICE", "sim:Q")
    for selector in ("", "queued:", "reattach:"):
        with pytest.raises(tav.InvalidArgumentError, match=r"^TAV_DEVICE='sim:Q' is not a board selector: unknown model "
                                                           r"'Q' \(virtual boards: sim:T, sim:S, sim:C\)$"):
            tav.open(selector)
    # The program's own selector wins over TAV_DEVICE, good or bad.
    with tav.open("sim:S") as board:
        assert board.model == "S"
    monkeypatch.setenv("TAV_DEVICE", "sim:C")
    with tav.open() as board:
        assert board.model == "C"


def test_why_nothing_was_found_is_in_the_error(monkeypatch):
    """Where the library knows why no board was found (on Windows: no USB
    library, or one of the other architecture), the exception says it; the
    C calls are stubbed, as this machine has every USB library."""
    problem = b"no USB library found: neither libusb0.dll (libusb-win32) nor libusb-1.0.dll is installed"

    def not_found(_text, _handle):
        return tav._native._constant("TAV_E_NOT_FOUND")

    monkeypatch.setattr(tav._native._lib, "tav_open", not_found)
    monkeypatch.setattr(tav._native._lib, "tav_open_problem", lambda: problem)
    with pytest.raises(tav.NotFoundError) as raised:
        tav.open("usb:1:5")
    assert str(raised.value.message) == ("cannot open 'usb:1:5': no board matches the selector: no USB library found: "
                                         "neither libusb0.dll (libusb-win32) nor libusb-1.0.dll is installed")
    monkeypatch.setattr(tav._native._lib, "tav_open_problem", lambda: None)
    with pytest.raises(tav.NotFoundError, match=r"^cannot open 'usb:1:5': no board matches the selector$"):
        tav.open("usb:1:5")


def test_result_codes_are_an_int_enum_of_the_library_values():
    names = ["OK", "NOT_OPEN", "IO_FAILED", "BAD_PIN", "PIN_UNAVAILABLE", "E_INVALID", "E_NOT_FOUND", "E_ACCESS",
             "E_NOT_VIRTUAL"]
    assert [member.name for member in tav.Result] == names
    for name in names:
        value = ctypes.c_long()
        assert tav._native._lib.tav_constant(f"TAV_{name}".encode(), ctypes.byref(value)) == 0
        assert tav.Result[name] == value.value
    # What the library returns arrives as a member; a number it never returns stays a number.
    with pytest.raises(tav.NotFoundError) as missing:
        tav.open("usb:250:250")
    assert missing.value.code is tav.Result.E_NOT_FOUND
    board = tav.open("sim:T")
    board.close()
    with pytest.raises(tav.TavError) as closed:
        board.init()
    assert closed.value.code is tav.Result.NOT_OPEN and closed.value.code == 2
    assert tav.TavError(-77).code == -77 and not isinstance(tav.TavError(-77).code, tav.Result)
