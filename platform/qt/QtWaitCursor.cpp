#include "platform/qt/QtWaitCursor.h"

#include <QCursor>
#include <QGuiApplication>

namespace framory {

void QtWaitCursor::Show() { QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }

void QtWaitCursor::Restore() { QGuiApplication::restoreOverrideCursor(); }

}  // namespace framory
