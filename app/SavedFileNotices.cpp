#include "app/SavedFileNotices.h"

namespace framory {

SavedFileNotice DescribeSavedFile(const std::string& path) {
  SavedFileNotice notice;
  const std::size_t slash = path.find_last_of('/');
  std::string name = path;
  notice.Folder.assign(1, slash == 0 ? '/' : '.');
  if (slash != std::string::npos) {
    name = path.substr(slash + 1);
    if (slash > 0) notice.Folder = path.substr(0, slash);
  }
  notice.Summary = "Framory saved " + name;
  notice.Body = name + " is in " + notice.Folder;
  return notice;
}

}  // namespace framory
