#include "app/Launchers.h"

#include <unistd.h>

#include <sys/stat.h>
#include <cctype>
#include <climits>

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

std::optional<FailureBox> Launchers::OpenHelp() {
  const std::string page = ProgramFileWithExtension(programPath_, ".html");
  if (!page.empty() && desktop_.OpenPath(page)) return std::nullopt;
  return FailureBox{"Unable to open Framory.html", "Unable to Open Help File", kErrorSystemModal};
}

std::optional<FailureBox> Launchers::OpenTutorial() {
  const std::string movie = ProgramFileWithExtension(programPath_, ".wmv");
  if (!movie.empty() && desktop_.OpenPath(movie)) return std::nullopt;
  return FailureBox{"Unable to open Framory.wmv", "Unable to Open Tutorial File",
                    kErrorSystemModal};
}

std::optional<FailureBox> Launchers::StartVideoEditor() {
  if (StartFirstFound(VideoEditors())) return std::nullopt;
  return FailureBox{
      "Windows Movie Maker ships with with Windows XP.\nIt allows you to split, combine and trim "
      "clips.\nYou can download and install it from Microsoft's web site.",
      "Unable to run Windows Movie Maker from C:\\Program Files\\Movie Maker\\moviemk.exe",
      kInformationSystemModal};
}

void Launchers::StartVolumeControl() { StartFirstFound(VolumeControls()); }

void Launchers::OpenMouseSettings() { StartFirstFound(MouseSettings()); }

const std::vector<OutsideProgram>& Launchers::VolumeControls() {
  static const std::vector<OutsideProgram> programs{{"pavucontrol", {}}};
  return programs;
}

const std::vector<OutsideProgram>& Launchers::VideoEditors() {
  static const std::vector<OutsideProgram> programs{
      {"shotcut", {}}, {"kdenlive", {}}, {"openshot-qt", {}}, {"pitivi", {}}};
  return programs;
}

const std::vector<OutsideProgram>& Launchers::MouseSettings() {
  static const std::vector<OutsideProgram> programs{
      {"gnome-control-center", {"mouse"}}, {"xfce4-mouse-settings", {}}, {"lxinput", {}}};
  return programs;
}

bool Launchers::StartFirstFound(const std::vector<OutsideProgram>& candidates) {
  for (const OutsideProgram& program : candidates) {
    const std::string path = FindOnSearchPath(program.Name, searchPath_);
    if (!path.empty()) return desktop_.StartProgram(path, program.Arguments);
  }
  return false;
}

}  // namespace framory
