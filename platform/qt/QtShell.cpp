#include "platform/qt/QtShell.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QFont>
#include <QPainter>
#include <QPixmap>

namespace framory {

namespace {

// One posted main-window message.
class MainMessageEvent : public QEvent {
 public:
  static QEvent::Type Kind() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
  }
  MainMessageEvent(std::uint32_t message, std::int32_t lParam)
      : QEvent(Kind()), Message(message), LParam(lParam) {}
  const std::uint32_t Message;
  const std::int32_t LParam;
};

// A drawn stand-in used only while the icon resources are missing: a blue
// camera square, with the letter P for the paused icon.
QIcon DrawnIcon(bool paused) {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setBrush(QColor(40, 110, 190));
  painter.setPen(Qt::NoPen);
  painter.drawRoundedRect(2, 6, 28, 20, 4, 4);
  painter.setBrush(QColor(229, 241, 249));
  painter.drawEllipse(QPoint(16, 16), 7, 7);
  if (paused) {
    QFont font;
    font.setPixelSize(20);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(QColor(200, 20, 20));
    painter.drawText(QRect(0, 0, 32, 32), Qt::AlignCenter, QStringLiteral("P"));
  }
  return QIcon(pixmap);
}

}  // namespace

QtShell::QtShell(TrayState& tray, QObject* parent) : QObject(parent), trayState_(tray) {}

QtShell::~QtShell() { trayState_.SetChangeHandler(nullptr); }

void QtShell::Post(std::uint32_t message, std::int32_t lParam) {
  QCoreApplication::postEvent(this, new MainMessageEvent(message, lParam));
}

bool QtShell::event(QEvent* event) {
  if (event->type() != MainMessageEvent::Kind()) return QObject::event(event);
  const auto* message = static_cast<MainMessageEvent*>(event);
  if (handler_) handler_(message->Message, message->LParam);
  return true;
}

bool QtShell::CreateMainWindow() {
  tray_ = std::make_unique<QSystemTrayIcon>();
  connect(tray_.get(), &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) {
            const std::int32_t mouse = TrayMouseMessage(reason);
            if (mouse != 0) Post(MainWindowMessages::TrayNotify, mouse);
          });
  trayState_.SetChangeHandler([this] { FollowTrayState(); });
  FollowTrayState();
  tray_->show();
  return true;
}

void QtShell::FollowTrayState() {
  if (!tray_) return;
  tray_->setIcon(TrayIcon(trayState_.IconId()));
  tray_->setToolTip(QString::fromStdString(trayState_.Tip()));
}

void QtShell::RemoveTrayIcon() {
  trayState_.SetChangeHandler(nullptr);
  if (tray_) tray_->hide();
  tray_.reset();
}

void QtShell::QuitLoop(int code) { QCoreApplication::exit(code); }

std::int32_t QtShell::TrayMouseMessage(QSystemTrayIcon::ActivationReason reason) {
  switch (reason) {
    case QSystemTrayIcon::Trigger:
      return TrayMouse::LeftButtonDown;
    case QSystemTrayIcon::DoubleClick:
      return TrayMouse::LeftButtonDoubleClick;
    case QSystemTrayIcon::Context:
      return TrayMouse::ContextMenu;
    default:
      return 0;
  }
}

QIcon QtShell::TrayIcon(std::int32_t id) {
  const QString path = id == kPausedIcon ? QStringLiteral(":/icons/framory_paused.png")
                                         : QStringLiteral(":/icons/framory.png");
  if (QFile::exists(path)) return QIcon(path);
  return DrawnIcon(id == kPausedIcon);
}

}  // namespace framory
