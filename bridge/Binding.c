/* The binding between the stubs and QuickTime.qts: the dispatch table, the
 * module handle and the count of initialisations, and the four routines that
 * change them (InitializeQTML, TerminateQTML, LazyBind, Rebind).
 *
 * Three states: unbound and fresh (hook LazyBind, entries UnboundEntry,
 * count 0), initialised (no hook, entries from QuickTime.qts, count >= 1) and
 * unbound after use (hook Rebind, entries UnboundEntry, count 0). Only
 * InitializeQTML and TerminateQTML change the count and the table under the
 * per-process lock; the stubs read the table without a lock, which is why
 * the program makes its QuickTime calls from one thread. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <link.h>
#include <stddef.h>
#include <string.h>

#include "bridge/CinelinkInternal.h"
#include "bridge/QtSelectors.h"

static const char kQuickTimeLibraryName[] = "QuickTime.qts";

QtDispatchTableRec QtDispatchTable = {LazyBind, (void*)UnboundEntry, (void*)UnboundEntry,
                                      (void*)UnboundEntry};
void* QtmlModule = NULL;
int32_t QtmlInitCount = 0;
/* Full path of the module last held in QtmlModule, for Rebind. */
static char QtmlModulePath[CINELINK_PATH_CAPACITY];

/* The full path `module` was loaded from, or "" when it cannot be read. */
static void ModulePath(void* module, char* out, size_t capacity) {
  struct link_map* map = NULL;
  out[0] = '\0';
  if (dlinfo(module, RTLD_DI_LINKMAP, &map) == 0 && map != NULL && map->l_name != NULL &&
      strlen(map->l_name) < capacity) {
    strcpy(out, map->l_name);
  }
}

static void Unbind(void (*hook)(void)) {
  QtDispatchTable.bindHook = hook;
  QtDispatchTable.dispatcher = (void*)UnboundEntry;
  QtDispatchTable.callComponent = (void*)UnboundEntry;
  QtDispatchTable.callComponentWithStorage = (void*)UnboundEntry;
}

/* Resolves the three entry points of `module`. All three or nothing: the
 * table is only changed when every one was found. */
static int ResolveEntries(void* module) {
  void* withStorage = dlsym(module, "_CallComponentFunctionWithStorage");
  if (withStorage == NULL) return 0;
  void* component = dlsym(module, "_CallComponent");
  if (component == NULL) return 0;
  void* dispatcher = dlsym(module, "theQuickTimeDispatcher");
  if (dispatcher == NULL) return 0;
  QtDispatchTable.callComponentWithStorage = withStorage;
  QtDispatchTable.callComponent = component;
  QtDispatchTable.dispatcher = dispatcher;
  return 1;
}

static void (*const kRebindHook)(void) = (void (*)(void))Rebind;

CINELINK_API OSErr InitializeQTML(int32_t flag) {
  const int lock = CinelinkTakeLock();
  OSErr result = kQtmlNoErr;
  if (QtmlInitCount > 0) {
    ++QtmlInitCount;
  } else {
    QtmlModule = LoadQuickTimeLibrary(kQuickTimeLibraryName);
    if (QtmlModule == NULL) {
      result = kQtmlLoadFailed;
    } else {
      ModulePath(QtmlModule, QtmlModulePath, sizeof QtmlModulePath);
      if (!ResolveEntries(QtmlModule)) {
        result = kQtmlEntryMissing;
      } else {
        QtDispatchTable.bindHook = NULL;
        result =
            CinelinkCallDispatcher(QtDispatchTable.dispatcher, QT_SELECTOR_InitializeQTML, flag);
        if (result == kQtmlNoErr) ++QtmlInitCount;
      }
    }
    if (result != kQtmlNoErr) {
      if (QtmlModule != NULL) dlclose(QtmlModule);
      QtmlModule = NULL;
      Unbind(kRebindHook);
      QtmlInitCount = 0;
    }
  }
  CinelinkReleaseLock(lock);
  return result;
}

CINELINK_API void TerminateQTML(void) {
  const int lock = CinelinkTakeLock();
  if (QtmlInitCount <= 0) {
    QtmlInitCount = 0;
  } else if (--QtmlInitCount == 0) {
    CinelinkCallDispatcher(QtDispatchTable.dispatcher, QT_SELECTOR_TerminateQTML, 0);
    Unbind(kRebindHook);
    /* The handle is kept so that Rebind can find the library again while
     * something else still holds it loaded. */
    if (QtmlModule != NULL) dlclose(QtmlModule);
  }
  CinelinkReleaseLock(lock);
}

void LazyBind(void) {
  void* loaded = NULL;
  void* module = QtmlModule;
  if (module == NULL) {
    loaded = LoadQuickTimeLibrary(kQuickTimeLibraryName);
    if (loaded == NULL) return;
    module = loaded;
  }
  if (!ResolveEntries(module)) return;
  QtDispatchTable.bindHook = NULL;
  if (loaded == NULL) return;
  /* No reference of its own: the library is freed again, and the entries
   * are kept only while some other component holds it loaded. Entries into
   * a library that went away would crash the next call, so then the
   * exports stay unbound and the next call tries again. */
  char path[CINELINK_PATH_CAPACITY];
  ModulePath(loaded, path, sizeof path);
  dlclose(loaded);
  QtmlModule = NULL;
  void* still = path[0] != '\0' ? dlopen(path, RTLD_LAZY | RTLD_NOLOAD) : NULL;
  if (still != NULL) {
    dlclose(still);
  } else {
    Unbind(LazyBind);
  }
}

OSErr Rebind(void) {
  if (QtmlModule == NULL || QtmlModulePath[0] == '\0') return kQtmlEntryMissing;
  /* Only a library that is still loaded may be used: its handle here may
   * have been closed, so it is looked up again by its path without loading. */
  void* still = dlopen(QtmlModulePath, RTLD_LAZY | RTLD_NOLOAD);
  if (still == NULL) return kQtmlEntryMissing;
  const int resolved = ResolveEntries(still);
  dlclose(still);
  if (!resolved) return kQtmlEntryMissing;
  QtDispatchTable.bindHook = NULL;
  return kQtmlNoErr;
}
