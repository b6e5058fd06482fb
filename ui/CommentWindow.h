// The comment window: a small top-most tool window "Comment" holding rich
// text that the user places over the recorded application. Its frame can be
// drawn with a pointing arrow; while the title bar is hidden the window takes
// the shape of the framed box plus the arrow (X SHAPE through setMask). All
// commands come from a right-button popup menu. The window is created by
// CommentWindowHost and deletes itself when closed; what outlives it is in
// CommentWindowState.
#pragma once

#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "ui/CommentGeometry.h"
#include "ui/CommentWindowState.h"

class QMenu;

namespace framory {

class CommentEdit;

// What the window reads from the rest of the program.
struct CommentWindowServices {
  CommentChoosers* Choosers = nullptr;
  // The results folder: start of the file choosers and place of the backup.
  std::function<std::string()> ProjectFolder;
  // The sizes "Set Size to Movie Size" may take.
  std::function<CommentSizeSource()> SizeSource;
};

class CommentWindow : public QWidget {
 public:
  // The close command the window posts to itself.
  static constexpr int kCloseCommand = 105;
  static constexpr const char* kBackupName = "LastBackup.rtf";
  // Files loaded into the window are read whole; larger ones are refused.
  static constexpr std::int64_t kMaxLoadBytes = 64 << 20;

  CommentWindow(CommentWindowState& state, const CommentWindowServices& services);
  ~CommentWindow() override;

  // Runs a popup menu and returns the chosen command id (0: none). Tests
  // replace it; the program shows the menu at the cursor.
  using MenuRunner = std::function<int(QMenu& menu, const QPoint& global)>;
  void SetMenuRunner(MenuRunner runner) { menuRunner_ = std::move(runner); }

  // The popup menu at `global`, unless one is already open.
  void ShowMenu(const QPoint& global);
  void RunCommand(int command);

  bool TitleBarShown() const { return titleShown_; }
  void ToggleTitleBar();
  CommentEdit* Edit() const { return edit_; }
  // The arrow of the current border for the current size.
  CommentArrow Arrow() const;
  // Loads a file (RTF, else plain text) into the edit; false when it cannot
  // be read, leaving the contents as they were.
  bool LoadFile(const std::string& path);
  // Writes the contents as RTF, replacing the file only once all is written.
  bool SaveFile(const std::string& path) const;

  static std::string EmptyDocumentText();
  static std::string HelpText();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void ApplyWindowFlags();
  // The window corner a point lies in (within 8 pixels), if any.
  Qt::Edges CornerAt(const QPoint& at) const;
  void Layout();
  // Replaces the contents with `bytes` (RTF, else plain text).
  void ShowDocument(std::string_view bytes);
  void ToggleEffect(int command);
  void ChooseFont();
  void ChooseTextColor();
  void ChooseBackgroundColor();
  void StartMove();
  void GrabForMove(int triesLeft);
  void EndMove(bool keepPosition);
  void SetSizeToMovieSize();
  void SaveContents();
  void LoadContents();
  void WriteBackup() const;

  CommentWindowState& state_;
  CommentWindowServices services_;
  CommentEdit* edit_ = nullptr;
  MenuRunner menuRunner_;
  bool menuBusy_ = false;
  bool titleShown_ = false;
  bool temporaryTitleBar_ = false;
  bool moving_ = false;
  QPoint moveStart_;
  QPoint moveOffset_;
  bool dragging_ = false;
  QPoint dragOffset_;
};

}  // namespace framory
