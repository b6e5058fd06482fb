// Drawing and shape: the frame is a 3-pixel olive rounded rectangle drawn
// inside the frame rectangle, the arrow an open polyline with the same pen.
// The layout (edit placement and window shape) is recomputed from the current
// size whenever the size, the border or the title bar changes, so the shape
// always matches what is painted.
//
// Moving: "Move Comment Window" shows the title bar for the move if it was
// hidden, then the window follows the pointer (and the arrow keys) until a
// click, Enter or Esc, after which a temporarily shown title bar hides again.
// A left press in the margins hands the move to the window manager, as a drag
// on the title bar would.
#include "ui/CommentWindow.h"

#include <QApplication>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QSaveFile>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <cstdlib>

#include "ui/CommentEdit.h"
#include "ui/CommentMenu.h"
#include "ui/RtfTextDocument.h"

namespace framory {

namespace {

const QColor kFrameColor(128, 128, 0);
constexpr int kFrameWidth = 3;

QRect ToQRect(const Rect& r) { return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top); }

// The system's window colour: the background of text areas.
QColor SystemWindowColor() { return QApplication::palette().color(QPalette::Base); }

}  // namespace

std::string CommentWindow::EmptyDocumentText() {
  return "{\\rtf\\ansi\\deff0{\\fonttbl{\\f0\\fswiss Arial;}{\\f1\\fdecor Symbol;}{\\f2\\fswiss "
         "Helv;}}{\\stylesheet{\\fs20 \\snext0Normal;}}\\pard\\plain \\fs20 ";
}

std::string CommentWindow::HelpText() {
  std::string text = EmptyDocumentText() +
                     "You can drag this top-most window over your application. Its contents will "
                     "then be shown in your movies or screen shots. \\par\\par{\\b Use the right "
                     "mouse button for pop-up menu.}\\par\\par ";
  const struct {
    const char* Keys;
    int Tabs;
    const char* Action;
  } lines[] = {{"Ctrl E", 3, "Center alignment"},
               {"Ctrl R", 3, "Right alignment"},
               {"Ctrl L", 3, "Left alignment"},
               {"Ctrl Shift L", 2, "Bullet points"},
               {"Ctrl =", 3, "Subscript"},
               {"Ctrl Shift =", 2, "Superscript"},
               {"Ctrl Z", 3, "Undo"},
               {"Ctrl Ins", 3, "Copy"},
               {"Shift Ins", 3, "Paste"},
               {"Ctrl 1 (or 2 or 5)", 2, "Sets line spacing."}};
  bool first = true;
  for (const auto& line : lines) {
    if (!first) text += " ";
    first = false;
    text += std::string(line.Keys) + std::string(line.Tabs, '\t') + line.Action + "\\par";
  }
  return text;
}

CommentWindow::CommentWindow(CommentWindowState& state, const CommentWindowServices& services)
    : QWidget(nullptr), state_(state), services_(services) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("Comment"));
  setWindowIcon(QIcon(QStringLiteral(":/icons/framory.png")));
  setAutoFillBackground(true);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, SystemWindowColor());
  setPalette(palette);
  setContextMenuPolicy(Qt::PreventContextMenu);
  ApplyWindowFlags();
  resize(320, 200);

  edit_ = new CommentEdit(this);
  edit_->SetRightPressHandler([this](const QPoint& global) { ShowMenu(global); });
  ShowDocument(HelpText());
  menuRunner_ = [](QMenu& menu, const QPoint& global) {
    QAction* chosen = menu.exec(global);
    return chosen != nullptr ? chosen->data().toInt() : 0;
  };
  Layout();
}

CommentWindow::~CommentWindow() = default;

void CommentWindow::ApplyWindowFlags() {
  Qt::WindowFlags flags = Qt::Tool | Qt::WindowStaysOnTopHint;
  if (!titleShown_) flags |= Qt::FramelessWindowHint;
  setWindowFlags(flags);
}

void CommentWindow::ToggleTitleBar() {
  // The window keeps its top-left corner (the window manager puts its frame
  // where the window was) and the size of its client area. The frame's size
  // is known only once the window manager has framed the window again, so
  // the outer size cannot be kept exactly.
  const QRect client = geometry();
  const bool visible = isVisible();
  titleShown_ = !titleShown_;
  ApplyWindowFlags();
  setGeometry(client);
  if (visible) show();
  Layout();
  update();
}

CommentArrow CommentWindow::Arrow() const {
  return CommentArrowFor(state_.Border, width(), height());
}

void CommentWindow::Layout() {
  const CommentBorder& border = state_.Border;
  clearMask();
  if (edit_ != nullptr) edit_->setGeometry(ToQRect(CommentEditRect(border, width(), height())));
  const CommentArrow arrow = Arrow();
  if (titleShown_ || !arrow.Exists()) return;
  QRegion shape;
  for (const Rect& r : CommentWindowShape(border, arrow, width(), height())) {
    shape += ToQRect(r);
  }
  setMask(shape);
}

void CommentWindow::paintEvent(QPaintEvent*) {
  const CommentBorder& border = state_.Border;
  if (border.Style <= CommentBorderStyle::NoBorder) return;
  QPainter painter(this);
  QPen pen(kFrameColor, kFrameWidth);
  pen.setJoinStyle(Qt::MiterJoin);
  painter.setPen(pen);
  painter.setBrush(Qt::NoBrush);
  // The pen lies wholly inside the frame rectangle.
  const QRectF frame =
      QRectF(ToQRect(CommentFrameRect(border, width(), height())))
          .adjusted(kFrameWidth / 2.0, kFrameWidth / 2.0, -kFrameWidth / 2.0, -kFrameWidth / 2.0);
  painter.drawRoundedRect(frame, 2, 2);
  const CommentArrow arrow = Arrow();
  if (arrow.Exists()) {
    const auto points = arrow.Points();
    const QPoint polyline[] = {QPoint(points[0].x, points[0].y), QPoint(points[1].x, points[1].y),
                               QPoint(points[2].x, points[2].y)};
    painter.drawPolyline(polyline, 3);
  }
}

void CommentWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Layout();
}

void CommentWindow::ShowMenu(const QPoint& global) {
  if (menuBusy_) return;
  menuBusy_ = true;
  QPointer<CommentWindow> self(this);
  int command = 0;
  {
    std::unique_ptr<QMenu> menu = BuildCommentMenu(this);
    command = menuRunner_(*menu, global);
  }
  if (self.isNull()) return;
  RunCommand(command);
  if (!self.isNull()) menuBusy_ = false;
}

void CommentWindow::RunCommand(int command) {
  namespace C = CommentCommand;
  if (const std::int32_t twips = CommentSizeTwips(command); twips > 0) {
    QTextCharFormat change;
    change.setFontPointSize(twips / 20.0);
    edit_->mergeCurrentCharFormat(change);
    return;
  }
  if (const std::int32_t style = CommentBorderStyleOf(command); style >= 0) {
    state_.Border = CommentBorderFor(style);
    Layout();
    update();
    return;
  }
  switch (command) {
    case C::Bold:
    case C::Underline:
    case C::Strikeout:
    case C::Italic:
      ToggleEffect(command);
      break;
    case C::Font:
      ChooseFont();
      break;
    case C::FontColor:
      ChooseTextColor();
      break;
    case C::BackgroundColor:
      ChooseBackgroundColor();
      break;
    case C::AllowAlone:
      state_.AllowCommentWindowAlone = true;
      break;
    case C::AvoidAlone:
      state_.AllowCommentWindowAlone = false;
      break;
    case C::ToggleTitleBar:
      ToggleTitleBar();
      break;
    case C::Move:
      StartMove();
      break;
    case C::MovieSize:
      SetSizeToMovieSize();
      break;
    case C::Save:
      SaveContents();
      break;
    case C::Load:
      LoadContents();
      break;
    case C::Clear:
      ShowDocument(EmptyDocumentText());
      break;
    case C::Close:
      // The close is posted, so that the menu's caller returns first.
      QMetaObject::invokeMethod(
          this, [this] { RunCommand(kCloseCommand); }, Qt::QueuedConnection);
      break;
    case kCloseCommand:
      close();
      break;
    default:
      break;
  }
}

void CommentWindow::ToggleEffect(int command) {
  namespace C = CommentCommand;
  // The selection's format as it reads at its first character (at the
  // insertion point when nothing is selected), with the effect inverted.
  QTextCursor cursor = edit_->textCursor();
  QTextCharFormat current = edit_->currentCharFormat();
  if (cursor.hasSelection()) {
    QTextCursor first(edit_->document());
    first.setPosition(cursor.selectionStart() + 1);
    current = first.charFormat();
  }
  QTextCharFormat change;
  switch (command) {
    case C::Bold:
      change.setFontWeight(current.fontWeight() >= QFont::DemiBold ? QFont::Normal : QFont::Bold);
      break;
    case C::Underline:
      change.setFontUnderline(!current.fontUnderline());
      break;
    case C::Strikeout:
      change.setFontStrikeOut(!current.fontStrikeOut());
      break;
    case C::Italic:
      change.setFontItalic(!current.fontItalic());
      break;
    default:
      return;
  }
  edit_->mergeCurrentCharFormat(change);
}

void CommentWindow::ChooseFont() {
  CommentFont font;
  const CommentFont* start = state_.FontChosen ? &state_.RememberedFont : nullptr;
  if (services_.Choosers == nullptr || !services_.Choosers->ChooseFont(this, start, &font)) return;
  state_.FontChosen = true;
  state_.RememberedFont = font;
  QTextCharFormat change;
  change.setFontWeight(font.Weight >= 600 ? QFont::Bold : QFont::Normal);
  change.setFontItalic(font.Italic);
  change.setFontUnderline(font.Underline);
  change.setFontStrikeOut(font.StrikeOut);
  change.setFontFamilies({QString::fromStdString(font.Face)});
  change.setForeground(QColor(QRgb(font.Color)));
  // Twips per screen pixel (whole twips, as the screen's resolution gives
  // them) times the font's pixel height.
  const int dpi = logicalDpiX() > 0 ? logicalDpiX() : 96;
  const int twips = (1440 / dpi) * std::abs(font.Height);
  if (twips > 0) change.setFontPointSize(twips / 20.0);
  edit_->mergeCurrentCharFormat(change);
}

void CommentWindow::ChooseTextColor() {
  std::uint32_t color = 0;
  if (services_.Choosers == nullptr ||
      !services_.Choosers->ChooseColor(this, state_.TextCustomColors, &color)) {
    return;
  }
  QTextCharFormat change;
  change.setForeground(QColor(QRgb(color)));
  edit_->mergeCurrentCharFormat(change);
}

void CommentWindow::ChooseBackgroundColor() {
  std::uint32_t color = 0;
  QColor background = SystemWindowColor();
  if (services_.Choosers != nullptr &&
      services_.Choosers->ChooseColor(this, state_.BackgroundCustomColors, &color)) {
    background = QColor(QRgb(color));
  }
  QPalette palette = edit_->palette();
  palette.setColor(QPalette::Base, background);
  edit_->setPalette(palette);
}

void CommentWindow::mousePressEvent(QMouseEvent* event) {
  if (moving_) {
    EndMove(true);
    return;
  }
  if (event->button() == Qt::RightButton) {
    ShowMenu(event->globalPosition().toPoint());
    return;
  }
  if (event->button() == Qt::LeftButton) {
    // Without the window manager's frame the corners stand in for its sizing
    // border; anywhere else the margins move the window as its title bar would.
    const Qt::Edges corner = CornerAt(event->position().toPoint());
    if (!titleShown_ && corner && windowHandle() != nullptr &&
        windowHandle()->startSystemResize(corner)) {
      return;
    }
    if (windowHandle() != nullptr && windowHandle()->startSystemMove()) return;
    dragging_ = true;
    dragOffset_ = event->globalPosition().toPoint() - pos();
  }
}

Qt::Edges CommentWindow::CornerAt(const QPoint& at) const {
  constexpr int kCorner = 8;
  Qt::Edges edges;
  if (at.x() < kCorner) edges |= Qt::LeftEdge;
  if (at.x() >= width() - kCorner) edges |= Qt::RightEdge;
  if (at.y() < kCorner) edges |= Qt::TopEdge;
  if (at.y() >= height() - kCorner) edges |= Qt::BottomEdge;
  const bool corner =
      (edges & (Qt::LeftEdge | Qt::RightEdge)) && (edges & (Qt::TopEdge | Qt::BottomEdge));
  return corner ? edges : Qt::Edges();
}

void CommentWindow::mouseMoveEvent(QMouseEvent* event) {
  const QPoint global = event->globalPosition().toPoint();
  if (moving_) {
    // The client area follows the pointer; move() places the frame around it.
    move(global - moveOffset_ - (geometry().topLeft() - pos()));
  } else if (dragging_) {
    move(global - dragOffset_);
  }
}

void CommentWindow::mouseReleaseEvent(QMouseEvent*) { dragging_ = false; }

void CommentWindow::keyPressEvent(QKeyEvent* event) {
  if (!moving_) {
    QWidget::keyPressEvent(event);
    return;
  }
  const int step = (event->modifiers() & Qt::ControlModifier) ? 1 : 8;
  switch (event->key()) {
    case Qt::Key_Left:
      move(pos() + QPoint(-step, 0));
      break;
    case Qt::Key_Right:
      move(pos() + QPoint(step, 0));
      break;
    case Qt::Key_Up:
      move(pos() + QPoint(0, -step));
      break;
    case Qt::Key_Down:
      move(pos() + QPoint(0, step));
      break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      EndMove(true);
      break;
    case Qt::Key_Escape:
      EndMove(false);
      break;
    default:
      break;
  }
}

void CommentWindow::StartMove() {
  temporaryTitleBar_ = false;
  if (!titleShown_) {
    ToggleTitleBar();
    temporaryTitleBar_ = true;
  }
  moving_ = true;
  moveStart_ = pos();
  moveOffset_ = QCursor::pos() - geometry().topLeft();
  GrabForMove(50);
}

// The pointer can be grabbed only once the window is mapped again after its
// frame changed; a few tries on the event loop bridge that gap.
void CommentWindow::GrabForMove(int triesLeft) {
  if (!moving_) return;
  QWindow* window = windowHandle();
  if (window != nullptr && window->isExposed() && window->setMouseGrabEnabled(true)) {
    // The widget grabs too, so that the pointer and keys come here and not
    // to the text under the pointer.
    grabMouse(Qt::SizeAllCursor);
    grabKeyboard();
    setMouseTracking(true);
    return;
  }
  if (triesLeft <= 0) {
    EndMove(true);
    return;
  }
  QPointer<CommentWindow> self(this);
  QTimer::singleShot(20, this, [self, triesLeft] {
    if (self) self->GrabForMove(triesLeft - 1);
  });
}

void CommentWindow::EndMove(bool keepPosition) {
  if (!moving_) return;
  moving_ = false;
  setMouseTracking(false);
  releaseMouse();
  releaseKeyboard();
  if (QWindow* window = windowHandle()) window->setMouseGrabEnabled(false);
  if (!keepPosition) move(moveStart_);
  if (temporaryTitleBar_ && titleShown_) ToggleTitleBar();
  temporaryTitleBar_ = false;
}

void CommentWindow::SetSizeToMovieSize() {
  if (!services_.SizeSource) return;
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  const QRect frame = frameGeometry();
  const std::optional<Rect> placed =
      CommentMovieSizePlacement(services_.SizeSource(), Point{frame.x(), frame.y()},
                                screen->geometry().width(), screen->geometry().height());
  if (!placed) return;
  // The size is the window's outer size: the client gets what the window
  // manager's frame leaves of it.
  const QSize extra = frame.size() - size();
  move(placed->left, placed->top);
  resize(QSize(placed->right - placed->left, placed->bottom - placed->top) - extra);
}

bool CommentWindow::SaveFile(const std::string& path) const {
  QSaveFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::WriteOnly)) return false;
  const std::string rtf = RtfTextDocument::SaveRtf(*edit_->document());
  if (file.write(rtf.data(), static_cast<qint64>(rtf.size())) != static_cast<qint64>(rtf.size())) {
    file.cancelWriting();
    return false;
  }
  return file.commit();
}

bool CommentWindow::LoadFile(const std::string& path) {
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxLoadBytes) return false;
  const QByteArray bytes = file.read(kMaxLoadBytes + 1);
  if (file.error() != QFileDevice::NoError || bytes.size() > kMaxLoadBytes) return false;
  ShowDocument(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
  return true;
}

void CommentWindow::ShowDocument(std::string_view bytes) {
  RtfTextDocument::Load(bytes, edit_->document());
  // New contents are shown from their first line, the caret before them.
  edit_->moveCursor(QTextCursor::Start);
}

void CommentWindow::WriteBackup() const {
  if (!services_.ProjectFolder) return;
  SaveFile(services_.ProjectFolder() + "/" + kBackupName);
}

void CommentWindow::SaveContents() {
  std::string path;
  const std::string folder = services_.ProjectFolder ? services_.ProjectFolder() : std::string();
  if (services_.Choosers == nullptr || !services_.Choosers->ChooseSaveFile(this, folder, &path)) {
    return;
  }
  // Neither result is reported.
  SaveFile(path);
  WriteBackup();
}

void CommentWindow::LoadContents() {
  std::string path;
  const std::string folder = services_.ProjectFolder ? services_.ProjectFolder() : std::string();
  if (services_.Choosers == nullptr || !services_.Choosers->ChooseOpenFile(this, folder, &path)) {
    return;
  }
  if (LoadFile(path)) WriteBackup();
}

}  // namespace framory
