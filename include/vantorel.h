/**
 * @file vantorel.h
 * @brief The whole public API of Vantorel: every export, the callback types, the records
 * passed by value, the return codes and the version.
 *
 * Vantorel drives one combined payment terminal (signature pad with a 320 x 240 colour
 * display, magnetic-stripe reader with an encrypting head, PIN pad) over RS-232 or USB HID.
 *
 * Every export sends one framed command and turns the terminal's reply into a one-byte
 * return code (@ref codes). Outputs go to caller buffers; each export says how large they
 * must be. Byte counts come back through a pointer to a 32-bit int. Reply data are copied
 * raw, without a terminating zero unless an export says otherwise. Outputs are written only
 * on success (1) unless an export says otherwise.
 *
 * Checks run in this order: connection (201), busy flags of a long-running export,
 * arguments (99); nothing is sent when a check fails. A null output pointer, a null text or
 * a length that cannot fit the command is refused with 99.
 *
 * Timing: every ordinary command waits 100 ms before it writes (so that a polling loop on
 * another thread lets go of the link); over serial the reply is read 300 ms after the write
 * and is complete once the line stays silent for 200 ms, so a serial command takes at least
 * 600 ms. Over HID the terminal has 512 ms for each input report. Nothing is retried.
 * A reply belongs to the command that sent it: a command that got no reply may still be
 * answered late, so for 1.5 s after it gave up the next command first waits (at most until
 * then) for that late reply and drops it, and a waiting loop drops it too.
 *
 * Long-running exports (Zelto_StartCapture(), MSR_EnableSecureHead(), the PIN-pad entries,
 * MSR_ManualInputCardData()) block the calling thread until they are ended from another
 * thread (or, for entries, by the terminal's answer). Callbacks run on that blocked thread,
 * with no library lock held, so a handler may call other exports. Ordinary commands from
 * other threads are serialised by the library and always receive their own reply.
 *
 * This header compiles as C and as C++.
 */
#ifndef VANTOREL_H
#define VANTOREL_H

#include <stddef.h>

/**
 * @defgroup version Version
 * @brief The library's version, as Brixa_GetSdkVersion() reports it.
 * @{
 */
/** Major version: changes when an export, a record or a return code changes. */
#define VANTOREL_VERSION_MAJOR 1
/** Minor version. */
#define VANTOREL_VERSION_MINOR 12
/** The version as text: what Brixa_GetSdkVersion() writes. */
#define VANTOREL_VERSION_STRING "1.12"
/** @} */

/**
 * @defgroup platform Calling convention
 * @brief How the exports are declared.
 * @{
 */
/**
 * @def VANTOREL_CALL
 * The exports' calling convention: stdcall in the 32-bit Windows DLL, the platform's
 * default elsewhere. Callbacks handed to the library use it too.
 *
 * @def VANTOREL_API
 * Marks an export: visible in the shared library. The Windows DLL exports by name and
 * ordinal through its module definition file instead.
 */
#if defined(_WIN32) && !defined(_WIN64)
#define VANTOREL_CALL __stdcall
#else
#define VANTOREL_CALL
#endif

#if defined(_WIN32)
#define VANTOREL_API
#elif defined(__GNUC__)
#define VANTOREL_API __attribute__((visibility("default")))
#else
#define VANTOREL_API
#endif
/** @} */

/** @cond INTERNAL */
#ifdef __cplusplus
#define VANTOREL_NOEXCEPT noexcept
extern "C" {
#else
#define VANTOREL_NOEXCEPT
#endif
/** @endcond */

/* The table rows and the codes stay one per line. */
/* clang-format off */
/**
 * @defgroup codes Return codes
 * @brief The one-byte result of every export.
 *
 * 1 is success. 0 is a failure without a status the library knows: no reply, a reply too
 * short for the command, a reply too long for the room it is read into (dropped whole,
 * never cut), a status byte not in the table below, a failed open, an entry ended from
 * outside. 99 is an argument the library refused before sending anything, and also the
 * terminal's status 0xE1: the caller cannot tell the two apart.
 *
 * Codes 100-110 carry the status byte of a terminal that answered with a refusal (NAK).
 * The library maps the byte and attaches no further meaning to it; what a status means
 * is the terminal firmware's. Where the virtual terminal (vterm/) uses a status, the table
 * says for what, as the one behaviour this project can state:
 *
 * | Code | Terminal status | What the caller knows |
 * |------|-----------------|-----------------------|
 * | 99   | 0xE1 | the terminal refused the command's parameters (the virtual terminal: a parameter of the wrong size or value); also every argument the library refuses itself |
 * | 100  | 0xEC | the terminal refused the command as unknown (the virtual terminal: no handler for that class, function and sub-command) |
 * | 101  | 0x6A or 0xEE | the terminal refused the frame or command; the virtual terminal sends 0xEE for a frame whose check bytes or ETX are wrong |
 * | 102  | 0xC1 or 0xED | the terminal refused the command; the virtual PIN pad sends 0xED for a numeric or amount prompt it cannot recover with its public key (wrong private key) |
 * | 103  | 0x81 | the terminal refused with status 0x81; no further meaning is defined here |
 * | 104  | 0xE8 | the terminal refused with status 0xE8; no further meaning is defined here (the virtual terminal's scripted refusal uses it by default) |
 * | 105  | 0x18 | the terminal ended the request with status 0x18; the virtual PIN pad sends it when an entry is cancelled (PIN_CancelPIN() or the Cancel key) |
 * | 106  | 0x19 | the terminal refused with status 0x19; no further meaning is defined here |
 * | 107  | 0x03 | the terminal refused with status 0x03; no further meaning is defined here |
 * | 108  | 0x04 | the terminal refused with status 0x04; no further meaning is defined here |
 * | 109  | 0x05 | the terminal refused with status 0x05; no further meaning is defined here |
 * | 110  | 0x0D | the terminal refused with status 0x0D; no further meaning is defined here |
 *
 * A refusal is reported, never retried; the caller decides whether to send the command
 * again. Codes 200-207 come from the library's own state, never from the terminal.
 * @{
 */

#define VANTOREL_FAILURE 0                  /**< no reply, short reply, unknown status, failed open */
#define VANTOREL_SUCCESS 1                  /**< the command was acknowledged (or the entry ended) */
#define VANTOREL_INVALID_ARGUMENT 99        /**< argument refused; also the terminal's status 0xE1 */
#define VANTOREL_STATUS_EC 100              /**< terminal status 0xEC (see the table above) */
#define VANTOREL_STATUS_6A_EE 101           /**< terminal status 0x6A or 0xEE */
#define VANTOREL_STATUS_C1_ED 102           /**< terminal status 0xC1 or 0xED */
#define VANTOREL_STATUS_81 103              /**< terminal status 0x81 */
#define VANTOREL_STATUS_E8 104              /**< terminal status 0xE8 */
#define VANTOREL_STATUS_18 105              /**< terminal status 0x18 */
#define VANTOREL_STATUS_19 106              /**< terminal status 0x19 */
#define VANTOREL_STATUS_03 107              /**< terminal status 0x03 */
#define VANTOREL_STATUS_04 108              /**< terminal status 0x04 */
#define VANTOREL_STATUS_05 109              /**< terminal status 0x05 */
#define VANTOREL_STATUS_0D 110              /**< terminal status 0x0D */
#define VANTOREL_ALREADY_OPEN 200           /**< an open export while a connection is open */
#define VANTOREL_NOT_OPEN 201               /**< no connection is open; nothing was sent */
#define VANTOREL_PIN_ENTRY_ACTIVE 202       /**< a PIN-pad entry or manual card entry is waiting */
#define VANTOREL_SECURE_HEAD_ACTIVE 204     /**< secure reading is running */
#define VANTOREL_CAPTURE_ACTIVE 205         /**< a signature capture is running */
#define VANTOREL_ENCRYPTED_ENTRY_ACTIVE 207 /**< an encrypted data entry is waiting */

/**
 * The one-line text for a return code (export 88 of the Windows DLL), for an application's
 * log or message: "success", "no connection is open", "terminal status EC", ...; "unknown
 * code" for a value no export returns. The trace and the vantorel tool show the same texts.
 * Needs no connection; sends nothing; may be called from any thread.
 *
 * @param code a return code.
 * @return a static, zero-terminated string; never null, never to be freed.
 * @since 1.11
 */
VANTOREL_API const char* VANTOREL_CALL Brixa_ReturnCodeText(unsigned char code) VANTOREL_NOEXCEPT;

/**
 * The code the calling thread's last export returned (export 89 of the Windows DLL). Every
 * export records its code for its own thread, except Brixa_GetLastError(),
 * Brixa_GetLastErrorText() and Brixa_ReturnCodeText(); a handler that calls exports from
 * a callback records on the loop's thread. 1 before the thread's first export.
 * Needs no connection; sends nothing.
 *
 * @return the code, as the export returned it.
 * @since 1.12
 */
VANTOREL_API unsigned char VANTOREL_CALL Brixa_GetLastError(void) VANTOREL_NOEXCEPT;

/**
 * One line on why the calling thread's last export returned what it did (export 90 of the
 * Windows DLL): the cause where the library knows it, otherwise the code's text as
 * Brixa_ReturnCodeText() gives it (always so after a success, a running mode or a missing
 * connection). An argument the export refused itself (99, nothing sent) reads "an argument
 * is out of range, too long or null; nothing was sent". The causes, by kind:
 * - the OS refused the device: "open /dev/ttyS0: Permission denied (the user needs read
 *   and write access ...)", "open /dev/ttyS9: No such file or directory",
 *   "tcgetattr /dev/null: Inappropriate ioctl for device (not a serial port)";
 * - the device is held: "/dev/ttyUSB0 is in use by another program or connection";
 * - no HID device: "no HID device with vendor id 0ACD and product id 3910 found", or
 *   "open /dev/hidraw3: Permission denied (see docs/linux-hid.md)";
 * - the open handshake: "no answer from /dev/ttyUSB0 to the open handshake" (silence),
 *   "the terminal answered the open handshake with status EC" (a refusal), "a garbled reply
 *   from ... to the open handshake (12 bytes that are no reply frame)";
 * - a command: "no reply from /dev/ttyUSB0 to the command 78 46 01" (silence, or a reply
 *   too late), "the command 73 53 1D refused with status 0xEC", "a garbled reply from ...",
 *   "the reply from ... is too short (6 bytes)", "the reply lacks what the call reads from
 *   it (7 bytes)";
 * - the device went away under an open connection (hang-up, unplugged, EIO/ENODEV), as
 *   distinct from silence: "device gone: /dev/ttyUSB0 hung up", "device gone: /dev/ttyUSB0
 *   read failed: Input/output error", "device gone: the HID device 0ACD:3910 is no longer
 *   there".
 * The wording may grow; match on the code, show the text. One line, at most 255
 * characters. Never contains card data, key fields, PIN blocks or entered digits: only
 * paths, OS error texts, ids, status bytes, command class/function/sub-command and counts.
 *
 * @return a zero-terminated string owned by the calling thread, valid until the thread's
 *         next export call; never null, never to be freed.
 * @since 1.12
 */
VANTOREL_API const char* VANTOREL_CALL Brixa_GetLastErrorText(void) VANTOREL_NOEXCEPT;
/** @} */
/* clang-format on */

/**
 * @defgroup callbacks Callbacks
 * @brief Handlers the long-running exports call on their own (blocked) thread.
 * @{
 */

/**
 * Point handler of a signature capture (Zelto_AddPointHandle(), Zelto_StartCapture()).
 *
 * Called on the capturing thread with no library lock held; it may call other exports.
 * Points come as (x, y) pairs; (-1, -1) marks a pen-up. Over HID the pad also reports
 * events, each as a two-value array of its own: (122, region) for a touched region
 * (0-254), and (123, 1), (123, 2), (123, 3) for the pad's event bytes 'C', 'B', 'E'. Over HID
 * points are handed over in batches of at least 15 points, or at once when a run begins with a
 * pen-up; over serial each read is handed over at once.
 *
 * @param values  `count` signed 32-bit values; valid only during the call.
 * @param count   number of values (even).
 * @param context the context registered with the handler, unchanged.
 */
typedef void(VANTOREL_CALL* VantorelPointHandler)(const int* values, int count, void* context);

/**
 * Card-data handler of secure reading (MSR_AddDataHandle(), MSR_EnableSecureHead()).
 *
 * Called on the reading thread with no library lock held; it may call other exports.
 * Receives either card data (11-512 bytes: a framed record starting with 0x02 unchanged,
 * or plain track text in which a LF directly after the end sentinel '?' becomes CR) or a
 * key event of 2 bytes {0x7B, key} with key 1 Cancel, 2 Backspace, 3 Enter.
 *
 * @param data    the delivered bytes; valid only during the call. Card data are secret:
 *                never log them.
 * @param count   number of bytes.
 * @param context the context registered with the handler, unchanged.
 */
typedef void(VANTOREL_CALL* VantorelDataHandler)(const unsigned char* data, int count, int context);
/** @} */

/**
 * @defgroup records Records
 * @brief Records passed by value: natural alignment, fields in this order (layouts are
 * pinned by static asserts at the end of this header).
 * @{
 */

/** One line of text for the terminal's display (PIN-pad entries, manual card entry). It
 * travels as 21 + n bytes for a text of n bytes: 21 + n, 00, the 13 attribute bytes, x and
 * y (16 bits each, low byte first), n, 00, then the text. */
typedef struct PromptLine {
  /** Sent unchanged as bytes 2-14 of the line. Their meaning (font, colour, alignment or
   * whatever the firmware reads there) is the terminal's: this library defines none. The
   * virtual terminal keeps them with the line it shows (its entry record and browser view)
   * and acts on none; all zeros is what the examples and tests send. */
  unsigned char attributes[13];
  int x;            /**< position, sent as 16 bits (low byte, then value / 256) */
  int y;            /**< position, sent as 16 bits */
  const char* text; /**< zero-terminated, may be empty, at most 234 bytes; not null */
} PromptLine;

/** Request of the PIN-pad entries (PIN_GetPINBlock(), PIN_GetNumericOrAmount(),
 * PIN_GetCardAccount(), PIN_GetEncryptedData()). Which fields count and their ranges are
 * given per export. */
typedef struct PinEntryRequest {
  unsigned char* result; /**< output, not null; size per export (506 bytes is always enough) */
  int* resultLength;     /**< output, not null; what it receives is given per export */
  /** PIN_GetPINBlock(): the character '0' or '1', sent as the header's first byte; ignored
   * elsewhere. Which PIN-block variant each selects is the terminal's; the virtual terminal
   * records it and answers both alike (see @ref pinblock). */
  unsigned char mode;
  unsigned char upperBound; /**< upper bound of the entry; range per export; not below lowerBound */
  unsigned char lowerBound; /**< lower bound of the entry; range per export */
  /** PIN_GetPINBlock(): "" or exactly 16 digits '0'-'9', not null; ignored elsewhere */
  const char* accountNumber;
  /** 0-3 (a number, not a character), checked by the library and sent as the entry
   * fields' first byte. What each value selects is the terminal's; the virtual terminal
   * records it and acts on none. */
  unsigned char selector;
  /** Sent unchanged after the selector. Their meaning is the terminal's; the virtual
   * terminal records them and acts on none. */
  unsigned char optionBytes[16];
  /** @name The four values, each sent as 16 bits (low byte, then value / 256)
   * @{ */
  /** the four values, each sent as 16 bits (low byte, then value / 256), after the option
   * bytes; values outside 0-65535 lose their upper bits. Their meaning (time-outs,
   * positions, ...) is the terminal's; the virtual terminal records them and acts on none. */
  int value1, value2, value3, value4;
  /** @} */
  /** Sent unchanged after the four values. Its meaning is the terminal's; the virtual
   * terminal records it and acts on none. */
  unsigned char flagByte;
  int promptLineCount;        /**< only the low byte counts: 0-10 lines of promptLines are sent */
  PromptLine promptLines[10]; /**< the lines to show; the first promptLineCount are used */
} PinEntryRequest;

/**
 * @defgroup pinblock What the entries return
 * @brief The answers' layouts: what the library does with them, and what the virtual
 * terminal sends. A real terminal's formats and keys are its own and its documentation's.
 *
 * - PIN_GetPINBlock(): `result` holds the data bytes of the terminal's answer as they came,
 *   then a zero. The virtual terminal sends 16 hexadecimal characters ('0'-'9', 'A'-'F'):
 *   an 8-byte block in the ISO 9564 format 0 (0, the PIN's length, the digits, 'F'
 *   padding, XORed with 0000 and the twelve account digits before the check digit) under
 *   triple DES with its PIN key. With an empty accountNumber the account field is zero.
 * - PIN_GetNumericOrAmount(): the answer's first data byte goes to `resultLength` (the
 *   virtual terminal: the number of digits), then the digits as characters, padded with
 *   'F' to upperBound; `result` receives them up to the first 'F'.
 * - PIN_GetCardAccount(), PIN_GetEncryptedData(): the answer's first two data bytes (the
 *   virtual terminal: 00 and the count) are dropped. The virtual terminal's card account is
 *   the digits as characters; its encrypted entry is the digits, padded with 'F' to whole
 *   8-byte blocks, under triple DES with its PIN key.
 * - MSR_ManualInputCardData(): the whole answer message, frame bytes included (STX,
 *   length, ACK, data, check bytes, ETX); the virtual terminal's data are the keyed card
 *   text, e.g. "4000123412341234=2512".
 * - Secure reading (VantorelDataHandler): an encrypted record is delivered as the head sent
 *   it, a frame starting with VANTOREL_RECORD_STX (STX, two length bytes, the record,
 *   check bytes, ETX); what the record holds (its key serial number, masked and
 *   encrypted tracks) is the reader's. Plain track text starts with a sentinel ('%', ';').
 * @{
 */
/** First byte of an encrypted record delivered by secure reading. */
#define VANTOREL_RECORD_STX 0x02
/** First byte of a key event delivered by secure reading: {0x7B, key}. */
#define VANTOREL_KEY_EVENT 0x7B
#define VANTOREL_KEY_CANCEL 1    /**< key event: Cancel */
#define VANTOREL_KEY_BACKSPACE 2 /**< key event: Backspace */
#define VANTOREL_KEY_ENTER 3     /**< key event: Enter */
/** PIN_GetNumericOrAmount()'s entryMode for a numeric entry (sub-command 22). */
#define VANTOREL_ENTRY_NUMERIC 1
/** PIN_GetNumericOrAmount()'s entryMode for an amount entry (sub-command 23). */
#define VANTOREL_ENTRY_AMOUNT 2
/** @} */

/** Request of MSR_ManualInputCardData(). */
typedef struct ManualEntryRequest {
  unsigned char* result; /**< output, not null, at least 512 bytes */
  /** output, not null: bytes written to result (0 for an acknowledged entry) */
  int* resultLength;
  /** 0 or 1 (numbers, not characters). With 1, or with entryKind 3, the entry returns the
   * keyed data; otherwise the terminal's acknowledgement ends it. The virtual terminal
   * answers accordingly; what else the terminal does with it is its own. */
  unsigned char mode;
  unsigned char entryKind;       /**< 1, 2 or 3 (see mode); what each keys is the terminal's */
  unsigned char upperBound;      /**< not below lowerBound; otherwise passed unchanged */
  unsigned char lowerBound;      /**< passed unchanged */
  unsigned char selector;        /**< 0-3; as PinEntryRequest::selector */
  unsigned char optionBytes[16]; /**< as PinEntryRequest::optionBytes */
  /** @name The four values, each sent as 16 bits (low byte, then value / 256)
   * @{ */
  /** the four values, each sent as 16 bits (low byte, then value / 256) */
  int value1, value2, value3, value4;
  /** @} */
  unsigned char flagByte;     /**< as PinEntryRequest::flagByte */
  int promptLineCount;        /**< only the low byte counts: 0-10 lines of promptLines are sent */
  PromptLine promptLines[10]; /**< the lines to show; the first promptLineCount are used */
} ManualEntryRequest;

/** RSA private key (PKCS #1 fields) for PIN_GetNumericOrAmount(): big-endian numbers
 * right-aligned in their fields; 706 bytes with nothing between the fields. Keys up to
 * 1024 bits. The library keeps no copy and wipes what it derived from it. */
typedef struct RsaPrivateKey {
  /** modulus length in bits (at most 1024); each processed piece is (bits + 7) / 8 bytes */
  unsigned short bits;
  unsigned char modulus[128];         /**< n */
  unsigned char publicExponent[128];  /**< e */
  unsigned char privateExponent[128]; /**< d */
  unsigned char prime1[64];           /**< p */
  unsigned char prime2[64];           /**< q */
  unsigned char exponent1[64];        /**< d mod (p - 1) */
  unsigned char exponent2[64];        /**< d mod (q - 1) */
  unsigned char coefficient[64];      /**< q^-1 mod p */
} RsaPrivateKey;
/** @} */

/**
 * @defgroup connection Connection (Brixa_)
 * @brief Open, close and map the one connection of the process.
 *
 * A process has at most one connection. Opening performs two handshakes: the version
 * query 78 46 01 and the secure-head-off command 73 46 E1 01 30; both must be
 * acknowledged with a reply of more than 6 bytes.
 * @{
 */

/**
 * Opens the USB HID terminal with these ids and performs the two handshakes. Every later
 * exchange finds and opens the device afresh by these ids.
 *
 * @param vendorId  USB vendor id (the terminal's is 0x0ACD).
 * @param productId USB product id (the terminal's is 0x3910).
 * @retval 1   opened.
 * @retval 0   no such device, or a handshake failed (the device is closed again).
 * @retval 200 a connection is already open (nothing changed).
 */
VANTOREL_API unsigned char VANTOREL_CALL Brixa_OpenHid(int vendorId,
                                                       int productId) VANTOREL_NOEXCEPT;

/**
 * Opens COM `port` with these line settings and performs the two handshakes. On Linux COM n
 * is /dev/ttyS<n-1> unless Brixa_MapPort() maps it elsewhere. The port is opened
 * exclusively. Arguments are checked in the order port, baudRate, parity, dataBits,
 * stopBits.
 *
 * @param port     1-100.
 * @param baudRate 1200, 2400, 4800, 9600, 14400, 19200, 28800, 38400, 57600 or 115200.
 * @param parity   the character 'N', 'E' or 'O' (upper case only).
 * @param stopBits 1 or 2.
 * @param dataBits 7 or 8.
 * @retval 1   opened.
 * @retval 0   the port cannot be opened, or a handshake failed (the port is closed again
 *             and can be opened again at once).
 * @retval 99  an argument is out of range.
 * @retval 200 a connection is already open (tested first: nothing changed).
 */
VANTOREL_API unsigned char VANTOREL_CALL Brixa_OpenPort(int port, int baudRate, char parity,
                                                        int stopBits,
                                                        int dataBits) VANTOREL_NOEXCEPT;

/**
 * Ends every long-running mode and closes the connection. Sends nothing. A capture or
 * secure reading in progress returns 1, a waiting PIN-pad or manual entry 0
 * (PIN_GetEncryptedData() 1), within one pass of its loop.
 *
 * @retval 1 a connection was closed.
 * @retval 0 none was open.
 */
VANTOREL_API unsigned char VANTOREL_CALL Brixa_Close(void) VANTOREL_NOEXCEPT;

/**
 * Maps COM `port` to a device (an extension of this library, export 87 of the Windows
 * DLL): a USB adapter, a pseudo-terminal, or on Windows another device name. Sends
 * nothing; works with or without a connection; takes effect at the next Brixa_OpenPort().
 *
 * @param port       1-100.
 * @param devicePath the device to open for this port, at most 255 characters; null or ""
 *                   restores the default (/dev/ttyS<port-1> on Linux, \\\\.\\COMn on
 *                   Windows).
 * @retval 1  mapped.
 * @retval 99 port out of range or path longer than 255 characters.
 * @since 1.10
 */
VANTOREL_API unsigned char VANTOREL_CALL Brixa_MapPort(int port,
                                                       const char* devicePath) VANTOREL_NOEXCEPT;

/** The timing profile every library of this kind has always used: the default. */
#define VANTOREL_TIMING_STANDARD 0
/** Reads end as soon as a complete reply has arrived; no fixed waits around the write. */
#define VANTOREL_TIMING_PROMPT 1

/**
 * Chooses the pacing of commands (export 91 of the Windows DLL); takes effect at the next
 * command. The bytes on the wire are the same in both profiles; only the time between them
 * changes.
 *
 * Standard (the default) keeps the waits described at the top of this header. Prompt sends
 * at once (no wait before the write: the library's lock already orders a command after a
 * polling loop's read) and reads at once (no wait after the write); a serial read ends as
 * soon as a complete reply frame (length, both check bytes, ETX) has arrived, and otherwise
 * at the same time-outs as the standard profile: the first byte is awaited 500 ms after the
 * write, so a silent or slow terminal fails, and a late reply is dropped, as it would be under
 * standard timing. Over HID the device's handle is kept while it works instead of
 * searching for the device before every command; a failed write or read searches again.
 *
 * The environment variable VANTOREL_TIMING, read when the library is loaded, sets the same
 * without a rebuild: "standard" or "prompt", optionally followed by ":" and the minimum gap
 * in milliseconds ("prompt:20"). An unknown value keeps the standard timing and says so in
 * the trace.
 *
 * @param profile         VANTOREL_TIMING_STANDARD or VANTOREL_TIMING_PROMPT.
 * @param minimumGapMs    least time between the end of one command and the next write,
 *                        0-10000 ms (0: none beyond the profile's own).
 * @retval 1  set.
 * @retval 99 an argument is out of range (nothing changed).
 * @since 1.12
 */
VANTOREL_API unsigned char VANTOREL_CALL Brixa_SetTiming(int profile,
                                                         int minimumGapMs) VANTOREL_NOEXCEPT;
/** @} */

/**
 * @defgroup device Device management (Brixa_)
 * @brief The terminal as a whole: version, serial and model numbers, LEDs, tone, audio,
 * restart, and the library's own version.
 *
 * Unless an export says otherwise: 201 when no connection is open (tested before the
 * arguments), 99 for a refused argument, 1 when the terminal acknowledged, otherwise the
 * mapped terminal answer: 0 for no reply, 99-110 for a refusal (@ref codes).
 * @{
 */

/**
 * Reads the terminal's firmware version (sends 78 46 01).
 *
 * A text of up to 505 bytes (a reply of up to 512) comes back whole. A longer one is not
 * cut to fit: it fails with 0 over serial and HID alike, `buffer` and `length` are left
 * alone, and the rest of the reply is read and dropped, so the next command gets its own.
 *
 * @param buffer receives the reply's data bytes as they stand (no terminator); room for
 *               505 bytes.
 * @param length receives their count (0-505).
 * @return 1, 0 (also for a text longer than 505 bytes), 99 (null pointer, or status 0xE1),
 *         100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL Brixa_GetVersion(char* buffer,
                                                          int* length) VANTOREL_NOEXCEPT;
/**
 * Reads the terminal's serial number (sends 78 46 02). A reply with more than 505 data
 * bytes fails whole, as for Brixa_GetVersion().
 *
 * @param buffer receives the reply's data bytes (no terminator); room for 505 bytes.
 * @param length receives their count.
 * @return 1, 0 (also for more than 505 bytes), 99 (null pointer, or status 0xE1), 100-110
 *         or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL Brixa_GetSerialNumber(char* buffer,
                                                               int* length) VANTOREL_NOEXCEPT;
/**
 * Reads the terminal's model number (sends 78 46 20). A reply with more than 505 data
 * bytes fails whole, as for Brixa_GetVersion().
 *
 * @param buffer receives the reply's data bytes (no terminator); room for 505 bytes.
 * @param length receives their count.
 * @return 1, 0 (also for more than 505 bytes), 99 (null pointer, or status 0xE1), 100-110
 *         or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL Brixa_GetModelNumber(char* buffer,
                                                              int* length) VANTOREL_NOEXCEPT;

/**
 * Writes the terminal's serial number (sends 78 46 03 and the 8 characters, without the
 * terminator).
 *
 * @param serialNumber zero-terminated text of exactly 8 characters.
 * @param serialLength must be 8 (checked before the text).
 * @return 1, 0, 99 (length not 8, text not 8 characters, null text, or status 0xE1),
 *         100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL Brixa_SetSerialNumber(const char* serialNumber,
                                                               int serialLength) VANTOREL_NOEXCEPT;

/**
 * Drives the LEDs (sends 76 46 01 and one byte: high nibble from the first selector,
 * low nibble from the second; selector values 0-4 give high nibbles 3, 4, 6, 5, 7 and low
 * nibbles 0, 4, 6, 5, 7).
 *
 * @param ledSelect1 0-4 (a number, not a character).
 * @param ledSelect2 0-4.
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL
Brixa_ControlLED(unsigned char ledSelect1, unsigned char ledSelect2) VANTOREL_NOEXCEPT;

/**
 * Plays a tone (sends 7B 46 02, then both values as 16-bit little-endian numbers).
 *
 * @param frequency 6-39999.
 * @param duration  0-65535.
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL Brixa_GenerateTone(int frequency,
                                                            int duration) VANTOREL_NOEXCEPT;

/**
 * Sets the audio (sends 7B 46 01 and the byte).
 *
 * @param audioSetting any byte, sent unchanged.
 * @return 1, 0, 99 (status 0xE1), 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL Brixa_ControlAudio(unsigned char audioSetting)
    VANTOREL_NOEXCEPT;

/**
 * Restarts the terminal (sends 78 46 0A "IRFW"). Over serial the command is only
 * written; over HID the exchange runs and its answer is ignored. The connection stays
 * open; over HID the next exchange finds the terminal again by its ids.
 *
 * @retval 1   sent (whatever the terminal did).
 * @retval 201 no connection.
 */
VANTOREL_API unsigned char VANTOREL_CALL Brixa_ReSet(void) VANTOREL_NOEXCEPT;

/**
 * The library's version, VANTOREL_VERSION_STRING. Needs no connection; sends nothing.
 *
 * @param buffer receives "1.11" and a terminating zero (5 bytes).
 * @param length receives 4.
 * @retval 1  written.
 * @retval 99 a null pointer.
 */
VANTOREL_API unsigned char VANTOREL_CALL Brixa_GetSdkVersion(char* buffer,
                                                             int* length) VANTOREL_NOEXCEPT;
/** @} */

/**
 * @defgroup drawing Drawing and display (Zelto_)
 * @brief Draw on the pad's 320 x 240 display and set its drawing state.
 *
 * Coordinates: x at most 319, y at most 239; only upper bounds are tested (negative values
 * pass and are sent as two bytes: the low byte, then the value / 256 truncated, so -1 is
 * FF 00). Colour, font, mode and attribute bytes are sent unchanged; their meaning is the
 * pad's. Text is sent as bytes, without terminator or conversion.
 *
 * Every export here returns 1 when the pad acknowledged; 201 without a connection; 99 for
 * a refused argument (or the pad's status 0xE1); otherwise 0 or 100-110 (@ref codes).
 * None tests a busy flag: all may be used during a capture or an entry.
 * @{
 */

/**
 * Sets the pen (sends 8A 46 10 and the seven bytes in order).
 * @param b1 first pen byte, sent unchanged.
 * @param b2 second pen byte.
 * @param b3 third pen byte.
 * @param b4 fourth pen byte.
 * @param b5 fifth pen byte.
 * @param b6 sixth pen byte.
 * @param b7 seventh pen byte.
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_SetPenColor(unsigned char b1, unsigned char b2,
                                                           unsigned char b3, unsigned char b4,
                                                           unsigned char b5, unsigned char b6,
                                                           unsigned char b7) VANTOREL_NOEXCEPT;
/**
 * Draws a line (sends 8A 46 11, x1 y1 x2 y2; waits 300 ms instead of 100 before writing).
 * @param x1 start x, at most 319.
 * @param y1 start y, at most 239.
 * @param x2 end x, at most 319.
 * @param y2 end y, at most 239.
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_DrawLine(int x1, int y1, int x2,
                                                        int y2) VANTOREL_NOEXCEPT;
/**
 * Draws a rectangle's outline (sends 8A 46 12, left top right bottom).
 * @param left   at most 319.
 * @param top    at most 239.
 * @param right  at most 319, not below left.
 * @param bottom at most 239, not below top.
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_DrawRectangle(int left, int top, int right,
                                                             int bottom) VANTOREL_NOEXCEPT;
/**
 * Fills a rectangle (sends 8A 46 22, left top right bottom).
 * @param left   at most 319.
 * @param top    at most 239.
 * @param right  at most 319, not below left.
 * @param bottom at most 239, not below top.
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_FillRectangle(int left, int top, int right,
                                                             int bottom) VANTOREL_NOEXCEPT;
/**
 * Draws an arc (sends 8A 46 13, x y and the three values, two bytes each).
 * @param x      at most 319.
 * @param y      at most 239.
 * @param value1 sent as 16 bits, unchecked; its meaning is the pad's.
 * @param value2 sent as 16 bits, unchecked.
 * @param value3 sent as 16 bits, unchecked.
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_DrawArc(int x, int y, int value1, int value2,
                                                       int value3) VANTOREL_NOEXCEPT;
/**
 * Fills an arc (sends 8A 46 23, x y and the three values, two bytes each).
 * @param x      at most 319.
 * @param y      at most 239.
 * @param value1 sent as 16 bits, unchecked.
 * @param value2 sent as 16 bits, unchecked.
 * @param value3 sent as 16 bits, unchecked.
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_FillArc(int x, int y, int value1, int value2,
                                                       int value3) VANTOREL_NOEXCEPT;
/**
 * Sets the brush colour (sends 8A 46 20 and the three bytes).
 * @param c1 first colour byte, sent unchanged.
 * @param c2 second colour byte.
 * @param c3 third colour byte.
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_BrushColor(unsigned char c1, unsigned char c2,
                                                          unsigned char c3) VANTOREL_NOEXCEPT;
/**
 * Sets the font (sends 8A 46 40 and the six bytes in order).
 * @param f1 first font byte, sent unchanged.
 * @param f2 second font byte.
 * @param f3 third font byte.
 * @param f4 fourth font byte.
 * @param f5 fifth font byte.
 * @param f6 sixth font byte.
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_SetFont(unsigned char f1, unsigned char f2,
                                                       unsigned char f3, unsigned char f4,
                                                       unsigned char f5,
                                                       unsigned char f6) VANTOREL_NOEXCEPT;
/**
 * Sets the text colour (sends 8A 46 41 and the three bytes).
 * @param c1 first colour byte, sent unchanged.
 * @param c2 second colour byte.
 * @param c3 third colour byte.
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_SetTextColor(unsigned char c1, unsigned char c2,
                                                            unsigned char c3) VANTOREL_NOEXCEPT;
/**
 * Sets the background colour (sends 8A 46 42 and the three bytes).
 * @param c1 first colour byte, sent unchanged.
 * @param c2 second colour byte.
 * @param c3 third colour byte.
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL
Zelto_SetBackgroundColor(unsigned char c1, unsigned char c2, unsigned char c3) VANTOREL_NOEXCEPT;
/**
 * Selects the background mode (sends 8A 46 43 and the byte).
 * @param mode sent unchanged.
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_SelectBackgroundMode(unsigned char mode)
    VANTOREL_NOEXCEPT;
/**
 * Draws text at a point (sends 8A 46 4F, x y, length, then the text bytes).
 * @param x      at most 319.
 * @param y      at most 239.
 * @param length number of bytes of `text` to send; 0 or less sends none (the length field
 *               still carries the value). At most 1013, so that the command fits its
 *               buffer.
 * @param text   the bytes; may be null only when `length` is 0 or less.
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_DrawString(int x, int y, int length,
                                                          const char* text) VANTOREL_NOEXCEPT;
/**
 * Draws text in a rectangle (sends 8A 46 4E, left top right bottom, length, then the text
 * bytes). The rectangle's corners are not ordered: right may lie left of left.
 * @param left   at most 319.
 * @param top    at most 239.
 * @param right  at most 319.
 * @param bottom at most 239.
 * @param length number of bytes of `text`; 0 or less sends none; at most 1009.
 * @param text   the bytes; may be null only when `length` is 0 or less.
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_DrawStringInRectangle(
    int left, int top, int right, int bottom, int length, const char* text) VANTOREL_NOEXCEPT;
/**
 * Sets the clip area (sends 7A 46 03, left top right bottom, the four bytes).
 * @param left   at most 319.
 * @param top    at most 239.
 * @param right  at most 319, not below left.
 * @param bottom at most 239, not below top.
 * @param a1 first attribute byte, sent unchanged.
 * @param a2 second attribute byte.
 * @param a3 third attribute byte.
 * @param a4 fourth attribute byte.
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_SetClipArea(int left, int top, int right, int bottom,
                                                           unsigned char a1, unsigned char a2,
                                                           unsigned char a3,
                                                           unsigned char a4) VANTOREL_NOEXCEPT;
/**
 * Creates a display region (sends 7A 46 04, id, kind, attribute, left top right bottom,
 * length, then the data). A touch on a region is reported during a capture over HID as
 * the event (122, regionId).
 * @param regionId   0-254.
 * @param regionKind 0, 1, 2, 3 or 17 (0x11).
 * @param attribute  sent unchanged.
 * @param left       at most 319.
 * @param top        at most 239.
 * @param right      at most 319, not below left.
 * @param bottom     at most 239, not below top.
 * @param length     number of bytes of `data`; 0 or less sends none; at most 1006.
 * @param data       the bytes; may be null only when `length` is 0 or less.
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_CreateRegion(
    unsigned char regionId, unsigned char regionKind, unsigned char attribute, int left, int top,
    int right, int bottom, int length, const unsigned char* data) VANTOREL_NOEXCEPT;
/**
 * Sets the backlight (sends 8A 53 80 01 and the level).
 * @param level 0-200.
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_SetBackLight(unsigned char level) VANTOREL_NOEXCEPT;
/**
 * Reads the backlight level (sends 8A 52 80; needs a reply of at least 7 bytes).
 * @param level receives one byte, the reply's byte 6.
 * @return 1, 0, 99 (null pointer, or status 0xE1), 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_ReviewBackLight(unsigned char* level)
    VANTOREL_NOEXCEPT;
/** @} */

/**
 * @defgroup pictures Pictures (Zelto_)
 * @brief Read, show and store pictures. Picture data are opaque bytes whose format is the
 * pad's. A rectangle is refused (99) when left or right is above 319, top or bottom above
 * 239, right below left or bottom below top.
 *
 * Return codes as for drawing: 1, 201, 99, or 0 / 100-110 for the pad's answer.
 * @{
 */

/**
 * Reads the picture of a rectangle (sends 8A 46 60, left top right bottom). The reply is
 * read straight into `buffer` (over HID with 1024 ms for each report) and accepted when
 * byte 3 or 4 is ACK; its data then move to the start of `buffer`. A reply longer than
 * `bufferSize` is not cut to fit: it fails with 0 over serial and HID alike, is read to its
 * end and dropped (the next command gets its own reply), `buffer` is cleared, nothing
 * beyond `bufferSize` is written and `length` is left alone.
 * @param left       at most 319.
 * @param top        at most 239.
 * @param right      at most 319, not below left.
 * @param bottom     at most 239, not below top.
 * @param buffer     receives the raw reply first (also on a refusal) and, on success, the
 *                   picture data at its start; cleared when the reply does not fit.
 * @param bufferSize size of `buffer` in bytes, at least 7; the reply frame is up to 8
 *                   bytes longer than the picture data.
 * @param length     receives the number of picture data bytes (only on success).
 * @return 1, 0 (also for a reply longer than bufferSize), 99 (bad rectangle, null pointer,
 *         bufferSize below 7, or status 0xE1), 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_GetPicture(int left, int top, int right, int bottom,
                                                          unsigned char* buffer, int bufferSize,
                                                          unsigned int* length) VANTOREL_NOEXCEPT;
/**
 * Shows picture data in a rectangle (sends 8A 46 61, left top right bottom, the data; in
 * a long frame when the command passes 65534 bytes).
 * @param left   at most 319.
 * @param top    at most 239.
 * @param right  at most 319, not below left.
 * @param bottom at most 239, not below top.
 * @param data   `length` bytes, not null.
 * @param length 1 to 16777204 (0xFFFFFF less the 11 command bytes).
 * @return 1, 0 (also when the frame cannot be allocated), 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_ShowPicture(int left, int top, int right, int bottom,
                                                           const unsigned char* data,
                                                           unsigned int length) VANTOREL_NOEXCEPT;
/**
 * Stores picture data in the pad (sends 8A 46 70, number 00, kind 00, the data; in a long
 * frame when the command passes 65534 bytes).
 * @param pictureNumber 0-255, the number to store it under.
 * @param pictureKind   0-2.
 * @param data          `length` bytes, not null.
 * @param length        1 to 16777208 (0xFFFFFF less the 7 command bytes).
 * @return 1, 0 (also when the frame cannot be allocated), 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_StorePicture(unsigned char pictureNumber,
                                                            unsigned char pictureKind,
                                                            const unsigned char* data,
                                                            unsigned int length) VANTOREL_NOEXCEPT;
/**
 * Shows a stored picture in a rectangle (sends 8A 46 71, number 00, left top right bottom).
 * @param pictureNumber 0-255.
 * @param left   at most 319.
 * @param top    at most 239.
 * @param right  at most 319, not below left.
 * @param bottom at most 239, not below top.
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_ShowStorePicture(unsigned char pictureNumber,
                                                                int left, int top, int right,
                                                                int bottom) VANTOREL_NOEXCEPT;
/**
 * Lists the stored pictures (sends 8A 46 72). The reply's byte 4 counts two-byte entries;
 * only entries that arrived whole are handed on.
 * @param buffer receives the two-byte entries; room for 510 bytes.
 * @param count  receives the number of bytes written (twice the entries, 0-510).
 * @return 1, 0, 99 (null pointer, or status 0xE1), 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_RetrieveStorePicture(unsigned char* buffer,
                                                                    int* count) VANTOREL_NOEXCEPT;
/** @} */

/**
 * @defgroup capture Signature capture (Zelto_)
 * @brief Capture a signature, streaming points to the point handler, and control the
 * capture from other threads.
 *
 * The control exports return 1 when the pad acknowledged, 201 without a connection,
 * otherwise 0, 99 (status 0xE1) or 100-110. None tests a busy flag.
 * @{
 */

/**
 * Registers the point handler and its context. Needs no connection; may be called at any
 * time, also from the handler. Kept across captures and connections.
 * @param handler called with the points; null delivers nothing.
 * @param context handed back to the handler; a null context switches point decoding off
 *                (events still arrive).
 * @retval 1 always.
 */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_AddPointHandle(VantorelPointHandler handler,
                                                              void* context) VANTOREL_NOEXCEPT;
/** Point format 1: absolute points (pen packets 9C/8C). */
#define VANTOREL_POINT_FORMAT_ABSOLUTE 1
/** Point format 2: relative moves (pen packets 90/80). */
#define VANTOREL_POINT_FORMAT_RELATIVE 2
/** Point format 4: absolute points (pen packets 90/80). */
#define VANTOREL_POINT_FORMAT_ABSOLUTE_4 4
/** First value of a point-handler pair that reports a touched region: (122, region). */
#define VANTOREL_POINT_EVENT_REGION 122
/** First value of a point-handler pair that reports a pad key: (123, 1-3). */
#define VANTOREL_POINT_EVENT_KEY 123
/**
 * Starts a capture (sends 7A 46 10, format, the seven bytes; without the 100 ms wait) and,
 * once the pad acknowledges, blocks the calling thread, delivering points to the point
 * handler, until the capture is ended by an acknowledged Zelto_ExitCapture(), Brixa_Close()
 * or a new Zelto_StartCapture() (which ends this one whatever its own answer).
 *
 * Point formats: 1 absolute (packets 9C/8C), 2 relative moves (90/80), 4 absolute (90/80).
 * In format 2 every stroke starts from (0, 0) and a move is at most 511, so the pad reaches a
 * stroke's first point farther out in several packets: those stops are not delivered (the
 * first point is where the pen touched; a stroke that truly starts exactly 511 from the
 * origin on an axis loses that first point). Formats 0, 3 and 5 are sent but no packet of
 * theirs is decoded: no points arrive (over HID events still do). A run containing a packet
 * the format does not define is dropped whole.
 *
 * The seven capture bytes follow the format unchanged. What they set (sampling, pen or
 * region behaviour) is the pad's; the virtual pad keeps them and acts on none, and the
 * examples send zeros.
 *
 * @param format       0-5 (checked before the busy flags): VANTOREL_POINT_FORMAT_ABSOLUTE,
 *                     VANTOREL_POINT_FORMAT_RELATIVE, VANTOREL_POINT_FORMAT_ABSOLUTE_4 or a
 *                     format whose packets are not decoded.
 * @param captureByte1 sent unchanged; its meaning is the pad's.
 * @param captureByte2 sent unchanged.
 * @param captureByte3 sent unchanged.
 * @param captureByte4 sent unchanged.
 * @param captureByte5 sent unchanged.
 * @param captureByte6 sent unchanged.
 * @param captureByte7 sent unchanged.
 * @retval 1   the capture ran and has ended.
 * @retval 201 no connection.
 * @retval 99  format above 5 (or the pad's status 0xE1).
 * @retval 202 a PIN-pad or manual entry is waiting.
 * @retval 204 secure reading is running.
 * @retval 207 an encrypted data entry is waiting.
 * @return otherwise 0 or 100-110: the pad refused or did not answer the start; no capture.
 */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_StartCapture(
    unsigned char format, unsigned char captureByte1, unsigned char captureByte2,
    unsigned char captureByte3, unsigned char captureByte4, unsigned char captureByte5,
    unsigned char captureByte6, unsigned char captureByte7) VANTOREL_NOEXCEPT;
/**
 * Continues a paused capture (sends 7A 46 11).
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_ContinueCapture(void) VANTOREL_NOEXCEPT;
/**
 * Pauses the capture (sends 7A 46 12).
 * @param value receives the reply's bytes 4-7 as a little-endian 32-bit number (its
 *              meaning is the pad's).
 * @return 1, 0, 99 (null pointer, or status 0xE1), 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_PauseCapture(unsigned int* value) VANTOREL_NOEXCEPT;
/**
 * Asks the pad for its point count (sends 7A 46 17).
 * @param count receives the reply's bytes 4-7 as a little-endian 32-bit number.
 * @return 1, 0, 99 (null pointer, or status 0xE1), 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_GetPointCount(unsigned int* count) VANTOREL_NOEXCEPT;
/**
 * Clears the signature on the pad (sends 7A 46 19).
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_ClearSignature(void) VANTOREL_NOEXCEPT;
/**
 * Ends the capture (sends 7A 46 1F). On acknowledgement the blocked Zelto_StartCapture()
 * returns 1; on a refusal the capture goes on.
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_ExitCapture(void) VANTOREL_NOEXCEPT;
/**
 * Calibrates the pen (sends 7A 46 01).
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_CalibrateDevice(void) VANTOREL_NOEXCEPT;
/**
 * Reads a sign-format block (sends 7A 46 20-23 for blocks 1-4). The reply is read
 * straight into `buffer` (over HID with 1024 ms for each report) and accepted when byte 3
 * or 4 is ACK; its data then move to the start of `buffer`. A reply longer than
 * `bufferSize` (a block of more than `bufferSize` - 7 bytes, or - 8 in the long layout) is
 * not cut to fit: it fails with 0 over serial and HID alike, is read to its end and dropped
 * (the next command gets its own reply), `buffer` is cleared, nothing beyond `bufferSize`
 * is written and `length` is left alone.
 * @param formatNumber 1-4.
 * @param buffer       receives the raw reply first (also on a refusal), on success the
 *                     block's data at its start; cleared when the reply does not fit.
 * @param bufferSize   size of `buffer`, at least 7; the reply frame is up to 8 bytes longer
 *                     than the block.
 * @param length       receives the block's length (only on success).
 * @return 1, 0 (also for a reply longer than bufferSize), 99 (format number, null pointer,
 *         bufferSize below 7, or status 0xE1), 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL
Zelto_GetSignFormat(int formatNumber, unsigned char* buffer, unsigned int bufferSize,
                    unsigned int* length) VANTOREL_NOEXCEPT;
/**
 * Writes a sign-format block (sends 7A 46 30-33 for blocks 1-4, then the data; in a long
 * frame when the command passes 65534 bytes).
 * @param formatNumber 1-4.
 * @param data         `length` bytes; may be null only when `length` is 0.
 * @param length       0 to 239990.
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL Zelto_SetSignFormat(int formatNumber,
                                                             const unsigned char* data,
                                                             unsigned int length) VANTOREL_NOEXCEPT;
/** @} */

/**
 * @defgroup securereading Secure reading (MSR_)
 * @brief Switch the encrypting read head on and receive card data and PIN-pad keys.
 * @{
 */

/**
 * Registers the card-data handler and its context. Needs no connection; may be called at
 * any time (the next delivery uses the new handler). Kept across connections.
 * @param handler called with card data and key events; while it is null, deliveries are
 *                dropped.
 * @param context handed back to the handler unchanged.
 * @retval 1 always.
 */
VANTOREL_API unsigned char VANTOREL_CALL MSR_AddDataHandle(VantorelDataHandler handler,
                                                           int context) VANTOREL_NOEXCEPT;
/**
 * Switches secure reading on (sends 73 46 E1 01 '1', then 73 53 1A 01 '1' to set the
 * output setting, then 75 46 82 to clear the key buffer) and blocks the calling thread,
 * reading unsolicited card data and polling the PIN pad's key (75 46 81) about every
 * 50 ms plus the exchanges' time, until MSR_DisableSecureHead() or Brixa_Close(). Every
 * swipe and every Cancel, Backspace or Enter key goes to the card-data handler.
 * @retval 1   reading was switched on and has ended.
 * @retval 201 no connection.
 * @retval 202 a PIN-pad or manual entry is waiting.
 * @retval 204 secure reading is already running.
 * @retval 205 a capture is running.
 * @retval 207 an encrypted data entry is waiting.
 * @return otherwise 0, 99 or 100-110: a switch-on command was refused or not answered.
 */
VANTOREL_API unsigned char VANTOREL_CALL MSR_EnableSecureHead(void) VANTOREL_NOEXCEPT;
/**
 * Switches secure reading off (waits 200 ms, sends 73 46 E1 01 '0'). The reading loop ends
 * whatever the terminal answers. May be called when reading is not running (the command
 * is sent all the same).
 * @return 1, 0, 99, 100-110 (the terminal's answer to the command) or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL MSR_DisableSecureHead(void) VANTOREL_NOEXCEPT;
/** @} */

/**
 * @defgroup settings Card reader settings (MSR_)
 * @brief Thirty exports that read and write the reader's and the secure head's settings.
 *
 * Each is one exchange of class 0x73: getters send 73 52 sub, setters 73 53 sub 01 value.
 * Every member, setters included, succeeds only on an acknowledged reply of more than 6
 * bytes. Setting values are single bytes, for most settings a character; where a setter
 * checks a range it is given as characters ('0' is 0x30). Their meaning inside the reader
 * is the reader's.
 *
 * Output shapes, written only on success:
 * - one-byte getters write one byte (the reply's byte 6);
 * - block getters write the reply's data bytes (up to 505) and their count;
 * - a getter's reply longer than 512 bytes (a block of more than 505) is not cut to fit:
 *   it fails with 0 over serial and HID alike, writes nothing, and its rest is read and
 *   dropped;
 * - counted getters write as many bytes as the reply's count byte says (up to 255) and
 *   that count; a reply shorter than its count byte claims is a failure (0);
 * - MSR_GetEncryptedData() writes 8 bytes and the count 8.
 *
 * Return codes: 1; 201 without a connection (tested before the arguments); 99 for a value
 * out of range, a wrong block length, a null pointer (or the reader's status 0xE1);
 * otherwise 0 or 100-110 (@ref codes). No member tests a busy flag: all may be used
 * during secure reading, a capture or an entry.
 * @{
 */

/**
 * Reads the output setting (73 52 1A), which MSR_EnableSecureHead() sets to '1'.
 * @param value receives one byte.
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL MSR_GetOutputSetting(unsigned char* value)
    VANTOREL_NOEXCEPT;
/**
 * Reads the decoding setting (73 52 1D).
 * @param value receives one byte (MSR_SetDecodingSetting() writes '0'-'4').
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL MSR_GetDecodingSetting(unsigned char* value)
    VANTOREL_NOEXCEPT;
/**
 * Writes the decoding setting (73 53 1D 01 value).
 * @param value the characters '0'-'4' (0x30-0x34).
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL MSR_SetDecodingSetting(unsigned char value)
    VANTOREL_NOEXCEPT;
/**
 * Reads all settings as one block (73 52 1F).
 * @param buffer receives the block; room for 505 bytes.
 * @param length receives its length (0-505).
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL MSR_GetAllSettings(unsigned char* buffer,
                                                            int* length) VANTOREL_NOEXCEPT;
/**
 * Writes the encryption setting (73 53 4C 01 value).
 * @param value the characters '0'-'2'.
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL MSR_SetEncryption(unsigned char value) VANTOREL_NOEXCEPT;
/**
 * Reads the reader's serial number (73 52 4E), a counted block.
 * @param buffer receives the serial number; room for 255 bytes.
 * @param length receives its length (0-255).
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL MSR_SerialNumber(unsigned char* buffer,
                                                          int* length) VANTOREL_NOEXCEPT;
/**
 * Reads the key model (73 52 58).
 * @param value receives one byte (MSR_SetKeyModel() writes '0'-'1').
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL MSR_GetKeyModel(unsigned char* value) VANTOREL_NOEXCEPT;
/**
 * Writes the key model (73 53 58 01 value).
 * @param value the characters '0'-'1'.
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL MSR_SetKeyModel(unsigned char value) VANTOREL_NOEXCEPT;
/**
 * Reads the 8-byte encrypted data block (73 52 74). A reply too short to hold all 8 bytes
 * is a failure (0).
 * @param buffer receives 8 bytes.
 * @param length receives 8.
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL MSR_GetEncryptedData(unsigned char* buffer,
                                                              int* length) VANTOREL_NOEXCEPT;
/**
 * Writes the 8-byte encrypted data block (73 53 74 08 and the bytes).
 * @param data   8 bytes, not null; sent as they are, never kept.
 * @param length exactly 8.
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL MSR_SetEncryptedData(const unsigned char* data,
                                                              int length) VANTOREL_NOEXCEPT;
/**
 * Loads the 16-byte device key (73 53 76 10 and the bytes).
 * @param key    16 bytes, not null; sent as they are, never kept or logged.
 * @param length exactly 16.
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL MSR_LoadDeviceKey(const unsigned char* key,
                                                           int length) VANTOREL_NOEXCEPT;
/**
 * Reads the security level (73 52 7E).
 * @param value receives one byte.
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL MSR_GetSecurityLevel(unsigned char* value)
    VANTOREL_NOEXCEPT;
/**
 * Reads the reader's output status (73 52 E2).
 * @param value receives one byte.
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL MSR_GetMSROutputStatus(unsigned char* value)
    VANTOREL_NOEXCEPT;
/**
 * Reads the secure head's firmware version (73 52 22) as a block.
 * @param buffer receives the block; room for 505 bytes.
 * @param length receives its length (0-505).
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL MSR_GetSecureHeadFirmware(unsigned char* buffer,
                                                                   int* length) VANTOREL_NOEXCEPT;
/**
 * Reads the secure head's pre-PAN setting (73 52 49).
 * @param value receives one byte.
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL MSR_ReviewSecureHeadPrePANID(unsigned char* value)
    VANTOREL_NOEXCEPT;
/**
 * Reads the secure head's post-PAN setting (73 52 4A).
 * @param value receives one byte.
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL MSR_ReviewSecureHeadPostPANID(unsigned char* value)
    VANTOREL_NOEXCEPT;
/**
 * Reads the secure head's PAN mask setting (73 52 4B).
 * @param value receives one byte.
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL MSR_ReviewSecureHeadMaskPAN(unsigned char* value)
    VANTOREL_NOEXCEPT;
/**
 * Reads the key serial number and counter (73 52 51), a counted block.
 * @param buffer receives the bytes; room for 255 bytes.
 * @param length receives their count (0-255).
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL MSR_ReviewKSNAndCountID(unsigned char* buffer,
                                                                 int* length) VANTOREL_NOEXCEPT;
/**
 * Writes the secure head's pre-PAN setting (73 53 49 01 value).
 * @param value any byte, sent unchanged.
 * @return 1, 0, 99 (status 0xE1), 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL MSR_SetSecureHeadPrePANID(unsigned char value)
    VANTOREL_NOEXCEPT;
/**
 * Writes the secure head's post-PAN setting (73 53 4A 01 value).
 * @param value any byte, sent unchanged.
 * @return 1, 0, 99 (status 0xE1), 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL MSR_SetSecureHeadPostPANID(unsigned char value)
    VANTOREL_NOEXCEPT;
/**
 * Writes the secure head's PAN mask setting (73 53 4B 01 value).
 * @param value any byte, sent unchanged.
 * @return 1, 0, 99 (status 0xE1), 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL MSR_SetSecureHeadMaskPAN(unsigned char value)
    VANTOREL_NOEXCEPT;
/**
 * Writes the expiration-data setting (73 53 50 01 value).
 * @param value the characters '0'-'1'.
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL MSR_SetExpirationData(unsigned char value)
    VANTOREL_NOEXCEPT;
/**
 * Reads the data output format (73 52 E3).
 * @param value receives one byte (MSR_SetDataOutputFormat() writes '0'-'2').
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL MSR_GetDataOutputFormat(unsigned char* value)
    VANTOREL_NOEXCEPT;
/**
 * Writes the data output format (73 53 E3 01 value).
 * @param value the characters '0'-'2'.
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL MSR_SetDataOutputFormat(unsigned char value)
    VANTOREL_NOEXCEPT;
/**
 * Writes the encrypted output format (73 53 85 01 value).
 * @param value the characters '0'-'1'.
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL MSR_SetOutputEncryptedFormat(unsigned char value)
    VANTOREL_NOEXCEPT;
/**
 * Writes the encryption options (73 53 84 01 mask): each non-zero flag sets its bit, the
 * first bit 0 (1) to the fourth bit 3 (8); the bare mask 0x00-0x0F is sent.
 * @param flag1 non-zero sets bit 0.
 * @param flag2 non-zero sets bit 1.
 * @param flag3 non-zero sets bit 2.
 * @param flag4 non-zero sets bit 3.
 * @return 1, 0, 99 (status 0xE1), 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL
MSR_SetEncryptOption(unsigned char flag1, unsigned char flag2, unsigned char flag3,
                     unsigned char flag4) VANTOREL_NOEXCEPT;
/**
 * Writes the hash options (73 53 5C 01 digit): the flags fold into a mask 0-7 as for
 * MSR_SetEncryptOption(), sent as the character '0' + mask ('0'-'7').
 * @param flag1 non-zero sets bit 0.
 * @param flag2 non-zero sets bit 1.
 * @param flag3 non-zero sets bit 2.
 * @return 1, 0, 99 (status 0xE1), 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL MSR_SetHashOption(unsigned char flag1, unsigned char flag2,
                                                           unsigned char flag3) VANTOREL_NOEXCEPT;
/**
 * Writes the mask options (73 53 86 01 mask): the flags fold into the bare mask 0x00-0x07.
 * @param flag1 non-zero sets bit 0.
 * @param flag2 non-zero sets bit 1.
 * @param flag3 non-zero sets bit 2.
 * @return 1, 0, 99 (status 0xE1), 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL MSR_SetMaskOption(unsigned char flag1, unsigned char flag2,
                                                           unsigned char flag3) VANTOREL_NOEXCEPT;
/**
 * Writes the data-PIN-or-data-key setting (73 53 E4 01 value).
 * @param value the characters '0'-'1'.
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL MSR_SetDataPINorDataKey(unsigned char value)
    VANTOREL_NOEXCEPT;
/**
 * Reads the data-PIN-or-data-key setting (73 52 E4). The only export whose verb starts in
 * lower case.
 * @param value receives one byte (MSR_SetDataPINorDataKey() writes '0'-'1').
 * @return 1, 0, 99, 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL MSR_getDataPINorDataKey(unsigned char* value)
    VANTOREL_NOEXCEPT;
/** @} */

/**
 * @defgroup manualentry Manual card entry (MSR_)
 * @brief The cardholder keys card data on the PIN pad.
 * @{
 */

/**
 * Sends the entry (75 46 40, a 32-byte header and the prompt lines; without the 100 ms
 * wait) and, once the terminal acknowledges, blocks until it answers. An acknowledged
 * entry (mode 0 with entryKind 1 or 2) ends on the terminal's ACK; a data-returning entry
 * (mode 1, or entryKind 3) ends on its first message longer than 10 bytes, which is
 * returned whole (frame bytes included, no terminator). A NAK ends either with its status.
 * PIN_CancelPIN() asks the terminal to end the entry.
 *
 * @param request the entry. Its lines must fit 480 bytes (21 + text length each; a text
 *                at most 234 bytes). `result` receives up to 512 bytes; `resultLength`
 *                the count (0 for an acknowledged entry).
 * @retval 1   the terminal returned the data or acknowledged the entry.
 * @retval 0   ended from outside (Brixa_Close(), or a PIN_GetEncryptedData() whose wait
 *             started), or no reply to the command.
 * @retval 99  mode not 0/1, entryKind not 1-3, upperBound below lowerBound, selector
 *             above 3, more than 10 lines, a null pointer or lines too long (or status 0xE1).
 * @retval 201 no connection.
 * @retval 202 a PIN-pad or manual entry is already waiting.
 * @retval 204 secure reading is being switched on or is running (not once it was disabled
 *             or the connection closed, even while the enable call is still returning).
 * @retval 205 a capture is running.
 * @return otherwise 100-110: the terminal refused the command or the entry.
 */
VANTOREL_API unsigned char VANTOREL_CALL MSR_ManualInputCardData(ManualEntryRequest request)
    VANTOREL_NOEXCEPT;
/** @} */

/**
 * @defgroup pinpad PIN pad (PIN_)
 * @brief The PIN-pad entries and the key commands.
 *
 * An entry sends its command without the 100 ms wait; once the terminal acknowledges it
 * the call blocks, reading what the terminal sends about every 100 ms, until a data
 * message (more than 10 bytes with ACK) or a refusal (more than 6 bytes with NAK, or ACK
 * followed by 0x15) arrives, or the entry is ended from outside. There is no time-out.
 * Prompt lines travel as 21 + n bytes each (n at most 234); the whole command body must
 * fit 512 bytes, else 99. Entered digits, PIN blocks and card numbers are secrets: never
 * log what the entries return.
 * @{
 */

/**
 * PIN block entry (75 46 07 and a 32-byte header, 48 with an account number, then the
 * lines).
 *
 * @param request mode '0' or '1' (characters); upperBound and lowerBound 4-12, upper not
 *                below lower; accountNumber "" or exactly 16 digits '0'-'9'; selector 0-3;
 *                0-10 lines. `result` receives the message's data bytes and a zero (room
 *                for 506 bytes), `resultLength` their count.
 * @retval 1   the terminal returned the PIN block.
 * @retval 0   ended from outside (Brixa_Close(), a PIN_GetEncryptedData() whose wait
 *             started), no reply, or a refusal reading ACK followed by 0x15.
 * @retval 99  an argument is out of range or null (or status 0xE1).
 * @retval 201 no connection.
 * @retval 202 a PIN-pad or manual entry is already waiting.
 * @retval 204 secure reading is running.
 * @retval 205 a capture is running.
 * @return otherwise 100-110: the terminal refused the command or the entry (105 for the
 *         virtual terminal's cancelled entry).
 */
VANTOREL_API unsigned char VANTOREL_CALL PIN_GetPINBlock(PinEntryRequest request) VANTOREL_NOEXCEPT;
/**
 * Asks the terminal to end the waiting entry (sends 75 46 09; over serial writes only,
 * over HID reads nothing). Touches no flag: the waiting call ends with whatever the
 * terminal answers.
 * @retval 1   sent.
 * @retval 201 no connection.
 */
VANTOREL_API unsigned char VANTOREL_CALL PIN_CancelPIN(void) VANTOREL_NOEXCEPT;
/**
 * Numeric or amount entry (75 46 22 for entryMode 1, 23 for 2, then the bounds in clear
 * and the prompt message passed through the RSA private-key operation with `key`, in
 * pieces of 116 bytes). The prompt message (28 bytes and the lines) must fit 256 bytes.
 *
 * @param entryMode 1 or 2 (numbers).
 * @param request   upperBound and lowerBound 4-20, upper not below lower; selector 0-3;
 *                  0-10 lines; mode and accountNumber are ignored. `resultLength` receives
 *                  the answer's first data byte (0-255, not a count); `result` the
 *                  following data bytes up to the first 'F' (0x46) and a zero (room for
 *                  506 bytes).
 * @param key       the private key (up to 1024 bits) whose public half the terminal holds.
 * @retval 1   the terminal returned the value.
 * @retval 0   the private-key operation failed (key above 1024 bits, or a prompt piece
 *             not below the modulus; nothing sent), ended from outside, no reply, or ACK
 *             followed by 0x15.
 * @retval 99  an argument is out of range or null, or the lines do not fit (or status 0xE1).
 * @retval 201 no connection.
 * @retval 202 a PIN-pad or manual entry is already waiting.
 * @retval 204 secure reading is running.
 * @retval 205 a capture is running.
 * @return otherwise 100-110: the terminal refused the command or the entry (102 for the
 *         virtual terminal when it cannot recover the prompt with its public key).
 */
VANTOREL_API unsigned char VANTOREL_CALL PIN_GetNumericOrAmount(
    unsigned char entryMode, PinEntryRequest request, RsaPrivateKey key) VANTOREL_NOEXCEPT;
/**
 * Card account entry (75 46 24 and a 30-byte header, then the lines).
 *
 * @param request upperBound and lowerBound 12-20, upper not below lower; selector 0-3;
 *                0-10 lines. `result` receives the message's data bytes after the first
 *                two, without terminator (room for 503 bytes); `resultLength` their count.
 * @retval 1   the terminal returned the account number.
 * @retval 0   ended from outside, no reply, or ACK followed by 0x15.
 * @retval 99  an argument is out of range or null (or status 0xE1).
 * @retval 201 no connection.
 * @retval 202 a PIN-pad or manual entry is already waiting.
 * @retval 204 secure reading is running.
 * @retval 205 a capture is running.
 * @return otherwise 100-110: the terminal refused the command or the entry.
 */
VANTOREL_API unsigned char VANTOREL_CALL PIN_GetCardAccount(PinEntryRequest request)
    VANTOREL_NOEXCEPT;
/**
 * Encrypted data entry (75 46 25, dataMode and a 31-byte header, then the lines). Runs
 * under its own flag: it does not refuse while another entry waits, and when its wait
 * starts it ends a waiting PIN-pad or manual entry (which returns 0); a later entry ends
 * this one in turn.
 *
 * @param dataMode sent unchanged.
 * @param request  upperBound and lowerBound 0-20, upper not below lower; selector 0-3;
 *                 0-10 lines. `result` and `resultLength` as for PIN_GetCardAccount().
 * @retval 1   the terminal returned the data, or the wait was ended from outside
 *             (Brixa_Close(), a later entry): then `result` and `resultLength` are
 *             untouched.
 * @retval 0   no reply, or ACK followed by 0x15.
 * @retval 99  an argument is out of range or null (or status 0xE1).
 * @retval 201 no connection.
 * @retval 204 secure reading is running.
 * @retval 205 a capture is running.
 * @return otherwise 100-110: the terminal refused the command or the entry.
 */
VANTOREL_API unsigned char VANTOREL_CALL
PIN_GetEncryptedData(unsigned char dataMode, PinEntryRequest request) VANTOREL_NOEXCEPT;
/**
 * Reads the last function key pressed (sends 75 46 81; needs a reply of more than 6
 * bytes).
 * @param keyName       receives "CANCEL", "BACKSPACE", "ENTER" or "" (another key byte)
 *                      with a terminating zero; room for 10 bytes.
 * @param keyNameLength receives 6, 9, 5 or 0.
 * @return 1, 0, 99 (null pointer, or status 0xE1), 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL PIN_GetKey(char* keyName,
                                                    int* keyNameLength) VANTOREL_NOEXCEPT;
/**
 * Clears the PIN pad's key buffer (sends 75 46 82; needs a reply of more than 6 bytes).
 * @return 1, 0, 99 (status 0xE1), 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL PIN_ClearKey(void) VANTOREL_NOEXCEPT;
/**
 * Sends the PIN pad's invalidate-key command (75 46 84; needs a reply of more than 6
 * bytes). What the terminal does with it is the terminal's.
 * @return 1, 0, 99 (status 0xE1), 100-110 or 201.
 */
VANTOREL_API unsigned char VANTOREL_CALL PIN_InvalidateKey(void) VANTOREL_NOEXCEPT;
/** @} */

/** @cond INTERNAL */
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

/** @endcond */

#endif /* VANTOREL_H */
