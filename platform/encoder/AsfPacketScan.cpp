// Field sizes come from the packet's own flag bytes (length type flags,
// property flags, payload flags), each a 2-bit code for 0, 1, 2 or 4 bytes,
// so any packet layout the format allows is read, not only the muxer's.
#include "platform/encoder/AsfPacketScan.h"

#include <algorithm>
#include <vector>

namespace framory {
namespace {

class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Ok() const { return ok_; }
  std::uint32_t Byte() { return Field(1); }
  // A field whose size is given by a 2-bit code.
  std::uint32_t Coded(unsigned code) {
    static constexpr std::size_t kSizes[4] = {0, 1, 2, 4};
    return Field(kSizes[code & 3]);
  }
  std::size_t Position() const { return position_; }
  void Skip(std::size_t count) {
    if (count > size_ - position_) ok_ = false;
    position_ = ok_ ? position_ + count : size_;
  }

 private:
  std::uint32_t Field(std::size_t bytes) {
    if (bytes > size_ - position_) {
      ok_ = false;
      position_ = size_;
      return 0;
    }
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < bytes; ++i) value |= std::uint32_t{data_[position_ + i]} << (8 * i);
    position_ += bytes;
    return value;
  }

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
  bool ok_ = true;
};

}  // namespace

namespace {

struct PayloadSeen {
  std::size_t Begin = 0;  // of its header within the packet
  std::size_t End = 0;    // of its data
  std::uint32_t StreamField = 0;
  bool WholeObject = false;
};

struct PacketLayout {
  bool Ok = false;  // every payload header parsed
  // Laid out as the muxer writes packets: error correction of two zero
  // bytes, several payloads, no packet length or sequence, payload lengths
  // of two bytes.
  bool MuxerLayout = false;
  std::uint32_t PropertyFlags = 0;
  unsigned PayloadLengthType = 0;
  std::size_t SendTimeAt = 0;
};

// Walks the payloads of one data packet, `visit(PayloadSeen)` for each.
template <typename Visit>
PacketLayout ScanPayloads(const std::uint8_t* packet, std::size_t size, Visit visit) {
  PacketLayout layout;
  if (packet == nullptr || size == 0) return layout;
  Reader reader(packet, size);
  std::uint32_t flags = reader.Byte();
  bool muxerCorrection = false;
  if (flags & 0x80) {
    // Error correction data first; its length is in the low nibble.
    muxerCorrection = flags == 0x82 && size > 2 && packet[1] == 0 && packet[2] == 0;
    reader.Skip(flags & 0x0F);
    flags = reader.Byte();
  }
  const std::uint32_t lengthTypeFlags = flags;
  const std::uint32_t propertyFlags = reader.Byte();
  const bool multiplePayloads = lengthTypeFlags & 0x01;
  reader.Coded(lengthTypeFlags >> 5);  // packet length
  reader.Coded(lengthTypeFlags >> 1);  // sequence
  const std::uint32_t padding = reader.Coded(lengthTypeFlags >> 3);
  layout.SendTimeAt = reader.Position();
  reader.Skip(4 + 2);  // send time, duration
  std::uint32_t payloads = 1;
  unsigned payloadLengthType = 0;
  if (multiplePayloads) {
    const std::uint32_t payloadFlags = reader.Byte();
    payloads = payloadFlags & 0x3F;
    payloadLengthType = payloadFlags >> 6;
  }
  layout.PropertyFlags = propertyFlags;
  layout.PayloadLengthType = payloadLengthType;
  layout.MuxerLayout = muxerCorrection && multiplePayloads && (lengthTypeFlags & ~0x19u) == 0 &&
                       payloadLengthType == 2;
  for (std::uint32_t i = 0; i < payloads && reader.Ok(); ++i) {
    PayloadSeen seen;
    seen.Begin = reader.Position();
    seen.StreamField = reader.Coded(propertyFlags >> 6);
    reader.Coded(propertyFlags >> 4);  // media object number
    const std::uint32_t offset = reader.Coded(propertyFlags >> 2);
    const std::uint32_t replicatedLength = reader.Coded(propertyFlags);
    // A replicated length of 1 marks compressed payloads, whose "offset"
    // field is a presentation time: each sub-payload is a whole object.
    seen.WholeObject = replicatedLength == 1 || offset == 0;
    reader.Skip(replicatedLength);
    if (!reader.Ok()) return layout;
    if (multiplePayloads) {
      reader.Skip(reader.Coded(payloadLengthType));
    } else {
      const std::size_t end = padding <= size ? size - padding : 0;
      reader.Skip(end > reader.Position() ? end - reader.Position() : 0);
    }
    if (!reader.Ok()) return layout;
    seen.End = reader.Position();
    visit(seen);
  }
  layout.Ok = reader.Ok();
  return layout;
}

bool IsKeyFrameStart(std::uint32_t streamField, bool wholeObject, int streamNumber) {
  return (streamField & 0x7F) == static_cast<std::uint32_t>(streamNumber) &&
         (streamField & 0x80) && wholeObject;
}

}  // namespace

bool AsfPacketStartsKeyFrame(const std::uint8_t* packet, std::size_t size, int streamNumber) {
  bool found = false;
  ScanPayloads(packet, size, [&](const PayloadSeen& p) {
    found = found || IsKeyFrameStart(p.StreamField, p.WholeObject, streamNumber);
  });
  return found;
}

bool AsfPacketHideFramesBeforeKey(std::uint8_t* packet, std::size_t size, int streamNumber) {
  struct Span {
    std::size_t Begin, End;
    bool Drop;
  };
  std::vector<Span> spans;
  bool found = false;
  const PacketLayout layout =
      ScanPayloads(packet, size, [&](const PayloadSeen& p) {
        if (!found && IsKeyFrameStart(p.StreamField, p.WholeObject, streamNumber)) found = true;
        const bool ours = (p.StreamField & 0x7F) == static_cast<std::uint32_t>(streamNumber);
        spans.push_back({p.Begin, p.End, !found && ours});
      });
  if (!found || !layout.Ok) return false;
  std::size_t used = 0;
  std::size_t kept = 0;
  for (const Span& span : spans) {
    if (span.Drop) continue;
    used += span.End - span.Begin;
    ++kept;
  }
  if (kept == spans.size()) return true;
  // Written again in the muxer's own layout: error correction, flags,
  // padding size, send time, duration, payload flags, the kept payloads,
  // then the padding.
  if (!layout.MuxerLayout) return true;
  constexpr std::size_t kHeaderBytes = 3 + 1 + 1 + 4 + 2 + 1;
  const std::int64_t pad = static_cast<std::int64_t>(size) - static_cast<std::int64_t>(used) -
                           static_cast<std::int64_t>(kHeaderBytes);
  if (pad < 0) return true;
  std::vector<std::uint8_t> out = {0x82, 0x00, 0x00};
  std::uint8_t lengthFlags = 0x01;
  if (pad > 0) lengthFlags |= pad < 256 ? 0x08 : 0x10;
  out.push_back(lengthFlags);
  out.push_back(static_cast<std::uint8_t>(layout.PropertyFlags));
  if (pad > 0 && pad < 256) out.push_back(static_cast<std::uint8_t>(pad - 1));
  if (pad >= 256) {
    out.push_back(static_cast<std::uint8_t>((pad - 2) & 0xFF));
    out.push_back(static_cast<std::uint8_t>((pad - 2) >> 8));
  }
  out.insert(out.end(), packet + layout.SendTimeAt, packet + layout.SendTimeAt + 6);
  out.push_back(static_cast<std::uint8_t>(kept | (layout.PayloadLengthType << 6)));
  for (const Span& span : spans) {
    if (!span.Drop) out.insert(out.end(), packet + span.Begin, packet + span.End);
  }
  out.resize(size, 0);
  std::copy(out.begin(), out.end(), packet);
  return true;
}

}  // namespace framory
