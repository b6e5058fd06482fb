/* The routine selectors of QuickTime's central dispatcher, one line per
 * routine forwarded by a Cinelink stub. Both the stubs and the runtime's own
 * dispatcher are generated from this list, so it holds preprocessor lines
 * only and can be included from assembly. */
#ifndef FRAMORY_BRIDGE_QTSELECTORS_H
#define FRAMORY_BRIDGE_QTSELECTORS_H

#define QT_SELECTOR_InitializeQTML 0x001D0008
#define QT_SELECTOR_TerminateQTML 0x001D0009

#define QT_FORWARDED_ROUTINES(X)       \
  X(AddMediaSample, 0x0002007C)        \
  X(AddMovieResource, 0x000200D7)      \
  X(BeginMediaEdits, 0x00020072)       \
  X(CloseMovieFile, 0x000200D5)        \
  X(CompressImage, 0x00030006)         \
  X(CreateMovieFile, 0x00020191)       \
  X(DisposeGWorld, 0x001C0005)         \
  X(DisposeHandle, 0x00150032)         \
  X(DisposeMovie, 0x00020023)          \
  X(EndMediaEdits, 0x00020073)         \
  X(EnterMovies, 0x00020001)           \
  X(ExitMovies, 0x00020002)            \
  X(FSMakeFSSpec, 0x000F00E2)          \
  X(FixRatio, 0x00100001)              \
  X(GetGWorld, 0x001C0006)             \
  X(GetMaxCompressionSize, 0x00030004) \
  X(GetMediaDuration, 0x0002006A)      \
  X(HLock, 0x00150019)                 \
  X(InsertMediaIntoTrack, 0x00020183)  \
  X(MoveHHi, 0x0015002E)               \
  X(NewGWorldFromHBITMAP, 0x00170001)  \
  X(NewHandle, 0x00150008)             \
  X(NewMovieTrack, 0x00020188)         \
  X(NewTrackMedia, 0x0002018E)         \
  X(SetGWorld, 0x001C0007)             \
  X(c2pstrcpy, 0x00280019)

#endif
