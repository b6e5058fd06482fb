// Splits RTF bytes into the tokens the reader acts on: group braces, control
// words with their optional numeric parameter, control symbols, \'hh bytes
// and plain text bytes. Line breaks in the bytes are not text in RTF and are
// dropped here. Every call advances through the input, so reading a document
// takes time linear in its length whatever it holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace framory {

struct RtfToken {
  enum class Kind : std::uint8_t {
    GroupOpen,   // {
    GroupClose,  // }
    Word,        // \word or \wordN
    Symbol,      // \ followed by one character that is not a letter
    HexByte,     // \'hh
    Text,        // any other byte
  };
  Kind Type = Kind::Text;
  std::string_view Word;  // Word: the letters, at most kMaxWordLength of them
  bool TooLong = false;   // Word: longer than any real control word
  bool HasParam = false;  // Word: a number followed
  std::int32_t Param = 0; // Word: that number, clamped to 32 bits
  char Byte = 0;          // Symbol, HexByte, Text
};

class RtfTokenizer {
 public:
  static constexpr std::size_t kMaxWordLength = 32;
  static constexpr int kMaxDigits = 10;

  explicit RtfTokenizer(std::string_view input) : in_(input) {}

  // The next token; false at the end of the input.
  bool Next(RtfToken& token);
  // Passes over `count` bytes (the data of \binN), or to the end.
  void Skip(std::size_t count);

 private:
  void ReadWord(RtfToken& token);

  std::string_view in_;
  std::size_t pos_ = 0;
};

}  // namespace framory
