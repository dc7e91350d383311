#include "tools/cli/cli_text.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

#include "vantorel.h"

namespace cli {

std::string ReturnCodeText(unsigned rc) {
  // Codes beyond a byte are none the library returns: the library's "unknown code" text.
  const char* meaning = Brixa_ReturnCodeText(static_cast<unsigned char>(rc > 0xFF ? 0xFF : rc));
  return std::to_string(rc) + " (" + meaning + ")";
}

std::string Hex(const unsigned char* data, std::size_t count) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(count * 2);
  for (std::size_t i = 0; i < count; ++i) {
    out += kDigits[data[i] >> 4];
    out += kDigits[data[i] & 0x0F];
  }
  return out;
}

std::optional<std::vector<unsigned char>> ParseHex(std::string_view text) {
  std::vector<unsigned char> bytes;
  int high = -1;
  for (const char c : text) {
    if (c == ' ' || c == ':' || c == '-') {
      if (high >= 0) return std::nullopt;  // a separator inside a byte
      continue;
    }
    int v = -1;
    if (c >= '0' && c <= '9') v = c - '0';
    if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    if (v < 0) return std::nullopt;
    if (high < 0) {
      high = v;
    } else {
      bytes.push_back(static_cast<unsigned char>(high * 16 + v));
      high = -1;
    }
  }
  if (high >= 0) return std::nullopt;
  return bytes;
}

std::string Printable(const unsigned char* data, std::size_t count) {
  const bool text =
      std::all_of(data, data + count, [](unsigned char c) { return c >= 0x20 && c < 0x7F; });
  if (text) return std::string(reinterpret_cast<const char*>(data), count);
  return Hex(data, count);
}

std::string MaskPan(std::string_view pan) {
  const std::size_t n = pan.size();
  const std::size_t head = n > 12 ? 6 : 0;
  const std::size_t tail = n > 4 ? 4 : 0;  // four digits or fewer: all masked
  std::string out(pan);
  for (std::size_t i = head; i + tail < n; ++i) out[i] = '*';
  return out;
}

namespace {

bool Digits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Fills the summary from one track's text between its start and end sentinels.
void ReadTrack1(std::string_view t, CardSummary& card) {
  // B<PAN>^<NAME>^<YYMM>...
  if (t.empty() || t[0] != 'B') return;
  const auto caret1 = t.find('^');
  if (caret1 == std::string_view::npos) return;
  const auto caret2 = t.find('^', caret1 + 1);
  const std::string_view pan = t.substr(1, caret1 - 1);
  if (Digits(pan) && card.maskedPan.empty()) card.maskedPan = MaskPan(pan);
  if (caret2 == std::string_view::npos) return;
  std::string name(t.substr(caret1 + 1, caret2 - caret1 - 1));
  while (!name.empty() && name.back() == ' ') name.pop_back();
  if (card.name.empty()) card.name = name;
  const std::string_view rest = t.substr(caret2 + 1);
  if (rest.size() >= 4 && Digits(rest.substr(0, 4)) && card.expiry.empty()) {
    card.expiry = std::string(rest.substr(0, 4));
  }
}

void ReadTrack2(std::string_view t, CardSummary& card) {
  // <PAN>=<YYMM>...
  const auto eq = t.find('=');
  if (eq == std::string_view::npos) return;
  const std::string_view pan = t.substr(0, eq);
  if (Digits(pan) && card.maskedPan.empty()) card.maskedPan = MaskPan(pan);
  const std::string_view rest = t.substr(eq + 1);
  if (rest.size() >= 4 && Digits(rest.substr(0, 4)) && card.expiry.empty()) {
    card.expiry = std::string(rest.substr(0, 4));
  }
}

}  // namespace

CardSummary SummariseCard(const unsigned char* data, std::size_t count) {
  CardSummary card;
  card.length = count;
  if (count > 0 && data[0] == 0x02) {
    card.framed = true;
    return card;
  }
  const std::string_view text(reinterpret_cast<const char*>(data), count);
  // Track 1 starts with '%', tracks 2 and 3 with ';' (track 3 follows track 2); each ends
  // with '?'.
  bool seenTrack2 = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%' && text[i] != ';') continue;
    const auto end = text.find('?', i + 1);
    if (end == std::string_view::npos) break;
    const std::string_view body = text.substr(i + 1, end - i - 1);
    if (text[i] == '%') {
      card.tracks.push_back(1);
      ReadTrack1(body, card);
    } else if (!seenTrack2) {
      seenTrack2 = true;
      card.tracks.push_back(2);
      ReadTrack2(body, card);
    } else {
      card.tracks.push_back(3);
    }
    i = end;
  }
  return card;
}

std::optional<unsigned char> ParseSettingByte(std::string_view text) {
  if (text.size() == 1) return static_cast<unsigned char>(text[0]);
  if (text.size() == 4 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    const auto bytes = ParseHex(text.substr(2));
    if (bytes && bytes->size() == 1) return (*bytes)[0];
  }
  return std::nullopt;
}

std::optional<std::vector<unsigned char>> ParseFlags(std::string_view text, std::size_t count) {
  if (text.size() != count) return std::nullopt;
  std::vector<unsigned char> flags;
  for (const char c : text) {
    if (c != '0' && c != '1') return std::nullopt;
    flags.push_back(static_cast<unsigned char>(c - '0'));
  }
  return flags;
}

std::string ShowByte(unsigned char value) {
  char out[16];
  if (value >= 0x20 && value < 0x7F) {
    std::snprintf(out, sizeof out, "'%c' (0x%02X)", value, value);
  } else {
    std::snprintf(out, sizeof out, "0x%02X", value);
  }
  return out;
}

namespace {

template <class F>
void ForEachStroke(const std::vector<int>& values, F&& stroke) {
  std::vector<std::pair<int, int>> points;
  for (std::size_t i = 0; i + 1 < values.size(); i += 2) {
    if (values[i] < 0 || values[i + 1] < 0) {
      if (!points.empty()) stroke(points);
      points.clear();
    } else {
      points.emplace_back(values[i], values[i + 1]);
    }
  }
  if (!points.empty()) stroke(points);
}

}  // namespace

std::string SignatureSvg(const std::vector<int>& values) {
  std::string svg =
      "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 1024 1024\" width=\"512\" "
      "height=\"512\">\n<rect width=\"1024\" height=\"1024\" fill=\"white\"/>\n";
  ForEachStroke(values, [&](const std::vector<std::pair<int, int>>& points) {
    svg +=
        "<polyline fill=\"none\" stroke=\"black\" stroke-width=\"6\" stroke-linecap=\"round\" "
        "stroke-linejoin=\"round\" points=\"";
    for (std::size_t i = 0; i < points.size(); ++i) {
      if (i != 0) svg += ' ';
      svg += std::to_string(points[i].first) + "," + std::to_string(points[i].second);
    }
    svg += "\"/>\n";
  });
  svg += "</svg>\n";
  return svg;
}

std::vector<std::uint8_t> SignatureRaster(const std::vector<int>& values, int width, int height) {
  std::vector<std::uint8_t> image(
      static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 255);
  const auto dot = [&](int x, int y) {
    for (int dy = -1; dy <= 1; ++dy) {
      for (int dx = -1; dx <= 1; ++dx) {
        const int px = x + dx;
        const int py = y + dy;
        if (px >= 0 && px < width && py >= 0 && py < height) {
          image[static_cast<std::size_t>(py) * static_cast<std::size_t>(width) +
                static_cast<std::size_t>(px)] = 0;
        }
      }
    }
  };
  const auto scale = [](int v, int size) {
    return static_cast<int>(std::lround(v * (size - 1) / 1024.0));
  };
  ForEachStroke(values, [&](const std::vector<std::pair<int, int>>& points) {
    for (std::size_t i = 0; i < points.size(); ++i) {
      const auto [x0, y0] = points[i == 0 ? 0 : i - 1];
      const auto [x1, y1] = points[i];
      const int ax = scale(x0, width);
      const int ay = scale(y0, height);
      const int bx = scale(x1, width);
      const int by = scale(y1, height);
      const int steps = std::max({std::abs(bx - ax), std::abs(by - ay), 1});
      for (int s = 0; s <= steps; ++s) {
        dot(ax + (bx - ax) * s / steps, ay + (by - ay) * s / steps);
      }
    }
  });
  return image;
}

}  // namespace cli
