#include "app/RegistryStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <strings.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

namespace framory {

namespace {

std::string Trim(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  return s.substr(b, e - b);
}

bool SameName(const std::string& a, const std::string& b) {
  // Key and value names are case-blind, as registry names are.
  return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

// "[Key\Path]" gives the key path; anything else gives false.
bool ParseSection(const std::string& line, std::string* key) {
  std::string t = Trim(line);
  if (t.size() < 2 || t.front() != '[' || t.back() != ']') return false;
  *key = t.substr(1, t.size() - 2);
  return true;
}

// "Name=Text" gives name and the stored (escaped) text.
bool ParseValue(const std::string& line, std::string* name, std::string* stored) {
  std::size_t eq = line.find('=');
  if (eq == std::string::npos || eq == 0) return false;
  *name = Trim(line.substr(0, eq));
  if (name->empty()) return false;
  *stored = line.substr(eq + 1);
  if (!stored->empty() && stored->back() == '\r') stored->pop_back();
  return true;
}

bool ReadLines(const std::string& path, std::vector<std::string>* lines) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) lines->push_back(line);
  return !in.bad();
}

bool MakeFolders(const std::string& folder) {
  if (folder.empty()) return true;
  struct stat st;
  if (stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  std::size_t slash = folder.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !MakeFolders(folder.substr(0, slash))) {
    return false;
  }
  return mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

std::string FolderOf(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
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
  std::vector<std::string> lines;
  if (!ReadLines(path_, &lines)) return {};
  bool inKey = false;
  for (const std::string& line : lines) {
    std::string section, valueName, stored;
    if (ParseSection(line, &section)) {
      inKey = SameName(section, subKey);
      continue;
    }
    if (!inKey || !ParseValue(line, &valueName, &stored) || !SameName(valueName, name)) continue;
    std::string text = Unescape(stored);
    // A text is taken up to its first zero byte.
    std::size_t zero = text.find('\0');
    if (zero != std::string::npos) text.resize(zero);
    if (text.size() > kMaxTextLength) return {};
    return text;
  }
  return {};
}

bool RegistryStore::WriteText(const std::string& subKey, const std::string& name,
                              const std::string& text) {
  std::vector<std::string> lines;
  ReadLines(path_, &lines);  // a missing file is an empty store

  const std::string newLine = name + "=" + Escape(text);
  bool inKey = false;
  bool keyFound = false;
  bool written = false;
  std::size_t insertAt = lines.size();
  for (std::size_t i = 0; i < lines.size() && !written; ++i) {
    std::string section, valueName, stored;
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

  const std::string folder = FolderOf(path_);
  if (!MakeFolders(folder)) return false;
  std::string tmp = folder + "/.registry-XXXXXX";
  int fd = mkstemp(tmp.data());
  if (fd < 0) return false;
  bool ok = WriteAll(fd, contents) && fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (ok) ok = std::rename(tmp.c_str(), path_.c_str()) == 0;
  if (!ok) ::unlink(tmp.c_str());
  return ok;
}

std::string ReadRegistryText(const std::string& subKey, const std::string& name) {
  return RegistryStore::CurrentUser().ReadText(subKey, name);
}

void WriteRegistryText(const std::string& subKey, const std::string& name,
                       const std::string& text) {
  RegistryStore::CurrentUser().WriteText(subKey, name, text);
}

}  // namespace framory
