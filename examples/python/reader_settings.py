#!/usr/bin/env python3
"""Read the card reader's settings and change its decoding setting.

    python3 reader_settings.py [PORT] [DECODING]   (PORT: a COM number or a device path;
                                                     else $VANTOREL_PORT; DECODING '0'-'4')
"""
import os
import sys

import vantorel


def main():
    port = sys.argv[1] if len(sys.argv) > 1 else os.environ.get("VANTOREL_PORT", "1")
    decoding = sys.argv[2] if len(sys.argv) > 2 else "1"
    with vantorel.Terminal.serial(int(port) if port.isdigit() else port) as terminal:
        reader = terminal.reader
        print("secure head firmware:", reader.firmware().decode("latin-1"))
        print("decoding:", reader.decoding)
        print("key model:", reader.key_model)
        print("data output format:", reader.data_output_format)
        reader.decoding = decoding
        print("decoding now:", reader.decoding)
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except vantorel.VantorelError as error:
        print(f"failed: {error}", file=sys.stderr)
        sys.exit(1)
