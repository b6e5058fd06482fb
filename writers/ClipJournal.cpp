#include "writers/ClipJournal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/UniqueFd.h"

namespace framory {

namespace {

constexpr char kRecordPrefix[] = "clip-";
constexpr char kRecordSuffix[] = ".journal";
// A record holds one path; anything longer is not a record of ours.
constexpr std::size_t kMaxRecordBytes = 8192;

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool MakeFolders(const std::string& folder) {
  struct stat st;
  if (stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  const std::size_t slash = folder.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !MakeFolders(folder.substr(0, slash))) {
    return false;
  }
  return mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

bool WriteAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::string ReadRecord(int fd) {
  std::string text(kMaxRecordBytes + 1, '\0');
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::read(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  if (done > kMaxRecordBytes) return std::string();
  text.resize(done);
  return text;
}

// Opens and locks a file of the journal folder whose writer has ended;
// nothing when it is still held, or is not a plain file, or went meanwhile.
UniqueFd ClaimFile(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (!fd) return fd;
  struct stat held, now;
  if (fstat(fd.Get(), &held) != 0 || !S_ISREG(held.st_mode) ||
      flock(fd.Get(), LOCK_EX | LOCK_NB) != 0 || stat(path.c_str(), &now) != 0 ||
      now.st_ino != held.st_ino || now.st_dev != held.st_dev) {
    return UniqueFd();
  }
  return fd;
}

}  // namespace

std::string ClipJournal::DefaultFolder() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') return std::string(state) + "/framory";
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] == '\0') return std::string();
  return std::string(home) + "/.local/state/framory";
}

bool ClipJournal::Begin(const std::string& clipPath) {
  End();
  fd_ = MakeRecord(clipPath, &recordPath_);
  return fd_.Valid();
}

bool ClipJournal::Leave(const std::string& clipPath) {
  std::string record;
  // Closed (so unlocked) at once: the record is free for the next start to take.
  return MakeRecord(clipPath, &record).Valid();
}

UniqueFd ClipJournal::MakeRecord(const std::string& clipPath, std::string* recordPath) {
  if (folder_.empty() || !MakeFolders(folder_)) {
    std::fprintf(stderr, "framory: cannot make the clip journal folder '%s': %s\n", folder_.c_str(),
                 std::strerror(errno));
    return UniqueFd();
  }
  std::string temp = folder_ + "/" + kRecordPrefix + "XXXXXX";
  UniqueFd fd(mkostemp(temp.data(), O_CLOEXEC));
  if (!fd) {
    std::fprintf(stderr, "framory: cannot write to the clip journal '%s': %s\n", folder_.c_str(),
                 std::strerror(errno));
    return fd;
  }
  const std::string record = temp + kRecordSuffix;
  if (flock(fd.Get(), LOCK_EX | LOCK_NB) != 0 || !WriteAll(fd.Get(), clipPath) ||
      std::rename(temp.c_str(), record.c_str()) != 0) {
    std::fprintf(stderr, "framory: cannot write to the clip journal '%s': %s\n", folder_.c_str(),
                 std::strerror(errno));
    ::unlink(temp.c_str());
    return UniqueFd();
  }
  *recordPath = record;
  return fd;
}

void ClipJournal::End() {
  if (!fd_) return;
  // Removed while still locked, so no other process claims it on the way.
  ::unlink(recordPath_.c_str());
  fd_.Reset();
  recordPath_.clear();
}

std::vector<std::string> ClipJournal::TakeAbandoned() {
  std::vector<std::string> clips;
  if (folder_.empty()) return clips;
  DIR* dir = opendir(folder_.c_str());
  if (dir == nullptr) return clips;
  std::vector<std::string> names;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    // Files still without the suffix are records being made right now.
    if (name.rfind(kRecordPrefix, 0) == 0 && EndsWith(name, kRecordSuffix)) names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());

  for (const std::string& name : names) {
    const std::string path = folder_ + "/" + name;
    if (path == recordPath_) continue;
    UniqueFd fd = ClaimFile(path);
    if (!fd) continue;
    const std::string clip = ReadRecord(fd.Get());
    ::unlink(path.c_str());
    fd.Reset();
    if (!clip.empty()) clips.push_back(clip);
  }
  return clips;
}

}  // namespace framory
