// The one window of the program, with its eleven controls, over Qt Widgets.
// It draws what the window logic asks of it and hands its events to that
// logic; the workflows reach it through the logic.
#pragma once

#include <QImage>
#include <QWidget>

#include "app/main_window_layout.h"
#include "app/window_view.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace sorrel {

class WindowController;

class MainWindow : public QWidget, public WindowView {
  Q_OBJECT

 public:
  explicit MainWindow(const Text& serviceOrigin, QWidget* parent = nullptr);

  // Hands the buttons, the keys, the captcha picture and the address box to
  // the window logic.
  void Bind(WindowController& controller);

  // An address handed to the window from outside, as the window logic opens
  // it. False when nothing was opened.
  bool OpenAddress(const QString& text);

  // By the control's name (its object name), or by what it is for.
  QWidget* Control(const char* name) const;
  QWidget* Control(ControlRole role) const;

  std::u16string ControlText(ControlRole control) override;
  void SetControlText(ControlRole control, std::u16string_view text) override;
  bool IsEnabled(ControlRole control) override;
  void SetEnabled(ControlRole control, bool enabled) override;
  bool HasFocus(ControlRole control) override;
  void Focus(ControlRole control) override;
  bool ShowPicture(const ByteSet& picture) override;
  bool IsActive() override;
  std::u16string Clipboard() override;
  void SetClipboard(std::u16string_view text) override;
  void ShowMessage(std::u16string_view title, std::u16string_view message) override;
  void Notice(std::u16string_view title, std::u16string_view text) override;
  bool Ask(std::u16string_view title, std::u16string_view question) override;
  void Later(std::function<void()> task) override;
  void ProcessPendingEvents() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ShowCaptcha();

  WindowController* controller_ = nullptr;
  QLabel* addressCaption_ = nullptr;
  QLabel* captchaCaption_ = nullptr;
  QLabel* captchaPrompt_ = nullptr;
  QLabel* addressExample_ = nullptr;
  QLabel* credit_ = nullptr;
  QPushButton* resolveButton_ = nullptr;
  QPushButton* refreshButton_ = nullptr;
  QLineEdit* addressBox_ = nullptr;
  QLineEdit* captchaBox_ = nullptr;
  QPlainTextEdit* resultBox_ = nullptr;
  QLabel* captchaPicture_ = nullptr;
  QImage captcha_;
  bool sized_ = false;
};

// UTF-16 text with CR LF line breaks to a displayable string and back; the
// line breaks become the ones Qt's widgets use.
QString ToDisplay(std::u16string_view text);
std::u16string FromDisplay(const QString& text);

}  // namespace sorrel
