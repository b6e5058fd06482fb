#include "writers/ClipJournal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/UniqueFd.h"

namespace framory {

namespace {

constexpr char kRecordPrefix[] = "clip-";
constexpr char kRecordSuffix[] = ".journal";
// The path, kind and facts of a record take a few hundred bytes; anything
// longer is not a record of ours.
constexpr std::size_t kMaxHeadBytes = 8192;
// Notes grow with the clip (a few bytes a frame); a record past this is not
// ours either.
constexpr std::size_t kMaxRecordBytes = 64 << 20;

struct KindName {
  ClipKind Kind;
  const char* Name;
};
constexpr KindName kKindNames[] = {
    {ClipKind::Avi, "avi"},
    {ClipKind::Asf, "asf"},
    {ClipKind::QuickTime, "mov"},
    {ClipKind::PlaysAsCut, "as-cut"},
};

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
  struct stat st;
  if (fstat(fd, &st) != 0 || st.st_size < 0 ||
      static_cast<std::uint64_t>(st.st_size) > kMaxRecordBytes) {
    return std::string();
  }
  // One byte more than the size, to see a record that grew meanwhile.
  std::string text(static_cast<std::size_t>(st.st_size) + 1, '\0');
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::read(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  if (done > static_cast<std::size_t>(st.st_size)) return std::string();
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

const char* ClipKindName(ClipKind kind) {
  for (const KindName& k : kKindNames) {
    if (k.Kind == kind) return k.Name;
  }
  return "avi";
}

bool ClipKindFromName(const std::string& name, ClipKind* kind) {
  for (const KindName& k : kKindNames) {
    if (name == k.Name) {
      *kind = k.Kind;
      return true;
    }
  }
  return false;
}

std::string JournalledClip::Fact(const std::string& name) const {
  const auto found = Facts.find(name);
  return found == Facts.end() ? std::string() : found->second;
}

std::string ClipJournal::Encode(const JournalledClip& clip) {
  if (clip.Kind == ClipKind::Avi && clip.Facts.empty() && clip.Notes.empty()) return clip.Path;
  std::string bytes = clip.Path;
  bytes += '\0';
  bytes += ClipKindName(clip.Kind);
  for (const auto& [name, value] : clip.Facts) bytes += "\n" + name + "=" + value;
  bytes += '\0';
  bytes += clip.Notes;
  return bytes;
}

bool ClipJournal::Decode(const std::string& bytes, JournalledClip* clip) {
  JournalledClip read;
  const std::size_t pathEnd = bytes.find('\0');
  if (pathEnd == std::string::npos) {
    // A record of the first layout: an AVI clip's path.
    if (bytes.empty() || bytes.size() > kMaxHeadBytes) return false;
    read.Path = bytes;
    *clip = std::move(read);
    return true;
  }
  const std::size_t headEnd = bytes.find('\0', pathEnd + 1);
  if (pathEnd == 0 || headEnd == std::string::npos || headEnd > kMaxHeadBytes) return false;
  read.Path = bytes.substr(0, pathEnd);
  const std::string head = bytes.substr(pathEnd + 1, headEnd - pathEnd - 1);
  std::size_t line = 0;
  bool first = true;
  while (line <= head.size()) {
    std::size_t end = head.find('\n', line);
    if (end == std::string::npos) end = head.size();
    const std::string text = head.substr(line, end - line);
    if (first) {
      if (!ClipKindFromName(text, &read.Kind)) return false;
      first = false;
    } else {
      const std::size_t eq = text.find('=');
      if (eq == std::string::npos || eq == 0) return false;
      read.Facts[text.substr(0, eq)] = text.substr(eq + 1);
    }
    line = end + 1;
  }
  read.Notes = bytes.substr(headEnd + 1);
  *clip = std::move(read);
  return true;
}

std::string ClipJournal::DefaultFolder() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') return std::string(state) + "/framory";
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] == '\0') return std::string();
  return std::string(home) + "/.local/state/framory";
}

void JournalSyncPace::Noted(std::int64_t now) {
  if (dirty_) return;
  dirty_ = true;
  firstDirtyNs_ = now;
}

std::int64_t JournalSyncPace::DueAt() const {
  if (!dirty_) return kNoSync;
  if (hurry_ || !everSynced_) return firstDirtyNs_;
  return std::max(firstDirtyNs_, lastSyncNs_ + intervalNs_);
}

void JournalSyncPace::Syncing(std::int64_t now) {
  dirty_ = hurry_ = false;
  everSynced_ = true;
  lastSyncNs_ = now;
}

ClipJournal::~ClipJournal() {
  End();
  {
    const std::lock_guard<std::mutex> lock(noteMutex_);
    closing_ = true;
  }
  syncWake_.notify_all();
  if (syncer_.joinable()) syncer_.join();
}

bool ClipJournal::Begin(const JournalledClip& clip) {
  End();
  UniqueFd fd = MakeRecord(clip, &recordPath_);
  std::lock_guard<std::mutex> lock(noteMutex_);
  fd_ = std::move(fd);
  // The notes' syncs run on a thread of their own: the notes are written
  // from threads (the QuickTime runtime's) the event loop waits for.
  if (fd_.Valid() && !syncer_.joinable()) syncer_ = std::thread([this] { RunSyncs(); });
  return fd_.Valid();
}

void ClipJournal::RunSyncs() {
  std::unique_lock<std::mutex> lock(noteMutex_);
  while (!closing_) {
    const std::int64_t due = pace_.DueAt();
    if (due == JournalSyncPace::kNoSync) {
      syncWake_.wait(lock);
      continue;
    }
    const std::int64_t now = clock_.NowNanoseconds();
    if (now < due) {
      syncWake_.wait_for(lock, std::chrono::nanoseconds(due - now));
      continue;
    }
    pace_.Syncing(now);
    if (!fd_) continue;
    // A copy of the descriptor, so that the record can end (and the event
    // loop go on) while the disk takes its time.
    UniqueFd copy(::fcntl(fd_.Get(), F_DUPFD_CLOEXEC, 0));
    lock.unlock();
    if (copy) ::fdatasync(copy.Get());
    copy.Reset();
    lock.lock();
  }
}

void ClipJournal::SyncNotes() {
  {
    const std::lock_guard<std::mutex> lock(noteMutex_);
    pace_.Hurry();
  }
  syncWake_.notify_all();
}

bool ClipJournal::Begin(const std::string& clipPath) {
  JournalledClip clip;
  clip.Path = clipPath;
  return Begin(clip);
}

bool ClipJournal::Note(const void* data, std::size_t size) {
  std::lock_guard<std::mutex> lock(noteMutex_);
  if (!fd_) return false;
  // The descriptor's offset stays at the record's end: the notes follow.
  if (!WriteAll(fd_.Get(), std::string(static_cast<const char*>(data), size))) return false;
  const bool wasSynced = pace_.DueAt() == JournalSyncPace::kNoSync;
  pace_.Noted(clock_.NowNanoseconds());
  if (wasSynced) syncWake_.notify_all();
  return true;
}

bool ClipJournal::Leave(const JournalledClip& clip) {
  std::string record;
  // Closed (so unlocked) at once: the record is free for the next start to take.
  return MakeRecord(clip, &record).Valid();
}

bool ClipJournal::Leave(const std::string& clipPath) {
  JournalledClip clip;
  clip.Path = clipPath;
  return Leave(clip);
}

UniqueFd ClipJournal::MakeRecord(const JournalledClip& clip, std::string* recordPath) {
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
  if (flock(fd.Get(), LOCK_EX | LOCK_NB) != 0 || !WriteAll(fd.Get(), Encode(clip)) ||
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
  std::lock_guard<std::mutex> lock(noteMutex_);
  if (!fd_) return;
  // Removed while still locked, so no other process claims it on the way.
  ::unlink(recordPath_.c_str());
  fd_.Reset();
  recordPath_.clear();
  pace_.Forget();
}

std::vector<std::string> ClipJournal::TakeAbandoned() {
  std::vector<std::string> paths;
  for (const JournalledClip& clip : TakeAbandonedClips()) paths.push_back(clip.Path);
  return paths;
}

std::vector<JournalledClip> ClipJournal::TakeAbandonedClips() {
  std::vector<JournalledClip> clips;
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
    JournalledClip clip;
    const bool ours = Decode(ReadRecord(fd.Get()), &clip);
    ::unlink(path.c_str());
    fd.Reset();
    if (ours) clips.push_back(std::move(clip));
  }
  return clips;
}

}  // namespace framory
