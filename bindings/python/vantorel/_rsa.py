"""The RSA private key record from numbers or from a PEM file (PKCS #1 or unencrypted
PKCS #8), with a DER reader just large enough for those two layouts."""

from __future__ import annotations

import base64
import re
from typing import List, Tuple

from ._native import RsaPrivateKey

_PEM = re.compile(rb"-----BEGIN ((?:RSA )?PRIVATE KEY)-----(.*?)-----END \1-----", re.S)


def rsa_key(
    modulus: int,
    public_exponent: int,
    private_exponent: int,
    prime1: int,
    prime2: int,
    exponent1: int,
    exponent2: int,
    coefficient: int,
) -> RsaPrivateKey:
    """The key record from the PKCS #1 numbers (a modulus of at most 1024 bits)."""
    bits = modulus.bit_length()
    if bits > 1024:
        raise ValueError(f"the terminal takes keys up to 1024 bits, not {bits}")
    key = RsaPrivateKey()
    key.bits = bits
    for field, value in (
        ("modulus", modulus),
        ("publicExponent", public_exponent),
        ("privateExponent", private_exponent),
        ("prime1", prime1),
        ("prime2", prime2),
        ("exponent1", exponent1),
        ("exponent2", exponent2),
        ("coefficient", coefficient),
    ):
        room = len(getattr(key, field))
        setattr(key, field, type(getattr(key, field)).from_buffer_copy(value.to_bytes(room, "big")))
    return key


def _element(der: bytes, at: int) -> Tuple[int, int, int]:
    """The tag, the content's start and its end of the DER element at `at`."""
    if at + 2 > len(der):
        raise ValueError("truncated key")
    tag, length, at = der[at], der[at + 1], at + 2
    if length & 0x80:
        size = length & 0x7F
        length, at = int.from_bytes(der[at : at + size], "big"), at + size
    if at + length > len(der):
        raise ValueError("truncated key")
    return tag, at, at + length


def _sequence(der: bytes, at: int = 0) -> List[Tuple[int, bytes]]:
    tag, start, end = _element(der, at)
    if tag != 0x30:
        raise ValueError("not a DER sequence")
    items = []
    while start < end:
        tag, content, start = _element(der, start)
        items.append((tag, der[content:start]))
    return items


def rsa_key_from_pem(pem: bytes) -> RsaPrivateKey:
    """The key record from an unencrypted PEM private key ("RSA PRIVATE KEY" or "PRIVATE KEY")."""
    match = _PEM.search(pem)
    if not match:
        raise ValueError("no unencrypted RSA private key in the PEM text")
    der = base64.b64decode(b"".join(match.group(2).split()))
    items = _sequence(der)
    if match.group(1) == b"PRIVATE KEY":  # PKCS #8: version, algorithm, the PKCS #1 key
        if len(items) < 3 or items[2][0] != 0x04:
            raise ValueError("not a PKCS #8 private key")
        items = _sequence(items[2][1])
    numbers = [int.from_bytes(value, "big") for tag, value in items if tag == 0x02]
    if len(numbers) < 9:
        raise ValueError("not a PKCS #1 RSA private key")
    return rsa_key(*numbers[1:9])
