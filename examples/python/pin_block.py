#!/usr/bin/env python3
"""A PIN block entry with a time-out.

    python3 pin_block.py [PORT] [SECONDS]
    (PORT: a COM number or a device path; else $VANTOREL_PORT)

After SECONDS (default 30) another thread cancels the entry (PIN_CancelPIN) and the call
raises vantorel.EntryTimeout. Only the outcome is printed, never the PIN block.
"""
import os
import sys

import vantorel

ACCOUNT = "4000123412341234"  # the card's account number, 16 digits (or "")


def main():
    port = sys.argv[1] if len(sys.argv) > 1 else os.environ.get("VANTOREL_PORT", "1")
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 30.0
    with vantorel.Terminal.serial(int(port) if port.isdigit() else port) as terminal:
        try:
            block = terminal.pin_block(
                ACCOUNT, lower=4, upper=12, lines=["Enter your PIN"], timeout=seconds
            )
        except vantorel.EntryTimeout as timed_out:
            print(
                f"no PIN within {seconds:g} s: cancelled, code {timed_out.code} ({timed_out.text})"
            )
            return 0
        except vantorel.VantorelError as error:
            print(f"PIN entry ended: code {error.code} ({error.text})")
            return 0
        # Hand the block to the payment host here; it prints as <secret: N bytes>.
        print(f"PIN block received: {block}")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except vantorel.VantorelError as error:
        print(f"failed: {error}", file=sys.stderr)
        sys.exit(1)
