// The real main window on disk images made by sfdisk and sgdisk, served by
// the EmulatedPort: the rows after each redraw, the status line, the menu,
// the caption, commands through the popup menu (answered by a script), and
// the error report of an error a command does not trap. Also renders the
// window on a GPT and an MBR disk to PNG files for a person to look at.

#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>
#include <QTreeWidget>
#include <algorithm>
#include <memory>

#include "ApplicationTitle.h"
#include "EmulatedPort.h"
#include "PeerReaders.h"
#include "Port.h"
#include "ScriptedInteraction.h"
#include "TestSupport.h"
#include "UiTestSupport.h"
#include "udiskmgmt.h"
#include "ufrmparteditor.h"

namespace kestrin::test {
namespace {

const QString kDisk0Caption = QStringLiteral("Kestrin 0.1 - \\\\.\\PhysicalDrive0");

const std::vector<const char*> kMbrItems{"ChangePartition1", "ChangePartitionBootMBR1", "ChangeDiskID1",
                                         "SetasPartitionNumber11"};
const std::vector<const char*> kGptItems{"ChangePartitionTypeGPT1", "ChangePartitionAttributesGPT1"};
const std::vector<const char*> kOtherItems{"CreateDisk1", "DeleteDriveLayout1", "CreatePartition1",
                                           "DeletePa1",   "Refresh1",           "SelectanotherDISK1"};

class MainWindow : public ::testing::Test {
 protected:
  void SetUp() override { TestApplication(); }

  void open(const std::vector<std::string>& images) {
    DiskMap disks;
    for (const std::string& image : images) disks.push_back(DiskSpec{image, 0});
    port = std::make_unique<EmulatedPort>(disks);
    installed = std::make_unique<ScopedPort>(*port);
    window = std::make_unique<Tfrmparteditor>(&ui);
    window->show();
  }

  // Makes the demo disk `name` ("gpt.img" or "mbr.img", see UiTestSupport.h)
  // and opens the window on it. The peer's complaint, empty on success.
  std::string openDemo(const std::string& name) {
    image = dir.file(name);
    std::string complaint = name == "gpt.img" ? MakeGptDemoImage(image) : MakeMbrDemoImage(image);
    if (complaint.empty()) open({image});
    return complaint;
  }

  QTreeWidget* list() const { return window->findChild<QTreeWidget*>(QStringLiteral("ListView1")); }
  QAction* item(const char* name) const { return window->findChild<QAction*>(QString::fromLatin1(name)); }
  QString status() const { return window->findChild<QLabel*>(QStringLiteral("StatusBar1Panel0"))->text(); }
  // Each row as its columns: the caption, then the cells it carries.
  std::vector<QStringList> rows() const {
    std::vector<QStringList> result;
    for (int i = 0; i < list()->topLevelItemCount(); ++i) {
      QTreeWidgetItem* row = list()->topLevelItem(i);
      QStringList columns;
      for (int c = 0; c < row->columnCount(); ++c) columns << row->text(c);
      result.push_back(columns);
    }
    return result;
  }
  void select(int row) { list()->topLevelItem(row)->setSelected(true); }
  bool enabled(const std::vector<const char*>& names) const {
    return std::all_of(names.begin(), names.end(), [this](const char* n) { return item(n)->isEnabled(); });
  }
  bool disabled(const std::vector<const char*>& names) const {
    return std::none_of(names.begin(), names.end(), [this](const char* n) { return item(n)->isEnabled(); });
  }

  TempDir dir;
  std::string image;
  ScriptedInteraction ui;
  std::unique_ptr<EmulatedPort> port;
  std::unique_ptr<ScopedPort> installed;
  std::unique_ptr<Tfrmparteditor> window;
};

// The row (caption first) whose offset and length are these, or nullptr.
const QStringList* rowAt(const std::vector<QStringList>& rows, std::uint64_t offset, std::uint64_t length) {
  for (const QStringList& row : rows) {
    if (row.size() > 2 && row[1] == QString::number(offset) && row[2] == QString::number(length)) return &row;
  }
  return nullptr;
}

TEST_F(MainWindow, ShowsEveryGptEntryAsSgdiskSeesItWithTheGptItemsEnabled) {
  ASSERT_EQ(openDemo("gpt.img"), "");
  EXPECT_EQ(window->windowTitle(), kDisk0Caption);
  EXPECT_EQ(status(), QStringLiteral("Style: GPT, Count=5"));

  PeerTable peers = SfdiskDump(image);
  ASSERT_TRUE(peers.ok);
  ASSERT_EQ(peers.label, "gpt");
  std::vector<QStringList> shown = rows();
  // A filler row follows for a sixth partition.
  ASSERT_EQ(shown.size(), peers.partitions.size() + 1);
  EXPECT_EQ(shown.back(), QStringList{QStringLiteral("0")});
  for (std::size_t i = 0; i < peers.partitions.size(); ++i) {
    const PeerPartition& peer = peers.partitions[i];
    ASSERT_EQ(shown[i].size(), 7) << i;
    EXPECT_EQ(shown[i][0], QString::number(peer.number));
    EXPECT_EQ(shown[i][1], QString::number(peer.start * 512));
    EXPECT_EQ(shown[i][2], QString::number(peer.size * 512));
    EXPECT_EQ(shown[i][3], QString());  // HiddenSectors
    EXPECT_EQ(shown[i][5], QString());  // Boot
    // The catalogue's words for the type, or the type GUID itself.
    std::string guid = "{" + peer.type + "}";
    std::string described = TypeDescriptionByGuid(guid);
    EXPECT_EQ(shown[i][4].toStdString(), described.empty() ? guid : described) << i;
  }
  EXPECT_EQ(shown[3][6], QStringLiteral("0x0000000000000004"));  // sgdisk -A 4:set:2
  EXPECT_EQ(shown[0][6], QStringLiteral("0x0000000000000000"));
  EXPECT_TRUE(enabled(kGptItems));
  EXPECT_TRUE(disabled(kMbrItems));
  EXPECT_TRUE(enabled(kOtherItems));
  EXPECT_TRUE(list()->selectedItems().isEmpty());
  EXPECT_TRUE(ui.log.empty());
}

// The lowest pixel row of `cell` with text ink (dark; grid lines are light).
int lowestInk(const QImage& picture, const QRect& cell) {
  for (int y = cell.bottom(); y >= cell.top(); --y) {
    for (int x = cell.left(); x <= cell.right(); ++x) {
      if (qGray(picture.pixel(x, y)) < 128) return y;
    }
  }
  return -1;
}

TEST_F(MainWindow, UnderscoresStayVisibleAboveTheGridLines) {
  ASSERT_EQ(openDemo("gpt.img"), "");
  QTreeWidget* view = list();
  ASSERT_EQ(view->topLevelItem(2)->text(4), QStringLiteral(" PARTITION_BASIC_DATA_GUID"));
  QImage picture = view->viewport()->grab().toImage();
  // An underscore reaches below the baseline, so below the digits of the same row.
  EXPECT_GT(lowestInk(picture, view->visualRect(view->model()->index(2, 4))),
            lowestInk(picture, view->visualRect(view->model()->index(2, 1))));
}

TEST_F(MainWindow, FillsASmallGptTableUpToFourRows) {
  image = dir.file("gpt2.img");
  ASSERT_EQ(MakeSgdiskImage(image, kDemoDiskSize, {"-n", "1:2048:+8M", "-n", "2:0:+8M"}), "");
  open({image});
  EXPECT_EQ(status(), QStringLiteral("Style: GPT, Count=2"));
  std::vector<QStringList> shown = rows();
  ASSERT_EQ(shown.size(), 4u);
  EXPECT_EQ(shown[2], QStringList{QStringLiteral("0")});
  EXPECT_EQ(shown[3], QStringList{QStringLiteral("0")});
}

TEST_F(MainWindow, ShowsThePrimaryEntriesAndLogicalDrivesOfAnMbrDisk) {
  ASSERT_EQ(openDemo("mbr.img"), "");
  PeerTable peers = SfdiskDump(image);
  ASSERT_TRUE(peers.ok) << peers.error;
  ASSERT_EQ(peers.partitions.size(), 5u);  // three primary (one extended), two logical

  std::vector<QStringList> shown = rows();
  EXPECT_EQ(status(), QStringLiteral("Style: MBR, Count=") + QString::number(shown.size()));
  EXPECT_EQ(shown.size() % 4, 0u);
  EXPECT_GE(shown.size(), 12u);  // the primary table and one group per logical drive
  for (const PeerPartition& peer : peers.partitions) {
    const QStringList* row = rowAt(shown, peer.start * 512, peer.size * 512);
    ASSERT_NE(row, nullptr) << "partition " << peer.number;
    ASSERT_EQ(row->size(), 6) << "an MBR row has no Attributes cell";
    char prefix[8];
    std::snprintf(prefix, sizeof prefix, "(0x%02X)", peer.mbrType());
    EXPECT_TRUE((*row)[4].startsWith(QString::fromLatin1(prefix))) << (*row)[4].toStdString();
    EXPECT_EQ((*row)[5], peer.bootable ? QStringLiteral("True") : QStringLiteral("False"));
  }
  EXPECT_TRUE(enabled(kMbrItems));
  EXPECT_TRUE(disabled(kGptItems));
}

TEST_F(MainWindow, ACommandFromThePopupMenuIsWrittenThenRedrawnFromTheDisk) {
  ASSERT_EQ(openDemo("mbr.img"), "");
  // The popup opens on the list.
  emit list()->customContextMenuRequested(QPoint(10, 10));
  EXPECT_TRUE(window->popupMenu()->isVisible());
  window->popupMenu()->hide();

  select(1);
  item("DeletePa1")->trigger();
  EXPECT_EQ(ui.log, (std::vector<std::string>{"confirm:Delete entry #2 for \\\\.\\PhysicalDrive0?", "sleep:100"}));
  std::vector<QStringList> shown = rows();
  ASSERT_GE(shown.size(), 2u);
  EXPECT_EQ(shown[1][1], QStringLiteral("0"));
  EXPECT_EQ(shown[1][2], QStringLiteral("0"));
  EXPECT_TRUE(list()->selectedItems().isEmpty());
  // The list gets the focus back as the popup closes; no row may look current.
  window->activateWindow();
  list()->setFocus(Qt::PopupFocusReason);
  QCoreApplication::processEvents();
  EXPECT_TRUE(list()->hasFocus());
  EXPECT_EQ(list()->currentItem(), nullptr);

  PeerTable peers = SfdiskDump(image);
  ASSERT_TRUE(peers.ok) << peers.error;
  EXPECT_EQ(peers.partitions.size(), 4u);
  for (const PeerPartition& peer : peers.partitions) EXPECT_NE(peer.mbrType(), 0x0C);
}

TEST_F(MainWindow, AnErrorACommandDoesNotTrapIsReportedAndTheWindowGoesOn) {
  image = dir.file("mbr.img");
  ASSERT_EQ(MakeMbrDemoImage(image), "");
  std::vector<std::uint8_t> before = ReadFileBytes(image);
  open({image});
  ui.promptAnswer = "123abc";
  SeenBox report;
  AnswerNextBox(report);
  item("ChangeDiskID1")->trigger();
  ASSERT_TRUE(report.seen);
  EXPECT_EQ(report.title, ApplicationTitle());
  EXPECT_EQ(report.icon, QMessageBox::Critical);
  EXPECT_EQ(report.buttons, QMessageBox::Ok);
  EXPECT_EQ(report.text, QStringLiteral("'123abc' n'est pas une valeur entière correcte."));
  // No confirmation was asked and nothing was written.
  EXPECT_EQ(ui.log, std::vector<std::string>{"prompt:Brimvale|Enter DiskID (4 bytes : $01020304)|$"});
  EXPECT_TRUE(ReadFileBytes(image) == before);

  // The window still works.
  item("Refresh1")->trigger();
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(rows().size() % 4, 0u);
  EXPECT_FALSE(rows().empty());
}

TEST_F(MainWindow, AFailedReadAtStartLeavesAnEmptyTableAndEveryItemEnabled) {
  open({});
  EXPECT_EQ(window->windowTitle(), kDisk0Caption);
  ASSERT_EQ(ui.log.size(), 1u);
  EXPECT_EQ(ui.log[0].rfind("message:IOCTL_DISK_GET_DRIVE_LAYOUT_EX failed:", 0), 0u) << ui.log[0];
  EXPECT_EQ(list()->topLevelItemCount(), 0);
  EXPECT_EQ(status(), QString());
  EXPECT_TRUE(enabled(kMbrItems));
  EXPECT_TRUE(enabled(kGptItems));
  EXPECT_TRUE(enabled(kOtherItems));
}

TEST_F(MainWindow, AnotherDiskIsShownWithItsCaptionAndARawDiskKeepsTheMenuState) {
  std::string gpt = dir.file("gpt.img");
  std::string empty = dir.file("empty.img");
  ASSERT_EQ(MakeGptDemoImage(gpt), "");
  MakeSparseFile(empty, kDemoDiskSize);
  open({gpt, empty});
  ui.chooserAnswer = "1";
  item("SelectanotherDISK1")->trigger();
  EXPECT_EQ(window->windowTitle(), QStringLiteral("Kestrin 0.1 - \\\\.\\PhysicalDrive1"));
  EXPECT_EQ(window->state().diskPath, "\\\\.\\PhysicalDrive1");
  EXPECT_EQ(status(), QStringLiteral("Style: , Count=0"));
  EXPECT_EQ(list()->topLevelItemCount(), 0);
  EXPECT_TRUE(enabled(kGptItems));
  EXPECT_TRUE(disabled(kMbrItems));

  // OK without a row keeps the disk and the caption.
  ui.chooserAnswer.reset();
  item("SelectanotherDISK1")->trigger();
  EXPECT_EQ(window->windowTitle(), QStringLiteral("Kestrin 0.1 - \\\\.\\PhysicalDrive1"));
}

TEST_F(MainWindow, PopupMenuHoldsTheCommandsInOrderWithNamedSeparators) {
  open({});
  QMenu* menu = window->popupMenu();
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(menu->objectName(), QStringLiteral("PopupMenu1"));
  std::vector<std::pair<std::string, std::string>> expected{
      {"CreateDisk1", "Create Disk"},
      {"DeleteDriveLayout1", "Delete Disk Layout"},
      {"N5", "-"},
      {"CreatePartition1", "Create Partition"},
      {"DeletePa1", "Delete Partition"},
      {"N2", "-"},
      {"ChangePartition1", "Change Partition Type (MBR)"},
      {"ChangePartitionBootMBR1", "Change Partition Boot (MBR)"},
      {"ChangeDiskID1", "Change Disk ID (MBR)"},
      {"SetasPartitionNumber11", "Set as Partition Number 1 (MBR)"},
      {"N4", "-"},
      {"ChangePartitionTypeGPT1", "Change Partition Type (GPT)"},
      {"ChangePartitionAttributesGPT1", "Change Partition Attributes (GPT)"},
      {"N3", "-"},
      {"Refresh1", "Refresh"},
      {"SelectanotherDISK1", "Select another DISK"}};
  std::vector<std::pair<std::string, std::string>> actual;
  for (QAction* action : menu->actions()) {
    actual.emplace_back(action->objectName().toStdString(),
                        action->isSeparator() ? std::string("-") : action->text().toStdString());
  }
  EXPECT_EQ(actual, expected);
}

TEST_F(MainWindow, TheListIsAReadOnlySingleRowReportWithTheFormsColumns) {
  open({});
  QTreeWidget* view = list();
  QStringList titles;
  for (int c = 0; c < view->columnCount(); ++c) titles << view->headerItem()->text(c);
  EXPECT_EQ(titles,
            (QStringList{"Number", "Offset (bytes)", "Length (bytes)", "HiddenSectors", "Type", "Boot", "Attributes"}));
  QHeaderView* header = view->header();
  const int widths[] = {50, 100, 100, 100, 200, 50};  // the form's, but for Attributes
  for (int c = 0; c < 6; ++c) EXPECT_EQ(header->sectionSize(c), widths[c]) << "column " << c;
  // At least the form's 100, and never narrower than its fixed-length text.
  EXPECT_GE(header->sectionSize(6), 100);
  EXPECT_LT(view->fontMetrics().horizontalAdvance(QStringLiteral("0x0000000000000000")), header->sectionSize(6));
  EXPECT_EQ(view->selectionMode(), QAbstractItemView::SingleSelection);
  EXPECT_EQ(view->selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_EQ(view->editTriggers(), QAbstractItemView::NoEditTriggers);
  EXPECT_EQ(view->contextMenuPolicy(), Qt::CustomContextMenu);
  auto* panel = window->findChild<QLabel*>(QStringLiteral("StatusBar1Panel0"));
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(panel->width(), 500);
  EXPECT_EQ(panel->parentWidget(), window->findChild<QStatusBar*>(QStringLiteral("StatusBar1")));
}

TEST_F(MainWindow, ClosingTheWindowFreesIt) {
  open({});
  QPointer<Tfrmparteditor> watched = window.release();
  watched->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(watched.isNull());
}

// Renders the window to build/screenshots/ for a person to look at.
class MainWindowPicture : public MainWindow {
 protected:
  void render(const std::string& demo, const QString& name) {
    ASSERT_EQ(openDemo(demo), "");
    QDir().mkpath(QStringLiteral(KESTRIN_BINARY_DIR "/screenshots"));
    QString file = QStringLiteral(KESTRIN_BINARY_DIR "/screenshots/") + name;
    QPixmap picture = window->grab();
    EXPECT_GE(picture.width(), 705);
    // Every column is on screen, none cut by the window's edge.
    QTreeWidget* view = list();
    EXPECT_LE(view->header()->length(), view->viewport()->width());
    EXPECT_GE(picture.height(), 348);
    EXPECT_TRUE(picture.save(file)) << file.toStdString();
    EXPECT_TRUE(QImage(file).width() == picture.width());
  }
};

TEST_F(MainWindowPicture, RendersAGptDisk) { render("gpt.img", QStringLiteral("main-window-gpt.png")); }

TEST_F(MainWindowPicture, RendersAnMbrDisk) { render("mbr.img", QStringLiteral("main-window-mbr.png")); }

TEST_F(MainWindow, ShiftF10OpensThePopupMenu) {
  ASSERT_EQ(openDemo("mbr.img"), "");
  select(1);
  QMenu* menu = window->popupMenu();
  for (Qt::KeyboardModifiers modifiers :
       {Qt::KeyboardModifiers(Qt::NoModifier), Qt::KeyboardModifiers(Qt::ShiftModifier)}) {
    QKeyEvent key(QEvent::KeyPress, Qt::Key_F10, modifiers);
    QCoreApplication::sendEvent(list(), &key);
    EXPECT_EQ(menu->isVisible(), modifiers == Qt::ShiftModifier);
  }
  menu->hide();
}

}  // namespace
}  // namespace kestrin::test
