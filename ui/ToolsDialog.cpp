#include "ui/ToolsDialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QPushButton>

#include "app/Launchers.h"
#include "ui/DialogServices.h"
#include "ui/DialogTemplate.h"

namespace framory {

namespace {

using K = ControlKind;

constexpr int kClose = 1;
constexpr int kVideoEditor = 1045;
constexpr int kExploreResults = 1046;
constexpr int kHelp = 1057;
constexpr int kMouseSettings = 1064;
constexpr int kBareChordOnly = 1068;

}  // namespace

ToolsDialog::ToolsDialog(Settings& settings, DialogServices& services, Launchers& launchers,
                         QWidget* parent)
    : QDialog(parent), settings_(settings), services_(services), launchers_(launchers) {
  BuildDialog(
      this, QStringLiteral("Tools"), 286, 95,
      {
          {kClose, K::DefaultPushButton, "Close", 183, 60, 95, 14},
          {kVideoEditor, K::PushButton, "Windows Movie Maker..", 11, 17, 129, 14},
          {kExploreResults, K::PushButton, "Explore Results..", 7, 60, 95, 14},
          {kNoControlId, K::GroupBox, "External Tools", 7, 4, 271, 51},
          {kNoControlId, K::Static, "This allows you to edit and combine movies", 11, 34, 138, 8},
          {kNoControlId, K::Static, "and add various effects. Recommended.", 11, 43, 131, 8},
          {kHelp, K::PushButton, "Help..", 118, 60, 50, 14},
          {kMouseSettings, K::PushButton, "Change Mouse Cursor Properties..", 147, 17, 125, 14},
          // Below the buttons: whether Ctrl+Shift+<key> in other programs
          // leaves the recorder alone.
          {kBareChordOnly, K::CheckBox, "Start and pause only on Ctrl then Shift alone", 7, 80, 200,
           10},
      });
  setModal(true);

  auto onClick = [this](int id, auto action) {
    connect(FindControlAs<QPushButton>(this, id), &QPushButton::clicked, this, action);
  };
  onClick(kClose, [this] { done(1); });
  onClick(kVideoEditor, [this] {
    if (!services_.ShowFailure(launchers_.StartVideoEditor())) done(1);
  });
  onClick(kExploreResults, [this] { services_.OpenPath(settings_.ProjectFolder()); });
  onClick(kHelp, [this] { services_.ShowFailure(launchers_.OpenHelp()); });
  onClick(kMouseSettings, [this] { launchers_.OpenMouseSettings(); });
  auto* bareChord = FindControlAs<QCheckBox>(this, kBareChordOnly);
  bareChord->setChecked(settings_.BareChordOnly());
  connect(bareChord, &QCheckBox::toggled, this,
          [this](bool on) { settings_.SetBareChordOnly(on); });
  // This template is not centred on the screen: the toolkit places the
  // dialog over the options view that owns it.
}

void ToolsDialog::closeEvent(QCloseEvent* event) { event->ignore(); }

}  // namespace framory
