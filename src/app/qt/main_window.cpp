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
#include <QTimer>
#include <QWindow>
#include <algorithm>

#include "app/main_window_layout.h"
#include "app/program.h"
#include "resolve/texts.h"
#include "text/codepage.h"

namespace sorrel {

QString ToDisplay(const Text& text) {
  QString shown = QString::fromStdString(GbkToUtf8(text));
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return shown;
}

Text FromDisplay(const QString& text) {
  QString raw = text;
  raw.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
  return Utf8ToGbk(raw.toStdString());
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

bool IsEnter(const QKeyEvent* key) {
  return key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
}

// How many characters one edit put in: more than one is a paste, a drop or
// an input method's word, not a key typed.
qsizetype InsertedCount(const QString& before, const QString& after) {
  qsizetype prefix = 0;
  const qsizetype shorter = std::min(before.size(), after.size());
  while (prefix < shorter && before[prefix] == after[prefix]) ++prefix;
  qsizetype suffix = 0;
  while (suffix < shorter - prefix &&
         before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix]) {
    ++suffix;
  }
  return after.size() - prefix - suffix;
}

}  // namespace

MainWindow::MainWindow(const Text& serviceOrigin, QWidget* parent)
    : QWidget(parent), origin_(serviceOrigin) {
  setWindowTitle(ToDisplay(WindowCaption()));
  setObjectName(QStringLiteral("MainWindow"));

  for (const ControlPlacement& placement : kControls) {
    QWidget* widget = nullptr;
    const QString text = ToDisplay(InitialText(placement.role, serviceOrigin));
    const ControlRole role = placement.role;
    switch (placement.kind) {
      case ControlKind::Label: {
        auto* label = new QLabel(text, this);
        label->setFocusPolicy(Qt::NoFocus);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        if (role == ControlRole::kAddressCaption) label1_ = label;
        if (role == ControlRole::kCaptchaCaption) label2_ = label;
        if (role == ControlRole::kCaptchaPrompt) label3_ = label;
        if (role == ControlRole::kAddressExample) label4_ = label;
        if (role == ControlRole::kCredit) label5_ = label;
        widget = label;
        break;
      }
      case ControlKind::Button: {
        auto* button = new QPushButton(text, this);
        button->setAutoDefault(false);
        if (role == ControlRole::kResolveButton) button1_ = button;
        if (role == ControlRole::kRefreshButton) button2_ = button;
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
          editBox2_ = box;
          widget = box;
        } else {
          auto* box = new QLineEdit(this);
          SetColours(box, Qt::black, Qt::white);
          if (role == ControlRole::kAddressBox) editBox1_ = box;
          if (role == ControlRole::kCaptchaBox) editBox3_ = box;
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
    Control(placement->role)->raise();
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

  // The keyboard follows the road: address, refresh, captcha, resolve, result.
  setTabOrder(editBox1_, button2_);
  setTabOrder(button2_, editBox3_);
  setTabOrder(editBox3_, button1_);
  setTabOrder(button1_, editBox2_);
  editBox2_->setTabChangesFocus(true);

  for (QObject* watched : {static_cast<QObject*>(editBox1_), static_cast<QObject*>(editBox3_),
                           static_cast<QObject*>(picBox1_)}) {
    watched->installEventFilter(this);
  }
  picBox1_->setCursor(Qt::PointingHandCursor);
  auto* refreshKey = new QShortcut(QKeySequence(Qt::Key_F5), this);
  refreshKey->setAutoRepeat(false);
  connect(refreshKey, &QShortcut::activated, this, &MainWindow::RunRefresh);

  connect(editBox1_, &QLineEdit::textChanged, this, [this](const QString& text) {
    addressPrevious_ = addressCurrent_;
    addressCurrent_ = text;
  });
  connect(editBox1_, &QLineEdit::textEdited, this, &MainWindow::OnAddressEdited);
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
  if (event->type() != QEvent::ActivationChange) return;
  if (isActiveWindow()) {
    // After the activation has settled, not inside it: the captcha request
    // that may follow processes events while it waits.
    QTimer::singleShot(0, this, &MainWindow::OfferClipboard);
  } else {
    clipboard_.NoteLeft(QGuiApplication::clipboard()->text().toStdString());
  }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && (watched == editBox1_ || watched == editBox3_)) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (!IsEnter(key)) return false;
    // A held key starts nothing more than its first press did.
    if (key->isAutoRepeat()) return true;
    if (watched == editBox3_) {
      RunResolve();
    } else if (KindOfAddress(editBox1_->text().toStdString(), GbkToUtf8(origin_)) ==
               AddressKind::kWrappedLink) {
      ShowWrappedLink(editBox1_->text());
    } else {
      RunRefresh();
    }
    return true;
  }
  if (event->type() == QEvent::FocusOut && watched == editBox1_) {
    // A link typed key by key is read when the user moves on, not while it
    // is half typed, and not when the user merely switches windows.
    const auto reason = static_cast<QFocusEvent*>(event)->reason();
    const QString text = editBox1_->text();
    if ((reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
         reason == Qt::MouseFocusReason) &&
        text != linkHandled_ &&
        KindOfAddress(text.toStdString(), GbkToUtf8(origin_)) == AddressKind::kWrappedLink) {
      ShowWrappedLink(text);
    }
    return false;
  }
  if (event->type() == QEvent::MouseButtonPress && watched == picBox1_ &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    RunRefresh();
    return true;
  }
  return false;
}

void MainWindow::Bind(Program& program) {
  program_ = &program;
  // The buttons run as they always have, a refresh nested in a running
  // resolution included; the count only keeps the keys from piling up.
  connect(button1_, &QPushButton::clicked, this, [this] {
    ++running_;
    program_->Workflows().ResolveDownloadAddresses();
    --running_;
  });
  connect(button2_, &QPushButton::clicked, this, [this] {
    ++running_;
    program_->Workflows().RefreshCaptcha();
    --running_;
  });
}

void MainWindow::RunRefresh() {
  if (!program_ || running_ > 0) return;
  ++running_;
  program_->Workflows().RefreshCaptcha();
  --running_;
}

void MainWindow::RunResolve() {
  if (!program_ || running_ > 0 || !button1_->isEnabled()) return;
  ++running_;
  program_->Workflows().ResolveDownloadAddresses();
  --running_;
}

bool MainWindow::ShowWrappedLink(const QString& link) {
  linkHandled_ = link;
  const OpenedLink opened = OpenWrappedLink(link.toStdString());
  if (!opened.ok) {
    ShowMessage(opened.notice);
    return false;
  }
  if (program_) KeepOpenedLink(opened, program_->State());
  SetResultText(opened.resultText);
  return true;
}

void MainWindow::OnAddressEdited(const QString& text) {
  const QString before = addressCurrent_ == text ? addressPrevious_ : addressCurrent_;
  if (InsertedCount(before, text) <= 1) return;
  if (KindOfAddress(text.toStdString(), GbkToUtf8(origin_)) != AddressKind::kWrappedLink) return;
  ShowWrappedLink(text);
}

bool MainWindow::OpenAddress(const QString& text) {
  const std::string address = TrimmedAddress(text.toStdString());
  const QString shown = QString::fromStdString(address);
  switch (KindOfAddress(address, GbkToUtf8(origin_))) {
    case AddressKind::kWrappedLink:
      if (!ShowWrappedLink(shown)) return false;
      editBox1_->setText(shown);
      return true;
    case AddressKind::kFilePage:
      if (!program_ || running_ > 0) return false;
      editBox1_->setText(shown);
      RunRefresh();
      return true;
    case AddressKind::kOther:
      break;
  }
  ShowMessage(UnknownAddressNotice(GbkToUtf8(origin_)));
  return false;
}

void MainWindow::OfferClipboard() {
  if (!program_ || running_ > 0 || !isActiveWindow() || QApplication::activeModalWidget()) return;
  const QString text = QGuiApplication::clipboard()->text();
  if (clipboard_.Take(text.toStdString(), editBox1_->text().toStdString(), GbkToUtf8(origin_))) {
    OpenAddress(text);
  }
}

void MainWindow::CopyToClipboard(const QString& text) {
  clipboard_.NoteOwnCopy(text.toStdString());
  QGuiApplication::clipboard()->setText(text);
}

Text MainWindow::AddressText() { return FromDisplay(editBox1_->text()); }

Text MainWindow::CaptchaText() { return FromDisplay(editBox3_->text()); }

void MainWindow::SetResultText(const Text& text) {
  editBox2_->setPlainText(ToDisplay(text));
  editBox2_->moveCursor(QTextCursor::Start);
  editBox2_->verticalScrollBar()->setValue(0);
}

void MainWindow::SetResolveButton(bool enabled, const Text& caption) {
  button1_->setEnabled(enabled);
  button1_->setText(ToDisplay(caption));
}

void MainWindow::SetPicture(const ByteSet& picture) {
  QImage image;
  if (!picture.empty() && image.loadFromData(picture.data(), static_cast<int>(picture.size()))) {
    captcha_ = image;
    picture_ = picture;
    ShowCaptcha();
    // A new captcha wants new letters.
    editBox3_->clear();
    editBox3_->setFocus(Qt::OtherFocusReason);
  } else {
    picBox1_->clear();
    captcha_ = QImage();
    picture_.clear();
  }
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
  picBox1_->setPixmap(pixmap);
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

QWidget* MainWindow::Control(ControlRole role) const { return Control(PlacementOf(role).name); }

}  // namespace sorrel
