// A small AVI file library in the manner of Video for Windows' AVIFile: open
// a file, create a stream in it, put a codec stream on top, set the stream
// format, write samples, release. The AVI writer talks only to this; the
// implementation over libavformat/libavcodec lives in platform/media and is
// made by CreateAviFileLibrary().
//
// Objects are released by destroying them. As with AVIFile's reference
// counts, a stream keeps its file alive and a codec stream keeps the stream
// under it alive; the file on disk is complete once the last of them is gone.
//
// A stream may encode and write on a thread of its own: Write then queues the
// frame and returns, and a frame that fails later is reported by the next
// Write or, at the end, by Finish. Positions left out between two writes
// become empty samples that repeat the previous picture.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace framory {

constexpr std::uint32_t MakeFourCC(char a, char b, char c, char d) {
  return static_cast<std::uint32_t>(static_cast<std::uint8_t>(a)) |
         (static_cast<std::uint32_t>(static_cast<std::uint8_t>(b)) << 8) |
         (static_cast<std::uint32_t>(static_cast<std::uint8_t>(c)) << 16) |
         (static_cast<std::uint32_t>(static_cast<std::uint8_t>(d)) << 24);
}

namespace FourCC {
inline constexpr std::uint32_t Vids = MakeFourCC('v', 'i', 'd', 's');
inline constexpr std::uint32_t Mpg4 = MakeFourCC('M', 'P', 'G', '4');
inline constexpr std::uint32_t Divx = MakeFourCC('D', 'I', 'V', 'X');
inline constexpr std::uint32_t Wmv3 = MakeFourCC('W', 'M', 'V', '3');
inline constexpr std::uint32_t Xvid = MakeFourCC('X', 'V', 'I', 'D');
}  // namespace FourCC

// Result codes (0 success, below 0 failure), AVIERR values where one fits.
namespace AviResult {
inline constexpr std::int32_t Ok = 0;
inline constexpr std::int32_t Unsupported = static_cast<std::int32_t>(0x80044065);
inline constexpr std::int32_t BadFormat = static_cast<std::int32_t>(0x80044066);
inline constexpr std::int32_t Memory = static_cast<std::int32_t>(0x80044067);
inline constexpr std::int32_t Internal = static_cast<std::int32_t>(0x80044068);
inline constexpr std::int32_t BadParam = static_cast<std::int32_t>(0x8004406A);
inline constexpr std::int32_t FileWrite = static_cast<std::int32_t>(0x8004406E);
inline constexpr std::int32_t FileOpen = static_cast<std::int32_t>(0x8004406F);
inline constexpr std::int32_t NoCompressor = static_cast<std::int32_t>(0x80044071);
}  // namespace AviResult

inline constexpr std::uint32_t kAviCreateWrite = 0x1001;       // OF_CREATE | OF_WRITE
inline constexpr std::uint32_t kAviKeyFrame = 0x10;            // AVIIF_KEYFRAME
inline constexpr std::uint32_t kBiRgb = 0;                     // BI_RGB
inline constexpr std::uint32_t kCompressDataRateValid = 0x0C;  // DATARATE | VALID

// The 40-byte BITMAPINFOHEADER. A positive height means rows bottom-up.
struct AviBitmapHeader {
  std::uint32_t Size = 40;
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  std::uint16_t Planes = 1;
  std::uint16_t BitCount = 0;
  std::uint32_t Compression = kBiRgb;
  std::uint32_t SizeImage = 0;
  std::int32_t XPelsPerMeter = 0;
  std::int32_t YPelsPerMeter = 0;
  std::uint32_t ClrUsed = 0;
  std::uint32_t ClrImportant = 0;
};

struct AviRect {
  std::int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
};

// AVISTREAMINFO, the fields this program uses.
struct AviStreamInfo {
  std::uint32_t Type = 0;     // fccType
  std::uint32_t Handler = 0;  // fccHandler
  std::uint32_t Scale = 0;    // dwScale: rate = Rate / Scale samples a second
  std::uint32_t Rate = 0;     // dwRate
  std::int32_t Quality = 0;   // dwQuality, −1 for the codec's default
  std::uint32_t SuggestedBufferSize = 0;
  AviRect Frame;     // rcFrame
  std::string Name;  // szName
};

// AVICOMPRESSOPTIONS, the fields this program uses.
struct AviCompressOptions {
  std::uint32_t Type = 0;
  std::uint32_t Handler = 0;
  std::uint32_t KeyFrameEvery = 0;
  std::uint32_t Quality = 0;
  std::uint32_t BytesPerSecond = 0;
  std::uint32_t Flags = 0;
};

class AviStream {
 public:
  virtual ~AviStream() = default;  // AVIStreamRelease
  // The format of the samples written to this stream, from `position` on.
  virtual std::int32_t SetFormat(std::int32_t position, const AviBitmapHeader& format) = 0;
  // Writes `samples` samples from `data` at sample index `start`, which must
  // lie after every position written before. A codec stream also takes a
  // write of no data (null, 0 bytes) after its first frame: the previous
  // picture is encoded once more at `start`.
  virtual std::int32_t Write(std::int32_t start, std::int32_t samples, const void* data,
                             std::int32_t bytes, std::uint32_t flags) = 0;
  // Writes whatever is still queued and, for the stream that carries the
  // frames, finishes the file. Returns a failure no Write has reported yet.
  // Later writes fail; releasing the stream afterwards only frees it.
  virtual std::int32_t Finish() { return AviResult::Ok; }
};

class AviFile {
 public:
  virtual ~AviFile() = default;  // AVIFileRelease
  virtual std::int32_t CreateStream(std::unique_ptr<AviStream>* stream,
                                    const AviStreamInfo& info) = 0;
};

class AviFileLibrary {
 public:
  virtual ~AviFileLibrary() = default;
  // Opens (with kAviCreateWrite: creates) the file at `path`.
  virtual std::int32_t OpenFile(std::unique_ptr<AviFile>* file, const std::string& path,
                                std::uint32_t mode) = 0;
  // A stream that compresses what is written to it with the codec named by
  // options.Handler and writes the result to `source`. NoCompressor when no
  // codec of that name is installed.
  virtual std::int32_t MakeCompressedStream(std::unique_ptr<AviStream>* compressed,
                                            AviStream& source,
                                            const AviCompressOptions& options) = 0;
};

// The library over FFmpeg (platform/media; link framory_media).
std::unique_ptr<AviFileLibrary> CreateAviFileLibrary();

}  // namespace framory
