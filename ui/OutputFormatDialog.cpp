#include "ui/OutputFormatDialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <algorithm>

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
constexpr int kSoundSource = 1069;

// The row a type without one of its own (the broadcast) is shown on, greyed.
constexpr std::int32_t kBroadcastShownAs = ScreenEncoderOutputType;

}  // namespace

QString OutputFormatDialog::ListText(std::int32_t code) {
  const OutputFormat* format = FindOutputFormat(code);
  if (format == nullptr || format->ListText == nullptr) return QString();
  return QString::fromUtf8(format->ListText);
}

std::vector<std::int32_t> OutputFormatDialog::ListedCodes(std::int32_t code) {
  const bool pictures = IsPictureOutputType(code);
  std::vector<std::int32_t> codes;
  for (const OutputFormat& format : OutputFormatTable()) {
    if (format.ListText != nullptr && (format.Family == OutputFamily::Pictures) == pictures)
      codes.push_back(format.Code);
  }
  std::sort(codes.begin(), codes.end());
  return codes;
}

OutputFormatDialog::OutputFormatDialog(Settings& settings, DialogServices& services,
                                       Launchers& launchers, QWidget* parent)
    : QDialog(parent), settings_(settings), services_(services), launchers_(launchers) {
  BuildDialog(
      this, QStringLiteral("Desktop Framory Output Format"), 310, 190,
      {
          {kClose, K::DefaultPushButton, "Close", 130, 169, 50, 14},
          {kList, K::ListBox, "", 7, 22, 296, 61},
          {kRecordSound, K::CheckBox, "Record Sound as Well", 15, 104, 144, 10},
          {kVolumeControl, K::PushButton, "Volume Control..", 222, 102, 71, 14},
          {kNoControlId, K::Static, "Sound from:", 25, 120, 44, 8},
          {kSoundSource, K::DropDownList, "", 72, 118, 100, 12},
          {kHelp, K::PushButton, "Help and Tutorials...", 7, 169, 84, 14},
          {kNoControlId, K::Static, "Please Select the Output Format to be Used:", 82, 11, 144, 8},
          {kNoControlId, K::GroupBox, "Sound", 7, 91, 296, 71},
          {kNoControlId, K::Static,
           "If you use a microphone, be sure to use the volume control to un-mute \"Line "
           "In\"",
           15, 136, 256, 8},
          {kNoControlId, K::Static, "and set its volume to above zero.", 15, 146, 108, 8},
      });
  setModal(true);

  auto* list = FindControlAs<QListWidget>(this, kList);
  auto* sound = FindControlAs<QCheckBox>(this, kRecordSound);
  auto* source = FindControlAs<QComboBox>(this, kSoundSource);
  filling_ = true;
  // Entries in the order of the stored values.
  source->addItems(
      {QStringLiteral("Microphone"), QStringLiteral("Desktop sound"), QStringLiteral("Both")});
  source->setCurrentIndex(settings_.SoundSource());
  list->clear();
  const std::int32_t type = settings_.OutputType();
  // The list box sorts its entries by text, so every entry carries its code
  // and rows are found by code, never by position.
  for (const std::int32_t code : ListedCodes(type)) {
    auto* item = new QListWidgetItem(ListText(code));
    item->setData(Qt::UserRole, code);
    list->addItem(item);
  }
  const OutputFormat* format = FindOutputFormat(type);
  const bool broadcast = format != nullptr && format->Family == OutputFamily::Broadcast;
  const std::int32_t shown = broadcast ? kBroadcastShownAs : type;
  for (int row = 0; row < list->count(); ++row) {
    if (list->item(row)->data(Qt::UserRole).toInt() == shown) list->setCurrentRow(row);
  }
  if (broadcast) list->setEnabled(false);
  // Pictures leave the sound box as it is; movies show the setting.
  if (!IsPictureOutputType(type)) sound->setChecked(settings_.RecordSound());
  sound->setEnabled(SoundAllowedFor(type));
  SetSourceBox();
  filling_ = false;

  connect(list, &QListWidget::currentRowChanged, this, [this] { SelectionChanged(); });
  connect(sound, &QCheckBox::clicked, this, [this, sound] {
    settings_.SetRecordSound(!settings_.RecordSound());
    sound->setChecked(settings_.RecordSound());
    SetSourceBox();
  });
  connect(source, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (!filling_ && index >= 0) settings_.SetSoundSource(index);
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
  const QListWidgetItem* item = FindControlAs<QListWidget>(this, kList)->currentItem();
  if (item == nullptr) return;
  settings_.SetOutputType(item->data(Qt::UserRole).toInt());
  if (!IsPictureOutputType(settings_.OutputType())) {
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
  SetSourceBox();
}

// Where the sound comes from matters only while sound is recorded.
void OutputFormatDialog::SetSourceBox() {
  const auto* sound = FindControlAs<QCheckBox>(this, kRecordSound);
  FindControlAs<QComboBox>(this, kSoundSource)
      ->setEnabled(sound->isEnabled() && sound->isChecked());
}

void OutputFormatDialog::closeEvent(QCloseEvent* event) { event->ignore(); }

}  // namespace framory
