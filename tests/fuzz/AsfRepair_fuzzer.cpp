// Feeds the start-up repair of WMV (ASF) clips damaged and hostile files:
// each input is written as a clip (its first two bytes are the journal's
// frame duration in milliseconds) and repaired twice. Any crash, sanitizer
// report or hang is a fault; so is
//  - a file changed by a run that says it changed nothing (complete, not a
//    clip, no file),
//  - a file grown by more than a rewritten packet and the largest index the
//    repair writes,
//  - a repaired file that a second repair does not find complete, or
//    changes.
// The clip lives in a private folder under $TMPDIR (ideally a tmpfs). Seed
// it with real clips (a finished one, one killed while recording) to start
// from their structure.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "writers/AsfRepair.h"

namespace {

const std::string& ClipPath() {
  static const std::string path = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string folder =
        std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/framory-fuzz-XXXXXX";
    if (mkdtemp(folder.data()) == nullptr) std::abort();
    return folder + "/movie0.wmv";
  }();
  return path;
}

std::string ReadClip() {
  std::string bytes;
  if (std::FILE* f = std::fopen(ClipPath().c_str(), "rb")) {
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
    std::fclose(f);
  }
  return bytes;
}

void Fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

// The largest packet the repair takes, and its largest index (an entry of
// six bytes for each second up to a month, its header, and the slack of a
// second at each end).
constexpr std::size_t kMaxGrowth = 65536 + 56 + 6 * (31ull * 24 * 3600 + 2);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::int64_t frameMs = data[0] | (data[1] << 8);
  const std::string input(reinterpret_cast<const char*>(data + 2), size - 2);
  std::FILE* f = std::fopen(ClipPath().c_str(), "wb");
  if (f == nullptr) std::abort();
  std::fwrite(input.data(), 1, input.size(), f);
  std::fclose(f);

  using Outcome = framory::AsfRepair::Outcome;
  const Outcome first = framory::AsfRepair(ClipPath(), frameMs).Run();
  const std::string after = ReadClip();
  if (first != Outcome::Repaired) {
    if (first == Outcome::WriteFailed) Fail("a clip in a writable folder could not be written");
    if (after != input) Fail("a run that repaired nothing changed the file");
    return 0;
  }
  if (after.size() > input.size() + kMaxGrowth) Fail("the repair grew the file without bound");
  const Outcome second = framory::AsfRepair(ClipPath(), frameMs).Run();
  if (second != Outcome::Complete) Fail("a repaired clip is not complete for a second repair");
  if (ReadClip() != after) Fail("a second repair changed the file");
  return 0;
}
