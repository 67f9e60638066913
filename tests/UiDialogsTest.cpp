// The three secondary windows and the real message boxes, driven from inside
// their modal loops: keys, title-bar closing, modal results, the type-only
// mode, what the window's Interaction reads back, and the release of every
// dialog after its question.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <memory>
#include <tuple>

#include "ApplicationTitle.h"
#include "EmulatedPort.h"
#include "Port.h"
#include "QtInteraction.h"
#include "TestSupport.h"
#include "UiTestSupport.h"
#include "ufrmcreatepart.h"
#include "ufrmdisks.h"
#include "ufrmpartstyle.h"

namespace kestrin::test {
namespace {

template <typename T>
T* control(QWidget* window, const char* name) {
  T* found = window->findChild<T*>(QString::fromLatin1(name));
  EXPECT_NE(found, nullptr) << name;
  return found;
}

// A key pressed on the window's focused control, delivered as the toolkit
// delivers it: passed up the parents while nobody takes it.
void press(QWidget* window, int key) {
  QWidget* target = window->focusWidget() != nullptr ? window->focusWidget() : window;
  QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &down);
  QKeyEvent up(QEvent::KeyRelease, key, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &up);
}

void processDeferredDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

class Dialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApplication();
    owner = std::make_unique<QWidget>();
    owner->show();
  }
  void TearDown() override { processDeferredDeletes(); }

  std::unique_ptr<QWidget> owner;
};

// --- Tfrmcreatepart ---

TEST_F(Dialogs, CreateDialogClosesWithOkOnEnterAndCancelOnEscapeOrTheTitleBar) {
  struct Case {
    std::function<void(QWidget*)> action;
    int result;
  };
  // A key pressed with the focus on one of the window's controls.
  auto pressOn = [](const char* name, int key) {
    return [name, key](QWidget* w) {
      control<QWidget>(w, name)->setFocus();
      press(w, key);
    };
  };
  std::vector<Case> cases{{[](QWidget* w) { press(w, Qt::Key_Return); }, kModalOk},
                          {[](QWidget* w) { press(w, Qt::Key_Enter); }, kModalOk},
                          {[](QWidget* w) { press(w, Qt::Key_Escape); }, kModalCancel},
                          {pressOn("cmb_type", Qt::Key_Return), kModalOk},
                          {pressOn("cmb_type", Qt::Key_Escape), kModalCancel},
                          {pressOn("chkboot", Qt::Key_Return), kModalOk},
                          {[](QWidget* w) { w->close(); }, kModalCancel},
                          {[](QWidget* w) { control<QPushButton>(w, "btncancel")->click(); }, kModalCancel},
                          {[](QWidget* w) { control<QPushButton>(w, "btnok")->click(); }, kModalOk}};
  for (std::size_t i = 0; i < cases.size(); ++i) {
    auto* dialog = new Tfrmcreatepart(owner.get());
    OnNextModal(cases[i].action);
    EXPECT_EQ(dialog->showModal(), cases[i].result) << "case " << i;
    dialog->release();
  }
}

TEST_F(Dialogs, CreateDialogShowsWhatItIsGivenAndReadsBackWhatTheUserLeft) {
  auto* dialog = new Tfrmcreatepart(owner.get());
  EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Create Partition"));
  dialog->fillCreate({"105906176", "138", {{"ENTRY_UNUSED", "EXTENDED", "IFS"}, 2}});
  OnNextModal([](QWidget* w) {
    EXPECT_EQ(control<QLineEdit>(w, "txtoffset")->text(), QStringLiteral("105906176"));
    EXPECT_EQ(control<QLineEdit>(w, "txtsize")->text(), QStringLiteral("138"));
    auto* types = control<QComboBox>(w, "cmb_type");
    EXPECT_EQ(types->count(), 3);
    EXPECT_EQ(types->currentText(), QStringLiteral("IFS"));
    EXPECT_TRUE(types->isEditable());
    EXPECT_FALSE(control<QCheckBox>(w, "chkboot")->isChecked());
    // The user types a size, a type of their own and ticks Boot.
    control<QLineEdit>(w, "txtsize")->setText(QStringLiteral("20"));
    types->setEditText(QStringLiteral("7"));
    control<QCheckBox>(w, "chkboot")->setChecked(true);
    control<QPushButton>(w, "btnok")->click();
  });
  ASSERT_EQ(dialog->showModal(), kModalOk);
  CreatePartitionDialogResult values = dialog->values();
  EXPECT_TRUE(values.boot);
  EXPECT_EQ(values.sizeText, "20");
  EXPECT_EQ(values.offsetText, "105906176");
  EXPECT_EQ(values.typeText, "7");
  dialog->release();
}

TEST_F(Dialogs, TypeOnlyModeLeavesTheTypeLabelTheTypeBoxAndTheButtonsInPlace) {
  auto* full = new Tfrmcreatepart(owner.get());
  auto* cut = new Tfrmcreatepart(owner.get());
  cut->fillTypeOnly({{"A", "B", "C"}, 2});
  full->show();
  cut->show();
  EXPECT_EQ(cut->windowTitle(), QStringLiteral("Change Partition Type"));
  for (const char* hidden : {"txtoffset", "txtsize", "Label1", "Label2", "chkboot"}) {
    EXPECT_FALSE(control<QWidget>(cut, hidden)->isVisible()) << hidden;
  }
  for (const char* shown : {"Label3", "cmb_type", "btnok", "btncancel"}) {
    EXPECT_TRUE(control<QWidget>(cut, shown)->isVisible()) << shown;
    EXPECT_EQ(control<QWidget>(cut, shown)->geometry(), control<QWidget>(full, shown)->geometry()) << shown;
  }
  EXPECT_EQ(cut->size(), full->size());
  EXPECT_EQ(control<QComboBox>(cut, "cmb_type")->currentText(), QStringLiteral("C"));
  full->release();
  cut->release();
}

TEST_F(Dialogs, EveryTypeNameShowsFromItsFirstLetterInsideTheWindow) {
  for (const TypeNameList& names : {CreatePartitionTypeList(0), ChangeTypeListMbr()}) {
    auto dialog = std::make_unique<Tfrmcreatepart>(owner.get());
    dialog->fillCreate({"0", "0", names});
    dialog->show();
    auto* types = control<QComboBox>(dialog.get(), "cmb_type");
    EXPECT_LE(types->geometry().right(), control<QWidget>(dialog.get(), "GroupBox1")->width());
    for (int i = 0; i < types->count(); ++i) {
      // Choosing an item puts the cursor at its end; a name wider than the
      // box scrolls its first letters out of sight when painted.
      types->setCurrentIndex(i);
      types->lineEdit()->grab();
      EXPECT_EQ(types->lineEdit()->cursorPositionAt(QPoint(3, types->lineEdit()->height() / 2)), 0)
          << types->itemText(i).toStdString();
    }
  }
}

TEST_F(Dialogs, CreateDialogKeepsTheFormsTabOrder) {
  auto dialog = std::make_unique<Tfrmcreatepart>(owner.get());
  std::vector<std::string> order;
  QWidget* start = control<QWidget>(dialog.get(), "txtoffset");
  QWidget* w = start;
  const std::vector<std::string> named{"txtoffset", "txtsize", "btnok", "btncancel", "chkboot", "cmb_type"};
  do {
    std::string name = w->objectName().toStdString();
    if (std::find(named.begin(), named.end(), name) != named.end()) order.push_back(name);
    w = w->nextInFocusChain();
  } while (w != start && order.size() < named.size());
  EXPECT_EQ(order, named);
}

TEST_F(Dialogs, ACreateDialogFreesItselfOnceClosed) {
  QPointer<Tfrmcreatepart> dialog = new Tfrmcreatepart(owner.get());
  OnNextModal([](QWidget* w) { press(w, Qt::Key_Escape); });
  dialog->showModal();
  ASSERT_FALSE(dialog.isNull());  // still readable right after the modal loop
  processDeferredDeletes();
  EXPECT_TRUE(dialog.isNull());
}

// --- Tfrmpartstyle ---

TEST_F(Dialogs, StyleDialogGivesMbrUntouchedAndTheCheckedStyleOtherwise) {
  struct Case {
    const char* radio;
    int style;
  };
  for (Case c : {Case{nullptr, 0}, Case{"rbgpt", 1}, Case{"rbraw", 2}, Case{"rbmbr", 0}}) {
    auto* dialog = new Tfrmpartstyle(owner.get());
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Partition Style"));
    OnNextModal([c](QWidget* w) {
      if (c.radio != nullptr) control<QRadioButton>(w, c.radio)->click();
      press(w, Qt::Key_Return);
    });
    ASSERT_EQ(dialog->showModal(), kModalOk);
    EXPECT_EQ(dialog->style(), c.style) << (c.radio ? c.radio : "untouched");
    int checked = 0;
    for (const char* name : {"rbmbr", "rbgpt", "rbraw"}) checked += control<QRadioButton>(dialog, name)->isChecked();
    EXPECT_EQ(checked, 1);
    dialog->release();
  }
  auto* dialog = new Tfrmpartstyle(owner.get());
  OnNextModal([](QWidget* w) { press(w, Qt::Key_Escape); });
  EXPECT_EQ(dialog->showModal(), kModalCancel);
}

// --- Tfrmdisks ---

class Chooser : public Dialogs {
 protected:
  void SetUp() override {
    Dialogs::SetUp();
    std::string a = dir.file("a.img");
    std::string b = dir.file("b.img");
    MakeSparseFile(a, 3 * 1048576 + 1048575);
    MakeSparseFile(b, 64 * 1048576);
    port = std::make_unique<EmulatedPort>(DiskMap{{a, 0}, {b, 0}});
    installed = std::make_unique<ScopedPort>(*port);
  }
  TempDir dir;
  std::unique_ptr<EmulatedPort> port;
  std::unique_ptr<ScopedPort> installed;
};

TEST_F(Chooser, ListsTheDisksWhenShown) {
  auto* chooser = new Tfrmdisks(owner.get());
  EXPECT_EQ(control<QTreeWidget>(chooser, "lvdisks")->topLevelItemCount(), 0);  // filled when shown
  OnNextModal([](QWidget* w) {
    auto* list = control<QTreeWidget>(w, "lvdisks");
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_EQ(list->topLevelItem(0)->text(0), QStringLiteral("0"));
    EXPECT_EQ(list->topLevelItem(0)->text(1), QStringLiteral("DISK"));
    EXPECT_EQ(list->topLevelItem(0)->text(3), QStringLiteral("3"));  // the remainder is dropped
    EXPECT_EQ(list->topLevelItem(1)->text(0), QStringLiteral("1"));
    EXPECT_EQ(list->topLevelItem(1)->text(3), QStringLiteral("64"));
    EXPECT_TRUE(list->selectedItems().isEmpty());
    list->topLevelItem(1)->setSelected(true);
    control<QPushButton>(w, "btnok")->click();
  });
  ASSERT_EQ(chooser->showModal(), kModalOk);
  EXPECT_EQ(chooser->selectedDisk(), std::optional<std::string>("1"));
  chooser->release();
}

TEST_F(Chooser, ClosingByTheTitleBarIsCancelAndOnlyHidesTheWindow) {
  QPointer<Tfrmdisks> chooser = new Tfrmdisks(owner.get());
  OnNextModal([](QWidget* w) { w->close(); });
  EXPECT_EQ(chooser->showModal(), kModalCancel);
  processDeferredDeletes();
  ASSERT_FALSE(chooser.isNull());
  EXPECT_FALSE(chooser->isVisible());
  delete chooser.data();
}

// --- the window's Interaction over the real windows ---

class RealInteraction : public Chooser {
 protected:
  QtInteraction interaction{nullptr};
  void SetUp() override {
    Chooser::SetUp();
    interaction = QtInteraction(owner.get());
  }
};

TEST_F(RealInteraction, PromptIsCaptionedAsAskedAndGivesTheTextOnlyOnOk) {
  OnNextModal([](QWidget* w) {
    auto* input = qobject_cast<QInputDialog*>(w);
    ASSERT_NE(input, nullptr);
    EXPECT_EQ(input->windowTitle(), QStringLiteral("Brimvale"));
    EXPECT_EQ(input->labelText(), QStringLiteral("Enter DiskID (4 bytes : $01020304)"));
    EXPECT_EQ(input->textValue(), QStringLiteral("$"));
    input->setTextValue(QStringLiteral("$01020304"));
    input->accept();
  });
  EXPECT_EQ(interaction.prompt("Brimvale", "Enter DiskID (4 bytes : $01020304)", "$"),
            std::optional<std::string>("$01020304"));
  OnNextModal([](QWidget* w) { qobject_cast<QInputDialog*>(w)->reject(); });
  EXPECT_EQ(interaction.prompt("Brimvale", "Enter partition boot (0 or 1)", ""), std::nullopt);
}

TEST_F(RealInteraction, ConfirmationIsAnOwnerlessYesNoBoxWithoutIcon) {
  SeenBox seen;
  AnswerNextBox(seen, QMessageBox::No);
  EXPECT_FALSE(interaction.confirm("Delete entry #2 for \\\\.\\PhysicalDrive0?"));
  EXPECT_TRUE(seen.seen);
  EXPECT_EQ(seen.title, QStringLiteral("Brimvale"));
  EXPECT_EQ(seen.text, QStringLiteral("Delete entry #2 for \\\\.\\PhysicalDrive0?"));
  EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
  EXPECT_EQ(seen.buttons, QMessageBox::Yes | QMessageBox::No);
  EXPECT_FALSE(seen.hasParent);
  AnswerNextBox(seen, QMessageBox::Yes);
  EXPECT_TRUE(interaction.confirm("Modify DiskID for \\\\.\\PhysicalDrive0?"));
  // The question before a replacing write: the same box, but Enter and
  // Escape both answer No.
  for (Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
    OnNextModal([key](QWidget* box) {
      EXPECT_EQ(box->windowTitle(), QStringLiteral("Brimvale"));
      press(box, key);
    });
    EXPECT_FALSE(interaction.confirmDefaultNo("Entry #1 holds partition 1. Write the new entry over it?"));
  }
  AnswerNextBox(seen, QMessageBox::Yes);
  EXPECT_TRUE(interaction.confirmDefaultNo("Entry #1 holds partition 1. Write the new entry over it?"));
  EXPECT_EQ(seen.buttons, QMessageBox::Yes | QMessageBox::No);
}

TEST_F(RealInteraction, MessageIsAPlainBoxCaptionedWithTheApplicationTitle) {
  SeenBox seen;
  AnswerNextBox(seen);
  interaction.message("MBR only");
  EXPECT_EQ(seen.title, ApplicationTitle());
  EXPECT_EQ(seen.text, QStringLiteral("MBR only"));
  EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
  EXPECT_EQ(seen.buttons, QMessageBox::Ok);
}

TEST_F(RealInteraction, DialogsAreReadThenReleasedAndCancelGivesNothing) {
  OnNextModal([](QWidget* w) {
    control<QComboBox>(w, "cmb_type")->setEditText(QStringLiteral("FAT32"));
    press(w, Qt::Key_Return);
  });
  EXPECT_EQ(interaction.changeTypeDialog({{"ENTRY_UNUSED", "FAT32"}, 0}), std::optional<std::string>("FAT32"));
  processDeferredDeletes();
  EXPECT_TRUE(frmcreatepart.isNull());

  OnNextModal([](QWidget* w) { press(w, Qt::Key_Escape); });
  EXPECT_EQ(interaction.createPartitionDialog({"65536", "0", {{"BASIC_DATA_GUID"}, 0}}), std::nullopt);
  OnNextModal([](QWidget* w) { press(w, Qt::Key_Return); });
  std::optional<CreatePartitionDialogResult> created = interaction.createPartitionDialog({"65536", "12", {{"X"}, 0}});
  ASSERT_TRUE(created.has_value());
  EXPECT_EQ(created->offsetText, "65536");
  EXPECT_EQ(created->sizeText, "12");
  EXPECT_EQ(created->typeText, "X");

  OnNextModal([](QWidget* w) {
    control<QRadioButton>(w, "rbgpt")->click();
    press(w, Qt::Key_Return);
  });
  EXPECT_EQ(interaction.partitionStyleDialog(), std::optional<int>(1));

  // The chooser: OK without a selected row is no choice.
  OnNextModal([](QWidget* w) { control<QPushButton>(w, "btnok")->click(); });
  EXPECT_EQ(interaction.diskChooser(), std::nullopt);
  OnNextModal([](QWidget* w) {
    control<QTreeWidget>(w, "lvdisks")->topLevelItem(0)->setSelected(true);
    control<QPushButton>(w, "btnok")->click();
  });
  EXPECT_EQ(interaction.diskChooser(), std::optional<std::string>("0"));
  processDeferredDeletes();
  EXPECT_TRUE(frmcreatepart.isNull());
  EXPECT_TRUE(frmpartstyle.isNull());
  EXPECT_TRUE(frmdisks.isNull());
}

// Renders the three windows to build/screenshots/ for a person to look at.
TEST_F(Chooser, RendersTheThreeWindows) {
  QDir().mkpath(QStringLiteral(KESTRIN_BINARY_DIR "/screenshots"));
  auto save = [](QWidget* window, const char* name) {
    window->show();
    QPixmap picture = window->grab();
    EXPECT_FALSE(picture.isNull()) << name;
    EXPECT_TRUE(picture.save(QStringLiteral(KESTRIN_BINARY_DIR "/screenshots/") + QString::fromLatin1(name))) << name;
    window->hide();
  };
  Tfrmcreatepart create(owner.get());
  create.fillCreate({"105906176", "138", CreatePartitionTypeList(0)});
  save(&create, "create-partition.png");
  Tfrmcreatepart retype(owner.get());
  retype.fillTypeOnly(ChangeTypeListMbr());
  save(&retype, "change-type.png");
  Tfrmpartstyle style(owner.get());
  save(&style, "partition-style.png");
  Tfrmdisks chooser(owner.get());
  save(&chooser, "disks.png");
  EXPECT_EQ(control<QTreeWidget>(&chooser, "lvdisks")->topLevelItemCount(), 2);
}

TEST_F(Chooser, EnterEscapeAndADoubleClickOnARowAnswerIt) {
  // The key pressed on the chosen row (0: a double click on it, delivered as the system
  // delivers one: press, release, double click, release), and the modal result.
  const std::vector<std::tuple<int, int, int>> cases{
      {Qt::Key_Return, 1, kModalOk}, {Qt::Key_Escape, 1, kModalCancel}, {0, 0, kModalOk}, {0, 1, kModalOk}};
  for (const auto& [key, row, result] : cases) {
    auto* chooser = new Tfrmdisks(owner.get());
    OnNextModal([key = key, row = row](QWidget* w) {
      auto* list = control<QTreeWidget>(w, "lvdisks");
      const QPoint at = list->visualItemRect(list->topLevelItem(row)).center();
      if (key != 0) list->setCurrentItem(list->topLevelItem(row));
      if (key != 0) return press(w, key);
      for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
                                QEvent::MouseButtonRelease}) {
        const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent click(type, at, list->viewport()->mapToGlobal(at), Qt::LeftButton, held, Qt::NoModifier);
        QCoreApplication::sendEvent(list->viewport(), &click);
      }
    });
    EXPECT_EQ(chooser->showModal(), result) << key;
    if (result == kModalOk) EXPECT_EQ(chooser->selectedDisk(), std::to_string(row)) << key;
    chooser->release();
  }
}

}  // namespace
}  // namespace kestrin::test
