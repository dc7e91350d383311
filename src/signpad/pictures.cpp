// Pictures: read back a rectangle of the display, show picture data, store pictures in
// the pad, show a stored one, list them. Picture data are opaque here.
#include <algorithm>
#include <array>
#include <cstring>

#include "link/command.h"
#include "link/trace.h"
#include "signpad/signpad_limits.h"
#include "signpad/signpad_link.h"
#include "vantorel.h"

namespace vantorel::signpad {
namespace {

// The list reply: up to 255 two-byte entries behind the count byte, and room to spare.
constexpr std::size_t kListReplySize = 4896;
// The smallest reply frame: STX, length, status, XOR, sum, ETX.
constexpr std::size_t kSmallestReply = 7;

}  // namespace
}  // namespace vantorel::signpad

using namespace vantorel;
using namespace vantorel::signpad;
using link::Command;
using link::CommandBytes;
using link::LinkIsOpen;

extern "C" unsigned char VANTOREL_CALL Zelto_GetPicture(int left, int top, int right, int bottom,
                                                        unsigned char* buffer, int bufferSize,
                                                        unsigned int* length) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  if (!LinkIsOpen()) return call.Result(VANTOREL_NOT_OPEN);
  if (!RectangleOnScreen(left, top, right, bottom)) return call.Result(VANTOREL_INVALID_ARGUMENT);
  if (buffer == nullptr || length == nullptr || bufferSize < static_cast<int>(kSmallestReply)) {
    return call.Result(VANTOREL_INVALID_ARGUMENT);
  }
  CommandBytes command{Command::kGetPicture};
  command.Word(left).Word(top).Word(right).Word(bottom);
  return call.Result(
      ReadIntoCallerBuffer(command, buffer, static_cast<std::size_t>(bufferSize), length));
}

extern "C" unsigned char VANTOREL_CALL Zelto_ShowPicture(int left, int top, int right, int bottom,
                                                         const unsigned char* data,
                                                         unsigned int length) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  if (!LinkIsOpen()) return call.Result(VANTOREL_NOT_OPEN);
  if (!RectangleOnScreen(left, top, right, bottom)) return call.Result(VANTOREL_INVALID_ARGUMENT);
  if (length == 0 || data == nullptr) return call.Result(VANTOREL_INVALID_ARGUMENT);
  CommandBytes head{Command::kShowPicture};
  head.Word(left).Word(top).Word(right).Word(bottom);
  return call.Result(SendLargeCommand({head.data(), head.size()}, {data, length}));
}

extern "C" unsigned char VANTOREL_CALL Zelto_StorePicture(unsigned char pictureNumber,
                                                          unsigned char pictureKind,
                                                          const unsigned char* data,
                                                          unsigned int length) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  if (!LinkIsOpen()) return call.Result(VANTOREL_NOT_OPEN);
  if (pictureKind > 2 || length == 0 || data == nullptr)
    return call.Result(VANTOREL_INVALID_ARGUMENT);
  CommandBytes head{Command::kStorePicture};
  head.Byte(pictureNumber).Byte(0).Byte(pictureKind).Byte(0);
  return call.Result(SendLargeCommand({head.data(), head.size()}, {data, length}));
}

extern "C" unsigned char VANTOREL_CALL Zelto_ShowStorePicture(unsigned char pictureNumber, int left,
                                                              int top, int right,
                                                              int bottom) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  if (!LinkIsOpen()) return call.Result(VANTOREL_NOT_OPEN);
  if (!RectangleOnScreen(left, top, right, bottom)) return call.Result(VANTOREL_INVALID_ARGUMENT);
  CommandBytes command{Command::kShowStoredPicture};
  command.Byte(pictureNumber).Byte(0).Word(left).Word(top).Word(right).Word(bottom);
  return call.Result(link::RunCommand(command));
}

extern "C" unsigned char VANTOREL_CALL Zelto_RetrieveStorePicture(unsigned char* buffer,
                                                                  int* count) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  if (!LinkIsOpen()) return call.Result(VANTOREL_NOT_OPEN);
  if (buffer == nullptr || count == nullptr) return call.Result(VANTOREL_INVALID_ARGUMENT);
  std::array<std::uint8_t, kListReplySize> area;
  return call.Result(link::RunCommand(
      CommandBytes{Command::kListStoredPictures}, {.replyArea = area},
      [&](const link::Reply& reply) {
        // The first data byte counts two-byte entries. Only entries that
        // arrived whole are handed on: a shortened reply must not pass the
        // zeros of the cleared reply area off as entries.
        const auto data = reply.Data();
        const std::size_t arrived = data.empty() ? 0 : (data.size() - 1) / 2;
        const std::size_t entries = data.empty() ? 0 : std::min<std::size_t>(data[0], arrived);
        if (entries > 0) std::memcpy(buffer, data.data() + 1, entries * 2);
        *count = static_cast<int>(entries * 2);
      }));
}
