#pragma once
// The disk chooser: lists the machine's disks each time it is shown and lets
// the user pick one: with OK, Enter or a double click on its row. Cancel,
// Escape and closing it by the title bar give Cancel and only hide it.

#include <QPointer>
#include <memory>
#include <optional>
#include <string>

#include "ModalForm.h"

class QTreeWidget;

namespace Ui {
class frmdisks;
}

namespace kestrin {

class Tfrmdisks : public ModalForm {
  Q_OBJECT

 public:
  explicit Tfrmdisks(QWidget* owner = nullptr);
  ~Tfrmdisks() override;

  // The caption of the selected row of lvdisks (the disk number in
  // decimal), or nullopt when no row is selected.
  std::optional<std::string> selectedDisk() const;

 protected:
  void showEvent(QShowEvent* event) override;  // FormShow
  void keyPressEvent(QKeyEvent* event) override;

 private:
  std::unique_ptr<Ui::frmdisks> m_form;
};

// Empties the list and adds one row per disk that can be opened.
void FillDiskList(QTreeWidget* lvdisks);

extern QPointer<Tfrmdisks> frmdisks;

}  // namespace kestrin
