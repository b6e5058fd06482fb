#include "ui/DialogText.h"

#include <cctype>
#include <cstdio>
#include <limits>

namespace framory {

namespace {

std::string Format(const char* format, double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

}  // namespace

std::string RateLabelText(std::int32_t timerValue) {
  std::string text = "/ 1000 seconds";
  text += " (ca ";
  if (timerValue <= 0) return text;

  const double rate = 1000.0 / timerValue;
  const auto whole = static_cast<unsigned>(rate);
  if (rate - whole < 0.001 && whole != 0) {
    text += std::to_string(whole) + " frames per second)";
  } else if (rate < 1.0 && rate > 1e-10) {
    text += " every ";
    const double period = 1.0 / rate;
    if (period < 120) {
      text += Format("%.1f", period) + " seconds)";
    } else if (period < 3600) {
      text += Format("%.1f", period * (1.0 / 60)) + " min)";
    } else {
      text += Format("%.2f", period * (1.0 / 60) * (1.0 / 60)) + " hr)";
    }
  } else {
    text += Format("%.1f", rate) + " frames per second)";
  }
  return text;
}

std::string TitleWithState(const std::string& title, bool paused) {
  std::string base = title.substr(0, 1999);
  const std::size_t open = base.find('(');
  if (open != std::string::npos) base.resize(open == 0 ? 0 : open - 1);
  return base + (paused ? " (Recording Paused)" : " (Recording Active)");
}

std::optional<std::int32_t> LeadingInteger(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
  constexpr long long kMax = std::numeric_limits<std::int32_t>::max();
  long long value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > kMax + 1) value = kMax + 1;
  }
  if (negative) return static_cast<std::int32_t>(-value);
  return static_cast<std::int32_t>(value > kMax ? kMax : value);
}

std::optional<std::int32_t> TimerValueFromText(const std::string& text) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  std::optional<std::int32_t> value = LeadingInteger(text);
  if (value && *value < 10) value = 10;
  return value;
}

std::optional<std::int32_t> WindowSizeFromText(const std::string& text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  return LeadingInteger(text);
}

}  // namespace framory
