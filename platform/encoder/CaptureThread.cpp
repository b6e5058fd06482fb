#include "platform/encoder/CaptureThread.h"

#include <pthread.h>

#include <csignal>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "platform/encoder/AsfOutput.h"

namespace framory {

CaptureThread::CaptureThread(EncodingClock& clock, Texts texts) : clock_(clock), texts_(texts) {}

CaptureThread::~CaptureThread() { Stop(); }

void CaptureThread::Stop() {
  if (thread_.joinable()) {
    clock_.Stop();
    thread_.join();
  }
}

void CaptureThread::Launch(AsfOutput* output, int index) {
  output_ = output;
  index_ = index;
  thread_ = std::thread([this] {
    // The thread writes to a connection of its own (the X server, the sound
    // server) that may go away under it: a write there must fail with EPIPE,
    // which the capture reports, not end the whole program with SIGPIPE.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    Run();
  });
}

void CaptureThread::Join() {
  if (thread_.joinable()) thread_.join();
}

std::string CaptureThread::Failure() const {
  std::lock_guard<std::mutex> lock(failureMutex_);
  return failure_;
}

void CaptureThread::Fail(const std::string& why) {
  std::lock_guard<std::mutex> lock(failureMutex_);
  if (failure_.empty()) failure_ = why;
}

bool CaptureThread::Encode(AVFrame* frame) {
  if (avcodec_send_frame(codec_.get(), frame) < 0) {
    if (frame != nullptr) Fail(texts_.EncoderFailed);
    return false;
  }
  for (;;) {
    const int result = avcodec_receive_packet(codec_.get(), packet_.get());
    if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return true;
    if (result < 0) {
      Fail(texts_.EncoderFailed);
      return false;
    }
    // A picture lasts one frame period (its time base): the file's duration
    // then reaches to the end of the last one, as a WMV writer's clip does
    // and as the repair of a clip cut short counts it.
    if (packet_->duration == 0 && codec_->codec_type == AVMEDIA_TYPE_VIDEO) packet_->duration = 1;
    const bool written = output_->Write(packet_.get(), index_, codec_->time_base);
    av_packet_unref(packet_.get());
    if (!written) {
      Fail(texts_.OutputFailed);
      return false;
    }
  }
}

}  // namespace framory
