// The RTF control words the reader understands, each with what it does: a
// character or paragraph property, a destination (font table, colour table,
// a group to pass over), a special character, or a code-page setting.
// Control words not in the table are read past.
#pragma once

#include <cstdint>
#include <string_view>

namespace framory {

enum class RtfKeyword : std::uint8_t {
  Par,
  Pard,
  Plain,
  Bold,
  Italic,
  Underline,
  UnderlineNone,
  Strike,
  FontSize,
  Font,
  Color,
  Background,
  Highlight,
  Sub,
  Super,
  NoSuperSub,
  Up,
  Dn,
  AlignLeft,
  AlignRight,
  AlignCenter,
  AlignJustify,
  Sl,
  SlMult,
  Ls,
  Pn,
  Tab,
  Line,
  Cell,
  Row,
  Unicode,
  Uc,
  Bin,
  AnsiCpg,
  Ansi,
  Mac,
  Pc,
  Pca,
  Deff,
  FontTable,
  ColorTable,
  SkipDest,
  Red,
  Green,
  Blue,
  FNil,
  FRoman,
  FSwiss,
  FModern,
  FScript,
  FDecor,
  FTech,
  FBidi,
  FCharset,
  Cpg,
  Char,
};

struct RtfKeywordInfo {
  RtfKeyword Kind;
  char32_t Char = 0;  // for RtfKeyword::Char
};

// The control word's meaning, or nullptr for a word the reader passes over.
const RtfKeywordInfo* FindRtfKeyword(std::string_view word);

}  // namespace framory
