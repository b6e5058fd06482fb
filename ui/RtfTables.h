// The font and colour tables of an RTF document as the reader fills them:
// \fN opens a font entry whose family, charset, code page and name follow;
// each ';' of the colour table ends one colour (empty for the automatic
// colour). Both are bounded in size, so a hostile document cannot make them
// grow without end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ui/RtfCodePage.h"
#include "ui/RtfDocument.h"
#include "ui/RtfKeywords.h"

namespace framory {

struct RtfFontEntry {
  std::string NameBytes;
  bool NameDone = false;
  RtfFontFamily Family = RtfFontFamily::Nil;
  std::int32_t Charset = 0;
  std::int32_t CodePage = 0;
  std::optional<std::string> Name;  // decoded on first use
};

class RtfFontTable {
 public:
  explicit RtfFontTable(std::size_t maxEntries) : maxEntries_(maxEntries) {}

  // A control word inside the font table.
  void Word(RtfKeyword kind, std::int32_t param);
  // A byte of the current entry's name; true when the name changed.
  bool Text(char c);

  RtfFontEntry* Find(std::int32_t number);
  // The code page a font's text is in: its own, else its charset's, else 0.
  std::int32_t CodePageOf(std::int32_t number) const;
  // The font's name as UTF-8, decoded once in its code page (or the
  // document's) with surrounding blanks removed.
  const std::string& Name(RtfFontEntry& font, std::int32_t documentCodePage,
                          RtfCodePage& codePages);

 private:
  std::size_t maxEntries_;
  std::map<std::int32_t, RtfFontEntry> fonts_;
  std::optional<std::int32_t> current_;
};

class RtfColorTable {
 public:
  explicit RtfColorTable(std::size_t maxEntries) : maxEntries_(maxEntries) {}

  // \red, \green, \blue of the colour being defined.
  void Word(RtfKeyword kind, std::int32_t param);
  // The ';' that ends a colour.
  void Commit();
  std::optional<RtfColor> At(std::int32_t index) const;

 private:
  std::size_t maxEntries_;
  std::vector<std::optional<RtfColor>> colors_;
  std::uint32_t color_ = 0;
  bool colorSet_ = false;
};

}  // namespace framory
