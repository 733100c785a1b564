// What the window tests share: the libcurl stack the windows run on, the
// window's controls, the window over a demo service, an answerer for the
// boxes it opens, and a main() whose user folders are the test's own.
#pragma once

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/qt/application.h"
#include "http/http_stack_curl.h"
#include "support/window_system_qt.h"
#include "test_helpers/sim_process.h"

namespace sorrel::test {

// Workers abandoned at a time-out may outlive a test, so the stack lives on.
inline HttpStack& WindowStack() {
  static auto* stack = new CurlHttpStack();
  return *stack;
}

inline QString Utf8(const char* text) { return QString::fromUtf8(text); }

// The controls a user types into, reads and clicks.
struct Controls {
  explicit Controls(MainWindow& window)
      : address(qobject_cast<QLineEdit*>(window.Control("EditBox1"))),
        captcha(qobject_cast<QLineEdit*>(window.Control("EditBox3"))),
        result(qobject_cast<QPlainTextEdit*>(window.Control("EditBox2"))),
        picture(qobject_cast<QLabel*>(window.Control("PicBox1"))),
        resolve(qobject_cast<QPushButton*>(window.Control("Button1"))),
        refresh(qobject_cast<QPushButton*>(window.Control("Button2"))) {}
  QLineEdit* address;
  QLineEdit* captcha;
  QPlainTextEdit* result;
  QLabel* picture;
  QPushButton* resolve;
  QPushButton* refresh;
};

// Answers every message box that opens while it lives with `button`, noting
// titles and texts. Its timers belong to `guard_`, so none fires once the
// answerer has gone.
class BoxAnswerer {
 public:
  explicit BoxAnswerer(QMessageBox::StandardButton button = QMessageBox::Ok) : button_(button) {
    Poll();
  }
  QStringList titles;
  QStringList texts;
  QList<Qt::TextFormat> formats;

 private:
  void Poll() {
    QTimer::singleShot(20, &guard_, [this] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        titles << box->windowTitle();
        texts << box->text();
        formats << box->textFormat();
        box->button(button_)->click();
      }
      Poll();
    });
  }

  QMessageBox::StandardButton button_;
  QObject guard_;
};

// The request lines a demo service logged, the captcha's random number masked.
inline QStringList LoggedRequests(const std::string& path) {
  std::ifstream in(path);
  QStringList lines;
  static const QRegularExpression requestLine(QStringLiteral("\"request_line\":\"([^\"]*)\""));
  static const QRegularExpression trailingNumber(QStringLiteral("\\d+ HTTP/"));
  for (std::string line; std::getline(in, line);) {
    const auto match = requestLine.match(QString::fromStdString(line));
    if (!match.hasMatch()) continue;
    QString request = match.captured(1);
    if (!request.startsWith("GET /file/")) request.replace(trailingNumber, "# HTTP/");
    lines << request;
  }
  return lines;
}

// The program over a demo service in test mode (captcha "k7p2", `extra`
// arguments after) that logs every request.
struct SimProgram {
  explicit SimProgram(std::vector<std::string> extra)
      : sim(Args(log, std::move(extra))), program(WindowStack(), windows, sim.baseUrl()) {}

  QTemporaryDir folder;
  std::string log = folder.filePath("requests.log").toStdString();
  SimProcess sim;
  QtWindowSystem windows;
  Application program;

 private:
  static std::vector<std::string> Args(const std::string& log, std::vector<std::string> extra) {
    std::vector<std::string> args = {"--test-mode", "--fixed-code", "k7p2", "--request-log", log};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }
};

// Its window, shown, with fresh cookies.
struct SimWindow : SimProgram, Controls {
  explicit SimWindow(std::vector<std::string> extra = {})
      : SimProgram(std::move(extra)), Controls(program.Window()), window(program.Window()) {
    ProcessCookieStore().Clear();
    window.show();
    window.activateWindow();
  }

  MainWindow& window;

  QString FileUrl(const char* id = "83264445") const {
    return QString::fromStdString(sim.url(std::string("/file/") + id));
  }

  // What the service was asked while `action` ran.
  QStringList RequestsOf(const std::function<void()>& action) const {
    const qsizetype before = LoggedRequests(log).size();
    action();
    return LoggedRequests(log).mid(before);
  }

  // Types `page`, fetches its captcha and resolves with the right answer.
  void Resolve(const QString& page) {
    QTest::keyClicks(address, page);
    QTest::mouseClick(refresh, Qt::LeftButton);
    QTest::keyClicks(captcha, "k7p2");
    QTest::mouseClick(resolve, Qt::LeftButton);
  }
};

// Runs the QTest object `T` in an application whose user folders (settings,
// data) are the test's own.
template <typename T>
int RunWithOwnFolders(int argc, char** argv) {
  static QTemporaryDir home;
  qputenv("XDG_CONFIG_HOME", home.filePath("config").toUtf8());
  qputenv("XDG_DATA_HOME", home.filePath("data").toUtf8());
  QApplication app(argc, argv);
  T test;
  return QTest::qExec(&test, argc, argv);
}

}  // namespace sorrel::test
