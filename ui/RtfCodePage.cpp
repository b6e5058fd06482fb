#include "ui/RtfCodePage.h"

#include <iconv.h>

#include <array>
#include <cerrno>
#include <string>

namespace framory {

namespace {

// Characters of code page 1252 at 0x80..0x9F (0 where the byte is unused);
// 0xA0..0xFF are the same as Latin-1.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// iconv's name of a Windows code page.
std::string IconvName(std::int32_t codePage) {
  switch (codePage) {
    case 10000:
      return "MACINTOSH";
    case 20127:
      return "ASCII";
    case 28591:
      return "ISO-8859-1";
    case 65001:
      return "UTF-8";
    case 936:
      return "GBK";
    case 950:
      return "BIG5";
    case 949:
      return "CP949";
    default:
      return "CP" + std::to_string(codePage);
  }
}

}  // namespace

RtfCodePage::~RtfCodePage() {
  for (auto& [page, converter] : converters_) {
    if (static_cast<iconv_t>(converter) != kNoConverter)
      iconv_close(static_cast<iconv_t>(converter));
  }
}

void* RtfCodePage::Converter(std::int32_t codePage) {
  auto found = converters_.find(codePage);
  if (found != converters_.end()) return found->second;
  // A document naming many code pages cannot make us open converters without end.
  if (converters_.size() >= 16) return kNoConverter;
  iconv_t converter = iconv_open("UTF-8", IconvName(codePage).c_str());
  converters_[codePage] = converter;
  return converter;
}

void RtfCodePage::AppendUtf8(std::int32_t codePage, std::string_view bytes, std::string& out) {
  if (codePage == 1252 || codePage <= 0) {
    for (unsigned char b : bytes) {
      char32_t c = b;
      if (b >= 0x80 && b < 0xA0) c = kCp1252High[b - 0x80] != 0 ? kCp1252High[b - 0x80] : 0xFFFD;
      AppendCodePoint(c, out);
    }
    return;
  }
  iconv_t converter = static_cast<iconv_t>(Converter(codePage));
  if (converter == kNoConverter) {
    AppendUtf8(1252, bytes, out);
    return;
  }
  iconv(converter, nullptr, nullptr, nullptr, nullptr);
  char* in = const_cast<char*>(bytes.data());
  std::size_t inLeft = bytes.size();
  char buffer[256];
  while (inLeft > 0) {
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    const std::size_t result = iconv(converter, &in, &inLeft, &outPtr, &outLeft);
    out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
    if (result != static_cast<std::size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    // An invalid or incomplete sequence: one replacement character, then go on
    // after the offending byte.
    AppendCodePoint(0xFFFD, out);
    ++in;
    --inLeft;
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
  }
}

std::int32_t RtfCodePage::ForCharset(std::int32_t charset) {
  switch (charset) {
    case 77:
      return 10000;
    case 128:
      return 932;
    case 129:
      return 949;
    case 134:
      return 936;
    case 136:
      return 950;
    case 161:
      return 1253;
    case 162:
      return 1254;
    case 163:
      return 1258;
    case 177:
      return 1255;
    case 178:
      return 1256;
    case 186:
      return 1257;
    case 204:
      return 1251;
    case 222:
      return 874;
    case 238:
      return 1250;
    default:
      return 0;
  }
}

int RtfCodePage::ToCp1252(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<int>(c);
  for (std::size_t i = 0; i < kCp1252High.size(); ++i) {
    if (kCp1252High[i] != 0 && kCp1252High[i] == c) return static_cast<int>(0x80 + i);
  }
  return -1;
}

void RtfCodePage::AppendCodePoint(char32_t c, std::string& out) {
  if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = 0xFFFD;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

char32_t RtfCodePage::NextCodePoint(std::string_view text, std::size_t& pos) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char first = byte(pos);
  if (first < 0x80) {
    ++pos;
    return first;
  }
  int length = 1;
  char32_t c = first;
  if (first >= 0xF0 && first <= 0xF4) {
    length = 4;
    c = first & 0x07;
  } else if (first >= 0xE0) {
    length = first <= 0xEF ? 3 : 0;
    c = first & 0x0F;
  } else if (first >= 0xC2) {
    length = 2;
    c = first & 0x1F;
  } else if (first >= 0x80) {
    length = 0;
  }
  if (length == 0 || pos + length > text.size()) {
    ++pos;
    return first < 0x80 ? first : 0xFFFD;
  }
  for (int i = 1; i < length; ++i) {
    const unsigned char next = byte(pos + i);
    if ((next & 0xC0) != 0x80) {
      ++pos;
      return 0xFFFD;
    }
    c = (c << 6) | (next & 0x3F);
  }
  const char32_t least = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
  pos += length;
  if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0xFFFD;
  return c;
}

}  // namespace framory
