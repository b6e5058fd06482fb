#include "platform/qt/QtDesktopActions.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QUrl>
#include <cstdio>

namespace framory {

bool QtDesktopActions::OpenPath(const std::string& path, std::function<void()> failed) {
  const QString file = QString::fromLocal8Bit(path.c_str());
  // A missing file fails here, as opening it would: the caller reports it.
  if (path.empty() || !QFileInfo::exists(file)) {
    std::fprintf(stderr, "framory: cannot open %s: it does not exist\n", path.c_str());
    return false;
  }
  const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
  if (opener.isEmpty()) {
    std::fprintf(stderr, "framory: cannot open %s: xdg-open is not on the search path\n",
                 path.c_str());
    return false;
  }
  const QString url = QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath()).toString();
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
