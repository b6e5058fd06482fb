#include "app/ClipRecovery.h"

#include "writers/ClipRepair.h"

namespace framory {

namespace {

constexpr char kRepairedOne[] =
    "The last movie clip was not finished when Framory ended. It has been repaired and keeps "
    "every frame that was written:";
constexpr char kRepairedMany[] =
    "These movie clips were not finished when Framory ended. They have been repaired and keep "
    "every frame that was written:";
constexpr char kFailedOne[] =
    "This movie clip was not finished when Framory ended and could not be repaired. It was left "
    "as it is:";
constexpr char kFailedMany[] =
    "These movie clips were not finished when Framory ended and could not be repaired. They were "
    "left as they are:";
constexpr char kRetryOne[] =
    "This movie clip was not finished when Framory ended and could not be repaired now: it cannot "
    "be written (is the disk full, or the file read-only?). Framory will try again at the next "
    "start:";
constexpr char kRetryMany[] =
    "These movie clips were not finished when Framory ended and could not be repaired now: they "
    "cannot be written (is the disk full, or are the files read-only?). Framory will try again at "
    "the next start:";

void AppendList(std::string& text, const char* one, const char* many,
                const std::vector<std::string>& paths) {
  if (paths.empty()) return;
  if (!text.empty()) text += "\n\n";
  text += paths.size() == 1 ? one : many;
  for (const std::string& path : paths) text += "\n" + path;
}

}  // namespace

std::string ClipRecovery::Message(const std::vector<std::string>& repaired,
                                  const std::vector<std::string>& failed,
                                  const std::vector<std::string>& retried) {
  std::string text;
  AppendList(text, kRepairedOne, kRepairedMany, repaired);
  AppendList(text, kRetryOne, kRetryMany, retried);
  AppendList(text, kFailedOne, kFailedMany, failed);
  return text;
}

int ClipRecovery::Run() {
  std::vector<std::string> repaired, failed, retried;
  for (const JournalledClip& clip : journal_.TakeAbandonedClips()) {
    const ClipRepairFunction repair = ClipRepairFor(clip.Kind);
    switch (repair != nullptr ? repair(clip) : ClipRepairOutcome::Unrepairable) {
      case ClipRepairOutcome::Repaired:
        repaired.push_back(clip.Path);
        break;
      case ClipRepairOutcome::WriteFailed:
        // Most likely passing (a full disk): the record stays for next time,
        // with everything the repair needs.
        retried.push_back(clip.Path);
        journal_.Leave(clip);
        break;
      case ClipRepairOutcome::Unrepairable:
        failed.push_back(clip.Path);
        break;
      case ClipRepairOutcome::Complete:
      case ClipRepairOutcome::NoFile:
        break;
    }
  }
  const std::string text = Message(repaired, failed, retried);
  if (!text.empty()) {
    const bool allRepaired = failed.empty() && retried.empty();
    boxes_.Show(text, kClipRepairCaption,
                allRepaired ? MessageBoxFlags::IconInformation : MessageBoxFlags::IconWarning);
  }
  return static_cast<int>(repaired.size());
}

}  // namespace framory
