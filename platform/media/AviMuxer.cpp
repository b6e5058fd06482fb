#include "platform/media/AviMuxer.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/LastError.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/opt.h>
}

namespace framory {

namespace {

// Bytes of an AVISTREAMHEADER up to and including rcFrame.
constexpr std::size_t kStreamHeaderBytes = 56;

// What finishing the file may still write past its end: per frame an idx1
// entry (16 bytes) and an OpenDML ix00 entry (8 bytes), plus the chunk
// headers, the list ends and a new RIFF header at a 1 GB boundary.
constexpr std::int64_t kIndexBytesPerFrame = 24;
constexpr std::int64_t kIndexSlack = 64 * 1024;
// A packet's chunk header and padding byte.
constexpr std::int64_t kChunkOverhead = 16;

// The thread's last error from an FFmpeg result: its errno where it has one.
void SetLastErrorFrom(int averror) {
  const int code = averror < 0 && averror > -4096 ? -averror : EIO;
  SetLastError(static_cast<std::uint32_t>(code));
}

std::uint32_t Le32(const unsigned char* at) {
  return at[0] | (at[1] << 8) | (at[2] << 16) | (std::uint32_t{at[3]} << 24);
}

void PutLe32(unsigned char* at, std::uint32_t v) {
  for (int b = 0; b < 4; ++b) at[b] = static_cast<unsigned char>(v >> (8 * b));
}

}  // namespace

std::int32_t AviMuxer::Create(const std::string& path, std::shared_ptr<AviMuxer>* muxer) {
  std::shared_ptr<AviMuxer> m(new AviMuxer());
  m->path_ = path;
  // "file:" keeps a name with a colon from being taken for a protocol.
  const std::string url = "file:" + path;
  m->context_ = NewOutput("avi", url.c_str());
  if (m->context_ == nullptr) return AviResult::Memory;
  // Every packet goes to the file as it is written, so a frame reported
  // written is on disk even if a later one fails (a full disk).
  m->context_->flush_packets = 1;
  const int opened = avio_open(&m->context_->pb, url.c_str(), AVIO_FLAG_WRITE);
  if (opened < 0) {
    SetLastErrorFrom(opened);
    return AviResult::FileOpen;
  }
  m->fd_.Reset(::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY));
  *muxer = std::move(m);
  return AviResult::Ok;
}

AviMuxer::~AviMuxer() {
  Finish();  // nobody to tell of a failure here
}

std::int32_t AviMuxer::Finish() {
  if (context_ == nullptr || finished_) return AviResult::Ok;
  finished_ = true;
  std::int32_t result = AviResult::Ok;
  struct stat st;
  const bool deleted = fd_.Valid() && fstat(fd_.Get(), &st) == 0 && st.st_nlink == 0;
  // Index and final sizes, into the room reserved for them; a file that was
  // deleted meanwhile is not finished.
  if (begun_ && !deleted && av_write_trailer(context_.get()) < 0) result = AviResult::FileWrite;
  if (context_->pb != nullptr && context_->pb->error < 0) result = AviResult::FileWrite;
  if (CloseOutputFile(context_.get()) < 0) result = AviResult::FileWrite;
  context_.reset();
  // The trailer rewrites the suggested buffer size with the largest chunk.
  if (begun_ && !deleted && framesWritten_ > 0) StoreStreamHeader();
  if (fd_.Valid()) {
    // Give back the reservation past the end.
    if (fstat(fd_.Get(), &st) == 0 && st.st_nlink > 0) {
      // On failure only unused room stays taken; nothing of the clip is lost.
      const int truncated = ftruncate(fd_.Get(), st.st_size);
      (void)truncated;
    }
    // A file without a single frame is no clip (its first frame failed).
    if (framesWritten_ == 0 && fstat(fd_.Get(), &st) == 0 && st.st_nlink > 0) {
      struct stat named;
      if (::stat(path_.c_str(), &named) == 0 && named.st_ino == st.st_ino &&
          named.st_dev == st.st_dev) {
        ::unlink(path_.c_str());
      }
    }
    fd_.Reset();
  }
  return result;
}

bool AviMuxer::Deleted() const {
  struct stat st;
  if (!fd_.Valid() || fstat(fd_.Get(), &st) != 0 || st.st_nlink > 0) return false;
  SetLastError(ENOENT);
  return true;
}

bool AviMuxer::ReserveRoom(std::int64_t bytes) {
  if (!fd_.Valid()) return true;  // nothing to reserve with; the writes report failures
  struct stat st;
  if (fstat(fd_.Get(), &st) != 0 || st.st_nlink == 0) {
    // The file (or its whole folder) was deleted: no clip into a deleted file.
    SetLastError(ENOENT);
    return false;
  }
  const std::int64_t position = avio_tell(context_->pb);
  const std::int64_t end =
      position + bytes + kChunkOverhead + (framesWritten_ + 1) * kIndexBytesPerFrame + kIndexSlack;
  struct rlimit limit;
  if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      static_cast<std::uint64_t>(end) > limit.rlim_cur) {
    SetLastError(EFBIG);
    return false;
  }
  if (end <= reservedEnd_) return true;
  const std::int64_t from = std::max(reservedEnd_, position);
  if (fallocate(fd_.Get(), FALLOC_FL_KEEP_SIZE, from, end - from) == 0) {
    reservedEnd_ = end;
    return true;
  }
  if (errno != EOPNOTSUPP && errno != ENOSYS) {
    SetLastError(static_cast<std::uint32_t>(errno));
    return false;
  }
  // No reservations on this file system: at least see that the room is free.
  struct statvfs fs;
  if (fstatvfs(fd_.Get(), &fs) == 0 &&
      static_cast<std::uint64_t>(end - from) >
          static_cast<std::uint64_t>(fs.f_bavail) * static_cast<std::uint64_t>(fs.f_frsize)) {
    SetLastError(ENOSPC);
    return false;
  }
  return true;
}

AVRational AviMuxer::SampleTimeBase() const {
  AVRational period{0, 1};
  av_reduce(&period.num, &period.den, info_.Scale, info_.Rate, 1 << 30);
  return period;
}

std::int32_t AviMuxer::AddStream(const AviStreamInfo& info) {
  if (finished_ || stream_ != nullptr || info.Type != FourCC::Vids || info.Scale == 0 ||
      info.Rate == 0) {
    return AviResult::Unsupported;
  }
  stream_ = avformat_new_stream(context_.get(), nullptr);
  if (stream_ == nullptr) return AviResult::Memory;
  info_ = info;  // SampleTimeBase() reads it
  const AVRational period = SampleTimeBase();
  stream_->time_base = period;
  stream_->avg_frame_rate = av_inv_q(period);
  if (!info.Name.empty()) av_dict_set(&stream_->metadata, "title", info.Name.c_str(), 0);
  return AviResult::Ok;
}

std::int32_t AviMuxer::Begin(const AVCodecParameters& parameters, bool bottomUp) {
  if (finished_ || stream_ == nullptr || begun_) return AviResult::Unsupported;
  if (avcodec_parameters_copy(stream_->codecpar, &parameters) < 0) return AviResult::Memory;
  if (bottomUp) av_opt_set_int(context_->priv_data, "flipped_raw_rgb", 1, 0);
  // The header with its reserved index space takes some kilobytes.
  if (!ReserveRoom(0)) return AviResult::FileWrite;
  const int result = avformat_write_header(context_.get(), nullptr);
  if (result < 0) {
    SetLastErrorFrom(result);
    return AviResult::FileWrite;
  }
  begun_ = true;
  avio_flush(context_->pb);
  if (context_->pb->error < 0) {
    SetLastErrorFrom(context_->pb->error);
    return AviResult::FileWrite;
  }
  StoreStreamHeader();
  return AviResult::Ok;
}

void AviMuxer::StoreStreamHeader() {
  // The header lies in the first few kilobytes of the file; only these
  // fields of the video stream header change, in place.
  std::FILE* f = std::fopen(path_.c_str(), "r+b");
  if (f == nullptr) return;
  std::vector<unsigned char> head(16384);
  const std::size_t got = std::fread(head.data(), 1, head.size(), f);
  for (std::size_t i = 0; i + 8 + kStreamHeaderBytes <= got; ++i) {
    if (std::memcmp(&head[i], "strh", 4) != 0 || std::memcmp(&head[i + 8], "vids", 4) != 0) {
      continue;
    }
    unsigned char* const h = &head[i + 8];
    const std::uint32_t suggested = Le32(h + 36);
    PutLe32(h + 4, info_.Handler);
    PutLe32(h + 20, info_.Scale);
    PutLe32(h + 24, info_.Rate);
    PutLe32(h + 36, std::max(suggested, info_.SuggestedBufferSize));
    // fccHandler through dwSuggestedBufferSize, written back in one piece.
    if (std::fseek(f, static_cast<long>(i + 8 + 4), SEEK_SET) == 0) std::fwrite(h + 4, 1, 36, f);
    break;
  }
  std::fclose(f);
}

std::int32_t AviMuxer::Write(AVPacket* packet) {
  if (!begun_ || finished_) return AviResult::Unsupported;
  const std::int64_t position = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
  if (position == AV_NOPTS_VALUE || position < nextPosition_) return AviResult::BadParam;
  if (position > nextPosition_) {
    if (empty_ == nullptr) empty_.reset(av_packet_alloc());
    if (empty_ == nullptr) return AviResult::Memory;
    while (nextPosition_ < position) {
      empty_->data = nullptr;
      empty_->size = 0;
      empty_->flags = 0;
      empty_->pts = empty_->dts = nextPosition_;
      empty_->duration = 1;
      // A position whose write failed is used up all the same: the muxer
      // takes no second packet for it.
      const std::int32_t result = WriteOne(empty_.get());
      ++nextPosition_;
      if (result != AviResult::Ok) return result;
    }
  }
  nextPosition_ = position + 1;
  return WriteOne(packet);
}

std::int32_t AviMuxer::WriteOne(AVPacket* packet) {
  packet->stream_index = stream_->index;
  // Sample counts become the muxer's time base (normally the same).
  av_packet_rescale_ts(packet, SampleTimeBase(), stream_->time_base);
  if (!ReserveRoom(packet->size)) return AviResult::FileWrite;
  const int result = av_write_frame(context_.get(), packet);
  if (result < 0 || context_->pb->error < 0) {
    SetLastErrorFrom(result < 0 ? result : context_->pb->error);
    return AviResult::FileWrite;
  }
  ++framesWritten_;
  return AviResult::Ok;
}

}  // namespace framory
