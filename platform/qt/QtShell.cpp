#include "platform/qt/QtShell.h"

#include <xcb/xcb.h>

#include <cstddef>
#include <cstdlib>

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <QStyleHints>
#include <QWidget>

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

// A button press of the X Input extension, version 2, as xcb hands it over
// (xcb keeps the full sequence number at byte 32, ahead of the rest). Qt
// reads the mouse through this extension when the server has it, so presses
// arrive in this form rather than as core button events.
struct XiButtonEvent {
  std::uint8_t responseType;
  std::uint8_t extension;
  std::uint16_t sequence;
  std::uint32_t length;
  std::uint16_t eventType;
  std::uint16_t deviceId;
  std::uint32_t time;
  std::uint32_t detail;
  std::uint32_t root;
  std::uint32_t event;
  std::uint32_t child;
  std::uint32_t fullSequence;
  std::int32_t rootX;  // 16.16 fixed point
  std::int32_t rootY;
  std::int32_t eventX;
  std::int32_t eventY;
  std::uint16_t buttonsLength;
  std::uint16_t valuatorsLength;
  std::uint16_t sourceId;  // the physical device; equals deviceId in its own copy
};
static_assert(offsetof(XiButtonEvent, event) == 24 && offsetof(XiButtonEvent, rootX) == 36 &&
              offsetof(XiButtonEvent, sourceId) == 56);
constexpr std::uint16_t kXiButtonPress = 4;

// The major opcode of the X Input extension on Qt's connection; 0 without
// the extension or without an X connection.
std::uint8_t XInputOpcode() {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
  if (!connection) return 0;
  static constexpr char kName[] = "XInputExtension";
  xcb_query_extension_reply_t* reply = xcb_query_extension_reply(
      connection, xcb_query_extension(connection, sizeof kName - 1, kName), nullptr);
  if (!reply) return 0;
  const std::uint8_t opcode = reply->present ? reply->major_opcode : 0;
  std::free(reply);
  return opcode;
}

}  // namespace

QtShell::QtShell(TrayState& tray, QObject* parent)
    : QObject(parent),
      trayState_(tray),
      clicks_(static_cast<std::uint32_t>(QGuiApplication::styleHints()->mouseDoubleClickInterval()),
              QGuiApplication::styleHints()->mouseDoubleClickDistance()) {}

QtShell::~QtShell() {
  trayState_.SetChangeHandler(nullptr);
  if (filtering_) QCoreApplication::instance()->removeNativeEventFilter(this);
}

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
  shownIconId_ = -1;
  connect(tray_.get(), &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) {
            const std::int32_t mouse = TrayMouseMessage(reason);
            if (mouse != 0) Post(MainWindowMessages::TrayNotify, mouse);
          });
  trayState_.SetChangeHandler([this] { FollowTrayState(); });
  FollowTrayState();
  if (!filtering_) {
    xinputOpcode_ = XInputOpcode();
    QCoreApplication::instance()->installNativeEventFilter(this);
    filtering_ = true;
  }
  tray_->show();
  return true;
}

bool QtShell::IsTrayIconWindow(std::uint32_t window) {
  // Qt draws an XEmbed tray icon in a top-level widget of its own, named
  // after its class; it exists only while the icon sits in a tray host.
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->objectName() != QLatin1String("QSystemTrayIconSys") &&
        qstrcmp(widget->metaObject()->className(), "QSystemTrayIconSys") != 0) {
      continue;
    }
    if (widget->internalWinId() == window) return true;
  }
  return false;
}

bool QtShell::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
  if (!tray_ || eventType != "xcb_generic_event_t") return false;
  const auto* event = static_cast<const xcb_generic_event_t*>(message);
  const std::uint8_t type = event->response_type & 0x7F;
  if (type == XCB_BUTTON_PRESS) {
    const auto* press = static_cast<const xcb_button_press_event_t*>(message);
    return TrayButtonPress(press->event, press->detail, press->time, press->root_x, press->root_y);
  }
  if (type == XCB_GE_GENERIC && xinputOpcode_ != 0) {
    const auto* press = static_cast<const XiButtonEvent*>(message);
    if (press->extension != xinputOpcode_ || press->eventType != kXiButtonPress) return false;
    // Qt listens to the physical devices as well, so each press comes once
    // from the master pointer and once from the device itself; the master's
    // copy is the one that counts.
    if (press->deviceId == press->sourceId) return IsTrayIconWindow(press->event);
    return TrayButtonPress(press->event, static_cast<int>(press->detail), press->time,
                           press->rootX >> 16, press->rootY >> 16);
  }
  return false;
}

bool QtShell::TrayButtonPress(std::uint32_t window, int button, std::uint32_t time, int x, int y) {
  if (!IsTrayIconWindow(window)) return false;
  const std::int32_t mouse = clicks_.Press(button, time, x, y);
  if (mouse == 0) return false;  // wheel and middle button: left to Qt
  Post(MainWindowMessages::TrayNotify, mouse);
  return true;
}

void QtShell::FollowTrayState() {
  if (!tray_) return;
  if (trayState_.IconId() != shownIconId_) {
    shownIconId_ = trayState_.IconId();
    tray_->setIcon(TrayIcon(shownIconId_));
  }
  tray_->setToolTip(QString::fromStdString(trayState_.Tip()));
}

void QtShell::RemoveTrayIcon() {
  trayState_.SetChangeHandler(nullptr);
  if (filtering_) {
    QCoreApplication::instance()->removeNativeEventFilter(this);
    filtering_ = false;
  }
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
