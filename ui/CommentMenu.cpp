#include "ui/CommentMenu.h"

#include <QMenu>

#include "ui/CommentGeometry.h"

namespace framory {

namespace {

void Item(QMenu* menu, const char* text, std::int32_t id) {
  QAction* action = menu->addAction(QString::fromLatin1(text));
  action->setData(id);
}

}  // namespace

std::unique_ptr<QMenu> BuildCommentMenu(QWidget* parent) {
  namespace C = CommentCommand;
  auto menu = std::make_unique<QMenu>(parent);
  QMenu* effect = menu->addMenu(QStringLiteral("Font Effect"));
  Item(effect, "Bold", C::Bold);
  Item(effect, "Underline", C::Underline);
  Item(effect, "Strikeout", C::Strikeout);
  Item(effect, "Italic", C::Italic);
  QMenu* size = menu->addMenu(QStringLiteral("Font Size"));
  Item(size, "0.1 \"", C::Size01);
  Item(size, "0.2 \"", C::Size02);
  Item(size, "0.25 \"", C::Size025);
  Item(size, "0.5 \"", C::Size05);
  Item(size, "0.75 \"", C::Size075);
  Item(size, "1.0 \"", C::Size10);
  Item(menu.get(), "Font..", C::Font);
  Item(menu.get(), "Font Color..", C::FontColor);
  Item(menu.get(), "BackGround Color..", C::BackgroundColor);
  menu->addSeparator();
  QMenu* border = menu->addMenu(QStringLiteral("Border Style"));
  Item(border, "None", C::BorderNone);
  border->addSeparator();
  Item(border, "Simple", C::BorderSimple);
  Item(border, "Arrow at Left, toward Top", C::BorderLeftTop);
  Item(border, "Arrow at Left, toward Bottom", C::BorderLeftBottom);
  Item(border, "Arrow at Top, toward Left", C::BorderTopLeft);
  Item(border, "Arrow at Top, toward Right", C::BorderTopRight);
  Item(border, "Arrow at Right, toward Middel", C::BorderRightMiddle);
  menu->addSeparator();
  QMenu* focus = menu->addMenu(QStringLiteral("Focus on Comment Window"));
  Item(focus, "Allow Recording of Comment Window Alone", C::AllowAlone);
  Item(focus, "Avoid Focus on Comment Window Alone", C::AvoidAlone);
  menu->addSeparator();
  Item(menu.get(), "Show or Hide Title Bar", C::ToggleTitleBar);
  Item(menu.get(), "Move Comment Window", C::Move);
  menu->addSeparator();
  Item(menu.get(), "Set Size to Movie Size", C::MovieSize);
  menu->addSeparator();
  Item(menu.get(), "Save Contents As..", C::Save);
  Item(menu.get(), "Load Contents..", C::Load);
  menu->addSeparator();
  Item(menu.get(), "Clear Contents", C::Clear);
  menu->addSeparator();
  Item(menu.get(), "Close Comment Window", C::Close);
  return menu;
}

std::int32_t CommentSizeTwips(std::int32_t command) {
  namespace C = CommentCommand;
  switch (command) {
    case C::Size01:
      return 144;
    case C::Size02:
      return 288;
    case C::Size025:
      return 360;
    case C::Size05:
      return 720;
    case C::Size075:
      return 1080;
    case C::Size10:
      return 1440;
    default:
      return 0;
  }
}

std::int32_t CommentBorderStyleOf(std::int32_t command) {
  namespace C = CommentCommand;
  switch (command) {
    case C::BorderNone:
      return CommentBorderStyle::NoBorder;
    case C::BorderSimple:
      return CommentBorderStyle::Simple;
    case C::BorderLeftTop:
      return CommentBorderStyle::ArrowLeftTowardTop;
    case C::BorderLeftBottom:
      return CommentBorderStyle::ArrowLeftTowardBottom;
    case C::BorderTopLeft:
      return CommentBorderStyle::ArrowTopTowardLeft;
    case C::BorderTopRight:
      return CommentBorderStyle::ArrowTopTowardRight;
    case C::BorderRightMiddle:
      return CommentBorderStyle::ArrowRightTowardMiddle;
    default:
      return -1;
  }
}

}  // namespace framory
