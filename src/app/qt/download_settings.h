// The download settings' dialog over Qt Widgets. The settings themselves are
// kept with QSettings in the user's configuration folder; the file holds the
// secret, so it is the user's alone (0600).
#pragma once

#include <QDialog>

#include "app/download_settings.h"

class QCheckBox;
class QLabel;
class QLineEdit;

namespace sorrel {

class DownloadSettingsDialog : public QDialog {
  Q_OBJECT

 public:
  explicit DownloadSettingsDialog(const DownloadSettings& settings, QWidget* parent = nullptr);
  DownloadSettings Settings() const;

 private:
  QLineEdit* address_;
  QLabel* warning_;  // under the address, while it has a warning
  QLineEdit* secret_;
  QLineEdit* folder_;
  QCheckBox* sendOpenedLinks_;
};

}  // namespace sorrel
