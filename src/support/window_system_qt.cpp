#include "support/window_system_qt.h"

#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QString>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <utility>

#include "text/codepage.h"

namespace sorrel {

namespace {

bool HaveWidgets() { return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr; }

WindowHandle HandleOf(const QWidget* widget) { return reinterpret_cast<WindowHandle>(widget); }

QString GbkToQString(const Text& text) { return QString::fromUtf8(GbkToUtf8(text)); }

// Widgets with a native window first, in creation order of those windows
// (the order QGuiApplication keeps), then the never-shown ones.
std::vector<QWidget*> OrderedTopLevels() {
  std::vector<QWidget*> widgets;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->windowType() != Qt::Desktop) widgets.push_back(widget);
  }
  std::vector<QWidget*> ordered;
  for (QWindow* window : QGuiApplication::topLevelWindows()) {
    const auto it = std::find_if(widgets.begin(), widgets.end(),
                                 [window](QWidget* w) { return w->windowHandle() == window; });
    if (it == widgets.end()) continue;
    ordered.push_back(*it);
    widgets.erase(it);
  }
  std::sort(widgets.begin(), widgets.end());
  ordered.insert(ordered.end(), widgets.begin(), widgets.end());
  return ordered;
}

// Only a widget that is still one of ours is ever dereferenced.
QWidget* FindTopLevel(WindowHandle handle) {
  if (handle == 0) return nullptr;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (HandleOf(widget) == handle) return widget;
  }
  return nullptr;
}

QMessageBox::Icon IconOf(int style) {
  switch (style & 0xF0) {
    case kMbIconHand:
      return QMessageBox::Critical;
    case kMbIconQuestion:
      return QMessageBox::Question;
    case kMbIconExclamation:
      return QMessageBox::Warning;
    case kMbIconInformation:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

std::vector<std::pair<QMessageBox::StandardButton, int>> ButtonsOf(int style) {
  switch (style & 0x0F) {
    case kMbOkCancel:
      return {{QMessageBox::Ok, kIdOk}, {QMessageBox::Cancel, kIdCancel}};
    case kMbAbortRetryIgnore:
      return {{QMessageBox::Abort, kIdAbort},
              {QMessageBox::Retry, kIdRetry},
              {QMessageBox::Ignore, kIdIgnore}};
    case kMbYesNoCancel:
      return {
          {QMessageBox::Yes, kIdYes}, {QMessageBox::No, kIdNo}, {QMessageBox::Cancel, kIdCancel}};
    case kMbYesNo:
      return {{QMessageBox::Yes, kIdYes}, {QMessageBox::No, kIdNo}};
    case kMbRetryCancel:
      return {{QMessageBox::Retry, kIdRetry}, {QMessageBox::Cancel, kIdCancel}};
    case kMbCancelTryContinue:
      return {{QMessageBox::Cancel, kIdCancel},
              {QMessageBox::Retry, kIdTryAgain},
              {QMessageBox::Ignore, kIdContinue}};
    default:
      return {{QMessageBox::Ok, kIdOk}};
  }
}

}  // namespace

std::vector<WindowSystem::TopLevel> QtWindowSystem::EnumerateTopLevelWindows() {
  std::vector<TopLevel> list;
  if (!HaveWidgets()) return list;
  const std::uint32_t processId = CurrentProcessId();
  const auto threadId = static_cast<std::uint32_t>(gettid());
  for (QWidget* widget : OrderedTopLevels()) {
    TopLevel entry;
    entry.visible = widget->isVisible();
    entry.info.handle = HandleOf(widget);
    entry.info.processId = processId;
    entry.info.threadId = threadId;
    entry.info.title = Utf8ToGbk(widget->windowTitle().toStdString());
    entry.info.className = widget->metaObject()->className();
    list.push_back(std::move(entry));
  }
  return list;
}

std::uint32_t QtWindowSystem::CurrentProcessId() { return static_cast<std::uint32_t>(getpid()); }

int QtWindowSystem::MessageBox(WindowHandle owner, const Text& message, const Text& title,
                               int style) {
  if (!HaveWidgets()) return 0;
  QWidget* parent = FindTopLevel(owner);
  QMessageBox box(IconOf(style), GbkToQString(title), GbkToQString(message), QMessageBox::NoButton,
                  parent);
  box.setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);

  std::vector<std::pair<QAbstractButton*, int>> buttons;
  for (const auto& [button, id] : ButtonsOf(style)) {
    buttons.emplace_back(box.addButton(button), id);
  }
  const std::size_t defaultIndex = static_cast<std::size_t>((style >> 8) & 0x0F);
  if (defaultIndex < buttons.size()) {
    box.setDefaultButton(static_cast<QPushButton*>(buttons[defaultIndex].first));
  }
  // Escape answers Cancel where there is one, and OK in a box with OK alone.
  for (const auto& [button, id] : buttons) {
    if (id == kIdCancel || buttons.size() == 1) box.setEscapeButton(button);
  }

  box.exec();
  const QAbstractButton* clicked = box.clickedButton();
  for (const auto& [button, id] : buttons) {
    if (button == clicked) return id;
  }
  return 0;
}

}  // namespace sorrel
