/* State and helpers shared by the parts of the Cinelink library. Nothing
 * here is exported: the library is built with hidden visibility and only the
 * 28 QuickTime routines are marked for export. */
#ifndef FRAMORY_BRIDGE_CINELINKINTERNAL_H
#define FRAMORY_BRIDGE_CINELINKINTERNAL_H

#include <stddef.h>
#include <stdint.h>

#include "bridge/Cinelink.h"

#ifdef __cplusplus
extern "C" {
#endif

#define CINELINK_HIDDEN __attribute__((visibility("hidden")))

/* Paths are built in buffers of this many characters, terminator included. */
#define CINELINK_PATH_CAPACITY 260

/* The four code addresses the stubs read, in this order. The stubs in
 * assembly know the offsets: 0 hook, 8 dispatcher. */
typedef struct QtDispatchTableRec {
  void (*bindHook)(void);
  void* dispatcher;               /* "theQuickTimeDispatcher" */
  void* callComponent;            /* "_CallComponent" */
  void* callComponentWithStorage; /* "_CallComponentFunctionWithStorage" */
} QtDispatchTableRec;

extern CINELINK_HIDDEN QtDispatchTableRec QtDispatchTable;
extern CINELINK_HIDDEN void* QtmlModule;
extern CINELINK_HIDDEN int32_t QtmlInitCount;

/* Calls nothing and returns -2095 (-2095 in all of RAX). The three exports
 * that return a pointer get NULL instead, never a wild address. Assembly:
 * it reads the selector the stub left in EAX. */
CINELINK_HIDDEN OSErr UnboundEntry(void);
/* The hooks the stubs run before dispatching. */
CINELINK_HIDDEN void LazyBind(void);
CINELINK_HIDDEN OSErr Rebind(void);

/* Loads "QuickTime.qts" (or `name`) by the search order; NULL when no step
 * found a loadable library. */
CINELINK_HIDDEN void* LoadQuickTimeLibrary(const char* name);
/* folder + separator (unless folder already ends in "\" or "/") + name into
 * out; 0 when it does not fit, else 1. */
CINELINK_HIDDEN int CinelinkJoinFolder(char* out, size_t capacity, const char* folder,
                                       const char* name);
/* Reads value `name` of key `key` from the text-file store at `path` into
 * out; 0 when missing, unreadable or too long. */
CINELINK_HIDDEN int CinelinkReadStoreText(const char* path, const char* key, const char* name,
                                          char* out, size_t capacity);
/* The store file of the machine (0) or of the current user (1). */
CINELINK_HIDDEN int CinelinkStorePath(int currentUser, char* out, size_t capacity);

/* "QTMLInitTermMutex" followed by pid in lower-case hexadecimal. */
CINELINK_HIDDEN void CinelinkLockName(long pid, char* out, size_t capacity);
/* The per-process init/term lock, a file of that name in a folder only the
 * user can write ($XDG_RUNTIME_DIR, else a private folder in the user's
 * cache): a descriptor holding it, or -1 when it could not be taken (the
 * caller goes on without it). */
CINELINK_HIDDEN int CinelinkTakeLock(void);
CINELINK_HIDDEN void CinelinkReleaseLock(int lock);

/* Calls `entry` with `selector` in EAX and `arg` as its one argument. */
CINELINK_HIDDEN OSErr CinelinkCallDispatcher(void* entry, uint32_t selector, int32_t arg);

#ifdef __cplusplus
}
#endif

#endif
