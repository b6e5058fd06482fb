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

}  // namespace framory
