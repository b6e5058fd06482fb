#include "app/ClipRecovery.h"

#include <fcntl.h>
#include <unistd.h>

#include "base/UniqueFd.h"
#include "writers/AviRepair.h"
#include "writers/MovRepair.h"
#include "writers/MovSampleRecord.h"

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

enum class Repair { Repaired, Nothing, Unrepairable, WriteFailed };

template <typename Outcome>
Repair From(Outcome outcome) {
  switch (outcome) {
    case Outcome::Repaired:
      return Repair::Repaired;
    case Outcome::WriteFailed:
      return Repair::WriteFailed;
    case Outcome::Unrepairable:
      return Repair::Unrepairable;
    case Outcome::Complete:
    case Outcome::NoFile:
      break;
  }
  return Repair::Nothing;
}

// A QuickTime movie of this program, by its first bytes; anything else is
// taken for an AVI clip (whose repair refuses what is not one).
bool IsMovieFile(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  unsigned char head[12];
  return fd && ::pread(fd.Get(), head, sizeof head, 0) == static_cast<ssize_t>(sizeof head) &&
         MovRepair::LooksLikeMovie(head, sizeof head);
}

Repair RepairClip(const std::string& clip, const std::string& journalFolder) {
  if (!IsMovieFile(clip)) return From(AviRepair(clip).Run());
  const std::string record = MovSampleRecord::PathFor(journalFolder, clip);
  const Repair done = From(MovRepair(clip, record).Run());
  // Kept only for the next try; otherwise the record has served.
  if (done != Repair::WriteFailed) ::unlink(record.c_str());
  return done;
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
  for (const std::string& clip : journal_.TakeAbandoned()) {
    switch (RepairClip(clip, journal_.Folder())) {
      case Repair::Repaired:
        repaired.push_back(clip);
        break;
      case Repair::WriteFailed:
        // Most likely passing (a full disk): the record stays for next time.
        retried.push_back(clip);
        journal_.Leave(clip);
        break;
      case Repair::Unrepairable:
        failed.push_back(clip);
        break;
      case Repair::Nothing:
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
