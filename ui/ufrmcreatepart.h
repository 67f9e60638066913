#pragma once
// The create-partition dialog: offset, size, type and boot flag of a new
// entry; cut down to the type alone to retype an existing entry. It only
// lays out and copies its values into plain records; the commands act.

#include <QPointer>
#include <memory>
#include <string>

#include "Interaction.h"
#include "ModalForm.h"

namespace Ui {
class frmcreatepart;
}

namespace kestrin {

class Tfrmcreatepart : public ModalForm {
  Q_OBJECT

 public:
  explicit Tfrmcreatepart(QWidget* owner);
  ~Tfrmcreatepart() override;

  // Create mode: the proposed offset and size and the type list.
  void fillCreate(const CreatePartitionDialogInput& input);
  // Type-only mode: caption "Change Partition Type"; the offset and size
  // fields, their labels and the boot box are hidden; the window keeps its
  // size and the remaining controls their places.
  void fillTypeOnly(const TypeNameList& types);

  // What the window holds now (read after OK).
  CreatePartitionDialogResult values() const;

 protected:
  void showEvent(QShowEvent* event) override;  // FormShow

 private:
  void fillTypes(const TypeNameList& types);
  void fitTypeNames();

  std::unique_ptr<Ui::frmcreatepart> m_form;
};

// The instance of the command that uses the dialog now.
extern QPointer<Tfrmcreatepart> frmcreatepart;

}  // namespace kestrin
