// Where the window sends files: the engine's address (a private engine when
// empty), its secret and the download folder, kept with QSettings in the
// user's configuration folder. The file holds the secret, so it is the
// user's alone (0600).
#pragma once

#include <QDialog>
#include <QString>

class QCheckBox;
class QLabel;
class QLineEdit;

namespace sorrel {

struct DownloadSettings {
  QString address;
  QString secret;
  QString folder;
  // A link opened from outside (a click elsewhere, the command line) goes to
  // the engine at once.
  bool sendOpenedLinks = false;

  static DownloadSettings Load();
  // False when the file could not be written.
  bool Save() const;
};

class DownloadSettingsDialog : public QDialog {
  Q_OBJECT

 public:
  explicit DownloadSettingsDialog(const DownloadSettings& settings, QWidget* parent = nullptr);
  DownloadSettings Settings() const;

 private:
  QLineEdit* address_;
  QLabel* inClear_;  // shown while the address would send the secret unencrypted
  QLineEdit* secret_;
  QLineEdit* folder_;
  QCheckBox* sendOpenedLinks_;
};

}  // namespace sorrel
