#!/usr/bin/env python3
"""Secure reading: swipe cards and press keys on the PIN pad until Enter or Cancel.

    python3 secure_reading.py [PORT]     (PORT: a COM number or a device path; else $VANTOREL_PORT)

Reading runs on a thread of its own; the main thread switches it off. Card data are
secret: only their kind and length are printed.
"""
import os
import sys
import threading

import vantorel


def main():
    port = sys.argv[1] if len(sys.argv) > 1 else os.environ.get("VANTOREL_PORT", "1")
    finished = threading.Event()
    cards = []

    def on_read(read):  # runs on the reading thread
        if read.kind == "key":
            print("key", {1: "cancel", 2: "backspace", 3: "enter"}.get(read.key, read.key))
            if read.key in (vantorel.KEY_ENTER, vantorel.KEY_CANCEL):
                finished.set()
        else:
            cards.append(read.data)  # kept for the payment; never printed or logged
            print(f"card: {read.kind}, {len(read.data)} bytes")

    with vantorel.Terminal.serial(int(port) if port.isdigit() else port) as terminal:
        reading = terminal.secure_reading(on_read)
        print("swipe a card, then press Enter")
        finished.wait(60)
        reading.stop()  # from the main thread: MSR_DisableSecureHead
    print(f"reading stopped: {len(cards)} card(s)")
    return 0 if cards else 1


if __name__ == "__main__":
    try:
        sys.exit(main())
    except vantorel.VantorelError as error:
        print(f"failed: {error}", file=sys.stderr)
        sys.exit(1)
