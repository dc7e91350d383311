#!/usr/bin/env python3
"""A numeric entry whose prompt is protected with the application's RSA key.

    python3 numeric_rsa.py [PORT] [KEY.pem]   (else $VANTOREL_PORT and $VANTOREL_RSA_KEY)

PIN_GetNumericOrAmount passes the prompt through the private key (up to 1024 bits,
unencrypted PEM, PKCS #1 or #8); the terminal holds the public half. The digits are
secret: only their count is printed.
"""
import os
import sys

import vantorel


def main():
    port = sys.argv[1] if len(sys.argv) > 1 else os.environ.get("VANTOREL_PORT", "1")
    key_file = sys.argv[2] if len(sys.argv) > 2 else os.environ["VANTOREL_RSA_KEY"]
    with open(key_file, "rb") as pem:
        key = vantorel.rsa_key_from_pem(pem.read())
    with vantorel.Terminal.serial(int(port) if port.isdigit() else port) as terminal:
        answer = terminal.numeric(key, lower=4, upper=10, lines=["Enter the number"], timeout=60)
    print(f"entered {len(answer.digits)} digits")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except vantorel.VantorelError as error:
        print(f"failed: {error}", file=sys.stderr)
        sys.exit(1)
