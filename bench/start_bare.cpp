// The reference for the start figures: a bare Qt 6 window and nothing else.
// For the breakdown of the difference: with the argument "chinese", one
// label of Chinese text in it; built as bench_start_curl (SORREL_WITH_CURL),
// linked with libcurl, and with the argument "init", libcurl initialised.
#include <QApplication>
#include <QLabel>
#include <QWidget>
#include <cstring>

#include "bench/first_paint.h"

#ifdef SORREL_WITH_CURL
#include <curl/curl.h>
#endif

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  sorrel::bench::FirstPaint firstPaint;
  QWidget window;
  window.resize(480, 360);
  const char* variant = argc > 1 ? argv[1] : "";
  if (std::strcmp(variant, "chinese") == 0) {
    (new QLabel(QString::fromUtf8("获取下载地址"), &window))->move(10, 10);
  }
#ifdef SORREL_WITH_CURL
  if (std::strcmp(variant, "init") == 0) curl_global_init(CURL_GLOBAL_DEFAULT);
#endif
  window.installEventFilter(&firstPaint);
  window.show();
  return QApplication::exec();
}
