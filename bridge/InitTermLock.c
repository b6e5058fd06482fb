/* The per-process lock around InitializeQTML and TerminateQTML, found by the
 * name "QTMLInitTermMutex" + the process id in hexadecimal so that any code
 * in the process that forms the same name takes the same lock.
 *
 * It is an flock() on a file of that name in the runtime directory
 * ($XDG_RUNTIME_DIR, else /tmp): flock locks belong to the open file, so two
 * opens in one process exclude each other, and the system drops the lock
 * when the process dies, so a crash never leaves a later process that reuses
 * the id waiting forever. The holder removes the file before releasing it; a
 * waiter that then wins a lock on a removed file opens the name again. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "bridge/CinelinkInternal.h"

void CinelinkLockName(long pid, char* out, size_t capacity) {
  snprintf(out, capacity, "QTMLInitTermMutex%lx", (unsigned long)pid);
}

void CinelinkLockPath(long pid, char* out, size_t capacity) {
  char name[64];
  CinelinkLockName(pid, name, sizeof name);
  const char* dir = getenv("XDG_RUNTIME_DIR");
  if (dir == NULL || dir[0] != '/') dir = "/tmp";
  if (snprintf(out, capacity, "%s/%s", dir, name) >= (int)capacity) out[0] = '\0';
}

int CinelinkTakeLock(void) {
  char path[CINELINK_PATH_CAPACITY * 4];
  CinelinkLockPath((long)getpid(), path, sizeof path);
  if (path[0] == '\0') return -1;
  for (;;) {
    int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return -1;
    int locked;
    do {
      locked = flock(fd, LOCK_EX);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
      close(fd);
      return -1;
    }
    struct stat held, named;
    if (fstat(fd, &held) == 0 && stat(path, &named) == 0 && held.st_dev == named.st_dev &&
        held.st_ino == named.st_ino) {
      return fd;
    }
    close(fd); /* the file was removed by the previous holder: take the new one */
  }
}

void CinelinkReleaseLock(int lock) {
  if (lock < 0) return;
  char path[CINELINK_PATH_CAPACITY * 4];
  CinelinkLockPath((long)getpid(), path, sizeof path);
  if (path[0] != '\0') unlink(path);
  close(lock);
}
