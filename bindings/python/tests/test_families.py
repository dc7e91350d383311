"""One scenario per family against the virtual terminal over a pseudo-terminal: what an
application sees (values, exceptions with code and text, handler deliveries) and the
bytes the terminal received."""

from __future__ import annotations

import gc
import subprocess
import threading
import time

import pytest

import vantorel

SWIPE = '"%B4000123412341234^TEST/CARD^2512101?" ;4000123412341234=2512101?'


def test_device_open_by_path_and_by_number_query_and_refusals(open_terminal, terminal_program):
    terminal, vterm = open_terminal("wait led\nrefuse 1 EC\nwait tone\nframes\n")
    assert (terminal.version(), terminal.serial_number(), terminal.model_number()) == (
        "VT 2.04",
        "VT000001",
        "VT-3910",
    )
    terminal.led(1, 2)
    with pytest.raises(vantorel.VantorelError) as refused:
        terminal.tone(440, 100)
    assert refused.value.code == vantorel.ReturnCode.STATUS_EC and refused.value.export
    with pytest.raises(vantorel.VantorelError) as again:
        vantorel.Terminal.serial(vterm.link)
    assert again.value.code == vantorel.ReturnCode.ALREADY_OPEN
    terminal.close()
    assert vterm.frames()[-5:] == [
        bytes.fromhex("784601"),
        bytes.fromhex("784602"),
        bytes.fromhex("784620"),
        bytes.fromhex("76460146"),
        bytes.fromhex("7B4602B8016400"),
    ]
    # A COM number mapped to the device, closed by the with block.
    second = terminal_program("")
    vantorel.native.lib.Brixa_MapPort(7, second.link.encode())
    with vantorel.Terminal.serial(7) as by_number:
        assert by_number.model_number() == "VT-3910"
    with pytest.raises(vantorel.VantorelError) as closed:
        by_number.version()
    assert closed.value.code == vantorel.ReturnCode.NOT_OPEN


def test_drawing_sends_the_commands_and_refuses_off_screen(open_terminal):
    terminal, vterm = open_terminal("wait 8A/52\nframes\n")
    display = terminal.display
    display.line(0, 0, 319, 239)
    display.text(10, 20, "Total 12.50")
    with pytest.raises(vantorel.VantorelError) as refused:
        display.rectangle(0, 0, 320, 10)
    assert refused.value.code == vantorel.ReturnCode.INVALID_ARGUMENT
    display.backlight = 150
    assert display.backlight == 150
    assert vterm.frames()[-4:] == [
        bytes.fromhex("8A4611 0000 0000 3F01 EF00".replace(" ", "")),
        bytes.fromhex("8A464F 0A00 1400 0B00") + b"Total 12.50",
        bytes.fromhex("8A53800196"),
        bytes.fromhex("8A5280"),
    ]


def test_capture_delivers_the_drawn_points_and_stops_from_another_thread(open_terminal):
    terminal, vterm = open_terminal(
        "wait capture-start\nsign 100,200 110,210 / 500,600\necho drawn\nwait capture-exit\n"
        "wait capture-start\nsign 5,5\n"
    )
    runs = []

    def on_points(points):
        runs.append(points)
        gc.collect()  # the handler handed to the library must survive a collection

    capture = terminal.capture(on_points)
    vterm.wait_for("drawn")
    deadline = time.monotonic() + 10
    while len(capture.points) < 5 and time.monotonic() < deadline:
        time.sleep(0.05)
    stopper = threading.Thread(target=capture.stop)
    stopper.start()
    stopper.join(15)
    assert not capture.running
    assert capture.points == [(100, 200), (110, 210), vantorel.PEN_UP, (500, 600), vantorel.PEN_UP]
    assert sum(runs, []) == capture.points

    # A handler that raises: the capture goes on, stop() raises what it raised.
    def broken(points):
        raise KeyError("from the handler")

    with pytest.raises(KeyError, match="from the handler"):
        with terminal.capture(broken) as failing:
            while not failing.points and time.monotonic() < deadline + 10:
                time.sleep(0.05)


def test_secure_reading_hands_over_card_and_key_and_refuses_a_capture(open_terminal):
    terminal, vterm = open_terminal(f"wait secure-on\nswipe {SWIPE}\nwait key-poll\npinkey enter\n")
    reads = []
    with terminal.secure_reading(reads.append) as reading:
        deadline = time.monotonic() + 10
        while len(reads) < 2 and time.monotonic() < deadline:
            time.sleep(0.05)
        with pytest.raises(vantorel.VantorelError) as busy:
            terminal.capture().stop()
        assert busy.value.code == vantorel.ReturnCode.SECURE_HEAD_ACTIVE
    assert not reading.running
    assert sorted(read.kind for read in reads) == ["key", "tracks"]
    card = next(read for read in reads if read.kind == "tracks")
    assert b"4000123412341234" in card.data
    assert [read.key for read in reads if read.kind == "key"] == [vantorel.KEY_ENTER]
    shown = f"{reads} {card.data} {card.data!r} {str(card.data)}"
    assert "4000" not in shown and "length=" in shown


def test_reader_settings_read_and_write(open_terminal):
    terminal, vterm = open_terminal("wait 73/53/1D\nframes\n")
    reader = terminal.reader
    before = reader.decoding
    reader.decoding = "3"
    assert (before, reader.decoding) == ("0", "3")
    with pytest.raises(vantorel.VantorelError) as refused:
        reader.decoding = "9"
    assert refused.value.code == vantorel.ReturnCode.INVALID_ARGUMENT
    assert len(reader.all_settings()) > 0
    assert bytes.fromhex("73531D0133") in vterm.frames()


def test_manual_entry_returns_the_keyed_card_as_a_secret(open_terminal):
    terminal, _ = open_terminal("manual card 4000123412341234=2512\n")
    card = terminal.manual_entry(lines=["Key the card"])
    assert b"4000123412341234=2512" in card
    assert "4000" not in f"{card} {card!r}"


def test_pin_pad_block_timeout_key_and_rsa_numeric(open_terminal, tmp_path):
    pem = tmp_path / "key.pem"
    subprocess.run(
        ["openssl", "genrsa", "-traditional", "-out", str(pem), "1024"],
        check=True,
        capture_output=True,
    )
    terminal, _ = open_terminal(
        f"pubkey {pem}\nentry default 200\nentry hold\nentry digits 1250 200\npinkey enter\n"
    )
    block = terminal.pin_block(lower=4, upper=12, lines=["Enter PIN"])
    assert len(block) >= 8 and "secret" in repr(block)
    started = time.monotonic()
    with pytest.raises(vantorel.EntryTimeout) as timed_out:
        terminal.pin_block(timeout=1.0)
    assert 1.0 <= time.monotonic() - started < 4.0
    assert timed_out.value.code == vantorel.ReturnCode.STATUS_18
    key = vantorel.rsa_key_from_pem(pem.read_bytes())
    answer = terminal.numeric(key, lines=["Amount"])
    assert answer.digits == b"1250"
    assert terminal.key() == "ENTER"


def test_rsa_key_reads_pkcs1_and_pkcs8_alike(tmp_path):
    pkcs1 = tmp_path / "pkcs1.pem"
    subprocess.run(
        ["openssl", "genrsa", "-traditional", "-out", str(pkcs1), "768"],
        check=True,
        capture_output=True,
    )
    pkcs8 = subprocess.run(
        ["openssl", "pkcs8", "-topk8", "-nocrypt", "-in", str(pkcs1)],
        check=True,
        capture_output=True,
    ).stdout
    one, eight = vantorel.rsa_key_from_pem(pkcs1.read_bytes()), vantorel.rsa_key_from_pem(pkcs8)
    assert one.bits == 768 and bytes(one) == bytes(eight)
    assert bytes(one.modulus)[:32] == bytes(32)  # right-aligned in its 128 bytes
    with pytest.raises(ValueError):
        vantorel.rsa_key_from_pem(b"-----BEGIN PUBLIC KEY-----\nAAAA\n-----END PUBLIC KEY-----")
