// The routines of this project's QuickTime runtime ("QuickTime.qts"), one
// for each selector its dispatcher serves, with the argument lists the
// bridge forwards unchanged. The dispatcher (QuickTimeDispatcher.S) jumps to
// them by selector; nothing here is exported.
#pragma once

#include <cstdint>

#include "bridge/Cinelink.h"

#define QTRT_API extern "C" __attribute__((visibility("hidden")))

namespace qtrt {
// Result codes of the runtime.
inline constexpr OSErr kNoErr = 0;
inline constexpr OSErr kDiskFull = -34;
inline constexpr OSErr kIoErr = -36;
inline constexpr OSErr kBadName = -37;
inline constexpr OSErr kFileNotFound = -43;
inline constexpr OSErr kDuplicateName = -48;
inline constexpr OSErr kParamErr = -50;
inline constexpr OSErr kBadRefNum = -51;
inline constexpr OSErr kPermission = -54;
inline constexpr OSErr kMemFull = -108;
inline constexpr OSErr kDirNotFound = -120;
inline constexpr OSErr kInvalidMedia = -2008;
inline constexpr OSErr kInvalidTrack = -2009;
inline constexpr OSErr kInvalidMovie = -2010;
inline constexpr OSErr kBadEdit = -2019;
inline constexpr OSErr kNotInitialized = -2020;
inline constexpr OSErr kCodecErr = -8960;
inline constexpr OSErr kNoCodec = -8961;

inline constexpr OSType FourCC(const char (&s)[5]) {
  return (OSType(std::uint8_t(s[0])) << 24) | (OSType(std::uint8_t(s[1])) << 16) |
         (OSType(std::uint8_t(s[2])) << 8) | OSType(std::uint8_t(s[3]));
}

// Whether InitializeQTML and EnterMovies were called (and not undone).
bool Initialized();
bool MoviesEntered();
// The size of the live handle whose block holds [p, p + 1); -1 when `p` is
// inside no handle. Used to keep the codec inside the caller's buffer.
std::int64_t BytesFromPointerToHandleEnd(const void* p);
// Resizes a handle made by NewHandle; false when memory is short.
bool SetHandleBytes(Handle h, Size bytes);
Size HandleBytes(Handle h);
}  // namespace qtrt

QTRT_API OSErr QtRt_InitializeQTML(int32_t flag);
QTRT_API void QtRt_TerminateQTML(void);
QTRT_API OSErr QtRt_AddMediaSample(Media theMedia, Handle dataIn, int32_t inOffset, uint32_t size,
                                   TimeValue durationPerSample, SampleDescriptionHandle desc,
                                   int32_t numberOfSamples, int16_t sampleFlags,
                                   TimeValue* sampleTime);
QTRT_API OSErr QtRt_AddMovieResource(Movie theMovie, int16_t resRefNum, int16_t* resId,
                                     ConstStr255Param resName);
QTRT_API OSErr QtRt_BeginMediaEdits(Media theMedia);
QTRT_API OSErr QtRt_CloseMovieFile(int16_t resRefNum);
QTRT_API OSErr QtRt_CompressImage(PixMapHandle src, const Rect* srcRect, CodecQ quality,
                                  CodecType cType, ImageDescriptionHandle desc, Ptr data);
QTRT_API OSErr QtRt_CreateMovieFile(const FSSpec* fileSpec, OSType creator, ScriptCode scriptTag,
                                    int32_t createMovieFileFlags, int16_t* resRefNum,
                                    Movie* newMovie);
QTRT_API void QtRt_DisposeGWorld(GWorldPtr offscreenGWorld);
QTRT_API void QtRt_DisposeHandle(Handle h);
QTRT_API void QtRt_DisposeMovie(Movie theMovie);
QTRT_API OSErr QtRt_EndMediaEdits(Media theMedia);
QTRT_API OSErr QtRt_EnterMovies(void);
QTRT_API void QtRt_ExitMovies(void);
QTRT_API OSErr QtRt_FSMakeFSSpec(int16_t vRefNum, int32_t dirID, ConstStr255Param fileName,
                                 FSSpec* fileSpec);
QTRT_API Fixed QtRt_FixRatio(int16_t numer, int16_t denom);
QTRT_API void QtRt_GetGWorld(CGrafPtr* port, GDHandle* gdh);
QTRT_API OSErr QtRt_GetMaxCompressionSize(PixMapHandle src, const Rect* srcRect, int16_t colorDepth,
                                          CodecQ quality, CodecType cType,
                                          CompressorComponent codec, int32_t* size);
QTRT_API TimeValue QtRt_GetMediaDuration(Media theMedia);
QTRT_API void QtRt_HLock(Handle h);
QTRT_API OSErr QtRt_InsertMediaIntoTrack(Track theTrack, TimeValue trackStart, TimeValue mediaTime,
                                         TimeValue mediaDuration, Fixed mediaRate);
QTRT_API void QtRt_MoveHHi(Handle h);
QTRT_API OSErr QtRt_NewGWorldFromHBITMAP(GWorldPtr* offscreenGWorld, CTabHandle cTable,
                                         GDHandle aGDevice, GWorldFlags flags, void* newHBITMAP,
                                         void* newHDC);
QTRT_API Handle QtRt_NewHandle(Size byteCount);
QTRT_API Track QtRt_NewMovieTrack(Movie theMovie, Fixed width, Fixed height, int16_t trackVolume);
QTRT_API Media QtRt_NewTrackMedia(Track theTrack, OSType mediaType, TimeScale timeScale,
                                  Handle dataRef, OSType dataRefType);
QTRT_API void QtRt_SetGWorld(CGrafPtr port, GDHandle gdh);
QTRT_API void QtRt_c2pstrcpy(Str255 dst, const char* src);
