#include "ui/RtfTokenizer.h"

#include <algorithm>
#include <climits>

namespace framory {
namespace {

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool RtfTokenizer::Next(RtfToken& token) {
  while (pos_ < in_.size()) {
    token = RtfToken{};
    const char c = in_[pos_++];
    if (c == '{') {
      token.Type = RtfToken::Kind::GroupOpen;
      return true;
    }
    if (c == '}') {
      token.Type = RtfToken::Kind::GroupClose;
      return true;
    }
    if (c == '\r' || c == '\n') continue;
    if (c != '\\') {
      token.Type = RtfToken::Kind::Text;
      token.Byte = c;
      return true;
    }
    if (pos_ >= in_.size()) return false;  // a lone backslash at the end
    const char next = in_[pos_];
    if (IsLetter(next)) {
      ReadWord(token);
      return true;
    }
    ++pos_;
    if (next != '\'') {
      token.Type = RtfToken::Kind::Symbol;
      token.Byte = next;
      return true;
    }
    // \'hh: two hex digits make a byte; fewer make nothing.
    int value = 0;
    int digits = 0;
    while (digits < 2 && pos_ < in_.size() && HexValue(in_[pos_]) >= 0) {
      value = value * 16 + HexValue(in_[pos_++]);
      ++digits;
    }
    if (digits == 2) {
      token.Type = RtfToken::Kind::HexByte;
      token.Byte = static_cast<char>(value);
      return true;
    }
  }
  return false;
}

void RtfTokenizer::ReadWord(RtfToken& token) {
  token.Type = RtfToken::Kind::Word;
  const std::size_t start = pos_;
  while (pos_ < in_.size() && IsLetter(in_[pos_])) ++pos_;
  token.TooLong = pos_ - start > kMaxWordLength;
  token.Word = in_.substr(start, pos_ - start);
  bool negative = false;
  if (pos_ + 1 < in_.size() && in_[pos_] == '-' && IsDigit(in_[pos_ + 1])) {
    negative = true;
    ++pos_;
  }
  std::int64_t value = 0;
  int digits = 0;
  // Only the first digits count; the rest of an over-long number is read past.
  while (pos_ < in_.size() && IsDigit(in_[pos_])) {
    if (digits < kMaxDigits) value = value * 10 + (in_[pos_] - '0');
    ++digits;
    ++pos_;
    token.HasParam = true;
  }
  if (negative) value = -value;
  token.Param = static_cast<std::int32_t>(std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX));
  // One space ends a control word and is part of it.
  if (pos_ < in_.size() && in_[pos_] == ' ') ++pos_;
}

void RtfTokenizer::Skip(std::size_t count) { pos_ += std::min(count, in_.size() - pos_); }

}  // namespace framory
