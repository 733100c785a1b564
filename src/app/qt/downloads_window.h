// The small window that lists what was sent to aria2: name, a progress bar,
// speed and state of each transfer, drawn from the downloads model, with the
// model's actions in a right-click menu and on a double-click. It keeps its
// size and column widths beside the settings.
#pragma once

#include <QWidget>

#include "app/downloads_model.h"

class QMenu;
class QTableWidget;

namespace sorrel {

class DownloadsWindow : public QWidget, public DownloadsView {
  Q_OBJECT

 public:
  explicit DownloadsWindow(QWidget* parent = nullptr);
  ~DownloadsWindow() override;

  void Bind(DownloadsModel* model) override;
  void Raise() override;
  void ShowTransfer(std::size_t row, const Transfer& transfer) override;
  void DropTransfer(std::size_t row) override;
  bool Ask(const std::string& title, const std::string& question) override;
  void Tell(const std::string& title, const std::string& text) override;
  bool OpenPath(const std::string& path) override;

  QTableWidget* Table() const { return table_; }
  // The menu of the transfer at `position` in the table's viewport; null
  // over no transfer.
  QMenu* OpenMenu(const QPoint& position);

 protected:
  void hideEvent(QHideEvent* event) override;

 private:
  void Keep() const;

  QTableWidget* table_;
  DownloadsModel* model_ = nullptr;
};

}  // namespace sorrel
