// One AVI file being written by libavformat's AVI muxer (which switches to
// OpenDML extensions by itself once the file passes 1 GB). Shared by the
// file and the streams of the AVI file library: whichever of them is
// released last finishes the file (writes the index and the final sizes),
// unless the stream that carries the frames finished it earlier to learn the
// result.
//
// Positions the caller skipped are written as empty chunks (zero-size
// packets), one per sample, so each frame's chunk sits at its own position
// and players hold the previous picture over the gap. libavformat's own gap
// filling is not relied on: it refuses gaps of more than 60000 samples.
//
// A full disk or a file-size limit must not cut a clip off without its
// index. Before a packet goes to the muxer, the disk space for it and for
// the index entries of every frame so far is reserved beyond the file's end
// (fallocate, keeping the size; a free-space check where the file system
// cannot reserve), and the file-size limit is checked against the same
// end. A packet that does not fit is refused before a byte of it is written,
// so the file can always be finished with every frame it holds. The
// reservation past the end is given back when the file is finished.
//
// A file deleted while being written (its folder removed) is noticed at the
// next packet: nothing more is written into it. A file that never received
// a frame is removed when finished. Failures set the calling thread's last
// error to the system's error number.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/UniqueFd.h"
#include "platform/media/FfmpegHandles.h"
#include "writers/AviFileApi.h"

extern "C" {
#include <libavutil/rational.h>
struct AVStream;
struct AVPacket;
struct AVCodecParameters;
}

namespace framory {

class AviMuxer {
 public:
  // Creates the file. FileOpen when it cannot be created.
  static std::int32_t Create(const std::string& path, std::shared_ptr<AviMuxer>* muxer);
  ~AviMuxer();
  AviMuxer(const AviMuxer&) = delete;
  AviMuxer& operator=(const AviMuxer&) = delete;

  // The one video stream of the file. Unsupported for anything else.
  std::int32_t AddStream(const AviStreamInfo& info);
  bool HasStream() const { return stream_ != nullptr; }
  bool Begun() const { return begun_; }
  const AviStreamInfo& Info() const { return info_; }
  // Duration of one sample (Scale / Rate seconds), reduced.
  AVRational SampleTimeBase() const;

  // Gives the stream its format and writes the file header. `bottomUp`
  // marks raw RGB rows stored bottom-up (a positive height in the header).
  std::int32_t Begin(const AVCodecParameters& parameters, bool bottomUp);
  // Writes one packet whose times count samples (1 / the stream's rate),
  // after an empty chunk for every position skipped since the last packet.
  // BadParam for a position already written.
  std::int32_t Write(AVPacket* packet);
  // True (last error ENOENT) when the file was deleted (its folder
  // removed) while being written. Safe beside a worker writing packets: it
  // only looks at the file, so a stream asks before it queues a frame and
  // the recorder hears of it at that frame, not frames later.
  bool Deleted() const;
  // Writes the index and the final sizes and closes the file; the result of
  // that. Later calls (and the destructor) do nothing more.
  std::int32_t Finish();

 private:
  AviMuxer() = default;
  // The stream header keeps what the stream was created with, as AVI files
  // always have: the handler code (whatever codec tag the format carries),
  // the scale and rate as given (the muxer stores them reduced), and a
  // suggested buffer size of at least the one asked for.
  void StoreStreamHeader();
  std::int32_t WriteOne(AVPacket* packet);

  // Reserves room for a packet of `bytes` plus the finished index; false
  // (last error set) when the disk or the file-size limit has no room.
  bool ReserveRoom(std::int64_t bytes);

  std::string path_;
  // A second descriptor of the file: reservations, the deleted-file check
  // and giving the unused reservation back.
  UniqueFd fd_;
  std::int64_t reservedEnd_ = 0;
  std::int64_t framesWritten_ = 0;
  OutputHandle context_;
  AVStream* stream_ = nullptr;
  AviStreamInfo info_;
  bool begun_ = false;
  bool finished_ = false;
  std::int64_t nextPosition_ = 0;  // the first position not written yet
  PacketHandle empty_;             // the zero-size packet of a skipped position
};

}  // namespace framory
