#include "ufrmpartstyle.h"

#include "ui_ufrmpartstyle.h"

namespace kestrin {

QPointer<Tfrmpartstyle> frmpartstyle;

Tfrmpartstyle::Tfrmpartstyle(QWidget* owner) : ModalForm(owner), m_form(std::make_unique<Ui::frmpartstyle>()) {
  m_form->setupUi(this);
  bindButtons(m_form->btnok, m_form->btncancel);
  // A fixed border: the window keeps the size of its form.
  setFixedSize(size());
  // FormClose: freed once closed (see Tfrmcreatepart).
  connect(this, &QDialog::finished, this, &QObject::deleteLater);
  centreOnScreen();
}

Tfrmpartstyle::~Tfrmpartstyle() = default;

int Tfrmpartstyle::style() const {
  if (m_form->rbgpt->isChecked()) return 1;
  if (m_form->rbraw->isChecked()) return 2;
  return 0;
}

void Tfrmpartstyle::showEvent(QShowEvent* event) {
  ModalForm::showEvent(event);
  bringToFront();
}

}  // namespace kestrin
