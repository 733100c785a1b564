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

namespace sorrel {

namespace {

QString Utf8(const std::string& text) { return QString::fromStdString(text); }
QString Utf8(const char* text) { return QString::fromUtf8(text); }

class UserStore : public SettingsStore {
 public:
  DownloadSettings Load() override { return DownloadSettings::Load(); }
  bool Save(const DownloadSettings& settings) override { return settings.Save(); }
};

}  // namespace

DownloadSettings DownloadSettings::Load() {
  QSettings store(QSettings::IniFormat, QSettings::UserScope, "sorrel-resolver", "sorrel-resolver");
  return {store.value("aria2/address").toString().toStdString(),
          store.value("aria2/secret").toString().toStdString(),
          store.value("aria2/folder").toString().toStdString(),
          store.value("links/sendToAria2", false).toBool()};
}

bool DownloadSettings::Save() const {
  QSettings store(QSettings::IniFormat, QSettings::UserScope, "sorrel-resolver", "sorrel-resolver");
  // Private before the secret goes in, and again after Qt's atomic rewrite.
  const auto privateFile = QFile::ReadOwner | QFile::WriteOwner;
  if (QFile::exists(store.fileName())) QFile::setPermissions(store.fileName(), privateFile);
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
