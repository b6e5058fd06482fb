// Field sizes come from the packet's own flag bytes (length type flags,
// property flags, payload flags), each a 2-bit code for 0, 1, 2 or 4 bytes,
// so any packet layout the format allows is read, not only the muxer's.
#include "platform/encoder/AsfPacketScan.h"

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

bool AsfPacketStartsKeyFrame(const std::uint8_t* packet, std::size_t size, int streamNumber) {
  if (packet == nullptr || size == 0) return false;
  Reader reader(packet, size);
  std::uint32_t flags = reader.Byte();
  if (flags & 0x80) {
    // Error correction data first; its length is in the low nibble.
    reader.Skip(flags & 0x0F);
    flags = reader.Byte();
  }
  const std::uint32_t lengthTypeFlags = flags;
  const std::uint32_t propertyFlags = reader.Byte();
  const bool multiplePayloads = lengthTypeFlags & 0x01;
  reader.Coded(lengthTypeFlags >> 5);  // packet length
  reader.Coded(lengthTypeFlags >> 1);  // sequence
  reader.Coded(lengthTypeFlags >> 3);  // padding length
  reader.Skip(4 + 2);                  // send time, duration
  std::uint32_t payloads = 1;
  unsigned payloadLengthType = 0;
  if (multiplePayloads) {
    const std::uint32_t payloadFlags = reader.Byte();
    payloads = payloadFlags & 0x3F;
    payloadLengthType = payloadFlags >> 6;
  }
  for (std::uint32_t i = 0; i < payloads && reader.Ok(); ++i) {
    const std::uint32_t streamField = reader.Coded(propertyFlags >> 6);
    reader.Coded(propertyFlags >> 4);  // media object number
    const std::uint32_t offset = reader.Coded(propertyFlags >> 2);
    const std::uint32_t replicatedLength = reader.Coded(propertyFlags);
    // A replicated length of 1 marks compressed payloads, whose "offset"
    // field is a presentation time: each sub-payload is a whole object.
    const bool wholeObject = replicatedLength == 1 || offset == 0;
    reader.Skip(replicatedLength);
    if (!reader.Ok()) return false;
    if ((streamField & 0x7F) == static_cast<std::uint32_t>(streamNumber) && (streamField & 0x80) &&
        wholeObject)
      return true;
    if (!multiplePayloads) break;
    reader.Skip(reader.Coded(payloadLengthType));
  }
  return false;
}

}  // namespace framory
