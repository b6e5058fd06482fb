// A small on-disk record of the movie clip being written, so that a clip left
// unfinished by a crash or a kill can be found and repaired at the next start,
// wherever the project was meanwhile.
//
// Each open clip has one record file in the journal folder
// ($XDG_STATE_HOME/framory, else ~/.local/state/framory) holding the clip's
// path. The writing process keeps an exclusive lock on it for as long as the
// clip is open; the kernel drops that lock however the process ends. A
// record that can be locked therefore belongs to a process that is gone,
// while the records of another running instance are left alone. A record is
// made under a temporary name and renamed once locked and written, so that
// nobody ever claims a half-made one.
#pragma once

#include <string>
#include <vector>

#include "base/UniqueFd.h"

namespace framory {

class ClipJournal {
 public:
  explicit ClipJournal(std::string folder) : folder_(std::move(folder)) {}
  ~ClipJournal() { End(); }
  ClipJournal(const ClipJournal&) = delete;
  ClipJournal& operator=(const ClipJournal&) = delete;

  // $XDG_STATE_HOME/framory, with $HOME/.local/state when it is unset or
  // not absolute.
  static std::string DefaultFolder();

  // Records that `clipPath` is being written (ending an earlier record of
  // this journal). False, with a line on stderr, when no record could be
  // made; recording goes on without one.
  bool Begin(const std::string& clipPath);
  // The clip is finished: its record goes.
  void End();
  // Leaves a record of `clipPath` that no process holds, so that the next
  // start takes it up again (a repair that could not write its file).
  bool Leave(const std::string& clipPath);
  bool Open() const { return fd_.Valid(); }

  // The clips of records left by processes that have ended; the records are
  // removed as they are taken, so each clip is handed out once.
  std::vector<std::string> TakeAbandoned();

  const std::string& Folder() const { return folder_; }

 private:
  // Makes a record, locked and under its final name `*recordPath`; its
  // descriptor, or none.
  UniqueFd MakeRecord(const std::string& clipPath, std::string* recordPath);

  std::string folder_;
  std::string recordPath_;
  UniqueFd fd_;
};

}  // namespace framory
