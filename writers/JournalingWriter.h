// A movie writer that keeps the clip journal up to date around another
// writer: the clip is recorded (with its kind and the facts its repair
// needs) just before the first frame creates its file, and the record goes
// once closing has finished the file. A record left behind thus always
// names a file that was not finished.
#pragma once

#include <memory>
#include <string>

#include "writers/ClipJournal.h"
#include "writers/MovieWriter.h"

namespace framory {

class JournalingWriter : public MovieWriter {
 public:
  JournalingWriter(std::unique_ptr<MovieWriter> writer, ClipJournal& journal, JournalledClip clip)
      : writer_(std::move(writer)), journal_(journal), clip_(std::move(clip)) {}
  ~JournalingWriter() override { Close(); }

  std::int32_t Prepare(const MovieFrame& frame) override { return writer_->Prepare(frame); }
  std::int32_t AddFrame(const MovieFrame& frame) override {
    BeginRecord();
    return writer_->AddFrame(frame);
  }
  std::int32_t AddFrameAt(const MovieFrame& frame, std::int32_t position) override {
    BeginRecord();
    return writer_->AddFrameAt(frame, position);
  }
  std::int32_t RepeatFrame(const MovieFrame& frame) override { return writer_->RepeatFrame(frame); }
  std::int32_t RepeatFrameAt(const MovieFrame& frame, std::int32_t position) override {
    return writer_->RepeatFrameAt(frame, position);
  }
  void ClipClockStarted(std::int64_t ns) override { writer_->ClipClockStarted(ns); }
  void ClipPaused(std::int64_t ns) override { writer_->ClipPaused(ns); }
  void ClipResumed(std::int64_t ns) override { writer_->ClipResumed(ns); }
  std::int32_t StartResult() const override { return writer_->StartResult(); }
  std::int32_t CloseResult() const override { return writer_->CloseResult(); }
  void Close() override {
    writer_->Close();
    if (begun_) journal_.End();
    begun_ = false;
  }

  MovieWriter& Inner() const { return *writer_; }
  // The journal the clip is recorded in (a writer may append notes to it).
  ClipJournal& Journal() const { return journal_; }

 private:
  // Tried once per clip: without a record the clip still records.
  void BeginRecord() {
    if (begun_) return;
    journal_.Begin(clip_);
    begun_ = true;
  }

  std::unique_ptr<MovieWriter> writer_;
  ClipJournal& journal_;
  JournalledClip clip_;
  bool begun_ = false;
};

}  // namespace framory
