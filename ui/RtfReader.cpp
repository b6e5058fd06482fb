// The reader is one pass over the tokens of the bytes (RtfTokenizer) with a
// stack of group states, filling the font and colour tables (RtfTables) and
// the document's paragraphs as the control words (RtfKeywords) say. Each
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
#include <vector>

#include "ui/RtfCodePage.h"
#include "ui/RtfKeywords.h"
#include "ui/RtfTables.h"
#include "ui/RtfTokenizer.h"

namespace framory {

namespace {

using Kw = RtfKeyword;

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

class Parser {
 public:
  Parser(std::string_view input, const RtfReader::Limits& limits)
      : tokens_(input),
        limits_(limits),
        fonts_(limits.MaxTableEntries),
        colors_(limits.MaxTableEntries) {
    stack_.push_back(Group{Dest::Skip, {}, {}, 1});
  }

  RtfDocument Run() {
    RtfToken token;
    while (!stop_ && tokens_.Next(token)) {
      switch (token.Type) {
        case RtfToken::Kind::GroupOpen:
          OpenGroup();
          break;
        case RtfToken::Kind::GroupClose:
          CloseGroup();
          break;
        case RtfToken::Kind::Word:
          if (token.TooLong) {
            // No real control word is this long: it is read past, and a \*
            // before it makes its group one to pass over.
            if (star_) Top().Destination = Dest::Skip;
            star_ = false;
          } else {
            ControlWord(token.Word, token.HasParam, token.Param);
          }
          break;
        case RtfToken::Kind::Symbol:
          ControlSymbol(token.Byte);
          break;
        case RtfToken::Kind::HexByte:
          HexByte(token.Byte);
          break;
        case RtfToken::Kind::Text:
          TextByte(token.Byte);
          break;
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

  void ControlSymbol(char c) {
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
      if (fonts_.Text(byte)) formatDirty_ = true;
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
        if (fonts_.Text(c)) formatDirty_ = true;
        return;
      case Dest::ColorTable:
        if (c == ';') {
          colors_.Commit();
          formatDirty_ = true;
        }
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
    const RtfKeywordInfo* found = FindRtfKeyword(word);
    const bool star = star_;
    star_ = false;
    if (found != nullptr && found->Kind == Kw::Bin) {
      // Binary data is passed over by its length, wherever it appears.
      Flush();
      tokens_.Skip(hasParam && param > 0 ? static_cast<std::size_t>(param) : 0);
      return;
    }
    if (Skipping()) return;
    if (star && (found == nullptr || found->Kind != Kw::Pn)) {
      Flush();
      Top().Destination = Dest::Skip;
      return;
    }
    if (found == nullptr) return;
    const Kw kind = found->Kind;
    Group& group = Top();
    if (group.Destination == Dest::FontTable) {
      fonts_.Word(kind, param);
      return;
    }
    if (group.Destination == Dest::ColorTable) {
      colors_.Word(kind, param);
      return;
    }
    if (ucSkip_ > 0) {
      --ucSkip_;
      return;
    }
    Flush();
    TextWord(*found, hasParam, param);
  }

  void TextWord(const RtfKeywordInfo& info, bool hasParam, std::int32_t param) {
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

  std::int32_t CurrentCodePage() {
    const std::int32_t page =
        fonts_.CodePageOf(Top().Char.Font >= 0 ? Top().Char.Font : defaultFont_);
    return page > 0 ? page : codePage_;
  }

  RtfCharFormat Resolve() {
    const CharState& ch = Top().Char;
    RtfCharFormat format;
    if (RtfFontEntry* font = fonts_.Find(ch.Font >= 0 ? ch.Font : defaultFont_)) {
      format.FontFace = fonts_.Name(*font, codePage_, codePages_);
      format.FontFamily = font->Family;
      format.Charset = font->Charset;
    }
    format.SizeTwips = ch.SizeHalfPoints * 10;
    format.Bold = ch.Bold;
    format.Italic = ch.Italic;
    format.Underline = ch.Underline;
    format.StrikeOut = ch.StrikeOut;
    format.VerticalAlign = ch.VerticalAlign;
    format.Color = colors_.At(ch.Color);
    format.Background = ch.Background > 0 ? colors_.At(ch.Background) : std::nullopt;
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

  RtfTokenizer tokens_;
  RtfReader::Limits limits_;
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
  RtfFontTable fonts_;
  RtfColorTable colors_;
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
