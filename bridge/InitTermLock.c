/* The per-process lock around InitializeQTML and TerminateQTML, found by the
 * name "QTMLInitTermMutex" + the process id in hexadecimal so that any code
 * in the process that forms the same name takes the same lock.
 *
 * It is an flock() on a file of that name: flock locks belong to the open
 * file, so two opens in one process exclude each other, and the system drops
 * the lock when the process dies, so a crash never leaves a later process
 * that reuses the id waiting forever. The holder removes the file before
 * releasing it; a waiter that then wins a lock on a removed file opens the
 * name again.
 *
 * The file lives in a folder that only this user can write, never in a
 * shared one such as /tmp: there another user could create the name (it is
 * predictable from the process id) before us and hold its lock, and
 * InitializeQTML would wait forever. The folder is $XDG_RUNTIME_DIR when it
 * is set and is the user's own, closed to writing by others; else
 * "framory/cinelink" in the user's cache folder ($XDG_CACHE_HOME, else
 * ~/.cache), made with mode 0700 and checked to be a folder (not a link)
 * owned by the user and closed to everyone else. When no such folder can be
 * had, the caller goes on without the lock, as it does when the lock cannot
 * be made at all. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "bridge/CinelinkInternal.h"

/* Below the user's cache folder. */
static const char kLockFolder[] = "framory/cinelink";

void CinelinkLockName(long pid, char* out, size_t capacity) {
  snprintf(out, capacity, "QTMLInitTermMutex%lx", (unsigned long)pid);
}

/* Opens `path` as a folder, not following a link at its end; -1 unless it is
 * owned by the user and others may not write into it (`privateMode`: may not
 * use it at all). A private folder the user owns but left open to others is
 * closed again first. */
static int OpenOwnFolder(const char* path, int privateMode) {
  int fd = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid()) {
    close(fd);
    return -1;
  }
  const mode_t closed = privateMode ? 077 : 022;
  if ((st.st_mode & closed) != 0 && (!privateMode || fchmod(fd, 0700) != 0)) {
    close(fd);
    return -1;
  }
  return fd;
}

/* The user's cache folder into out; 0 when there is none. */
static int CacheFolder(char* out, size_t capacity) {
  const char* cache = getenv("XDG_CACHE_HOME");
  if (cache != NULL && cache[0] == '/') {
    return snprintf(out, capacity, "%s", cache) < (int)capacity;
  }
  const char* home = getenv("HOME");
  char buffer[4096];
  struct passwd entry;
  struct passwd* found = NULL;
  if (home == NULL || home[0] != '/') {
    if (getpwuid_r(geteuid(), &entry, buffer, sizeof buffer, &found) != 0 || found == NULL ||
        found->pw_dir == NULL || found->pw_dir[0] != '/') {
      return 0;
    }
    home = found->pw_dir;
  }
  return snprintf(out, capacity, "%s/.cache", home) < (int)capacity;
}

/* Makes each missing folder of `path` from the one ending at index `from`
 * on, with mode 0700. */
static void MakeFolders(char* path, size_t from) {
  for (size_t i = from; path[i] != '\0'; ++i) {
    if (path[i] != '/') continue;
    path[i] = '\0';
    mkdir(path, 0700);
    path[i] = '/';
  }
  mkdir(path, 0700);
}

/* The folder the lock files live in, opened; -1 when there is none that only
 * this user can write. */
static int OpenLockFolder(void) {
  const char* runtime = getenv("XDG_RUNTIME_DIR");
  if (runtime != NULL && runtime[0] == '/') {
    int fd = OpenOwnFolder(runtime, 0);
    if (fd >= 0) return fd;
  }
  char path[PATH_MAX];
  if (!CacheFolder(path, sizeof path)) return -1;
  const size_t cacheLength = strlen(path);
  if (snprintf(path + cacheLength, sizeof path - cacheLength, "/%s", kLockFolder) >=
      (int)(sizeof path - cacheLength)) {
    return -1;
  }
  MakeFolders(path, cacheLength);
  return OpenOwnFolder(path, 1);
}

int CinelinkTakeLock(void) {
  char name[64];
  CinelinkLockName((long)getpid(), name, sizeof name);
  const int folder = OpenLockFolder();
  if (folder < 0) return -1;
  int lock = -1;
  for (int tries = 0; lock < 0 && tries < 100; ++tries) {
    int fd = openat(folder, name, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) break;
    struct stat held;
    if (fstat(fd, &held) != 0 || !S_ISREG(held.st_mode) || held.st_uid != geteuid()) {
      /* Not a file of ours (left by someone while the folder was open to
       * others): it goes, and the name is made again. */
      close(fd);
      if (unlinkat(folder, name, 0) != 0) break;
      continue;
    }
    int locked;
    do {
      locked = flock(fd, LOCK_EX);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
      close(fd);
      break;
    }
    struct stat named;
    if (fstat(fd, &held) == 0 && fstatat(folder, name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
      lock = fd;
    } else {
      close(fd); /* the file was removed by the previous holder: take the new one */
    }
  }
  close(folder);
  return lock;
}

void CinelinkReleaseLock(int lock) {
  if (lock < 0) return;
  char name[64];
  CinelinkLockName((long)getpid(), name, sizeof name);
  const int folder = OpenLockFolder();
  if (folder >= 0) {
    unlinkat(folder, name, 0);
    close(folder);
  }
  close(lock);
}
