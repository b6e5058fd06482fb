#include "app/Launchers.h"

#include <unistd.h>

#include <sys/stat.h>
#include <cctype>
#include <climits>
#include <cstdio>

#include "base/MessageBoxService.h"

namespace framory {

namespace {

constexpr std::uint32_t kErrorSystemModal =
    MessageBoxFlags::IconError | MessageBoxFlags::SystemModal;
constexpr std::uint32_t kInformationSystemModal =
    MessageBoxFlags::IconInformation | MessageBoxFlags::SystemModal;

bool IsExecutableFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::string ProgramFileWithExtension(const std::string& programPath, const std::string& extension) {
  if (programPath.empty() || programPath.size() > kMaxProgramPath) return std::string();
  std::string upper = programPath;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const std::size_t exe = upper.rfind(".EXE");
  return programPath.substr(0, exe == std::string::npos ? programPath.size() : exe) + extension;
}

std::string FindOnSearchPath(const std::string& name, const std::string& searchPath) {
  if (name.empty()) return std::string();
  if (name.find('/') != std::string::npos) return IsExecutableFile(name) ? name : std::string();
  std::size_t start = 0;
  while (true) {
    const std::size_t end = searchPath.find(':', start);
    const std::size_t length = (end == std::string::npos ? searchPath.size() : end) - start;
    // An empty entry stands for the current folder.
    std::string candidate = length == 0 ? std::string(1, '.') : searchPath.substr(start, length);
    if (candidate.back() != '/') candidate.push_back('/');
    candidate.append(name);
    if (IsExecutableFile(candidate)) return candidate;
    if (end == std::string::npos) return std::string();
    start = end + 1;
  }
}

std::string OwnProgramPath() {
  char buffer[PATH_MAX + 1];
  const ssize_t length = readlink("/proc/self/exe", buffer, PATH_MAX);
  if (length <= 0) return std::string();
  return std::string(buffer, static_cast<std::size_t>(length));
}

Launchers::Launchers(DesktopActions& desktop, std::string programPath, std::string searchPath)
    : desktop_(desktop), programPath_(std::move(programPath)), searchPath_(std::move(searchPath)) {}

// "a, b, c or d" (with `last` as the last joint) from the candidates' field.
static std::string JoinNames(const std::vector<OutsideProgram>& programs,
                             std::string OutsideProgram::*field, const char* last) {
  std::string joined;
  for (std::size_t i = 0; i < programs.size(); ++i) {
    if (i > 0) joined += i + 1 == programs.size() ? last : ", ";
    joined += programs[i].*field;
  }
  return joined;
}

FailureBox VideoEditorFailure() {
  const auto& editors = Launchers::VideoEditors();
  return FailureBox{"Framory tried " + JoinNames(editors, &OutsideProgram::Name, " and ") +
                        " on the search path; none could be started.\nA video editor allows "
                        "you to split, combine and trim clips.\nYou can install one from its "
                        "package: " +
                        JoinNames(editors, &OutsideProgram::Package, " or ") + ".",
                    "Unable to run a video editor from the search path", kInformationSystemModal};
}

std::optional<FailureBox> Launchers::OpenOrReport(const std::string& path, const FailureBox& box) {
  if (!path.empty() && desktop_.OpenPath(path, [this, box] {
        if (lateFailure_) lateFailure_(box);
      })) {
    return std::nullopt;
  }
  return box;
}

std::optional<FailureBox> Launchers::OpenHelp() {
  return OpenOrReport(
      ProgramFileWithExtension(programPath_, ".html"),
      FailureBox{"Unable to open Framory.html", "Unable to Open Help File", kErrorSystemModal});
}

std::optional<FailureBox> Launchers::OpenTutorial() {
  return OpenOrReport(
      ProgramFileWithExtension(programPath_, ".wmv"),
      FailureBox{"Unable to open Framory.wmv", "Unable to Open Tutorial File", kErrorSystemModal});
}

std::optional<FailureBox> Launchers::StartVideoEditor() {
  if (StartFirstFound(VideoEditors(), "video editor")) return std::nullopt;
  return VideoEditorFailure();
}

void Launchers::StartVolumeControl() { StartFirstFound(VolumeControls(), "volume control"); }

void Launchers::OpenMouseSettings() { StartFirstFound(MouseSettings(), "mouse settings program"); }

const std::vector<OutsideProgram>& Launchers::VolumeControls() {
  static const std::vector<OutsideProgram> programs{{"pavucontrol", {}, "pavucontrol"}};
  return programs;
}

const std::vector<OutsideProgram>& Launchers::VideoEditors() {
  static const std::vector<OutsideProgram> programs{{"shotcut", {}, "shotcut"},
                                                    {"kdenlive", {}, "kdenlive"},
                                                    {"openshot-qt", {}, "openshot-qt"},
                                                    {"pitivi", {}, "pitivi"}};
  return programs;
}

const std::vector<OutsideProgram>& Launchers::MouseSettings() {
  static const std::vector<OutsideProgram> programs{
      {"gnome-control-center", {"mouse"}, "gnome-control-center"},
      {"xfce4-mouse-settings", {}, "xfce4-settings"},
      {"lxinput", {}, "lxinput"}};
  return programs;
}

bool Launchers::StartFirstFound(const std::vector<OutsideProgram>& candidates, const char* what) {
  for (const OutsideProgram& program : candidates) {
    const std::string path = FindOnSearchPath(program.Name, searchPath_);
    if (path.empty()) continue;
    if (desktop_.StartProgram(path, program.Arguments)) return true;
    std::fprintf(stderr, "framory: could not start the %s %s\n", what, path.c_str());
    return false;
  }
  std::fprintf(stderr, "framory: no %s found on the search path (tried %s)\n", what,
               JoinNames(candidates, &OutsideProgram::Name, ", ").c_str());
  return false;
}

}  // namespace framory
