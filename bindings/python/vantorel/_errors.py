"""Return codes, the exception that carries them, and bytes that never show themselves."""

from __future__ import annotations

import enum
from typing import Optional


class ReturnCode(enum.IntEnum):
    """The one-byte result of every export."""

    FAILURE = 0
    SUCCESS = 1
    INVALID_ARGUMENT = 99
    STATUS_EC = 100
    STATUS_6A_EE = 101
    STATUS_C1_ED = 102
    STATUS_81 = 103
    STATUS_E8 = 104
    STATUS_18 = 105
    STATUS_19 = 106
    STATUS_03 = 107
    STATUS_04 = 108
    STATUS_05 = 109
    STATUS_0D = 110
    ALREADY_OPEN = 200
    NOT_OPEN = 201
    PIN_ENTRY_ACTIVE = 202
    SECURE_HEAD_ACTIVE = 204
    CAPTURE_ACTIVE = 205
    ENCRYPTED_ENTRY_ACTIVE = 207


class VantorelError(Exception):
    """An export returned something other than success.

    ``code`` is the export's return code, ``text`` the library's one line on why (never
    card data, keys, PIN blocks or entered digits), ``export`` the export's name.
    """

    def __init__(self, code: int, text: str, export: Optional[str] = None) -> None:
        self.code = int(code)
        self.text = text
        self.export = export
        where = f"{export}: " if export else ""
        super().__init__(f"{where}{text} (code {self.code})")


class EntryTimeout(VantorelError, TimeoutError):
    """An entry that ran past its time-out and was cancelled; ``code`` is how it ended."""


class SecretBytes(bytes):
    """Bytes that show only their length when printed, logged or formatted: card data,
    PIN blocks, entered digits. The bytes themselves are there for whoever needs them."""

    def __repr__(self) -> str:
        return f"<secret: {len(self)} bytes>"

    __str__ = __repr__

    def __format__(self, format_spec: str) -> str:
        return format(repr(self), format_spec)
