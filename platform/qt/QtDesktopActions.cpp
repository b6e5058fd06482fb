#include "platform/qt/QtDesktopActions.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QDesktopServices>
#include <QProcess>
#include <QStringList>
#include <QUrl>
#include <climits>

namespace framory {

namespace {

// The file URL of the absolute `path`, every byte but the unreserved ones
// and "/" percent-encoded. A file name is any string of bytes, which a
// QString does not keep when they are not UTF-8 (each such byte would become
// U+FFFD and name another file); in the encoded URL they stay as they are,
// and the desktop's opener decodes them back to the same bytes.
QByteArray FileUrl(const std::string& path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  QByteArray url("file://");
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    const bool plain = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                       (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' ||
                       byte == '~' || byte == '/';
    if (plain) {
      url.append(c);
    } else {
      url.append('%');
      url.append(kHex[byte >> 4]);
      url.append(kHex[byte & 0xF]);
    }
  }
  return url;
}

}  // namespace

bool QtDesktopActions::OpenPath(const std::string& path) {
  // A missing file fails here, as opening it would: the caller reports it.
  struct stat info {};
  if (path.empty() || ::stat(path.c_str(), &info) != 0) return false;
  std::string absolute = path;
  if (absolute.front() != '/') {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr) return false;
    absolute = std::string(cwd) + "/" + path;
  }
  return QDesktopServices::openUrl(QUrl::fromEncoded(FileUrl(absolute), QUrl::StrictMode));
}

bool QtDesktopActions::StartProgram(const std::string& program,
                                    const std::vector<std::string>& arguments) {
  QStringList list;
  for (const std::string& argument : arguments) list << QString::fromLocal8Bit(argument.c_str());
  return QProcess::startDetached(QString::fromLocal8Bit(program.c_str()), list);
}

}  // namespace framory
