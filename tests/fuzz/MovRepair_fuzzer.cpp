// Feeds damaged and hostile files to the QuickTime clip repair: cut, with
// flipped bytes, huge atom and segment sizes, atoms that point back at
// themselves. The first two bytes choose the journal's facts and how many
// sample durations it holds; the rest is the clip file. Any crash, sanitizer
// report or hang is a fault; so is a file the repair grows by more than the
// tables of the samples it holds, a file it refused that is changed, and a
// repaired file that a second repair does not find finished, byte for byte.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "writers/MovRepair.h"
#include "writers/MovSampleNotes.h"

namespace {

std::string ReadAll(const std::string& path) {
  std::string bytes;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return bytes;
  char buffer[65536];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) bytes.append(buffer, n);
  ::close(fd);
  return bytes;
}

bool WriteAll(const std::string& path, const std::uint8_t* data, std::size_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const bool ok = ::write(fd, data, size) == static_cast<ssize_t>(size);
  ::close(fd);
  return ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  static const std::string path = "/tmp/framory-mov-repair-fuzz-" + std::to_string(getpid());
  framory::JournalledClip record;
  record.Path = path;
  record.Kind = framory::ClipKind::QuickTime;
  if ((data[0] & 1) != 0) {
    record.Facts = {{"timescale", data[0] & 2 ? "1000" : "600"},
                    {"period", std::to_string(1 + (data[0] >> 2))},
                    {"created", "3000000000"}};
  }
  for (int i = 0; i < data[1]; ++i) {
    record.Notes += i % 7 == 6 ? "-\n" : std::to_string(1 + (i * 37) % 500) + "\n";
  }
  const framory::MovSampleTimes times = framory::MovSampleNotes::Read(record);
  const std::uint8_t* file = data + 2;
  const std::size_t fileSize = size - 2;
  if (!WriteAll(path, file, fileSize)) __builtin_trap();

  using Outcome = framory::MovRepair::Outcome;
  framory::MovRepair repair(path, times);
  const Outcome outcome = repair.Run();
  const std::string after = ReadAll(path);
  if (outcome != Outcome::Repaired) {
    // Refused or found finished: not a byte changed.
    if (after != std::string(reinterpret_cast<const char*>(file), fileSize)) __builtin_trap();
  } else {
    // The movie atom: under 2 KB of fixed atoms, at most 20 bytes a sample,
    // and every sample takes more than 20 bytes of the file.
    if (after.size() > fileSize + 2048 + 20 * static_cast<std::size_t>(repair.Samples())) {
      __builtin_trap();
    }
    if (static_cast<std::size_t>(repair.Samples()) * 20 > fileSize) __builtin_trap();
    framory::MovRepair again(path, times);
    if (again.Run() != Outcome::Complete || ReadAll(path) != after) __builtin_trap();
  }
  ::unlink(path.c_str());
  return 0;
}
