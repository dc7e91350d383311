// Secure reading: the card-data handler, the switch-on and its reading loop, the switch-off.
#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>

#include "cardreader/card_data.h"
#include "crypto/secure_wipe.h"
#include "link/command.h"
#include "link/modes.h"
#include "link/reply_ownership.h"
#include "link/trace.h"
#include "vantorel.h"

namespace vantorel::cardreader {
namespace {

using link::Accept;
using link::CommandBytes;

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

// A frame long enough to be card data, or a key reply, is the loop's: never a late reply.
bool IsReadingMessage(const void*, const std::uint8_t* frame, std::size_t length) {
  std::array<std::uint8_t, kDeliverySize> scratch{};
  std::array<std::uint8_t, kDeliverySize> copy{};
  const std::size_t n = std::min(length, copy.size());
  std::memcpy(copy.data(), frame, n);
  const bool delivers = PrepareDelivery(copy.data(), static_cast<int>(n), scratch.data()) != 0;
  crypto::SecureWipe(copy.data(), copy.size());
  crypto::SecureWipe(scratch.data(), scratch.size());
  return delivers;
}

// Asked with the link held before each switch-on command: a disable that came first has
// already gone out, so the head must not be switched on behind it.
bool NotForestalled(const void* start) {
  return !static_cast<const link::LoopStart*>(start)->EndedSinceClaim();
}

void ReadingLoop(link::PollingMode::Ticket ticket) noexcept {
  link::LinkState& state = link::State();
  const CommandBytes keyPoll{link::Command::kGetKey};
  // A terminal that has card data to send may leave the poll unanswered and send the data by
  // itself; whatever answers the poll late is this loop's to judge anyway.
  std::array<std::uint8_t, link::kReplySize> received{};
  const link::CommandOptions keyPollOptions{
      .wait = link::kNoWait,
      .reply = link::ReplyUse::kHandedOn,
      .linkHeld = true,
      .exchange = {.replyMayComeLate = false, .forLoop = true},
      .replyArea = received};
  std::array<std::uint8_t, kDeliverySize> delivery{};
  const auto judge = [&](int count) {
    const std::size_t n = PrepareDelivery(received.data(), count, delivery.data());
    crypto::SecureWipe(received.data(), received.size());
    if (n != 0) Deliver(delivery.data(), n);
    crypto::SecureWipe(delivery.data(), n);
  };
  const auto reading = [&] { return state.reading.Current(ticket) && link::LinkIsOpen(); };

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
            count = link::ReadMessage(received.data(), received.size(), link::kHidReplyTimeout);
          }
        })) {
      judge(count);
    }
    count = 0;
    if (reading() && link::WithIdleLink([&] {
          if (reading()) {
            link::RunCommand(keyPoll, keyPollOptions, [&](const link::Reply& reply) {
              count = static_cast<int>(reply.Count());
            });
            // Card data answering the poll came after any frame held back as perhaps a late
            // reply: that one was the late reply.
            if (count >= kCardDataMinimum) link::LoopMessageArrived();
          }
        })) {
      judge(count);
    }
    link::Pause(link::kReadingPassSleep);
  }
}

}  // namespace

}  // namespace vantorel::cardreader

using namespace vantorel;
using link::Accept;
using link::CommandBytes;

extern "C" unsigned char VANTOREL_CALL MSR_AddDataHandle(VantorelDataHandler handler,
                                                         int context) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  std::lock_guard<std::mutex> lock(cardreader::HandlerMutex());
  cardreader::TheDataHandler() = {handler, context};
  return call.Result(VANTOREL_SUCCESS);
}

extern "C" unsigned char VANTOREL_CALL MSR_EnableSecureHead(void) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  if (!link::LinkIsOpen()) return call.Result(VANTOREL_NOT_OPEN);
  // The reader's claim, from here until this call returns: the mode table refuses every
  // other start while the head is switched on, and a second enable until then. A disable
  // issued from here on ends reading before it begins: it is not lost, and no switch-on
  // command goes out after it.
  link::LoopStart start(link::Mode::kSecureReading);
  if (const auto rc = start.Claim(); rc != 0) return call.Result(rc);

  // The switch-on goes out at once: no wait before the first command.
  link::CommandOptions immediate{
      .wait = link::kNoWait, .proceed = &cardreader::NotForestalled, .proceedContext = &start};
  std::uint8_t rc = link::RunCommand(link::SecureHeadSwitch(true), immediate);
  if (rc != VANTOREL_SUCCESS) return call.Result(rc);
  CommandBytes outputOn{link::Command::kReaderOutput};
  outputOn.Byte(0x01).Byte('1');
  rc = link::RunCommand(outputOn, immediate);
  if (rc != VANTOREL_SUCCESS) return call.Result(rc);
  // Clears the key buffer. What follows its reply in the same read (a card swiped right
  // after the switch-on) is the loop's: kept, and listened for from the acknowledgement on.
  link::CommandOptions clear = immediate;
  clear.exchange.startsLoop = true;
  link::RunCommand(CommandBytes{link::Command::kClearKey}, clear,
                   [&](const link::Reply&) { start.Listen(&cardreader::IsReadingMessage); });

  link::PollingMode::Ticket ticket = 0;
  {
    // Under the link lock, so that a Brixa_Close (which clears the flags again once it holds
    // the link) cannot be overtaken. linkBusy is left alone: it counts other threads'
    // commands, and zeroing it would let the loop read their replies.
    link::LinkGuard guard;
    if (!link::LinkIsOpen() || (ticket = start.Begin()) == 0) {
      return call.Result(VANTOREL_SUCCESS);  // reading was ended before it began
    }
    start.Listen(&cardreader::IsReadingMessage);
  }
  cardreader::ReadingLoop(ticket);
  return call.Result(VANTOREL_SUCCESS);
}

extern "C" unsigned char VANTOREL_CALL MSR_DisableSecureHead(void) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  if (!link::LinkIsOpen()) return call.Result(VANTOREL_NOT_OPEN);
  // An enable still switching the head on does not begin reading; a running loop reads on
  // until the disable was exchanged, and ends whatever the terminal answered, before the link
  // is released.
  link::State().reading.Forestall();
  return call.Result(link::RunCommand(
      link::SecureHeadSwitch(false),
      {.wait = link::kDisableWait, .afterExchange = [] { link::State().reading.End(); }}));
}
