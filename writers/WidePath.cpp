#include "writers/WidePath.h"

#include <cstdint>

namespace framory {

namespace {

// The code point of the well-formed UTF-8 sequence at `text[i]` and its
// length in bytes; 0 bytes when no such sequence starts there.
std::size_t DecodeAt(const std::string& text, std::size_t i, std::uint32_t* code) {
  const auto lead = static_cast<unsigned char>(text[i]);
  std::size_t extra = 0;
  if (lead < 0x80) {
    *code = lead;
    return 1;
  }
  if ((lead & 0xE0) == 0xC0) {
    *code = lead & 0x1F;
    extra = 1;
  } else if ((lead & 0xF0) == 0xE0) {
    *code = lead & 0x0F;
    extra = 2;
  } else if ((lead & 0xF8) == 0xF0) {
    *code = lead & 0x07;
    extra = 3;
  } else {
    return 0;
  }
  if (i + extra >= text.size()) return 0;
  for (std::size_t k = 1; k <= extra; ++k) {
    const auto next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) return 0;
    *code = (*code << 6) | (next & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
  static constexpr std::uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
  if (*code < kSmallest[extra] || *code > 0x10FFFF || (*code >= 0xD800 && *code <= 0xDFFF)) {
    return 0;
  }
  return extra + 1;
}

void PutUtf8(std::uint32_t code, std::string* out) {
  if (code < 0x80) {
    out->push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code >> 6)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (code >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (code >> 18)));
    out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

}  // namespace

std::u16string PathToWide(const std::string& path) {
  std::u16string wide;
  wide.reserve(path.size());
  for (std::size_t i = 0; i < path.size();) {
    std::uint32_t code = 0;
    const std::size_t length = DecodeAt(path, i, &code);
    if (length == 0) {
      wide.push_back(static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(path[i])));
      ++i;
      continue;
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      wide.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      wide.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      wide.push_back(static_cast<char16_t>(code));
    }
    i += length;
  }
  return wide;
}

bool WideToPath(const std::u16string& wide, std::string* path) {
  path->clear();
  for (std::size_t i = 0; i < wide.size(); ++i) {
    std::uint32_t code = wide[i];
    if (code == 0) return false;
    if (code >= 0xD800 && code <= 0xDBFF) {
      if (i + 1 >= wide.size() || wide[i + 1] < 0xDC00 || wide[i + 1] > 0xDFFF) return false;
      code = 0x10000 + ((code - 0xD800) << 10) + (wide[++i] - 0xDC00);
    } else if (code >= 0xDC80 && code <= 0xDCFF) {
      path->push_back(static_cast<char>(code - 0xDC00));  // a byte that was not UTF-8
      continue;
    } else if (code >= 0xDC00 && code <= 0xDFFF) {
      return false;
    }
    PutUtf8(code, path);
  }
  return true;
}

bool IsUtf8(const std::string& path) {
  std::uint32_t code = 0;
  for (std::size_t i = 0; i < path.size();) {
    const std::size_t length = DecodeAt(path, i, &code);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

}  // namespace framory
