// Drawing and display: lines, rectangles, arcs, text, colours, font, background mode,
// backlight, clip area and regions. Each export is one ordinary command; nothing is kept
// in the library, so all of them may run during a signature capture.
#include <cstdint>

#include "link/command.h"
#include "link/trace.h"
#include "signpad/signpad_limits.h"
#include "vantorel.h"

namespace vantorel::signpad {
namespace {

using link::Command;
using link::CommandBytes;

std::uint8_t Rectangle(Command shape, int left, int top, int right, int bottom) noexcept {
  if (!link::LinkIsOpen()) return VANTOREL_NOT_OPEN;
  if (!RectangleOnScreen(left, top, right, bottom)) return VANTOREL_INVALID_ARGUMENT;
  CommandBytes command{shape};
  command.Word(left).Word(top).Word(right).Word(bottom);
  return link::RunCommand(command);
}

std::uint8_t Colour(Command which, std::uint8_t c1, std::uint8_t c2, std::uint8_t c3) noexcept {
  if (!link::LinkIsOpen()) return VANTOREL_NOT_OPEN;
  CommandBytes command{which};
  command.Byte(c1).Byte(c2).Byte(c3);
  return link::RunCommand(command);
}

std::uint8_t Arc(Command shape, int x, int y, int v1, int v2, int v3) noexcept {
  if (!link::LinkIsOpen()) return VANTOREL_NOT_OPEN;
  if (!PointOnScreen(x, y)) return VANTOREL_INVALID_ARGUMENT;
  CommandBytes command{shape};
  command.Word(x).Word(y).Word(v1).Word(v2).Word(v3);
  return link::RunCommand(command);
}

// Text and region data follow the fixed part; a length of 0 or less sends none. A length
// that would not fit commandBuffer with the frame around it is refused rather than cut.
bool AppendData(CommandBytes& command, int length, const void* data) noexcept {
  if (length <= 0) return true;
  if (data == nullptr) return false;
  command.Bytes(data, static_cast<std::size_t>(length));
  return command.Fits();
}

}  // namespace
}  // namespace vantorel::signpad

using namespace vantorel;
using namespace vantorel::signpad;
using link::Command;
using link::CommandBytes;
using link::LinkIsOpen;

extern "C" unsigned char VANTOREL_CALL Zelto_SetPenColor(unsigned char b1, unsigned char b2,
                                                         unsigned char b3, unsigned char b4,
                                                         unsigned char b5, unsigned char b6,
                                                         unsigned char b7) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  if (!LinkIsOpen()) return call.Result(VANTOREL_NOT_OPEN);
  CommandBytes command{Command::kPenColour};
  command.Byte(b1).Byte(b2).Byte(b3).Byte(b4).Byte(b5).Byte(b6).Byte(b7);
  return call.Result(link::RunCommand(command));
}

extern "C" unsigned char VANTOREL_CALL Zelto_DrawLine(int x1, int y1, int x2, int y2) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  if (!LinkIsOpen()) return call.Result(VANTOREL_NOT_OPEN);
  if (!PointOnScreen(x1, y1) || !PointOnScreen(x2, y2))
    return call.Result(VANTOREL_INVALID_ARGUMENT);
  CommandBytes command{Command::kDrawLine};
  command.Word(x1).Word(y1).Word(x2).Word(y2);
  return call.Result(link::RunCommand(command, {.wait = link::kLineWait}));
}

extern "C" unsigned char VANTOREL_CALL Zelto_DrawRectangle(int left, int top, int right,
                                                           int bottom) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  return call.Result(Rectangle(Command::kDrawRectangle, left, top, right, bottom));
}

extern "C" unsigned char VANTOREL_CALL Zelto_FillRectangle(int left, int top, int right,
                                                           int bottom) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  return call.Result(Rectangle(Command::kFillRectangle, left, top, right, bottom));
}

extern "C" unsigned char VANTOREL_CALL Zelto_DrawArc(int x, int y, int value1, int value2,
                                                     int value3) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  return call.Result(Arc(Command::kDrawArc, x, y, value1, value2, value3));
}

extern "C" unsigned char VANTOREL_CALL Zelto_FillArc(int x, int y, int value1, int value2,
                                                     int value3) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  return call.Result(Arc(Command::kFillArc, x, y, value1, value2, value3));
}

extern "C" unsigned char VANTOREL_CALL Zelto_BrushColor(unsigned char c1, unsigned char c2,
                                                        unsigned char c3) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  return call.Result(Colour(Command::kBrushColour, c1, c2, c3));
}

extern "C" unsigned char VANTOREL_CALL Zelto_SetTextColor(unsigned char c1, unsigned char c2,
                                                          unsigned char c3) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  return call.Result(Colour(Command::kTextColour, c1, c2, c3));
}

extern "C" unsigned char VANTOREL_CALL Zelto_SetBackgroundColor(unsigned char c1, unsigned char c2,
                                                                unsigned char c3) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  return call.Result(Colour(Command::kBackgroundColour, c1, c2, c3));
}

extern "C" unsigned char VANTOREL_CALL Zelto_SetFont(unsigned char f1, unsigned char f2,
                                                     unsigned char f3, unsigned char f4,
                                                     unsigned char f5, unsigned char f6) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  if (!LinkIsOpen()) return call.Result(VANTOREL_NOT_OPEN);
  CommandBytes command{Command::kFont};
  command.Byte(f1).Byte(f2).Byte(f3).Byte(f4).Byte(f5).Byte(f6);
  return call.Result(link::RunCommand(command));
}

extern "C" unsigned char VANTOREL_CALL Zelto_SelectBackgroundMode(unsigned char mode) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  return call.Result(link::RunByteCommand(Command::kBackgroundMode, mode));
}

extern "C" unsigned char VANTOREL_CALL Zelto_DrawString(int x, int y, int length,
                                                        const char* text) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  if (!LinkIsOpen()) return call.Result(VANTOREL_NOT_OPEN);
  if (!PointOnScreen(x, y)) return call.Result(VANTOREL_INVALID_ARGUMENT);
  CommandBytes command{Command::kDrawString};
  command.Word(x).Word(y).Word(length);
  if (!AppendData(command, length, text)) return call.Result(VANTOREL_INVALID_ARGUMENT);
  return call.Result(link::RunCommand(command));
}

extern "C" unsigned char VANTOREL_CALL Zelto_DrawStringInRectangle(int left, int top, int right,
                                                                   int bottom, int length,
                                                                   const char* text) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  if (!LinkIsOpen()) return call.Result(VANTOREL_NOT_OPEN);
  // Only the bounds: the pad takes a rectangle given right to left as it comes.
  if (!PointOnScreen(left, top) || !PointOnScreen(right, bottom)) {
    return call.Result(VANTOREL_INVALID_ARGUMENT);
  }
  CommandBytes command{Command::kDrawStringInRectangle};
  command.Word(left).Word(top).Word(right).Word(bottom).Word(length);
  if (!AppendData(command, length, text)) return call.Result(VANTOREL_INVALID_ARGUMENT);
  return call.Result(link::RunCommand(command));
}

extern "C" unsigned char VANTOREL_CALL Zelto_SetClipArea(int left, int top, int right, int bottom,
                                                         unsigned char a1, unsigned char a2,
                                                         unsigned char a3,
                                                         unsigned char a4) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  if (!LinkIsOpen()) return call.Result(VANTOREL_NOT_OPEN);
  if (!RectangleOnScreen(left, top, right, bottom)) return call.Result(VANTOREL_INVALID_ARGUMENT);
  CommandBytes command{Command::kSetClipArea};
  command.Word(left).Word(top).Word(right).Word(bottom).Byte(a1).Byte(a2).Byte(a3).Byte(a4);
  return call.Result(link::RunCommand(command));
}

extern "C" unsigned char VANTOREL_CALL Zelto_CreateRegion(
    unsigned char regionId, unsigned char regionKind, unsigned char attribute, int left, int top,
    int right, int bottom, int length, const unsigned char* data) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  if (!LinkIsOpen()) return call.Result(VANTOREL_NOT_OPEN);
  if (regionId > 254 || !RectangleOnScreen(left, top, right, bottom)) {
    return call.Result(VANTOREL_INVALID_ARGUMENT);
  }
  if (regionKind > 3 && regionKind != 0x11) return call.Result(VANTOREL_INVALID_ARGUMENT);
  CommandBytes command{Command::kCreateRegion};
  command.Byte(regionId).Byte(regionKind).Byte(attribute);
  command.Word(left).Word(top).Word(right).Word(bottom).Word(length);
  if (!AppendData(command, length, data)) return call.Result(VANTOREL_INVALID_ARGUMENT);
  return call.Result(link::RunCommand(command));
}

extern "C" unsigned char VANTOREL_CALL Zelto_SetBackLight(unsigned char level) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  if (!LinkIsOpen()) return call.Result(VANTOREL_NOT_OPEN);
  if (level > kMaxBacklight) return call.Result(VANTOREL_INVALID_ARGUMENT);
  CommandBytes command{Command::kSetBacklight};
  command.Byte(0x01).Byte(level);
  return call.Result(link::RunCommand(command));
}

extern "C" unsigned char VANTOREL_CALL Zelto_ReviewBackLight(unsigned char* level) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  if (!LinkIsOpen()) return call.Result(VANTOREL_NOT_OPEN);
  if (level == nullptr) return call.Result(VANTOREL_INVALID_ARGUMENT);
  // The pad answers 80 01 and the level, as the setting is written.
  constexpr std::size_t kLevel = 2;
  return call.Result(link::RunCommand(CommandBytes{Command::kGetBacklight},
                                      {.accept = link::Accept::Data},
                                      [&](const link::Reply& reply) {
                                        if (!reply.Holds(kLevel + 1)) return false;
                                        *level = reply.At(kLevel);
                                        return true;
                                      }));
}
