// A PipeWire video stream of the screen, read on PipeWire's own thread loop
// and handed to a StreamScreen. The stream asks for 32-bit RGB pictures
// (BGRx, BGRA, RGBx or RGBA, whichever the producer offers) in shared-memory
// buffers, plus three kinds of metadata: the buffer header (to skip pictures
// the producer marks corrupted), the damaged regions (what changed since the
// previous picture) and the pointer (its position and image, drawn by us
// rather than into the pictures). A producer that offers no pointer metadata
// draws the pointer in itself, or shows none.
//
// Only the newest buffer of a batch is read; older ones go straight back.
// Buffers without pixels carry only a pointer update. A new format (a new
// size) is taken as it comes; the pictures that follow simply have the new
// size.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "capture/StreamScreen.h"

struct pw_thread_loop;
struct pw_context;
struct pw_core;
struct pw_stream;
struct spa_pod;
struct spa_buffer;

namespace framory {

class PipeWireScreenStream {
 public:
  explicit PipeWireScreenStream(StreamScreen& screen);
  ~PipeWireScreenStream();
  PipeWireScreenStream(const PipeWireScreenStream&) = delete;
  PipeWireScreenStream& operator=(const PipeWireScreenStream&) = delete;

  // Connects to node `node` of the PipeWire remote `remoteFd` (a descriptor
  // the ScreenCast portal handed out; taken over and closed by PipeWire),
  // or, with remoteFd −1, of the user's own PipeWire daemon. `targetObject`,
  // when given, names the node to link to instead of its id (the tests'
  // producers are known by name). False, with Error() saying why, when the
  // stream could not even be set up.
  bool Start(int remoteFd, std::uint32_t node, const std::string& targetObject = {});
  void Stop();

  // Whether the stream has failed or been closed by the producer since
  // Start; Error() says how.
  bool Failed() const { return failed_.load(); }
  std::string Error() const;
  // Whether the producer sends pointer metadata (known once pictures came).
  bool PointerMetadata() const { return pointerMetadata_.load(); }

  // The stream's events, on the loop's thread.
  void HandleState(bool failed, bool closed, const char* error);
  void HandleFormat(const spa_pod* param);
  void HandleProcess();
  void Fail(const std::string& why);

 private:
  struct Listeners;
  void ReadPointer(spa_buffer* buffer);

  StreamScreen& screen_;
  pw_thread_loop* loop_ = nullptr;
  pw_context* context_ = nullptr;
  pw_core* core_ = nullptr;
  pw_stream* stream_ = nullptr;
  Listeners* listeners_ = nullptr;
  // Set on the loop's thread by the format that was agreed.
  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
  StreamPixelOrder order_ = StreamPixelOrder::Bgrx;
  bool formatKnown_ = false;
  std::atomic<bool> failed_{false};
  std::atomic<bool> pointerMetadata_{false};
  mutable std::mutex errorMutex_;
  std::string error_;
};

}  // namespace framory
