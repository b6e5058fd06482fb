// Tells from the first bytes of an AVI frame chunk whether the frame can be
// decoded on its own, for the codecs this program writes: uncompressed frames
// always, MPEG-4 version 3 by the picture type that opens the frame, MPEG-4
// part 2 (DivX, XviD) by the picture type after the VOP start code. The
// repair of a cut-short clip marks its index entries with this.
#pragma once

#include <cstddef>
#include <cstdint>

namespace framory {

// How much of a frame's data AviFrameIsKey needs at most.
inline constexpr std::size_t kAviKeyFrameProbeBytes = 256;

// `compression` is the stream format's biCompression code; `index` the
// frame's place in the stream. An empty frame (which repeats the one before)
// is never a key frame; for codecs not known here only the first frame is
// taken for one, which keeps seeking correct if slow.
bool AviFrameIsKey(std::uint32_t compression, const unsigned char* data, std::size_t size,
                   std::size_t index);

}  // namespace framory
