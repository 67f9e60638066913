#pragma once
// The partition-style dialog: MBR, GPT or RAW for a fresh layout.

#include <QPointer>
#include <memory>

#include "ModalForm.h"

namespace Ui {
class frmpartstyle;
}

namespace kestrin {

class Tfrmpartstyle : public ModalForm {
  Q_OBJECT

 public:
  explicit Tfrmpartstyle(QWidget* owner);
  ~Tfrmpartstyle() override;

  // 0 when rbmbr is checked, 1 for rbgpt, 2 for rbraw.
  int style() const;

 protected:
  void showEvent(QShowEvent* event) override;  // FormShow

 private:
  std::unique_ptr<Ui::frmpartstyle> m_form;
};

extern QPointer<Tfrmpartstyle> frmpartstyle;

}  // namespace kestrin
