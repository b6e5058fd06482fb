// Reads movie files back with tools independent of the code under test:
// ffprobe for the stream description, ffmpeg for the decoded pictures, and a
// small RIFF walk for the AVI stream header and format fields.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace framory::testing {

struct VideoProbe {
  bool Ok = false;  // ffprobe found a video stream
  std::string CodecName;
  std::string CodecTag;  // four characters as ffprobe spells them
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  std::string FrameRate;         // r_frame_rate, e.g. "10/1"
  std::int64_t FrameCount = -1;  // frames decoded by ffprobe
};

VideoProbe ProbeVideo(const std::string& path);

// Every decoded picture as 0x00RRGGBB words, rows top-down, in file order;
// empty when the file cannot be decoded.
std::vector<std::vector<std::uint32_t>> DecodeFrames(const std::string& path, std::int32_t width,
                                                     std::int32_t height);

// Every decoded picture converted by ffmpeg to `pixelFormat` (e.g. "rgba"),
// as the raw bytes ffmpeg writes, all frames one after the other.
std::string DecodeRaw(const std::string& path, const std::string& pixelFormat);

// One video packet as ffprobe lists it: its time in the stream's time base
// (frame periods for AVI), its time in seconds, its size, key-frame flag.
struct PacketProbe {
  std::int64_t Pts = -1;
  double PtsTime = -1;
  std::int64_t Size = -1;
  bool Key = false;
};

// Every packet of the first video stream, in file order.
std::vector<PacketProbe> ProbePackets(const std::string& path);

// How many pictures ffmpeg makes of the file at its constant frame rate
// (pictures held over empty samples are repeated); -1 when it cannot.
std::int64_t CountFramesAtConstantRate(const std::string& path);

// The sizes of the chunks of stream 0 in the file's "idx1" index, in order
// (empty samples are chunks of size 0); empty when there is no index.
std::vector<std::uint32_t> AviIndexChunkSizes(const std::string& path);

// The video stream header ("strh"), name ("strn") and format ("strf") of an
// AVI file, as stored.
struct AviHeaderFields {
  bool Found = false;
  std::string Type, Handler;
  std::uint32_t Scale = 0, Rate = 0;
  std::uint32_t SuggestedBufferSize = 0;
  std::int32_t Quality = 0;
  std::int16_t FrameRight = 0, FrameBottom = 0;
  std::string Name;
  std::int32_t Width = 0, Height = 0;
  std::uint16_t BitCount = 0;
  std::string Compression;  // four characters; "\0\0\0\0" is BI_RGB
  std::uint32_t CompressionValue = 0;
  std::uint32_t SizeImage = 0;
};

AviHeaderFields ReadAviHeader(const std::string& path);

// The container and its streams as ffprobe reads them, and the packets of
// the first video stream: presentation times in whole milliseconds (as the
// container stores them) and sizes in bytes.
struct ContainerProbe {
  bool Ok = false;
  std::string FormatName;
  std::vector<std::string> StreamTypes;  // codec_type of each stream
  std::vector<std::int64_t> PacketTimes;
  std::vector<std::int64_t> PacketSizes;
};

ContainerProbe ProbeContainer(const std::string& path);

// One field of the first video stream as ffprobe prints it ("time_base",
// "duration", ...); empty when there is none.
std::string ProbeStreamField(const std::string& path, const std::string& field);
// The duration of every video packet, in the stream's time base, in order.
std::vector<std::int64_t> ProbePacketDurations(const std::string& path);

// How many frames VLC, a reader independent of FFmpeg, makes of the movie
// at `path` when it transcodes it (counted by ffprobe); -1 when it cannot.
// VLC refuses to run as root, so it runs as nobody, on a copy in a folder of
// its own. VLC leaves out a frame or two at the ends of any clip.
std::int64_t VlcFrameCount(const std::string& path);

// The first video stream as VLC's demuxer reads it from the movie at `path`,
// copied out unchanged (for Photo-JPEG: the samples one after the other;
// VLC leaves out the last one); "-" when VLC cannot be run. It runs as
// nobody, on a copy in a folder of its own, as for VlcFrameCount.
std::string VlcStreamCopy(const std::string& path);

}  // namespace framory::testing
