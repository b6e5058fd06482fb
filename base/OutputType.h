// The output-type codes of the settings record: picture series 0–3, AVI
// 10–14, QuickTime 15, WMV files 16–18, the screen encoder 19, MP4 20, WebM
// 21, the live broadcast 30 and the broadcast to a streaming server 31. What each code means (its family, extension, writer, list
// text) is in the writers' table of output formats (writers/OutputFormats.h);
// nothing below the writers needs more than the plain codes.
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
inline constexpr std::int32_t Mp4 = 20;
inline constexpr std::int32_t WebM = 21;
inline constexpr std::int32_t Broadcast = 30;
inline constexpr std::int32_t StreamServer = 31;
}  // namespace OutputTypes

// The first movie code. Whether a code is a movie is the table's to say
// (IsMovieOutputType in writers/OutputFormats.h), not a comparison with this.
inline constexpr std::int32_t FirstMovieOutputType = 10;
inline constexpr std::int32_t DefaultMovieOutputType = OutputTypes::WmvV80_384Video;
inline constexpr std::int32_t ScreenEncoderOutputType = OutputTypes::ScreenEncoder;
inline constexpr std::int32_t BroadcastOutputType = OutputTypes::Broadcast;
inline constexpr std::int32_t QuickTimeOutputType = OutputTypes::QuickTimeMov;

}  // namespace framory
