"""Every export of the DLL's module definition is declared here as the C header declares
it: same name, same argument count and types, same result; the records have the header's
sizes and offsets."""

from __future__ import annotations

import ctypes
import re
import struct

import pytest

from conftest import ROOT

import vantorel
from vantorel import native

HEADER = (ROOT / "include" / "vantorel.h").read_text()
DEF_NAMES = re.findall(
    r"^\s+(\w+) = \w+@\d+ @\d+", (ROOT / "exports" / "vantorel.def").read_text(), re.M
)

_u8p = ctypes.POINTER(ctypes.c_ubyte)
# What each C parameter or result type of the header is in ctypes.
C_TYPES = {
    "unsigned char": ctypes.c_ubyte,
    "char": ctypes.c_char,
    "int": ctypes.c_int,
    "unsigned int": ctypes.c_uint,
    "const char*": ctypes.c_char_p,
    "char*": ctypes.c_char_p,
    "unsigned char*": _u8p,
    "const unsigned char*": _u8p,
    "int*": ctypes.POINTER(ctypes.c_int),
    "unsigned int*": ctypes.POINTER(ctypes.c_uint),
    "void*": ctypes.c_void_p,
    "VantorelPointHandler": native.PointHandler,
    "VantorelDataHandler": native.DataHandler,
    "PinEntryRequest": native.PinEntryRequest,
    "ManualEntryRequest": native.ManualEntryRequest,
    "RsaPrivateKey": native.RsaPrivateKey,
}


def header_exports():
    """{name: (result type, [parameter types])} from the header's declarations."""
    found = {}
    pattern = r"VANTOREL_API\s+([\w\s\*]+?)\s*VANTOREL_CALL\s+(\w+)\(([^)]*)\)\s*VANTOREL_NOEXCEPT;"
    for result, name, parameters in re.findall(pattern, HEADER):
        types = []
        for parameter in parameters.split(","):
            parameter = " ".join(parameter.split())
            if parameter in ("", "void"):
                continue
            declared = re.match(r"(.*?)\s*\b\w+$", parameter).group(1)
            types.append(re.sub(r"\s*\*", "*", declared))
        found[name] = (re.sub(r"\s*\*", "*", " ".join(result.split())), types)
    return found


HEADER_EXPORTS = header_exports()
DECLARED = {name: (result, list(arguments)) for name, result, arguments in native.PROTOTYPES}


def test_the_def_file_the_header_and_the_declarations_name_the_same_exports():
    assert len(DEF_NAMES) == 91
    assert sorted(HEADER_EXPORTS) == sorted(DEF_NAMES)
    assert [name for name, _, _ in native.PROTOTYPES] == DEF_NAMES


@pytest.mark.parametrize("name", DEF_NAMES)
def test_export_is_declared_as_the_header_declares_it(name):
    c_result, c_parameters = HEADER_EXPORTS[name]
    result, arguments = DECLARED[name]
    assert result is C_TYPES[c_result]
    assert arguments == [C_TYPES[t] for t in c_parameters], c_parameters
    function = getattr(native.lib, name)
    assert function.argtypes == arguments and function.restype is result


def pinned_layouts():
    """The header's static asserts for this pointer size: (record, field or None, value)."""
    wide = struct.calcsize("P") == 8
    pinned = HEADER[HEADER.index("Record layouts, pinned") :]
    common, _, rest = pinned.partition("#if defined(__SIZEOF_POINTER__)")
    sixty_four, _, thirty_two = rest.partition("#else")
    scoped = common + (sixty_four if wide else thirty_two.partition("#endif")[0])
    found = [
        (record, None, int(size))
        for record, size in re.findall(r"STATIC_ASSERT\(sizeof\((\w+)\) == (\d+)", scoped)
    ]
    found += [
        (record, field, int(offset))
        for record, field, offset in re.findall(r"offsetof\((\w+), (\w+)\) == (\d+)", scoped)
    ]
    return found


@pytest.mark.parametrize("record, field, value", pinned_layouts())
def test_record_layout_matches_the_header(record, field, value):
    cls = getattr(native, record)
    assert (ctypes.sizeof(cls) if field is None else getattr(cls, field).offset) == value


@pytest.mark.parametrize(
    "call, code",
    [
        (lambda: vantorel.Terminal().version(), 201),
        (lambda: vantorel.Terminal.serial(101), 99),
        (lambda: vantorel.Terminal.serial("/dev/ttyS0", baud=1234), 99),
        (lambda: vantorel.set_timing(7), 99),
        (lambda: vantorel.Terminal.hid(0x0ACD, 0x0001), 0),
    ],
    ids=["no connection", "port 101", "baud 1234", "timing profile 7", "no such HID device"],
)
def test_a_failed_export_raises_its_code_and_the_reason(call, code):
    with pytest.raises(vantorel.VantorelError) as raised:
        call()
    assert raised.value.code == code
    assert raised.value.text == vantorel.last_error()[1] and raised.value.text
    assert vantorel.last_error()[0] == code
