#include "capture/SoundTrackMerge.h"

#include <cstdio>

namespace framory {

SoundTrackMerge::~SoundTrackMerge() { WaitForAll(); }

void SoundTrackMerge::Start(const std::string& videoPath, const std::string& audioPath,
                            const std::string& mergedPath) {
  auto job = std::make_unique<Job>();
  job->video = videoPath;
  job->audio = audioPath;
  job->merged = mergedPath;
  if (jobs_.empty() && cursor_ != nullptr) cursor_->Show();
  Job* running = job.get();
  MessagePoster* poster = poster_;
  running->thread = std::thread([this, running, poster] {
    running->done =
        writers_.MergeSoundTrack(running->video, running->audio, running->merged, running->reports);
    running->ended = true;
    if (poster != nullptr) poster->PostMessage(MainWindowMessages::SoundTrackMerged);
  });
  jobs_.push_back(std::move(job));
}

bool SoundTrackMerge::Finish(Job& job, bool tell) {
  if (job.thread.joinable()) job.thread.join();
  if (tell && reports_ != nullptr) {
    for (const auto& [failure, reason] : job.reports.held) reports_->Report(failure, reason);
  }
  // Only a merge that got to the end wrote the merged file; anything else
  // keeps both source files.
  if (job.done) {
    std::remove(job.video.c_str());
    std::remove(job.audio.c_str());
    if (onMerged_) onMerged_(job.merged);
  }
  return job.done;
}

int SoundTrackMerge::FinishEnded() {
  int merged = 0;
  // A box shown while finishing runs a nested event loop, in which the next
  // merge's message may be handled: each job leaves the list before it is
  // finished.
  for (std::size_t i = 0; i < jobs_.size();) {
    if (!jobs_[i]->ended) {
      ++i;
      continue;
    }
    std::unique_ptr<Job> job = std::move(jobs_[i]);
    jobs_.erase(jobs_.begin() + static_cast<std::ptrdiff_t>(i));
    if (jobs_.empty() && cursor_ != nullptr) cursor_->Restore();
    if (Finish(*job, true)) ++merged;
  }
  return merged;
}

int SoundTrackMerge::WaitForAll(bool tell) {
  int merged = 0;
  while (!jobs_.empty()) {
    std::unique_ptr<Job> job = std::move(jobs_.front());
    jobs_.erase(jobs_.begin());
    job->thread.join();
    if (jobs_.empty() && cursor_ != nullptr) cursor_->Restore();
    if (Finish(*job, tell)) ++merged;
  }
  return merged;
}

}  // namespace framory
