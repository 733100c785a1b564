// The one window of the program, with its eleven controls, over Qt Widgets.
// It is also the workflows' view: they read and write the controls through
// it and let it process pending events while they wait.
#pragma once

#include <QWidget>

#include "resolve/view.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace sorrel {

class Resolver;

class MainWindow : public QWidget, public ResolverView {
  Q_OBJECT

 public:
  explicit MainWindow(const Text& serviceOrigin, QWidget* parent = nullptr);

  // Binds the two buttons to the workflows.
  void Bind(Resolver& resolver);

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

  QWidget* Control(const char* name) const;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
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
  bool sized_ = false;
};

// Code page 936 text to a displayable string and back; CR LF pairs become
// the line breaks Qt's widgets use.
QString ToDisplay(const Text& text);
Text FromDisplay(const QString& text);

}  // namespace sorrel
