"""The terminal as a Python object: a context manager over the process's one connection,
exceptions instead of return codes, handlers that may be plain Python callables."""

from __future__ import annotations

import ctypes
import itertools
import os
import threading
import time
from ctypes import byref, c_int, c_ubyte, c_uint, c_void_p
from dataclasses import dataclass
from typing import (
    Callable,
    Dict,
    List,
    NamedTuple,
    Optional,
    Sequence,
    Tuple,
    Union,
)

from ._errors import EntryTimeout, SecretBytes, VantorelError
from ._native import (
    DataHandler,
    ManualEntryRequest,
    PinEntryRequest,
    PointHandler,
    PromptLine,
    RsaPrivateKey,
    lib,
)

#: The terminal's USB ids.
VENDOR_ID = 0x0ACD
PRODUCT_ID = 0x3910
#: The COM number Terminal.serial() maps a device path to.
PATH_PORT = 100
#: Timing profiles of set_timing().
TIMING_STANDARD = 0
TIMING_PROMPT = 1
#: The key a key event carries.
KEY_CANCEL, KEY_BACKSPACE, KEY_ENTER = 1, 2, 3
#: The point handler's pen-up mark.
PEN_UP = (-1, -1)

Point = Tuple[int, int]
Byte = Union[int, str]
Text = Union[str, bytes]


def _last_error_text() -> str:
    return (lib.Brixa_GetLastErrorText() or b"").decode("utf-8", "replace")


def _check(code: int, export: str) -> None:
    """Raises the export's failure with the calling thread's last-error text."""
    if code != 1:
        raise VantorelError(code, _last_error_text(), export)


def _call(export: str, *arguments: object) -> None:
    _check(getattr(lib, export)(*arguments), export)


def _byte(value: Byte) -> int:
    """A setting value: an int 0-255 or a one-character string ('0' is 0x30)."""
    if isinstance(value, str):
        if len(value) != 1:
            raise ValueError(f"a setting value is one character, not {value!r}")
        return ord(value)
    return int(value)


def _bytes_of(text: Text) -> bytes:
    return text.encode("latin-1") if isinstance(text, str) else bytes(text)


def _ubytes(data: bytes) -> "ctypes.Array[c_ubyte]":
    return (c_ubyte * max(len(data), 1)).from_buffer_copy(data or b"\0")


def _wipe(buffer: "ctypes.Array[c_ubyte]") -> None:
    ctypes.memset(buffer, 0, ctypes.sizeof(buffer))


def sdk_version() -> str:
    """The library's version ("1.12")."""
    buffer, length = ctypes.create_string_buffer(8), c_int()
    _call("Brixa_GetSdkVersion", buffer, byref(length))
    return buffer.raw[: length.value].decode()


def return_code_text(code: int) -> str:
    """The one-line text of a return code."""
    return lib.Brixa_ReturnCodeText(code).decode()


def last_error() -> Tuple[int, str]:
    """The calling thread's last return code and why."""
    return int(lib.Brixa_GetLastError()), _last_error_text()


def set_timing(profile: int = TIMING_STANDARD, minimum_gap_ms: int = 0) -> None:
    """Chooses the pacing of commands (TIMING_STANDARD or TIMING_PROMPT)."""
    _call("Brixa_SetTiming", profile, minimum_gap_ms)


# ---- Handlers ----------------------------------------------------------------------------
# The library keeps the last registered handler for ever (across captures and connections),
# so one ctypes function per handler type is registered, lives as long as the module, and
# hands each delivery to the Python handler registered under the delivery's context.

_ids = itertools.count(1)
_point_targets: Dict[int, Callable[[ctypes.Array, int], None]] = {}
_data_targets: Dict[int, Callable[[bytes], None]] = {}


@PointHandler
def _point_trampoline(values, count, context):  # type: ignore[no-untyped-def]
    target = _point_targets.get(context or 0)
    if target is not None:
        target(values, count)


@DataHandler
def _data_trampoline(data, count, context):  # type: ignore[no-untyped-def]
    target = _data_targets.get(context)
    if target is not None:
        target(ctypes.string_at(data, count))


class CardRead:
    """One delivery of secure reading: card data or a PIN-pad key. Prints as its kind and
    length only; ``data`` holds the bytes."""

    __slots__ = ("data",)

    def __init__(self, data: bytes) -> None:
        self.data = SecretBytes(data)

    @property
    def kind(self) -> str:
        """ "key" (a key event), "record" (a framed record from the secure head) or "tracks"
        (plain track text)."""
        if len(self.data) == 2 and self.data[0] == 0x7B:
            return "key"
        return "record" if self.data[:1] == b"\x02" else "tracks"

    @property
    def key(self) -> Optional[int]:
        """KEY_CANCEL, KEY_BACKSPACE or KEY_ENTER for a key event, else None."""
        return self.data[1] if self.kind == "key" else None

    def __repr__(self) -> str:
        return f"CardRead(kind={self.kind!r}, length={len(self.data)})"


class _Loop:
    """A long-running export on a thread of its own, stopped from any other thread."""

    export = ""
    stop_export = ""

    def __init__(self) -> None:
        self._id = next(_ids)
        self._done = threading.Event()
        self._code = 1
        self._text = ""
        self._error: Optional[BaseException] = None
        self._thread = threading.Thread(target=self._run, name=self.export, daemon=True)

    def _start_export(self) -> int:
        raise NotImplementedError

    def _run(self) -> None:
        try:
            self._code = self._start_export()
            if self._code != 1:
                self._text = _last_error_text()
        finally:
            self._done.set()

    def _deliver(self, handler: Callable[..., None], *arguments: object) -> None:
        # An exception must not unwind into the library: the first one is kept and raised
        # by stop() or wait().
        try:
            handler(*arguments)
        except BaseException as error:  # noqa: BLE001
            if self._error is None:
                self._error = error

    @property
    def running(self) -> bool:
        return not self._done.is_set()

    def wait(self, timeout: Optional[float] = None) -> bool:
        """Waits until the loop has ended (True) or the time ran out (False); raises what
        ended it badly."""
        if not self._done.wait(timeout):
            return False
        self._finish()
        return True

    def stop(self, timeout: float = 10.0) -> None:
        """Ends the loop and waits for it. The stop command is sent again each second: one
        sent before the loop's start reached the terminal would otherwise be lost."""
        deadline = time.monotonic() + timeout
        while not self._done.is_set():
            getattr(lib, self.stop_export)()
            if self._done.wait(1.0):
                break
            if time.monotonic() > deadline:
                raise VantorelError(0, f"{self.export} did not end", self.stop_export)
        self._finish()

    def _finish(self) -> None:
        self._thread.join()
        self._unregister()
        if self._code != 1:
            raise VantorelError(self._code, self._text, self.export)
        if self._error is not None:
            error, self._error = self._error, None
            raise error

    def _unregister(self) -> None:
        raise NotImplementedError

    def __enter__(self):  # type: ignore[no-untyped-def]
        return self

    def __exit__(self, *exc: object) -> None:
        self.stop()


class Capture(_Loop):
    """A running signature capture. Points go to the handler as lists of (x, y), a pen-up
    being PEN_UP; every point is kept in ``points`` as well. Over HID the pad's events
    (122, region) and (123, key) arrive as two-value runs of their own."""

    export = "Zelto_StartCapture"
    stop_export = "Zelto_ExitCapture"

    def __init__(
        self, on_points: Optional[Callable[[List[Point]], None]], point_format: int, options: bytes
    ) -> None:
        super().__init__()
        self.points: List[Point] = []
        self._on_points = on_points
        self._format = point_format
        self._options = options
        _point_targets[self._id] = self._receive
        _call("Zelto_AddPointHandle", _point_trampoline, c_void_p(self._id))
        self._thread.start()

    def _start_export(self) -> int:
        return lib.Zelto_StartCapture(self._format, *self._options)

    def _receive(self, values: "ctypes.Array[c_int]", count: int) -> None:
        run = [(values[i], values[i + 1]) for i in range(0, count - 1, 2)]
        self.points.extend(run)
        if self._on_points is not None:
            self._deliver(self._on_points, run)

    def _unregister(self) -> None:
        _point_targets.pop(self._id, None)

    def pause(self) -> int:
        """Pauses the capture; returns the pad's 32-bit answer."""
        value = c_uint()
        _call("Zelto_PauseCapture", byref(value))
        return value.value

    def resume(self) -> None:
        _call("Zelto_ContinueCapture")

    def clear(self) -> None:
        """Clears the signature on the pad (and the points kept here)."""
        _call("Zelto_ClearSignature")
        self.points.clear()

    def point_count(self) -> int:
        """The pad's own point count."""
        count = c_uint()
        _call("Zelto_GetPointCount", byref(count))
        return count.value


class SecureReading(_Loop):
    """Running secure reading: each swipe and each Cancel, Backspace or Enter key reaches
    the handler as a CardRead."""

    export = "MSR_EnableSecureHead"
    stop_export = "MSR_DisableSecureHead"

    def __init__(self, on_read: Callable[[CardRead], None]) -> None:
        super().__init__()
        self._on_read = on_read
        # The handler's context is an int, not a pointer: the registry maps it back.
        self._context = self._id & 0x7FFFFFFF
        _data_targets[self._context] = self._receive
        _call("MSR_AddDataHandle", _data_trampoline, self._context)
        self._thread.start()

    def _start_export(self) -> int:
        return lib.MSR_EnableSecureHead()

    def _receive(self, data: bytes) -> None:
        self._deliver(self._on_read, CardRead(data))

    def _unregister(self) -> None:
        _data_targets.pop(self._context, None)


# ---- Entries -----------------------------------------------------------------------------


@dataclass
class Prompt:
    """A line of text shown during an entry; ``attributes`` (13 bytes) go to the terminal
    unchanged."""

    text: Text
    x: int = 0
    y: int = 0
    attributes: bytes = bytes(13)


class NumericAnswer(NamedTuple):
    """A numeric or amount entry's answer: the answer's first data byte and the digits."""

    lead: int
    digits: SecretBytes


def _fill_common(
    record: Union[PinEntryRequest, ManualEntryRequest],
    lines: Sequence[Union[Prompt, Text]],
    selector: int,
    option_bytes: bytes,
    values: Sequence[int],
    flag_byte: int,
) -> List[bytes]:
    if len(lines) > 10:
        raise ValueError("at most 10 prompt lines")
    keep: List[bytes] = []
    record.selector = selector
    record.optionBytes = (c_ubyte * 16).from_buffer_copy(bytes(option_bytes).ljust(16, b"\0"))
    record.value1, record.value2, record.value3, record.value4 = tuple(values)
    record.flagByte = flag_byte
    record.promptLineCount = len(lines)
    for index, line in enumerate(lines):
        prompt = line if isinstance(line, Prompt) else Prompt(line, 0, 24 * index)
        keep.append(_bytes_of(prompt.text))
        target: PromptLine = record.promptLines[index]
        target.attributes = (c_ubyte * 13).from_buffer_copy(
            bytes(prompt.attributes).ljust(13, b"\0")
        )
        target.x, target.y, target.text = prompt.x, prompt.y, keep[-1]
    return keep


class _Entry:
    """An entry's request, output buffer and optional time-out."""

    def __init__(self, record_type: type, **fields: object) -> None:
        self.result = (c_ubyte * 512)()
        self.length = c_int()
        self.record = record_type()
        self.record.result = ctypes.cast(self.result, ctypes.POINTER(c_ubyte))
        self.record.resultLength = ctypes.pointer(self.length)
        self.keep = _fill_common(self.record, **fields)  # type: ignore[arg-type]

    def run(self, export: str, call: Callable[[], int], timeout: Optional[float]) -> None:
        done, timed_out = threading.Event(), threading.Event()

        def cancel_after() -> None:
            if done.wait(timeout):
                return
            timed_out.set()
            while not done.is_set():  # again each second, as for a loop's stop
                lib.PIN_CancelPIN()
                done.wait(1.0)

        canceller = None
        if timeout is not None:
            canceller = threading.Thread(target=cancel_after, daemon=True)
            canceller.start()
        try:
            code = call()
            text = _last_error_text() if code != 1 else ""
        finally:
            done.set()
            if canceller is not None:
                canceller.join()
        if code != 1:
            self.wipe()
            kind = EntryTimeout if timed_out.is_set() else VantorelError
            raise kind(code, text, export)

    def secret(self, count: int) -> SecretBytes:
        data = SecretBytes(bytes(self.result[: max(0, min(count, 512))]))
        self.wipe()
        return data

    def wipe(self) -> None:
        _wipe(self.result)


# ---- The terminal ------------------------------------------------------------------------


class Display:
    """The pad's 320 x 240 display: drawing, text, pictures, regions and the backlight.
    Colour, font and attribute bytes go to the pad unchanged."""

    def pen_color(self, *pen: int) -> None:
        _call("Zelto_SetPenColor", *pen)

    def brush_color(self, c1: int, c2: int, c3: int) -> None:
        _call("Zelto_BrushColor", c1, c2, c3)

    def text_color(self, c1: int, c2: int, c3: int) -> None:
        _call("Zelto_SetTextColor", c1, c2, c3)

    def background_color(self, c1: int, c2: int, c3: int) -> None:
        _call("Zelto_SetBackgroundColor", c1, c2, c3)

    def background_mode(self, mode: int) -> None:
        _call("Zelto_SelectBackgroundMode", mode)

    def font(self, *font: int) -> None:
        _call("Zelto_SetFont", *font)

    def line(self, x1: int, y1: int, x2: int, y2: int) -> None:
        _call("Zelto_DrawLine", x1, y1, x2, y2)

    def rectangle(self, left: int, top: int, right: int, bottom: int, fill: bool = False) -> None:
        _call("Zelto_FillRectangle" if fill else "Zelto_DrawRectangle", left, top, right, bottom)

    def arc(self, x: int, y: int, v1: int, v2: int, v3: int, fill: bool = False) -> None:
        _call("Zelto_FillArc" if fill else "Zelto_DrawArc", x, y, v1, v2, v3)

    def text(self, x: int, y: int, text: Text) -> None:
        data = _bytes_of(text)
        _call("Zelto_DrawString", x, y, len(data), data)

    def text_in_rectangle(self, left: int, top: int, right: int, bottom: int, text: Text) -> None:
        data = _bytes_of(text)
        _call("Zelto_DrawStringInRectangle", left, top, right, bottom, len(data), data)

    def clip_area(
        self, left: int, top: int, right: int, bottom: int, attributes: bytes = bytes(4)
    ) -> None:
        _call("Zelto_SetClipArea", left, top, right, bottom, *bytes(attributes)[:4])

    def region(
        self,
        region_id: int,
        kind: int,
        attribute: int,
        rect: Tuple[int, int, int, int],
        data: bytes = b"",
    ) -> None:
        """Creates a region; a touch on it reaches a capture over HID as (122, region_id)."""
        _call("Zelto_CreateRegion", region_id, kind, attribute, *rect, len(data), _ubytes(data))

    @property
    def backlight(self) -> int:
        level = c_ubyte()
        _call("Zelto_ReviewBackLight", byref(level))
        return level.value

    @backlight.setter
    def backlight(self, level: int) -> None:
        _call("Zelto_SetBackLight", level)

    def calibrate(self) -> None:
        _call("Zelto_CalibrateDevice")

    def get_picture(
        self, left: int, top: int, right: int, bottom: int, room: int = 1 << 20
    ) -> bytes:
        """The picture data of a rectangle, in the pad's format; `room` bounds the reply."""
        buffer, length = (c_ubyte * (room + 8))(), c_uint()
        _call("Zelto_GetPicture", left, top, right, bottom, buffer, len(buffer), byref(length))
        return bytes(buffer[: length.value])

    def show_picture(self, left: int, top: int, right: int, bottom: int, data: bytes) -> None:
        _call("Zelto_ShowPicture", left, top, right, bottom, _ubytes(data), len(data))

    def store_picture(self, number: int, kind: int, data: bytes) -> None:
        _call("Zelto_StorePicture", number, kind, _ubytes(data), len(data))

    def show_stored_picture(
        self, number: int, left: int, top: int, right: int, bottom: int
    ) -> None:
        _call("Zelto_ShowStorePicture", number, left, top, right, bottom)

    def stored_pictures(self) -> List[bytes]:
        """The stored pictures' two-byte entries."""
        buffer, count = (c_ubyte * 510)(), c_int()
        _call("Zelto_RetrieveStorePicture", buffer, byref(count))
        data = bytes(buffer[: count.value])
        return [data[i : i + 2] for i in range(0, len(data), 2)]

    def sign_format(self, number: int, room: int = 1 << 16) -> bytes:
        buffer, length = (c_ubyte * (room + 8))(), c_uint()
        _call("Zelto_GetSignFormat", number, buffer, len(buffer), byref(length))
        return bytes(buffer[: length.value])

    def set_sign_format(self, number: int, data: bytes) -> None:
        _call("Zelto_SetSignFormat", number, _ubytes(data), len(data))


def _getter(export: str) -> property:
    def get(self: "ReaderSettings") -> str:
        value = c_ubyte()
        _call(export, byref(value))
        return chr(value.value)

    return property(get, doc=f"One byte as a character ({export}).")


def _accessor(get_export: str, set_export: str) -> property:
    def get(self: "ReaderSettings") -> str:
        value = c_ubyte()
        _call(get_export, byref(value))
        return chr(value.value)

    def set_(self: "ReaderSettings", value: Byte) -> None:
        _call(set_export, _byte(value))

    return property(get, set_, doc=f"One byte as a character ({get_export}, {set_export}).")


def _block(export: str, room: int) -> Callable[["ReaderSettings"], bytes]:
    def read(self: "ReaderSettings") -> bytes:
        buffer, length = (c_ubyte * room)(), c_int()
        _call(export, buffer, byref(length))
        return bytes(buffer[: length.value])

    read.__doc__ = f"The block {export} reads."
    return read


def _setter(export: str) -> Callable[["ReaderSettings", Byte], None]:
    def write(self: "ReaderSettings", value: Byte) -> None:
        _call(export, _byte(value))

    write.__doc__ = f"Writes one byte ({export}); a character or an int."
    return write


class ReaderSettings:
    """The card reader's and the secure head's settings. Values are single bytes, shown as
    characters ('0' is 0x30); their meaning is the reader's."""

    output = _getter("MSR_GetOutputSetting")
    security_level = _getter("MSR_GetSecurityLevel")
    output_status = _getter("MSR_GetMSROutputStatus")
    decoding = _accessor("MSR_GetDecodingSetting", "MSR_SetDecodingSetting")
    key_model = _accessor("MSR_GetKeyModel", "MSR_SetKeyModel")
    pre_pan = _accessor("MSR_ReviewSecureHeadPrePANID", "MSR_SetSecureHeadPrePANID")
    post_pan = _accessor("MSR_ReviewSecureHeadPostPANID", "MSR_SetSecureHeadPostPANID")
    mask_pan = _accessor("MSR_ReviewSecureHeadMaskPAN", "MSR_SetSecureHeadMaskPAN")
    data_output_format = _accessor("MSR_GetDataOutputFormat", "MSR_SetDataOutputFormat")
    data_pin_or_data_key = _accessor("MSR_getDataPINorDataKey", "MSR_SetDataPINorDataKey")

    all_settings = _block("MSR_GetAllSettings", 505)
    serial_number = _block("MSR_SerialNumber", 255)
    firmware = _block("MSR_GetSecureHeadFirmware", 505)
    ksn_and_counter = _block("MSR_ReviewKSNAndCountID", 255)

    set_encryption = _setter("MSR_SetEncryption")
    set_expiration_data = _setter("MSR_SetExpirationData")
    set_output_encrypted_format = _setter("MSR_SetOutputEncryptedFormat")

    def set_encrypt_option(self, *flags: bool) -> None:
        _call("MSR_SetEncryptOption", *[int(bool(f)) for f in flags])

    def set_hash_option(self, *flags: bool) -> None:
        _call("MSR_SetHashOption", *[int(bool(f)) for f in flags])

    def set_mask_option(self, *flags: bool) -> None:
        _call("MSR_SetMaskOption", *[int(bool(f)) for f in flags])

    def encrypted_data(self) -> SecretBytes:
        buffer, length = (c_ubyte * 8)(), c_int()
        _call("MSR_GetEncryptedData", buffer, byref(length))
        data = SecretBytes(bytes(buffer[: length.value]))
        _wipe(buffer)
        return data

    def set_encrypted_data(self, data: bytes) -> None:
        buffer = _ubytes(data)
        try:
            _call("MSR_SetEncryptedData", buffer, len(data))
        finally:
            _wipe(buffer)

    def load_device_key(self, key: bytes) -> None:
        buffer = _ubytes(key)
        try:
            _call("MSR_LoadDeviceKey", buffer, len(key))
        finally:
            _wipe(buffer)


_Lines = Sequence[Union[Prompt, Text]]


class Terminal:
    """The process's one connection to the terminal. Open it with Terminal.serial() or
    Terminal.hid(); close it with close() or a ``with`` block. A second open while one is
    open fails (VantorelError with code 200). ``Terminal()`` itself opens nothing: it is a
    handle on whatever connection the process has (one opened through ``native.lib``)."""

    def __init__(self) -> None:
        self._open = True
        self.display = Display()
        self.reader = ReaderSettings()

    # -- connection --
    @classmethod
    def serial(
        cls,
        port: Union[int, str, "os.PathLike[str]"],
        baud: int = 9600,
        parity: str = "N",
        stop_bits: int = 1,
        data_bits: int = 8,
        *,
        com: int = PATH_PORT,
    ) -> "Terminal":
        """Opens a COM number (1-100), or a device path mapped to COM `com`."""
        if not isinstance(port, int):
            _call("Brixa_MapPort", com, os.fsencode(port))
            port = com
        _call("Brixa_OpenPort", port, baud, parity.encode(), stop_bits, data_bits)
        return cls()

    @classmethod
    def hid(cls, vendor_id: int = VENDOR_ID, product_id: int = PRODUCT_ID) -> "Terminal":
        """Opens the USB HID terminal with these ids."""
        _call("Brixa_OpenHid", vendor_id, product_id)
        return cls()

    def close(self) -> None:
        """Ends every running loop or entry and closes the connection (once)."""
        if self._open:
            self._open = False
            lib.Brixa_Close()

    @property
    def closed(self) -> bool:
        return not self._open

    def __enter__(self) -> "Terminal":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    # -- device --
    def _text(self, export: str) -> str:
        buffer, length = ctypes.create_string_buffer(512), c_int()
        _call(export, buffer, byref(length))
        return buffer.raw[: length.value].decode("latin-1")

    def version(self) -> str:
        return self._text("Brixa_GetVersion")

    def serial_number(self) -> str:
        return self._text("Brixa_GetSerialNumber")

    def model_number(self) -> str:
        return self._text("Brixa_GetModelNumber")

    def set_serial_number(self, serial: str) -> None:
        data = serial.encode("latin-1")
        _call("Brixa_SetSerialNumber", data, len(data))

    def led(self, select1: int, select2: int) -> None:
        _call("Brixa_ControlLED", select1, select2)

    def tone(self, frequency: int, duration: int) -> None:
        _call("Brixa_GenerateTone", frequency, duration)

    def audio(self, setting: int) -> None:
        _call("Brixa_ControlAudio", setting)

    def restart(self) -> None:
        _call("Brixa_ReSet")

    # -- long-running modes --
    def capture(
        self,
        on_points: Optional[Callable[[List[Point]], None]] = None,
        point_format: int = 1,
        options: bytes = bytes(7),
    ) -> Capture:
        """Starts a capture on a thread of its own; stop() (or the ``with`` block's end)
        ends it and raises what the start or the handler raised."""
        return Capture(on_points, point_format, bytes(options).ljust(7, b"\0")[:7])

    def secure_reading(self, on_read: Callable[[CardRead], None]) -> SecureReading:
        """Starts secure reading on a thread of its own; stop() ends it."""
        return SecureReading(on_read)

    # -- PIN pad --
    def cancel_entry(self) -> None:
        """Asks the terminal to end the waiting entry (from any thread)."""
        _call("PIN_CancelPIN")

    def pin_block(
        self,
        account_number: str = "",
        lower: int = 4,
        upper: int = 12,
        mode: str = "1",
        lines: _Lines = (),
        timeout: Optional[float] = None,
        *,
        selector: int = 0,
        option_bytes: bytes = b"",
        values: Sequence[int] = (0, 0, 0, 0),
        flag_byte: int = 0,
    ) -> SecretBytes:
        """A PIN block entry; after `timeout` seconds it is cancelled (EntryTimeout)."""
        entry = _Entry(
            PinEntryRequest,
            lines=lines,
            selector=selector,
            option_bytes=option_bytes,
            values=values,
            flag_byte=flag_byte,
        )
        entry.record.mode = _byte(mode)
        entry.record.upperBound, entry.record.lowerBound = upper, lower
        account = account_number.encode("ascii")
        entry.record.accountNumber = account
        entry.run("PIN_GetPINBlock", lambda: lib.PIN_GetPINBlock(entry.record), timeout)
        return entry.secret(entry.length.value)

    def numeric(
        self,
        key: RsaPrivateKey,
        amount: bool = False,
        lower: int = 4,
        upper: int = 20,
        lines: _Lines = (),
        timeout: Optional[float] = None,
        *,
        selector: int = 0,
        option_bytes: bytes = b"",
        values: Sequence[int] = (0, 0, 0, 0),
        flag_byte: int = 0,
    ) -> NumericAnswer:
        """A numeric (or amount) entry whose prompt is signed with the application's RSA
        key; the terminal holds its public half."""
        entry = _Entry(
            PinEntryRequest,
            lines=lines,
            selector=selector,
            option_bytes=option_bytes,
            values=values,
            flag_byte=flag_byte,
        )
        entry.record.upperBound, entry.record.lowerBound = upper, lower
        entry.record.accountNumber = b""
        mode = 2 if amount else 1
        entry.run(
            "PIN_GetNumericOrAmount",
            lambda: lib.PIN_GetNumericOrAmount(mode, entry.record, key),
            timeout,
        )
        raw = bytes(entry.result)
        digits = entry.secret(raw.index(0) if 0 in raw else 512)
        return NumericAnswer(entry.length.value, digits)

    def card_account(
        self,
        lower: int = 12,
        upper: int = 20,
        lines: _Lines = (),
        timeout: Optional[float] = None,
        *,
        selector: int = 0,
        option_bytes: bytes = b"",
        values: Sequence[int] = (0, 0, 0, 0),
        flag_byte: int = 0,
    ) -> SecretBytes:
        """A card account entry: the account number keyed on the PIN pad."""
        entry = _Entry(
            PinEntryRequest,
            lines=lines,
            selector=selector,
            option_bytes=option_bytes,
            values=values,
            flag_byte=flag_byte,
        )
        entry.record.upperBound, entry.record.lowerBound = upper, lower
        entry.record.accountNumber = b""
        entry.run("PIN_GetCardAccount", lambda: lib.PIN_GetCardAccount(entry.record), timeout)
        return entry.secret(entry.length.value)

    def encrypted_data(
        self,
        data_mode: int = 0,
        lower: int = 0,
        upper: int = 20,
        lines: _Lines = (),
        timeout: Optional[float] = None,
        *,
        selector: int = 0,
        option_bytes: bytes = b"",
        values: Sequence[int] = (0, 0, 0, 0),
        flag_byte: int = 0,
    ) -> SecretBytes:
        """An encrypted data entry."""
        entry = _Entry(
            PinEntryRequest,
            lines=lines,
            selector=selector,
            option_bytes=option_bytes,
            values=values,
            flag_byte=flag_byte,
        )
        entry.record.upperBound, entry.record.lowerBound = upper, lower
        entry.record.accountNumber = b""
        entry.run(
            "PIN_GetEncryptedData",
            lambda: lib.PIN_GetEncryptedData(data_mode, entry.record),
            timeout,
        )
        return entry.secret(entry.length.value)

    def manual_entry(
        self,
        mode: int = 1,
        kind: int = 3,
        lower: int = 0,
        upper: int = 40,
        lines: _Lines = (),
        timeout: Optional[float] = None,
        *,
        selector: int = 0,
        option_bytes: bytes = b"",
        values: Sequence[int] = (0, 0, 0, 0),
        flag_byte: int = 0,
    ) -> SecretBytes:
        """Manual card entry: the card keyed on the PIN pad. Returns the terminal's message
        whole (empty for an entry the terminal only acknowledges)."""
        entry = _Entry(
            ManualEntryRequest,
            lines=lines,
            selector=selector,
            option_bytes=option_bytes,
            values=values,
            flag_byte=flag_byte,
        )
        entry.record.mode, entry.record.entryKind = mode, kind
        entry.record.upperBound, entry.record.lowerBound = upper, lower
        entry.run(
            "MSR_ManualInputCardData", lambda: lib.MSR_ManualInputCardData(entry.record), timeout
        )
        return entry.secret(entry.length.value)

    def key(self) -> str:
        """The last function key pressed: "CANCEL", "BACKSPACE", "ENTER" or ""."""
        buffer, length = ctypes.create_string_buffer(10), c_int()
        _call("PIN_GetKey", buffer, byref(length))
        return buffer.raw[: length.value].decode("ascii")

    def clear_key(self) -> None:
        _call("PIN_ClearKey")

    def invalidate_key(self) -> None:
        _call("PIN_InvalidateKey")


__all__ = [
    "Terminal",
    "Display",
    "ReaderSettings",
    "Capture",
    "SecureReading",
    "CardRead",
    "Prompt",
    "NumericAnswer",
    "Point",
    "sdk_version",
    "return_code_text",
    "last_error",
    "set_timing",
    "VENDOR_ID",
    "PRODUCT_ID",
    "PATH_PORT",
    "TIMING_STANDARD",
    "TIMING_PROMPT",
    "KEY_CANCEL",
    "KEY_BACKSPACE",
    "KEY_ENTER",
    "PEN_UP",
]
