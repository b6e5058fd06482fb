// A small on-disk record of the movie clips being written, so that a clip
// left unfinished by a crash or a kill can be found and repaired at the next
// start, wherever the project was meanwhile.
//
// Each open clip has one record file in the journal folder
// ($XDG_STATE_HOME/framory, else ~/.local/state/framory). The writing
// process keeps an exclusive lock on it for as long as the clip is open; the
// kernel drops that lock however the process ends. A record that can be
// locked therefore belongs to a process that is gone, while the records of
// another running instance are left alone. A record is made under a
// temporary name and renamed once locked and written, so that nobody ever
// claims a half-made one.
//
// A record says what kind of clip it is, because each kind is finished in
// its own way, and keeps what that repair needs and the file cannot tell:
// facts fixed when the clip starts ("name=value" lines), and notes the
// writer appends while it writes (bytes in the kind's own layout). On disk:
//
//   path NUL kind "\n" facts-lines NUL notes...
//
// A record of an AVI clip without facts or notes is the path alone, which
// is also how every record looked before kinds were added: a record without
// a NUL byte is an AVI clip's path.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/MonotonicClock.h"
#include "base/UniqueFd.h"

namespace framory {

// How a clip cut short is finished at the next start.
enum class ClipKind : std::int32_t {
  Avi,         // RIFF AVI: index and counts rebuilt
  Asf,         // ASF (WMV): header fields, data object and index rebuilt
  QuickTime,   // QuickTime MOV: the movie atom written from the journal's durations
  PlaysAsCut,  // needs no repair (fragmented files): named only
};

// The word a record stores for `kind`, and back; false for an unknown word.
const char* ClipKindName(ClipKind kind);
bool ClipKindFromName(const std::string& name, ClipKind* kind);

// One clip as the journal records it.
struct JournalledClip {
  std::string Path;
  ClipKind Kind = ClipKind::Avi;
  // Set when the record is made; names and values hold no line break, NUL
  // or '=' in the name.
  std::map<std::string, std::string> Facts;
  // Appended while the clip is written (ClipJournal::Note).
  std::string Notes;

  // The fact `name`, or "" when there is none.
  std::string Fact(const std::string& name) const;
};

// When the record of a clip being noted goes to the disk: the notes are
// written at once, but a power loss keeps only what was synced, and a sync
// can take long on a busy disk. A note after a quiet spell is synced at
// once; notes coming faster are synced together, one sync a second (each
// note reaches the disk within about a second of being written). Times are
// on a monotonic clock, in nanoseconds.
class JournalSyncPace {
 public:
  static constexpr std::int64_t kNoSync = INT64_MAX;

  explicit JournalSyncPace(std::int64_t intervalNs = 1'000'000'000) : intervalNs_(intervalNs) {}

  // A note was written.
  void Noted(std::int64_t now);
  // The notes so far are to be synced at once (the clip is ending).
  void Hurry() { hurry_ = dirty_; }
  // When the next sync is due; kNoSync while every note is synced.
  std::int64_t DueAt() const;
  // A sync covering every note so far starts at `now`.
  void Syncing(std::int64_t now);
  // The record is gone: nothing is left to sync.
  void Forget() { dirty_ = hurry_ = false; }

 private:
  std::int64_t intervalNs_;
  bool dirty_ = false;
  bool hurry_ = false;
  bool everSynced_ = false;
  std::int64_t lastSyncNs_ = 0;
  std::int64_t firstDirtyNs_ = 0;
};

class ClipJournal {
 public:
  explicit ClipJournal(std::string folder) : folder_(std::move(folder)) {}
  // Ends the record; waits for a sync under way.
  ~ClipJournal();
  ClipJournal(const ClipJournal&) = delete;
  ClipJournal& operator=(const ClipJournal&) = delete;

  // $XDG_STATE_HOME/framory, with $HOME/.local/state when it is unset or
  // not absolute.
  static std::string DefaultFolder();

  // Records that `clip` is being written (ending an earlier record of this
  // journal). False, with a line on stderr, when no record could be made;
  // recording goes on without one.
  bool Begin(const JournalledClip& clip);
  // An AVI clip at `clipPath`.
  bool Begin(const std::string& clipPath);
  // Appends `size` bytes to the notes of the open record; false when there
  // is none or the write failed. The bytes reach the file at once (no
  // buffer in this process), so a kill loses none; a thread of the journal
  // syncs them to the disk as JournalSyncPace says, so a power loss loses
  // at most the last second's. One thread at a time.
  bool Note(const void* data, std::size_t size);
  // The notes written so far are synced without waiting for the pace (the
  // clip's last ones); returns at once.
  void SyncNotes();
  // The clip is finished: its record goes.
  void End();
  // Leaves a record of `clip` that no process holds, so that the next start
  // takes it up again (a repair that could not write its file).
  bool Leave(const JournalledClip& clip);
  bool Leave(const std::string& clipPath);
  bool Open() const { return fd_.Valid(); }

  // The clips of records left by processes that have ended; the records are
  // removed as they are taken, so each clip is handed out once.
  std::vector<JournalledClip> TakeAbandonedClips();
  // Their paths alone.
  std::vector<std::string> TakeAbandoned();

  const std::string& Folder() const { return folder_; }

  // The bytes of the record of `clip`, and the clip a record's bytes name
  // (false for bytes that are no record).
  static std::string Encode(const JournalledClip& clip);
  static bool Decode(const std::string& bytes, JournalledClip* clip);

 private:
  // Makes a record, locked and under its final name `*recordPath`; its
  // descriptor, or none.
  UniqueFd MakeRecord(const JournalledClip& clip, std::string* recordPath);

  // The syncing thread.
  void RunSyncs();

  std::string folder_;
  std::string recordPath_;
  UniqueFd fd_;
  std::mutex noteMutex_;  // fd_, recordPath_ and what follows
  std::condition_variable syncWake_;
  JournalSyncPace pace_;
  bool closing_ = false;
  SteadyClock clock_;
  std::thread syncer_;  // started with the first record
};

}  // namespace framory
