#include "platform/qt/QtDesktopActions.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QUrl>

namespace framory {

bool QtDesktopActions::OpenPath(const std::string& path) {
  const QString file = QString::fromLocal8Bit(path.c_str());
  // A missing file fails here, as opening it would: the caller reports it.
  if (path.empty() || !QFileInfo::exists(file)) return false;
  return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath()));
}

bool QtDesktopActions::StartProgram(const std::string& program,
                                    const std::vector<std::string>& arguments) {
  QStringList list;
  for (const std::string& argument : arguments) list << QString::fromLocal8Bit(argument.c_str());
  return QProcess::startDetached(QString::fromLocal8Bit(program.c_str()), list);
}

}  // namespace framory
