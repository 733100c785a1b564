#include "app/qt/download_settings.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>

#include "download/aria2_client.h"

namespace sorrel {

DownloadSettings DownloadSettings::Load() {
  QSettings store(QSettings::IniFormat, QSettings::UserScope, "sorrel-resolver", "sorrel-resolver");
  return {store.value("aria2/address").toString(), store.value("aria2/secret").toString(),
          store.value("aria2/folder").toString(), store.value("links/sendToAria2", false).toBool()};
}

bool DownloadSettings::Save() const {
  QSettings store(QSettings::IniFormat, QSettings::UserScope, "sorrel-resolver", "sorrel-resolver");
  // Private before the secret goes in, and again after Qt's atomic rewrite.
  const auto privateFile = QFile::ReadOwner | QFile::WriteOwner;
  if (QFile::exists(store.fileName())) QFile::setPermissions(store.fileName(), privateFile);
  store.setValue("aria2/address", address.trimmed());
  store.setValue("aria2/secret", secret);
  store.setValue("aria2/folder", folder.trimmed());
  store.setValue("links/sendToAria2", sendOpenedLinks);
  store.sync();
  return store.status() == QSettings::NoError &&
         QFile::setPermissions(store.fileName(), privateFile);
}

DownloadSettingsDialog::DownloadSettingsDialog(const DownloadSettings& settings, QWidget* parent)
    : QDialog(parent),
      address_(new QLineEdit(settings.address, this)),
      inClear_(new QLabel(QString::fromStdString(Aria2InClearWarning()), this)),
      secret_(new QLineEdit(settings.secret, this)),
      folder_(new QLineEdit(settings.folder, this)),
      sendOpenedLinks_(new QCheckBox(
          QString::fromUtf8("从别处打开的迅雷、快车、qqdl 链接直接交给 aria2 下载"), this)) {
  sendOpenedLinks_->setObjectName("SendOpenedLinks");
  sendOpenedLinks_->setChecked(settings.sendOpenedLinks);
  setWindowTitle(QString::fromUtf8("aria2 下载设置"));
  address_->setObjectName("Aria2Address");
  address_->setPlaceholderText(QString::fromUtf8("留空时启动本工具自己的 aria2c"));
  inClear_->setObjectName("Aria2AddressInClear");
  inClear_->setTextFormat(Qt::PlainText);
  inClear_->setWordWrap(true);
  inClear_->setStyleSheet("color: #b00000;");
  auto showInClear = [this] {
    inClear_->setVisible(Aria2AddressInClear(address_->text().trimmed().toStdString()));
  };
  connect(address_, &QLineEdit::textChanged, this, showInClear);
  showInClear();
  secret_->setObjectName("Aria2Secret");
  secret_->setEchoMode(QLineEdit::Password);
  folder_->setObjectName("DownloadFolder");
  folder_->setPlaceholderText(QString::fromUtf8("留空时使用用户的下载文件夹"));
  auto* browse = new QPushButton(QString::fromUtf8("浏览..."), this);
  connect(browse, &QPushButton::clicked, this, [this] {
    const QString chosen =
        QFileDialog::getExistingDirectory(this, QString::fromUtf8("下载文件夹"), folder_->text());
    if (!chosen.isEmpty()) folder_->setText(chosen);
  });
  auto* folderRow = new QHBoxLayout;
  folderRow->addWidget(folder_);
  folderRow->addWidget(browse);
  auto* form = new QFormLayout(this);
  form->addRow(QString::fromUtf8("aria2 RPC 地址："), address_);
  form->addRow(QString(), inClear_);
  form->addRow(QString::fromUtf8("RPC 密钥："), secret_);
  form->addRow(QString::fromUtf8("下载文件夹："), folderRow);
  form->addRow(sendOpenedLinks_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setText(QString::fromUtf8("确定"));
  buttons->button(QDialogButtonBox::Cancel)->setText(QString::fromUtf8("取消"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  form->addRow(buttons);
  resize(460, sizeHint().height());
}

DownloadSettings DownloadSettingsDialog::Settings() const {
  return {address_->text(), secret_->text(), folder_->text(), sendOpenedLinks_->isChecked()};
}

}  // namespace sorrel
