/**
 * @file vantorel.hpp
 * @brief A C++20 interface over the C exports of vantorel.h, header-only.
 *
 * - vantorel::terminal opens the connection in its constructor and closes it in its
 *   destructor. It is move-only: the library has one connection per process, so a second
 *   terminal fails to open (code 200, with the reason).
 * - Every failing call throws vantorel::error, a std::system_error whose code() is the
 *   return code in vantorel::category() and whose what() is the calling thread's
 *   Brixa_GetLastErrorText() (the OS error with the path, the terminal's status, ...).
 *   Exceptions rather than a returned std::error_code because a constructor that opens can
 *   only report through one, and because a terminal command that fails is seldom something
 *   a point-of-sale flow should walk past unnoticed. The codes stay comparable:
 *   `e.code() == vantorel::make_error_code(vantorel::errc::status_18)`.
 * - Texts and byte blocks are std::string, std::vector and std::span; entries return
 *   vantorel::secret_bytes, which wipes its bytes when destroyed and cannot be streamed.
 * - vantorel::capture and vantorel::secure_reading run the blocking exports on a thread of
 *   their own, call std::function handlers, and are stopped by stop() from any thread or by
 *   their destructor.
 * - The PIN-pad entries and manual entry take a time-out: when it passes the entry is
 *   cancelled (PIN_CancelPIN()) and, unless the terminal still delivered, the call throws
 *   vantorel::timeout_error.
 *
 * The handlers are the library's: one point handler and one card-data handler per process.
 * A capture or secure reading object registers its own for its lifetime. The card-data
 * handler's context is an int (it cannot carry a pointer on 64-bit hosts), so the objects
 * are found through a small registry instead.
 */
#ifndef VANTOREL_HPP
#define VANTOREL_HPP

#if __cplusplus < 202002L && !(defined(_MSVC_LANG) && _MSVC_LANG >= 202002L)
#error "vantorel.hpp needs C++20 (vantorel.h alone compiles as C and as any C++)"
#endif

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "vantorel.h"

namespace vantorel {

// ---- Errors ------------------------------------------------------------------------------

/** The return codes of vantorel.h as an enumeration for std::error_code comparisons. */
enum class errc : int {
  failure = VANTOREL_FAILURE,
  invalid_argument = VANTOREL_INVALID_ARGUMENT,
  status_ec = VANTOREL_STATUS_EC,
  status_6a_ee = VANTOREL_STATUS_6A_EE,
  status_c1_ed = VANTOREL_STATUS_C1_ED,
  status_81 = VANTOREL_STATUS_81,
  status_e8 = VANTOREL_STATUS_E8,
  status_18 = VANTOREL_STATUS_18,
  status_19 = VANTOREL_STATUS_19,
  status_03 = VANTOREL_STATUS_03,
  status_04 = VANTOREL_STATUS_04,
  status_05 = VANTOREL_STATUS_05,
  status_0d = VANTOREL_STATUS_0D,
  already_open = VANTOREL_ALREADY_OPEN,
  not_open = VANTOREL_NOT_OPEN,
  pin_entry_active = VANTOREL_PIN_ENTRY_ACTIVE,
  secure_head_active = VANTOREL_SECURE_HEAD_ACTIVE,
  capture_active = VANTOREL_CAPTURE_ACTIVE,
  encrypted_entry_active = VANTOREL_ENCRYPTED_ENTRY_ACTIVE,
};

/** The category of the library's return codes; message() is Brixa_ReturnCodeText(). */
inline const std::error_category& category() noexcept {
  class category_impl final : public std::error_category {
   public:
    const char* name() const noexcept override { return "vantorel"; }
    std::string message(int code) const override {
      return Brixa_ReturnCodeText(static_cast<unsigned char>(code));
    }
  };
  static const category_impl instance;
  return instance;
}

inline std::error_code make_error_code(errc code) noexcept {
  return {static_cast<int>(code), category()};
}

/** A call that did not return 1: code() is the return code, what() the reason. */
class error : public std::system_error {
 public:
  error(unsigned char code, const std::string& reason)
      : std::system_error(static_cast<int>(code), category(), reason) {}
  /** The return code as the C export returned it. */
  unsigned char return_code() const noexcept { return static_cast<unsigned char>(code().value()); }
};

/** An entry that was cancelled because its time-out passed; code() is how it ended. */
class timeout_error : public error {
 public:
  using error::error;
};

namespace detail {

/** Throws the calling thread's last error unless `code` is success. */
inline void check(unsigned char code) {
  if (code != VANTOREL_SUCCESS) throw error(code, Brixa_GetLastErrorText());
}

/** Zeroes a buffer in a way the compiler does not drop. */
inline void wipe(void* data, std::size_t size) noexcept {
  volatile unsigned char* p = static_cast<volatile unsigned char*>(data);
  for (std::size_t i = 0; i < size; ++i) p[i] = 0;
}

}  // namespace detail

// ---- Values ------------------------------------------------------------------------------

/** Bytes that are secret (PIN blocks, entered digits, card data): wiped on destruction,
 * never printed by this library. Copying is explicit (copy()). */
class secret_bytes {
 public:
  secret_bytes() = default;
  explicit secret_bytes(std::span<const std::uint8_t> bytes) : bytes_(bytes.begin(), bytes.end()) {}
  secret_bytes(secret_bytes&& other) noexcept : bytes_(std::move(other.bytes_)) {
    other.bytes_.clear();
  }
  secret_bytes& operator=(secret_bytes&& other) noexcept {
    if (this != &other) {
      clear();
      bytes_ = std::move(other.bytes_);
      other.bytes_.clear();
    }
    return *this;
  }
  secret_bytes(const secret_bytes&) = delete;
  secret_bytes& operator=(const secret_bytes&) = delete;
  ~secret_bytes() { clear(); }

  secret_bytes copy() const { return secret_bytes(bytes()); }
  std::span<const std::uint8_t> bytes() const noexcept { return bytes_; }
  std::size_t size() const noexcept { return bytes_.size(); }
  bool empty() const noexcept { return bytes_.empty(); }
  void clear() noexcept {
    detail::wipe(bytes_.data(), bytes_.size());
    bytes_.clear();
  }

 private:
  std::vector<std::uint8_t> bytes_;
};

/** Serial line settings; COM `com` is mapped to `path` first when a path is given. */
struct serial_port {
  /** COM `com` as it is mapped (on Linux /dev/ttyS<com-1> unless map_port() said else). */
  static serial_port number(int com) {
    serial_port port;
    port.com = com;
    return port;
  }
  /** A device path, reached through COM `com` (mapped to it). */
  static serial_port device(std::string path, int com = 1) {
    serial_port port;
    port.com = com;
    port.path = std::move(path);
    return port;
  }
  int com = 1;       ///< 1-100
  std::string path;  ///< a device path (a USB adapter, a pseudo-terminal); "" keeps COM's own
  int baud_rate = 9600;
  char parity = 'N';
  int stop_bits = 1;
  int data_bits = 8;
};

/** A USB HID terminal by its ids. */
struct hid_device {
  int vendor_id = 0x0ACD;
  int product_id = 0x3910;
};

/** A pen position; (-1, -1) is a pen-up; over HID (122, region) and (123, 1-3) are the
 * pad's events (see VantorelPointHandler). */
struct point {
  int x = 0;
  int y = 0;
  bool pen_up() const noexcept { return x == -1 && y == -1; }
  bool operator==(const point&) const = default;
};

/** One line of an entry's prompt (PromptLine). */
struct prompt_line {
  prompt_line() = default;
  prompt_line(std::string line, int column, int row) : text(std::move(line)), x(column), y(row) {}
  std::string text;  ///< at most 234 bytes
  int x = 0;
  int y = 0;
  std::array<std::uint8_t, 13> attributes{};  ///< see PromptLine::attributes
};

/** The fields of PinEntryRequest and ManualEntryRequest, without the output pointers. */
struct entry_request {
  std::uint8_t mode = '0';      ///< PIN block: '0' or '1'; manual entry: 0 or 1
  std::uint8_t entry_kind = 1;  ///< manual entry only: 1, 2 or 3
  std::uint8_t upper_bound = 12;
  std::uint8_t lower_bound = 4;
  std::string account_number;  ///< PIN block only: "" or 16 digits
  std::uint8_t selector = 0;   ///< 0-3
  std::array<std::uint8_t, 16> option_bytes{};
  std::array<int, 4> values{};  ///< value1-value4
  std::uint8_t flag_byte = 0;
  std::vector<prompt_line> lines;  ///< 0-10
};

/** A numeric or amount entry's answer: the first data byte and the digits. */
struct numeric_answer {
  int first_byte = 0;   ///< the answer's first data byte (the virtual pad: the digit count)
  secret_bytes digits;  ///< up to the first 'F'
};

/** PIN_GetNumericOrAmount()'s two entry modes. */
enum class numeric_kind : std::uint8_t {
  numeric = VANTOREL_ENTRY_NUMERIC,
  amount = VANTOREL_ENTRY_AMOUNT
};

/** A key of the PIN pad or of secure reading's key events. */
enum class key : std::uint8_t {
  none = 0,
  cancel = VANTOREL_KEY_CANCEL,
  backspace = VANTOREL_KEY_BACKSPACE,
  enter = VANTOREL_KEY_ENTER
};

/** The options of a signature capture (Zelto_StartCapture()). */
struct capture_options {
  std::uint8_t format = VANTOREL_POINT_FORMAT_ABSOLUTE;  ///< 0-5 (1, 2 and 4 deliver points)
  std::array<std::uint8_t, 7> bytes{};
};

// ---- What needs no connection --------------------------------------------------------------

/** The library's version (Brixa_GetSdkVersion()). */
inline std::string sdk_version() {
  char buffer[16] = {};
  int length = 0;
  detail::check(Brixa_GetSdkVersion(buffer, &length));
  return std::string(buffer, static_cast<std::size_t>(std::clamp(length, 0, 15)));
}
/** The text of a return code (Brixa_ReturnCodeText()). */
inline std::string return_code_text(unsigned char code) {
  return Brixa_ReturnCodeText(code);
}
/** The calling thread's last code and reason (Brixa_GetLastError(), ..Text()). */
inline unsigned char last_error() noexcept {
  return Brixa_GetLastError();
}
inline std::string last_error_text() {
  return Brixa_GetLastErrorText();
}
/** Maps COM `com` to a device path; "" restores the default (Brixa_MapPort()). */
inline void map_port(int com, const std::string& path) {
  detail::check(Brixa_MapPort(com, path.empty() ? nullptr : path.c_str()));
}
/** Command pacing (Brixa_SetTiming()): VANTOREL_TIMING_STANDARD or VANTOREL_TIMING_PROMPT. */
inline void set_timing(int profile, std::chrono::milliseconds minimum_gap = {}) {
  detail::check(Brixa_SetTiming(profile, static_cast<int>(minimum_gap.count())));
}

namespace detail {

inline std::string text_of(const char* data, int length, std::size_t room) {
  return std::string(data,
                     static_cast<std::size_t>(std::clamp<int>(length, 0, static_cast<int>(room))));
}
inline std::vector<std::uint8_t> bytes_of(const unsigned char* data, long length,
                                          std::size_t room) {
  const auto n = static_cast<std::size_t>(std::clamp<long>(length, 0, static_cast<long>(room)));
  return std::vector<std::uint8_t>(data, data + n);
}
inline std::uint8_t one_byte(unsigned char (*getter)(unsigned char*) VANTOREL_NOEXCEPT) {
  unsigned char value = 0;
  check(getter(&value));
  return value;
}

/** The C request of an entry: lines and account number point into `source`. */
struct c_entry {
  std::array<unsigned char, 512> result{};
  int length = -1;
  PinEntryRequest pin{};
  ManualEntryRequest manual{};

  explicit c_entry(const entry_request& source) {
    pin.result = manual.result = result.data();
    pin.resultLength = manual.resultLength = &length;
    pin.mode = manual.mode = source.mode;
    manual.entryKind = source.entry_kind;
    pin.upperBound = manual.upperBound = source.upper_bound;
    pin.lowerBound = manual.lowerBound = source.lower_bound;
    pin.accountNumber = source.account_number.c_str();
    pin.selector = manual.selector = source.selector;
    std::copy(source.option_bytes.begin(), source.option_bytes.end(), pin.optionBytes);
    std::copy(source.option_bytes.begin(), source.option_bytes.end(), manual.optionBytes);
    pin.value1 = manual.value1 = source.values[0];
    pin.value2 = manual.value2 = source.values[1];
    pin.value3 = manual.value3 = source.values[2];
    pin.value4 = manual.value4 = source.values[3];
    pin.flagByte = manual.flagByte = source.flag_byte;
    // More than 10 lines reach the library as a count it refuses (99).
    pin.promptLineCount = manual.promptLineCount = static_cast<int>(source.lines.size());
    const std::size_t n = std::min<std::size_t>(source.lines.size(), 10);
    for (std::size_t i = 0; i < n; ++i) {
      PromptLine line{};
      std::copy(source.lines[i].attributes.begin(), source.lines[i].attributes.end(),
                line.attributes);
      line.x = source.lines[i].x;
      line.y = source.lines[i].y;
      line.text = source.lines[i].text.c_str();
      pin.promptLines[i] = manual.promptLines[i] = line;
    }
  }
  ~c_entry() { wipe(result.data(), result.size()); }
  c_entry(const c_entry&) = delete;
  c_entry& operator=(const c_entry&) = delete;

  secret_bytes take(std::size_t count) const {
    return secret_bytes(
        std::span<const std::uint8_t>(result.data(), std::min(count, result.size())));
  }
};

/** Cancels the waiting entry once `timeout` passes (zero: never), unless disarmed first. */
class cancel_after {
 public:
  explicit cancel_after(std::chrono::milliseconds timeout) {
    if (timeout.count() <= 0) return;
    thread_ = std::jthread([this, timeout](std::stop_token stop) {
      std::mutex mutex;
      std::condition_variable_any wake;
      std::unique_lock lock(mutex);
      wake.wait_for(lock, stop, timeout, [] { return false; });
      if (!stop.stop_requested()) {
        fired_ = true;
        PIN_CancelPIN();
      }
    });
  }
  /** Stops the timer; true when it had already cancelled the entry. */
  bool disarm() {
    if (thread_.joinable()) {
      thread_.request_stop();
      thread_.join();
    }
    return fired_;
  }

 private:
  std::atomic<bool> fired_{false};
  std::jthread thread_;
};

/** Runs an entry under its time-out and throws how it ended unless it delivered. */
template <typename Call>
void run_entry(std::chrono::milliseconds timeout, Call&& call) {
  cancel_after timer(timeout);
  const unsigned char code = call();
  const bool fired = timer.disarm();
  if (code == VANTOREL_SUCCESS) return;
  const std::string reason = Brixa_GetLastErrorText();
  if (fired) throw timeout_error(code, "cancelled after the time-out: " + reason);
  throw error(code, reason);
}

}  // namespace detail

// ---- Handlers: capture and secure reading --------------------------------------------------

/** Runs a signature capture on a thread of its own, handing points to `on_points`. */
class capture {
 public:
  using handler = std::function<void(std::span<const point>)>;

  /** Registers the point handler and starts the capture (Zelto_StartCapture()); a start the
   * pad refuses is reported by wait() or stop(). The terminal must stay open meanwhile. */
  capture(capture_options options, handler on_points)
      : state_(std::make_unique<state>(std::move(on_points))) {
    Zelto_AddPointHandle(&capture::deliver, state_.get());
    thread_ = std::thread([s = state_.get(), options] {
      const auto& b = options.bytes;
      const unsigned char code =
          Zelto_StartCapture(options.format, b[0], b[1], b[2], b[3], b[4], b[5], b[6]);
      std::string reason = code == VANTOREL_SUCCESS ? std::string() : Brixa_GetLastErrorText();
      std::lock_guard lock(s->mutex);
      s->code = code;
      s->reason = std::move(reason);
      s->ended = true;
      s->wake.notify_all();
    });
  }
  capture(const capture&) = delete;
  capture& operator=(const capture&) = delete;
  /** Ends a capture still running: an exit, and when the pad will not end it, Brixa_Close(). */
  ~capture() {
    if (!thread_.joinable()) return;
    if (!end(5)) Brixa_Close();
    thread_.join();
    Zelto_AddPointHandle(nullptr, nullptr);
  }

  /** Ends the capture (Zelto_ExitCapture(), repeated while the start is still on its way)
   * and waits for it; may be called from any thread but a handler. Throws when the start
   * was refused or the pad refuses to end it. */
  void stop() {
    if (!end(5)) {
      throw error(Brixa_GetLastError(),
                  "the capture did not end: " + std::string(Brixa_GetLastErrorText()));
    }
    wait();
  }
  /** Waits until the capture ended by other means (Brixa_Close(), a new capture). */
  void wait() {
    if (thread_.joinable()) {
      thread_.join();
      Zelto_AddPointHandle(nullptr, nullptr);
    }
    if (state_->code != VANTOREL_SUCCESS) throw error(state_->code, state_->reason);
  }
  /** True once the capture call returned. */
  bool ended() const {
    std::lock_guard lock(state_->mutex);
    return state_->ended;
  }

 private:
  struct state {
    explicit state(handler h) : on_points(std::move(h)) {}
    handler on_points;
    std::vector<point> points;
    mutable std::mutex mutex;
    std::condition_variable wake;
    bool ended = false;
    unsigned char code = VANTOREL_FAILURE;
    std::string reason;
  };

  static void VANTOREL_CALL deliver(const int* values, int count, void* context) {
    auto* s = static_cast<state*>(context);
    if (!s->on_points || count <= 0) return;
    s->points.clear();
    for (int i = 0; i + 1 < count; i += 2) s->points.push_back({values[i], values[i + 1]});
    s->on_points(s->points);
  }

  // Sends exits until the capture call returned; false when the pad refused or no attempt
  // ended it.
  bool end(int attempts) {
    for (int i = 0; i < attempts; ++i) {
      {
        std::lock_guard lock(state_->mutex);
        if (state_->ended) return true;
      }
      const unsigned char code = Zelto_ExitCapture();
      std::unique_lock lock(state_->mutex);
      if (state_->wake.wait_for(lock, std::chrono::milliseconds(1500),
                                [&] { return state_->ended; })) {
        return true;
      }
      if (code != VANTOREL_SUCCESS && code != VANTOREL_FAILURE) return false;
    }
    return false;
  }

  std::unique_ptr<state> state_;
  std::thread thread_;
};

/** Runs secure reading on a thread of its own: card data to `on_card`, the PIN pad's keys
 * (Cancel, Backspace, Enter) to `on_key`. */
class secure_reading {
 public:
  /** Card data, valid during the call only; secret: never log them. */
  using card_handler = std::function<void(std::span<const std::uint8_t>)>;
  using key_handler = std::function<void(key)>;

  /** Registers the card-data handler and switches reading on (MSR_EnableSecureHead()). */
  secure_reading(card_handler on_card, key_handler on_key = {})
      : slot_(registry::add(
            std::make_shared<handlers>(handlers{std::move(on_card), std::move(on_key)}))) {
    if (slot_ < 0) throw error(VANTOREL_FAILURE, "too many secure reading objects");
    MSR_AddDataHandle(&secure_reading::deliver, slot_);
    thread_ = std::thread([this] {
      const unsigned char code = MSR_EnableSecureHead();
      std::string reason = code == VANTOREL_SUCCESS ? std::string() : Brixa_GetLastErrorText();
      std::lock_guard lock(mutex_);
      code_ = code;
      reason_ = std::move(reason);
      ended_ = true;
      wake_.notify_all();
    });
  }
  secure_reading(const secure_reading&) = delete;
  secure_reading& operator=(const secure_reading&) = delete;
  ~secure_reading() {
    end();
    release();
  }

  /** Switches reading off (MSR_DisableSecureHead(); the loop ends whatever the terminal
   * answers; sent again while a switch-on is still on its way, and as a last resort the
   * connection is closed) and waits for it; throws when the switch-on had been refused.
   * Any thread but a handler's. */
  void stop() {
    end();
    release();
    std::lock_guard lock(mutex_);
    if (code_ != VANTOREL_SUCCESS) throw error(code_, reason_);
  }

 private:
  struct handlers {
    card_handler on_card;
    key_handler on_key;
  };
  // The card-data handler's context is an int: it names a slot here.
  struct registry {
    static constexpr int size = 8;
    static std::mutex& mutex() {
      static std::mutex m;
      return m;
    }
    static std::array<std::shared_ptr<handlers>, size>& slots() {
      static std::array<std::shared_ptr<handlers>, size> s;
      return s;
    }
    static int add(std::shared_ptr<handlers> h) {
      std::lock_guard lock(mutex());
      for (int i = 0; i < size; ++i) {
        if (!slots()[static_cast<std::size_t>(i)]) {
          slots()[static_cast<std::size_t>(i)] = std::move(h);
          return i;
        }
      }
      return -1;
    }
    static std::shared_ptr<handlers> find(int slot) {
      std::lock_guard lock(mutex());
      if (slot < 0 || slot >= size) return nullptr;
      return slots()[static_cast<std::size_t>(slot)];
    }
    static void remove(int slot) {
      std::lock_guard lock(mutex());
      if (slot >= 0 && slot < size) slots()[static_cast<std::size_t>(slot)].reset();
    }
  };

  static void VANTOREL_CALL deliver(const unsigned char* data, int count, int context) {
    const auto h = registry::find(context);  // called without the registry's lock held
    if (!h || count <= 0) return;
    if (count == 2 && data[0] == VANTOREL_KEY_EVENT) {
      if (h->on_key) h->on_key(static_cast<key>(data[1]));
      return;
    }
    if (h->on_card)
      h->on_card(std::span<const std::uint8_t>(data, static_cast<std::size_t>(count)));
  }

  // Switches reading off until the loop has ended: a switch-off that overtook a switch-on
  // still on its way is sent again. A reading that will not end is ended by closing.
  void end() {
    if (!thread_.joinable()) return;
    bool ended = false;
    for (int attempt = 0; attempt < 5 && !ended; ++attempt) {
      {
        std::lock_guard lock(mutex_);
        if (ended_) break;
      }
      MSR_DisableSecureHead();
      std::unique_lock lock(mutex_);
      ended = wake_.wait_for(lock, std::chrono::milliseconds(1500), [&] { return ended_; });
    }
    {
      std::lock_guard lock(mutex_);
      ended = ended_;
    }
    if (!ended) Brixa_Close();
    thread_.join();
  }

  void release() {
    if (slot_ < 0) return;
    registry::remove(slot_);
    slot_ = -1;
  }

  int slot_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  unsigned char code_ = VANTOREL_FAILURE;
  std::string reason_;
  bool ended_ = false;
};

// ---- The terminal --------------------------------------------------------------------------

/** The process's connection to the terminal: open while the object lives. */
class terminal {
 public:
  /** Opens COM `port.com` (mapped to `port.path` when given) and performs the handshakes. */
  explicit terminal(const serial_port& port) {
    if (!port.path.empty()) map_port(port.com, port.path);
    detail::check(
        Brixa_OpenPort(port.com, port.baud_rate, port.parity, port.stop_bits, port.data_bits));
    open_ = true;
  }
  /** Opens the USB HID terminal with these ids. */
  explicit terminal(const hid_device& device) {
    detail::check(Brixa_OpenHid(device.vendor_id, device.product_id));
    open_ = true;
  }
  terminal(terminal&& other) noexcept : open_(std::exchange(other.open_, false)) {}
  terminal& operator=(terminal&& other) noexcept {
    if (this != &other) {
      if (open_) Brixa_Close();
      open_ = std::exchange(other.open_, false);
    }
    return *this;
  }
  terminal(const terminal&) = delete;
  terminal& operator=(const terminal&) = delete;
  ~terminal() {
    if (open_) Brixa_Close();
  }

  /** Closes now (Brixa_Close()): running captures, readings and entries end. */
  void close() noexcept {
    if (std::exchange(open_, false)) Brixa_Close();
  }
  bool is_open() const noexcept { return open_; }

  // -- Device ------------------------------------------------------------------------------
  std::string version() const { return block(&Brixa_GetVersion); }
  std::string serial_number() const { return block(&Brixa_GetSerialNumber); }
  std::string model_number() const { return block(&Brixa_GetModelNumber); }
  void set_serial_number(const std::string& serial) const {
    detail::check(Brixa_SetSerialNumber(serial.c_str(), static_cast<int>(serial.size())));
  }
  void control_led(std::uint8_t select1, std::uint8_t select2) const {
    detail::check(Brixa_ControlLED(select1, select2));
  }
  void generate_tone(int frequency, int duration) const {
    detail::check(Brixa_GenerateTone(frequency, duration));
  }
  void control_audio(std::uint8_t setting) const { detail::check(Brixa_ControlAudio(setting)); }
  void reset() const { detail::check(Brixa_ReSet()); }

  // -- Drawing and display -----------------------------------------------------------------
  void set_pen_color(std::array<std::uint8_t, 7> b) const {
    detail::check(Zelto_SetPenColor(b[0], b[1], b[2], b[3], b[4], b[5], b[6]));
  }
  void draw_line(int x1, int y1, int x2, int y2) const {
    detail::check(Zelto_DrawLine(x1, y1, x2, y2));
  }
  void draw_rectangle(int left, int top, int right, int bottom) const {
    detail::check(Zelto_DrawRectangle(left, top, right, bottom));
  }
  void fill_rectangle(int left, int top, int right, int bottom) const {
    detail::check(Zelto_FillRectangle(left, top, right, bottom));
  }
  void draw_arc(int x, int y, int v1, int v2, int v3) const {
    detail::check(Zelto_DrawArc(x, y, v1, v2, v3));
  }
  void fill_arc(int x, int y, int v1, int v2, int v3) const {
    detail::check(Zelto_FillArc(x, y, v1, v2, v3));
  }
  void brush_color(std::uint8_t c1, std::uint8_t c2, std::uint8_t c3) const {
    detail::check(Zelto_BrushColor(c1, c2, c3));
  }
  void set_font(std::array<std::uint8_t, 6> f) const {
    detail::check(Zelto_SetFont(f[0], f[1], f[2], f[3], f[4], f[5]));
  }
  void set_text_color(std::uint8_t c1, std::uint8_t c2, std::uint8_t c3) const {
    detail::check(Zelto_SetTextColor(c1, c2, c3));
  }
  void set_background_color(std::uint8_t c1, std::uint8_t c2, std::uint8_t c3) const {
    detail::check(Zelto_SetBackgroundColor(c1, c2, c3));
  }
  void select_background_mode(std::uint8_t mode) const {
    detail::check(Zelto_SelectBackgroundMode(mode));
  }
  void draw_string(int x, int y, std::string_view text) const {
    detail::check(Zelto_DrawString(x, y, static_cast<int>(text.size()), text.data()));
  }
  void draw_string_in_rectangle(int left, int top, int right, int bottom,
                                std::string_view text) const {
    detail::check(Zelto_DrawStringInRectangle(left, top, right, bottom,
                                              static_cast<int>(text.size()), text.data()));
  }
  void set_clip_area(int left, int top, int right, int bottom,
                     std::array<std::uint8_t, 4> a) const {
    detail::check(Zelto_SetClipArea(left, top, right, bottom, a[0], a[1], a[2], a[3]));
  }
  void create_region(std::uint8_t id, std::uint8_t kind, std::uint8_t attribute, int left, int top,
                     int right, int bottom, std::span<const std::uint8_t> data) const {
    detail::check(Zelto_CreateRegion(id, kind, attribute, left, top, right, bottom,
                                     static_cast<int>(data.size()), data.data()));
  }
  void set_backlight(std::uint8_t level) const { detail::check(Zelto_SetBackLight(level)); }
  std::uint8_t backlight() const { return detail::one_byte(&Zelto_ReviewBackLight); }

  // -- Pictures ----------------------------------------------------------------------------
  /** The picture data of a rectangle; `room` bounds the reply (picture data + 8). */
  std::vector<std::uint8_t> get_picture(int left, int top, int right, int bottom,
                                        std::size_t room = 320 * 240 * 3 + 8) const {
    std::vector<std::uint8_t> buffer(std::max<std::size_t>(room, 7));
    unsigned int length = 0;
    detail::check(Zelto_GetPicture(left, top, right, bottom, buffer.data(),
                                   static_cast<int>(buffer.size()), &length));
    buffer.resize(std::min<std::size_t>(length, buffer.size()));
    return buffer;
  }
  void show_picture(int left, int top, int right, int bottom,
                    std::span<const std::uint8_t> data) const {
    detail::check(Zelto_ShowPicture(left, top, right, bottom, data.data(),
                                    static_cast<unsigned int>(data.size())));
  }
  void store_picture(std::uint8_t number, std::uint8_t kind,
                     std::span<const std::uint8_t> data) const {
    detail::check(
        Zelto_StorePicture(number, kind, data.data(), static_cast<unsigned int>(data.size())));
  }
  void show_stored_picture(std::uint8_t number, int left, int top, int right, int bottom) const {
    detail::check(Zelto_ShowStorePicture(number, left, top, right, bottom));
  }
  /** The stored pictures' two-byte entries. */
  std::vector<std::uint8_t> stored_pictures() const {
    std::array<unsigned char, 512> buffer{};
    int count = 0;
    detail::check(Zelto_RetrieveStorePicture(buffer.data(), &count));
    return detail::bytes_of(buffer.data(), count, 510);
  }

  // -- Signature capture control (the capture itself: vantorel::capture) --------------------
  /** Starts a capture on a thread of its own (see vantorel::capture). */
  capture start_capture(capture_options options, capture::handler on_points) const {
    return capture(options, std::move(on_points));
  }
  void continue_capture() const { detail::check(Zelto_ContinueCapture()); }
  std::uint32_t pause_capture() const { return counter(&Zelto_PauseCapture); }
  std::uint32_t point_count() const { return counter(&Zelto_GetPointCount); }
  void clear_signature() const { detail::check(Zelto_ClearSignature()); }
  void exit_capture() const { detail::check(Zelto_ExitCapture()); }
  void calibrate() const { detail::check(Zelto_CalibrateDevice()); }
  std::vector<std::uint8_t> sign_format(int number, std::size_t room = 65536) const {
    std::vector<std::uint8_t> buffer(std::max<std::size_t>(room, 7));
    unsigned int length = 0;
    detail::check(Zelto_GetSignFormat(number, buffer.data(),
                                      static_cast<unsigned int>(buffer.size()), &length));
    buffer.resize(std::min<std::size_t>(length, buffer.size()));
    return buffer;
  }
  void set_sign_format(int number, std::span<const std::uint8_t> data) const {
    detail::check(Zelto_SetSignFormat(number, data.data(), static_cast<unsigned int>(data.size())));
  }

  // -- Card reader settings ----------------------------------------------------------------
  std::uint8_t output_setting() const { return detail::one_byte(&MSR_GetOutputSetting); }
  std::uint8_t decoding_setting() const { return detail::one_byte(&MSR_GetDecodingSetting); }
  void set_decoding_setting(std::uint8_t v) const { detail::check(MSR_SetDecodingSetting(v)); }
  std::vector<std::uint8_t> all_settings() const { return bytes(&MSR_GetAllSettings); }
  void set_encryption(std::uint8_t v) const { detail::check(MSR_SetEncryption(v)); }
  std::vector<std::uint8_t> reader_serial_number() const { return bytes(&MSR_SerialNumber); }
  std::uint8_t key_model() const { return detail::one_byte(&MSR_GetKeyModel); }
  void set_key_model(std::uint8_t v) const { detail::check(MSR_SetKeyModel(v)); }
  std::array<std::uint8_t, 8> encrypted_data_block() const {
    std::array<std::uint8_t, 8> out{};
    std::array<unsigned char, 16> buffer{};
    int length = 0;
    detail::check(MSR_GetEncryptedData(buffer.data(), &length));
    std::copy_n(buffer.begin(), 8, out.begin());
    return out;
  }
  void set_encrypted_data_block(std::span<const std::uint8_t, 8> data) const {
    detail::check(MSR_SetEncryptedData(data.data(), 8));
  }
  /** Loads the 16-byte device key; the bytes are sent, never kept. */
  void load_device_key(std::span<const std::uint8_t, 16> key) const {
    detail::check(MSR_LoadDeviceKey(key.data(), 16));
  }
  std::uint8_t security_level() const { return detail::one_byte(&MSR_GetSecurityLevel); }
  std::uint8_t msr_output_status() const { return detail::one_byte(&MSR_GetMSROutputStatus); }
  std::vector<std::uint8_t> secure_head_firmware() const {
    return bytes(&MSR_GetSecureHeadFirmware);
  }
  std::uint8_t secure_head_pre_pan() const {
    return detail::one_byte(&MSR_ReviewSecureHeadPrePANID);
  }
  std::uint8_t secure_head_post_pan() const {
    return detail::one_byte(&MSR_ReviewSecureHeadPostPANID);
  }
  std::uint8_t secure_head_mask_pan() const {
    return detail::one_byte(&MSR_ReviewSecureHeadMaskPAN);
  }
  std::vector<std::uint8_t> ksn_and_counter() const { return bytes(&MSR_ReviewKSNAndCountID); }
  void set_secure_head_pre_pan(std::uint8_t v) const {
    detail::check(MSR_SetSecureHeadPrePANID(v));
  }
  void set_secure_head_post_pan(std::uint8_t v) const {
    detail::check(MSR_SetSecureHeadPostPANID(v));
  }
  void set_secure_head_mask_pan(std::uint8_t v) const {
    detail::check(MSR_SetSecureHeadMaskPAN(v));
  }
  void set_expiration_data(std::uint8_t v) const { detail::check(MSR_SetExpirationData(v)); }
  std::uint8_t data_output_format() const { return detail::one_byte(&MSR_GetDataOutputFormat); }
  void set_data_output_format(std::uint8_t v) const { detail::check(MSR_SetDataOutputFormat(v)); }
  void set_output_encrypted_format(std::uint8_t v) const {
    detail::check(MSR_SetOutputEncryptedFormat(v));
  }
  void set_encrypt_option(bool f1, bool f2, bool f3, bool f4) const {
    detail::check(MSR_SetEncryptOption(f1, f2, f3, f4));
  }
  void set_hash_option(bool f1, bool f2, bool f3) const {
    detail::check(MSR_SetHashOption(f1, f2, f3));
  }
  void set_mask_option(bool f1, bool f2, bool f3) const {
    detail::check(MSR_SetMaskOption(f1, f2, f3));
  }
  void set_data_pin_or_data_key(std::uint8_t v) const { detail::check(MSR_SetDataPINorDataKey(v)); }
  std::uint8_t data_pin_or_data_key() const { return detail::one_byte(&MSR_getDataPINorDataKey); }

  // -- Secure reading (the loop itself: vantorel::secure_reading) -----------------------------
  /** Switches secure reading on, on a thread of its own (see vantorel::secure_reading). */
  secure_reading start_secure_reading(secure_reading::card_handler on_card,
                                      secure_reading::key_handler on_key = {}) const {
    return secure_reading(std::move(on_card), std::move(on_key));
  }

  // -- Entries: block the calling thread; cancel() or the time-out ends them ---------------
  /** Manual card entry; the keyed data (empty for an acknowledged entry). */
  secret_bytes manual_entry(const entry_request& request,
                            std::chrono::milliseconds timeout = {}) const {
    detail::c_entry entry(request);
    detail::run_entry(timeout, [&] { return MSR_ManualInputCardData(entry.manual); });
    return entry.take(static_cast<std::size_t>(std::max(entry.length, 0)));
  }
  /** The PIN block (the message's data bytes). */
  secret_bytes pin_block(const entry_request& request,
                         std::chrono::milliseconds timeout = {}) const {
    detail::c_entry entry(request);
    detail::run_entry(timeout, [&] { return PIN_GetPINBlock(entry.pin); });
    return entry.take(static_cast<std::size_t>(std::max(entry.length, 0)));
  }
  /** A numeric or amount entry whose prompt is signed with `key`. */
  numeric_answer numeric_or_amount(numeric_kind kind, const entry_request& request,
                                   const RsaPrivateKey& key,
                                   std::chrono::milliseconds timeout = {}) const {
    detail::c_entry entry(request);
    detail::run_entry(timeout, [&] {
      return PIN_GetNumericOrAmount(static_cast<unsigned char>(kind), entry.pin, key);
    });
    const auto* end = std::find(entry.result.begin(), entry.result.end(), 0);
    return {std::max(entry.length, 0),
            entry.take(static_cast<std::size_t>(end - entry.result.begin()))};
  }
  /** The card account number. */
  secret_bytes card_account(const entry_request& request,
                            std::chrono::milliseconds timeout = {}) const {
    detail::c_entry entry(request);
    detail::run_entry(timeout, [&] { return PIN_GetCardAccount(entry.pin); });
    return entry.take(static_cast<std::size_t>(std::max(entry.length, 0)));
  }
  /** The encrypted data entry; nothing when another entry or a close ended its wait. */
  std::optional<secret_bytes> encrypted_entry(std::uint8_t data_mode, const entry_request& request,
                                              std::chrono::milliseconds timeout = {}) const {
    detail::c_entry entry(request);
    detail::run_entry(timeout, [&] { return PIN_GetEncryptedData(data_mode, entry.pin); });
    if (entry.length < 0) return std::nullopt;
    return entry.take(static_cast<std::size_t>(entry.length));
  }
  /** Asks the terminal to end the waiting entry (PIN_CancelPIN()); any thread. */
  void cancel_entry() const { detail::check(PIN_CancelPIN()); }
  /** The last function key pressed (PIN_GetKey()). */
  key last_key() const {
    char name[16] = {};
    int length = 0;
    detail::check(PIN_GetKey(name, &length));
    const std::string_view text(name, static_cast<std::size_t>(std::clamp(length, 0, 15)));
    if (text == "CANCEL") return key::cancel;
    if (text == "BACKSPACE") return key::backspace;
    if (text == "ENTER") return key::enter;
    return key::none;
  }
  void clear_key() const { detail::check(PIN_ClearKey()); }
  void invalidate_key() const { detail::check(PIN_InvalidateKey()); }

 private:
  using text_getter = unsigned char (*)(char*, int*) VANTOREL_NOEXCEPT;
  using bytes_getter = unsigned char (*)(unsigned char*, int*) VANTOREL_NOEXCEPT;
  using counter_getter = unsigned char (*)(unsigned int*) VANTOREL_NOEXCEPT;

  static std::string block(text_getter getter) {
    std::array<char, 512> buffer{};
    int length = 0;
    detail::check(getter(buffer.data(), &length));
    return detail::text_of(buffer.data(), length, 505);
  }
  static std::vector<std::uint8_t> bytes(bytes_getter getter) {
    std::array<unsigned char, 512> buffer{};
    int length = 0;
    detail::check(getter(buffer.data(), &length));
    return detail::bytes_of(buffer.data(), length, 505);
  }
  static std::uint32_t counter(counter_getter getter) {
    unsigned int value = 0;
    detail::check(getter(&value));
    return value;
  }

  bool open_ = false;
};

}  // namespace vantorel

template <>
struct std::is_error_code_enum<vantorel::errc> : std::true_type {};

#endif  // VANTOREL_HPP
