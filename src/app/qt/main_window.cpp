#include "app/qt/main_window.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QWindow>
#include <algorithm>

#include "app/window_controller.h"
#include "text/codepage.h"

namespace sorrel {

QString ToDisplay(std::u16string_view text) {
  QString shown = QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return shown;
}

std::u16string FromDisplay(const QString& text) {
  QString raw = text;
  raw.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
  return raw.toStdU16String();
}

namespace {

QString FromGbk(const Text& text) { return ToDisplay(DecodeCodePage(text, kCodePageGbk)); }

void SetColours(QWidget* widget, const QColor& text, const QColor& background) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::WindowText, text);
  palette.setColor(QPalette::Text, text);
  palette.setColor(QPalette::Window, background);
  palette.setColor(QPalette::Base, background);
  widget->setPalette(palette);
  widget->setAutoFillBackground(true);
}

bool IsEnter(const QKeyEvent* key) {
  return key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
}

// Texts of the service and the engine (a file's name among them) are shown
// as written, never taken for markup.
int ShowBox(QWidget* parent, std::u16string_view title, std::u16string_view text,
            QMessageBox::StandardButtons buttons, QMessageBox::Icon icon = QMessageBox::NoIcon) {
  QMessageBox box(icon, ToDisplay(title), ToDisplay(text), buttons, parent);
  box.setTextFormat(Qt::PlainText);
  if (parent == nullptr) box.setWindowModality(Qt::ApplicationModal);
  return box.exec();
}

}  // namespace

MainWindow::MainWindow(const Text& serviceOrigin, QWidget* parent) : QWidget(parent) {
  setWindowTitle(FromGbk(WindowCaption()));
  setObjectName(QStringLiteral("MainWindow"));

  for (const ControlPlacement& placement : kControls) {
    QWidget* widget = nullptr;
    const QString text = FromGbk(InitialText(placement.role, serviceOrigin));
    const ControlRole role = placement.role;
    switch (placement.kind) {
      case ControlKind::Label: {
        auto* label = new QLabel(text, this);
        label->setFocusPolicy(Qt::NoFocus);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        if (role == ControlRole::kAddressCaption) addressCaption_ = label;
        if (role == ControlRole::kCaptchaCaption) captchaCaption_ = label;
        if (role == ControlRole::kCaptchaPrompt) captchaPrompt_ = label;
        if (role == ControlRole::kAddressExample) addressExample_ = label;
        if (role == ControlRole::kCredit) credit_ = label;
        widget = label;
        break;
      }
      case ControlKind::Button: {
        auto* button = new QPushButton(text, this);
        button->setAutoDefault(false);
        if (role == ControlRole::kResolveButton) resolveButton_ = button;
        if (role == ControlRole::kRefreshButton) refreshButton_ = button;
        widget = button;
        break;
      }
      case ControlKind::Edit: {
        if (role == ControlRole::kResultBox) {
          auto* box = new QPlainTextEdit(this);
          box->setReadOnly(true);
          box->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
          box->setLineWrapMode(QPlainTextEdit::WidgetWidth);
          box->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
          box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
          box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
          SetColours(box, Qt::black, Qt::white);
          resultBox_ = box;
          widget = box;
        } else {
          auto* box = new QLineEdit(this);
          SetColours(box, Qt::black, Qt::white);
          if (role == ControlRole::kAddressBox) addressBox_ = box;
          if (role == ControlRole::kCaptchaBox) captchaBox_ = box;
          widget = box;
        }
        break;
      }
      case ControlKind::Picture: {
        auto* box = new QLabel(this);
        box->setFocusPolicy(Qt::NoFocus);
        box->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        captchaPicture_ = box;
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
    Control(placement->role)->raise();
  }

  addressExample_->setWordWrap(true);
  SetColours(addressExample_, QColor(255, 0, 0), QColor(192, 192, 192));
  SetColours(credit_, Qt::black, QColor(128, 128, 128));
  for (QLabel* label : {addressCaption_, captchaCaption_, captchaPrompt_}) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::black);
    label->setPalette(palette);
  }

  setFixedSize(kWindowWidth, kWindowHeight);

  // The keyboard follows the road: address, refresh, captcha, resolve, result.
  setTabOrder(addressBox_, refreshButton_);
  setTabOrder(refreshButton_, captchaBox_);
  setTabOrder(captchaBox_, resolveButton_);
  setTabOrder(resolveButton_, resultBox_);
  resultBox_->setTabChangesFocus(true);

  for (QObject* watched : {static_cast<QObject*>(addressBox_), static_cast<QObject*>(captchaBox_),
                           static_cast<QObject*>(captchaPicture_)}) {
    watched->installEventFilter(this);
  }
  captchaPicture_->setCursor(Qt::PointingHandCursor);
}

void MainWindow::Bind(WindowController& controller) {
  controller_ = &controller;
  connect(resolveButton_, &QPushButton::clicked, this, [this] { controller_->ResolveClicked(); });
  connect(refreshButton_, &QPushButton::clicked, this, [this] { controller_->RefreshClicked(); });
  auto* refreshKey = new QShortcut(QKeySequence(Qt::Key_F5), this);
  refreshKey->setAutoRepeat(false);
  connect(refreshKey, &QShortcut::activated, this, [this] { controller_->RefreshKey(); });
  connect(addressBox_, &QLineEdit::textChanged, this, [this](const QString& text) {
    controller_->AddressChanged(text.toStdU16String(), false);
  });
  connect(addressBox_, &QLineEdit::textEdited, this, [this](const QString& text) {
    controller_->AddressChanged(text.toStdU16String(), true);
  });
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
    // A window moved to a screen of another density draws its captcha anew.
    if (QWindow* window = windowHandle()) {
      connect(window, &QWindow::screenChanged, this, [this] {
        if (!captcha_.isNull()) ShowCaptcha();
      });
    }
  }
}

void MainWindow::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() != QEvent::ActivationChange || controller_ == nullptr) return;
  if (isActiveWindow()) {
    controller_->Activated();
  } else {
    controller_->Deactivated();
  }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (controller_ == nullptr) return false;
  if (event->type() == QEvent::KeyPress && (watched == addressBox_ || watched == captchaBox_)) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (!IsEnter(key)) return false;
    // A held key starts nothing more than its first press did.
    if (key->isAutoRepeat()) return true;
    if (watched == captchaBox_) {
      controller_->EnterInCaptchaBox();
    } else {
      controller_->EnterInAddressBox();
    }
    return true;
  }
  if (event->type() == QEvent::FocusOut && watched == addressBox_) {
    // Moving on within the window, not switching windows.
    const auto reason = static_cast<QFocusEvent*>(event)->reason();
    if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
        reason == Qt::MouseFocusReason) {
      controller_->AddressLeft();
    }
    return false;
  }
  if (event->type() == QEvent::MouseButtonPress && watched == captchaPicture_ &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    controller_->RefreshKey();
    return true;
  }
  return false;
}

bool MainWindow::OpenAddress(const QString& text) {
  return controller_ != nullptr && controller_->OpenAddress(text.toStdU16String());
}

std::u16string MainWindow::ControlText(ControlRole control) {
  QWidget* widget = Control(control);
  if (auto* line = qobject_cast<QLineEdit*>(widget)) return FromDisplay(line->text());
  if (auto* box = qobject_cast<QPlainTextEdit*>(widget)) return FromDisplay(box->toPlainText());
  if (auto* button = qobject_cast<QPushButton*>(widget)) return FromDisplay(button->text());
  if (auto* label = qobject_cast<QLabel*>(widget)) return FromDisplay(label->text());
  return {};
}

void MainWindow::SetControlText(ControlRole control, std::u16string_view text) {
  QWidget* widget = Control(control);
  const QString shown = ToDisplay(text);
  if (auto* line = qobject_cast<QLineEdit*>(widget)) {
    line->setText(shown);
  } else if (auto* box = qobject_cast<QPlainTextEdit*>(widget)) {
    box->setPlainText(shown);
    box->moveCursor(QTextCursor::Start);
    box->verticalScrollBar()->setValue(0);
  } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
    button->setText(shown);
  } else if (auto* label = qobject_cast<QLabel*>(widget)) {
    label->setText(shown);
  }
}

bool MainWindow::IsEnabled(ControlRole control) { return Control(control)->isEnabled(); }

void MainWindow::SetEnabled(ControlRole control, bool enabled) {
  Control(control)->setEnabled(enabled);
}

bool MainWindow::HasFocus(ControlRole control) { return Control(control)->hasFocus(); }

void MainWindow::Focus(ControlRole control) { Control(control)->setFocus(Qt::OtherFocusReason); }

bool MainWindow::ShowPicture(const ByteSet& picture) {
  QImage image;
  if (!picture.empty() && image.loadFromData(picture.data(), static_cast<int>(picture.size()))) {
    captcha_ = image;
    ShowCaptcha();
    return true;
  }
  captchaPicture_->clear();
  captcha_ = QImage();
  return false;
}

void MainWindow::ShowCaptcha() {
  // On a dense screen each captcha pixel becomes a whole block of screen
  // pixels, so the letters stay sharp; the picture is drawn one to one.
  const qreal ratio = devicePixelRatioF();
  const int factor = std::max(1, qRound(ratio));
  QPixmap pixmap = QPixmap::fromImage(factor == 1 ? captcha_
                                                  : captcha_.scaled(captcha_.size() * factor,
                                                                    Qt::IgnoreAspectRatio,
                                                                    Qt::FastTransformation));
  pixmap.setDevicePixelRatio(ratio);
  captchaPicture_->setPixmap(pixmap);
}

bool MainWindow::IsActive() { return isActiveWindow() && !QApplication::activeModalWidget(); }

std::u16string MainWindow::Clipboard() {
  return QGuiApplication::clipboard()->text().toStdU16String();
}

void MainWindow::SetClipboard(std::u16string_view text) {
  QGuiApplication::clipboard()->setText(
      QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())));
}

void MainWindow::ShowMessage(std::u16string_view title, std::u16string_view message) {
  ShowBox(nullptr, title, message, QMessageBox::Ok);
}

void MainWindow::Notice(std::u16string_view title, std::u16string_view text) {
  ShowBox(this, title, text, QMessageBox::Ok, QMessageBox::Information);
}

bool MainWindow::Ask(std::u16string_view title, std::u16string_view question) {
  return ShowBox(this, title, question, QMessageBox::Yes | QMessageBox::No,
                 QMessageBox::Question) == QMessageBox::Yes;
}

void MainWindow::Later(std::function<void()> task) {
  QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

void MainWindow::ProcessPendingEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

QWidget* MainWindow::Control(const char* name) const {
  return findChild<QWidget*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
}

QWidget* MainWindow::Control(ControlRole role) const { return Control(PlacementOf(role).name); }

}  // namespace sorrel
