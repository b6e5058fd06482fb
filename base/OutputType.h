// The output-type codes of the settings record and the rules that sort them
// into families: picture series below 10, AVI 10–14, QuickTime 15, WMV files
// 16–18, the screen encoder 19 and the live broadcast 30. Every stage asks
// these predicates instead of comparing ranges of its own.
#pragma once

#include <cstdint>

namespace framory {

namespace OutputTypes {
inline constexpr std::int32_t Bmp = 0;
inline constexpr std::int32_t Jpg = 1;
inline constexpr std::int32_t Pcx = 2;
inline constexpr std::int32_t Png = 3;
inline constexpr std::int32_t AviMpg4 = 10;
inline constexpr std::int32_t AviUncompressed = 11;
inline constexpr std::int32_t AviDivx = 12;
inline constexpr std::int32_t AviWmv3 = 13;
inline constexpr std::int32_t AviXvid = 14;
inline constexpr std::int32_t QuickTimeMov = 15;
inline constexpr std::int32_t WmvV80_384Video = 16;
inline constexpr std::int32_t WmvV80_56Video = 17;
inline constexpr std::int32_t WmvV80_700PALVideo = 18;
inline constexpr std::int32_t ScreenEncoder = 19;
inline constexpr std::int32_t Broadcast = 30;
}  // namespace OutputTypes

inline constexpr std::int32_t FirstMovieOutputType = 10;
inline constexpr std::int32_t DefaultMovieOutputType = OutputTypes::WmvV80_384Video;
inline constexpr std::int32_t ScreenEncoderOutputType = OutputTypes::ScreenEncoder;
inline constexpr std::int32_t BroadcastOutputType = OutputTypes::Broadcast;
inline constexpr std::int32_t QuickTimeOutputType = OutputTypes::QuickTimeMov;

inline constexpr bool IsPictureOutputType(std::int32_t code) { return code < FirstMovieOutputType; }
inline constexpr bool IsAviOutputType(std::int32_t code) {
  return code >= OutputTypes::AviMpg4 && code <= OutputTypes::AviXvid;
}
// The WMV file types written frame by frame (not through the screen encoder).
inline constexpr bool IsWmvFileOutputType(std::int32_t code) {
  return code >= OutputTypes::WmvV80_384Video && code <= OutputTypes::WmvV80_700PALVideo;
}
inline constexpr bool IsEncoderOutputType(std::int32_t code) {
  return code == ScreenEncoderOutputType || code == BroadcastOutputType;
}
// Sound is recorded only with the WMV file types, the screen encoder and the
// broadcast.
inline constexpr bool SoundAllowedFor(std::int32_t code) { return code >= DefaultMovieOutputType; }
// One of the codes the output choices offer.
inline constexpr bool IsKnownOutputType(std::int32_t code) {
  return (code >= OutputTypes::Bmp && code <= OutputTypes::Png) ||
         (code >= FirstMovieOutputType && code <= ScreenEncoderOutputType) ||
         code == BroadcastOutputType;
}

}  // namespace framory
