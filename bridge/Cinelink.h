/* The QuickTime routines the program reaches through the Cinelink library,
 * with the types of their published argument lists.
 *
 * Cinelink holds no QuickTime code: every routine but InitializeQTML and
 * TerminateQTML is a dispatch stub that hands the caller's arguments, as they
 * stand, to the runtime library "QuickTime.qts" with the routine's selector.
 * The runtime this project ships includes this header too, so both sides
 * agree on every structure below.
 *
 * QuickTime's "long" is 32 bits wide, so every such argument is an int32_t
 * here; handles are pointers to a master pointer; a Pascal string (Str255)
 * is a length byte followed by up to 255 characters.
 */
#ifndef FRAMORY_BRIDGE_CINELINK_H
#define FRAMORY_BRIDGE_CINELINK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(CINELINK_BUILDING)
#define CINELINK_API __attribute__((visibility("default")))
#else
#define CINELINK_API
#endif

typedef int16_t OSErr;
typedef uint32_t OSType;
typedef int32_t Fixed;     /* 16.16 fixed point */
typedef int32_t TimeValue; /* time in units of a time scale */
typedef int32_t TimeScale; /* units per second */
typedef int32_t Size;
typedef uint32_t CodecQ;
typedef uint32_t CodecType;
typedef uint32_t GWorldFlags;
typedef int16_t ScriptCode;
typedef char* Ptr;
typedef char** Handle;
typedef unsigned char Str255[256];
typedef const unsigned char* ConstStr255Param;

/* Result codes of the bridge itself. */
enum {
  kQtmlNoErr = 0,
  kQtmlLoadFailed = -2093,   /* QuickTime.qts could not be loaded */
  kQtmlEntryMissing = -2094, /* one of its three entry points is missing */
  kQtmlUnbound = -2095       /* a routine was called while nothing is bound */
};

/* A QuickDraw rectangle. */
typedef struct Rect {
  int16_t top;
  int16_t left;
  int16_t bottom;
  int16_t right;
} Rect;

/* Pixel formats of a PixMap. */
enum { kQtPixelFormat32BGRX = 0x42475258 /* 'BGRX': blue, green, red, unused byte */ };

/* The pixels of a graphics world: rows of rowBytes bytes from baseAddr, top
 * row first, covering bounds. */
typedef struct PixMap {
  Ptr baseAddr;
  int32_t rowBytes;
  Rect bounds;
  int16_t pixelSize;
  OSType pixelFormat;
} PixMap, *PixMapPtr, **PixMapHandle;

typedef struct GDevice {
  int16_t type;
  PixMapHandle pixMap;
} GDevice, *GDPtr, **GDHandle;

typedef struct CGrafPort {
  int16_t device;
  PixMapHandle portPixMap;
  Rect portRect;
} CGrafPort, *CGrafPtr, *GWorldPtr;

typedef void** CTabHandle;

/* What NewGWorldFromHBITMAP wraps: a 32-bit top-down bitmap that the caller
 * owns and keeps alive, and in place, for the life of the graphics world. */
typedef struct QtBitmap {
  int32_t width;
  int32_t height;
  int32_t rowBytes;
  int16_t bitsPerPixel; /* 32 */
  void* pixels;
} QtBitmap;

/* A file named by a full path held as a Pascal string. */
typedef struct FSSpec {
  int16_t vRefNum;
  int32_t parID;
  Str255 name;
} FSSpec;

/* The description of a compressed image, laid out as the fields of a video
 * sample description (held in native byte order in memory). */
typedef struct ImageDescription {
  int32_t idSize;
  CodecType cType;
  int32_t resvd1;
  int16_t resvd2;
  int16_t dataRefIndex;
  int16_t version;
  int16_t revisionLevel;
  OSType vendor;
  CodecQ temporalQuality;
  CodecQ spatialQuality;
  int16_t width;
  int16_t height;
  Fixed hRes;
  Fixed vRes;
  int32_t dataSize;
  int16_t frameCount;
  unsigned char name[32];
  int16_t depth;
  int16_t clutID;
} ImageDescription, *ImageDescriptionPtr, **ImageDescriptionHandle;

typedef Handle SampleDescriptionHandle;
typedef struct MovieRecord* Movie;
typedef struct TrackRecord* Track;
typedef struct MediaRecord* Media;
typedef void* CompressorComponent;

/* QuickTime constants the program uses. */
enum {
  kQtCodecNormalQuality = 0x200,
  kQtMediaSampleNotSync = 0x1,
  kQtMovieInDataForkResID = -1,
  kQtSmCurrentScript = -2
};
#define kQtCreateMovieFileDeleteCurFile ((int32_t)0x80000000)
#define kQtCreateMovieFileDontCreateResFile ((int32_t)0x10000000)

/* The 28 exports. */
CINELINK_API OSErr AddMediaSample(Media theMedia, Handle dataIn, int32_t inOffset, uint32_t size,
                                  TimeValue durationPerSample,
                                  SampleDescriptionHandle sampleDescriptionH,
                                  int32_t numberOfSamples, int16_t sampleFlags,
                                  TimeValue* sampleTime);
CINELINK_API OSErr AddMovieResource(Movie theMovie, int16_t resRefNum, int16_t* resId,
                                    ConstStr255Param resName);
CINELINK_API OSErr BeginMediaEdits(Media theMedia);
CINELINK_API OSErr CloseMovieFile(int16_t resRefNum);
CINELINK_API OSErr CompressImage(PixMapHandle src, const Rect* srcRect, CodecQ quality,
                                 CodecType cType, ImageDescriptionHandle desc, Ptr data);
CINELINK_API OSErr CreateMovieFile(const FSSpec* fileSpec, OSType creator, ScriptCode scriptTag,
                                   int32_t createMovieFileFlags, int16_t* resRefNum,
                                   Movie* newMovie);
CINELINK_API void DisposeGWorld(GWorldPtr offscreenGWorld);
CINELINK_API void DisposeHandle(Handle h);
CINELINK_API void DisposeMovie(Movie theMovie);
CINELINK_API OSErr EndMediaEdits(Media theMedia);
CINELINK_API OSErr EnterMovies(void);
CINELINK_API void ExitMovies(void);
CINELINK_API OSErr FSMakeFSSpec(int16_t vRefNum, int32_t dirID, ConstStr255Param fileName,
                                FSSpec* fileSpec);
CINELINK_API Fixed FixRatio(int16_t numer, int16_t denom);
CINELINK_API void GetGWorld(CGrafPtr* port, GDHandle* gdh);
CINELINK_API OSErr GetMaxCompressionSize(PixMapHandle src, const Rect* srcRect, int16_t colorDepth,
                                         CodecQ quality, CodecType cType, CompressorComponent codec,
                                         int32_t* size);
CINELINK_API TimeValue GetMediaDuration(Media theMedia);
CINELINK_API void HLock(Handle h);
CINELINK_API OSErr InitializeQTML(int32_t flag);
CINELINK_API OSErr InsertMediaIntoTrack(Track theTrack, TimeValue trackStart, TimeValue mediaTime,
                                        TimeValue mediaDuration, Fixed mediaRate);
CINELINK_API void MoveHHi(Handle h);
CINELINK_API OSErr NewGWorldFromHBITMAP(GWorldPtr* offscreenGWorld, CTabHandle cTable,
                                        GDHandle aGDevice, GWorldFlags flags, void* newHBITMAP,
                                        void* newHDC);
CINELINK_API Handle NewHandle(Size byteCount);
CINELINK_API Track NewMovieTrack(Movie theMovie, Fixed width, Fixed height, int16_t trackVolume);
CINELINK_API Media NewTrackMedia(Track theTrack, OSType mediaType, TimeScale timeScale,
                                 Handle dataRef, OSType dataRefType);
CINELINK_API void SetGWorld(CGrafPtr port, GDHandle gdh);
CINELINK_API void TerminateQTML(void);
CINELINK_API void c2pstrcpy(Str255 dst, const char* src);

#ifdef __cplusplus
}
#endif

#endif
