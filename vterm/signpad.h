// The signature pad: a 320 x 240 colour display that the drawing commands paint, stored
// pictures, the four sign-format blocks, and a pen that streams what it is given to write.
//
// Display (class 8A, function 46 unless noted). Coordinates are two bytes, low first, as
// signed 16-bit values; drawing outside the display or the clip area is cut off.
//   10 r g b w . . .      pen: colour R G B, width w pixels (0 taken as 1, at most 8);
//                         the last three bytes are kept but mean nothing
//   11 x1 y1 x2 y2        line with the pen
//   12 l t r b            rectangle outline with the pen
//   13 x y radius from to arc with the pen: centre, radius, angles in degrees measured
//                         clockwise from 3 o'clock (as y grows downward)
//   20 r g b              brush colour
//   22 l t r b            rectangle filled with the brush
//   23 x y radius from to pie slice filled with the brush (from == to: the whole disc)
//   40 s b . . . .        font: s scale 1-4 (0 taken as 1) of the 5x7 font in 6x8 cells,
//                         b bit 0 bold; the other bytes are kept but mean nothing
//   41 r g b / 42 r g b   text colour / background colour
//   43 m                  background mode: 0 transparent, otherwise text cells are filled
//                         with the background colour
//   4F x y n text         text with its top left corner at (x, y)
//   4E l t r b n text     text wrapped inside the rectangle (corners taken in any order),
//                         cut off at its edges; byte 0x0A starts a new line
//   The text (and region data) are the bytes behind the length field; the field itself
//   is not checked against them.
//   Text bytes 0x20-0x7E use the built-in font, other bytes show as a hollow box.
//   53 80 01 level        backlight 0-200 (NAK kStatusBadParameter above)
//   52 80                 backlight: ACK + 80 01 level
// Clip area and regions (class 7A, function 46):
//   03 l t r b a1 a2 a3 a4  clip area: drawing stays inside; a1 = 1 removes the clip
//                           again (whole display); a2-a4 kept, meaning nothing
//   04 id kind attr l t r b n data  region: kept under its id (a region with the same id
//                           is replaced) and drawn at once by kind: 0 an area filled with
//                           the brush, 1 a button (brush fill, pen outline, data as a
//                           centred label), 2 the signature box (pen outline; the pen's ink
//                           goes into it), 3 a text area (data drawn as text), 17 a hot
//                           spot (invisible). attr is kept.
// Pictures (class 8A, function 46). Picture data are R G B bytes, row by row.
//   60 l t r b            ACK + the pixels of the rectangle (a long frame when large)
//   61 l t r b data       the pixels shown in the rectangle, row by row; fewer pixels
//                         than the rectangle holds leave the rest as it was, more are
//                         ignored
//   70 nn 00 kk 00 data   stores a picture: data = width (2 bytes) height (2 bytes) and
//                         the pixels; kind 0-2 is kept; bad sizes NAK kStatusBadParameter
//   71 nn 00 l t r b      shows stored picture nn at the rectangle's top left, cut off at
//                         the rectangle (NAK kStatusBadParameter when absent)
//   72                    ACK + count N + N entries (number, kind), by number
// Signature (class 7A, function 46):
//   01 calibrate; 10 format c1..c7 start a capture; 11 continue; 12 pause (ACK + point
//   count, 4 bytes little endian); 17 point count (the same); 19 clear (count 0, ink
//   wiped from the signature box); 1F exit; 20-23 read sign-format block 1-4; 30-33 write
//   it (any length, also 0).
//
// The pen. Strokes are lists of points in pad coordinates (0-1023 each way); Write()
// queues them. While a capture runs and is not paused, the pen sends one message every
// PenTiming::intervalMs holding the next PenTiming::packetsPerMessage packets: each stroke
// as its points, then a pen-up packet, which always starts a message of its own. Packet statuses by
// the format given at start: 1: 9C / 8C absolute; 4: 90 / 80 absolute; 2: 90 / 80 with each field
// the move from the previous point (10-bit two's complement; a pen-up puts the origin back at (0,
// 0), moves above 511 are split into several packets, each one a point); 0, 3, 5: B0 / A0 absolute,
// a layout this pad does not share with any host. A capture's first packet leaves
// PenTiming::startDelayMs after the start was answered, or at once when strokes come later.
// Pause stops the stream until continue; exit and a restart drop what is still queued.
// Over serial the pen keeps quiet for 800 ms after the pad answers one of its commands, so
// that its packets do not run into the reply the host is still reading; packets already
// sent while the host waited to write a command still would (keep the pen still then).
// Over HID (SetHidLink) touches of regions and the keys leave as 4-byte messages:
// 7A id 00 00, and 7A FF 00 key ('C', 'B', 'E').
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "vterm/terminal.h"

namespace vterm {

inline constexpr int kScreenWidth = 320;
inline constexpr int kScreenHeight = 240;

struct Rgb {
  std::uint8_t r = 0;
  std::uint8_t g = 0;
  std::uint8_t b = 0;
  bool operator==(const Rgb&) const = default;
};

struct PenPoint {
  int x = 0;
  int y = 0;
  bool operator==(const PenPoint&) const = default;
};
using Stroke = std::vector<PenPoint>;

struct PenTiming {
  int intervalMs = 20;
  int packetsPerMessage = 2;  // at most 12: an HID pen message stays within one report run
  int startDelayMs = 800;     // lets a serial host finish reading the start's answer
};

struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  bool operator==(const Rect&) const = default;
};

struct Region {
  std::uint8_t kind = 0;
  std::uint8_t attribute = 0;
  Rect rect;
  Bytes data;
};

struct StoredPicture {
  std::uint8_t kind = 0;
  int width = 0;
  int height = 0;
  Bytes pixels;
};

class SignpadModule : public Module {
 public:
  SignpadModule();
  void Install(Terminal& terminal) override;
  void Restart() override;

  // Display.
  Rgb Pixel(int x, int y) const;
  std::vector<Rgb> Pixels() const;  // row by row
  void Fill(Rgb colour);
  // Writes the display as an 8-bit RGB PNG; false without libpng or on an I/O error.
  bool WritePng(const std::string& path) const;
  int Backlight() const;
  Rect ClipArea() const;
  std::optional<Region> RegionById(std::uint8_t id) const;
  std::map<std::uint8_t, Region> Regions() const;
  // Grows whenever a pixel may have changed, so a viewer copies the display only then.
  std::uint64_t DisplayVersion() const;

  // Pictures and sign formats.
  std::map<std::uint8_t, StoredPicture> Pictures() const;
  void SetPicture(std::uint8_t number, StoredPicture picture);
  Bytes SignFormat(int number) const;  // 1-4
  void SetSignFormatBlock(int number, Bytes block);

  // The pen and the capture.
  void SetHidLink(bool hid);
  void SetPenTiming(PenTiming timing);
  void Write(std::vector<Stroke> strokes);
  bool Capturing() const;
  bool Paused() const;
  int Format() const;
  Bytes CaptureBytes() const;  // the seven bytes of the last start
  int PointCount() const;
  // Packets still waiting to leave.
  std::size_t PendingPackets() const;
  // Messages over HID during a capture; false (nothing sent) otherwise, or for an
  // unknown region.
  bool TouchRegion(std::uint8_t id);
  bool PressKey(char key);
  // Encodes a stroke set as the pen would send it in `format` (what tests compare with).
  static Bytes EncodeStrokes(int format, const std::vector<Stroke>& strokes);

 private:
  struct Font {
    int scale = 1;
    bool bold = false;
    Bytes raw = Bytes(6, 0);
  };

  std::unique_lock<std::recursive_mutex> Lock() const { return terminal_->Lock(); }
  void Reset();
  void Plot(int x, int y, Rgb colour);
  void PenDot(int x, int y);
  void Line(int x1, int y1, int x2, int y2);
  void FillRect(Rect r, Rgb colour);
  void Arc(int cx, int cy, int radius, int from, int to, bool fill);
  void Glyph(int x, int y, std::uint8_t ch, const Rect& bounds);
  void Text(int x, int y, std::span<const std::uint8_t> text, const Rect& bounds, bool wrap);
  void DrawRegion(const Region& region);
  void Ink(PenPoint from, PenPoint to);
  void ScheduleTick(int delayMs);
  void Tick();
  void StopStream();
  void HoldPen();

  Terminal* terminal_ = nullptr;
  std::vector<Rgb> screen_;
  std::uint64_t displayVersion_ = 0;
  Rgb pen_{0, 0, 0};
  int penWidth_ = 1;
  Bytes penRaw_ = Bytes(7, 0);
  Rgb brush_{255, 255, 255};
  Rgb textColour_{0, 0, 0};
  Rgb background_{255, 255, 255};
  std::uint8_t backgroundMode_ = 0;
  Font font_;
  int backlight_ = 100;
  Rect clip_{0, 0, kScreenWidth - 1, kScreenHeight - 1};
  Bytes clipRaw_ = Bytes(4, 0);
  std::map<std::uint8_t, Region> regions_;
  std::map<std::uint8_t, StoredPicture> pictures_;
  std::array<Bytes, 4> signFormats_;

  bool hid_ = false;
  PenTiming timing_;
  bool capturing_ = false;
  bool paused_ = false;
  int format_ = 0;
  Bytes captureBytes_ = Bytes(7, 0);
  int pointCount_ = 0;
  std::deque<std::vector<Stroke>> queued_;  // written before or during a capture
  Bytes stream_;                            // encoded packets still to send
  std::size_t streamAt_ = 0;
  std::optional<std::uint64_t> tick_;
  Clock::time_point tickDue_;
  std::vector<PenPoint> inkPoints_;  // per packet of stream_, pen-ups as (-1, -1)
  std::optional<PenPoint> lastInk_;
  Clock::time_point startedAt_;
};

}  // namespace vterm
