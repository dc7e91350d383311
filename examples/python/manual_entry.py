#!/usr/bin/env python3
"""Manual card entry: the cardholder keys the card on the PIN pad.

    python3 manual_entry.py [PORT]     (PORT: a COM number or a device path; else $VANTOREL_PORT)

The keyed card data are secret: only their length is printed.
"""
import os
import sys

import vantorel


def main():
    port = sys.argv[1] if len(sys.argv) > 1 else os.environ.get("VANTOREL_PORT", "1")
    with vantorel.Terminal.serial(int(port) if port.isdigit() else port) as terminal:
        # mode 1, kind 3: the terminal returns the keyed data.
        card = terminal.manual_entry(mode=1, kind=3, lines=["Key the card number"], timeout=120)
    print(f"card keyed: {len(card)} bytes")
    return 0 if card else 1


if __name__ == "__main__":
    try:
        sys.exit(main())
    except vantorel.VantorelError as error:
        print(f"failed: {error}", file=sys.stderr)
        sys.exit(1)
