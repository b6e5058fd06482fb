#include "ui/OutputFormatDialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QListWidget>
#include <QPushButton>

#include "app/Launchers.h"
#include "ui/DialogServices.h"
#include "ui/DialogTemplate.h"

namespace framory {

namespace {

using K = ControlKind;

constexpr int kClose = 1;
constexpr int kList = 1005;
constexpr int kRecordSound = 1043;
constexpr int kVolumeControl = 1044;
constexpr int kHelp = 1040;

constexpr std::int32_t kImageBase = 0;
constexpr std::int32_t kMovieBase = FirstMovieOutputType;

}  // namespace

QString OutputFormatDialog::ListText(std::int32_t code) {
  switch (code) {
    case 0:
      return QStringLiteral("BMP - Microsoft Windows bitmap format image");
    case 1:
      return QStringLiteral("JPG - Joint Photographic Experts Group standard compressed image");
    case 2:
      return QStringLiteral("PCX - Paintprush tool image");
    case 3:
      return QStringLiteral("PNG - Portable Network Graphics well-compressed image");
    case 10:
      return QStringLiteral(
          "AVI - Microsoft audio-video standard using MPG4 high speed compression");
    case 11:
      return QStringLiteral("AVI - Uncompressed video. Will play in Windows animation controls.");
    case 12:
      return QStringLiteral("AVI - Using DivX codec (Codec must be installed).");
    case 13:
      return QStringLiteral("AVI - Using WMV3 Windows Media Video 9 codec.");
    case 14:
      return QStringLiteral("AVI - Using XVID codec (Codec must be installed).");
    case 15:
      return QStringLiteral("MOV - Apple QuickTime Movie (QuickTime player must be installed).");
    case 16:
      return QStringLiteral(
          "WMV - Windows Media Video file - V80_384Video for 384 Kpbs LAN (default)");
    case 17:
      return QStringLiteral(
          "WMV - Windows Media Video file - V80_56Video for 56 Kpbs dial-up modem");
    case 18:
      return QStringLiteral(
          "WMV - Windows Media Video file - V80_700PALVideo for 768 Kbps broadband");
    case 19:
      return QStringLiteral(
          "WMV - Windows Media Video file - Windows Media 9 Screen encoder (best quality)");
    default:
      return QString();
  }
}

OutputFormatDialog::OutputFormatDialog(Settings& settings, DialogServices& services,
                                       Launchers& launchers, QWidget* parent)
    : QDialog(parent), settings_(settings), services_(services), launchers_(launchers) {
  BuildDialog(
      this, QStringLiteral("Desktop Framory Output Format"), 310, 172,
      {
          {kClose, K::DefaultPushButton, "Close", 130, 151, 50, 14},
          {kList, K::ListBox, "", 7, 22, 296, 61},
          {kRecordSound, K::CheckBox, "Record Sound as Well", 15, 104, 144, 10},
          {kVolumeControl, K::PushButton, "Volume Control..", 222, 102, 71, 14},
          {kHelp, K::PushButton, "Help and Tutorials...", 7, 151, 84, 14},
          {kNoControlId, K::Static, "Please Select the Output Format to be Used:", 82, 11, 144, 8},
          {kNoControlId, K::GroupBox, "Sound", 7, 91, 296, 53},
          {kNoControlId, K::Static,
           "If you use a microphone, be sure to use the volume control to un-mute \"Line "
           "In\"",
           15, 118, 256, 8},
          {kNoControlId, K::Static, "and set its volume to above zero.", 15, 128, 108, 8},
      });
  setModal(true);

  auto* list = FindControlAs<QListWidget>(this, kList);
  auto* sound = FindControlAs<QCheckBox>(this, kRecordSound);
  filling_ = true;
  list->clear();
  const std::int32_t type = settings_.OutputType();
  if (type >= FirstMovieOutputType) {
    for (std::int32_t code = kMovieBase; code <= ScreenEncoderOutputType; ++code) {
      list->addItem(ListText(code));
    }
    if (type == BroadcastOutputType) {
      list->setCurrentRow(ScreenEncoderOutputType - kMovieBase);
      list->setEnabled(false);
    } else {
      list->setCurrentRow(type - kMovieBase);
    }
    sound->setChecked(settings_.RecordSound());
    sound->setEnabled(SoundAllowedFor(type));
  } else {
    for (std::int32_t code = kImageBase; code <= OutputTypes::Png; ++code) {
      list->addItem(ListText(code));
    }
    list->setCurrentRow(type - kImageBase);
    sound->setEnabled(SoundAllowedFor(type));
  }
  filling_ = false;

  connect(list, &QListWidget::currentRowChanged, this, [this] { SelectionChanged(); });
  connect(sound, &QCheckBox::clicked, this, [this, sound] {
    settings_.SetRecordSound(!settings_.RecordSound());
    sound->setChecked(settings_.RecordSound());
  });
  connect(FindControlAs<QPushButton>(this, kClose), &QPushButton::clicked, this,
          [this] { done(1); });
  connect(FindControlAs<QPushButton>(this, kVolumeControl), &QPushButton::clicked, this,
          [this] { launchers_.StartVolumeControl(); });
  connect(FindControlAs<QPushButton>(this, kHelp), &QPushButton::clicked, this,
          [this] { services_.ShowFailure(launchers_.OpenHelp()); });
  CenterOnScreen(this);
}

void OutputFormatDialog::SelectionChanged() {
  if (filling_) return;
  const int position = FindControlAs<QListWidget>(this, kList)->currentRow();
  if (position < 0) return;
  if (settings_.OutputType() < FirstMovieOutputType) {
    settings_.SetOutputType(kImageBase + position);
  } else {
    settings_.SetOutputType(kMovieBase + position);
    if (!SoundAllowedFor(settings_.OutputType())) settings_.SetRecordSound(false);
    SetSoundBox();
  }
  services_.EndClip();
  services_.ForgetResizedWindow();
}

void OutputFormatDialog::SetSoundBox() {
  auto* sound = FindControlAs<QCheckBox>(this, kRecordSound);
  sound->setEnabled(SoundAllowedFor(settings_.OutputType()));
  sound->setChecked(settings_.RecordSound());
}

void OutputFormatDialog::closeEvent(QCloseEvent* event) { event->ignore(); }

}  // namespace framory
