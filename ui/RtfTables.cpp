#include "ui/RtfTables.h"

#include <algorithm>

namespace framory {

void RtfFontTable::Word(RtfKeyword kind, std::int32_t param) {
  if (kind == RtfKeyword::Font) {
    if (fonts_.size() < maxEntries_ || fonts_.count(param) != 0) {
      fonts_[param] = RtfFontEntry{};
      current_ = param;
    } else {
      current_.reset();
    }
    return;
  }
  RtfFontEntry* font = current_ ? Find(*current_) : nullptr;
  if (font == nullptr) return;
  switch (kind) {
    case RtfKeyword::FNil:
      font->Family = RtfFontFamily::Nil;
      break;
    case RtfKeyword::FRoman:
      font->Family = RtfFontFamily::Roman;
      break;
    case RtfKeyword::FSwiss:
      font->Family = RtfFontFamily::Swiss;
      break;
    case RtfKeyword::FModern:
      font->Family = RtfFontFamily::Modern;
      break;
    case RtfKeyword::FScript:
      font->Family = RtfFontFamily::Script;
      break;
    case RtfKeyword::FDecor:
      font->Family = RtfFontFamily::Decor;
      break;
    case RtfKeyword::FTech:
      font->Family = RtfFontFamily::Tech;
      break;
    case RtfKeyword::FBidi:
      font->Family = RtfFontFamily::Bidi;
      break;
    case RtfKeyword::FCharset:
      font->Charset = param;
      break;
    case RtfKeyword::Cpg:
      font->CodePage = param;
      break;
    default:
      break;
  }
}

bool RtfFontTable::Text(char c) {
  RtfFontEntry* font = current_ ? Find(*current_) : nullptr;
  if (font == nullptr || font->NameDone) return false;
  if (c == ';') {
    font->NameDone = true;
  } else if (font->NameBytes.size() < 256) {
    font->NameBytes += c;
  }
  return true;
}

RtfFontEntry* RtfFontTable::Find(std::int32_t number) {
  auto found = fonts_.find(number);
  return found == fonts_.end() ? nullptr : &found->second;
}

std::int32_t RtfFontTable::CodePageOf(std::int32_t number) const {
  auto found = fonts_.find(number);
  if (found == fonts_.end()) return 0;
  if (found->second.CodePage > 0) return found->second.CodePage;
  return std::max(RtfCodePage::ForCharset(found->second.Charset), 0);
}

const std::string& RtfFontTable::Name(RtfFontEntry& font, std::int32_t documentCodePage,
                                      RtfCodePage& codePages) {
  if (!font.Name) {
    std::string name;
    const std::int32_t page =
        font.CodePage > 0 ? font.CodePage : RtfCodePage::ForCharset(font.Charset);
    codePages.AppendUtf8(page > 0 ? page : documentCodePage, font.NameBytes, name);
    while (!name.empty() && name.back() == ' ') name.pop_back();
    while (!name.empty() && name.front() == ' ') name.erase(name.begin());
    font.Name = std::move(name);
  }
  return *font.Name;
}

void RtfColorTable::Word(RtfKeyword kind, std::int32_t param) {
  const std::uint32_t value = static_cast<std::uint32_t>(std::clamp(param, 0, 255));
  switch (kind) {
    case RtfKeyword::Red:
      color_ = (color_ & 0x00FFFF) | (value << 16);
      break;
    case RtfKeyword::Green:
      color_ = (color_ & 0xFF00FF) | (value << 8);
      break;
    case RtfKeyword::Blue:
      color_ = (color_ & 0xFFFF00) | value;
      break;
    default:
      return;
  }
  colorSet_ = true;
}

void RtfColorTable::Commit() {
  if (colors_.size() < maxEntries_) {
    colors_.push_back(colorSet_ ? std::optional<RtfColor>(color_) : std::nullopt);
  }
  color_ = 0;
  colorSet_ = false;
}

std::optional<RtfColor> RtfColorTable::At(std::int32_t index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= colors_.size()) return std::nullopt;
  return colors_[static_cast<std::size_t>(index)];
}

}  // namespace framory
