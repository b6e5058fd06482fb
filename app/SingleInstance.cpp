#include "app/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace framory {

namespace {

bool AllDigits(const std::string& text) {
  if (text.empty()) return false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// A name safe in a file name: anything but letters, digits and ".:@_-"
// becomes "_".
std::string FileNamePart(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '.' || c == ':' || c == '@' || c == '_' || c == '-';
    out += keep ? c : '_';
  }
  return out;
}

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  return name;
}

// Makes `path` a folder only this user may enter: made with mode 0700 when
// missing; an existing one must be a real folder (not a link) owned by this
// user, and loses any rights of group and others.
bool MakePrivateFolder(const std::string& path, std::string* problem) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    if (problem) *problem = "cannot make the folder " + path + ": " + std::strerror(errno);
    return false;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    if (problem) *problem = path + " is not a folder of its own: " + std::strerror(errno);
    return false;
  }
  struct stat info {};
  bool ok = ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid();
  if (ok && (info.st_mode & 077) != 0) ok = ::fchmod(fd, 0700) == 0;
  ::close(fd);
  if (!ok && problem) *problem = path + " is not a private folder of this user";
  return ok;
}

// Makes every missing folder of `path` (absolute) with mode 0700.
bool MakeFolders(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    ::mkdir(path.substr(0, slash).c_str(), 0700);
  }
  return ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

bool IsPrivateFolder(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
         (info.st_mode & 077) == 0;
}

}  // namespace

std::string DisplayKey(const std::string& display) {
  std::string rest = display;
  std::string protocol;
  std::size_t colon = rest.rfind(':');
  const std::size_t slash = rest.find('/');
  if (slash != std::string::npos && colon != std::string::npos && slash < colon) {
    protocol = rest.substr(0, slash);
    rest = rest.substr(slash + 1);
    colon = rest.rfind(':');
  }
  if (colon == std::string::npos) return display;
  std::string host = rest.substr(0, colon);
  std::string number = rest.substr(colon + 1);
  const std::size_t dot = number.find('.');
  if (dot != std::string::npos) {
    if (!AllDigits(number.substr(dot + 1))) return display;
    number.resize(dot);
  }
  if (!AllDigits(number)) return display;
  number.erase(0, std::min(number.find_first_not_of('0'), number.size() - 1));
  if (host == "unix" || protocol == "unix" || protocol == "local") host.clear();
  return host + ":" + number;
}

InstanceEnvironment InstanceEnvironment::FromProcess() {
  InstanceEnvironment environment;
  if (const char* value = std::getenv("XDG_RUNTIME_DIR")) environment.RuntimeDir = value;
  if (const char* value = std::getenv("XDG_CACHE_HOME")) environment.CacheHome = value;
  if (const char* value = std::getenv("HOME")) environment.Home = value;
  return environment;
}

std::string InstanceFolder(const InstanceEnvironment& environment, std::string* problem) {
  // Relative XDG paths are to be ignored, like unset ones.
  if (!environment.RuntimeDir.empty() && environment.RuntimeDir[0] == '/' &&
      IsPrivateFolder(environment.RuntimeDir)) {
    const std::string folder = environment.RuntimeDir + "/framory";
    if (MakePrivateFolder(folder, problem)) return folder;
  }
  std::string cache;
  if (!environment.CacheHome.empty() && environment.CacheHome[0] == '/') {
    cache = environment.CacheHome;
  } else if (!environment.Home.empty() && environment.Home[0] == '/') {
    cache = environment.Home + "/.cache";
  } else {
    if (problem) *problem = "neither a private XDG_RUNTIME_DIR nor a home folder";
    return "";
  }
  const std::string parent = cache + "/framory";
  if (!MakeFolders(parent)) {
    if (problem) *problem = "cannot make the folder " + parent + ": " + std::strerror(errno);
    return "";
  }
  const std::string folder = parent + "/instances";
  if (MakePrivateFolder(folder, problem)) return folder;
  return "";
}

namespace {

std::string InstanceStem(const std::string& folder, const std::string& display) {
  return folder + "/display" + FileNamePart(DisplayKey(display)) + "@" + FileNamePart(HostName());
}

}  // namespace

std::string InstanceSocketPath(const std::string& folder, const std::string& display) {
  if (folder.empty()) return "";
  return InstanceStem(folder, display) + ".socket";
}

InstanceClaim InstanceClaim::Make(const std::string& folder, const std::string& display) {
  InstanceClaim claim;
  if (folder.empty()) {
    claim.problem_ = "no private folder for the instance lock";
    return claim;
  }
  const std::string stem = InstanceStem(folder, display);
  const std::string lockPath = stem + ".lock";
  claim.socketPath_ = stem + ".socket";
  claim.lockFd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (claim.lockFd_ < 0) {
    claim.problem_ = "cannot open the lock file " + lockPath + ": " + std::strerror(errno);
    return claim;
  }
  int result;
  do {
    result = ::flock(claim.lockFd_, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result == 0) {
    claim.outcome_ = Outcome::First;
    return claim;
  }
  const int error = errno;
  ::close(claim.lockFd_);
  claim.lockFd_ = -1;
  if (error == EWOULDBLOCK) {
    claim.outcome_ = Outcome::AlreadyRunning;
  } else {
    claim.problem_ = "cannot lock " + lockPath + ": " + std::strerror(error);
  }
  return claim;
}

InstanceClaim::InstanceClaim(InstanceClaim&& other) noexcept { *this = std::move(other); }

InstanceClaim& InstanceClaim::operator=(InstanceClaim&& other) noexcept {
  if (this == &other) return *this;
  if (lockFd_ >= 0) ::close(lockFd_);
  outcome_ = other.outcome_;
  lockFd_ = other.lockFd_;
  socketPath_ = std::move(other.socketPath_);
  problem_ = std::move(other.problem_);
  other.lockFd_ = -1;
  other.outcome_ = Outcome::Unavailable;
  return *this;
}

InstanceClaim::~InstanceClaim() {
  if (lockFd_ >= 0) ::close(lockFd_);
}

}  // namespace framory
