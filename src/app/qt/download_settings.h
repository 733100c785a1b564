// The download settings' dialog over Qt Widgets. The settings themselves are
// kept with QSettings in the user's configuration folder; the file holds the
// secret, so it is the user's alone (0600).
#pragma once

#include <QDialog>

#include "app/download_settings.h"

class QButtonGroup;
class QGroupBox;
class QCheckBox;
class QLabel;
class QLineEdit;
class QSpinBox;

namespace sorrel {

class DownloadSettingsDialog : public QDialog {
  Q_OBJECT

 public:
  explicit DownloadSettingsDialog(const DownloadSettings& settings, QWidget* parent = nullptr);
  DownloadSettings Settings() const;

 private:
  QGroupBox* ProxyGroup(ProxyKind kind, int port);

  QLineEdit* address_;
  QLabel* warning_;  // under the address, while it has a warning
  QLineEdit* secret_;
  QLineEdit* folder_;
  QCheckBox* sendOpenedLinks_;
  QButtonGroup* proxyKind_;  // the ids are ProxyKind values
  QLineEdit* proxyHost_;
  QSpinBox* proxyPort_;
  QLineEdit* proxyUser_;
  QLineEdit* proxyPassword_;
};

// The downloads window's layout as a line of LayoutText, kept beside the
// settings; empty when none is kept.
std::string KeptDownloadsLayout();
void KeepDownloadsLayout(const std::string& layout);

// The desktop's proxy for `address` as Qt reports it, as a proxy text of
// http/proxy.h; empty when it names none.
std::string DesktopProxy(std::string_view address);

}  // namespace sorrel
