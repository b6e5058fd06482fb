// Starting things outside the program: the help page and the tutorial movie
// that ship beside the program file, and the desktop's own programs that the
// tools stand for (volume control, video editor, mouse settings), found on the
// search path. Each launcher answers with the message box to show when it
// failed, so that the dialog that asked shows it over itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace framory {

// The desktop side of launching; the Qt implementation uses xdg-open.
class DesktopActions {
 public:
  virtual ~DesktopActions() = default;
  // Opens a file or folder with its default application. False when the path
  // does not exist or the opener could not be started. When the opener ran
  // but the desktop had nothing to open the path with, `failed` runs later,
  // from the event loop.
  virtual bool OpenPath(const std::string& path, std::function<void()> failed = {}) = 0;
  // Starts `program` with `arguments`, not waiting for it. False when it
  // could not be started.
  virtual bool StartProgram(const std::string& program,
                            const std::vector<std::string>& arguments) = 0;
};

struct FailureBox {
  std::string Text;
  std::string Caption;
  std::uint32_t Style = 0;  // icon and modality bits of the message box
};

// One outside program: its name on the search path and its arguments.
struct OutsideProgram {
  std::string Name;
  std::vector<std::string> Arguments;
  std::string Package;  // the Debian package that provides it
};

// Longest program path the launchers accept; a longer one is refused.
inline constexpr std::size_t kMaxProgramPath = 259;

// `programPath` cut before its last ".EXE" (found case-blind, the original
// case kept) followed by `extension`; the whole path when there is no
// ".EXE". Empty when the path is empty or longer than kMaxProgramPath.
std::string ProgramFileWithExtension(const std::string& programPath, const std::string& extension);

// The first folder of `searchPath` (colon-separated, an empty entry meaning
// the current folder) holding an executable file `name`, joined with it;
// empty when none does. A name holding "/" is taken as a path as it is.
std::string FindOnSearchPath(const std::string& name, const std::string& searchPath);

// The path of the running program file.
std::string OwnProgramPath();

class Launchers {
 public:
  Launchers(DesktopActions& desktop, std::string programPath, std::string searchPath);

  // Shows the box of a help or tutorial launcher whose opener failed after
  // the launcher had returned (nothing on the desktop opens the file).
  void SetLateFailureHandler(std::function<void(const FailureBox&)> handler) {
    lateFailure_ = std::move(handler);
  }

  std::optional<FailureBox> OpenHelp();
  std::optional<FailureBox> OpenTutorial();
  // A video editor stands for Windows Movie Maker.
  std::optional<FailureBox> StartVideoEditor();
  // Failures of these are silent by design.
  void StartVolumeControl();
  void OpenMouseSettings();

  static const std::vector<OutsideProgram>& VolumeControls();
  static const std::vector<OutsideProgram>& VideoEditors();
  static const std::vector<OutsideProgram>& MouseSettings();

 private:
  // Starts the first candidate found on the search path; when none starts,
  // one stderr line names `what` and the candidates tried.
  bool StartFirstFound(const std::vector<OutsideProgram>& candidates, const char* what);
  // Opens `path`; `box` when it cannot be opened, now or later.
  std::optional<FailureBox> OpenOrReport(const std::string& path, const FailureBox& box);

  DesktopActions& desktop_;
  std::string programPath_;
  std::string searchPath_;
  std::function<void(const FailureBox&)> lateFailure_;
};

// The text and caption of the box shown when no video editor could be
// started: the editors tried and the packages that provide them.
FailureBox VideoEditorFailure();

}  // namespace framory
