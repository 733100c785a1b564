// The small window that lists what was sent to aria2: name, a progress bar,
// speed and state of each transfer, drawn from the downloads model.
#pragma once

#include <QWidget>

#include "app/downloads_model.h"

class QTableWidget;

namespace sorrel {

class DownloadsWindow : public QWidget, public DownloadsView {
  Q_OBJECT

 public:
  explicit DownloadsWindow(QWidget* parent = nullptr);

  void Raise() override;
  void ShowTransfer(std::size_t row, const Transfer& transfer) override;
  QTableWidget* Table() const { return table_; }

 private:
  QTableWidget* table_;
};

}  // namespace sorrel
