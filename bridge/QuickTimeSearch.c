/* Finding and loading QuickTime.qts. The search stops at the first load that
 * succeeds:
 *   1. a library of that name already loaded in the process, loaded again by
 *      its full path (one more reference);
 *   2. the running program's folder;
 *   3. the folder in the machine store value "QuickTime.qts folder" under
 *      "Software\Apple Computer, Inc.\QuickTime";
 *   4. the same value in the current user's store;
 *   5. the library install directory: the folder this library was loaded
 *      from (installed, the program's own folder; in the build tree, the
 *      bridge's build folder).
 * Paths are built in 260-character buffers; a path that does not fit skips
 * its step rather than loading a truncated name.
 *
 * The stores are the program's registry text files (a section per key path,
 * "Name=Text" lines with \\, \r and \n escapes). This library may not link
 * the program's code, so it reads that small format itself. */
#define _GNU_SOURCE
#include <ctype.h>
#include <dlfcn.h>
#include <link.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include "bridge/CinelinkInternal.h"

static const char kStoreKey[] = "Software\\Apple Computer, Inc.\\QuickTime";
static const char kStoreValue[] = "QuickTime.qts folder";

/* Longest stored text read, as a 2048-byte query buffer would hold it. */
#define STORE_TEXT_CAPACITY 2048

static void* LoadPath(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }

static void* LoadAlreadyLoaded(const char* name, int* found) {
  *found = 0;
  void* existing = dlopen(name, RTLD_LAZY | RTLD_NOLOAD);
  if (existing == NULL) return NULL;
  struct link_map* map = NULL;
  char path[CINELINK_PATH_CAPACITY];
  int havePath = dlinfo(existing, RTLD_DI_LINKMAP, &map) == 0 && map != NULL &&
                 map->l_name != NULL && map->l_name[0] != '\0' && strlen(map->l_name) < sizeof path;
  if (havePath) strcpy(path, map->l_name);
  dlclose(existing);
  if (!havePath) return NULL;
  *found = 1;
  return LoadPath(path);
}

static void* LoadFromProgramFolder(const char* name) {
  char path[CINELINK_PATH_CAPACITY];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0 || (size_t)n >= sizeof path - 1) return NULL;
  path[n] = '\0';
  char* cut = strrchr(path, '/');
  char* back = strrchr(path, '\\');
  if (back != NULL && (cut == NULL || back > cut)) cut = back;
  if (cut == NULL) return NULL;
  cut[1] = '\0';
  if (strlen(path) + strlen(name) >= sizeof path) return NULL;
  strcat(path, name);
  return LoadPath(path);
}

int CinelinkJoinFolder(char* out, size_t capacity, const char* folder, const char* name) {
  size_t folderLength = strlen(folder);
  int needSeparator =
      folderLength == 0 || (folder[folderLength - 1] != '\\' && folder[folderLength - 1] != '/');
  size_t total = folderLength + (needSeparator ? 1 : 0) + strlen(name);
  if (total >= capacity) return 0;
  memcpy(out, folder, folderLength);
  size_t at = folderLength;
  if (needSeparator) out[at++] = '/';
  strcpy(out + at, name);
  return 1;
}

int CinelinkStorePath(int currentUser, char* out, size_t capacity) {
  int written;
  if (!currentUser) {
    const char* machine = getenv("FRAMORY_MACHINE_REGISTRY");
    if (machine == NULL || machine[0] == '\0') machine = "/etc/framory/registry.ini";
    written = snprintf(out, capacity, "%s", machine);
  } else {
    const char* config = getenv("XDG_CONFIG_HOME");
    if (config != NULL && config[0] != '\0') {
      written = snprintf(out, capacity, "%s/framory/registry.ini", config);
    } else {
      const char* home = getenv("HOME");
      written = snprintf(out, capacity, "%s/.config/framory/registry.ini", home ? home : "");
    }
  }
  return written > 0 && (size_t)written < capacity;
}

/* Removes blanks (and a carriage return at the end) around s[0..*length). */
static const char* Trim(const char* s, size_t* length) {
  size_t b = 0, e = *length;
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  *length = e - b;
  return s + b;
}

static int SameName(const char* a, size_t aLength, const char* b) {
  return aLength == strlen(b) && strncasecmp(a, b, aLength) == 0;
}

/* Undoes the store's escapes of stored[0..length) into out; 0 when the text
 * does not fit. A text ends at its first zero byte. */
static int Unescape(const char* stored, size_t length, char* out, size_t capacity) {
  size_t o = 0;
  for (size_t i = 0; i < length; ++i) {
    char c = stored[i];
    if (c == '\\' && i + 1 < length) {
      char n = stored[i + 1];
      if (n == '\\' || n == 'r' || n == 'n') {
        c = n == '\\' ? '\\' : (n == 'r' ? '\r' : '\n');
        ++i;
      }
    }
    if (o + 1 >= capacity) return 0;
    out[o++] = c;
  }
  out[o] = '\0';
  return 1;
}

int CinelinkReadStoreText(const char* path, const char* key, const char* name, char* out,
                          size_t capacity) {
  FILE* file = fopen(path, "rb");
  if (file == NULL) return 0;
  char* line = NULL;
  size_t lineCapacity = 0;
  ssize_t length;
  int inKey = 0;
  int found = 0;
  while (!found && (length = getline(&line, &lineCapacity, file)) >= 0) {
    size_t n = (size_t)length;
    if (n > 0 && line[n - 1] == '\n') --n;
    size_t trimmedLength = n;
    const char* trimmed = Trim(line, &trimmedLength);
    if (trimmedLength >= 2 && trimmed[0] == '[' && trimmed[trimmedLength - 1] == ']') {
      inKey = SameName(trimmed + 1, trimmedLength - 2, key);
      continue;
    }
    if (!inKey) continue;
    const char* eq = memchr(line, '=', n);
    if (eq == NULL || eq == line) continue;
    size_t nameLength = (size_t)(eq - line);
    const char* valueName = Trim(line, &nameLength);
    if (nameLength == 0 || !SameName(valueName, nameLength, name)) continue;
    size_t storedLength = n - (size_t)(eq + 1 - line);
    if (storedLength > 0 && eq[storedLength] == '\r') --storedLength;
    found = Unescape(eq + 1, storedLength, out, capacity);
    /* The first line of that name decides, as the program's store reads it. */
    if (!found) break;
  }
  free(line);
  fclose(file);
  /* An empty text reads as a missing value, as everywhere in the store. */
  return found && out[0] != '\0';
}

static void* LoadFromStore(int currentUser, const char* name) {
  char storePath[CINELINK_PATH_CAPACITY * 4];
  char folder[STORE_TEXT_CAPACITY];
  char path[CINELINK_PATH_CAPACITY];
  if (!CinelinkStorePath(currentUser, storePath, sizeof storePath)) return NULL;
  if (!CinelinkReadStoreText(storePath, kStoreKey, kStoreValue, folder, sizeof folder)) {
    return NULL;
  }
  if (!CinelinkJoinFolder(path, sizeof path, folder, name)) return NULL;
  return LoadPath(path);
}

static void* LoadFromLibraryFolder(const char* name) {
  Dl_info info;
  char folder[CINELINK_PATH_CAPACITY];
  char path[CINELINK_PATH_CAPACITY];
  if (dladdr((void*)LoadFromLibraryFolder, &info) == 0 || info.dli_fname == NULL ||
      strlen(info.dli_fname) >= sizeof folder) {
    return NULL;
  }
  strcpy(folder, info.dli_fname);
  char* cut = strrchr(folder, '/');
  if (cut == NULL) return NULL;
  cut[1] = '\0';
  if (!CinelinkJoinFolder(path, sizeof path, folder, name)) return NULL;
  return LoadPath(path);
}

void* LoadQuickTimeLibrary(const char* name) {
  int alreadyLoaded = 0;
  void* module = LoadAlreadyLoaded(name, &alreadyLoaded);
  if (alreadyLoaded) return module;
  module = LoadFromProgramFolder(name);
  if (module == NULL) module = LoadFromStore(0, name);
  if (module == NULL) module = LoadFromStore(1, name);
  if (module != NULL) return module;
  return LoadFromLibraryFolder(name);
}
