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

QString Utf8(const std::string& text) { return QString::fromStdString(text); }
QString Utf8(const char* text) { return QString::fromUtf8(text); }

class UserStore : public SettingsStore {
 public:
  DownloadSettings Load() override { return DownloadSettings::Load(); }
  bool Save(const DownloadSettings& settings) override { return settings.Save(); }
};

}  // namespace

DownloadSettings DownloadSettings::Load() {
  if (!OwnSettingsFile(false)) return {};
  QSettings store(SettingsPath(), QSettings::IniFormat);
  return {store.value("aria2/address").toString().toStdString(),
          store.value("aria2/secret").toString().toStdString(),
          store.value("aria2/folder").toString().toStdString(),
          store.value("links/sendToAria2", false).toBool()};
}

bool DownloadSettings::Save() const {
  // Private before the secret goes in, and again after Qt's atomic rewrite.
  if (!OwnSettingsFile(true)) return false;
  QSettings store(SettingsPath(), QSettings::IniFormat);
  const auto privateFile = QFile::ReadOwner | QFile::WriteOwner;
  store.setValue("aria2/address", Utf8(address));
  store.setValue("aria2/secret", Utf8(secret));
  store.setValue("aria2/folder", Utf8(folder));
  store.setValue("links/sendToAria2", sendOpenedLinks);
  store.sync();
  return store.status() == QSettings::NoError &&
         QFile::setPermissions(store.fileName(), privateFile);
}

SettingsStore& UserSettingsStore() {
  static UserStore store;
  return store;
}

DownloadSettingsDialog::DownloadSettingsDialog(const DownloadSettings& settings, QWidget* parent)
    : QDialog(parent),
      address_(new QLineEdit(Utf8(settings.address), this)),
      warning_(new QLabel(this)),
      secret_(new QLineEdit(Utf8(settings.secret), this)),
      folder_(new QLineEdit(Utf8(settings.folder), this)),
      sendOpenedLinks_(new QCheckBox(Utf8(settings_texts::kSendOpenedLinks), this)) {
  setObjectName("DownloadSettingsDialog");
  sendOpenedLinks_->setObjectName("SendOpenedLinks");
  sendOpenedLinks_->setChecked(settings.sendOpenedLinks);
  setWindowTitle(Utf8(settings_texts::kTitle));
  address_->setObjectName("Aria2Address");
  address_->setPlaceholderText(Utf8(settings_texts::kAddressHint));
  warning_->setObjectName("Aria2AddressInClear");
  warning_->setTextFormat(Qt::PlainText);
  warning_->setWordWrap(true);
  warning_->setStyleSheet("color: #b00000;");
  auto showWarning = [this] {
    const std::string warning = AddressWarning(address_->text().toStdString());
    warning_->setText(Utf8(warning));
    warning_->setVisible(!warning.empty());
  };
  connect(address_, &QLineEdit::textChanged, this, showWarning);
  showWarning();
  secret_->setObjectName("Aria2Secret");
  secret_->setEchoMode(QLineEdit::Password);
  folder_->setObjectName("DownloadFolder");
  folder_->setPlaceholderText(Utf8(settings_texts::kFolderHint));
  auto* browse = new QPushButton(Utf8(settings_texts::kBrowse), this);
  connect(browse, &QPushButton::clicked, this, [this] {
    const QString chosen = QFileDialog::getExistingDirectory(
        this, Utf8(settings_texts::kBrowseTitle), folder_->text());
    if (!chosen.isEmpty()) folder_->setText(chosen);
  });
  auto* folderRow = new QHBoxLayout;
  folderRow->addWidget(folder_);
  folderRow->addWidget(browse);
  auto* form = new QFormLayout(this);
  form->addRow(Utf8(settings_texts::kAddress), address_);
  form->addRow(QString(), warning_);
  form->addRow(Utf8(settings_texts::kSecret), secret_);
  form->addRow(Utf8(settings_texts::kFolder), folderRow);
  form->addRow(sendOpenedLinks_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setText(Utf8(settings_texts::kOk));
  buttons->button(QDialogButtonBox::Cancel)->setText(Utf8(settings_texts::kCancel));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  form->addRow(buttons);
  resize(460, sizeHint().height());
}

DownloadSettings DownloadSettingsDialog::Settings() const {
  return {address_->text().toStdString(), secret_->text().toStdString(),
          folder_->text().toStdString(), sendOpenedLinks_->isChecked()};
}

}  // namespace sorrel
