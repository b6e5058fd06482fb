// Movie files, movies, tracks, media and their edits.
//
// A movie file is written as QuickTime lays out a movie kept in the data
// fork: 'ftyp' ('qt  '), a 'wide' placeholder, the 'mdat' atom that grows
// with every sample added, and, when AddMovieResource is called, the 'moov'
// atom after the data. A file closed without a movie atom holds its data but
// no movie, as a QuickTime file that was never finished does.
//
// A full disk or a file-size limit must not leave a movie without its movie
// atom. Before a sample's data is written, the disk space for it and for the
// movie atom of every sample so far is set aside beyond the file's end
// (fallocate, keeping the size; a free-space check where the file system
// cannot set space aside), and the file-size limit is checked against the
// same end. A sample that does not fit is refused before a byte of it is
// written (errno says why), so the movie can always be written with every
// sample it holds. What was set aside past the end is given back when the
// movie is written or the file closed.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <limits>
#include <map>

#include "platform/quicktime/MovieAtomWriter.h"
#include "platform/quicktime/MovieRecords.h"
#include "platform/quicktime/QtRuntime.h"

using qtrt::FourCC;

namespace {

bool gInitialized = false;
int gMoviesEntered = 0;

std::map<std::int16_t, qtrt::MovieFile>& OpenFiles() {
  static std::map<std::int16_t, qtrt::MovieFile> files;
  return files;
}

qtrt::MovieFile* FileOf(std::int16_t refNum) {
  auto it = OpenFiles().find(refNum);
  return it != OpenFiles().end() ? &it->second : nullptr;
}

OSErr ErrorOf(int error) {
  switch (error) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return qtrt::kDiskFull;
    case ENOENT:
      return qtrt::kDirNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
      return qtrt::kPermission;
    case ENAMETOOLONG:
    case EISDIR:
      return qtrt::kBadName;
    case EEXIST:
      return qtrt::kDuplicateName;
    case ENOMEM:
      return qtrt::kMemFull;
    default:
      return qtrt::kIoErr;
  }
}

// Writes all of [data, data + size) at `offset`; errno is kept on failure.
bool WriteAt(int fd, const void* data, std::size_t size, std::uint64_t offset) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = pwrite(fd, p, size, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = ENOSPC;
      return false;
    }
    p += n;
    size -= static_cast<std::size_t>(n);
    offset += static_cast<std::uint64_t>(n);
  }
  return true;
}

void PutU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

// The most a movie atom of one video track takes: its fixed atoms, each
// sample description, and per sample a duration run, a size and a 64-bit
// offset.
std::uint64_t MovieAtomBound(const MediaRecord& media, std::uint64_t samples) {
  constexpr std::uint64_t kFixed = 2048, kPerDescription = 128, kPerSample = 20;
  return kFixed + kPerDescription * (media.descriptions.size() + 1) + kPerSample * samples;
}

// Sets aside room up to `end` in `file`; false with errno set when there is
// none (or the file-size limit is below it).
bool ReserveUpTo(qtrt::MovieFile& file, std::uint64_t end) {
  rlimit limit;
  if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      end > limit.rlim_cur) {
    errno = EFBIG;
    return false;
  }
  if (end <= file.reservedEnd) return true;
  const std::uint64_t from = std::max(file.reservedEnd, file.dataEnd);
  if (fallocate(file.fd, FALLOC_FL_KEEP_SIZE, static_cast<off_t>(from),
                static_cast<off_t>(end - from)) == 0) {
    file.reservedEnd = end;
    return true;
  }
  if (errno != EOPNOTSUPP && errno != ENOSYS) return false;
  // No reservations here: at least see that the room is free.
  struct statvfs fs;
  if (fstatvfs(file.fd, &fs) == 0 &&
      end - from > static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize) {
    errno = ENOSPC;
    return false;
  }
  return true;
}

// Gives back the room set aside beyond the file's end.
void GiveBackReserve(qtrt::MovieFile& file) {
  if (file.reservedEnd == 0) return;
  struct stat st;
  if (fstat(file.fd, &st) == 0) {
    const int saved = errno;
    if (ftruncate(file.fd, st.st_size) != 0) errno = saved;
  }
  file.reservedEnd = 0;
}

// Seconds since 1904-01-01, the QuickTime epoch.
std::uint32_t MacTimeNow() {
  constexpr std::uint64_t kUnixFromMac = 2082844800ull;
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(std::time(nullptr)) + kUnixFromMac);
}

bool IsMedia(Media m) { return m != nullptr && m->track != nullptr && m->track->media.get() == m; }

}  // namespace

namespace qtrt {
bool Initialized() { return gInitialized; }
bool MoviesEntered() { return gMoviesEntered > 0; }
}  // namespace qtrt

OSErr QtRt_InitializeQTML(int32_t) {
  gInitialized = true;
  return qtrt::kNoErr;
}

void QtRt_TerminateQTML(void) {
  gInitialized = false;
  gMoviesEntered = 0;
}

OSErr QtRt_EnterMovies(void) {
  if (!gInitialized) return qtrt::kNotInitialized;
  ++gMoviesEntered;
  return qtrt::kNoErr;
}

void QtRt_ExitMovies(void) {
  if (gMoviesEntered > 0) --gMoviesEntered;
}

OSErr QtRt_FSMakeFSSpec(int16_t vRefNum, int32_t dirID, ConstStr255Param fileName,
                        FSSpec* fileSpec) {
  if (fileSpec == nullptr || fileName == nullptr) return qtrt::kParamErr;
  std::memset(fileSpec, 0, sizeof *fileSpec);
  fileSpec->vRefNum = vRefNum;
  fileSpec->parID = dirID;
  std::memcpy(fileSpec->name, fileName, std::size_t{fileName[0]} + 1);
  if (fileName[0] == 0) return qtrt::kBadName;
  // The FSSpec is made either way; the result says whether the file exists.
  char path[256];
  std::memcpy(path, fileName + 1, fileName[0]);
  path[fileName[0]] = '\0';
  if (std::strlen(path) != fileName[0]) return qtrt::kBadName;
  return access(path, F_OK) == 0 ? qtrt::kNoErr : qtrt::kFileNotFound;
}

OSErr QtRt_CreateMovieFile(const FSSpec* fileSpec, OSType, ScriptCode, int32_t flags,
                           int16_t* resRefNum, Movie* newMovie) {
  if (resRefNum != nullptr) *resRefNum = 0;
  if (newMovie != nullptr) *newMovie = nullptr;
  if (fileSpec == nullptr || resRefNum == nullptr || newMovie == nullptr) return qtrt::kParamErr;
  if (!qtrt::MoviesEntered()) return qtrt::kNotInitialized;
  const std::size_t length = fileSpec->name[0];
  char path[256];
  std::memcpy(path, fileSpec->name + 1, length);
  path[length] = '\0';
  if (length == 0 || std::strlen(path) != length) return qtrt::kBadName;

  std::int16_t refNum = 1;
  while (OpenFiles().count(refNum) != 0) {
    if (refNum == std::numeric_limits<std::int16_t>::max()) return qtrt::kIoErr;
    ++refNum;
  }

  // A new file is made; an existing one is replaced only when asked, and
  // only if it is a regular file (never a device, pipe or folder).
  const bool replace = (flags & kQtCreateMovieFileDeleteCurFile) != 0;
  bool created = true;
  int fd = open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0 && errno == EEXIST && replace) {
    created = false;
    fd = open(path, O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    struct stat st;
    if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
      close(fd);
      return qtrt::kPermission;
    }
    if (fd >= 0 && (fcntl(fd, F_SETFL, 0) != 0 || ftruncate(fd, 0) != 0)) {
      const OSErr error = ErrorOf(errno);
      close(fd);
      return error;
    }
  }
  if (fd < 0) return ErrorOf(errno);

  // ftyp 'qt  ', a 'wide' atom kept free for a 64-bit data size, then the
  // 'mdat' header whose size is set when the movie is written.
  std::uint8_t header[36] = {};
  PutU32(header, 20);
  PutU32(header + 4, FourCC("ftyp"));
  PutU32(header + 8, FourCC("qt  "));
  PutU32(header + 12, 0x20050300);
  PutU32(header + 16, FourCC("qt  "));
  PutU32(header + 20, 8);
  PutU32(header + 24, FourCC("wide"));
  PutU32(header + 28, 8);
  PutU32(header + 32, FourCC("mdat"));
  if (!WriteAt(fd, header, sizeof header, 0)) {
    const OSErr error = ErrorOf(errno);
    close(fd);
    if (created) unlink(path);
    return error;
  }
  qtrt::MovieFile file;
  file.fd = fd;
  file.wideOffset = 20;
  file.dataStart = sizeof header;
  file.dataEnd = sizeof header;
  OpenFiles()[refNum] = file;

  auto* movie = new (std::nothrow) MovieRecord;
  if (movie == nullptr) {
    close(fd);
    OpenFiles().erase(refNum);
    return qtrt::kMemFull;
  }
  movie->fileRefNum = refNum;
  movie->createdAt = MacTimeNow();
  *resRefNum = refNum;
  *newMovie = movie;
  return qtrt::kNoErr;
}

OSErr QtRt_CloseMovieFile(int16_t resRefNum) {
  qtrt::MovieFile* file = FileOf(resRefNum);
  if (file == nullptr) return qtrt::kBadRefNum;
  GiveBackReserve(*file);
  const bool closed = close(file->fd) == 0;
  OpenFiles().erase(resRefNum);
  return closed ? qtrt::kNoErr : qtrt::kIoErr;
}

void QtRt_DisposeMovie(Movie theMovie) { delete theMovie; }

Track QtRt_NewMovieTrack(Movie theMovie, Fixed width, Fixed height, int16_t trackVolume) {
  if (theMovie == nullptr || width < 0 || height < 0) return nullptr;
  auto track = std::make_unique<TrackRecord>();
  track->movie = theMovie;
  track->id = static_cast<std::uint32_t>(theMovie->tracks.size() + 1);
  track->width = width;
  track->height = height;
  track->volume = trackVolume;
  theMovie->tracks.push_back(std::move(track));
  return theMovie->tracks.back().get();
}

Media QtRt_NewTrackMedia(Track theTrack, OSType mediaType, TimeScale timeScale, Handle dataRef,
                         OSType) {
  // Video media whose data goes into the movie's own file.
  if (theTrack == nullptr || theTrack->media != nullptr || mediaType != FourCC("vide") ||
      timeScale <= 0 || dataRef != nullptr) {
    return nullptr;
  }
  theTrack->media = std::make_unique<MediaRecord>();
  theTrack->media->track = theTrack;
  theTrack->media->type = mediaType;
  theTrack->media->timeScale = timeScale;
  return theTrack->media.get();
}

OSErr QtRt_BeginMediaEdits(Media theMedia) {
  if (!IsMedia(theMedia)) return qtrt::kInvalidMedia;
  theMedia->editing = true;
  return qtrt::kNoErr;
}

OSErr QtRt_EndMediaEdits(Media theMedia) {
  if (!IsMedia(theMedia)) return qtrt::kInvalidMedia;
  theMedia->editing = false;
  return qtrt::kNoErr;
}

TimeValue QtRt_GetMediaDuration(Media theMedia) {
  if (!IsMedia(theMedia)) return 0;
  return static_cast<TimeValue>(
      std::min<std::int64_t>(theMedia->duration, std::numeric_limits<TimeValue>::max()));
}

OSErr QtRt_AddMediaSample(Media theMedia, Handle dataIn, int32_t inOffset, uint32_t size,
                          TimeValue durationPerSample, SampleDescriptionHandle desc,
                          int32_t numberOfSamples, int16_t sampleFlags, TimeValue* sampleTime) {
  if (!IsMedia(theMedia)) return qtrt::kInvalidMedia;
  if (dataIn == nullptr || *dataIn == nullptr || desc == nullptr || *desc == nullptr ||
      inOffset < 0 || size == 0 || numberOfSamples <= 0 || durationPerSample <= 0 ||
      size % static_cast<std::uint32_t>(numberOfSamples) != 0) {
    return qtrt::kParamErr;
  }
  const Size available = qtrt::HandleBytes(dataIn);
  if (available < 0 || std::int64_t{inOffset} + size > available) return qtrt::kParamErr;
  const Size descBytes = qtrt::HandleBytes(desc);
  const auto* image = reinterpret_cast<const ImageDescription*>(*desc);
  if (descBytes < static_cast<Size>(sizeof(ImageDescription)) ||
      image->idSize < static_cast<int32_t>(sizeof(ImageDescription))) {
    return qtrt::kParamErr;
  }
  qtrt::MovieFile* file = FileOf(theMedia->track->movie->fileRefNum);
  if (file == nullptr) return qtrt::kBadRefNum;

  std::vector<std::uint8_t> entry = qtrt::MovieAtomWriter::ImageSampleEntry(*image);
  std::uint32_t descIndex = 0;
  for (std::size_t i = 0; i < theMedia->descriptions.size() && descIndex == 0; ++i) {
    if (theMedia->descriptions[i] == entry) descIndex = static_cast<std::uint32_t>(i + 1);
  }

  const std::uint64_t samplesAfter =
      theMedia->samples.size() + static_cast<std::uint64_t>(numberOfSamples);
  if (!ReserveUpTo(*file, file->dataEnd + size + MovieAtomBound(*theMedia, samplesAfter))) {
    return ErrorOf(errno);
  }
  if (!WriteAt(file->fd, *dataIn + inOffset, size, file->dataEnd)) return ErrorOf(errno);

  if (descIndex == 0) {
    theMedia->descriptions.push_back(std::move(entry));
    descIndex = static_cast<std::uint32_t>(theMedia->descriptions.size());
  }
  if (sampleTime != nullptr) {
    *sampleTime = static_cast<TimeValue>(
        std::min<std::int64_t>(theMedia->duration, std::numeric_limits<TimeValue>::max()));
  }
  const std::uint32_t each = size / static_cast<std::uint32_t>(numberOfSamples);
  for (int32_t i = 0; i < numberOfSamples; ++i) {
    theMedia->samples.push_back({file->dataEnd, each, durationPerSample, descIndex,
                                 (sampleFlags & kQtMediaSampleNotSync) == 0});
    file->dataEnd += each;
    theMedia->duration += durationPerSample;
  }
  return qtrt::kNoErr;
}

OSErr QtRt_InsertMediaIntoTrack(Track theTrack, TimeValue trackStart, TimeValue mediaTime,
                                TimeValue mediaDuration, Fixed mediaRate) {
  if (theTrack == nullptr || theTrack->movie == nullptr) return qtrt::kInvalidTrack;
  MediaRecord* media = theTrack->media.get();
  if (media == nullptr) return qtrt::kInvalidMedia;
  if (trackStart < 0 || mediaTime < 0 || mediaDuration < 0 || mediaRate <= 0 ||
      std::int64_t{mediaTime} + mediaDuration > media->duration) {
    return qtrt::kBadEdit;
  }
  if (mediaDuration == 0) return qtrt::kNoErr;
  std::int64_t trackEnd = 0;
  for (const qtrt::Edit& edit : theTrack->edits) trackEnd += edit.movieDuration;
  // Only appending is supported: a start inside the track is refused, one
  // after its end leaves an empty edit in between.
  if (trackStart < trackEnd) return qtrt::kBadEdit;
  if (trackStart > trackEnd) theTrack->edits.push_back({trackStart - trackEnd, -1, 0x10000});
  const std::int64_t movieScale = theTrack->movie->timeScale;
  // The media's time at its own rate, in the movie's time scale, rounded.
  const std::int64_t scaled = (std::int64_t{mediaDuration} * movieScale * 0x10000 +
                               std::int64_t{media->timeScale} * mediaRate / 2) /
                              (std::int64_t{media->timeScale} * mediaRate);
  theTrack->edits.push_back({scaled, mediaTime, mediaRate});
  return qtrt::kNoErr;
}

OSErr QtRt_AddMovieResource(Movie theMovie, int16_t resRefNum, int16_t* resId, ConstStr255Param) {
  if (theMovie == nullptr) return qtrt::kInvalidMovie;
  qtrt::MovieFile* file = FileOf(resRefNum);
  if (file == nullptr) return qtrt::kBadRefNum;
  // There are no resource forks: the movie always goes into the data fork.
  if (resId != nullptr) *resId = kQtMovieInDataForkResID;

  const std::vector<std::uint8_t> moov = qtrt::MovieAtomWriter::MovieAtom(*theMovie);
  if (!WriteAt(file->fd, moov.data(), moov.size(), file->dataEnd)) return ErrorOf(errno);
  // Bytes of a failed sample write beyond the data are cut off, and the
  // room set aside beyond the movie is given back.
  if (ftruncate(file->fd, static_cast<off_t>(file->dataEnd + moov.size())) != 0) {
    return ErrorOf(errno);
  }
  file->reservedEnd = 0;

  const std::uint64_t mdatSize = file->dataEnd - file->dataStart + 8;
  std::uint8_t header[16] = {};
  if (mdatSize <= 0xFFFFFFFFull) {
    PutU32(header, static_cast<std::uint32_t>(mdatSize));
    PutU32(header + 4, FourCC("mdat"));
    if (!WriteAt(file->fd, header, 8, file->dataStart - 8)) return ErrorOf(errno);
  } else {
    // The 'wide' atom and the old header become one 64-bit 'mdat' header.
    PutU32(header, 1);
    PutU32(header + 4, FourCC("mdat"));
    const std::uint64_t wideSize = mdatSize + 8;
    PutU32(header + 8, static_cast<std::uint32_t>(wideSize >> 32));
    PutU32(header + 12, static_cast<std::uint32_t>(wideSize));
    if (!WriteAt(file->fd, header, 16, file->wideOffset)) return ErrorOf(errno);
  }
  return qtrt::kNoErr;
}

// Component calls are not served by this runtime.
extern "C" __attribute__((visibility("default"))) int32_t _CallComponent(void) {
  return static_cast<int32_t>(0x80008002);  // badComponentSelector
}
extern "C" __attribute__((visibility("default"))) int32_t _CallComponentFunctionWithStorage(void) {
  return static_cast<int32_t>(0x80008002);
}
