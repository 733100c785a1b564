#include "app/qt/result_menu.h"

#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QThread>

#include "app/program.h"
#include "app/qt/download_settings.h"
#include "app/qt/downloads_window.h"
#include "app/qt/main_window.h"
#include "download/link_check.h"
#include "http/web_access.h"
#include "text/codepage.h"

namespace sorrel {

namespace {

QString Utf8(const char* text) { return QString::fromUtf8(text); }
QString GbkToQString(const Text& text) { return QString::fromStdString(GbkToUtf8(text)); }

}  // namespace

ResultMenu::ResultMenu(MainWindow& window, Program& program) : window_(window), program_(program) {
  QWidget* box = window.Control(ControlRole::kResultBox);
  box->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(box, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) { Open(at); });
}

ResultMenu::~ResultMenu() = default;

QMenu* ResultMenu::Open(const QPoint& position) {
  QWidget* box = window_.Control(ControlRole::kResultBox);
  const ProgramState& state = program_.State();
  const bool resolved = !state.NormalLink.empty();
  auto* menu = new QMenu(box);
  menu->setObjectName("ResultMenu");
  menu->setAttribute(Qt::WA_DeleteOnClose);
  auto add = [&](const char* text, bool enabled, auto action) {
    QAction* item = menu->addAction(Utf8(text), this, action);
    item->setEnabled(enabled);
  };
  add("复制普通下载地址", resolved,
      [this] { window_.CopyToClipboard(GbkToQString(program_.State().NormalLink)); });
  add("复制迅雷下载地址", !state.ThunderLink.empty(),
      [this] { window_.CopyToClipboard(GbkToQString(program_.State().ThunderLink)); });
  add("复制快车下载地址", !state.FlashGetLink.empty(),
      [this] { window_.CopyToClipboard(GbkToQString(program_.State().FlashGetLink)); });
  menu->addSeparator();
  add("发送到 aria2 下载", resolved, [this] { SendToAria2(); });
  add("检查链接", resolved && !checking_, [this] { Check(); });
  menu->addSeparator();
  add("下载设置...", true, [this] { EditSettings(); });
  auto* edit = qobject_cast<QPlainTextEdit*>(box);
  menu->popup(edit != nullptr ? edit->viewport()->mapToGlobal(position)
                              : box->mapToGlobal(position));
  return menu;
}

void ResultMenu::SendToAria2() {
  if (!downloads_) {
    downloads_ = std::make_unique<DownloadsWindow>(program_.Http(), program_.Services().threads);
  }
  downloads_->Send(GbkToQString(program_.State().NormalLink), GbkToQString(window_.AddressText()));
}

void ResultMenu::Check() {
  checking_ = true;
  const std::string address = GbkToUtf8(program_.State().NormalLink);
  HttpStack& stack = program_.Http();
  ThreadSystem& threads = program_.Services().threads;
  QPointer<ResultMenu> self(this);
  // The check waits on the network; the window stays with the user.
  QThread* worker = QThread::create([self, address, &stack, &threads] {
    const LinkCheck check = CheckLink(stack, threads, address, kPageUserAgent);
    const int status = static_cast<int>(check.status);
    const QString name = QString::fromStdString(check.name);
    const qint64 size = check.size;
    if (self) {
      QMetaObject::invokeMethod(
          self,
          [self, status, name, size] {
            if (self) self->ShowCheck(status, name, size);
          },
          Qt::QueuedConnection);
    }
  });
  connect(worker, &QThread::finished, worker, &QObject::deleteLater);
  worker->start();
}

void ResultMenu::ShowCheck(int status, const QString& name, qint64 size) {
  checking_ = false;
  const auto linkStatus = static_cast<LinkStatus>(status);
  const QString text = Utf8("文件名：") + name + "\n" + Utf8("大小：") +
                       QString::fromStdString(HumanSize(size)) + "\n" + Utf8("状态：") +
                       QString::fromStdString(LinkStatusSentence(linkStatus));
  if (linkStatus != LinkStatus::kExpired) {
    QMessageBox::information(&window_, Utf8("检查链接"), text);
    return;
  }
  const auto answer = QMessageBox::question(&window_, Utf8("检查链接"),
                                            text + "\n\n" + Utf8("要重新获取验证码吗？"),
                                            QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
  // A new captcha for the same page; the address box stays as it is.
  if (answer == QMessageBox::Yes) program_.Workflows().RefreshCaptcha();
}

void ResultMenu::EditSettings() {
  DownloadSettingsDialog dialog(DownloadSettings::Load(), &window_);
  dialog.setObjectName("DownloadSettingsDialog");
  if (dialog.exec() != QDialog::Accepted) return;
  if (!dialog.Settings().Save()) {
    QMessageBox::warning(&window_, Utf8("下载设置"), Utf8("无法保存下载设置。"));
  }
}

}  // namespace sorrel
