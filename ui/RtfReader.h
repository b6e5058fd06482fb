// Reads RTF into an RtfDocument. The reader never fails: it takes what it
// understands (font and colour tables, character and paragraph formatting,
// \'hh and \uN escapes in the document's code page) and passes over the rest
// (unknown control words, \* destinations, pictures, binary data). Documents
// with unbalanced braces or without the closing brace read up to where the
// bytes end. Hard limits on nesting, control-word length, parameters, groups
// and table sizes keep any input within linear time and bounded memory.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "ui/RtfDocument.h"

namespace framory {

class RtfReader {
 public:
  struct Limits {
    std::size_t MaxDepth = 200;          // deeper groups are read past, not kept
    std::size_t MaxGroups = 4'000'000;   // the rest of a document with more is dropped
    std::size_t MaxTableEntries = 4096;  // fonts and colours each
  };

  static RtfDocument Read(std::string_view rtf);
  static RtfDocument Read(std::string_view rtf, const Limits& limits);

  // Whether the bytes start like an RTF document ("{\rtf" after blanks or a
  // byte-order mark); anything else is loaded as plain text.
  static bool LooksLikeRtf(std::string_view bytes);
  // Plain text as UTF-8: kept as it is when it is valid UTF-8, otherwise read
  // in code page 1252.
  static std::string PlainTextToUtf8(std::string_view bytes);
};

}  // namespace framory
