#include "platform/encoder/WmStreamEditor.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <limits>

#include "platform/media/FfmpegHandles.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace framory {
namespace {

constexpr std::int32_t kEnglishUnitedStates = 1033;

AVMediaType MediaType(std::int32_t streamType) {
  return streamType == kEncoderAudio ? AVMEDIA_TYPE_AUDIO : AVMEDIA_TYPE_VIDEO;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat first {
  }, second{};
  if (stat(a.c_str(), &first) != 0 || stat(b.c_str(), &second) != 0) return a == b;
  return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// Opens `path` and finds its best stream of `type`; the stream's index or a
// negative HRESULT.
int OpenInput(const std::string& path, std::int32_t type, InputHandle* input) {
  AVFormatContext* context = nullptr;
  if (avformat_open_input(&context, path.c_str(), nullptr, nullptr) < 0)
    return EncoderResult::InvalidData;
  input->reset(context);
  if (avformat_find_stream_info(context, nullptr) < 0) return EncoderResult::InvalidData;
  const int index = av_find_best_stream(context, MediaType(type), -1, -1, nullptr, 0);
  return index < 0 ? EncoderResult::UnknownStreamType : index;
}

struct Source {
  InputHandle Input;
  int Index = -1;
  AVStream* Out = nullptr;
  std::int64_t Offset = AV_NOPTS_VALUE;  // first time stamp, moved to 0
  PacketHandle Pending{av_packet_alloc()};
  bool HasPending = false;
  bool Ended = false;
  double Duration = 0;  // seconds
};

// Reads the next packet of the source's stream into Pending.
void ReadNext(Source& source) {
  source.HasPending = false;
  while (!source.Ended) {
    if (av_read_frame(source.Input.get(), source.Pending.get()) < 0) {
      source.Ended = true;
      return;
    }
    if (source.Pending->stream_index == source.Index) {
      source.HasPending = true;
      return;
    }
    av_packet_unref(source.Pending.get());
  }
}

double PendingSeconds(const Source& source) {
  const AVPacket* packet = source.Pending.get();
  const std::int64_t time = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
  if (time == AV_NOPTS_VALUE) return 0;
  const std::int64_t offset = source.Offset == AV_NOPTS_VALUE ? 0 : source.Offset;
  return (time - offset) * av_q2d(source.Input->streams[source.Index]->time_base);
}

}  // namespace

WmStreamEditor::~WmStreamEditor() { Stop(); }

HResult WmStreamEditor::SetOutputFile(const std::string& path) {
  if (running_) return EncoderResult::Unexpected;
  output_ = path;
  return EncoderResult::Ok;
}

HResult WmStreamEditor::AddStream(const std::string& path, std::int32_t streamType,
                                  std::int32_t language, std::int32_t /*streamNumber*/,
                                  std::int32_t /*audienceIndex*/, std::int32_t /*startTime*/,
                                  std::int32_t /*endTime*/) {
  if (running_) return EncoderResult::Unexpected;
  if (path.empty()) return EncoderResult::InvalidArg;
  if (streamType != kEncoderAudio && streamType != kEncoderVideo)
    return EncoderResult::UnknownStreamType;
  if (language != kEnglishUnitedStates && language != 0) return EncoderResult::InvalidInputLanguage;
  inputs_.push_back(Input{path, streamType});
  return EncoderResult::Ok;
}

HResult WmStreamEditor::Validate() {
  if (inputs_.empty() || output_.empty()) return EncoderResult::InvalidArg;
  for (const Input& input : inputs_) {
    struct stat info {};
    if (stat(input.Path.c_str(), &info) != 0) return EncoderResult::FileNotFound;
    if (SameFile(input.Path, output_)) return EncoderResult::OutputIsInput;
    InputHandle handle;
    const int result = OpenInput(input.Path, input.Type, &handle);
    if (result < 0) return result;
  }
  return EncoderResult::Ok;
}

HResult WmStreamEditor::Start() {
  if (running_) return EncoderResult::Unexpected;
  const HResult valid = Validate();
  if (valid < 0) return valid;
  if (thread_.joinable()) thread_.join();
  progress_ = 0;
  failure_.clear();
  cancel_ = false;
  running_ = true;
  thread_ = std::thread(&WmStreamEditor::Run, this);
  return EncoderResult::Ok;
}

HResult WmStreamEditor::RunState(std::int32_t* state) {
  if (state == nullptr) return EncoderResult::InvalidArg;
  *state = running_ ? 1 : 0;
  return EncoderResult::Ok;
}

HResult WmStreamEditor::Progress(std::int32_t* percent) {
  if (percent == nullptr) return EncoderResult::InvalidArg;
  *percent = progress_;
  return EncoderResult::Ok;
}

HResult WmStreamEditor::Stop() {
  cancel_ = true;
  if (thread_.joinable()) thread_.join();
  return EncoderResult::Ok;
}

std::string WmStreamEditor::Failure() const { return running_ ? std::string() : failure_; }

void WmStreamEditor::Run() {
  std::string why;
  if (Remux(&why)) {
    progress_ = 100;
  } else {
    failure_ = why;
    std::remove(output_.c_str());
    std::fprintf(stderr, "framory: stream editor: %s\n", why.c_str());
  }
  running_ = false;
}

bool WmStreamEditor::Remux(std::string* why) {
  std::vector<Source> sources(inputs_.size());
  OutputHandle owner = NewOutput("asf", output_.c_str());
  if (owner == nullptr) {
    *why = "cannot make the output";
    return false;
  }
  AVFormatContext* output = owner.get();
  double longest = 0;
  for (std::size_t i = 0; i < inputs_.size(); ++i) {
    Source& source = sources[i];
    source.Index = OpenInput(inputs_[i].Path, inputs_[i].Type, &source.Input);
    if (source.Index < 0) {
      *why = inputs_[i].Path + " has no usable stream";
      return false;
    }
    const AVStream* in = source.Input->streams[source.Index];
    source.Out = avformat_new_stream(output, nullptr);
    if (source.Out == nullptr || avcodec_parameters_copy(source.Out->codecpar, in->codecpar) < 0)
      return *why = "cannot add a stream", false;
    source.Out->codecpar->codec_tag = 0;
    source.Out->time_base = AVRational{1, 1000};
    if (source.Input->duration > 0) longest = std::max(longest, source.Input->duration / 1e6);
  }
  if (avio_open(&output->pb, output_.c_str(), AVIO_FLAG_WRITE) < 0)
    return *why = "cannot create " + output_, false;
  if (avformat_write_header(output, nullptr) < 0) return *why = "cannot write the header", false;
  for (Source& source : sources) ReadNext(source);
  for (;;) {
    if (cancel_) return *why = "stopped before the end", false;
    // The source whose next packet comes first in time goes next.
    Source* next = nullptr;
    for (Source& source : sources) {
      if (!source.HasPending) continue;
      if (source.Offset == AV_NOPTS_VALUE) {
        const AVPacket* packet = source.Pending.get();
        source.Offset = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
      }
      if (next == nullptr || PendingSeconds(source) < PendingSeconds(*next)) next = &source;
    }
    if (next == nullptr) break;
    const double seconds = PendingSeconds(*next);
    AVPacket* packet = next->Pending.get();
    const AVRational inBase = next->Input->streams[next->Index]->time_base;
    if (next->Offset != AV_NOPTS_VALUE) {
      if (packet->pts != AV_NOPTS_VALUE) packet->pts -= next->Offset;
      if (packet->dts != AV_NOPTS_VALUE) packet->dts -= next->Offset;
    }
    av_packet_rescale_ts(packet, inBase, next->Out->time_base);
    packet->stream_index = next->Out->index;
    packet->pos = -1;
    if (av_interleaved_write_frame(output, packet) < 0)
      return *why = "cannot write " + output_, false;
    if (longest > 0)
      progress_ = std::clamp(static_cast<std::int32_t>(seconds * 100 / longest), 0, 98);
    ReadNext(*next);
  }
  if (av_write_trailer(output) < 0) return *why = "cannot finish " + output_, false;
  if (CloseOutputFile(output) < 0) return *why = "cannot close " + output_, false;
  return true;
}

}  // namespace framory
