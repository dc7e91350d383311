"""The C exports as ctypes declares them: records, handler types and one prototype each.

Everything here mirrors include/vantorel.h one to one; the idiomatic layer lives in
vantorel._terminal. Applications that need an export exactly as it is call it through
``vantorel.native.lib``.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import sys
from ctypes import (
    POINTER,
    Structure,
    c_char,
    c_char_p,
    c_int,
    c_ubyte,
    c_uint,
    c_ushort,
    c_void_p,
)
from pathlib import Path
from typing import Any, List, Optional, Sequence, Tuple

# The 32-bit Windows DLL is stdcall; everywhere else the platform's C convention.
if sys.platform == "win32":
    _Library = ctypes.WinDLL  # type: ignore[attr-defined]
    _FunctionType = ctypes.WINFUNCTYPE  # type: ignore[attr-defined]
else:
    _Library = ctypes.CDLL
    _FunctionType = ctypes.CFUNCTYPE

#: The point handler: (const int* values, int count, void* context).
PointHandler = _FunctionType(None, POINTER(c_int), c_int, c_void_p)
#: The card-data handler: (const unsigned char* data, int count, int context).
DataHandler = _FunctionType(None, POINTER(c_ubyte), c_int, c_int)


class PromptLine(Structure):
    """One line of text for the display during an entry."""

    _fields_ = [
        ("attributes", c_ubyte * 13),
        ("x", c_int),
        ("y", c_int),
        ("text", c_char_p),
    ]


class PinEntryRequest(Structure):
    """The request of the PIN-pad entries."""

    _fields_ = [
        ("result", POINTER(c_ubyte)),
        ("resultLength", POINTER(c_int)),
        ("mode", c_ubyte),
        ("upperBound", c_ubyte),
        ("lowerBound", c_ubyte),
        ("accountNumber", c_char_p),
        ("selector", c_ubyte),
        ("optionBytes", c_ubyte * 16),
        ("value1", c_int),
        ("value2", c_int),
        ("value3", c_int),
        ("value4", c_int),
        ("flagByte", c_ubyte),
        ("promptLineCount", c_int),
        ("promptLines", PromptLine * 10),
    ]


class ManualEntryRequest(Structure):
    """The request of manual card entry."""

    _fields_ = [
        ("result", POINTER(c_ubyte)),
        ("resultLength", POINTER(c_int)),
        ("mode", c_ubyte),
        ("entryKind", c_ubyte),
        ("upperBound", c_ubyte),
        ("lowerBound", c_ubyte),
        ("selector", c_ubyte),
        ("optionBytes", c_ubyte * 16),
        ("value1", c_int),
        ("value2", c_int),
        ("value3", c_int),
        ("value4", c_int),
        ("flagByte", c_ubyte),
        ("promptLineCount", c_int),
        ("promptLines", PromptLine * 10),
    ]


class RsaPrivateKey(Structure):
    """An RSA private key (up to 1024 bits): big-endian numbers right-aligned in fields."""

    _fields_ = [
        ("bits", c_ushort),
        ("modulus", c_ubyte * 128),
        ("publicExponent", c_ubyte * 128),
        ("privateExponent", c_ubyte * 128),
        ("prime1", c_ubyte * 64),
        ("prime2", c_ubyte * 64),
        ("exponent1", c_ubyte * 64),
        ("exponent2", c_ubyte * 64),
        ("coefficient", c_ubyte * 64),
    ]


_u8 = c_ubyte
_u8p = POINTER(c_ubyte)
_ip = POINTER(c_int)
_up = POINTER(c_uint)

#: Every export: (name, result type, argument types), in the order of the DLL's ordinals.
PROTOTYPES: List[Tuple[str, Any, Sequence[Any]]] = [
    ("Brixa_OpenHid", _u8, [c_int, c_int]),
    ("Brixa_OpenPort", _u8, [c_int, c_int, c_char, c_int, c_int]),
    ("Brixa_Close", _u8, []),
    ("Brixa_GetSerialNumber", _u8, [c_char_p, _ip]),
    ("Brixa_SetSerialNumber", _u8, [c_char_p, c_int]),
    ("Brixa_GetVersion", _u8, [c_char_p, _ip]),
    ("Brixa_ControlLED", _u8, [_u8, _u8]),
    ("Brixa_GenerateTone", _u8, [c_int, c_int]),
    ("Brixa_ControlAudio", _u8, [_u8]),
    ("Brixa_GetSdkVersion", _u8, [c_char_p, _ip]),
    ("Brixa_ReSet", _u8, []),
    ("Brixa_GetModelNumber", _u8, [c_char_p, _ip]),
    ("Zelto_SetPenColor", _u8, [_u8] * 7),
    ("Zelto_DrawLine", _u8, [c_int] * 4),
    ("Zelto_DrawRectangle", _u8, [c_int] * 4),
    ("Zelto_DrawArc", _u8, [c_int] * 5),
    ("Zelto_BrushColor", _u8, [_u8] * 3),
    ("Zelto_FillRectangle", _u8, [c_int] * 4),
    ("Zelto_FillArc", _u8, [c_int] * 5),
    ("Zelto_SetFont", _u8, [_u8] * 6),
    ("Zelto_SetTextColor", _u8, [_u8] * 3),
    ("Zelto_SetBackgroundColor", _u8, [_u8] * 3),
    ("Zelto_SelectBackgroundMode", _u8, [_u8]),
    ("Zelto_DrawString", _u8, [c_int, c_int, c_int, c_char_p]),
    ("Zelto_GetPicture", _u8, [c_int] * 4 + [_u8p, c_int, _up]),
    ("Zelto_ShowPicture", _u8, [c_int] * 4 + [_u8p, c_uint]),
    ("Zelto_StorePicture", _u8, [_u8, _u8, _u8p, c_uint]),
    ("Zelto_ShowStorePicture", _u8, [_u8] + [c_int] * 4),
    ("Zelto_RetrieveStorePicture", _u8, [_u8p, _ip]),
    ("Zelto_CalibrateDevice", _u8, []),
    ("Zelto_SetClipArea", _u8, [c_int] * 4 + [_u8] * 4),
    ("Zelto_CreateRegion", _u8, [_u8] * 3 + [c_int] * 5 + [_u8p]),
    ("Zelto_StartCapture", _u8, [_u8] * 8),
    ("Zelto_AddPointHandle", _u8, [PointHandler, c_void_p]),
    ("Zelto_ContinueCapture", _u8, []),
    ("Zelto_PauseCapture", _u8, [_up]),
    ("Zelto_GetPointCount", _u8, [_up]),
    ("Zelto_ClearSignature", _u8, []),
    ("Zelto_ExitCapture", _u8, []),
    ("Zelto_GetSignFormat", _u8, [c_int, _u8p, c_uint, _up]),
    ("Zelto_SetSignFormat", _u8, [c_int, _u8p, c_uint]),
    ("Zelto_DrawStringInRectangle", _u8, [c_int] * 5 + [c_char_p]),
    ("MSR_EnableSecureHead", _u8, []),
    ("MSR_DisableSecureHead", _u8, []),
    ("MSR_GetOutputSetting", _u8, [_u8p]),
    ("MSR_GetDecodingSetting", _u8, [_u8p]),
    ("MSR_SetDecodingSetting", _u8, [_u8]),
    ("MSR_GetAllSettings", _u8, [_u8p, _ip]),
    ("MSR_SetEncryption", _u8, [_u8]),
    ("MSR_SerialNumber", _u8, [_u8p, _ip]),
    ("MSR_GetKeyModel", _u8, [_u8p]),
    ("MSR_SetKeyModel", _u8, [_u8]),
    ("MSR_GetEncryptedData", _u8, [_u8p, _ip]),
    ("MSR_SetEncryptedData", _u8, [_u8p, c_int]),
    ("MSR_LoadDeviceKey", _u8, [_u8p, c_int]),
    ("MSR_GetSecurityLevel", _u8, [_u8p]),
    ("MSR_AddDataHandle", _u8, [DataHandler, c_int]),
    ("MSR_GetMSROutputStatus", _u8, [_u8p]),
    ("MSR_GetSecureHeadFirmware", _u8, [_u8p, _ip]),
    ("MSR_ReviewSecureHeadPrePANID", _u8, [_u8p]),
    ("MSR_ReviewSecureHeadPostPANID", _u8, [_u8p]),
    ("MSR_ReviewSecureHeadMaskPAN", _u8, [_u8p]),
    ("MSR_ReviewKSNAndCountID", _u8, [_u8p, _ip]),
    ("MSR_SetSecureHeadPrePANID", _u8, [_u8]),
    ("MSR_SetSecureHeadPostPANID", _u8, [_u8]),
    ("MSR_SetSecureHeadMaskPAN", _u8, [_u8]),
    ("MSR_SetExpirationData", _u8, [_u8]),
    ("PIN_GetPINBlock", _u8, [PinEntryRequest]),
    ("PIN_CancelPIN", _u8, []),
    ("PIN_GetNumericOrAmount", _u8, [_u8, PinEntryRequest, RsaPrivateKey]),
    ("PIN_GetKey", _u8, [c_char_p, _ip]),
    ("PIN_ClearKey", _u8, []),
    ("PIN_GetCardAccount", _u8, [PinEntryRequest]),
    ("PIN_InvalidateKey", _u8, []),
    ("PIN_GetEncryptedData", _u8, [_u8, PinEntryRequest]),
    ("MSR_GetDataOutputFormat", _u8, [_u8p]),
    ("MSR_SetDataOutputFormat", _u8, [_u8]),
    ("MSR_SetOutputEncryptedFormat", _u8, [_u8]),
    ("MSR_SetEncryptOption", _u8, [_u8] * 4),
    ("MSR_SetHashOption", _u8, [_u8] * 3),
    ("MSR_SetMaskOption", _u8, [_u8] * 3),
    ("MSR_SetDataPINorDataKey", _u8, [_u8]),
    ("MSR_getDataPINorDataKey", _u8, [_u8p]),
    ("MSR_ManualInputCardData", _u8, [ManualEntryRequest]),
    ("Zelto_SetBackLight", _u8, [_u8]),
    ("Zelto_ReviewBackLight", _u8, [_u8p]),
    ("Brixa_MapPort", _u8, [c_int, c_char_p]),
    ("Brixa_ReturnCodeText", c_char_p, [_u8]),
    ("Brixa_GetLastError", _u8, []),
    ("Brixa_GetLastErrorText", c_char_p, []),
    ("Brixa_SetTiming", _u8, [c_int, c_int]),
]

_NAMES = {
    "win32": ["vantorel.dll"],
    "darwin": ["libvantorel.1.dylib", "libvantorel.dylib"],
}.get(sys.platform, ["libvantorel.so.1", "libvantorel.so"])


def library_candidates() -> List[str]:
    """Where the library is looked for, in order: VANTOREL_LIBRARY (a path); next to the
    package (a copy beside it, or the library directory the install recorded); then the
    system's usual search."""
    here = Path(__file__).resolve().parent
    found: List[str] = []
    explicit = os.environ.get("VANTOREL_LIBRARY")
    if explicit:
        found.append(explicit)
    found += [str(here / name) for name in _NAMES]
    try:
        from . import _installed  # type: ignore[attr-defined]  # written by the install

        found += [os.path.normpath(here / _installed.LIBRARY_DIR / name) for name in _NAMES]
    except ImportError:
        pass
    system = ctypes.util.find_library("vantorel")
    if system:
        found.append(system)
    found += _NAMES
    return found


def _load() -> Any:
    explicit = os.environ.get("VANTOREL_LIBRARY")
    errors: List[str] = []
    for candidate in library_candidates():
        is_path = os.sep in candidate or (os.altsep is not None and os.altsep in candidate)
        if is_path and not os.path.exists(candidate):
            if candidate == explicit:
                raise OSError(f"VANTOREL_LIBRARY names {candidate}, which does not exist")
            continue
        try:
            return _Library(candidate)
        except OSError as error:
            if candidate == explicit:
                raise
            errors.append(str(error))
    raise OSError(
        "the vantorel library was not found: set VANTOREL_LIBRARY to its path, or install "
        "it where the system's loader looks (" + "; ".join(errors[-1:]) + ")"
    )


def _declare(library: Any) -> Any:
    for name, result, arguments in PROTOTYPES:
        function = getattr(library, name)
        function.restype = result
        function.argtypes = list(arguments)
    return library


#: The loaded library with every export declared.
lib = _declare(_load())

#: The path the library was loaded from (as the loader was given it).
library_path: Optional[str] = getattr(lib, "_name", None)

__all__: List[str] = [
    "lib",
    "library_path",
    "library_candidates",
    "PROTOTYPES",
    "PointHandler",
    "DataHandler",
    "PromptLine",
    "PinEntryRequest",
    "ManualEntryRequest",
    "RsaPrivateKey",
]
