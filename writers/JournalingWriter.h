// A movie writer that keeps the clip journal up to date around another
// writer: the clip is recorded just before the first frame creates its file,
// and the record goes once closing has finished the file. A record left
// behind thus always names a file that was not finished.
#pragma once

#include <memory>
#include <string>

#include "writers/ClipJournal.h"
#include "writers/MovieWriter.h"

namespace framory {

class JournalingWriter : public MovieWriter {
 public:
  JournalingWriter(std::unique_ptr<MovieWriter> writer, ClipJournal& journal, std::string path)
      : writer_(std::move(writer)), journal_(journal), path_(std::move(path)) {}
  ~JournalingWriter() override { Close(); }

  std::int32_t Prepare(const MovieFrame& frame) override { return writer_->Prepare(frame); }
  std::int32_t AddFrame(const MovieFrame& frame) override {
    // Tried once per clip: without a record the clip still records.
    if (!begun_) {
      journal_.Begin(path_);
      begun_ = true;
    }
    return writer_->AddFrame(frame);
  }
  std::int32_t AddFrameAt(const MovieFrame& frame, std::int32_t position) override {
    if (!begun_) {
      journal_.Begin(path_);
      begun_ = true;
    }
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

 private:
  std::unique_ptr<MovieWriter> writer_;
  ClipJournal& journal_;
  std::string path_;
  bool begun_ = false;
};

}  // namespace framory
