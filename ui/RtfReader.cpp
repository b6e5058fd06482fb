// The reader is one pass over the bytes with a stack of group states. Each
// group holds its destination (body text, font table, colour table, or
// skipped), its character and paragraph properties and its \uc count, so a
// closing brace restores them. Bytes above 0x7F and \'hh escapes collect in a
// pending buffer that is decoded in the current code page when anything else
// arrives, so double-byte code pages see both bytes of a character together.
// Nothing here recurses and every loop advances through the input, which
// bounds the work by the input's length.
#include "ui/RtfReader.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "ui/RtfCodePage.h"

namespace framory {

namespace {

enum class Dest : std::uint8_t { Text, FontTable, ColorTable, Skip };

struct CharState {
  std::int32_t Font = -1;  // -1: the document's default font
  std::int32_t SizeHalfPoints = 24;
  bool Bold = false;
  bool Italic = false;
  bool Underline = false;
  bool StrikeOut = false;
  RtfVerticalAlign VerticalAlign = RtfVerticalAlign::Normal;
  std::int32_t Color = -1;       // colour table index; -1 automatic
  std::int32_t Background = -1;  // colour table index; -1 none
};

struct ParaState {
  RtfAlignment Alignment = RtfAlignment::Left;
  bool Bullet = false;
  std::int32_t Sl = 0;
  bool SlMult = false;
};

struct Group {
  Dest Destination = Dest::Text;
  CharState Char;
  ParaState Para;
  std::int32_t Uc = 1;
};

struct FontEntry {
  std::string NameBytes;
  bool NameDone = false;
  RtfFontFamily Family = RtfFontFamily::Nil;
  std::int32_t Charset = 0;
  std::int32_t CodePage = 0;
  std::optional<std::string> Name;  // decoded on first use
};

enum class Kw : std::uint8_t {
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

struct KeywordInfo {
  Kw Kind;
  char32_t Char = 0;  // for Kw::Char
};

const std::unordered_map<std::string_view, KeywordInfo>& Keywords() {
  static const std::unordered_map<std::string_view, KeywordInfo> table = {
      {"par", {Kw::Par}},
      {"pard", {Kw::Pard}},
      {"plain", {Kw::Plain}},
      {"b", {Kw::Bold}},
      {"i", {Kw::Italic}},
      {"ul", {Kw::Underline}},
      {"uld", {Kw::Underline}},
      {"uldb", {Kw::Underline}},
      {"ulw", {Kw::Underline}},
      {"ulth", {Kw::Underline}},
      {"ulwave", {Kw::Underline}},
      {"uldash", {Kw::Underline}},
      {"ulnone", {Kw::UnderlineNone}},
      {"strike", {Kw::Strike}},
      {"striked", {Kw::Strike}},
      {"fs", {Kw::FontSize}},
      {"f", {Kw::Font}},
      {"cf", {Kw::Color}},
      {"cb", {Kw::Background}},
      {"chcbpat", {Kw::Background}},
      {"highlight", {Kw::Highlight}},
      {"sub", {Kw::Sub}},
      {"super", {Kw::Super}},
      {"nosupersub", {Kw::NoSuperSub}},
      {"up", {Kw::Up}},
      {"dn", {Kw::Dn}},
      {"ql", {Kw::AlignLeft}},
      {"qr", {Kw::AlignRight}},
      {"qc", {Kw::AlignCenter}},
      {"qj", {Kw::AlignJustify}},
      {"qd", {Kw::AlignJustify}},
      {"sl", {Kw::Sl}},
      {"slmult", {Kw::SlMult}},
      {"ls", {Kw::Ls}},
      {"pn", {Kw::Pn}},
      {"tab", {Kw::Tab}},
      {"line", {Kw::Line}},
      {"cell", {Kw::Cell}},
      {"row", {Kw::Row}},
      {"u", {Kw::Unicode}},
      {"uc", {Kw::Uc}},
      {"bin", {Kw::Bin}},
      {"ansicpg", {Kw::AnsiCpg}},
      {"ansi", {Kw::Ansi}},
      {"mac", {Kw::Mac}},
      {"pc", {Kw::Pc}},
      {"pca", {Kw::Pca}},
      {"deff", {Kw::Deff}},
      {"fonttbl", {Kw::FontTable}},
      {"colortbl", {Kw::ColorTable}},
      {"red", {Kw::Red}},
      {"green", {Kw::Green}},
      {"blue", {Kw::Blue}},
      {"fnil", {Kw::FNil}},
      {"froman", {Kw::FRoman}},
      {"fswiss", {Kw::FSwiss}},
      {"fmodern", {Kw::FModern}},
      {"fscript", {Kw::FScript}},
      {"fdecor", {Kw::FDecor}},
      {"ftech", {Kw::FTech}},
      {"fbidi", {Kw::FBidi}},
      {"fcharset", {Kw::FCharset}},
      {"cpg", {Kw::Cpg}},
      {"emdash", {Kw::Char, 0x2014}},
      {"endash", {Kw::Char, 0x2013}},
      {"bullet", {Kw::Char, 0x2022}},
      {"lquote", {Kw::Char, 0x2018}},
      {"rquote", {Kw::Char, 0x2019}},
      {"ldblquote", {Kw::Char, 0x201C}},
      {"rdblquote", {Kw::Char, 0x201D}},
      {"emspace", {Kw::Char, 0x2003}},
      {"enspace", {Kw::Char, 0x2002}},
      {"qmspace", {Kw::Char, 0x2005}},
      {"zwj", {Kw::Char, 0x200D}},
      {"zwnj", {Kw::Char, 0x200C}},
      // Destinations whose contents are not body text.
      {"info", {Kw::SkipDest}},
      {"stylesheet", {Kw::SkipDest}},
      {"pict", {Kw::SkipDest}},
      {"object", {Kw::SkipDest}},
      {"header", {Kw::SkipDest}},
      {"headerl", {Kw::SkipDest}},
      {"headerr", {Kw::SkipDest}},
      {"headerf", {Kw::SkipDest}},
      {"footer", {Kw::SkipDest}},
      {"footerl", {Kw::SkipDest}},
      {"footerr", {Kw::SkipDest}},
      {"footerf", {Kw::SkipDest}},
      {"footnote", {Kw::SkipDest}},
      {"annotation", {Kw::SkipDest}},
      {"fldinst", {Kw::SkipDest}},
      {"pntext", {Kw::SkipDest}},
      {"listtext", {Kw::SkipDest}},
      {"listtable", {Kw::SkipDest}},
      {"listoverridetable", {Kw::SkipDest}},
      {"revtbl", {Kw::SkipDest}},
      {"rsidtbl", {Kw::SkipDest}},
      {"filetbl", {Kw::SkipDest}},
      {"generator", {Kw::SkipDest}},
      {"nonshppict", {Kw::SkipDest}},
      {"themedata", {Kw::SkipDest}},
      {"colorschememapping", {Kw::SkipDest}},
      {"latentstyles", {Kw::SkipDest}},
      {"datastore", {Kw::SkipDest}},
      {"xmlnstbl", {Kw::SkipDest}},
      {"xe", {Kw::SkipDest}},
      {"tc", {Kw::SkipDest}},
      {"objdata", {Kw::SkipDest}},
      {"bkmkstart", {Kw::SkipDest}},
      {"bkmkend", {Kw::SkipDest}},
      {"pgdsctbl", {Kw::SkipDest}},
      {"docvar", {Kw::SkipDest}},
  };
  return table;
}

constexpr std::size_t kMaxWordLength = 32;
constexpr int kMaxDigits = 10;

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

class Parser {
 public:
  Parser(std::string_view input, const RtfReader::Limits& limits) : in_(input), limits_(limits) {
    stack_.push_back(Group{Dest::Skip, {}, {}, 1});
  }

  RtfDocument Run() {
    while (pos_ < in_.size() && !stop_) {
      const char c = in_[pos_++];
      if (c == '{') {
        OpenGroup();
      } else if (c == '}') {
        CloseGroup();
      } else if (c == '\\') {
        ControlSequence();
      } else if (c != '\r' && c != '\n') {
        TextByte(c);
      }
    }
    Flush();
    if (!finished_) FinishParagraph();
    return std::move(document_);
  }

 private:
  Group& Top() { return stack_.back(); }

  void OpenGroup() {
    Flush();
    ucSkip_ = 0;
    star_ = false;
    if (++groups_ > limits_.MaxGroups) {
      stop_ = true;
      return;
    }
    if (overflow_ > 0 || stack_.size() > limits_.MaxDepth) {
      ++overflow_;
      return;
    }
    Group next = Top();
    if (stack_.size() == 1) next.Destination = Dest::Text;
    stack_.push_back(next);
  }

  void CloseGroup() {
    Flush();
    ucSkip_ = 0;
    star_ = false;
    if (overflow_ > 0) {
      --overflow_;
      return;
    }
    if (stack_.size() <= 1) return;
    if (stack_.size() == 2) {
      // The document's own group ends: its last paragraph takes the state
      // inside the group, not the state around it.
      FinishParagraph();
      finished_ = true;
    }
    stack_.pop_back();
    formatDirty_ = true;
    // The document's own group has ended: whatever follows is not part of it.
    if (stack_.size() == 1) stop_ = true;
  }

  bool Skipping() const { return overflow_ > 0 || stack_.back().Destination == Dest::Skip; }

  void ControlSequence() {
    if (pos_ >= in_.size()) return;
    const char c = in_[pos_];
    if (!IsLetter(c)) {
      ++pos_;
      ControlSymbol(c);
      return;
    }
    const std::size_t start = pos_;
    while (pos_ < in_.size() && IsLetter(in_[pos_])) ++pos_;
    const bool tooLong = pos_ - start > kMaxWordLength;
    const std::string_view word = in_.substr(start, pos_ - start);
    bool negative = false;
    if (pos_ + 1 < in_.size() && in_[pos_] == '-' && IsDigit(in_[pos_ + 1])) {
      negative = true;
      ++pos_;
    }
    bool hasParam = false;
    std::int64_t value = 0;
    int digits = 0;
    // Only the first digits count; the rest of an over-long number is read past.
    while (pos_ < in_.size() && IsDigit(in_[pos_])) {
      if (digits < kMaxDigits) value = value * 10 + (in_[pos_] - '0');
      ++digits;
      ++pos_;
      hasParam = true;
    }
    if (negative) value = -value;
    value = std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX);
    if (pos_ < in_.size() && in_[pos_] == ' ') ++pos_;
    if (tooLong) {
      if (star_) Top().Destination = Dest::Skip;
      star_ = false;
      return;
    }
    ControlWord(word, hasParam, static_cast<std::int32_t>(value));
  }

  void ControlSymbol(char c) {
    if (c == '\'') {
      int value = 0;
      int digits = 0;
      while (digits < 2 && pos_ < in_.size() && HexValue(in_[pos_]) >= 0) {
        value = value * 16 + HexValue(in_[pos_++]);
        ++digits;
      }
      if (digits == 2) HexByte(static_cast<char>(value));
      return;
    }
    if (c == '*') {
      star_ = true;
      return;
    }
    if (Skipping()) return;
    if (ucSkip_ > 0) {
      --ucSkip_;
      return;
    }
    switch (c) {
      case '\\':
      case '{':
      case '}':
        TextByte(c);
        break;
      case '~':
        AppendChar(0x00A0);
        break;
      case '_':
        AppendChar(0x2011);
        break;
      case '\n':
      case '\r':
        if (Top().Destination == Dest::Text) Paragraph();
        break;
      case '\t':
        AppendChar('\t');
        break;
      default:
        break;
    }
  }

  void HexByte(char byte) {
    if (Skipping()) return;
    if (ucSkip_ > 0) {
      --ucSkip_;
      return;
    }
    if (Top().Destination == Dest::FontTable) {
      FontText(byte);
    } else if (Top().Destination == Dest::Text) {
      pending_ += byte;
    }
  }

  void TextByte(char c) {
    if (Skipping()) return;
    if (ucSkip_ > 0) {
      --ucSkip_;
      return;
    }
    switch (Top().Destination) {
      case Dest::FontTable:
        FontText(c);
        return;
      case Dest::ColorTable:
        if (c == ';') CommitColor();
        return;
      case Dest::Text:
        break;
      case Dest::Skip:
        return;
    }
    if (static_cast<unsigned char>(c) >= 0x80) {
      pending_ += c;
      return;
    }
    if (c == '\0') return;
    Flush();
    EnsureRun().Text += c;
  }

  void ControlWord(std::string_view word, bool hasParam, std::int32_t param) {
    const auto& table = Keywords();
    const auto found = table.find(word);
    const bool star = star_;
    star_ = false;
    if (found != table.end() && found->second.Kind == Kw::Bin) {
      // Binary data is passed over by its length, wherever it appears.
      Flush();
      const std::size_t length = hasParam && param > 0 ? static_cast<std::size_t>(param) : 0;
      pos_ += std::min(length, in_.size() - pos_);
      return;
    }
    if (Skipping()) return;
    if (star && (found == table.end() || found->second.Kind != Kw::Pn)) {
      Flush();
      Top().Destination = Dest::Skip;
      return;
    }
    if (found == table.end()) return;
    const Kw kind = found->second.Kind;
    Group& group = Top();
    if (group.Destination == Dest::FontTable) {
      FontTableWord(kind, param);
      return;
    }
    if (group.Destination == Dest::ColorTable) {
      ColorTableWord(kind, param);
      return;
    }
    if (ucSkip_ > 0) {
      --ucSkip_;
      return;
    }
    Flush();
    TextWord(found->second, hasParam, param);
  }

  void TextWord(const KeywordInfo& info, bool hasParam, std::int32_t param) {
    Group& group = Top();
    CharState& ch = group.Char;
    ParaState& para = group.Para;
    const bool on = !hasParam || param != 0;
    switch (info.Kind) {
      case Kw::Par:
        Paragraph();
        return;
      case Kw::Pard:
        para = ParaState{};
        return;
      case Kw::Plain:
        ch = CharState{};
        break;
      case Kw::Bold:
        ch.Bold = on;
        break;
      case Kw::Italic:
        ch.Italic = on;
        break;
      case Kw::Underline:
        ch.Underline = on;
        break;
      case Kw::UnderlineNone:
        ch.Underline = false;
        break;
      case Kw::Strike:
        ch.StrikeOut = on;
        break;
      case Kw::FontSize:
        ch.SizeHalfPoints = hasParam && param > 0 ? std::min(param, 3276) : 24;
        break;
      case Kw::Font:
        ch.Font = hasParam ? param : -1;
        break;
      case Kw::Color:
        ch.Color = hasParam ? param : -1;
        break;
      case Kw::Background:
      case Kw::Highlight:
        ch.Background = hasParam && param > 0 ? param : -1;
        break;
      case Kw::Sub:
        ch.VerticalAlign = RtfVerticalAlign::Subscript;
        break;
      case Kw::Super:
        ch.VerticalAlign = RtfVerticalAlign::Superscript;
        break;
      case Kw::NoSuperSub:
        ch.VerticalAlign = RtfVerticalAlign::Normal;
        break;
      case Kw::Up:
        ch.VerticalAlign = on ? RtfVerticalAlign::Superscript : RtfVerticalAlign::Normal;
        break;
      case Kw::Dn:
        ch.VerticalAlign = on ? RtfVerticalAlign::Subscript : RtfVerticalAlign::Normal;
        break;
      case Kw::AlignLeft:
        para.Alignment = RtfAlignment::Left;
        return;
      case Kw::AlignRight:
        para.Alignment = RtfAlignment::Right;
        return;
      case Kw::AlignCenter:
        para.Alignment = RtfAlignment::Center;
        return;
      case Kw::AlignJustify:
        para.Alignment = RtfAlignment::Justify;
        return;
      case Kw::Sl:
        para.Sl = hasParam ? param : 0;
        return;
      case Kw::SlMult:
        para.SlMult = on;
        return;
      case Kw::Ls:
        if (hasParam && param > 0) para.Bullet = true;
        return;
      case Kw::Pn:
        // The old-style list destination: the paragraph it sits in is a list
        // item; the numbering details inside are not kept.
        if (stack_.size() > 2) stack_[stack_.size() - 2].Para.Bullet = true;
        group.Destination = Dest::Skip;
        return;
      case Kw::Tab:
      case Kw::Cell:
        AppendChar('\t');
        return;
      case Kw::Line:
        AppendChar(0x2028);
        return;
      case Kw::Row:
        Paragraph();
        return;
      case Kw::Char:
        AppendChar(info.Char);
        return;
      case Kw::Unicode:
        if (hasParam) Unicode(param);
        return;
      case Kw::Uc:
        group.Uc = std::clamp(hasParam ? param : 1, 0, 16);
        return;
      case Kw::AnsiCpg:
        if (hasParam && param > 0) codePage_ = param;
        return;
      case Kw::Ansi:
        codePage_ = 1252;
        return;
      case Kw::Mac:
        codePage_ = 10000;
        return;
      case Kw::Pc:
        codePage_ = 437;
        return;
      case Kw::Pca:
        codePage_ = 850;
        return;
      case Kw::Deff:
        defaultFont_ = hasParam ? param : 0;
        break;
      case Kw::FontTable:
        group.Destination = Dest::FontTable;
        return;
      case Kw::ColorTable:
        group.Destination = Dest::ColorTable;
        return;
      case Kw::SkipDest:
        group.Destination = Dest::Skip;
        return;
      default:
        return;
    }
    formatDirty_ = true;
  }

  void Unicode(std::int32_t param) {
    // Parameters are signed 16-bit values; larger ones are taken as they are.
    char32_t c = param < 0 ? static_cast<char32_t>(param + 65536) : static_cast<char32_t>(param);
    if (c >= 0xD800 && c <= 0xDBFF) {
      highSurrogate_ = c;
    } else if (c >= 0xDC00 && c <= 0xDFFF && highSurrogate_ != 0) {
      AppendChar(0x10000 + ((highSurrogate_ - 0xD800) << 10) + (c - 0xDC00));
      highSurrogate_ = 0;
    } else {
      AppendChar(c);
    }
    ucSkip_ = Top().Uc;
  }

  void FontTableWord(Kw kind, std::int32_t param) {
    if (kind == Kw::Font) {
      if (fonts_.size() < limits_.MaxTableEntries || fonts_.count(param) != 0) {
        fonts_[param] = FontEntry{};
        currentFont_ = param;
      } else {
        currentFont_.reset();
      }
      return;
    }
    FontEntry* font = CurrentFont();
    if (font == nullptr) return;
    switch (kind) {
      case Kw::FNil:
        font->Family = RtfFontFamily::Nil;
        break;
      case Kw::FRoman:
        font->Family = RtfFontFamily::Roman;
        break;
      case Kw::FSwiss:
        font->Family = RtfFontFamily::Swiss;
        break;
      case Kw::FModern:
        font->Family = RtfFontFamily::Modern;
        break;
      case Kw::FScript:
        font->Family = RtfFontFamily::Script;
        break;
      case Kw::FDecor:
        font->Family = RtfFontFamily::Decor;
        break;
      case Kw::FTech:
        font->Family = RtfFontFamily::Tech;
        break;
      case Kw::FBidi:
        font->Family = RtfFontFamily::Bidi;
        break;
      case Kw::FCharset:
        font->Charset = param;
        break;
      case Kw::Cpg:
        font->CodePage = param;
        break;
      default:
        break;
    }
  }

  FontEntry* CurrentFont() {
    if (!currentFont_) return nullptr;
    auto found = fonts_.find(*currentFont_);
    return found == fonts_.end() ? nullptr : &found->second;
  }

  void FontText(char c) {
    FontEntry* font = CurrentFont();
    if (font == nullptr || font->NameDone) return;
    if (c == ';') {
      font->NameDone = true;
    } else if (font->NameBytes.size() < 256) {
      font->NameBytes += c;
    }
    formatDirty_ = true;
  }

  void ColorTableWord(Kw kind, std::int32_t param) {
    const std::uint32_t value = static_cast<std::uint32_t>(std::clamp(param, 0, 255));
    switch (kind) {
      case Kw::Red:
        color_ = (color_ & 0x00FFFF) | (value << 16);
        break;
      case Kw::Green:
        color_ = (color_ & 0xFF00FF) | (value << 8);
        break;
      case Kw::Blue:
        color_ = (color_ & 0xFFFF00) | value;
        break;
      default:
        return;
    }
    colorSet_ = true;
  }

  void CommitColor() {
    if (colors_.size() < limits_.MaxTableEntries) {
      colors_.push_back(colorSet_ ? std::optional<RtfColor>(color_) : std::nullopt);
    }
    color_ = 0;
    colorSet_ = false;
    formatDirty_ = true;
  }

  const std::string& FontName(FontEntry& font) {
    if (!font.Name) {
      std::string name;
      std::int32_t page = font.CodePage > 0 ? font.CodePage : RtfCodePage::ForCharset(font.Charset);
      codePages_.AppendUtf8(page > 0 ? page : codePage_, font.NameBytes, name);
      while (!name.empty() && name.back() == ' ') name.pop_back();
      while (!name.empty() && name.front() == ' ') name.erase(name.begin());
      font.Name = std::move(name);
    }
    return *font.Name;
  }

  std::int32_t CurrentCodePage() {
    const std::int32_t number = Top().Char.Font >= 0 ? Top().Char.Font : defaultFont_;
    auto found = fonts_.find(number);
    if (found != fonts_.end()) {
      if (found->second.CodePage > 0) return found->second.CodePage;
      const std::int32_t page = RtfCodePage::ForCharset(found->second.Charset);
      if (page > 0) return page;
    }
    return codePage_;
  }

  std::optional<RtfColor> ColorAt(std::int32_t index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= colors_.size()) return std::nullopt;
    return colors_[static_cast<std::size_t>(index)];
  }

  RtfCharFormat Resolve() {
    const CharState& ch = Top().Char;
    RtfCharFormat format;
    auto found = fonts_.find(ch.Font >= 0 ? ch.Font : defaultFont_);
    if (found != fonts_.end()) {
      format.FontFace = FontName(found->second);
      format.FontFamily = found->second.Family;
      format.Charset = found->second.Charset;
    }
    format.SizeTwips = ch.SizeHalfPoints * 10;
    format.Bold = ch.Bold;
    format.Italic = ch.Italic;
    format.Underline = ch.Underline;
    format.StrikeOut = ch.StrikeOut;
    format.VerticalAlign = ch.VerticalAlign;
    format.Color = ColorAt(ch.Color);
    format.Background = ch.Background > 0 ? ColorAt(ch.Background) : std::nullopt;
    return format;
  }

  RtfRun& EnsureRun() {
    if (formatDirty_) {
      format_ = Resolve();
      formatDirty_ = false;
    }
    std::vector<RtfRun>& runs = paragraph_.Runs;
    if (runs.empty() || !(runs.back().Format == format_)) runs.push_back(RtfRun{{}, format_});
    return runs.back();
  }

  void AppendChar(char32_t c) {
    if (Top().Destination != Dest::Text) return;
    Flush();
    std::string text;
    RtfCodePage::AppendCodePoint(c, text);
    EnsureRun().Text += text;
  }

  void Flush() {
    if (pending_.empty()) return;
    std::string text;
    codePages_.AppendUtf8(CurrentCodePage(), pending_, text);
    pending_.clear();
    EnsureRun().Text += text;
  }

  void Paragraph() {
    Flush();
    FinishParagraph();
  }

  void FinishParagraph() {
    const ParaState& para = Top().Para;
    RtfParagraphFormat& format = paragraph_.Format;
    format.Alignment = para.Alignment;
    format.Bullet = para.Bullet;
    if (para.Sl == 0) {
      format.LineSpacingRule = RtfLineSpacingRule::Single;
      format.LineSpacing = 0;
    } else if (para.SlMult) {
      const std::int64_t percent = static_cast<std::int64_t>(std::abs(para.Sl)) * 100 / 240;
      format.LineSpacingRule =
          percent == 100 ? RtfLineSpacingRule::Single : RtfLineSpacingRule::Multiple;
      format.LineSpacing = percent == 100 ? 0 : static_cast<std::int32_t>(percent);
    } else {
      format.LineSpacingRule =
          para.Sl > 0 ? RtfLineSpacingRule::AtLeast : RtfLineSpacingRule::Exactly;
      format.LineSpacing = para.Sl > 0 ? para.Sl : (para.Sl == INT32_MIN ? INT32_MAX : -para.Sl);
    }
    if (formatDirty_) {
      format_ = Resolve();
      formatDirty_ = false;
    }
    paragraph_.Mark = format_;
    document_.Paragraphs.push_back(std::move(paragraph_));
    paragraph_ = RtfParagraph{};
  }

  std::string_view in_;
  RtfReader::Limits limits_;
  std::size_t pos_ = 0;
  std::vector<Group> stack_;
  std::size_t overflow_ = 0;
  std::size_t groups_ = 0;
  bool stop_ = false;
  bool finished_ = false;
  bool star_ = false;
  std::int32_t ucSkip_ = 0;
  char32_t highSurrogate_ = 0;
  std::int32_t codePage_ = 1252;
  std::int32_t defaultFont_ = 0;
  std::map<std::int32_t, FontEntry> fonts_;
  std::optional<std::int32_t> currentFont_;
  std::vector<std::optional<RtfColor>> colors_;
  std::uint32_t color_ = 0;
  bool colorSet_ = false;
  std::string pending_;
  RtfCodePage codePages_;
  bool formatDirty_ = true;
  RtfCharFormat format_;
  RtfParagraph paragraph_;
  RtfDocument document_;
};

bool ValidUtf8(std::string_view bytes) {
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    const std::size_t before = pos;
    if (RtfCodePage::NextCodePoint(bytes, pos) == 0xFFFD) {
      // A real U+FFFD is three bytes EF BF BD; anything else was malformed.
      if (pos - before != 3) return false;
    }
  }
  return true;
}

}  // namespace

RtfDocument RtfReader::Read(std::string_view rtf) { return Read(rtf, Limits{}); }

RtfDocument RtfReader::Read(std::string_view rtf, const Limits& limits) {
  return Parser(rtf, limits).Run();
}

bool RtfReader::LooksLikeRtf(std::string_view bytes) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  while (!bytes.empty() && (bytes.front() == ' ' || bytes.front() == '\t' ||
                            bytes.front() == '\r' || bytes.front() == '\n')) {
    bytes.remove_prefix(1);
  }
  return bytes.substr(0, 5) == "{\\rtf";
}

std::string RtfReader::PlainTextToUtf8(std::string_view bytes) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  std::string text;
  if (ValidUtf8(bytes)) {
    text.assign(bytes);
  } else {
    RtfCodePage codePages;
    codePages.AppendUtf8(1252, bytes, text);
  }
  // Stray NUL bytes (a binary file chosen by mistake) would cut the text short.
  text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());
  // Line ends of any system become the text widget's.
  std::string lines;
  lines.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      lines += '\n';
    } else {
      lines += text[i];
    }
  }
  return lines;
}

}  // namespace framory
