#include "app/RegistryStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "base/UniqueFd.h"

namespace framory {

namespace {

// The parsing works on views into the file's text: a store may hold up to a
// megabyte of lines, read once for each value, so no line is copied unless
// it is the value asked for.
std::string_view Trim(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  return s.substr(b, e - b);
}

bool SameName(std::string_view a, std::string_view b) {
  // Key and value names are case-blind, as registry names are.
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// "[Key\Path]" gives the key path; anything else gives false.
bool ParseSection(std::string_view line, std::string_view* key) {
  std::string_view t = Trim(line);
  if (t.size() < 2 || t.front() != '[' || t.back() != ']') return false;
  *key = t.substr(1, t.size() - 2);
  return true;
}

// "Name=Text" gives name and the stored (escaped) text.
bool ParseValue(std::string_view line, std::string_view* name, std::string_view* stored) {
  std::size_t eq = line.find('=');
  if (eq == std::string_view::npos || eq == 0) return false;
  *name = Trim(line.substr(0, eq));
  if (name->empty()) return false;
  *stored = line.substr(eq + 1);
  if (!stored->empty() && stored->back() == '\r') stored->remove_suffix(1);
  return true;
}

// Reads the whole store into `text`. Only a regular file is read, opened without
// blocking (a FIFO or a device in its place must not hang or flood the
// program) and only up to kMaxStoreBytes. Missing: false with `missing` set.
bool ReadStore(const std::string& path, std::string* text, std::string* reason, bool* missing) {
  *missing = false;
  const UniqueFd file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  const int fd = file.Get();
  if (fd < 0) {
    *missing = errno == ENOENT;
    *reason = std::strerror(errno);
    return false;
  }
  struct stat st;
  bool ok = fstat(fd, &st) == 0;
  if (!ok) {
    *reason = std::strerror(errno);
  } else if (!S_ISREG(st.st_mode)) {
    *reason = "not a regular file";
    ok = false;
  } else if (st.st_size > static_cast<off_t>(RegistryStore::kMaxStoreBytes)) {
    *reason = "larger than " + std::to_string(RegistryStore::kMaxStoreBytes) + " bytes";
    ok = false;
  }
  std::string data;
  if (ok) {
    // One byte more than the file held tells a file that grew meanwhile.
    data.resize(static_cast<std::size_t>(st.st_size) + 1);
    std::size_t got = 0;
    while (got < data.size()) {
      const ssize_t n = ::read(fd, data.data() + got, data.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        *reason = std::strerror(errno);
        ok = false;
        break;
      }
      if (n == 0) break;
      got += static_cast<std::size_t>(n);
    }
    data.resize(got);
    if (ok && got > static_cast<std::size_t>(st.st_size)) {
      *reason = "changed while it was read";
      ok = false;
    }
  }
  if (!ok) return false;
  *text = std::move(data);
  return true;
}

// Calls `each` with every line of `text` (without its line feed) until it
// returns false.
template <typename Each>
void ForEachLine(std::string_view text, Each each) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    if (!each(text.substr(start, end - start))) return;
    start = end + 1;
  }
}

bool ReadLines(const std::string& path, std::vector<std::string>* lines, std::string* reason,
               bool* missing) {
  std::string text;
  if (!ReadStore(path, &text, reason, missing)) return false;
  ForEachLine(text, [lines](std::string_view line) {
    lines->emplace_back(line);
    return true;
  });
  return true;
}

bool MakeFolders(const std::string& folder) {
  if (folder.empty()) return true;
  struct stat st;
  if (stat(folder.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return true;
    errno = ENOTDIR;
    return false;
  }
  std::size_t slash = folder.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !MakeFolders(folder.substr(0, slash))) {
    return false;
  }
  return mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

std::string FolderOf(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  if (slash == 0) return "/";
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// The file a save must replace: `path` itself, or, when it is a symbolic
// link (or a chain of them), the file the last link names, which may not
// exist yet. Replacing the link itself would cut it off from its target.
bool ResolveLinks(const std::string& path, std::string* target, std::string* reason) {
  std::string current = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (lstat(current.c_str(), &st) != 0) {
      if (errno == ENOENT) {
        *target = current;
        return true;
      }
      *reason = std::strerror(errno);
      return false;
    }
    if (!S_ISLNK(st.st_mode)) {
      *target = current;
      return true;
    }
    std::string link(PATH_MAX, '\0');
    const ssize_t n = readlink(current.c_str(), link.data(), link.size());
    if (n < 0 || static_cast<std::size_t>(n) >= link.size()) {
      *reason = n < 0 ? std::strerror(errno) : "link text too long";
      return false;
    }
    link.resize(static_cast<std::size_t>(n));
    current = (!link.empty() && link[0] == '/') ? link : FolderOf(current) + "/" + link;
  }
  *reason = std::strerror(ELOOP);
  return false;
}

bool WriteAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

RegistryStore RegistryStore::CurrentUser() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  if (config != nullptr && config[0] != '\0') {
    base = config;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home != nullptr ? home : "") + "/.config";
  }
  return RegistryStore(base + "/framory/registry.ini");
}

RegistryStore RegistryStore::LocalMachine() {
  const char* path = std::getenv("FRAMORY_MACHINE_REGISTRY");
  if (path != nullptr && path[0] != '\0') return RegistryStore(path);
  return RegistryStore("/etc/framory/registry.ini");
}

std::string RegistryStore::Escape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      default:
        out += c;
        break;
    }
  }
  return out;
}

std::string RegistryStore::Unescape(const std::string& stored) {
  std::string out;
  out.reserve(stored.size());
  for (std::size_t i = 0; i < stored.size(); ++i) {
    char c = stored[i];
    if (c == '\\' && i + 1 < stored.size()) {
      char n = stored[i + 1];
      if (n == '\\') {
        out += '\\';
        ++i;
        continue;
      }
      if (n == 'r') {
        out += '\r';
        ++i;
        continue;
      }
      if (n == 'n') {
        out += '\n';
        ++i;
        continue;
      }
    }
    out += c;
  }
  return out;
}

std::string RegistryStore::ReadText(const std::string& subKey, const std::string& name) const {
  std::string data;
  std::string reason;
  bool missing = false;
  if (!ReadStore(path_, &data, &reason, &missing)) return {};
  bool inKey = false;
  std::string text;
  bool found = false;
  ForEachLine(data, [&](std::string_view line) {
    std::string_view section, valueName, stored;
    if (ParseSection(line, &section)) {
      inKey = SameName(section, subKey);
      return true;
    }
    if (!inKey || !ParseValue(line, &valueName, &stored) || !SameName(valueName, name)) {
      return true;
    }
    text = Unescape(std::string(stored));
    found = true;
    return false;
  });
  if (!found) return {};
  // A text is taken up to its first zero byte.
  std::size_t zero = text.find('\0');
  if (zero != std::string::npos) text.resize(zero);
  if (text.size() > kMaxTextLength) return {};
  return text;
}

bool RegistryStore::WriteText(const std::string& subKey, const std::string& name,
                              const std::string& text) {
  lastError_.clear();
  // A save replaces the file a symbolic link names, in that file's folder, so
  // that the rename stays atomic and the link keeps pointing at the values.
  std::string target;
  if (!ResolveLinks(path_, &target, &lastError_)) return false;
  std::vector<std::string> lines;
  bool missing = false;
  // Only a missing file counts as an empty store. Anything that cannot be
  // read (a FIFO, a device, an oversized file) is left alone rather than
  // replaced and lost.
  if (!ReadLines(target, &lines, &lastError_, &missing) && !missing) return false;
  lastError_.clear();

  const std::string newLine = name + "=" + Escape(text);
  bool inKey = false;
  bool keyFound = false;
  bool written = false;
  std::size_t insertAt = lines.size();
  for (std::size_t i = 0; i < lines.size() && !written; ++i) {
    std::string_view section, valueName, stored;
    if (ParseSection(lines[i], &section)) {
      if (inKey) {
        insertAt = i;
        break;  // end of our key without the value
      }
      inKey = SameName(section, subKey);
      keyFound = keyFound || inKey;
      continue;
    }
    if (inKey && ParseValue(lines[i], &valueName, &stored) && SameName(valueName, name)) {
      lines[i] = newLine;
      written = true;
    }
  }
  if (!written) {
    if (keyFound) {
      // Keep the key's lines together: insert after its last non-blank line.
      std::size_t at = insertAt;
      while (at > 0 && Trim(lines[at - 1]).empty()) --at;
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), newLine);
    } else {
      if (!lines.empty() && !Trim(lines.back()).empty()) lines.emplace_back();
      lines.push_back("[" + subKey + "]");
      lines.push_back(newLine);
    }
  }

  std::string contents;
  for (const std::string& line : lines) contents += line + "\n";

  const std::string folder = FolderOf(target);
  if (!MakeFolders(folder)) {
    lastError_ = std::strerror(errno);
    return false;
  }
  std::string tmp = folder + "/.registry-XXXXXX";
  UniqueFd fd(mkstemp(tmp.data()));
  if (!fd) {
    lastError_ = std::strerror(errno);
    return false;
  }
  bool ok = WriteAll(fd.Get(), contents) && fsync(fd.Get()) == 0;
  if (!ok) lastError_ = std::strerror(errno);
  // The rewrite replaces the store only once it is safely closed.
  if (fd.Close() != 0 && ok) {
    lastError_ = std::strerror(errno);
    ok = false;
  }
  if (ok && std::rename(tmp.c_str(), target.c_str()) != 0) {
    lastError_ = std::strerror(errno);
    ok = false;
  }
  if (!ok) ::unlink(tmp.c_str());
  return ok;
}

bool RegistryStore::Readable(std::string* reason) const {
  std::string text;
  bool missing = false;
  std::string why;
  if (ReadStore(path_, &text, &why, &missing) || missing) return true;
  if (reason != nullptr) *reason = why;
  return false;
}

std::string ReadRegistryText(const std::string& subKey, const std::string& name) {
  return RegistryStore::CurrentUser().ReadText(subKey, name);
}

void WriteRegistryText(const std::string& subKey, const std::string& name,
                       const std::string& text) {
  RegistryStore::CurrentUser().WriteText(subKey, name, text);
}

}  // namespace framory
