// The one window of the program, with its eleven controls, over Qt Widgets.
// It is also the workflows' view: they read and write the controls through
// it and let it process pending events while they wait.
#pragma once

#include <QImage>
#include <QWidget>

#include "app/address_intake.h"
#include "app/main_window_layout.h"
#include "resolve/view.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace sorrel {

class Program;

class MainWindow : public QWidget, public ResolverView {
  Q_OBJECT

 public:
  explicit MainWindow(const Text& serviceOrigin, QWidget* parent = nullptr);

  // Binds the buttons, the keys, the captcha picture and the address box to
  // the program's workflows.
  void Bind(Program& program);

  // Opens an address handed to the window from outside (a command line, the
  // clipboard): a wrapped download-manager link is shown decoded in the
  // result box with no request; a file page of the service goes into the
  // address box and its captcha is fetched once; anything else gets one
  // notice and changes nothing. False when nothing was opened.
  bool OpenAddress(const QString& text);
  // Puts `text` on the clipboard as the window's own copy, which the window
  // does not take back into the address box.
  void CopyToClipboard(const QString& text);

  Text AddressText() override;
  Text CaptchaText() override;
  void SetResultText(const Text& text) override;
  void SetResolveButton(bool enabled, const Text& caption) override;
  void SetPicture(const ByteSet& picture) override;
  ByteSet Picture() override;
  void ShowMessage(const Text& message) override;
  // The window has already shown the run's texts, which say it all.
  void ReportOutcome(ResolveOutcome) override {}
  void ProcessPendingEvents() override;

  // By the control's name (its object name), or by what it is for.
  QWidget* Control(const char* name) const;
  QWidget* Control(ControlRole role) const;

 protected:
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The workflows as the keys and the clipboard start them: never while
  // another run the window started is under way.
  void RunRefresh();
  void RunResolve();
  // The address box's wrapped link shown decoded; false for a link that
  // does not decode, after its notice.
  bool ShowWrappedLink(const QString& link);
  void OnAddressEdited(const QString& text);
  void OfferClipboard();
  void ShowCaptcha();

  Program* program_ = nullptr;
  Text origin_;
  int running_ = 0;
  ClipboardOffer clipboard_;
  // The address box's last two texts, for what an edit put in; the last
  // link that was decoded or refused, so that leaving the box does not ask
  // twice.
  QString addressCurrent_;
  QString addressPrevious_;
  QString linkHandled_;
  QLabel* label1_ = nullptr;
  QLabel* label2_ = nullptr;
  QLabel* label3_ = nullptr;
  QLabel* label4_ = nullptr;
  QLabel* label5_ = nullptr;
  QPushButton* button1_ = nullptr;
  QPushButton* button2_ = nullptr;
  QLineEdit* editBox1_ = nullptr;
  QLineEdit* editBox3_ = nullptr;
  QPlainTextEdit* editBox2_ = nullptr;
  QLabel* picBox1_ = nullptr;
  ByteSet picture_;
  QImage captcha_;
  bool sized_ = false;
};

// Code page 936 text to a displayable string and back; CR LF pairs become
// the line breaks Qt's widgets use.
QString ToDisplay(const Text& text);
Text FromDisplay(const QString& text);

}  // namespace sorrel
