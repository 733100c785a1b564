#include "app/qt/download_settings.h"

#include <fcntl.h>
#include <unistd.h>

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkProxyFactory>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSpinBox>
#include <QUrl>
#include <QVBoxLayout>
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

constexpr const char* kKindNames[] = {"direct", "system", "http", "socks5"};

ProxyKind KindNamed(const QString& name) {
  for (int i = 0; i < 4; ++i) {
    if (name == QLatin1String(kKindNames[i])) return static_cast<ProxyKind>(i);
  }
  return ProxyKind::kDirect;
}

class UserStore : public SettingsStore {
 public:
  DownloadSettings Load() override { return DownloadSettings::Load(); }
  bool Save(const DownloadSettings& settings) override { return settings.Save(); }
};

}  // namespace

DownloadSettings DownloadSettings::Load() {
  if (!OwnSettingsFile(false)) return {};
  QSettings store(SettingsPath(), QSettings::IniFormat);
  ProxySetting proxy;
  proxy.kind = KindNamed(store.value("proxy/kind").toString());
  proxy.host = store.value("proxy/host").toString().toStdString();
  proxy.port = store.value("proxy/port", 0).toInt();
  proxy.user = store.value("proxy/user").toString().toStdString();
  proxy.password = store.value("proxy/password").toString().toStdString();
  return {store.value("aria2/address").toString().toStdString(),
          store.value("aria2/secret").toString().toStdString(),
          store.value("aria2/folder").toString().toStdString(),
          store.value("links/sendToAria2", false).toBool(), proxy};
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
  store.setValue("proxy/kind", kKindNames[static_cast<int>(proxy.kind)]);
  store.setValue("proxy/host", Utf8(proxy.host));
  store.setValue("proxy/port", proxy.port);
  store.setValue("proxy/user", Utf8(proxy.user));
  store.setValue("proxy/password", Utf8(proxy.password));
  store.sync();
  return store.status() == QSettings::NoError &&
         QFile::setPermissions(store.fileName(), privateFile);
}

std::string KeptDownloadsLayout() {
  if (!OwnSettingsFile(false)) return {};
  return QSettings(SettingsPath(), QSettings::IniFormat)
      .value("downloads/layout")
      .toString()
      .toStdString();
}

void KeepDownloadsLayout(const std::string& layout) {
  if (!OwnSettingsFile(true)) return;
  QSettings store(SettingsPath(), QSettings::IniFormat);
  store.setValue("downloads/layout", Utf8(layout));
  store.sync();
  QFile::setPermissions(store.fileName(), QFile::ReadOwner | QFile::WriteOwner);
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
      sendOpenedLinks_(new QCheckBox(Utf8(settings_texts::kSendOpenedLinks), this)),
      proxyKind_(new QButtonGroup(this)),
      proxyHost_(new QLineEdit(Utf8(settings.proxy.host), this)),
      proxyPort_(new QSpinBox(this)),
      proxyUser_(new QLineEdit(Utf8(settings.proxy.user), this)),
      proxyPassword_(new QLineEdit(Utf8(settings.proxy.password), this)) {
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
  form->addRow(ProxyGroup(settings.proxy.kind, settings.proxy.port));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setText(Utf8(settings_texts::kOk));
  buttons->button(QDialogButtonBox::Cancel)->setText(Utf8(settings_texts::kCancel));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  // A proxy without a host would leave the road unknown.
  auto okWhenComplete = [this, buttons] {
    const auto kind = static_cast<ProxyKind>(proxyKind_->checkedId());
    const bool own = kind == ProxyKind::kHttp || kind == ProxyKind::kSocks5;
    for (QWidget* field : {static_cast<QWidget*>(proxyHost_), static_cast<QWidget*>(proxyPort_)}) {
      field->setEnabled(own);
    }
    proxyUser_->setEnabled(kind == ProxyKind::kHttp);
    proxyPassword_->setEnabled(kind == ProxyKind::kHttp);
    buttons->button(QDialogButtonBox::Ok)
        ->setEnabled(!own || !proxyHost_->text().trimmed().isEmpty());
  };
  connect(proxyKind_, &QButtonGroup::idClicked, this, okWhenComplete);
  connect(proxyHost_, &QLineEdit::textChanged, this, okWhenComplete);
  okWhenComplete();
  form->addRow(buttons);
  resize(460, sizeHint().height());
}

QGroupBox* DownloadSettingsDialog::ProxyGroup(ProxyKind kind, int port) {
  auto* group = new QGroupBox(Utf8(settings_texts::kProxy), this);
  group->setObjectName("Proxy");
  auto* column = new QVBoxLayout(group);
  const std::pair<ProxyKind, const char*> choices[] = {
      {ProxyKind::kDirect, settings_texts::kProxyDirect},
      {ProxyKind::kSystem, settings_texts::kProxySystem},
      {ProxyKind::kHttp, settings_texts::kProxyHttp},
      {ProxyKind::kSocks5, settings_texts::kProxySocks}};
  for (const auto& [choice, text] : choices) {
    auto* button = new QRadioButton(Utf8(text), group);
    button->setObjectName(QStringLiteral("Proxy_") + kKindNames[static_cast<int>(choice)]);
    button->setChecked(choice == kind);
    proxyKind_->addButton(button, static_cast<int>(choice));
    column->addWidget(button);
  }
  proxyHost_->setObjectName("ProxyHost");
  proxyPort_->setObjectName("ProxyPort");
  proxyPort_->setRange(1, 65535);
  proxyPort_->setValue(port > 0 ? port : 8080);
  proxyUser_->setObjectName("ProxyUser");
  proxyPassword_->setObjectName("ProxyPassword");
  proxyPassword_->setEchoMode(QLineEdit::Password);
  auto* fields = new QFormLayout;
  auto* hostRow = new QHBoxLayout;
  hostRow->addWidget(proxyHost_, 1);
  hostRow->addWidget(new QLabel(Utf8(settings_texts::kProxyPort), group));
  hostRow->addWidget(proxyPort_);
  fields->addRow(Utf8(settings_texts::kProxyHost), hostRow);
  fields->addRow(Utf8(settings_texts::kProxyUser), proxyUser_);
  fields->addRow(Utf8(settings_texts::kProxyPassword), proxyPassword_);
  column->addLayout(fields);
  return group;
}

DownloadSettings DownloadSettingsDialog::Settings() const {
  ProxySetting proxy;
  proxy.kind = static_cast<ProxyKind>(proxyKind_->checkedId());
  if (proxy.kind == ProxyKind::kHttp || proxy.kind == ProxyKind::kSocks5) {
    proxy.host = proxyHost_->text().toStdString();
    proxy.port = proxyPort_->value();
  }
  if (proxy.kind == ProxyKind::kHttp) {
    proxy.user = proxyUser_->text().toStdString();
    if (!proxy.user.empty()) proxy.password = proxyPassword_->text().toStdString();
  }
  return {address_->text().toStdString(), secret_->text().toStdString(),
          folder_->text().toStdString(), sendOpenedLinks_->isChecked(), proxy};
}

std::string DesktopProxy(std::string_view address) {
  const QNetworkProxyQuery query(
      QUrl(QString::fromUtf8(address.data(), static_cast<int>(address.size()))));
  for (const QNetworkProxy& found : QNetworkProxyFactory::systemProxyForQuery(query)) {
    ProxySetting proxy;
    if (found.type() == QNetworkProxy::HttpProxy) {
      proxy.kind = ProxyKind::kHttp;
      proxy.user = found.user().toStdString();
      proxy.password = found.password().toStdString();
    } else if (found.type() == QNetworkProxy::Socks5Proxy) {
      proxy.kind = ProxyKind::kSocks5;
    } else if (found.type() == QNetworkProxy::NoProxy) {
      return {};
    } else {
      continue;
    }
    proxy.host = found.hostName().toStdString();
    proxy.port = found.port();
    if (proxy.host.find(':') != std::string::npos) proxy.host = "[" + proxy.host + "]";
    return ProxyText(proxy);
  }
  return {};
}

}  // namespace sorrel
