#include "ui/BroadcastTargetDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

#include "base/OutputType.h"

namespace framory {

BroadcastTargetDialog::BroadcastTargetDialog(
    const Settings& settings, std::function<bool(const Commands::ChooseBroadcastTarget&)> choose,
    QWidget* parent)
    : QDialog(parent), choose_(std::move(choose)) {
  setWindowTitle(QString::fromLatin1(kTitle));
  auto* layout = new QVBoxLayout(this);
  toViewers_ = new QRadioButton(QString::fromLatin1(kToViewers), this);
  toServer_ = new QRadioButton(QString::fromLatin1(kToServer), this);
  address_ = new QLineEdit(this);
  address_->setObjectName(QStringLiteral("streamServerAddress"));
  address_->setPlaceholderText(
      QStringLiteral("rtmp://host/app/key or srt://host:port?streamid=key"));
  address_->setEchoMode(QLineEdit::PasswordEchoOnEdit);
  address_->setMinimumWidth(360);
  address_->setText(QString::fromStdString(settings.StreamServerAddress()));
  remember_ = new QCheckBox(QString::fromLatin1(kRemember), this);
  remember_->setChecked(settings.RememberStreamServerAddress());

  layout->addWidget(toViewers_);
  auto* serverRow = new QHBoxLayout();
  serverRow->addWidget(toServer_);
  serverRow->addWidget(address_, 1);
  layout->addLayout(serverRow);
  layout->addWidget(remember_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  const bool toServer = settings.OutputType() == OutputTypes::StreamServer;
  toServer_->setChecked(toServer);
  toViewers_->setChecked(!toServer);
  connect(toServer_, &QRadioButton::toggled, this, [this] { FollowChoice(); });
  FollowChoice();
}

void BroadcastTargetDialog::FollowChoice() {
  const bool toServer = toServer_->isChecked();
  address_->setEnabled(toServer);
  remember_->setEnabled(toServer);
  if (toServer) address_->setFocus();
}

void BroadcastTargetDialog::accept() {
  Commands::ChooseBroadcastTarget choice;
  choice.ToServer = toServer_->isChecked();
  choice.Address = address_->text().trimmed().toStdString();
  choice.Remember = remember_->isChecked();
  if (choose_ && !choose_(choice)) return;
  QDialog::accept();
}

}  // namespace framory
