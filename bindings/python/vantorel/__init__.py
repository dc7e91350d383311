"""Drive the payment terminal (signature pad, card reader, PIN pad) from Python.

    import vantorel
    with vantorel.Terminal.serial("/dev/ttyUSB0") as terminal:
        print(terminal.version())

Every export of the C library is also declared, as it is, in ``vantorel.native.lib``.
"""

from . import _native as native
from ._errors import EntryTimeout, ReturnCode, SecretBytes, VantorelError
from ._rsa import rsa_key, rsa_key_from_pem
from ._terminal import (
    KEY_BACKSPACE,
    KEY_CANCEL,
    KEY_ENTER,
    PATH_PORT,
    PEN_UP,
    PRODUCT_ID,
    TIMING_PROMPT,
    TIMING_STANDARD,
    VENDOR_ID,
    Capture,
    CardRead,
    Display,
    NumericAnswer,
    Point,
    Prompt,
    ReaderSettings,
    SecureReading,
    Terminal,
    last_error,
    return_code_text,
    sdk_version,
    set_timing,
)

__version__ = "1.12"

__all__ = [
    "native",
    "EntryTimeout",
    "ReturnCode",
    "SecretBytes",
    "VantorelError",
    "rsa_key",
    "rsa_key_from_pem",
    "KEY_BACKSPACE",
    "KEY_CANCEL",
    "KEY_ENTER",
    "PATH_PORT",
    "PEN_UP",
    "PRODUCT_ID",
    "TIMING_PROMPT",
    "TIMING_STANDARD",
    "VENDOR_ID",
    "Capture",
    "CardRead",
    "Display",
    "NumericAnswer",
    "Point",
    "Prompt",
    "ReaderSettings",
    "SecureReading",
    "Terminal",
    "last_error",
    "return_code_text",
    "sdk_version",
    "set_timing",
]
