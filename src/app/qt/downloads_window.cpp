#include "app/qt/downloads_window.h"

#include <QDesktopServices>
#include <QHeaderView>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QTableWidget>
#include <QTextDocument>
#include <QUrl>
#include <QVBoxLayout>

#include "app/qt/download_settings.h"

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
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->verticalHeader()->hide();
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(table_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { OpenMenu(at); });
  connect(table_, &QTableWidget::cellDoubleClicked, this, [this](int row, int) {
    if (model_ != nullptr) model_->Activate(static_cast<std::size_t>(row));
  });
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(table_);
  const DownloadsLayout kept = ParseLayout(KeptDownloadsLayout());
  resize(kept.width, kept.height);
  for (int column = 0; column < static_cast<int>(kept.widths.size()); ++column) {
    table_->setColumnWidth(column, kept.widths[static_cast<std::size_t>(column)]);
  }
}

DownloadsWindow::~DownloadsWindow() {
  if (isVisible()) Keep();
}

void DownloadsWindow::Bind(DownloadsModel* model) { model_ = model; }

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

void DownloadsWindow::DropTransfer(std::size_t row) { table_->removeRow(static_cast<int>(row)); }

bool DownloadsWindow::Ask(const std::string& title, const std::string& question) {
  QMessageBox box(QMessageBox::Question, Utf8(title), Utf8(question),
                  QMessageBox::Yes | QMessageBox::No, this);
  // The file's name is the server's: never taken for markup.
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

void DownloadsWindow::Tell(const std::string& title, const std::string& text) {
  QMessageBox box(QMessageBox::Information, Utf8(title), Utf8(text), QMessageBox::Ok, this);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

bool DownloadsWindow::OpenPath(const std::string& path) {
  return QDesktopServices::openUrl(QUrl::fromLocalFile(Utf8(path)));
}

QMenu* DownloadsWindow::OpenMenu(const QPoint& position) {
  const int row = table_->rowAt(position.y());
  if (model_ == nullptr || row < 0) return nullptr;
  table_->selectRow(row);
  auto* menu = new QMenu(table_);
  menu->setObjectName("DownloadsMenu");
  menu->setAttribute(Qt::WA_DeleteOnClose);
  for (const TransferAction action : model_->Actions(static_cast<std::size_t>(row))) {
    menu->addAction(QString::fromUtf8(DownloadsModel::ActionText(action)), this,
                    [this, row, action] {
                      if (model_ != nullptr) model_->Act(static_cast<std::size_t>(row), action);
                    });
  }
  menu->popup(table_->viewport()->mapToGlobal(position));
  return menu;
}

void DownloadsWindow::hideEvent(QHideEvent* event) {
  Keep();
  QWidget::hideEvent(event);
}

void DownloadsWindow::Keep() const {
  DownloadsLayout layout{width(), height(), {}};
  for (int column = 0; column < table_->columnCount(); ++column) {
    layout.widths.push_back(table_->columnWidth(column));
  }
  KeepDownloadsLayout(LayoutText(layout));
}

}  // namespace sorrel
