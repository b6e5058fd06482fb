#include "writers/AsfRepair.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "writers/RepairFile.h"

namespace framory {

namespace {

using Guid = std::uint8_t[16];

constexpr Guid kHeaderObject = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr Guid kFilePropertiesObject = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                        0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr Guid kDataObject = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                              0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr Guid kSimpleIndexObject = {0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11,
                                     0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB};

constexpr std::int64_t kObjectHeaderBytes = 24;  // GUID and 64-bit size
constexpr std::int64_t kTopHeaderBytes = 30;     // and the object count, two reserved bytes
constexpr std::int64_t kDataHeaderBytes = 50;    // the Data object up to its first packet
constexpr std::int64_t kFilePropertiesBytes = 104;
// Where the File Properties fields lie, from the object's start.
constexpr std::int64_t kFileIdAt = 24;
constexpr std::int64_t kFileSizeAt = 40;
constexpr std::int64_t kPacketsAt = 56;
constexpr std::int64_t kPlayDurationAt = 64;
constexpr std::int64_t kSendDurationAt = 72;
constexpr std::int64_t kPrerollAt = 80;
constexpr std::int64_t kMinPacketAt = 92;
constexpr std::int64_t kMaxPacketAt = 96;
// And the Data object's.
constexpr std::int64_t kDataSizeAt = 16;
constexpr std::int64_t kDataPacketsAt = 40;

// Bounds that no clip of this program comes near; anything past them is
// not a clip to repair (and would only make the repair run long or write a
// huge index).
constexpr std::int64_t kMaxHeaderBytes = 16 << 20;
constexpr std::uint32_t kMinPacketBytes = 32;
constexpr std::uint32_t kMaxPacketBytes = 65536;
constexpr std::int64_t kMaxIndexSeconds = 31LL * 24 * 3600;

// The muxer's packet layout: error correction flags 0x82 and two bytes,
// the length type and property flags, send time and duration (together 11
// bytes); a multiple-payload packet adds the payload flags byte, and each of
// its payloads a 17-byte header (stream, object number, offset, 8 bytes of
// replicated data, 16-bit length). A packet is flushed as full once no
// payload header and byte more would fit.
constexpr std::uint32_t kMuxerPacketHeaderBytes = 11;
constexpr std::uint32_t kMuxerPayloadHeaderBytes = 17;
constexpr std::uint32_t kMuxerFullLeft = kMuxerPayloadHeaderBytes + kMuxerPacketHeaderBytes + 1;
constexpr std::uint8_t kMuxerPropertyFlags = 0x5D;
constexpr std::int64_t kIndexInterval = 10000000;  // one entry a second, 100-ns units

std::uint64_t Le(const std::uint8_t* at, int bytes) {
  std::uint64_t v = 0;
  for (int b = bytes - 1; b >= 0; --b) v = (v << 8) | at[b];
  return v;
}

void PutLe(std::vector<std::uint8_t>& out, std::uint64_t v, int bytes) {
  for (int b = 0; b < bytes; ++b) out.push_back(static_cast<std::uint8_t>(v >> (8 * b)));
}

// The file, with the little-endian fields the header holds.
class File : public RepairFile {
 public:
  using RepairFile::RepairFile;
  bool ReadLe(std::int64_t at, int bytes, std::uint64_t* value) const {
    std::uint8_t b[8];
    if (!Read(at, b, static_cast<std::size_t>(bytes))) return false;
    *value = Le(b, bytes);
    return true;
  }
  bool WriteLe(std::int64_t at, std::uint64_t value, int bytes) {
    std::vector<std::uint8_t> b;
    PutLe(b, value, bytes);
    return Write(at, b.data(), b.size());
  }
};
// Reads the fields of one packet, each no further than the packet's end.
class FieldReader {
 public:
  FieldReader(const std::uint8_t* data, std::uint32_t size) : data_(data), size_(size) {}
  bool Ok() const { return ok_; }
  std::uint32_t Position() const { return position_; }
  std::uint32_t Field(std::uint32_t bytes) {
    if (!ok_ || bytes > size_ - position_) {
      ok_ = false;
      return 0;
    }
    const std::uint32_t v =
        static_cast<std::uint32_t>(Le(data_ + position_, static_cast<int>(bytes)));
    position_ += bytes;
    return v;
  }
  // A field whose size is a 2-bit code for 0, 1, 2 or 4 bytes.
  std::uint32_t Coded(unsigned code) {
    static constexpr std::uint32_t kSizes[4] = {0, 1, 2, 4};
    return Field(kSizes[code & 3]);
  }
  void Skip(std::uint32_t bytes) {
    if (!ok_ || bytes > size_ - position_) {
      ok_ = false;
      return;
    }
    position_ += bytes;
  }

 private:
  const std::uint8_t* data_;
  std::uint32_t size_;
  std::uint32_t position_ = 0;
  bool ok_ = true;
};

struct Payload {
  std::uint8_t Stream = 0;  // stream number with the key-frame bit
  std::uint32_t Object = 0;
  std::uint32_t Offset = 0;
  std::uint32_t ObjectSize = 0;
  std::uint32_t Time = 0;    // presentation time, milliseconds with the preroll
  std::uint32_t Length = 0;  // bytes of data
  std::uint32_t Begin = 0;   // of its header within the packet
  std::uint32_t End = 0;     // of its data
};

struct Packet {
  bool Multiple = false;
  bool MuxerLayout = false;  // laid out as the muxer writes (see kMuxer...)
  std::uint32_t SendTime = 0;
  std::uint32_t Used = 0;  // bytes of payload headers and data
  std::vector<Payload> Payloads;
};

// Reads the packet of `size` bytes at `data`. Of a packet cut off after
// `available` bytes (less than `size`; the rest zeros), the payloads that
// lie whole before the cut are read, as far as the packet is laid out as the
// muxer lays it out (only then can it be written again without the rest).
bool ParsePacket(const std::uint8_t* data, std::uint32_t size, Packet* packet,
                 std::uint32_t available) {
  packet->Payloads.clear();
  packet->Used = 0;
  FieldReader r(data, size);
  std::uint32_t flags = r.Field(1);
  bool muxerCorrection = false;
  if (flags & 0x80) {
    // Error correction data: its length in the low nibble, a length type of 0.
    if (flags & 0x60) return false;
    muxerCorrection = flags == 0x82 && size > 2 && data[1] == 0 && data[2] == 0;
    r.Skip(flags & 0x0F);
    flags = r.Field(1);
    if (flags & 0x80) return false;
  }
  const std::uint32_t lengthFlags = flags;
  const std::uint32_t propertyFlags = r.Field(1);
  const std::uint32_t packetLength = r.Coded(lengthFlags >> 5);
  r.Coded(lengthFlags >> 1);  // sequence
  const std::uint32_t padding = r.Coded(lengthFlags >> 3);
  packet->SendTime = r.Field(4);
  r.Field(2);  // duration
  packet->Multiple = lengthFlags & 0x01;
  // A packet length, where given, is the packet size of the file.
  if (!r.Ok() || (((lengthFlags >> 5) & 3) != 0 && packetLength != size)) return false;
  std::uint32_t count = 1;
  unsigned payloadLengthType = 0;
  if (packet->Multiple) {
    const std::uint32_t payloadFlags = r.Field(1);
    count = payloadFlags & 0x3F;
    payloadLengthType = payloadFlags >> 6;
    if (count == 0) return false;
  }
  if (!r.Ok() || padding > size - r.Position() || r.Position() > available) return false;
  packet->MuxerLayout = muxerCorrection && packet->Multiple && (lengthFlags & ~0x19u) == 0 &&
                        propertyFlags == kMuxerPropertyFlags && payloadLengthType == 2;
  const std::uint32_t end = size - padding;
  for (std::uint32_t i = 0; i < count; ++i) {
    Payload p;
    p.Begin = r.Position();
    p.Stream = static_cast<std::uint8_t>(r.Coded(propertyFlags >> 6));
    p.Object = r.Coded(propertyFlags >> 4);
    p.Offset = r.Coded(propertyFlags >> 2);
    const std::uint32_t replicated = r.Coded(propertyFlags);
    // The object's size and presentation time; compressed payloads (a
    // replicated length of 1) are not written by the muxer.
    if (!r.Ok() || replicated < 8) return false;
    p.ObjectSize = r.Field(4);
    p.Time = r.Field(4);
    r.Skip(replicated - 8);
    std::uint32_t length = 0;
    if (packet->Multiple) {
      length = r.Coded(payloadLengthType);
    } else {
      if (!r.Ok() || r.Position() > end) return false;
      length = end - r.Position();
    }
    if (!r.Ok() || length > end - r.Position()) return false;
    r.Skip(length);
    p.Length = length;
    p.End = r.Position();
    if ((p.Stream & 0x7F) == 0 || p.ObjectSize == 0 || length == 0 || p.Offset > p.ObjectSize ||
        length > p.ObjectSize - p.Offset) {
      return false;
    }
    if (p.End > available) {
      // Cut off here: what came before is kept if the packet can be
      // written again without the rest.
      return packet->MuxerLayout && !packet->Payloads.empty();
    }
    packet->Used += p.End - p.Begin;
    packet->Payloads.push_back(p);
  }
  return r.Ok();
}

// The same payloads, fewer of them: `packet` (muxer layout) cut to its
// first `keep` payloads, laid out as the muxer lays out a packet of those.
std::vector<std::uint8_t> CutPacket(const std::uint8_t* data, std::uint32_t size,
                                    const Packet& packet, std::size_t keep) {
  std::uint32_t used = 0;
  for (std::size_t i = 0; i < keep; ++i) used += packet.Payloads[i].End - packet.Payloads[i].Begin;
  const std::int64_t left = static_cast<std::int64_t>(size) - used;
  std::int64_t pad = left - kMuxerPacketHeaderBytes - 1;
  std::uint8_t lengthFlags = 0x01;
  std::vector<std::uint8_t> out = {0x82, 0x00, 0x00};
  if (pad > 0) lengthFlags |= pad < 256 ? 0x08 : 0x10;
  out.push_back(lengthFlags);
  out.push_back(kMuxerPropertyFlags);
  if (pad > 0 && pad < 256) PutLe(out, static_cast<std::uint64_t>(pad - 1), 1);
  if (pad >= 256) PutLe(out, static_cast<std::uint64_t>(pad - 2), 2);
  const std::uint32_t first = packet.Payloads.front().Time;
  const std::uint32_t last = packet.Payloads[keep - 1].Time;
  PutLe(out, packet.SendTime, 4);
  PutLe(out, last >= first ? std::min<std::uint32_t>(last - first, 0xFFFF) : 0, 2);
  out.push_back(static_cast<std::uint8_t>(keep | 0x80));
  for (std::size_t i = 0; i < keep; ++i) {
    out.insert(out.end(), data + packet.Payloads[i].Begin, data + packet.Payloads[i].End);
  }
  out.resize(size, 0);
  return out;
}

// One media object (a frame of video, a block of sound) in file order.
struct Frame {
  std::int64_t FirstPacket = 0;
  std::uint32_t FirstPayload = 0;
  std::uint8_t Stream = 0;
  std::uint32_t Object = 0;
  std::uint32_t Size = 0;
  std::uint32_t Got = 0;
  std::uint32_t Time = 0;
  std::int64_t LastPacket = 0;
  bool Complete() const { return Got == Size; }
};

// What is known of a packet once read.
struct PacketSummary {
  bool Full = false;  // flushed by the muxer as soon as its last payload was put
  std::int64_t FirstFrame = 0;
  std::int64_t LastFrame = 0;
};

// Where the fields to rewrite are.
struct Layout {
  std::int64_t FileProperties = -1;
  std::int64_t Data = -1;  // start of the Data object (the header's end)
  std::uint32_t PacketBytes = 0;
  std::uint64_t Preroll = 0;
  std::uint8_t FileId[16] = {};
};

bool ReadLayout(const File& file, std::int64_t size, Layout* layout) {
  std::uint8_t top[kTopHeaderBytes];
  if (size < kTopHeaderBytes || !file.Read(0, top, sizeof top) ||
      std::memcmp(top, kHeaderObject, 16) != 0) {
    return false;
  }
  const std::uint64_t headerBytes = Le(top + 16, 8);
  if (headerBytes < static_cast<std::uint64_t>(kTopHeaderBytes + kFilePropertiesBytes) ||
      headerBytes > static_cast<std::uint64_t>(kMaxHeaderBytes) ||
      static_cast<std::int64_t>(headerBytes) + kDataHeaderBytes > size) {
    return false;
  }
  const auto end = static_cast<std::int64_t>(headerBytes);
  for (std::int64_t pos = kTopHeaderBytes; pos + kObjectHeaderBytes <= end;) {
    std::uint8_t object[kObjectHeaderBytes];
    if (!file.Read(pos, object, sizeof object)) return false;
    const std::uint64_t bytes = Le(object + 16, 8);
    if (bytes < static_cast<std::uint64_t>(kObjectHeaderBytes) ||
        bytes > static_cast<std::uint64_t>(end - pos)) {
      return false;
    }
    if (std::memcmp(object, kFilePropertiesObject, 16) == 0 &&
        bytes >= static_cast<std::uint64_t>(kFilePropertiesBytes)) {
      layout->FileProperties = pos;
    }
    pos += static_cast<std::int64_t>(bytes);
  }
  if (layout->FileProperties < 0) return false;
  std::uint64_t minPacket = 0, maxPacket = 0;
  std::uint8_t data[16];
  if (!file.ReadLe(layout->FileProperties + kMinPacketAt, 4, &minPacket) ||
      !file.ReadLe(layout->FileProperties + kMaxPacketAt, 4, &maxPacket) ||
      !file.ReadLe(layout->FileProperties + kPrerollAt, 8, &layout->Preroll) ||
      !file.Read(layout->FileProperties + kFileIdAt, layout->FileId, 16) ||
      !file.Read(end, data, 16) || std::memcmp(data, kDataObject, 16) != 0) {
    return false;
  }
  if (minPacket != maxPacket || minPacket < kMinPacketBytes || minPacket > kMaxPacketBytes ||
      layout->Preroll > 0xFFFFFFFFu) {
    return false;
  }
  layout->PacketBytes = static_cast<std::uint32_t>(minPacket);
  layout->Data = end;
  return true;
}

// Whether closing the file has run: the header counts the packets the Data
// object holds, names the file's size, and what follows the packets is the
// index (or nothing).
bool Finished(const File& file, std::int64_t size, const Layout& layout) {
  std::uint64_t fileSize = 0, packets = 0, dataSize = 0, dataPackets = 0;
  if (!file.ReadLe(layout.FileProperties + kFileSizeAt, 8, &fileSize) ||
      !file.ReadLe(layout.FileProperties + kPacketsAt, 8, &packets) ||
      !file.ReadLe(layout.Data + kDataSizeAt, 8, &dataSize) ||
      !file.ReadLe(layout.Data + kDataPacketsAt, 8, &dataPackets)) {
    return false;
  }
  const std::uint64_t room = static_cast<std::uint64_t>(size - layout.Data - kDataHeaderBytes);
  if (fileSize != static_cast<std::uint64_t>(size) || packets != dataPackets ||
      packets > room / layout.PacketBytes ||
      dataSize != kDataHeaderBytes + packets * layout.PacketBytes) {
    return false;
  }
  const std::int64_t dataEnd = layout.Data + static_cast<std::int64_t>(dataSize);
  if (dataEnd == size) return true;
  std::uint8_t index[kObjectHeaderBytes];
  return size - dataEnd >= kObjectHeaderBytes && file.Read(dataEnd, index, sizeof index) &&
         std::memcmp(index, kSimpleIndexObject, 16) == 0 &&
         Le(index + 16, 8) == static_cast<std::uint64_t>(size - dataEnd);
}

// The muxer's index: for every second up to the last frame's, the packet
// where the last key frame starting at or before it starts, and how many
// packets that frame filled.
class IndexBuilder {
 public:
  void KeyFrame(std::int64_t second, std::uint32_t packet, std::uint32_t packets) {
    const auto count = static_cast<std::uint16_t>(packets);  // the muxer keeps 16 bits
    if (second > next_) {
      if (next_ == 0) {
        nextPacket_ = packet;
        nextCount_ = count;
      }
      // Seconds without a key frame of their own repeat the last one: kept
      // as runs, so that a long quiet clip costs no memory here.
      runs_.push_back({nextPacket_, nextCount_, second - next_});
      entries_ += second - next_;
    }
    maximum_ = std::max(maximum_, count);
    nextPacket_ = packet;
    nextCount_ = count;
    next_ = second;
  }
  // The index object's bytes; none without a key frame.
  std::vector<std::uint8_t> Finish(std::int64_t lastSecond, const std::uint8_t* fileId) {
    std::vector<std::uint8_t> out;
    if (next_ == 0) return out;
    KeyFrame(lastSecond + 1, 0, 0);
    out.reserve(static_cast<std::size_t>(56 + 6 * entries_));
    out.insert(out.end(), kSimpleIndexObject, kSimpleIndexObject + 16);
    PutLe(out, static_cast<std::uint64_t>(56 + 6 * entries_), 8);
    out.insert(out.end(), fileId, fileId + 16);
    PutLe(out, kIndexInterval, 8);
    PutLe(out, maximum_, 4);
    PutLe(out, static_cast<std::uint64_t>(entries_), 4);
    for (const Run& run : runs_) {
      const std::uint8_t entry[6] = {
          static_cast<std::uint8_t>(run.Packet),       static_cast<std::uint8_t>(run.Packet >> 8),
          static_cast<std::uint8_t>(run.Packet >> 16), static_cast<std::uint8_t>(run.Packet >> 24),
          static_cast<std::uint8_t>(run.Count),        static_cast<std::uint8_t>(run.Count >> 8)};
      const std::size_t at = out.size();
      out.resize(at + 6 * static_cast<std::size_t>(run.Seconds));
      for (std::int64_t i = 0; i < run.Seconds; ++i) {
        std::memcpy(out.data() + at + 6 * static_cast<std::size_t>(i), entry, 6);
      }
    }
    return out;
  }

 private:
  struct Run {
    std::uint32_t Packet;
    std::uint16_t Count;
    std::int64_t Seconds;
  };
  std::int64_t next_ = 0;
  std::uint32_t nextPacket_ = 0;
  std::uint16_t nextCount_ = 0;
  std::uint16_t maximum_ = 0;
  std::int64_t entries_ = 0;
  std::vector<Run> runs_;
};

// Reads and parses packet `number` (the last one may be cut off).
bool ReadPacket(const File& file, std::int64_t first, std::int64_t size, std::uint32_t P,
                std::int64_t number, std::vector<std::uint8_t>* bytes, Packet* packet) {
  const std::int64_t pos = first + number * P;
  const auto available = static_cast<std::uint32_t>(std::min<std::int64_t>(P, size - pos));
  std::fill(bytes->begin(), bytes->end(), 0);
  return file.Read(pos, bytes->data(), available) &&
         ParsePacket(bytes->data(), P, packet, available);
}

std::int64_t SecondOf(std::uint32_t time) {
  return (static_cast<std::int64_t>(time) * 10000 + kIndexInterval - 1) / kIndexInterval;
}

}  // namespace

AsfRepair::Outcome AsfRepair::Run() {
  File file(path_);
  if (!file.Ok()) {
    if (errno == ENOENT) return Outcome::NoFile;
    return errno == EACCES || errno == EROFS || errno == ETXTBSY ? Outcome::WriteFailed
                                                                 : Outcome::Unrepairable;
  }
  const std::int64_t size = file.Size();
  if (size < 0) return Outcome::Unrepairable;
  if (size == 0) return Outcome::NoFile;
  Layout layout;
  if (!ReadLayout(file, size, &layout)) return Outcome::Unrepairable;
  const std::uint32_t P = layout.PacketBytes;
  const std::int64_t first = layout.Data + kDataHeaderBytes;
  if (Finished(file, size, layout)) {
    std::uint64_t packets = 0;
    file.ReadLe(layout.FileProperties + kPacketsAt, 8, &packets);
    packets_ = static_cast<std::int64_t>(packets);
    return Outcome::Complete;
  }

  // The packets, as long as each reads whole and its payloads go on the
  // media objects before it.
  std::vector<std::uint8_t> bytes(P);
  std::vector<Frame> frames;
  std::vector<PacketSummary> packets;
  Packet packet;
  // A cut last packet: the frames that lie whole in it stay, the packet
  // written again without the rest.
  std::int64_t partial = -1;
  for (std::int64_t pos = first; pos < size && partial < 0; pos += P) {
    const auto available = static_cast<std::uint32_t>(std::min<std::int64_t>(P, size - pos));
    std::fill(bytes.begin(), bytes.end(), 0);
    if (!file.Read(pos, bytes.data(), available) ||
        !ParsePacket(bytes.data(), P, &packet, available)) {
      break;
    }
    if (available < P) partial = static_cast<std::int64_t>(packets.size());
    const std::int64_t number = static_cast<std::int64_t>(packets.size());
    const std::vector<Frame>::size_type framesBefore = frames.size();
    const Frame lastBefore = frames.empty() ? Frame() : frames.back();
    bool fits = true;
    for (std::uint32_t i = 0; i < packet.Payloads.size() && fits; ++i) {
      const Payload& p = packet.Payloads[i];
      if (p.Offset == 0) {
        fits = frames.empty() || frames.back().Complete();
        Frame f;
        f.FirstPacket = number;
        f.FirstPayload = i;
        f.Stream = p.Stream;
        f.Object = p.Object;
        f.Size = p.ObjectSize;
        f.Time = p.Time;
        frames.push_back(f);
      } else {
        fits = !frames.empty() && !frames.back().Complete() &&
               (frames.back().Stream & 0x7F) == (p.Stream & 0x7F) &&
               frames.back().Object == p.Object && frames.back().Size == p.ObjectSize &&
               frames.back().Got == p.Offset;
      }
      if (fits) {
        frames.back().Got += p.Length;
        frames.back().LastPacket = number;
      }
    }
    if (!fits) {
      // Not the continuation of what came before: the data ends here.
      frames.resize(framesBefore);
      if (framesBefore > 0) frames.back() = lastBefore;
      break;
    }
    PacketSummary s;
    s.Full = !packet.Multiple || P - packet.Used <= kMuxerFullLeft;
    s.FirstFrame =
        static_cast<std::int64_t>(framesBefore) - (packet.Payloads.front().Offset == 0 ? 0 : 1);
    s.LastFrame = static_cast<std::int64_t>(frames.size()) - 1;
    packets.push_back(s);
  }

  // A last frame whose end never reached the disk goes, with the packets
  // from its start; a packet it shares with earlier frames is kept without
  // it (or, when not laid out as the muxer lays it out, goes too, and the
  // frames in it with it).
  std::int64_t keep = static_cast<std::int64_t>(packets.size());
  std::int64_t cutPacket = -1;
  std::vector<std::uint8_t> cut;
  while (!frames.empty() && (!frames.back().Complete() || frames.back().LastPacket >= keep)) {
    const Frame f = frames.back();
    frames.pop_back();
    keep = std::min(keep, f.FirstPacket);
    if (f.FirstPayload > 0 && ReadPacket(file, first, size, P, f.FirstPacket, &bytes, &packet) &&
        packet.MuxerLayout && f.FirstPayload < packet.Payloads.size()) {
      cut = CutPacket(bytes.data(), P, packet, f.FirstPayload);
      cutPacket = f.FirstPacket;
      keep = f.FirstPacket + 1;
    }
    if (cutPacket >= keep) {
      cut.clear();
      cutPacket = -1;
    }
  }
  packets.resize(static_cast<std::size_t>(keep));
  if (cutPacket < 0 && partial >= 0 && partial + 1 == keep &&
      ReadPacket(file, first, size, P, partial, &bytes, &packet)) {
    // The cut packet with its whole frames, complete again (cut in its
    // padding, it is whole already: the padding is zeros).
    cut = packet.MuxerLayout ? CutPacket(bytes.data(), P, packet, packet.Payloads.size()) : bytes;
    cutPacket = partial;
  }
  if (cutPacket >= 0) {
    if (!ParsePacket(cut.data(), P, &packet, P)) return Outcome::Unrepairable;
    packets.back().Full = P - packet.Used <= kMuxerFullLeft;
    packets.back().LastFrame = static_cast<std::int64_t>(frames.size()) - 1;
  }

  // Which frame's writing flushed each packet: a full packet (or one of a
  // single payload) the frame of its last payload; another one the frame
  // that began the next packet, or the close for the last packet.
  const auto total = static_cast<std::int64_t>(frames.size());
  std::vector<std::uint32_t> flushed(static_cast<std::size_t>(total) + 1, 0);
  for (std::int64_t k = 0; k < keep; ++k) {
    const PacketSummary& s = packets[static_cast<std::size_t>(k)];
    std::int64_t owner =
        s.Full ? s.LastFrame
               : (k + 1 < keep ? packets[static_cast<std::size_t>(k + 1)].FirstFrame : total);
    owner = std::clamp<std::int64_t>(owner, 0, total);
    ++flushed[static_cast<std::size_t>(owner)];
  }
  IndexBuilder index;
  std::int64_t duration = 0;
  std::uint32_t packetNumber = 0;
  for (std::int64_t i = 0; i < total; ++i) {
    const Frame& f = frames[static_cast<std::size_t>(i)];
    const std::int64_t time =
        static_cast<std::int64_t>(f.Time) - static_cast<std::int64_t>(layout.Preroll);
    duration = std::max(duration, (time + frameMilliseconds_) * 10000);
    if (SecondOf(f.Time) > kMaxIndexSeconds) return Outcome::Unrepairable;
    if (f.Stream & 0x80)
      index.KeyFrame(SecondOf(f.Time), packetNumber, flushed[static_cast<std::size_t>(i)]);
    packetNumber += flushed[static_cast<std::size_t>(i)];
  }
  const std::vector<std::uint8_t> indexBytes =
      index.Finish(total > 0 ? SecondOf(frames.back().Time) : 0, layout.FileId);

  const std::int64_t dataEnd = first + keep * P;
  const std::int64_t finalSize = dataEnd + static_cast<std::int64_t>(indexBytes.size());
  packets_ = keep;
  frames_ = total;
  const bool written =
      file.Truncate(dataEnd) &&
      (cutPacket < 0 || file.Write(first + cutPacket * P, cut.data(), cut.size())) &&
      (indexBytes.empty() || file.Write(dataEnd, indexBytes.data(), indexBytes.size())) &&
      file.WriteLe(layout.Data + kDataSizeAt,
                   kDataHeaderBytes + static_cast<std::uint64_t>(keep) * P, 8) &&
      file.WriteLe(layout.Data + kDataPacketsAt, static_cast<std::uint64_t>(keep), 8) &&
      // The header last: until it is written the file still reads as unfinished.
      file.WriteLe(layout.FileProperties + kPlayDurationAt,
                   static_cast<std::uint64_t>(duration) + layout.Preroll * 10000, 8) &&
      file.WriteLe(layout.FileProperties + kSendDurationAt, static_cast<std::uint64_t>(duration),
                   8) &&
      file.WriteLe(layout.FileProperties + kPacketsAt, static_cast<std::uint64_t>(keep), 8) &&
      file.WriteLe(layout.FileProperties + kFileSizeAt, static_cast<std::uint64_t>(finalSize), 8) &&
      file.Sync();
  return written ? Outcome::Repaired : Outcome::WriteFailed;
}

}  // namespace framory
