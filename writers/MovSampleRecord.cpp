#include "writers/MovSampleRecord.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

namespace framory {

namespace {

constexpr char kFirstLine[] = "framory quicktime samples 1";
// A record of hours of one-millisecond samples stays far below this; what
// is larger is not read past it.
constexpr std::size_t kMaxRecordBytes = 64u << 20;

// FNV-1a: a name that stays the same for the same path from one build of the
// program to the next.
std::uint64_t PathHash(const std::string& text) {
  std::uint64_t hash = 0xcbf29ce484222325ull;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 0x100000001b3ull;
  }
  return hash;
}

bool ParseNumber(const std::string& text, std::int64_t* value) {
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  const auto [at, error] = std::from_chars(text.data(), end, *value);
  return error == std::errc() && at == end;
}

// The number after `key` and one space on `line`.
bool KeyedNumber(const std::string& line, const char* key, std::int64_t* value) {
  const std::size_t n = std::strlen(key);
  return line.size() > n + 1 && line.compare(0, n, key) == 0 && line[n] == ' ' &&
         ParseNumber(line.substr(n + 1), value);
}

}  // namespace

std::string MovSampleRecord::PathFor(const std::string& folder, const std::string& clipPath) {
  char name[64];
  std::snprintf(name, sizeof name, "/quicktime-%016llx.samples",
                static_cast<unsigned long long>(PathHash(clipPath)));
  return folder + name;
}

bool MovSampleRecord::Open(const std::string& path, std::int32_t timeScale, std::int32_t period,
                           std::uint32_t created) {
  Close(false);
  failed_ = false;
  fd_.Reset(
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd_) {
    std::fprintf(stderr, "framory: cannot write the clip's sample record '%s': %s\n", path.c_str(),
                 std::strerror(errno));
    return false;
  }
  path_ = path;
  Put(std::string(kFirstLine) + "\ntimescale " + std::to_string(timeScale) + "\nperiod " +
      std::to_string(period) + "\ncreated " + std::to_string(created) + "\n");
  ::fdatasync(fd_.Get());
  lastSync_ = std::chrono::steady_clock::now();
  return !failed_;
}

void MovSampleRecord::Put(const std::string& line) {
  if (!fd_ || failed_) return;
  std::size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = ::write(fd_.Get(), line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // A line written in part would spoil every line after it: the record
      // ends here, and the repair takes the frame period for the samples it
      // does not cover.
      failed_ = true;
      return;
    }
    done += static_cast<std::size_t>(n);
  }
  const auto now = std::chrono::steady_clock::now();
  if (now - lastSync_ >= std::chrono::seconds(1)) {
    ::fdatasync(fd_.Get());
    lastSync_ = now;
  }
}

void MovSampleRecord::Add(std::int32_t duration) { Put(std::to_string(duration) + "\n"); }

void MovSampleRecord::TakeBack() { Put("-\n"); }

void MovSampleRecord::Close(bool remove) {
  if (!fd_) return;
  fd_.Reset();
  if (remove) ::unlink(path_.c_str());
  path_.clear();
}

MovSampleTimes MovSampleRecord::Read(const std::string& path) {
  MovSampleTimes times;
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  struct stat st;
  if (!fd || fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return times;
  std::string text(std::min<std::size_t>(static_cast<std::size_t>(st.st_size), kMaxRecordBytes),
                   '\0');
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::read(fd.Get(), text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  text.resize(done);

  std::size_t start = 0;
  int header = 0;
  std::int64_t value = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = text.substr(start, end - start);
    if (header == 0) {
      if (line != kFirstLine) return times;
    } else if (header == 1) {
      if (!KeyedNumber(line, "timescale", &value) || value <= 0 || value > 0x7FFFFFFF) return times;
      times.TimeScale = static_cast<std::int32_t>(value);
    } else if (header == 2) {
      if (!KeyedNumber(line, "period", &value) || value <= 0 || value > 0x7FFFFFFF) return times;
      times.Period = static_cast<std::int32_t>(value);
    } else if (header == 3) {
      if (!KeyedNumber(line, "created", &value) || value < 0 || value > 0xFFFFFFFFll) return times;
      times.Created = static_cast<std::uint32_t>(value);
      times.Ok = true;
    } else if (line == "-") {
      if (!times.Durations.empty()) times.Durations.pop_back();
    } else if (ParseNumber(line, &value) && value > 0 && value <= 0x7FFFFFFF) {
      times.Durations.push_back(static_cast<std::int32_t>(value));
    } else {
      break;  // not a line of ours: what follows is not trusted
    }
    ++header;
  }
  return times;
}

}  // namespace framory
