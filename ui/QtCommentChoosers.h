// The comment window's choosers as Qt dialogs: QFontDialog with a colour row
// under it, QColorDialog with the caller's own set of custom colours (Qt
// keeps one shared set, which is loaded before and read back after each
// run), and QFileDialog for "Save As Rich Text File" and "Load File".
#pragma once

#include "ui/CommentChoosers.h"

namespace framory {

class QtCommentChoosers : public CommentChoosers {
 public:
  bool ChooseFont(QWidget* owner, const CommentFont* start, CommentFont* chosen) override;
  bool ChooseColor(QWidget* owner, CommentCustomColors& custom, std::uint32_t* chosen) override;
  bool ChooseSaveFile(QWidget* owner, const std::string& folder, std::string* path) override;
  bool ChooseOpenFile(QWidget* owner, const std::string& folder, std::string* path) override;
};

}  // namespace framory
