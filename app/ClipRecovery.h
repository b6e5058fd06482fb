// At start-up: finds the movie clips that an earlier run left unfinished (a
// crash, kill -9, a power cut of the session), repairs them and tells the user
// in one box which files were repaired and which could not be. Each kind
// of clip (AVI, ASF, QuickTime...) has its own repair (writers/ClipRepair.h);
// clips that play as they were cut are only named with the repaired ones. A
// clip that cannot be written now (a full disk, a read-only file) is kept in
// the journal and tried again at the next start. Clips of which no frame reached the
// disk, and clips that turn out to be finished, are dropped silently.
#pragma once

#include <string>
#include <vector>

#include "base/MessageBoxService.h"
#include "writers/ClipJournal.h"

namespace framory {

inline constexpr const char* kClipRepairCaption = "Framory - Unfinished Movie Clip";

class ClipRecovery {
 public:
  ClipRecovery(ClipJournal& journal, MessageBoxService& boxes) : journal_(journal), boxes_(boxes) {}

  // Repairs what the journal names and shows the box when there is anything
  // to say. Returns how many clips were repaired.
  int Run();

  // The text of the box; empty when all lists are.
  static std::string Message(const std::vector<std::string>& repaired,
                             const std::vector<std::string>& failed,
                             const std::vector<std::string>& retried = {});

 private:
  ClipJournal& journal_;
  MessageBoxService& boxes_;
};

}  // namespace framory
