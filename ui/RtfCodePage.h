// Text conversions RTF needs: the bytes of \'hh escapes and of unescaped text
// are in a Windows code page (the document's \ansicpg or the font's
// \fcharset); RTF writers escape anything outside ASCII. Conversions go
// through iconv, with one converter per code page kept for the reader's life.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace framory {

class RtfCodePage {
 public:
  RtfCodePage() = default;
  ~RtfCodePage();
  RtfCodePage(const RtfCodePage&) = delete;
  RtfCodePage& operator=(const RtfCodePage&) = delete;

  // Appends `bytes` in `codePage` to `out` as UTF-8. Bytes the code page does
  // not map become U+FFFD; an unknown code page reads as 1252.
  void AppendUtf8(std::int32_t codePage, std::string_view bytes, std::string& out);

  // The code page of a font's \fcharset; 0 when the charset has none of its
  // own (the document's code page applies).
  static std::int32_t ForCharset(std::int32_t charset);
  // The code page 1252 byte of a character, or -1 when it has none.
  static int ToCp1252(char32_t c);
  static void AppendCodePoint(char32_t c, std::string& out);
  // Reads one code point from UTF-8 at `pos`, advancing it; malformed bytes
  // read as U+FFFD, one byte at a time.
  static char32_t NextCodePoint(std::string_view text, std::size_t& pos);

 private:
  void* Converter(std::int32_t codePage);

  std::map<std::int32_t, void*> converters_;
};

}  // namespace framory
