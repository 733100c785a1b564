#include "app/qt/download_settings.h"

#include <fcntl.h>
#include <unistd.h>

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
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "download/aria2_client.h"
#include "support/user_dirs_posix.h"

namespace sorrel {

namespace {

// Where Qt keeps an application's settings in IniFormat for the user.
QString SettingsPath() {
  return QFile::decodeName(UserConfigFolder().c_str()) +
         QStringLiteral("/sorrel-resolver/sorrel-resolver.ini");
}

// True when the settings file may be read or written: the user's own
// regular file, never through a link; `create` makes it, 0600 in a 0700
// folder, so that Qt's atomic rewrite keeps those permissions. The reason
// goes to standard error otherwise.
bool OwnSettingsFile(bool create) {
  const std::string file = QFile::encodeName(SettingsPath()).toStdString();
  std::string why;
  if (create && !MakePrivateFolder(ParentFolder(file), &why)) {
    std::fprintf(stderr, "sorrel-resolver: %s\n", why.c_str());
    return false;
  }
  const int fd = OpenPrivateFile(file, create ? O_RDONLY | O_CREAT : O_RDONLY, &why);
  if (fd >= 0) {
    close(fd);
    return true;
  }
  if (errno == ENOENT && !create) return true;
  if (why.empty()) why = "无法打开设置文件 " + file + "：" + std::strerror(errno) + "。";
  std::fprintf(stderr, "sorrel-resolver: %s\n", why.c_str());
  return false;
}

}  // namespace

DownloadSettings DownloadSettings::Load() {
  if (!OwnSettingsFile(false)) return {};
  QSettings store(SettingsPath(), QSettings::IniFormat);
  return {store.value("aria2/address").toString(), store.value("aria2/secret").toString(),
          store.value("aria2/folder").toString(), store.value("links/sendToAria2", false).toBool()};
}

bool DownloadSettings::Save() const {
  // Private before the secret goes in, and again after Qt's atomic rewrite.
  if (!OwnSettingsFile(true)) return false;
  QSettings store(SettingsPath(), QSettings::IniFormat);
  const auto privateFile = QFile::ReadOwner | QFile::WriteOwner;
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
