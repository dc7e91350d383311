// Secure reading: the card-data handler, the switch-on and its reading loop, the switch-off.
#include <array>
#include <mutex>

#include "cardreader/card_data.h"
#include "cardreader/reading_state.h"
#include "link/command.h"
#include "link/reply_ownership.h"
#include "vantorel.h"

namespace vantorel::cardreader {
namespace {

using link::Accept;
using link::CommandBytes;
using link::Millis;

// Sleep at the end of every pass of the reading loop.
constexpr Millis kPassSleep{50};
// The switch-off waits longer than an ordinary command before it writes.
constexpr Millis kDisableWait{200};

struct DataHandler {
  VantorelDataHandler handler = nullptr;
  int context = 0;
};

std::mutex& HandlerMutex() noexcept {
  static std::mutex mutex;
  return mutex;
}

DataHandler& TheDataHandler() noexcept {
  static DataHandler handler;
  return handler;
}

// Raised by every disable; an enable that sees it change while switching on does not start
// reading, so a disable issued during the switch-on is not lost.
std::atomic<unsigned>& DisableCount() noexcept {
  static std::atomic<unsigned> count{0};
  return count;
}

// Hands `count` bytes to the registered handler, on this thread, with no lock held (the
// handler may call any export). Without a handler the delivery is dropped.
void Deliver(const std::uint8_t* bytes, std::size_t count) noexcept {
  DataHandler current;
  {
    std::lock_guard<std::mutex> lock(HandlerMutex());
    current = TheDataHandler();
  }
  if (current.handler != nullptr) current.handler(bytes, static_cast<int>(count), current.context);
}

CommandBytes SecureHeadSwitch(std::uint8_t state) {
  CommandBytes command{0x73, 0x46, 0xE1};
  command.Byte(0x01).Byte(state);
  return command;
}

class ClaimRelease {
 public:
  ~ClaimRelease() { ReadingClaim().store(ReadingPhase::kIdle); }
};

void ReadingLoop() noexcept {
  link::LinkState& state = link::State();
  const CommandBytes keyPoll{0x75, 0x46, 0x81};
  // A terminal that has card data to send may leave the poll unanswered and send the data by
  // itself; whatever answers the poll late is this loop's to judge anyway.
  link::ExchangeOptions keyPollOptions;
  keyPollOptions.replyMayComeLate = false;
  std::array<std::uint8_t, link::kReplySize> received{};
  std::array<std::uint8_t, kDeliverySize> delivery{};
  const auto judge = [&](int count) {
    const std::size_t n = PrepareDelivery(received.data(), count, delivery.data());
    if (n != 0) Deliver(delivery.data(), n);
  };
  const auto reading = [&] { return state.secureHeadActive.load() != 0 && link::LinkIsOpen(); };

  while (reading()) {
    int count = 0;
    // Each read and each poll holds the link alone, and only while no command wants it: a
    // command from another thread waits for at most one of them and then finds its own
    // reply on the line. Whether reading still runs is checked with the link held: the
    // disable clears the flag holding the link, so after it returns nothing is read here
    // (over HID an exchange would also open the device afresh after a close).
    if (link::WithIdleLink([&] {
          received.fill(0);
          if (reading()) {
            count = link::ReadMessage(received.data(), received.size(), link::kHidReplyTimeoutMs);
          }
        })) {
      judge(count);
    }
    count = 0;
    if (reading() && link::WithIdleLink([&] {
          if (reading()) {
            count =
                link::ExchangeCommand(keyPoll, received.data(), received.size(), keyPollOptions);
          }
        })) {
      judge(count);
    }
    link::Pause(kPassSleep);
  }
}

}  // namespace

std::atomic<ReadingPhase>& ReadingClaim() noexcept {
  static std::atomic<ReadingPhase> claim{ReadingPhase::kIdle};
  return claim;
}

}  // namespace vantorel::cardreader

using namespace vantorel;
using cardreader::ReadingClaim;
using cardreader::ReadingPhase;
using link::Accept;
using link::CommandBytes;

extern "C" unsigned char VANTOREL_CALL MSR_AddDataHandle(VantorelDataHandler handler,
                                                         int context) noexcept {
  std::lock_guard<std::mutex> lock(cardreader::HandlerMutex());
  cardreader::TheDataHandler() = {handler, context};
  return VANTOREL_SUCCESS;
}

extern "C" unsigned char VANTOREL_CALL MSR_EnableSecureHead(void) noexcept {
  link::LinkState& state = link::State();
  if (!link::LinkIsOpen()) return VANTOREL_NOT_OPEN;
  if (state.pinEntryActive.load() != 0) return VANTOREL_PIN_ENTRY_ACTIVE;
  if (state.secureHeadActive.load() != 0 || ReadingClaim().load() != ReadingPhase::kIdle) {
    return VANTOREL_SECURE_HEAD_ACTIVE;
  }
  if (state.captureActive.load() != 0) return VANTOREL_CAPTURE_ACTIVE;
  if (state.encryptedEntryActive.load() != 0) return VANTOREL_ENCRYPTED_ENTRY_ACTIVE;
  ReadingPhase idle = ReadingPhase::kIdle;
  if (!ReadingClaim().compare_exchange_strong(idle, ReadingPhase::kSwitchingOn)) {
    return VANTOREL_SECURE_HEAD_ACTIVE;
  }
  cardreader::ClaimRelease release;
  link::LoopListener listener;
  // A manual entry claims the PIN pad the same way; whichever claimed second sees the other.
  if (state.pinEntryActive.load() != 0) return VANTOREL_PIN_ENTRY_ACTIVE;
  const unsigned disables = cardreader::DisableCount().load();

  // The switch-on goes out at once: no wait before the first command.
  const link::CommandOptions immediate{Accept::Ack, link::Millis{0}};
  std::uint8_t rc = link::RunCommand(cardreader::SecureHeadSwitch('1'), immediate);
  if (rc != VANTOREL_SUCCESS) return rc;
  CommandBytes outputOn{0x73, 0x53, 0x1A};
  outputOn.Byte(0x01).Byte('1');
  rc = link::RunCommand(outputOn, immediate);
  if (rc != VANTOREL_SUCCESS) return rc;
  link::RunCommand(CommandBytes{0x75, 0x46, 0x82}, immediate);  // clear the key buffer

  {
    // Under the link lock, so that a Brixa_Close (which clears the flags again once it holds
    // the link) cannot be overtaken. linkBusy is left alone: it counts other threads'
    // commands, and zeroing it would let the loop read their replies.
    link::LinkGuard guard;
    if (!link::LinkIsOpen() || cardreader::DisableCount().load() != disables) {
      return VANTOREL_SUCCESS;  // reading was ended before it began
    }
    state.secureHeadActive = 1;
    ReadingClaim().store(ReadingPhase::kReading);
    listener.Begin();
  }
  cardreader::ReadingLoop();
  return VANTOREL_SUCCESS;
}

extern "C" unsigned char VANTOREL_CALL MSR_DisableSecureHead(void) noexcept {
  if (!link::LinkIsOpen()) return VANTOREL_NOT_OPEN;
  cardreader::DisableCount().fetch_add(1);
  link::LinkGuard guard;
  if (!link::LinkIsOpen()) return VANTOREL_NOT_OPEN;
  link::Pause(cardreader::kDisableWait);
  std::array<std::uint8_t, link::kReplySize> reply;
  const int count =
      link::ExchangeCommand(cardreader::SecureHeadSwitch('0'), reply.data(), reply.size());
  // Reading ends whatever the terminal answered, before the link is released.
  link::State().secureHeadActive = 0;
  return link::IsAck(reply.data(), count, 0) ? VANTOREL_SUCCESS
                                             : link::MapReplyStatus(reply.data());
}
