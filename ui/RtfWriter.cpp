#include "ui/RtfWriter.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "ui/RtfCodePage.h"

namespace framory {

namespace {

struct FontKey {
  std::string Face;
  RtfFontFamily Family;
  std::int32_t Charset;
  bool operator==(const FontKey& other) const {
    return std::tie(Face, Family, Charset) == std::tie(other.Face, other.Family, other.Charset);
  }
};

const char* FamilyWord(RtfFontFamily family) {
  switch (family) {
    case RtfFontFamily::Roman:
      return "\\froman";
    case RtfFontFamily::Swiss:
      return "\\fswiss";
    case RtfFontFamily::Modern:
      return "\\fmodern";
    case RtfFontFamily::Script:
      return "\\fscript";
    case RtfFontFamily::Decor:
      return "\\fdecor";
    case RtfFontFamily::Tech:
      return "\\ftech";
    case RtfFontFamily::Bidi:
      return "\\fbidi";
    case RtfFontFamily::Nil:
      break;
  }
  return "\\fnil";
}

void AppendHex(unsigned value, std::string& out) {
  static const char kDigits[] = "0123456789abcdef";
  out += "\\'";
  out += kDigits[(value >> 4) & 0xF];
  out += kDigits[value & 0xF];
}

// Escapes UTF-8 text for the body or a font name.
void AppendEscaped(std::string_view text, std::string& out) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    const char32_t c = RtfCodePage::NextCodePoint(text, pos);
    switch (c) {
      case '\\':
        out += "\\\\";
        continue;
      case '{':
        out += "\\{";
        continue;
      case '}':
        out += "\\}";
        continue;
      case '\t':
        out += "\\tab ";
        continue;
      case '\r':
      case '\n':
      case 0x2028:
        out += "\\line ";
        continue;
      case 0x00A0:
        out += "\\~";
        continue;
      default:
        break;
    }
    if (c >= 0x20 && c < 0x80) {
      out += static_cast<char>(c);
      continue;
    }
    if (c < 0x20) continue;
    const int byte = RtfCodePage::ToCp1252(c);
    if (byte >= 0) {
      AppendHex(static_cast<unsigned>(byte), out);
      continue;
    }
    // \uN takes a signed 16-bit number; characters beyond the first plane go
    // as a surrogate pair. Each is followed by its one-byte fallback.
    const auto unit = [&out](std::uint32_t value) {
      out += "\\u" + std::to_string(static_cast<std::int16_t>(value)) + "?";
    };
    if (c >= 0x10000) {
      unit(0xD800 + ((c - 0x10000) >> 10));
      unit(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      unit(c);
    }
  }
}

template <typename T>
std::size_t IndexOf(std::vector<T>& list, const T& value) {
  auto found = std::find(list.begin(), list.end(), value);
  if (found != list.end()) return static_cast<std::size_t>(found - list.begin());
  list.push_back(value);
  return list.size() - 1;
}

}  // namespace

std::string RtfWriter::Write(const RtfDocument& document) {
  // Tables first: every font and colour the runs use, in order of first use.
  // Colour 0 is the automatic colour.
  std::vector<FontKey> fonts;
  std::vector<RtfColor> colors;
  for (const RtfParagraph& paragraph : document.Paragraphs) {
    std::vector<const RtfCharFormat*> formats;
    for (const RtfRun& run : paragraph.Runs) formats.push_back(&run.Format);
    formats.push_back(&paragraph.Mark);
    for (const RtfCharFormat* f : formats) {
      IndexOf(fonts, FontKey{f->FontFace, f->FontFamily, f->Charset});
      if (f->Color) IndexOf(colors, *f->Color);
      if (f->Background) IndexOf(colors, *f->Background);
    }
  }
  if (fonts.empty()) fonts.push_back(FontKey{"Arial", RtfFontFamily::Swiss, 0});

  std::string out = "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1{\\fonttbl";
  for (std::size_t i = 0; i < fonts.size(); ++i) {
    out += "{\\f" + std::to_string(i) + FamilyWord(fonts[i].Family) + "\\fcharset" +
           std::to_string(fonts[i].Charset) + " ";
    AppendEscaped(fonts[i].Face, out);
    out += ";}";
  }
  out += "}\n{\\colortbl ;";
  for (RtfColor color : colors) {
    out += "\\red" + std::to_string((color >> 16) & 0xFF) + "\\green" +
           std::to_string((color >> 8) & 0xFF) + "\\blue" + std::to_string(color & 0xFF) + ";";
  }
  out += "}\n";

  const auto AppendCharFormat = [&fonts, &colors](const RtfCharFormat& f, std::string& out) {
    out += "\\f" + std::to_string(IndexOf(fonts, FontKey{f.FontFace, f.FontFamily, f.Charset}));
    out += "\\fs" + std::to_string((std::clamp(f.SizeTwips, 10, 32760) + 5) / 10);
    if (f.Bold) out += "\\b";
    if (f.Italic) out += "\\i";
    if (f.Underline) out += "\\ul";
    if (f.StrikeOut) out += "\\strike";
    if (f.VerticalAlign == RtfVerticalAlign::Subscript) out += "\\sub";
    if (f.VerticalAlign == RtfVerticalAlign::Superscript) out += "\\super";
    if (f.Color) out += "\\cf" + std::to_string(IndexOf(colors, *f.Color) + 1);
    if (f.Background) out += "\\highlight" + std::to_string(IndexOf(colors, *f.Background) + 1);
  };
  for (std::size_t p = 0; p < document.Paragraphs.size(); ++p) {
    const RtfParagraph& paragraph = document.Paragraphs[p];
    const RtfParagraphFormat& format = paragraph.Format;
    out += "\\pard\\plain";
    switch (format.Alignment) {
      case RtfAlignment::Left:
        out += "\\ql";
        break;
      case RtfAlignment::Right:
        out += "\\qr";
        break;
      case RtfAlignment::Center:
        out += "\\qc";
        break;
      case RtfAlignment::Justify:
        out += "\\qj";
        break;
    }
    switch (format.LineSpacingRule) {
      case RtfLineSpacingRule::Single:
        break;
      case RtfLineSpacingRule::Multiple:
        out += "\\sl" + std::to_string(static_cast<std::int64_t>(format.LineSpacing) * 240 / 100) +
               "\\slmult1";
        break;
      case RtfLineSpacingRule::AtLeast:
        out += "\\sl" + std::to_string(format.LineSpacing) + "\\slmult0";
        break;
      case RtfLineSpacingRule::Exactly:
        out += "\\sl-" + std::to_string(format.LineSpacing) + "\\slmult0";
        break;
    }
    if (format.Bullet) {
      out += "\\fi-360\\li360{\\pntext\\'95\\tab}{\\*\\pn\\pnlvlblt\\pnindent360{\\pntxtb\\'95}}";
    }
    bool empty = true;
    for (const RtfRun& run : paragraph.Runs) {
      if (run.Text.empty()) continue;
      empty = false;
      out += "{";
      AppendCharFormat(run.Format, out);
      out += " ";
      AppendEscaped(run.Text, out);
      out += "}";
    }
    // An empty paragraph keeps its mark's format for what is typed into it;
    // the next \\pard\\plain resets it.
    if (empty) AppendCharFormat(paragraph.Mark, out);
    if (p + 1 < document.Paragraphs.size()) out += "\\par\n";
  }
  out += "}\n";
  return out;
}

}  // namespace framory
