// Texts the options view computes: the rate label under the capture period,
// the state suffix of its title, and the reading of numbers typed into its
// edit boxes. Plain functions so that each rule can be checked on its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace framory {

// "/ 1000 seconds (ca 10 frames per second)" and its variants for a capture
// period of `timerValue` milliseconds.
std::string RateLabelText(std::int32_t timerValue);

// `title` with any state suffix removed (from the blank before its first "("
// on) and " (Recording Paused)" or " (Recording Active)" appended.
std::string TitleWithState(const std::string& title, bool paused);

// Reads a decimal integer at the start of `text` the way scanf's "%d" does:
// leading blanks, an optional sign, at least one digit; what follows the
// digits is ignored. Values beyond the 32-bit range are clamped to it.
std::optional<std::int32_t> LeadingInteger(const std::string& text);

// The rate edit's rule: a text of 1 to 10 characters that begins with a number
// gives that number, raised to 10 when smaller; anything else gives nothing.
std::optional<std::int32_t> TimerValueFromText(const std::string& text);
// The size edits' rule: 1 to 5 characters beginning with a number.
std::optional<std::int32_t> WindowSizeFromText(const std::string& text);

}  // namespace framory
