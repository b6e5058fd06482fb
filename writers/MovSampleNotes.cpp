#include "writers/MovSampleNotes.h"

#include <charconv>

namespace framory {

namespace {

bool ParseNumber(const std::string& text, std::int64_t* value) {
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  const auto [at, error] = std::from_chars(text.data(), end, *value);
  return error == std::errc() && at == end;
}

// A positive 32-bit number fact.
bool PositiveFact(const JournalledClip& clip, const char* name, std::int32_t* value) {
  std::int64_t v = 0;
  if (!ParseNumber(clip.Fact(name), &v) || v <= 0 || v > 0x7FFFFFFF) return false;
  *value = static_cast<std::int32_t>(v);
  return true;
}

}  // namespace

namespace MovSampleNotes {

void SetFacts(JournalledClip& clip, std::int32_t timeScale, std::int32_t period,
              std::uint32_t created) {
  clip.Facts["timescale"] = std::to_string(timeScale);
  clip.Facts["period"] = std::to_string(period);
  clip.Facts["created"] = std::to_string(created);
}

std::string Sample(std::int32_t duration) { return std::to_string(duration) + "\n"; }

std::string TakeBack() { return "-\n"; }

MovSampleTimes Read(const JournalledClip& clip) {
  MovSampleTimes times;
  std::int64_t created = 0;
  if (!PositiveFact(clip, "timescale", &times.TimeScale) ||
      !PositiveFact(clip, "period", &times.Period) ||
      !ParseNumber(clip.Fact("created"), &created) || created < 0 || created > 0xFFFFFFFFll) {
    return times;
  }
  times.Created = static_cast<std::uint32_t>(created);
  times.Ok = true;
  const std::string& text = clip.Notes;
  std::int64_t value = 0;
  for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
       start = end + 1) {
    const std::string line = text.substr(start, end - start);
    if (line == "-") {
      if (!times.Durations.empty()) times.Durations.pop_back();
    } else if (ParseNumber(line, &value) && value > 0 && value <= 0x7FFFFFFF) {
      times.Durations.push_back(static_cast<std::int32_t>(value));
    } else {
      break;  // not a line of ours: what follows is not trusted
    }
  }
  return times;
}

}  // namespace MovSampleNotes

}  // namespace framory
