// The merge of a WMV clip's separately recorded sound track with its
// pictures, run beside the program's thread. The stream editor takes seconds
// and is only polled for its progress, so the merge runs on a thread of its
// own and posts SoundTrackMerged when it has ended; the program's thread
// then finishes it (FinishEnded): the failure the merge reported becomes its
// box there, and the two source files are deleted only after the merged
// file was written. The wait cursor shows from the first merge's start to
// the last one's finish. Exiting waits for a running merge (WaitForAll).
#pragma once

#include <functional>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/MessagePoster.h"
#include "capture/WaitCursor.h"
#include "writers/MovieWriterFactory.h"
#include "writers/WriterReports.h"

namespace framory {

class SoundTrackMerge {
 public:
  // `writers` merges; failures are shown through `reports` (null: not shown).
  SoundTrackMerge(MovieWriterFactory& writers, WriterReports* reports)
      : writers_(writers), reports_(reports) {}
  // Waits for every running merge and finishes it.
  ~SoundTrackMerge();
  SoundTrackMerge(const SoundTrackMerge&) = delete;
  SoundTrackMerge& operator=(const SoundTrackMerge&) = delete;

  // The cursor shown while merges run, and where the end of one is posted
  // (null: nothing is posted, and merges are finished by WaitForAll).
  void SetServices(WaitCursor* cursor, MessagePoster* poster) {
    cursor_ = cursor;
    poster_ = poster;
  }

  // Called on the program's thread with each merged file, once it is
  // finished and its sources are gone.
  void SetOnMerged(std::function<void(const std::string&)> onMerged) {
    onMerged_ = std::move(onMerged);
  }

  // Starts joining `audioPath` and `videoPath` into `mergedPath`.
  void Start(const std::string& videoPath, const std::string& audioPath,
             const std::string& mergedPath);
  // Finishes every merge that has ended; the number of merged files.
  int FinishEnded();
  // Waits for every running merge and finishes it; with `tell` false no box
  // is shown (the last-resort exit, when the display may be gone). The
  // number of merged files.
  int WaitForAll(bool tell = true);
  bool Running() const { return !jobs_.empty(); }

 private:
  // What the merge thread reports, kept for the program's thread.
  struct HeldReports : WriterReports {
    void Report(WriterFailure failure, std::int32_t reason) override {
      held.emplace_back(failure, reason);
    }
    std::vector<std::pair<WriterFailure, std::int32_t>> held;
  };
  struct Job {
    std::string video, audio, merged;
    HeldReports reports;
    bool done = false;
    std::atomic<bool> ended{false};
    std::thread thread;
  };
  // Joins `job`, tells its failures (with `tell`) and deletes its sources
  // after success; true when it merged.
  bool Finish(Job& job, bool tell);

  MovieWriterFactory& writers_;
  WriterReports* reports_;
  WaitCursor* cursor_ = nullptr;
  std::function<void(const std::string&)> onMerged_;
  MessagePoster* poster_ = nullptr;
  std::vector<std::unique_ptr<Job>> jobs_;
};

}  // namespace framory
