/*
 * Vantorel: drives one combined payment terminal (signature pad with a 320 x 240 colour
 * display, magnetic-stripe reader with an encrypting head, PIN pad) over RS-232 or USB HID.
 *
 * Every export sends one framed command and turns the terminal's reply into a one-byte
 * return code (VANTOREL_* below). Outputs go to caller buffers; each export says how large
 * they must be. Byte counts come back through a pointer to a 32-bit int. Reply data are
 * copied raw, without a terminating zero unless an export says otherwise.
 *
 * Checks run in this order: connection (201), busy flags of a long-running export,
 * arguments (99); nothing is sent when a check fails. A null output pointer, a null text or
 * a length that cannot fit the command is refused with 99.
 *
 * Long-running exports (Zelto_StartCapture, MSR_EnableSecureHead, the PIN-pad entries,
 * MSR_ManualInputCardData) block the calling thread until they are ended from another
 * thread (or, for entries, by the terminal's answer). Callbacks run on that blocked thread,
 * with no library lock held, so a handler may call other exports.
 *
 * This header compiles as C and as C++.
 */
#ifndef VANTOREL_H
#define VANTOREL_H

#include <stddef.h>

#if defined(_WIN32) && !defined(_WIN64)
#define VANTOREL_CALL __stdcall
#else
#define VANTOREL_CALL
#endif

#if defined(_WIN32)
/* The Windows DLL exports by name and ordinal through its module definition file. */
#define VANTOREL_API
#elif defined(__GNUC__)
#define VANTOREL_API __attribute__((visibility("default")))
#else
#define VANTOREL_API
#endif

#ifdef __cplusplus
#define VANTOREL_NOEXCEPT noexcept
extern "C" {
#else
#define VANTOREL_NOEXCEPT
#endif

/* ---- Return codes ------------------------------------------------------------------- */

#define VANTOREL_FAILURE 0            /* no reply, short reply, unknown status, failed open */
#define VANTOREL_SUCCESS 1
#define VANTOREL_INVALID_ARGUMENT 99  /* also the terminal's status 0xE1 */
#define VANTOREL_STATUS_EC 100        /* terminal status 0xEC */
#define VANTOREL_STATUS_6A_EE 101     /* terminal status 0x6A or 0xEE */
#define VANTOREL_STATUS_C1_ED 102     /* terminal status 0xC1 or 0xED */
#define VANTOREL_STATUS_81 103        /* terminal status 0x81 */
#define VANTOREL_STATUS_E8 104        /* terminal status 0xE8 */
#define VANTOREL_STATUS_18 105        /* terminal status 0x18 */
#define VANTOREL_STATUS_19 106        /* terminal status 0x19 */
#define VANTOREL_STATUS_03 107        /* terminal status 0x03 */
#define VANTOREL_STATUS_04 108        /* terminal status 0x04 */
#define VANTOREL_STATUS_05 109        /* terminal status 0x05 */
#define VANTOREL_STATUS_0D 110        /* terminal status 0x0D */
#define VANTOREL_ALREADY_OPEN 200
#define VANTOREL_NOT_OPEN 201
#define VANTOREL_PIN_ENTRY_ACTIVE 202
#define VANTOREL_SECURE_HEAD_ACTIVE 204
#define VANTOREL_CAPTURE_ACTIVE 205
#define VANTOREL_ENCRYPTED_ENTRY_ACTIVE 207

/* ---- Callbacks ---------------------------------------------------------------------- */

/* Point handler of a signature capture: `values` holds `count` signed 32-bit values in
 * (x, y) order; (-1, -1) marks a pen-up; event pairs (122, region) and (123, 1..3) arrive
 * as two-value arrays of their own. Valid only during the call. */
typedef void(VANTOREL_CALL* VantorelPointHandler)(const int* values, int count, void* context);

/* Card-data handler of secure reading: card data (11-512 bytes) or a key event
 * {0x7B, key} with key 1 Cancel, 2 Backspace, 3 Enter. Valid only during the call. */
typedef void(VANTOREL_CALL* VantorelDataHandler)(const unsigned char* data, int count,
                                                 int context);

/* ---- Records passed by value (natural alignment, fields in this order) --------------- */

/* One line of text for the terminal's display. */
typedef struct PromptLine {
  unsigned char attributes[13]; /* passed to the terminal unchanged */
  int x;                        /* sent as 16 bits */
  int y;                        /* sent as 16 bits */
  const char* text;             /* zero-terminated, may be empty, at most 234 bytes */
} PromptLine;

/* Request of the PIN-pad entries. */
typedef struct PinEntryRequest {
  unsigned char* result; /* output; size per export (506 bytes is always enough) */
  int* resultLength;
  unsigned char mode;  /* PIN_GetPINBlock: '0' or '1' */
  unsigned char upperBound;
  unsigned char lowerBound;
  const char* accountNumber; /* PIN_GetPINBlock: empty or 16 digits */
  unsigned char selector;    /* 0-3 */
  unsigned char optionBytes[16];
  int value1, value2, value3, value4; /* each sent as 16 bits */
  unsigned char flagByte;
  int promptLineCount; /* only the low byte counts: 0-10 */
  PromptLine promptLines[10];
} PinEntryRequest;

/* Request of MSR_ManualInputCardData. */
typedef struct ManualEntryRequest {
  unsigned char* result; /* output, at least 512 bytes */
  int* resultLength;
  unsigned char mode;      /* 0 or 1 */
  unsigned char entryKind; /* 1, 2 or 3 */
  unsigned char upperBound;
  unsigned char lowerBound;
  unsigned char selector; /* 0-3 */
  unsigned char optionBytes[16];
  int value1, value2, value3, value4; /* each sent as 16 bits */
  unsigned char flagByte;
  int promptLineCount; /* only the low byte counts: 0-10 */
  PromptLine promptLines[10];
} ManualEntryRequest;

/* RSA private key (PKCS #1 fields), big-endian numbers right-aligned in their fields;
 * 706 bytes with nothing between the fields. */
typedef struct RsaPrivateKey {
  unsigned short bits; /* modulus length in bits; output is (bits + 7) / 8 bytes */
  unsigned char modulus[128];
  unsigned char publicExponent[128];
  unsigned char privateExponent[128];
  unsigned char prime1[64];
  unsigned char prime2[64];
  unsigned char exponent1[64];
  unsigned char exponent2[64];
  unsigned char coefficient[64];
} RsaPrivateKey;

/* ---- Connection (Brixa_) -------------------------------------------------------------- */

/* Opens the USB HID terminal with these ids and performs two handshakes (version query,
 * secure head off). 1 opened, 0 not found or handshake failed, 200 already open. */
VANTOREL_API unsigned char VANTOREL_CALL Brixa_OpenHid(int vendorId, int productId) VANTOREL_NOEXCEPT;

/* Opens COM `port` (1-100) at `baudRate` (1200, 2400, 4800, 9600, 14400, 19200, 28800,
 * 38400, 57600, 115200), `parity` 'N'/'E'/'O', `stopBits` 1/2, `dataBits` 7/8, then
 * performs the two handshakes. 1, 0, 99 (bad argument) or 200 (already open). On Linux
 * COM n is /dev/ttyS<n-1> unless Brixa_MapPort maps it elsewhere. The port is opened
 * exclusively. */
VANTOREL_API unsigned char VANTOREL_CALL Brixa_OpenPort(int port, int baudRate, char parity,
                                                        int stopBits, int dataBits) VANTOREL_NOEXCEPT;

/* Ends every long-running mode and closes the connection. 1 closed, 0 none was open. */
VANTOREL_API unsigned char VANTOREL_CALL Brixa_Close(void) VANTOREL_NOEXCEPT;

/* Extension: maps COM `port` (1-100) to `devicePath` (at most 255 characters); a null or
 * empty path restores the default. Works with or without a connection; takes effect at
 * the next Brixa_OpenPort. 1, or 99 for a bad port or an over-long path. */
VANTOREL_API unsigned char VANTOREL_CALL Brixa_MapPort(int port, const char* devicePath) VANTOREL_NOEXCEPT;

/* ---- Device management (Brixa_) ------------------------------------------------------- */

/* Reads the terminal's firmware version / serial number / model number: the reply's data
 * bytes (no terminator) to `buffer` (505 bytes), their count to `length`. */
VANTOREL_API unsigned char VANTOREL_CALL Brixa_GetVersion(char* buffer, int* length) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL Brixa_GetSerialNumber(char* buffer, int* length) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL Brixa_GetModelNumber(char* buffer, int* length) VANTOREL_NOEXCEPT;

/* Writes the terminal's serial number: `serialLength` and the text's length must be 8. */
VANTOREL_API unsigned char VANTOREL_CALL Brixa_SetSerialNumber(const char* serialNumber,
                                                               int serialLength) VANTOREL_NOEXCEPT;

/* Drives the LEDs; each selector 0-4. */
VANTOREL_API unsigned char VANTOREL_CALL Brixa_ControlLED(unsigned char ledSelect1,
                                                          unsigned char ledSelect2) VANTOREL_NOEXCEPT;

/* Plays a tone: `frequency` 6-39999, `duration` 0-65535. */
VANTOREL_API unsigned char VANTOREL_CALL Brixa_GenerateTone(int frequency, int duration) VANTOREL_NOEXCEPT;

/* Sets the audio (byte sent unchanged). */
VANTOREL_API unsigned char VANTOREL_CALL Brixa_ControlAudio(unsigned char audioSetting) VANTOREL_NOEXCEPT;

/* Restarts the terminal; the connection stays open. Returns 1 (or 201). */
VANTOREL_API unsigned char VANTOREL_CALL Brixa_ReSet(void) VANTOREL_NOEXCEPT;

/* The library's version, "1.10" with a terminating zero (5 bytes), 4 to `length`. Needs no
 * connection. */
VANTOREL_API unsigned char VANTOREL_CALL Brixa_GetSdkVersion(char* buffer, int* length) VANTOREL_NOEXCEPT;

/* ---- Drawing and display (Zelto_) ------------------------------------------------------
 * Coordinates: x at most 319, y at most 239 (negative values pass and are sent in two
 * bytes). Colour, font and attribute bytes are sent unchanged. 1 on acknowledgement. */

VANTOREL_API unsigned char VANTOREL_CALL Zelto_SetPenColor(unsigned char b1, unsigned char b2,
                                                           unsigned char b3, unsigned char b4,
                                                           unsigned char b5, unsigned char b6,
                                                           unsigned char b7) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL Zelto_DrawLine(int x1, int y1, int x2, int y2) VANTOREL_NOEXCEPT;
/* Rectangles: right not below left, bottom not below top. */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_DrawRectangle(int left, int top, int right,
                                                             int bottom) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL Zelto_FillRectangle(int left, int top, int right,
                                                             int bottom) VANTOREL_NOEXCEPT;
/* Arcs: `x`, `y` bounded; the three further values are sent unchecked. */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_DrawArc(int x, int y, int value1, int value2,
                                                       int value3) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL Zelto_FillArc(int x, int y, int value1, int value2,
                                                       int value3) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL Zelto_BrushColor(unsigned char c1, unsigned char c2,
                                                          unsigned char c3) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL Zelto_SetFont(unsigned char f1, unsigned char f2,
                                                       unsigned char f3, unsigned char f4,
                                                       unsigned char f5, unsigned char f6) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL Zelto_SetTextColor(unsigned char c1, unsigned char c2,
                                                            unsigned char c3) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL Zelto_SetBackgroundColor(unsigned char c1,
                                                                  unsigned char c2,
                                                                  unsigned char c3) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL Zelto_SelectBackgroundMode(unsigned char mode) VANTOREL_NOEXCEPT;
/* Text at a point: `length` bytes of `text` (none when `length` <= 0). */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_DrawString(int x, int y, int length,
                                                          const char* text) VANTOREL_NOEXCEPT;
/* Text in a rectangle (no ordering test on the rectangle). */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_DrawStringInRectangle(int left, int top,
                                                                     int right, int bottom,
                                                                     int length,
                                                                     const char* text) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL Zelto_SetClipArea(int left, int top, int right,
                                                           int bottom, unsigned char a1,
                                                           unsigned char a2, unsigned char a3,
                                                           unsigned char a4) VANTOREL_NOEXCEPT;
/* `regionId` 0-254, `regionKind` 0-3 or 17; `length` bytes of `data`. */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_CreateRegion(unsigned char regionId,
                                                            unsigned char regionKind,
                                                            unsigned char attribute, int left,
                                                            int top, int right, int bottom,
                                                            int length,
                                                            const unsigned char* data) VANTOREL_NOEXCEPT;
/* Backlight level 0-200. */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_SetBackLight(unsigned char level) VANTOREL_NOEXCEPT;
/* Reads the backlight level into one byte. */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_ReviewBackLight(unsigned char* level) VANTOREL_NOEXCEPT;

/* ---- Pictures (Zelto_) ---------------------------------------------------------------- */

/* Reads the picture of a rectangle into `buffer` (`bufferSize` bytes; it first receives the
 * raw reply); the picture data end up at its start, their count in `length`. */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_GetPicture(int left, int top, int right,
                                                          int bottom, unsigned char* buffer,
                                                          int bufferSize,
                                                          unsigned int* length) VANTOREL_NOEXCEPT;
/* Shows `length` (>= 1) bytes of picture data in a rectangle. */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_ShowPicture(int left, int top, int right,
                                                           int bottom,
                                                           const unsigned char* data,
                                                           unsigned int length) VANTOREL_NOEXCEPT;
/* Stores picture data under `pictureNumber`; `pictureKind` 0-2. */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_StorePicture(unsigned char pictureNumber,
                                                            unsigned char pictureKind,
                                                            const unsigned char* data,
                                                            unsigned int length) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL Zelto_ShowStorePicture(unsigned char pictureNumber,
                                                                int left, int top, int right,
                                                                int bottom) VANTOREL_NOEXCEPT;
/* Lists stored pictures: two-byte entries to `buffer` (510 bytes), byte count to `count`. */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_RetrieveStorePicture(unsigned char* buffer,
                                                                    int* count) VANTOREL_NOEXCEPT;

/* ---- Signature capture (Zelto_) ------------------------------------------------------- */

/* Registers the point handler and its context (null context: no points, events only). */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_AddPointHandle(VantorelPointHandler handler,
                                                              void* context) VANTOREL_NOEXCEPT;
/* Starts a capture in point `format` (0-5) and blocks, delivering points, until the
 * capture is ended (Zelto_ExitCapture, Brixa_Close, a new start); then returns 1. */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_StartCapture(unsigned char format,
                                                            unsigned char captureByte1,
                                                            unsigned char captureByte2,
                                                            unsigned char captureByte3,
                                                            unsigned char captureByte4,
                                                            unsigned char captureByte5,
                                                            unsigned char captureByte6,
                                                            unsigned char captureByte7) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL Zelto_ContinueCapture(void) VANTOREL_NOEXCEPT;
/* Pauses; the pad's 32-bit value to `value`. */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_PauseCapture(unsigned int* value) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL Zelto_GetPointCount(unsigned int* count) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL Zelto_ClearSignature(void) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL Zelto_ExitCapture(void) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL Zelto_CalibrateDevice(void) VANTOREL_NOEXCEPT;
/* Reads sign-format block 1-4 into `buffer` (`bufferSize` bytes); data count to `length`. */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_GetSignFormat(int formatNumber,
                                                             unsigned char* buffer,
                                                             unsigned int bufferSize,
                                                             unsigned int* length) VANTOREL_NOEXCEPT;
/* Writes sign-format block 1-4 (`length` may be 0). */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_SetSignFormat(int formatNumber,
                                                             const unsigned char* data,
                                                             unsigned int length) VANTOREL_NOEXCEPT;

/* ---- Card reader (MSR_) --------------------------------------------------------------- */

/* Registers the card-data handler and its context. */
VANTOREL_API unsigned char VANTOREL_CALL MSR_AddDataHandle(VantorelDataHandler handler,
                                                           int context) VANTOREL_NOEXCEPT;
/* Switches secure reading on and blocks, delivering card data and key events, until
 * MSR_DisableSecureHead or Brixa_Close; then returns 1. */
VANTOREL_API unsigned char VANTOREL_CALL MSR_EnableSecureHead(void) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL MSR_DisableSecureHead(void) VANTOREL_NOEXCEPT;

/* Settings. One-byte getters write one byte; block getters write up to 505 bytes and the
 * count; counted getters up to 255 bytes and the count; MSR_GetEncryptedData 8 bytes. */
VANTOREL_API unsigned char VANTOREL_CALL MSR_GetOutputSetting(unsigned char* value) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL MSR_GetDecodingSetting(unsigned char* value) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL MSR_SetDecodingSetting(unsigned char value) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL MSR_GetAllSettings(unsigned char* buffer, int* length) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL MSR_SetEncryption(unsigned char value) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL MSR_SerialNumber(unsigned char* buffer, int* length) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL MSR_GetKeyModel(unsigned char* value) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL MSR_SetKeyModel(unsigned char value) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL MSR_GetEncryptedData(unsigned char* buffer,
                                                              int* length) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL MSR_SetEncryptedData(const unsigned char* data,
                                                              int length) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL MSR_LoadDeviceKey(const unsigned char* key,
                                                           int length) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL MSR_GetSecurityLevel(unsigned char* value) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL MSR_GetMSROutputStatus(unsigned char* value) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL MSR_GetSecureHeadFirmware(unsigned char* buffer,
                                                                   int* length) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL MSR_ReviewSecureHeadPrePANID(unsigned char* value) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL MSR_ReviewSecureHeadPostPANID(unsigned char* value) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL MSR_ReviewSecureHeadMaskPAN(unsigned char* value) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL MSR_ReviewKSNAndCountID(unsigned char* buffer,
                                                                 int* length) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL MSR_SetSecureHeadPrePANID(unsigned char value) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL MSR_SetSecureHeadPostPANID(unsigned char value) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL MSR_SetSecureHeadMaskPAN(unsigned char value) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL MSR_SetExpirationData(unsigned char value) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL MSR_GetDataOutputFormat(unsigned char* value) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL MSR_SetDataOutputFormat(unsigned char value) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL MSR_SetOutputEncryptedFormat(unsigned char value) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL MSR_SetEncryptOption(unsigned char flag1,
                                                              unsigned char flag2,
                                                              unsigned char flag3,
                                                              unsigned char flag4) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL MSR_SetHashOption(unsigned char flag1,
                                                           unsigned char flag2,
                                                           unsigned char flag3) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL MSR_SetMaskOption(unsigned char flag1,
                                                           unsigned char flag2,
                                                           unsigned char flag3) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL MSR_SetDataPINorDataKey(unsigned char value) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL MSR_getDataPINorDataKey(unsigned char* value) VANTOREL_NOEXCEPT;

/* Manual card entry: blocks until the terminal answers. Data-returning entries copy the
 * whole message (up to 512 bytes) to `result`. */
VANTOREL_API unsigned char VANTOREL_CALL MSR_ManualInputCardData(ManualEntryRequest request) VANTOREL_NOEXCEPT;

/* ---- PIN pad (PIN_) ------------------------------------------------------------------- */

/* PIN block entry: blocks until the terminal answers; data bytes and a zero to `result`
 * (506 bytes), their count to `resultLength`. 0 when ended from outside. */
VANTOREL_API unsigned char VANTOREL_CALL PIN_GetPINBlock(PinEntryRequest request) VANTOREL_NOEXCEPT;
/* Sends the terminal's cancel command; the waiting entry ends with the terminal's answer. */
VANTOREL_API unsigned char VANTOREL_CALL PIN_CancelPIN(void) VANTOREL_NOEXCEPT;
/* Numeric or amount entry (`entryMode` 1 or 2); the prompt message travels processed with
 * `key`. `resultLength` receives the answer's first data byte, `result` the value text and
 * a zero (506 bytes). */
VANTOREL_API unsigned char VANTOREL_CALL PIN_GetNumericOrAmount(unsigned char entryMode,
                                                                PinEntryRequest request,
                                                                RsaPrivateKey key) VANTOREL_NOEXCEPT;
/* Card account entry: account bytes to `result` (503 bytes), count to `resultLength`. */
VANTOREL_API unsigned char VANTOREL_CALL PIN_GetCardAccount(PinEntryRequest request) VANTOREL_NOEXCEPT;
/* Encrypted data entry: as PIN_GetCardAccount; 1 also when superseded or closed. */
VANTOREL_API unsigned char VANTOREL_CALL PIN_GetEncryptedData(unsigned char dataMode,
                                                              PinEntryRequest request) VANTOREL_NOEXCEPT;
/* Last function key: "CANCEL", "BACKSPACE", "ENTER" or "" with a zero (10 bytes). */
VANTOREL_API unsigned char VANTOREL_CALL PIN_GetKey(char* keyName, int* keyNameLength) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL PIN_ClearKey(void) VANTOREL_NOEXCEPT;
VANTOREL_API unsigned char VANTOREL_CALL PIN_InvalidateKey(void) VANTOREL_NOEXCEPT;

#ifdef __cplusplus
} /* extern "C" */
#endif

/* ---- Record layouts, pinned ---------------------------------------------------------- */

#ifdef __cplusplus
#define VANTOREL_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define VANTOREL_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

VANTOREL_STATIC_ASSERT(sizeof(RsaPrivateKey) == 706, "RsaPrivateKey is 706 bytes");
VANTOREL_STATIC_ASSERT(offsetof(RsaPrivateKey, modulus) == 2, "modulus follows bits");
VANTOREL_STATIC_ASSERT(offsetof(RsaPrivateKey, prime1) == 386, "prime1 offset");
VANTOREL_STATIC_ASSERT(offsetof(RsaPrivateKey, coefficient) == 642, "coefficient offset");
VANTOREL_STATIC_ASSERT(offsetof(PromptLine, x) == 16, "PromptLine.x offset");
VANTOREL_STATIC_ASSERT(offsetof(PromptLine, y) == 20, "PromptLine.y offset");
VANTOREL_STATIC_ASSERT(offsetof(PromptLine, text) == 24, "PromptLine.text offset");

#if defined(__SIZEOF_POINTER__) && __SIZEOF_POINTER__ == 8 || defined(_WIN64)
VANTOREL_STATIC_ASSERT(sizeof(PromptLine) == 32, "PromptLine size (64-bit)");
VANTOREL_STATIC_ASSERT(offsetof(PinEntryRequest, mode) == 16, "PinEntryRequest.mode");
VANTOREL_STATIC_ASSERT(offsetof(PinEntryRequest, accountNumber) == 24, "accountNumber");
VANTOREL_STATIC_ASSERT(offsetof(PinEntryRequest, selector) == 32, "selector");
VANTOREL_STATIC_ASSERT(offsetof(PinEntryRequest, value1) == 52, "value1");
VANTOREL_STATIC_ASSERT(offsetof(PinEntryRequest, flagByte) == 68, "flagByte");
VANTOREL_STATIC_ASSERT(offsetof(PinEntryRequest, promptLineCount) == 72, "promptLineCount");
VANTOREL_STATIC_ASSERT(offsetof(PinEntryRequest, promptLines) == 80, "promptLines");
VANTOREL_STATIC_ASSERT(sizeof(PinEntryRequest) == 400, "PinEntryRequest size (64-bit)");
VANTOREL_STATIC_ASSERT(offsetof(ManualEntryRequest, mode) == 16, "ManualEntryRequest.mode");
VANTOREL_STATIC_ASSERT(offsetof(ManualEntryRequest, optionBytes) == 21, "optionBytes");
VANTOREL_STATIC_ASSERT(offsetof(ManualEntryRequest, value1) == 40, "value1");
VANTOREL_STATIC_ASSERT(offsetof(ManualEntryRequest, flagByte) == 56, "flagByte");
VANTOREL_STATIC_ASSERT(offsetof(ManualEntryRequest, promptLineCount) == 60, "count");
VANTOREL_STATIC_ASSERT(offsetof(ManualEntryRequest, promptLines) == 64, "promptLines");
VANTOREL_STATIC_ASSERT(sizeof(ManualEntryRequest) == 384, "ManualEntryRequest (64-bit)");
#else
VANTOREL_STATIC_ASSERT(sizeof(PromptLine) == 28, "PromptLine size (32-bit)");
VANTOREL_STATIC_ASSERT(offsetof(PinEntryRequest, mode) == 8, "PinEntryRequest.mode");
VANTOREL_STATIC_ASSERT(offsetof(PinEntryRequest, accountNumber) == 12, "accountNumber");
VANTOREL_STATIC_ASSERT(offsetof(PinEntryRequest, selector) == 16, "selector");
VANTOREL_STATIC_ASSERT(offsetof(PinEntryRequest, value1) == 36, "value1");
VANTOREL_STATIC_ASSERT(offsetof(PinEntryRequest, flagByte) == 52, "flagByte");
VANTOREL_STATIC_ASSERT(offsetof(PinEntryRequest, promptLineCount) == 56, "promptLineCount");
VANTOREL_STATIC_ASSERT(offsetof(PinEntryRequest, promptLines) == 60, "promptLines");
VANTOREL_STATIC_ASSERT(sizeof(PinEntryRequest) == 340, "PinEntryRequest size (32-bit)");
VANTOREL_STATIC_ASSERT(offsetof(ManualEntryRequest, mode) == 8, "ManualEntryRequest.mode");
VANTOREL_STATIC_ASSERT(offsetof(ManualEntryRequest, optionBytes) == 13, "optionBytes");
VANTOREL_STATIC_ASSERT(offsetof(ManualEntryRequest, value1) == 32, "value1");
VANTOREL_STATIC_ASSERT(offsetof(ManualEntryRequest, flagByte) == 48, "flagByte");
VANTOREL_STATIC_ASSERT(offsetof(ManualEntryRequest, promptLineCount) == 52, "count");
VANTOREL_STATIC_ASSERT(offsetof(ManualEntryRequest, promptLines) == 56, "promptLines");
VANTOREL_STATIC_ASSERT(sizeof(ManualEntryRequest) == 336, "ManualEntryRequest (32-bit)");
#endif

#endif /* VANTOREL_H */
