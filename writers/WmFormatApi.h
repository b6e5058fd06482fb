// A small Windows-Media-Format-like library: a profile manager that loads a
// system profile by its identifier, and a writer that takes the profile,
// reports its inputs, takes the media type of an input, and then takes
// samples allocated from it until writing ends. The WMV writer talks only to
// this; the implementation over libavformat's ASF muxer and libavcodec's
// Windows Media Video 8 encoder lives in platform/media and is made by
// CreateWmFormatLibrary().
//
// Objects are released by destroying them. A sample is shared: the writer
// keeps its own reference while the sample waits to be encoded, so the
// caller may release its reference right after WriteSample.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace framory {

struct WmGuid {
  std::uint32_t Data1 = 0;
  std::uint16_t Data2 = 0;
  std::uint16_t Data3 = 0;
  std::uint8_t Data4[8] = {};

  friend bool operator==(const WmGuid& a, const WmGuid& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i) {
      if (a.Data4[i] != b.Data4[i]) return false;
    }
    return true;
  }
};

// The published identifiers this program uses.
namespace WmGuids {
inline constexpr WmGuid Null{};
inline constexpr WmGuid ProfileV80_384Video{
    0x29B00C2B, 0x09A9, 0x48BD, {0xAD, 0x09, 0xCD, 0xAE, 0x11, 0x7D, 0x1D, 0xA7}};
inline constexpr WmGuid ProfileV80_56Video{
    0x254E8A96, 0x2612, 0x405C, {0x80, 0x39, 0xF0, 0xBF, 0x72, 0x5C, 0xED, 0x7D}};
inline constexpr WmGuid ProfileV80_700PALVideo{
    0xEC298949, 0x639B, 0x45E2, {0x96, 0xFD, 0x4A, 0xB3, 0x2D, 0x59, 0x19, 0xC2}};
inline constexpr WmGuid IidProfileManager2{
    0x7A924E51, 0x73C1, 0x494D, {0x80, 0x19, 0x23, 0xD3, 0x7E, 0xD9, 0xB8, 0x9A}};
inline constexpr WmGuid MediaTypeVideo{
    0x73646976, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr WmGuid MediaTypeAudio{
    0x73647561, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr WmGuid FormatVideoInfo{
    0x05589F80, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
inline constexpr WmGuid SubtypeRgb8{
    0xE436EB7A, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr WmGuid SubtypeRgb555{
    0xE436EB7C, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr WmGuid SubtypeRgb24{
    0xE436EB7D, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr WmGuid SubtypeRgb32{
    0xE436EB7E, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
}  // namespace WmGuids

inline constexpr std::uint32_t kWmtVersion8 = 0x00080000;  // WMT_VER_8_0
inline constexpr std::uint32_t kWmtVersion9 = 0x00090000;  // WMT_VER_9_0

// HRESULT-style results: 0 success, below 0 failure.
namespace WmResult {
inline constexpr std::int32_t Ok = 0;
inline constexpr std::int32_t NotImplemented = static_cast<std::int32_t>(0x80004001);
inline constexpr std::int32_t NoInterface = static_cast<std::int32_t>(0x80004002);
inline constexpr std::int32_t Fail = static_cast<std::int32_t>(0x80004005);
inline constexpr std::int32_t ClassNotRegistered = static_cast<std::int32_t>(0x80040154);
inline constexpr std::int32_t PathNotFound = static_cast<std::int32_t>(0x80070003);
inline constexpr std::int32_t OutOfMemory = static_cast<std::int32_t>(0x8007000E);
inline constexpr std::int32_t WriteFault = static_cast<std::int32_t>(0x8007001D);
inline constexpr std::int32_t InvalidArg = static_cast<std::int32_t>(0x80070057);
inline constexpr std::int32_t Unexpected = static_cast<std::int32_t>(0x8000FFFF);
}  // namespace WmResult

inline constexpr std::uint32_t kWmBiRgb = 0;  // BI_RGB

// BITMAPINFOHEADER. A positive height means rows bottom-up.
struct WmBitmapInfoHeader {
  std::uint32_t Size = 40;
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  std::uint16_t Planes = 1;
  std::uint16_t BitCount = 0;
  std::uint32_t Compression = kWmBiRgb;
  std::uint32_t SizeImage = 0;
  std::int32_t XPelsPerMeter = 0;
  std::int32_t YPelsPerMeter = 0;
  std::uint32_t ClrUsed = 0;
  std::uint32_t ClrImportant = 0;
};
static_assert(sizeof(WmBitmapInfoHeader) == 40);

struct WmRect {
  std::int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
};

// WMVIDEOINFOHEADER (88 bytes).
struct WmVideoInfoHeader {
  WmRect Source;                     // rcSource
  WmRect Target;                     // rcTarget
  std::uint32_t BitRate = 0;         // dwBitRate
  std::uint32_t BitErrorRate = 0;    // dwBitErrorRate
  std::int64_t AvgTimePerFrame = 0;  // 100-ns units
  WmBitmapInfoHeader BmiHeader;
};
static_assert(sizeof(WmVideoInfoHeader) == 88);

// WM_MEDIA_TYPE. `Format` points at FormatBytes bytes of the format block
// (a WmVideoInfoHeader for FormatVideoInfo); it is copied by SetMediaType.
struct WmMediaType {
  WmGuid MajorType;
  WmGuid SubType;
  bool FixedSizeSamples = false;
  bool TemporalCompression = false;
  std::uint32_t SampleSize = 0;
  WmGuid FormatType;
  void* Unknown = nullptr;  // pUnk, unused
  std::uint32_t FormatBytes = 0;
  const void* Format = nullptr;
};

// IWMMediaProps / IWMInputMediaProps of one writer input.
class WmMediaProps {
 public:
  virtual ~WmMediaProps() = default;
  virtual std::int32_t GetType(WmGuid* majorType) const = 0;
  virtual std::int32_t SetMediaType(const WmMediaType& type) = 0;
};

// INSSBuffer: one sample's bytes.
class WmBuffer {
 public:
  virtual ~WmBuffer() = default;
  virtual std::int32_t GetBufferAndLength(std::uint8_t** buffer, std::uint32_t* length) = 0;
};

// IWMProfile: what the writer is to produce.
class WmProfile {
 public:
  virtual ~WmProfile() = default;
  virtual std::int32_t GetStreamCount(std::uint32_t* count) const = 0;
};

// IWMProfileManager2: the system profile version the manager loads from.
class WmProfileManager2 {
 public:
  virtual ~WmProfileManager2() = default;
  virtual std::int32_t SetSystemProfileVersion(std::uint32_t version) = 0;
  virtual std::int32_t GetSystemProfileVersion(std::uint32_t* version) const = 0;
};

// IWMProfileManager.
class WmProfileManager {
 public:
  virtual ~WmProfileManager() = default;
  // IidProfileManager2 gives the manager's second interface, which lives as
  // long as the manager (it is not owned by the caller); any other
  // identifier gives NoInterface.
  virtual std::int32_t QueryInterface(const WmGuid& iid, WmProfileManager2** manager2) = 0;
  // A system profile of the present system profile version.
  virtual std::int32_t LoadProfileByID(const WmGuid& id, std::unique_ptr<WmProfile>* profile) = 0;
};

// IWMWriter.
class WmWriter {
 public:
  virtual ~WmWriter() = default;
  virtual std::int32_t SetProfile(const WmProfile& profile) = 0;
  // The output file, UTF-16 without the terminator; bytes of the name that
  // are not UTF-8 are carried as WidePath.h describes.
  virtual std::int32_t SetOutputFilename(const std::u16string& path) = 0;
  virtual std::int32_t GetInputCount(std::uint32_t* count) = 0;
  virtual std::int32_t GetInputProps(std::uint32_t input, std::unique_ptr<WmMediaProps>* props) = 0;
  virtual std::int32_t SetInputProps(std::uint32_t input, const WmMediaProps& props) = 0;
  // Opens the output file and the encoders of the inputs.
  virtual std::int32_t BeginWriting() = 0;
  // A sample of at least `bytes` bytes for the next WriteSample.
  virtual std::int32_t AllocateSample(std::uint32_t bytes, std::shared_ptr<WmBuffer>* sample) = 0;
  // Compresses and writes `sample` for `input` at `time` (100-ns units).
  virtual std::int32_t WriteSample(std::uint32_t input, std::uint64_t time, std::uint32_t flags,
                                   const std::shared_ptr<WmBuffer>& sample) = 0;
  // Writes what is still held and finishes the file.
  virtual std::int32_t EndWriting() = 0;
};

class WmFormatLibrary {
 public:
  virtual ~WmFormatLibrary() = default;
  // WMCreateProfileManager.
  virtual std::int32_t CreateProfileManager(std::unique_ptr<WmProfileManager>* manager) = 0;
  // WMCreateWriter; this program passes no certificate object.
  virtual std::int32_t CreateWriter(void* certificate, std::unique_ptr<WmWriter>* writer) = 0;
};

// The library over FFmpeg (platform/media; link framory_media).
std::unique_ptr<WmFormatLibrary> CreateWmFormatLibrary();

}  // namespace framory
