// A formatted document as RTF describes it, in plain values: paragraphs of
// runs, each run with its character format resolved (font face, size, colours
// as RGB), each paragraph with its alignment, bullet and line spacing. The RTF
// reader fills it, the RTF writer reads it, and the text-widget adapter maps
// it onto the widget's document. Texts are UTF-8.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace framory {

// Font families of the RTF font table (\fnil, \froman, \fswiss, ...).
enum class RtfFontFamily : std::uint8_t { Nil, Roman, Swiss, Modern, Script, Decor, Tech, Bidi };

enum class RtfVerticalAlign : std::uint8_t { Normal, Subscript, Superscript };

enum class RtfAlignment : std::uint8_t { Left, Right, Center, Justify };

// 0x00RRGGBB.
using RtfColor = std::uint32_t;

struct RtfCharFormat {
  std::string FontFace;  // empty: the widget's default font
  RtfFontFamily FontFamily = RtfFontFamily::Nil;
  std::int32_t Charset = 0;  // \fcharset of the font
  std::int32_t SizeTwips = 240;
  bool Bold = false;
  bool Italic = false;
  bool Underline = false;
  bool StrikeOut = false;
  RtfVerticalAlign VerticalAlign = RtfVerticalAlign::Normal;
  std::optional<RtfColor> Color;       // none: automatic text colour
  std::optional<RtfColor> Background;  // none: no highlight
  friend bool operator==(const RtfCharFormat&, const RtfCharFormat&) = default;
};

struct RtfRun {
  std::string Text;
  RtfCharFormat Format;
};

// How a paragraph's lines are spaced: single, a multiple of single spacing in
// percent (150 = one and a half lines), or a height in twips that lines keep
// at least or exactly.
enum class RtfLineSpacingRule : std::uint8_t { Single, Multiple, AtLeast, Exactly };

struct RtfParagraphFormat {
  RtfAlignment Alignment = RtfAlignment::Left;
  bool Bullet = false;
  RtfLineSpacingRule LineSpacingRule = RtfLineSpacingRule::Single;
  std::int32_t LineSpacing = 0;  // percent for Multiple, twips for AtLeast and Exactly
  friend bool operator==(const RtfParagraphFormat&, const RtfParagraphFormat&) = default;
};

struct RtfParagraph {
  RtfParagraphFormat Format;
  std::vector<RtfRun> Runs;
  // The character format at the paragraph mark: what an empty paragraph's
  // typed text takes.
  RtfCharFormat Mark;
  std::string Text() const {
    std::string text;
    for (const RtfRun& run : Runs) text += run.Text;
    return text;
  }
};

struct RtfDocument {
  std::vector<RtfParagraph> Paragraphs;
};

}  // namespace framory
