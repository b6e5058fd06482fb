#include "app/ClipRecovery.h"

#include "writers/AviRepair.h"

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

void AppendList(std::string& text, const char* one, const char* many,
                const std::vector<std::string>& paths) {
  if (paths.empty()) return;
  if (!text.empty()) text += "\n\n";
  text += paths.size() == 1 ? one : many;
  for (const std::string& path : paths) text += "\n" + path;
}

}  // namespace

std::string ClipRecovery::Message(const std::vector<std::string>& repaired,
                                  const std::vector<std::string>& failed) {
  std::string text;
  AppendList(text, kRepairedOne, kRepairedMany, repaired);
  AppendList(text, kFailedOne, kFailedMany, failed);
  return text;
}

int ClipRecovery::Run() {
  std::vector<std::string> repaired, failed;
  for (const std::string& clip : journal_.TakeAbandoned()) {
    switch (AviRepair(clip).Run()) {
      case AviRepair::Outcome::Repaired:
        repaired.push_back(clip);
        break;
      case AviRepair::Outcome::Unrepairable:
      case AviRepair::Outcome::WriteFailed:
        failed.push_back(clip);
        break;
      case AviRepair::Outcome::Complete:
      case AviRepair::Outcome::NoFile:
        break;
    }
  }
  const std::string text = Message(repaired, failed);
  if (!text.empty()) {
    boxes_.Show(text, kClipRepairCaption,
                failed.empty() ? MessageBoxFlags::IconInformation : MessageBoxFlags::IconWarning);
  }
  return static_cast<int>(repaired.size());
}

}  // namespace framory
