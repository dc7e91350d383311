#include "vterm/signpad.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "vterm/signpad_font.h"

#ifdef VTERM_HAVE_PNG
#include <png.h>
#endif

namespace vterm {
namespace {

constexpr std::uint8_t kDisplay = 0x8A;
constexpr std::uint8_t kSignature = 0x7A;
constexpr std::uint8_t kPerform = 0x46;
constexpr std::uint8_t kRead = 0x52;
constexpr std::uint8_t kWrite = 0x53;
constexpr int kMaxBacklight = 200;
constexpr int kPadRange = 1024;
constexpr int kMaxMove = 511;
constexpr Rgb kWhite{255, 255, 255};
constexpr int kSerialQuietMs = 800;

// A signed 16-bit coordinate, low byte first.
int Word(std::span<const std::uint8_t> p, std::size_t at) {
  return static_cast<std::int16_t>(p[at] | (p[at + 1] << 8));
}

Rgb ColourAt(std::span<const std::uint8_t> p, std::size_t at) {
  return {p[at], p[at + 1], p[at + 2]};
}

Rect RectAt(std::span<const std::uint8_t> p, std::size_t at) {
  return {Word(p, at), Word(p, at + 2), Word(p, at + 4), Word(p, at + 6)};
}

Rect Normalised(Rect r) {
  if (r.right < r.left) std::swap(r.left, r.right);
  if (r.bottom < r.top) std::swap(r.top, r.bottom);
  return r;
}

Rect Intersect(const Rect& a, const Rect& b) {
  return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
          std::min(a.bottom, b.bottom)};
}

bool Inside(const Rect& r, int x, int y) {
  return x >= r.left && x <= r.right && y >= r.top && y <= r.bottom;
}

Bytes LittleEndian32(int value) {
  const auto v = static_cast<std::uint32_t>(value);
  return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
          static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

struct Codes {
  std::uint8_t point;
  std::uint8_t penUp;
};

Codes CodesFor(int format) {
  switch (format) {
    case 1:
      return {0x9C, 0x8C};
    case 2:
    case 4:
      return {0x90, 0x80};
    default:
      return {0xB0, 0xA0};
  }
}

void Packet(Bytes& out, std::uint8_t status, int fx, int fy) {
  out.push_back(status);
  out.push_back(static_cast<std::uint8_t>(((fx >> 7) & 7) << 3 | ((fy >> 7) & 7)));
  out.push_back(static_cast<std::uint8_t>(fx & 0x7F));
  out.push_back(static_cast<std::uint8_t>(fy & 0x7F));
  out.push_back(0);
}

// The packets of a stroke set and, per packet, the point it puts the pen at: a pen-up is
// (-1, -1), and a stop on the way from the origin to a stroke's first point (relative moves
// are at most 511 a packet) is kApproach, which the pen does not draw.
constexpr PenPoint kApproach{-2, -2};
void Encode(int format, const std::vector<Stroke>& strokes, Bytes& out,
            std::vector<PenPoint>& points) {
  const Codes codes = CodesFor(format);
  for (const Stroke& stroke : strokes) {
    PenPoint at{0, 0};
    for (const PenPoint& given : stroke) {
      PenPoint p = given;
      p.x = std::clamp(p.x, 0, kPadRange - 1);
      p.y = std::clamp(p.y, 0, kPadRange - 1);
      if (format != 2) {
        Packet(out, codes.point, p.x, p.y);
        points.push_back(p);
        continue;
      }
      // Relative: a field holds a move of -512..511; longer moves take several packets.
      do {
        const int dx = std::clamp(p.x - at.x, -kMaxMove, kMaxMove);
        const int dy = std::clamp(p.y - at.y, -kMaxMove, kMaxMove);
        Packet(out, codes.point, dx & 0x3FF, dy & 0x3FF);
        at = {at.x + dx, at.y + dy};
        points.push_back(&given == &stroke.front() && at != p ? kApproach : at);
      } while (at != p);
    }
    Packet(out, codes.penUp, 0, 0);
    points.push_back({-1, -1});
  }
}

}  // namespace

SignpadModule::SignpadModule() {
  Reset();
}

void SignpadModule::Reset() {
  screen_.assign(static_cast<std::size_t>(kScreenWidth * kScreenHeight), kWhite);
  ++displayVersion_;
  pen_ = {0, 0, 0};
  penWidth_ = 1;
  penRaw_.assign(7, 0);
  brush_ = kWhite;
  textColour_ = {0, 0, 0};
  background_ = kWhite;
  backgroundMode_ = 0;
  font_ = Font{};
  backlight_ = 100;
  clip_ = {0, 0, kScreenWidth - 1, kScreenHeight - 1};
  clipRaw_.assign(4, 0);
  regions_.clear();
  StopStream();
  capturing_ = false;
  paused_ = false;
  pointCount_ = 0;
  queued_.clear();
  lastInk_.reset();
}

void SignpadModule::Restart() {
  Reset();
}

void SignpadModule::Install(Terminal& t) {
  terminal_ = &t;
  // Every pad command holds the pen back for a moment over serial (see HoldPen).
  const auto reg = [this, &t](std::uint8_t cls, std::uint8_t fn, std::uint8_t sub,
                              Terminal::Handler handler) {
    t.Register(cls, fn, sub, [this, handler](Terminal& term, const Command& c) {
      Response response = handler(term, c);
      HoldPen();
      return response;
    });
  };
  using P = std::span<const std::uint8_t>;
  const auto bad = [] { return Response::Nak(kStatusBadParameter); };
  // Registers a display command that takes exactly `size` parameter bytes.
  const auto fixed = [&reg](std::uint8_t cls, std::uint8_t fn, std::uint8_t sub, std::size_t size,
                            std::function<void(P)> apply) {
    reg(cls, fn, sub, [size, apply](Terminal&, const Command& c) {
      if (c.Params().size() != size) return Response::Nak(kStatusBadParameter);
      apply(c.Params());
      return Response::Ack();
    });
  };

  fixed(kDisplay, kPerform, 0x10, 7, [this](P p) {
    pen_ = ColourAt(p, 0);
    penWidth_ = std::clamp<int>(p[3], 1, 8);
    penRaw_.assign(p.begin(), p.end());
  });
  fixed(kDisplay, kPerform, 0x11, 8,
        [this](P p) { Line(Word(p, 0), Word(p, 2), Word(p, 4), Word(p, 6)); });
  fixed(kDisplay, kPerform, 0x12, 8, [this](P p) {
    const Rect r = Normalised(RectAt(p, 0));
    Line(r.left, r.top, r.right, r.top);
    Line(r.right, r.top, r.right, r.bottom);
    Line(r.right, r.bottom, r.left, r.bottom);
    Line(r.left, r.bottom, r.left, r.top);
  });
  fixed(kDisplay, kPerform, 0x13, 10,
        [this](P p) { Arc(Word(p, 0), Word(p, 2), Word(p, 4), Word(p, 6), Word(p, 8), false); });
  fixed(kDisplay, kPerform, 0x20, 3, [this](P p) { brush_ = ColourAt(p, 0); });
  fixed(kDisplay, kPerform, 0x22, 8, [this](P p) { FillRect(Normalised(RectAt(p, 0)), brush_); });
  fixed(kDisplay, kPerform, 0x23, 10,
        [this](P p) { Arc(Word(p, 0), Word(p, 2), Word(p, 4), Word(p, 6), Word(p, 8), true); });
  fixed(kDisplay, kPerform, 0x40, 6, [this](P p) {
    font_.scale = std::clamp<int>(p[0], 1, 4);
    font_.bold = (p[1] & 1) != 0;
    font_.raw.assign(p.begin(), p.end());
  });
  fixed(kDisplay, kPerform, 0x41, 3, [this](P p) { textColour_ = ColourAt(p, 0); });
  fixed(kDisplay, kPerform, 0x42, 3, [this](P p) { background_ = ColourAt(p, 0); });
  fixed(kDisplay, kPerform, 0x43, 1, [this](P p) { backgroundMode_ = p[0]; });

  // Text: the bytes behind the length field.
  reg(kDisplay, kPerform, 0x4F, [this, bad](Terminal&, const Command& c) {
    const P p = c.Params();
    if (p.size() < 6) return bad();
    const Rect screen{0, 0, kScreenWidth - 1, kScreenHeight - 1};
    Text(Word(p, 0), Word(p, 2), p.subspan(6), screen, false);
    return Response::Ack();
  });
  reg(kDisplay, kPerform, 0x4E, [this, bad](Terminal&, const Command& c) {
    const P p = c.Params();
    if (p.size() < 10) return bad();
    const Rect r = Normalised(RectAt(p, 0));
    Text(r.left, r.top, p.subspan(10), r, true);
    return Response::Ack();
  });

  reg(kDisplay, kWrite, 0x80, [this, bad](Terminal&, const Command& c) {
    const P p = c.Params();
    if (p.size() != 2 || p[0] != 0x01 || p[1] > kMaxBacklight) return bad();
    backlight_ = p[1];
    return Response::Ack();
  });
  reg(kDisplay, kRead, 0x80, [this](Terminal&, const Command&) {
    return Response::Ack(Bytes{0x80, 0x01, static_cast<std::uint8_t>(backlight_)});
  });

  fixed(kSignature, kPerform, 0x03, 12, [this](P p) {
    clipRaw_.assign(p.begin() + 8, p.end());
    const Rect screen{0, 0, kScreenWidth - 1, kScreenHeight - 1};
    clip_ = p[8] == 1 ? screen : Intersect(Normalised(RectAt(p, 0)), screen);
  });
  reg(kSignature, kPerform, 0x04, [this, bad](Terminal&, const Command& c) {
    const P p = c.Params();
    if (p.size() < 13) return bad();
    Region region{p[1], p[2], Normalised(RectAt(p, 3)), Bytes(p.begin() + 13, p.end())};
    regions_[p[0]] = region;
    DrawRegion(region);
    return Response::Ack();
  });

  // Pictures.
  reg(kDisplay, kPerform, 0x60, [this, bad](Terminal&, const Command& c) {
    if (c.Params().size() != 8) return bad();
    const Rect r = Normalised(RectAt(c.Params(), 0));
    Bytes pixels;
    pixels.reserve(static_cast<std::size_t>(r.right - r.left + 1) *
                   static_cast<std::size_t>(r.bottom - r.top + 1) * 3);
    for (int y = r.top; y <= r.bottom; ++y) {
      for (int x = r.left; x <= r.right; ++x) {
        const Rgb px = Pixel(x, y);
        pixels.insert(pixels.end(), {px.r, px.g, px.b});
      }
    }
    return Response::Ack(std::move(pixels));
  });
  reg(kDisplay, kPerform, 0x61, [this, bad](Terminal&, const Command& c) {
    const P p = c.Params();
    if (p.size() < 9) return bad();
    const Rect r = Normalised(RectAt(p, 0));
    std::size_t at = 8;
    for (int y = r.top; y <= r.bottom; ++y) {
      for (int x = r.left; x <= r.right && at + 3 <= p.size(); ++x, at += 3) {
        Plot(x, y, ColourAt(p, at));
      }
    }
    return Response::Ack();
  });
  reg(kDisplay, kPerform, 0x70, [this, bad](Terminal&, const Command& c) {
    const P p = c.Params();
    if (p.size() < 8 || p[1] != 0 || p[2] > 2 || p[3] != 0) return bad();
    const int width = p[4] | (p[5] << 8);
    const int height = p[6] | (p[7] << 8);
    if (width == 0 || height == 0 ||
        p.size() - 8 != static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3) {
      return bad();
    }
    pictures_[p[0]] = StoredPicture{p[2], width, height, Bytes(p.begin() + 8, p.end())};
    return Response::Ack();
  });
  reg(kDisplay, kPerform, 0x71, [this, bad](Terminal&, const Command& c) {
    const P p = c.Params();
    if (p.size() != 10 || p[1] != 0) return bad();
    const auto it = pictures_.find(p[0]);
    if (it == pictures_.end()) return bad();
    const StoredPicture& picture = it->second;
    const Rect r = Normalised(RectAt(p, 2));
    for (int y = 0; y < picture.height && r.top + y <= r.bottom; ++y) {
      for (int x = 0; x < picture.width && r.left + x <= r.right; ++x) {
        const std::size_t at = (static_cast<std::size_t>(y) * picture.width + x) * 3;
        Plot(r.left + x, r.top + y, ColourAt(picture.pixels, at));
      }
    }
    return Response::Ack();
  });
  reg(kDisplay, kPerform, 0x72, [this](Terminal&, const Command&) {
    Bytes list{static_cast<std::uint8_t>(pictures_.size())};
    for (const auto& [number, picture] : pictures_) list.insert(list.end(), {number, picture.kind});
    return Response::Ack(std::move(list));
  });

  // Signature.
  const auto ackOnly = [&reg](std::uint8_t sub, std::function<void()> apply) {
    reg(kSignature, kPerform, sub, [apply](Terminal&, const Command& c) {
      if (!c.Params().empty()) return Response::Nak(kStatusBadParameter);
      apply();
      return Response::Ack();
    });
  };
  ackOnly(0x01, [] {});
  reg(kSignature, kPerform, 0x10, [this, bad](Terminal&, const Command& c) {
    const P p = c.Params();
    if (p.size() != 8) return bad();
    StopStream();
    capturing_ = true;
    paused_ = false;
    format_ = p[0];
    captureBytes_.assign(p.begin() + 1, p.end());
    pointCount_ = 0;
    lastInk_.reset();
    while (!queued_.empty()) {
      Encode(format_, queued_.front(), stream_, inkPoints_);
      queued_.pop_front();
    }
    startedAt_ = Clock::now();
    if (streamAt_ < stream_.size()) ScheduleTick(timing_.startDelayMs);
    return Response::Ack();
  });
  ackOnly(0x11, [this] {
    paused_ = false;
    if (capturing_ && streamAt_ < stream_.size()) ScheduleTick(timing_.intervalMs);
  });
  reg(kSignature, kPerform, 0x12, [this, bad](Terminal&, const Command& c) {
    if (!c.Params().empty()) return bad();
    paused_ = true;
    if (tick_) terminal_->Cancel(*tick_);
    tick_.reset();
    return Response::Ack(LittleEndian32(pointCount_));
  });
  reg(kSignature, kPerform, 0x17, [this, bad](Terminal&, const Command& c) {
    if (!c.Params().empty()) return bad();
    return Response::Ack(LittleEndian32(pointCount_));
  });
  ackOnly(0x19, [this] {
    pointCount_ = 0;
    lastInk_.reset();
    for (const auto& [id, region] : regions_) {
      if (region.kind == 2) DrawRegion(region);
    }
  });
  ackOnly(0x1F, [this] {
    capturing_ = false;
    paused_ = false;
    StopStream();
  });
  for (std::uint8_t n = 0; n < 4; ++n) {
    reg(kSignature, kPerform, static_cast<std::uint8_t>(0x20 + n),
        [this, n](Terminal&, const Command& c) {
          if (!c.Params().empty()) return Response::Nak(kStatusBadParameter);
          return Response::Ack(signFormats_[n]);
        });
    reg(kSignature, kPerform, static_cast<std::uint8_t>(0x30 + n),
        [this, n](Terminal&, const Command& c) {
          signFormats_[n].assign(c.Params().begin(), c.Params().end());
          return Response::Ack();
        });
  }
}

// --- Drawing ------------------------------------------------------------------------------

void SignpadModule::Plot(int x, int y, Rgb colour) {
  if (!Inside(clip_, x, y)) return;
  screen_[static_cast<std::size_t>(y * kScreenWidth + x)] = colour;
  ++displayVersion_;
}

void SignpadModule::PenDot(int x, int y) {
  const int from = -(penWidth_ - 1) / 2;
  for (int dy = 0; dy < penWidth_; ++dy) {
    for (int dx = 0; dx < penWidth_; ++dx) Plot(x + from + dx, y + from + dy, pen_);
  }
}

void SignpadModule::Line(int x1, int y1, int x2, int y2) {
  const int dx = std::abs(x2 - x1);
  const int dy = -std::abs(y2 - y1);
  const int sx = x1 < x2 ? 1 : -1;
  const int sy = y1 < y2 ? 1 : -1;
  int error = dx + dy;
  for (;;) {
    PenDot(x1, y1);
    if (x1 == x2 && y1 == y2) return;
    const int e2 = 2 * error;
    if (e2 >= dy) {
      error += dy;
      x1 += sx;
    }
    if (e2 <= dx) {
      error += dx;
      y1 += sy;
    }
  }
}

void SignpadModule::FillRect(Rect r, Rgb colour) {
  r = Intersect(r, clip_);
  for (int y = r.top; y <= r.bottom; ++y) {
    for (int x = r.left; x <= r.right; ++x) Plot(x, y, colour);
  }
}

void SignpadModule::Arc(int cx, int cy, int radius, int from, int to, bool fill) {
  radius = std::abs(radius);
  const int start = ((from % 360) + 360) % 360;
  int sweep = (((to - from) % 360) + 360) % 360;
  if (sweep == 0) sweep = 360;
  constexpr double kDegree = 3.14159265358979323846 / 180.0;
  if (fill) {
    for (int y = cy - radius; y <= cy + radius; ++y) {
      for (int x = cx - radius; x <= cx + radius; ++x) {
        const int dx = x - cx;
        const int dy = y - cy;
        if (dx * dx + dy * dy > radius * radius) continue;
        const double angle = std::atan2(dy, dx) / kDegree;
        const int a = (static_cast<int>(std::lround(angle)) + 360) % 360;
        if ((a - start + 360) % 360 <= sweep || (dx == 0 && dy == 0)) Plot(x, y, brush_);
      }
    }
    return;
  }
  const int steps = std::max(8, sweep * std::max(radius, 1) / 20);
  int px = cx + static_cast<int>(std::lround(radius * std::cos(start * kDegree)));
  int py = cy + static_cast<int>(std::lround(radius * std::sin(start * kDegree)));
  for (int i = 1; i <= steps; ++i) {
    const double a = (start + static_cast<double>(sweep) * i / steps) * kDegree;
    const int x = cx + static_cast<int>(std::lround(radius * std::cos(a)));
    const int y = cy + static_cast<int>(std::lround(radius * std::sin(a)));
    Line(px, py, x, y);
    px = x;
    py = y;
  }
}

void SignpadModule::Glyph(int x, int y, std::uint8_t ch, const Rect& bounds) {
  const int s = font_.scale;
  const auto plot = [&](int gx, int gy, Rgb colour) {
    for (int dy = 0; dy < s; ++dy) {
      for (int dx = 0; dx < s; ++dx) {
        const int px = x + gx * s + dx;
        const int py = y + gy * s + dy;
        if (Inside(bounds, px, py)) Plot(px, py, colour);
      }
    }
  };
  if (backgroundMode_ != 0) {
    for (int gy = 0; gy < kCellHeight; ++gy) {
      for (int gx = 0; gx < kCellWidth; ++gx) plot(gx, gy, background_);
    }
  }
  std::array<std::uint8_t, kGlyphColumns> columns{0x7F, 0x41, 0x41, 0x41, 0x7F};  // a box
  if (auto glyph = GlyphColumns(ch)) columns = *glyph;
  for (int gx = 0; gx < kGlyphColumns; ++gx) {
    for (int gy = 0; gy < kCellHeight; ++gy) {
      if ((columns[gx] >> gy & 1) == 0) continue;
      plot(gx, gy, textColour_);
      if (font_.bold) plot(gx + 1, gy, textColour_);
    }
  }
}

void SignpadModule::Text(int x, int y, std::span<const std::uint8_t> text, const Rect& bounds,
                         bool wrap) {
  const int cellW = kCellWidth * font_.scale;
  const int cellH = kCellHeight * font_.scale;
  int cx = x;
  int cy = y;
  for (std::uint8_t ch : text) {
    if (wrap && ch == '\n') {
      cx = x;
      cy += cellH;
      continue;
    }
    if (wrap && cx + cellW - 1 > bounds.right && cx > x) {
      cx = x;
      cy += cellH;
    }
    if (cy > bounds.bottom) return;
    Glyph(cx, cy, ch, bounds);
    cx += cellW;
  }
}

void SignpadModule::DrawRegion(const Region& region) {
  const Rect& r = region.rect;
  const auto outline = [&] {
    Line(r.left, r.top, r.right, r.top);
    Line(r.right, r.top, r.right, r.bottom);
    Line(r.right, r.bottom, r.left, r.bottom);
    Line(r.left, r.bottom, r.left, r.top);
  };
  switch (region.kind) {
    case 0:
      FillRect(r, brush_);
      break;
    case 1: {
      FillRect(r, brush_);
      outline();
      const int width = static_cast<int>(region.data.size()) * kCellWidth * font_.scale;
      const int x = r.left + (r.right - r.left + 1 - width) / 2;
      const int y = r.top + (r.bottom - r.top + 1 - kCellHeight * font_.scale) / 2;
      Text(x, y, region.data, r, false);
      break;
    }
    case 2:
      FillRect(r, background_);
      outline();
      break;
    case 3:
      Text(r.left, r.top, region.data, r, true);
      break;
    default:
      break;  // a hot spot shows nothing
  }
}

// The pen's ink goes into the signature box, or over the whole display without one.
void SignpadModule::Ink(PenPoint from, PenPoint to) {
  Rect box{0, 0, kScreenWidth - 1, kScreenHeight - 1};
  for (const auto& [id, region] : regions_) {
    if (region.kind == 2) box = region.rect;
  }
  const auto map = [&](PenPoint p) {
    return PenPoint{box.left + p.x * (box.right - box.left) / kPadRange,
                    box.top + p.y * (box.bottom - box.top) / kPadRange};
  };
  const PenPoint a = map(from);
  const PenPoint b = map(to);
  Line(a.x, a.y, b.x, b.y);
}

// --- The pen ------------------------------------------------------------------------------

void SignpadModule::ScheduleTick(int delayMs) {
  if (tick_) terminal_->Cancel(*tick_);
  tickDue_ = Clock::now() + std::chrono::milliseconds(std::max(delayMs, 0));
  tick_ = terminal_->Schedule(std::max(delayMs, 0), [this](Terminal&) {
    tick_.reset();
    Tick();
  });
}

void SignpadModule::Tick() {
  if (!capturing_ || paused_ || streamAt_ >= stream_.size()) return;
  const std::size_t packets =
      static_cast<std::size_t>(std::clamp(timing_.packetsPerMessage, 1, 12));
  std::size_t end = std::min(stream_.size(), streamAt_ + packets * 5);
  // A lifted pen is news of its own: a pen-up opens a message, so a host hears at once
  // that a stroke ended.
  for (std::size_t at = streamAt_ + 5; at < end; at += 5) {
    if (inkPoints_[at / 5].x == -1) {
      end = at;
      break;
    }
  }
  Bytes message(stream_.begin() + static_cast<std::ptrdiff_t>(streamAt_),
                stream_.begin() + static_cast<std::ptrdiff_t>(end));
  for (std::size_t at = streamAt_; at < end; at += 5) {
    const PenPoint p = inkPoints_[at / 5];
    if (p == kApproach) {
      ++pointCount_;  // the pad counts every packet it sends
      continue;
    }
    if (p.x < 0) {
      lastInk_.reset();
      continue;
    }
    ++pointCount_;
    Ink(lastInk_.value_or(p), p);
    lastInk_ = p;
  }
  streamAt_ = end;
  terminal_->Push(std::move(message));
  if (streamAt_ < stream_.size()) ScheduleTick(timing_.intervalMs);
}

// A serial host reads a reply until the line stays silent for a while; pen packets right
// behind the reply would run into it. So after answering, the pen waits that long.
void SignpadModule::HoldPen() {
  if (hid_ || !capturing_ || !tick_) return;
  if (tickDue_ < Clock::now() + std::chrono::milliseconds(kSerialQuietMs)) {
    ScheduleTick(kSerialQuietMs);
  }
}

void SignpadModule::StopStream() {
  if (tick_ && terminal_ != nullptr) terminal_->Cancel(*tick_);
  tick_.reset();
  stream_.clear();
  inkPoints_.clear();
  streamAt_ = 0;
}

void SignpadModule::Write(std::vector<Stroke> strokes) {
  auto lock = Lock();
  if (!capturing_) {
    queued_.push_back(std::move(strokes));
    return;
  }
  Encode(format_, strokes, stream_, inkPoints_);
  if (paused_ || tick_) return;
  const auto since =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - startedAt_);
  ScheduleTick(timing_.startDelayMs - static_cast<int>(since.count()));
}

Bytes SignpadModule::EncodeStrokes(int format, const std::vector<Stroke>& strokes) {
  Bytes out;
  std::vector<PenPoint> points;
  Encode(format, strokes, out, points);
  return out;
}

bool SignpadModule::TouchRegion(std::uint8_t id) {
  auto lock = Lock();
  if (!hid_ || !capturing_ || regions_.count(id) == 0) return false;
  terminal_->Push(Bytes{kSignature, id, 0x00, 0x00});
  return true;
}

bool SignpadModule::PressKey(char key) {
  auto lock = Lock();
  if (!hid_ || !capturing_) return false;
  terminal_->Push(Bytes{kSignature, 0xFF, 0x00, static_cast<std::uint8_t>(key)});
  return true;
}

// --- Accessors ----------------------------------------------------------------------------

Rgb SignpadModule::Pixel(int x, int y) const {
  auto lock = Lock();
  if (x < 0 || x >= kScreenWidth || y < 0 || y >= kScreenHeight) return {};
  return screen_[static_cast<std::size_t>(y * kScreenWidth + x)];
}

std::vector<Rgb> SignpadModule::Pixels() const {
  auto lock = Lock();
  return screen_;
}

void SignpadModule::Fill(Rgb colour) {
  auto lock = Lock();
  std::fill(screen_.begin(), screen_.end(), colour);
  ++displayVersion_;
}

int SignpadModule::Backlight() const {
  auto lock = Lock();
  return backlight_;
}

Rect SignpadModule::ClipArea() const {
  auto lock = Lock();
  return clip_;
}

std::optional<Region> SignpadModule::RegionById(std::uint8_t id) const {
  auto lock = Lock();
  const auto it = regions_.find(id);
  if (it == regions_.end()) return std::nullopt;
  return it->second;
}

std::map<std::uint8_t, Region> SignpadModule::Regions() const {
  auto lock = Lock();
  return regions_;
}

std::uint64_t SignpadModule::DisplayVersion() const {
  auto lock = Lock();
  return displayVersion_;
}

std::map<std::uint8_t, StoredPicture> SignpadModule::Pictures() const {
  auto lock = Lock();
  return pictures_;
}

Bytes SignpadModule::SignFormat(int number) const {
  auto lock = Lock();
  return number >= 1 && number <= 4 ? signFormats_[static_cast<std::size_t>(number - 1)] : Bytes{};
}

void SignpadModule::SetSignFormatBlock(int number, Bytes block) {
  auto lock = Lock();
  if (number >= 1 && number <= 4)
    signFormats_[static_cast<std::size_t>(number - 1)] = std::move(block);
}

void SignpadModule::SetPicture(std::uint8_t number, StoredPicture picture) {
  auto lock = Lock();
  pictures_[number] = std::move(picture);
}

void SignpadModule::SetHidLink(bool hid) {
  auto lock = Lock();
  hid_ = hid;
}

void SignpadModule::SetPenTiming(PenTiming timing) {
  auto lock = Lock();
  timing_ = timing;
}

bool SignpadModule::Capturing() const {
  auto lock = Lock();
  return capturing_;
}

bool SignpadModule::Paused() const {
  auto lock = Lock();
  return paused_;
}

int SignpadModule::Format() const {
  auto lock = Lock();
  return format_;
}

Bytes SignpadModule::CaptureBytes() const {
  auto lock = Lock();
  return captureBytes_;
}

int SignpadModule::PointCount() const {
  auto lock = Lock();
  return pointCount_;
}

std::size_t SignpadModule::PendingPackets() const {
  auto lock = Lock();
  std::size_t queued = 0;
  for (const auto& set : queued_) {
    queued += EncodeStrokes(capturing_ ? format_ : 1, set).size() / 5;
  }
  return (stream_.size() - streamAt_) / 5 + queued;
}

bool SignpadModule::WritePng(const std::string& path) const {
#ifdef VTERM_HAVE_PNG
  // libpng's simplified API: no setjmp, so no locals for longjmp to clobber.
  std::vector<png_byte> pixels;
  {
    auto lock = Lock();
    pixels.reserve(screen_.size() * 3);
    for (const Rgb& px : screen_) {
      pixels.push_back(px.r);
      pixels.push_back(px.g);
      pixels.push_back(px.b);
    }
  }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = kScreenWidth;
  image.height = kScreenHeight;
  image.format = PNG_FORMAT_RGB;
  const bool ok = png_image_write_to_file(&image, path.c_str(), 0, pixels.data(), kScreenWidth * 3,
                                          nullptr) != 0;
  png_image_free(&image);
  return ok;
#else
  (void)path;
  return false;
#endif
}

}  // namespace vterm
