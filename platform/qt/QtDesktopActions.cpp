#include "platform/qt/QtDesktopActions.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QUrl>
#include <climits>
#include <cstdio>

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

bool QtDesktopActions::OpenPath(const std::string& path, std::function<void()> failed) {
  // A missing file fails here, as opening it would: the caller reports it.
  struct stat info {};
  if (path.empty() || ::stat(path.c_str(), &info) != 0) {
    std::fprintf(stderr, "framory: cannot open %s: it does not exist\n", path.c_str());
    return false;
  }
  std::string absolute = path;
  if (absolute.front() != '/') {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr) return false;
    absolute = std::string(cwd) + "/" + path;
  }
  const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
  if (opener.isEmpty()) {
    std::fprintf(stderr, "framory: cannot open %s: xdg-open is not on the search path\n",
                 path.c_str());
    return false;
  }
  // Plain ASCII: the bytes of the name travel percent-encoded.
  const QString url = QString::fromLatin1(FileUrl(absolute));
  auto* process = new QProcess(QCoreApplication::instance());
  // The viewer xdg-open starts keeps the terminal's output, not ours.
  process->setProcessChannelMode(QProcess::ForwardedChannels);
  auto report = [path, failed](const char* why) {
    std::fprintf(stderr, "framory: xdg-open could not open %s (%s)\n", path.c_str(), why);
    if (failed) failed();
  };
  QObject::connect(process, &QProcess::finished, process,
                   [process, report](int exitCode, QProcess::ExitStatus status) {
                     process->deleteLater();
                     // An opener still running when the program ends is
                     // stopped with it; whoever asked for it is gone by then.
                     if (QCoreApplication::closingDown()) return;
                     if (status != QProcess::NormalExit) {
                       report("it crashed");
                     } else if (exitCode != 0) {
                       report(("exit status " + std::to_string(exitCode)).c_str());
                     }
                   });
  process->start(opener, {url});
  if (!process->waitForStarted(-1)) {
    std::fprintf(stderr, "framory: cannot open %s: xdg-open could not be started\n", path.c_str());
    process->deleteLater();
    return false;
  }
  return true;
}

bool QtDesktopActions::StartProgram(const std::string& program,
                                    const std::vector<std::string>& arguments) {
  QStringList list;
  for (const std::string& argument : arguments) list << QString::fromLocal8Bit(argument.c_str());
  return QProcess::startDetached(QString::fromLocal8Bit(program.c_str()), list);
}

}  // namespace framory
