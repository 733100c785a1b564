#include "app/qt/downloads_window.h"

#include <QHeaderView>
#include <QProgressBar>
#include <QTableWidget>
#include <QTextDocument>
#include <QVBoxLayout>

namespace sorrel {

namespace {

enum Column { kName = 0, kProgress, kSpeed, kState };

QString Utf8(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

DownloadsWindow::DownloadsWindow(QWidget* parent)
    : QWidget(parent, Qt::Window), table_(new QTableWidget(0, 4, this)) {
  setWindowTitle(QString::fromUtf8(downloads_texts::kTitle));
  setObjectName("DownloadsWindow");
  QStringList headers;
  for (const char* column : downloads_texts::kColumns) headers << QString::fromUtf8(column);
  table_->setHorizontalHeaderLabels(headers);
  table_->horizontalHeader()->setSectionResizeMode(kName, QHeaderView::Stretch);
  table_->verticalHeader()->hide();
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(table_);
  resize(560, 220);
}

void DownloadsWindow::Raise() {
  show();
  raise();
}

void DownloadsWindow::ShowTransfer(std::size_t row, const Transfer& transfer) {
  const int at = static_cast<int>(row);
  if (at == table_->rowCount()) {
    table_->insertRow(at);
    table_->setItem(at, kName, new QTableWidgetItem);
    auto* bar = new QProgressBar(table_);
    bar->setRange(0, 1000);
    table_->setCellWidget(at, kProgress, bar);
    table_->setItem(at, kSpeed, new QTableWidgetItem);
    table_->setItem(at, kState, new QTableWidgetItem);
  }
  table_->item(at, kName)->setText(Utf8(transfer.name));
  static_cast<QProgressBar*>(table_->cellWidget(at, kProgress))->setValue(transfer.permille);
  table_->item(at, kSpeed)->setText(Utf8(transfer.speed));
  table_->item(at, kState)->setText(Utf8(transfer.state));
  // A tool tip takes what looks like markup as rich text; the engine's
  // words are shown as written.
  table_->item(at, kState)
      ->setToolTip(transfer.detail.empty() ? QString()
                                           : Qt::convertFromPlainText(Utf8(transfer.detail)));
}

}  // namespace sorrel
