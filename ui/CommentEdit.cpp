#include "ui/CommentEdit.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextList>

namespace framory {

CommentEdit::CommentEdit(QWidget* parent) : QTextEdit(parent) {
  setAcceptRichText(true);
  setLineWrapMode(QTextEdit::WidgetWidth);
  // The window is recorded with everything it shows, so it shows no scroll
  // bars; the text still scrolls to follow the caret and the wheel.
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  // Tabs stop every half inch (720 twips), as rich text lays them out by
  // default, in pixels of this screen; the help text's columns rely on it.
  const int dpi = logicalDpiX() > 0 ? logicalDpiX() : 96;
  setTabStopDistance(dpi / 2.0);
  setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  // The window's own popup menu replaces the edit's.
  setContextMenuPolicy(Qt::PreventContextMenu);
}

void CommentEdit::ToggleBullets() {
  QTextCursor cursor = textCursor();
  QTextDocument* doc = document();
  const QTextBlock first = doc->findBlock(cursor.selectionStart());
  const QTextBlock last = doc->findBlock(cursor.selectionEnd());
  cursor.beginEditBlock();
  if (first.textList() != nullptr) {
    for (QTextBlock block = first; block.isValid(); block = block.next()) {
      if (QTextList* list = block.textList()) {
        list->remove(block);
        QTextCursor at(block);
        QTextBlockFormat format = block.blockFormat();
        format.setIndent(0);
        at.setBlockFormat(format);
      }
      if (block == last) break;
    }
  } else {
    QTextCursor at(first);
    QTextList* list = at.createList(QTextListFormat::ListDisc);
    for (QTextBlock block = first.next();
         block.isValid() && block.blockNumber() <= last.blockNumber(); block = block.next()) {
      list->add(block);
    }
  }
  cursor.endEditBlock();
}

void CommentEdit::ToggleVerticalAlignment(QTextCharFormat::VerticalAlignment alignment) {
  QTextCharFormat change;
  change.setVerticalAlignment(currentCharFormat().verticalAlignment() == alignment
                                  ? QTextCharFormat::AlignNormal
                                  : alignment);
  mergeCurrentCharFormat(change);
}

void CommentEdit::SetLineSpacing(int percent) {
  QTextBlockFormat change;
  if (percent == 100) {
    change.setLineHeight(100, QTextBlockFormat::SingleHeight);
  } else {
    change.setLineHeight(percent, QTextBlockFormat::ProportionalHeight);
  }
  QTextCursor cursor = textCursor();
  cursor.mergeBlockFormat(change);
}

void CommentEdit::keyPressEvent(QKeyEvent* event) {
  const Qt::KeyboardModifiers mods =
      event->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
  const int key = event->key();
  if (mods == Qt::ControlModifier) {
    switch (key) {
      case Qt::Key_E:
        setAlignment(Qt::AlignHCenter);
        return;
      case Qt::Key_R:
        setAlignment(Qt::AlignRight);
        return;
      case Qt::Key_L:
        setAlignment(Qt::AlignLeft);
        return;
      case Qt::Key_Equal:
        ToggleVerticalAlignment(QTextCharFormat::AlignSubScript);
        return;
      case Qt::Key_1:
        SetLineSpacing(100);
        return;
      case Qt::Key_2:
        SetLineSpacing(200);
        return;
      case Qt::Key_5:
        SetLineSpacing(150);
        return;
      case Qt::Key_Insert:
        copy();
        return;
      case Qt::Key_Z:
        undo();
        return;
      default:
        break;
    }
  }
  if (mods == (Qt::ControlModifier | Qt::ShiftModifier)) {
    switch (key) {
      case Qt::Key_L:
        ToggleBullets();
        return;
      case Qt::Key_Equal:
      case Qt::Key_Plus:
        ToggleVerticalAlignment(QTextCharFormat::AlignSuperScript);
        return;
      default:
        break;
    }
  }
  if (mods == Qt::ShiftModifier && key == Qt::Key_Insert) {
    paste();
    return;
  }
  QTextEdit::keyPressEvent(event);
}

void CommentEdit::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton && rightPress_) {
    rightPress_(event->globalPosition().toPoint());
    QTextEdit::mousePressEvent(event);
    // Handled here: the window around must not see it as a click of its own.
    event->accept();
    return;
  }
  QTextEdit::mousePressEvent(event);
}

}  // namespace framory
