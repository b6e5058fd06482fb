// Telling the user, outside any window of ours, that a clip was saved: which
// file and in which folder, with a way to open that folder. The desktop's
// notification service implements it (platform/qt); where none runs, nothing
// is shown and recording goes on as before.
#pragma once

#include <string>

namespace framory {

class SavedFileNotices {
 public:
  virtual ~SavedFileNotices() = default;
  // `path` (an existing file) has been saved.
  virtual void FileSaved(const std::string& path) = 0;
};

// The notice's texts: the summary names the file, the body its folder.
struct SavedFileNotice {
  std::string Summary;
  std::string Body;
  std::string Folder;
};
SavedFileNotice DescribeSavedFile(const std::string& path);

}  // namespace framory
