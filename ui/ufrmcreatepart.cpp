#include "ufrmcreatepart.h"

#include <initializer_list>

#include "ui_ufrmcreatepart.h"

namespace kestrin {

QPointer<Tfrmcreatepart> frmcreatepart;

namespace {
QString text(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

Tfrmcreatepart::Tfrmcreatepart(QWidget* owner) : ModalForm(owner), m_form(std::make_unique<Ui::frmcreatepart>()) {
  m_form->setupUi(this);
  bindButtons(m_form->btnok, m_form->btncancel);
  // FormClose: the window frees itself once closed. A command that ends
  // early through an uncaught error thus leaves no window behind; its own
  // release request then has no further effect.
  connect(this, &QDialog::finished, this, &QObject::deleteLater);
  centreOnScreen();
}

Tfrmcreatepart::~Tfrmcreatepart() = default;

void Tfrmcreatepart::fillTypes(const TypeNameList& types) {
  m_form->cmb_type->clear();
  for (const std::string& item : types.items) m_form->cmb_type->addItem(text(item));
  m_form->cmb_type->setCurrentIndex(types.preselected);
  fitTypeNames();
}

// The form's type box is too narrow for the longest names in most fonts; an
// editable box would show such a name scrolled, without its first letters.
// The column of fields widens to the box's need, the buttons keep their
// places at its right edge, and the window grows by as much.
void Tfrmcreatepart::fitTypeNames() {
  Ui::frmcreatepart& f = *m_form;
  f.cmb_type->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  const int extra = f.cmb_type->sizeHint().width() - f.cmb_type->width();
  if (extra <= 0) return;
  for (QWidget* field : std::initializer_list<QWidget*>{f.txtoffset, f.txtsize, f.cmb_type, f.chkboot}) {
    field->resize(field->width() + extra, field->height());
  }
  for (QWidget* button : {f.btnok, f.btncancel}) button->move(button->x() + extra, button->y());
  resize(width() + extra, height());
  centreOnScreen();
}

void Tfrmcreatepart::fillCreate(const CreatePartitionDialogInput& input) {
  m_form->txtoffset->setText(text(input.offsetText));
  m_form->txtsize->setText(text(input.sizeText));
  fillTypes(input.types);
}

void Tfrmcreatepart::fillTypeOnly(const TypeNameList& types) {
  setWindowTitle(QStringLiteral("Change Partition Type"));
  m_form->txtoffset->hide();
  m_form->txtsize->hide();
  m_form->Label1->hide();
  m_form->Label2->hide();
  m_form->chkboot->hide();
  fillTypes(types);
}

CreatePartitionDialogResult Tfrmcreatepart::values() const {
  CreatePartitionDialogResult result;
  result.boot = m_form->chkboot->isChecked();
  result.sizeText = m_form->txtsize->text().toStdString();
  result.offsetText = m_form->txtoffset->text().toStdString();
  result.typeText = m_form->cmb_type->currentText().toStdString();
  return result;
}

void Tfrmcreatepart::showEvent(QShowEvent* event) {
  ModalForm::showEvent(event);
  bringToFront();
}

}  // namespace kestrin
