// Reads the payload headers of one ASF data packet to tell whether a key
// frame of a given stream begins in it (a payload with the key-frame bit at
// offset 0 of its media object). The muxer does not start packets at key
// frames, so the broadcast uses this to find where a new viewer can begin.
#pragma once

#include <cstddef>
#include <cstdint>

namespace framory {

// False also for a packet whose headers do not parse.
bool AsfPacketStartsKeyFrame(const std::uint8_t* packet, std::size_t size, int streamNumber);

// For a viewer who begins with this packet: writes it again without the
// payloads of the stream that come before its key frame (a whole picture,
// or the tail of one, that the viewer could not decode without the pictures
// before it), so the first picture the viewer decodes is the key frame. The
// packet keeps its size, its other payloads and their order; the padding
// grows. A packet not laid out as the muxer lays packets out is left as it
// is. False, untouched, when no key frame begins in it.
bool AsfPacketHideFramesBeforeKey(std::uint8_t* packet, std::size_t size, int streamNumber);

}  // namespace framory
