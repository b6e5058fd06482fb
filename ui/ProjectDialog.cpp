#include "ui/ProjectDialog.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QCloseEvent>
#include <QLineEdit>
#include <QPushButton>
#include <cstdio>
#include <cstdlib>

#include "app/Launchers.h"
#include "base/UniqueFd.h"
#include "ui/AboutBox.h"
#include "ui/DialogServices.h"
#include "ui/DialogTemplate.h"
#include "ui/DialogUnits.h"
#include "ui/UiState.h"

namespace framory {

namespace {

using K = ControlKind;

constexpr int kStartUsing = 1;
constexpr int kDirectoryEdit = 1000;
constexpr int kNameEdit = 1001;
constexpr int kIntroduction = 1066;
constexpr int kHelp = 1039;
constexpr int kAbout = 1056;
constexpr int kExit = 2;
constexpr int kTitle = 1024;
constexpr int kBrowse = 1038;

// The edit boxes hold at most this many characters; longer texts are refused
// rather than cut.
constexpr std::size_t kMaxText = 259;

// Shows the stored `bytes` in `edit`. A name is any string of bytes, while
// the edit box holds Unicode text: bytes that are not UTF-8 show as
// replacement characters, and stderr says so once.
void ShowStored(QLineEdit* edit, const std::string& bytes) {
  const QString text = QString::fromStdString(bytes);
  if (text.toStdString() != bytes) {
    std::fprintf(stderr,
                 "framory: %s is not UTF-8; the welcome dialog shows it with replacement "
                 "characters and keeps it as stored unless it is edited\n",
                 bytes.c_str());
  }
  edit->setText(text);
}

// The text of `edit`: the stored `bytes` themselves while the box still
// shows them unchanged, so that a name that is not UTF-8 survives the dialog.
std::string EditedOrStored(const QLineEdit* edit, const std::string& bytes) {
  const QString text = edit->text();
  return text == QString::fromStdString(bytes) ? bytes : text.toStdString();
}

}  // namespace

ProjectDialog::ProjectDialog(Settings& settings, DialogServices& services, Launchers& launchers,
                             UiState& state, QWidget* parent)
    : QDialog(parent),
      settings_(settings),
      services_(services),
      launchers_(launchers),
      state_(state) {
  BuildDialog(
      this, QStringLiteral("Desktop Framory"), 293, 163,
      {
          {kStartUsing, K::DefaultPushButton, "Start Using..", 213, 140, 73, 14},
          {kDirectoryEdit, K::Edit, "", 7, 58, 261, 14},
          {kNameEdit, K::Edit, "", 60, 76, 226, 14},
          {kIntroduction, K::PushButton, "Play Introduction..", 213, 120, 73, 14},
          {kHelp, K::PushButton, "Help and Tutorials...", 109, 120, 73, 14},
          {kAbout, K::PushButton, "About..", 109, 140, 73, 14},
          {kExit, K::PushButton, "Exit", 7, 140, 73, 14},
          {kTitle, K::StaticCentered, "Welcome to Desktop Framory!", 16, 14, 243, 9},
          {kNoControlId, K::Static, "Results Directory:", 7, 48, 58, 8},
          {kNoControlId, K::Static, "Project Name:", 7, 79, 46, 8},
          {1025, K::StaticCentered,
           "Framory will create movie clips or screenshots of your activities.", 7, 28, 279, 12},
          {1023, K::Icon, "", 264, 7, 20, 20},
          {kBrowse, K::PushButton, "..", 273, 58, 13, 14},
          {kNoControlId, K::Static,
           "Move clips and bitmaps will be stored in the results directory under the project "
           "name.",
           14, 94, 272, 8},
          {kNoControlId, K::StaticCentered,
           "If you are a first time user, be sure to review the tutorials!", 16, 106, 255, 12},
      });
  setModal(true);
  // The title font is taller than the 9 units of its static; let the text
  // show whole by giving the static the font's height.
  QWidget* title = FindControl(this, kTitle);
  title->setFont(DialogUnits::TitleFont());
  title->resize(title->width(), std::max(title->height(), title->fontMetrics().height()));

  ShowStored(FindControlAs<QLineEdit>(this, kDirectoryEdit), settings_.ProjectDirectory());
  ShowStored(FindControlAs<QLineEdit>(this, kNameEdit), settings_.ProjectName());

  for (int id : {kStartUsing, kIntroduction, kHelp, kAbout, kExit, kBrowse}) {
    connect(FindControlAs<QPushButton>(this, id), &QPushButton::clicked, this,
            [this, id] { Command(id); });
  }
  CenterOnScreen(this);
}

void ProjectDialog::Command(int id) {
  switch (id) {
    case kStartUsing:
      StartUsing();
      break;
    case kExit:
      state_.ExitRequested = true;
      done(1);
      break;
    case kBrowse:
      BrowseFolder();
      break;
    case kHelp:
      services_.ShowFailure(launchers_.OpenHelp());
      break;
    case kIntroduction:
      services_.ShowFailure(launchers_.OpenTutorial());
      break;
    case kAbout: {
      AboutBox about(services_, launchers_, this);
      about.exec();
      break;
    }
    default:
      break;
  }
}

void ProjectDialog::StartUsing() {
  std::string directory =
      EditedOrStored(FindControlAs<QLineEdit>(this, kDirectoryEdit), settings_.ProjectDirectory());
  const std::string name =
      EditedOrStored(FindControlAs<QLineEdit>(this, kNameEdit), settings_.ProjectName());
  if (!directory.empty() && directory.back() != '/') directory += '/';
  bool usable = directory.size() <= kMaxText + 1 && name.size() <= kMaxText;
  if (usable) {
    settings_.SetProjectDirectory(directory);
    settings_.SetProjectName(name);
    // An empty directory would mean whatever folder the program was started
    // in; it is refused like any folder that cannot be written.
    usable = !directory.empty();
  }
  if (usable) {
    ::mkdir(directory.c_str(), 0777);
    usable = WriteTest(directory);
  }
  // The results go into the project folder, so that folder is tested too:
  // the name must be one folder name (no "/") the file system takes, and
  // the folder must exist as a folder (not a file) and take a file.
  if (usable && !name.empty()) {
    const std::string folder = directory + name;
    usable = name.find('/') == std::string::npos;
    if (usable) {
      ::mkdir(folder.c_str(), 0777);
      usable = WriteTest(folder + "/");
    }
  }
  if (!usable) {
    services_.MessageBox("Unable to write to the project directory.", "Invalid Project Directory",
                         MessageBoxFlags::IconWarning | MessageBoxFlags::SystemModal);
    return;
  }
  done(1);
}

bool ProjectDialog::WriteTest(const std::string& directory) {
  std::string pattern = directory + "TESTXXXXXX";
  UniqueFd fd(::mkstemp(pattern.data()));
  if (!fd) return false;
  fd.Reset();
  ::unlink(pattern.c_str());
  return true;
}

void ProjectDialog::BrowseFolder() {
  std::string chosen;
  if (services_.ChooseFolder("Select Project Folder", settings_.ProjectDirectory(), &chosen) &&
      !chosen.empty()) {
    settings_.SetProjectDirectory(chosen + "/");
  }
  ShowStored(FindControlAs<QLineEdit>(this, kDirectoryEdit), settings_.ProjectDirectory());
}

void ProjectDialog::reject() { Command(kExit); }

void ProjectDialog::closeEvent(QCloseEvent* event) {
  // The window manager's close ends the dialog as "Exit" does.
  event->ignore();
  Command(kExit);
}

}  // namespace framory
