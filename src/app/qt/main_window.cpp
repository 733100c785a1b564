#include "app/qt/main_window.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>

#include "app/main_window_layout.h"
#include "resolve/resolver.h"
#include "resolve/texts.h"
#include "text/codepage.h"

namespace sorrel {

QString ToDisplay(const Text& text) {
  QString shown = QString::fromStdString(Utf8FromGbk(text));
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return shown;
}

Text FromDisplay(const QString& text) {
  QString raw = text;
  raw.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
  return GbkFromUtf8(raw.toStdString());
}

namespace {

void SetColours(QWidget* widget, const QColor& text, const QColor& background) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::WindowText, text);
  palette.setColor(QPalette::Text, text);
  palette.setColor(QPalette::Window, background);
  palette.setColor(QPalette::Base, background);
  widget->setPalette(palette);
  widget->setAutoFillBackground(true);
}

}  // namespace

MainWindow::MainWindow(const Text& serviceOrigin, QWidget* parent) : QWidget(parent) {
  setWindowTitle(ToDisplay(WindowCaption()));
  setObjectName(QStringLiteral("MainWindow"));

  for (const ControlPlacement& placement : kControls) {
    QWidget* widget = nullptr;
    const QString text = ToDisplay(InitialText(placement.name, serviceOrigin));
    const std::string name = placement.name;
    switch (placement.kind) {
      case ControlKind::Label: {
        auto* label = new QLabel(text, this);
        label->setFocusPolicy(Qt::NoFocus);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        if (name == "Label1") label1_ = label;
        if (name == "Label2") label2_ = label;
        if (name == "Label3") label3_ = label;
        if (name == "Label4") label4_ = label;
        if (name == "Label5") label5_ = label;
        widget = label;
        break;
      }
      case ControlKind::Button: {
        auto* button = new QPushButton(text, this);
        button->setAutoDefault(false);
        if (name == "Button1") button1_ = button;
        if (name == "Button2") button2_ = button;
        widget = button;
        break;
      }
      case ControlKind::Edit: {
        if (name == "EditBox2") {
          auto* box = new QPlainTextEdit(this);
          box->setReadOnly(true);
          box->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
          box->setLineWrapMode(QPlainTextEdit::WidgetWidth);
          box->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
          box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
          box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
          SetColours(box, Qt::black, Qt::white);
          editBox2_ = box;
          widget = box;
        } else {
          auto* box = new QLineEdit(this);
          SetColours(box, Qt::black, Qt::white);
          if (name == "EditBox1") editBox1_ = box;
          if (name == "EditBox3") editBox3_ = box;
          widget = box;
        }
        break;
      }
      case ControlKind::Picture: {
        auto* box = new QLabel(this);
        box->setFocusPolicy(Qt::NoFocus);
        box->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        picBox1_ = box;
        widget = box;
        break;
      }
    }
    widget->setObjectName(QString::fromLatin1(placement.name));
    widget->setGeometry(placement.left, placement.top, placement.width, placement.height);
  }

  // Overlapping controls stack as on the original platform: the one created
  // first lies on top, so the credit line shows over the example text.
  for (auto placement = kControls.rbegin(); placement != kControls.rend(); ++placement) {
    Control(placement->name)->raise();
  }

  label4_->setWordWrap(true);
  SetColours(label4_, QColor(255, 0, 0), QColor(192, 192, 192));
  SetColours(label5_, Qt::black, QColor(128, 128, 128));
  for (QLabel* label : {label1_, label2_, label3_}) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::black);
    label->setPalette(palette);
  }

  setFixedSize(kWindowWidth, kWindowHeight);
}

void MainWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // The outer size includes the frame, which is known only once shown.
  if (!sized_) {
    sized_ = true;
    const int frameWidth = frameGeometry().width() - geometry().width();
    const int frameHeight = frameGeometry().height() - geometry().height();
    if (frameWidth > 0 || frameHeight > 0) {
      setFixedSize(kWindowWidth - frameWidth, kWindowHeight - frameHeight);
    }
  }
}

void MainWindow::Bind(Resolver& resolver) {
  connect(button1_, &QPushButton::clicked, this,
          [&resolver] { resolver.ResolveDownloadAddresses(); });
  connect(button2_, &QPushButton::clicked, this, [&resolver] { resolver.RefreshCaptcha(); });
}

Text MainWindow::AddressText() { return FromDisplay(editBox1_->text()); }

Text MainWindow::CaptchaText() { return FromDisplay(editBox3_->text()); }

void MainWindow::SetResultText(const Text& text) { editBox2_->setPlainText(ToDisplay(text)); }

void MainWindow::SetResolveButton(bool enabled, const Text& caption) {
  button1_->setEnabled(enabled);
  button1_->setText(ToDisplay(caption));
}

void MainWindow::SetPicture(const ByteSet& picture) {
  QPixmap pixmap;
  if (!picture.empty() &&
      pixmap.loadFromData(picture.data(), static_cast<unsigned>(picture.size()))) {
    picBox1_->setPixmap(pixmap);
    picture_ = picture;
  } else {
    picBox1_->clear();
    picture_.clear();
  }
}

ByteSet MainWindow::Picture() { return picture_; }

void MainWindow::ShowMessage(const Text& message) {
  QMessageBox box(QMessageBox::NoIcon, ToDisplay(texts::MessageBoxTitle()), ToDisplay(message),
                  QMessageBox::Ok);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

void MainWindow::ProcessPendingEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

QWidget* MainWindow::Control(const char* name) const {
  return findChild<QWidget*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
}

}  // namespace sorrel
