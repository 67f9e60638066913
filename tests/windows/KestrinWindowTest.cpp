// Kestrin.exe driven as a user would, through window messages from this
// second process: the windows are found by class and control identifier,
// the table and status bar read, the popup menu's commands run, the dialogs
// and boxes filled and answered, and the table checked after every command.
// One scenario, one loop, over three images made before by sfdisk and
// sgdisk (an MBR, a GPT and an empty image); what the commands wrote is
// checked afterwards by sfdisk and sgdisk (scripts/windows-check.sh).
//
//   KestrinWindowTest --kestrin PATH\Kestrin.exe --images FOLDER [--dpi N] [--pictures FOLDER] [--gtest_filter=...]
//
// --dpi is the screen's DPI the system was set to (96 unless given): the
// window's sizes are checked at that scale.
// The images are FOLDER\mbr.img, gpt.img and empty.img, disks 0 to 2. The
// test saves the tables it last saw as FOLDER\window-<n>.txt, in the form
// `kestrin-cli show` prints. With --pictures, each window is also held up
// for a picture (see ShowsEachWindowForItsPicture).

#include <gtest/gtest.h>

// The table of answers the editor's other front ends take too; before the
// system's headers, whose macros would otherwise rename the editor's names.
#include "AnswerCases.h"
#include "Catalogue.h"

// The system's own headers need the types of windows.h before them.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <algorithm>
#include <fstream>
#include <initializer_list>
#include <iostream>
#include <optional>
#include <sstream>
#include <thread>

#include "ControlIds.h"
#include "RemoteWindows.h"

namespace kestrin::test {
namespace {

std::string g_kestrin;   // Kestrin.exe
std::string g_images;    // the folder of the images
std::string g_pictures;  // where the pictures are taken, if they are
int g_dpi = 96;          // the screen's, as the system was set up

// A size of the forms, given at 96 pixels per inch, at the screen's DPI.
int scaled(int pixels) { return ::MulDiv(pixels, g_dpi, 96); }

constexpr Milliseconds kWindowTimeout{10000};
constexpr Milliseconds kSettle{300};
constexpr const wchar_t* kDialogClass = L"#32770";
constexpr const char* kTitle = "Kestrin";  // the application's title: the executable's name
constexpr const char* kAsked = "Brimvale";

// The windows a command brings up, each known by its caption.
enum class Window { Message, ErrorReport, Confirmation, Prompt, CreatePartition, ChangeType, PartitionStyle, Disks };
// How the user ends it.
enum class Press { Ok, Cancel, Yes, No, Enter, Escape, Close, DoubleClick };

// A control of the window and a value: the text of an edit field, combo box
// or static text, "1" or "0" for a check box or radio button, the row count
// of a list (to check) or the row to select (to fill), "<hidden>" for a
// control that is not shown. Control 0 is a message box's text.
struct Value {
  int control;
  std::string text;
};

struct Answer {
  Window window;
  std::vector<Value> shows;  // checked first
  std::vector<Value> fill;   // then filled in
  Press press;
};

enum class Table { Unchanged, Redrawn };

// How the command is given: chosen in the popup menu, opened on the table
// from the keyboard, with the arrow keys and Enter; or its message sent
// straight to the window, as a disabled item cannot be chosen.
enum class Via { Menu, Message };

struct Step {
  std::string what;
  int command;  // the menu item run
  Via via;
  int select;                        // the row selected before, -1 for none
  std::vector<Answer> answers;       // the windows that come up, in order
  Table table;                       // afterwards: as before (and still selected), or read again (no row selected)
  std::string status{};              // Redrawn: the status text
  std::vector<std::string> rows{};   // Redrawn: every row, cells separated by tabs; '*' stands for any text
  std::string caption{};             // the main window's caption, when checked
  std::string saveAs{};              // the table is saved under this name in the images' folder
};

Answer confirm(const std::string& question, Press press = Press::Yes) {
  return {Window::Confirmation, {{0, question}}, {}, press};
}
Answer message(const std::string& text) { return {Window::Message, {{0, text}}, {}, Press::Ok}; }

#define K_DISK "\\\\.\\PhysicalDrive"
const char* const kEmptyMbrRow = "0\t0\t0\t0\t(0x00) NO-Partition empty entry\tFalse";
const char* const kGptEntry1 = "1\t1048576\t16777216\t\t{0FC63DAF-8483-4772-8E79-3D69D8477DE4}\t\t0x0000000000000000";
#define K_RECOVERY_ENTRY "2\t17825792\t8388608\t\t PARTITION_MSFT_RECOVERY_GUID\t\t"

// The popup menu's items in order (id 0 is a separator), with the editor's
// command each gives, as the table of answers names it.
struct MenuItem {
  int id;
  std::string caption;
  EditorClick click = nullptr;
};
const std::vector<MenuItem> kMenuItems = {
    {IDM_CreateDisk1, "Create Disk", &EditorCommands::CreateDisk1Click},
    {IDM_DeleteDriveLayout1, "Delete Disk Layout", &EditorCommands::DeleteDriveLayout1Click},
    {0, ""},
    {IDM_CreatePartition1, "Create Partition"},
    {IDM_DeletePa1, "Delete Partition", &EditorCommands::DeletePa1Click},
    {0, ""},
    {IDM_ChangePartition1, "Change Partition Type (MBR)", &EditorCommands::ChangePartition1Click},
    {IDM_ChangePartitionBootMBR1, "Change Partition Boot (MBR)", &EditorCommands::ChangePartitionBootMBR1Click},
    {IDM_ChangeDiskID1, "Change Disk ID (MBR)", &EditorCommands::ChangeDiskID1Click},
    {IDM_SetasPartitionNumber11, "Set as Partition Number 1 (MBR)", &EditorCommands::SetasPartitionNumber11Click},
    {0, ""},
    {IDM_ChangePartitionTypeGPT1, "Change Partition Type (GPT)", &EditorCommands::ChangePartitionTypeGPT1Click},
    {IDM_ChangePartitionAttributesGPT1, "Change Partition Attributes (GPT)",
     &EditorCommands::ChangePartitionAttributesGPT1Click},
    {0, ""},
    {IDM_Refresh1, "Refresh"},
    {IDM_SelectanotherDISK1, "Select another DISK"}};

// The table's questions name disk 0; the window asks them of its own disk.
std::string onDisk(std::string question, int disk) {
  return question.replace(question.find("PhysicalDrive0") + 13, 1, std::to_string(disk));
}

std::string joined(const std::vector<std::string>& texts) {
  std::string line = texts.empty() ? "" : texts.front();
  for (std::size_t i = 1; i < texts.size(); ++i) line += "\t" + texts[i];
  return line;
}

// The window a command of the table brings up for `answer`, filled in: the
// style dialog, the type dialog or the input box, whose caption, prompt and
// first text the table gives ("prompt:CAPTION|PROMPT|TEXT"), ended with Enter.
std::optional<Answer> answerWindow(const AnswerCommand& command, const std::string& answer) {
  const std::string& asks = command.windowAsks;
  const auto bar = asks.find('|'), second = asks.find('|', bar + 1);
  const bool mbr = answer == "mbr";
  if (command.click == &EditorCommands::CreateDisk1Click) {
    return Answer{Window::PartitionStyle, {}, {{IDC_rbmbr, mbr ? "1" : "0"}, {IDC_rbgpt, mbr ? "0" : "1"}}, Press::Ok};
  }
  if (asks == "typeDialog") return Answer{Window::ChangeType, {}, {{IDC_cmb_type, answer}}, Press::Ok};
  if (asks.rfind("prompt:", 0) != 0) return std::nullopt;
  EXPECT_EQ(asks.substr(7, bar - 7), kAsked);
  return Answer{Window::Prompt,
                {{IDC_InputPrompt, asks.substr(bar + 1, second - bar - 1)}, {IDC_InputText, asks.substr(second + 1)}},
                {{IDC_InputText, answer}},
                Press::Enter};
}

// The table's cases (AnswerCases.h) on disk 0, 1 or 2, of that style, whose
// status line and rows are `rows`, on entry 2: the commands it refuses (the
// menu disables them, and given straight to the window they say why; the RAW
// disk keeps the GPT disk's menu, so there the GPT ones are chosen in it),
// the questions answered No, and the answers, last row first, so that each
// command's first answer written is what the disk keeps, as kestrin-cli's
// replay in scripts/windows-check.sh writes it. The window names the types
// of its catalogue (the table's GPT names) and shows others as GUID text or
// the byte in decimal; its error report ends a message with a full stop.
std::vector<Step> fromTable(AnswerStyle style, std::vector<std::string> rows) {
  const int disk = static_cast<int>(style);
  std::vector<Step> steps;
  auto add = [&](EditorClick click, const std::string& what, Via via, int select) -> Step& {
    auto item = std::find_if(kMenuItems.begin(), kMenuItems.end(), [&](const MenuItem& i) { return i.click == click; });
    return steps.emplace_back(Step{item->caption + what, item->id, via, select, {}, Table::Unchanged});
  };
  for (const StyleRefusal& c : kStyleRefusals) {
    const std::vector<AnswerStyle> on = RefusedOn(c);
    if (c.click == nullptr || std::find(on.begin(), on.end(), style) == on.end()) continue;
    if (style != AnswerStyle::Raw) add(c.click, " cannot be chosen in the menu", Via::Menu, 0);
    const bool menu = style == AnswerStyle::Raw && std::string(c.message) == "GPT only";
    add(c.click, " is refused", menu ? Via::Menu : Via::Message, rows.empty() ? -1 : 0).answers = {message(c.message)};
  }
  for (const CancelledQuestion& c : kCancelledQuestions) {
    if (c.command.style != style) continue;
    Step& step = add(c.command.click, " answered No after '" + c.answer + "'", Via::Menu, 1);
    if (auto window = answerWindow(c.command, c.answer)) step.answers.push_back(*window);
    step.answers.push_back(confirm(onDisk(c.command.question, disk), Press::No));
  }
  std::vector<AnswerCase> cases = AnswerCases();
  std::reverse(cases.begin(), cases.end());
  for (const AnswerCase& c : cases) {
    if (c.command.style != style) continue;
    Step& step = add(c.command.click, " on entry 2 answered '" + c.answer + "'", Via::Menu, 1);
    if (auto window = answerWindow(c.command, c.answer)) step.answers.push_back(*window);
    if (c.beforeQuestion) {
      if (!c.silentInWindow) step.answers.push_back({Window::ErrorReport, {{0, c.refusal + "."}}, {}, Press::Ok});
      continue;
    }
    step.answers.push_back(confirm(onDisk(c.command.question, disk)));
    if (!c.refusal.empty()) {
      step.answers.push_back(message(c.refusal));
      continue;
    }
    // Entry 2's cells: number, offset, length, hidden sectors, type, then
    // the boot flag (MBR), or an empty cell and the attributes (GPT).
    std::vector<std::string> cells;
    std::istringstream row(rows[2]);
    for (std::string cell; std::getline(row, cell, '\t');) cells.push_back(cell);
    const Written field = c.command.field;
    char hex[24];
    std::snprintf(hex, sizeof hex, field == Written::MbrType ? "(0x%02llX)*" : "0x%016llX",
                  static_cast<unsigned long long>(c.number));
    const bool known = !TypeDescriptionByByte(static_cast<std::uint8_t>(c.number)).empty();
    if (field == Written::BootFlag) cells.at(5) = c.number != 0 ? "True" : "False";
    if (field == Written::MbrType) cells.at(4) = known ? hex : std::to_string(c.number);
    if (field == Written::GptType) cells.at(4) = c.answer[0] == '{' ? "{" + c.guid + "}" : " PARTITION_" + c.answer;
    if (field == Written::Attributes) cells.at(6) = hex;
    rows[2] = joined(cells);
    step.table = Table::Redrawn;
    step.status = rows[0];
    step.rows = {rows.begin() + 1, rows.end()};
  }
  return steps;
}

std::vector<Step> concat(std::initializer_list<std::vector<Step>> pieces) {
  std::vector<Step> all;
  for (const auto& piece : pieces) all.insert(all.end(), piece.begin(), piece.end());
  return all;
}

// One run of the window over the three images, command by command.
const std::vector<Step>& scenario() {
  // clang-format off
  static const std::vector<Step> steps = concat({{
    // --- disk 0: the MBR image, an entry at 1 MiB of 16 MiB, type 0x83, bootable
    {"Create Partition proposes the end of entry 1; the title bar's close is Cancel", IDM_CreatePartition1, Via::Menu,
     1,
     {{Window::CreatePartition, {{IDC_txtoffset, "17825792"}, {IDC_txtsize, "47"}, {IDC_cmb_type, "IFS"},
                                 {IDC_chkboot, "0"}}, {}, Press::Close}},
     Table::Unchanged},
    {"Create Partition: 8 MB of FAT32, bootable, in slot 2 (Enter is OK)", IDM_CreatePartition1, Via::Menu, 1,
     {{Window::CreatePartition, {}, {{IDC_txtsize, "8"}, {IDC_cmb_type, "FAT32"}, {IDC_chkboot, "1"}}, Press::Enter},
      confirm("Create entry #2 for " K_DISK "0?")},
     Table::Redrawn, "Style: MBR, Count=4",
     {"1\t1048576\t16777216\t2048\t(0x83) Linux*\tTrue", "2\t17825792\t8388608\t34816\t(0x0B) Windows95*\tTrue",
      kEmptyMbrRow, kEmptyMbrRow}},
    {"Create Partition over entry 1 asks first, plainly; Enter takes its default, No", IDM_CreatePartition1,
     Via::Menu, 0,
     {{Window::CreatePartition, {}, {}, Press::Ok},
      confirm("Entry #1 holds partition 1 (offset 1048576, 16777216 bytes, type (0x83) Linux Linux native file system "
              "(ext2fs/xiafs)). Write the new entry over it?", Press::Enter)},
     Table::Unchanged},
    {"Change Partition Type (MBR) to HIDDEN FAT32", IDM_ChangePartition1, Via::Menu, 0,
     {{Window::ChangeType, {{IDC_cmb_type, "EXTENDED"}, {IDC_txtoffset, "<hidden>"}, {IDC_txtsize, "<hidden>"},
                            {IDC_Label1, "<hidden>"}, {IDC_Label2, "<hidden>"}, {IDC_chkboot, "<hidden>"},
                            {IDC_Label3, "Type"}}, {{IDC_cmb_type, "HIDDEN FAT32"}}, Press::Ok},
      confirm("Modify entry #1 for " K_DISK "0?")},
     Table::Redrawn, "Style: MBR, Count=4",
     {"1\t1048576\t16777216\t2048\t(0x1B) Windows hidden Windows95 FAT32 partition\tTrue",
      "2\t17825792\t8388608\t34816\t(0x0B)*\tTrue", kEmptyMbrRow, kEmptyMbrRow}},
    {"Change Partition Type (MBR) with a typed code: the type byte it names", IDM_ChangePartition1, Via::Menu, 0,
     {{Window::ChangeType, {}, {{IDC_cmb_type, "$1B"}}, Press::Ok}, confirm("Modify entry #1 for " K_DISK "0?")},
     Table::Redrawn, "Style: MBR, Count=4",
     {"1\t1048576\t16777216\t2048\t(0x1B) Windows hidden Windows95 FAT32 partition\tTrue",
      "2\t17825792\t8388608\t34816\t(0x0B)*\tTrue", kEmptyMbrRow, kEmptyMbrRow}},
    {"Change Partition Type (MBR) with typed text that is no type: the conversion names it", IDM_ChangePartition1,
     Via::Menu, 0,
     {{Window::ChangeType, {}, {{IDC_cmb_type, "linux"}}, Press::Ok}, confirm("Modify entry #1 for " K_DISK "0?"),
      message("'linux' n'est pas une valeur enti\xC3\xA8re correcte")},
     Table::Unchanged},
    {"Create Partition over entry 1: the refusal names the codec's reasons", IDM_CreatePartition1, Via::Menu, 2,
     {{Window::CreatePartition, {}, {{IDC_txtoffset, "2097152"}, {IDC_txtsize, "4"}}, Press::Ok},
      confirm("Create entry #3 for " K_DISK "0?"),
      message("IOCTL_DISK_SET_DRIVE_LAYOUT_EX failed:The parameter is incorrect\nThe table it would have written has "
              "these problems:\n  overlap: entry 3 (sectors 4096 to 12287) overlaps entry 1 (sectors 2048 to 34815)")},
     Table::Redrawn, "Style: MBR, Count=4",
     {"1\t1048576\t16777216\t2048\t(0x1B)*\tTrue", "2\t17825792\t8388608\t34816\t(0x0B)*\tTrue", kEmptyMbrRow,
      kEmptyMbrRow}},
    {"Change Partition Boot (MBR) to false", IDM_ChangePartitionBootMBR1, Via::Menu, 0,
     {{Window::Prompt, {}, {{IDC_InputText, "false"}}, Press::Ok}, confirm("Modify entry #1 for " K_DISK "0?")},
     Table::Redrawn, "Style: MBR, Count=4",
     {"1\t1048576\t16777216\t2048\t(0x1B)*\tFalse", "2\t17825792\t8388608\t34816\t(0x0B)*\tTrue", kEmptyMbrRow,
      kEmptyMbrRow}},
    {"Change Partition Boot (MBR): Escape in the input box", IDM_ChangePartitionBootMBR1, Via::Menu, 1,
     {{Window::Prompt, {}, {{IDC_InputText, "1"}}, Press::Escape}}, Table::Unchanged},
  }, fromTable(AnswerStyle::Mbr, {"Style: MBR, Count=4", "1\t1048576\t16777216\t2048\t(0x1B)*\tFalse",
                                    "2\t17825792\t8388608\t34816\t(0x0B)*\tTrue", kEmptyMbrRow, kEmptyMbrRow}), {
    {"Set as Partition Number 1 (MBR) on entry 2", IDM_SetasPartitionNumber11, Via::Menu, 1,
     {confirm("Modify entry #2 for " K_DISK "0?")},
     Table::Redrawn, "Style: MBR, Count=4",
     {"1\t17825792\t8388608\t34816\t(0x0B) Windows95 with 32-bit FAT\tTrue",
      "2\t1048576\t16777216\t2048\t(0x1B)*\tFalse", kEmptyMbrRow, kEmptyMbrRow}},
    {"Delete Partition: entry 1", IDM_DeletePa1, Via::Menu, 0,
     {confirm("Delete entry #1 for " K_DISK "0?")},
     Table::Redrawn, "Style: MBR, Count=4",
     {kEmptyMbrRow, "1\t1048576\t16777216\t2048\t(0x1B) Windows hidden Windows95 FAT32 partition\tFalse", kEmptyMbrRow,
      kEmptyMbrRow}},
    {"Refresh reads the table again", IDM_Refresh1, Via::Menu, 1, {},
     Table::Redrawn, "Style: MBR, Count=4",
     {kEmptyMbrRow, "1\t1048576\t16777216\t2048\t(0x1B)*\tFalse", kEmptyMbrRow, kEmptyMbrRow}, {}, "window-0.txt"},
    {"Select another DISK: Cancel keeps the disk", IDM_SelectanotherDISK1, Via::Menu, 0,
     {{Window::Disks, {{IDC_lvdisks, "3"}}, {{IDC_lvdisks, "1"}}, Press::Cancel}},
     Table::Unchanged, {}, {}, "Kestrin 0.1 - " K_DISK "0"},
    {"Select another DISK: Escape is Cancel", IDM_SelectanotherDISK1, Via::Menu, 0,
     {{Window::Disks, {}, {{IDC_lvdisks, "1"}}, Press::Escape}},
     Table::Unchanged, {}, {}, "Kestrin 0.1 - " K_DISK "0"},
    {"Select another DISK: OK without a row keeps the disk", IDM_SelectanotherDISK1, Via::Menu, 0,
     {{Window::Disks, {}, {}, Press::Ok}},
     Table::Unchanged, {}, {}, "Kestrin 0.1 - " K_DISK "0"},
    {"Select another DISK: the GPT image, with Enter", IDM_SelectanotherDISK1, Via::Menu, 0,
     {{Window::Disks, {}, {{IDC_lvdisks, "1"}}, Press::Enter}},
     Table::Redrawn, "Style: GPT, Count=1", {kGptEntry1, "0", "0", "0"}, "Kestrin 0.1 - " K_DISK "1"},

    // --- disk 1: the GPT image, an entry at 1 MiB of 16 MiB of a type the catalogue does not know
    {"Create Partition on the filler row after entry 1", IDM_CreatePartition1, Via::Menu, 1,
     {{Window::CreatePartition, {{IDC_txtoffset, "17825792"}, {IDC_txtsize, "46"}, {IDC_cmb_type, "BASIC_DATA_GUID"}},
       {{IDC_txtsize, "8"}}, Press::Ok},
      confirm("Create entry #2 for " K_DISK "1?")},
     Table::Redrawn, "Style: GPT, Count=2",
     {kGptEntry1, "2\t17825792\t8388608\t\t PARTITION_BASIC_DATA_GUID\t\t0x0000000000000000", "0", "0"}},
  }, fromTable(AnswerStyle::Gpt, {"Style: GPT, Count=2", kGptEntry1,
                                    "2\t17825792\t8388608\t\t PARTITION_BASIC_DATA_GUID\t\t0x0000000000000000", "0", "0"}), {
    // The dialog offers the same type, whatever the entry holds.
    {"Change Partition Type (GPT) to MSFT_RECOVERY_GUID", IDM_ChangePartitionTypeGPT1, Via::Menu, 1,
     {{Window::ChangeType, {{IDC_cmb_type, "BASIC_DATA_GUID"}}, {{IDC_cmb_type, "MSFT_RECOVERY_GUID"}}, Press::Ok},
      confirm("Modify entry #2 for " K_DISK "1?")},
     Table::Redrawn, "Style: GPT, Count=2", {kGptEntry1, K_RECOVERY_ENTRY "0x8000000000000001", "0", "0"}},
    {"Delete Partition (GPT): entry 1", IDM_DeletePa1, Via::Menu, 0,
     {confirm("Delete entry #1 for " K_DISK "1?")},
     Table::Redrawn, "Style: GPT, Count=1", {K_RECOVERY_ENTRY "0x8000000000000001", "0", "0", "0"}, {},
     "window-1.txt"},
    {"Select another DISK: the empty image, by a double click on its row", IDM_SelectanotherDISK1, Via::Menu, 0,
     {{Window::Disks, {}, {{IDC_lvdisks, "2"}}, Press::DoubleClick}},
     Table::Redrawn, "Style: , Count=0", {}, "Kestrin 0.1 - " K_DISK "2"},

    // --- disk 2: the empty image, no table at all
  }, fromTable(AnswerStyle::Raw, {}), {
    {"Create Partition on a RAW disk: the GPT names give no code there", IDM_CreatePartition1, Via::Menu, -1,
     {{Window::CreatePartition, {{IDC_txtoffset, "65536"}, {IDC_txtsize, "31"}, {IDC_cmb_type, "BASIC_DATA_GUID"}}, {},
       Press::Ok},
      confirm("Create entry #1 for " K_DISK "2?"), message("'BASIC_DATA_GUID' n'est pas une valeur GUID correcte")},
     Table::Unchanged},
    {"Create Disk: Escape in the style dialog", IDM_CreateDisk1, Via::Menu, -1,
     {{Window::PartitionStyle, {{IDC_rbmbr, "1"}, {IDC_rbgpt, "0"}, {IDC_rbraw, "0"}}, {}, Press::Escape}},
     Table::Unchanged},
    {"Create Disk: GPT", IDM_CreateDisk1, Via::Menu, -1,
     {{Window::PartitionStyle, {}, {{IDC_rbmbr, "0"}, {IDC_rbgpt, "1"}}, Press::Ok},
      confirm("Create Disk on " K_DISK "2?")},
     Table::Redrawn, "Style: GPT, Count=0", {}},
    {"Create Partition on a GPT without entries: entry 1", IDM_CreatePartition1, Via::Menu, -1,
     {{Window::CreatePartition, {{IDC_txtoffset, "65536"}, {IDC_txtsize, "31"}},
       {{IDC_txtoffset, "1048576"}, {IDC_txtsize, "4"}}, Press::Ok},
      confirm("Create entry #1 for " K_DISK "2?")},
     Table::Redrawn, "Style: GPT, Count=1",
     {"1\t1048576\t4194304\t\t PARTITION_BASIC_DATA_GUID\t\t0x0000000000000000", "0", "0", "0"}},
    {"Delete Disk Layout", IDM_DeleteDriveLayout1, Via::Menu, 0,
     {confirm("Delete Drive Layout for " K_DISK "2?")}, Table::Redrawn, "Style: , Count=0", {}},
    {"Create Disk: MBR, the style the dialog opens with (Enter is OK)", IDM_CreateDisk1, Via::Menu, -1,
     {{Window::PartitionStyle, {}, {}, Press::Enter}, confirm("Create Disk on " K_DISK "2?")},
     Table::Redrawn, "Style: MBR, Count=4", {kEmptyMbrRow, kEmptyMbrRow, kEmptyMbrRow, kEmptyMbrRow}, {},
     "window-2.txt"},
  }});
  // clang-format on
  return steps;
}

// Each window's caption, in the order of Window.
constexpr const char* kCaptions[] = {
    kTitle, kTitle, kAsked, kAsked, "Create Partition", "Change Partition Type", "Partition Style", "Disks"};
const char* captionOf(Window window) { return kCaptions[static_cast<int>(window)]; }

bool isMessageBox(Window window) {
  return window == Window::Message || window == Window::ErrorReport || window == Window::Confirmation;
}

// '*' matches any run of characters within one cell.
bool matches(const char* pattern, const char* text) {
  if (*pattern == '\0') return *text == '\0';
  if (*pattern == '*') {
    for (const char* rest = text;; ++rest) {
      if (matches(pattern + 1, rest)) return true;
      if (*rest == '\0' || *rest == '\t') return false;
    }
  }
  return *pattern == *text && matches(pattern + 1, text + 1);
}

class KestrinWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(g_kestrin.empty() || g_images.empty()) << "usage: --kestrin PATH --images FOLDER";
  }

  // Starts Kestrin.exe on the three images and waits for its first table.
  void start() {
    const auto started = std::chrono::steady_clock::now();
    m_process.emplace(g_kestrin, "--disk \"" + g_images + "\\mbr.img\" --disk \"" + g_images + "\\gpt.img\" --disk \"" +
                                     g_images + "\\empty.img\"");
    findMain();
    ASSERT_TRUE(WaitUntil([&] { return !m_process->listRows(m_list).empty(); }, kWindowTimeout));
    const auto elapsed = std::chrono::duration_cast<Milliseconds>(std::chrono::steady_clock::now() - started);
    std::cout << "Kestrin.exe: first table " << elapsed.count() << " ms after start\n";
  }

  void findMain() {
    ASSERT_TRUE(WaitUntil([&] { return !m_process->windows(L"Tfrmparteditor").empty(); }, kWindowTimeout));
    m_main = m_process->windows(L"Tfrmparteditor").front();
    m_list = ::GetDlgItem(m_main, IDC_ListView1);
    m_status = ::GetDlgItem(m_main, IDC_StatusBar1);
  }

  // The main window as laid out at the screen's DPI: caption, size, the
  // list's columns and styles, the status bar's panel.
  void checkLayout() {
    EXPECT_EQ(TextOf(m_main), "Kestrin 0.1 - " K_DISK "0");
    RECT client{};
    ::GetClientRect(m_main, &client);
    // 705 wide, unless the columns need more in this system's font: the
    // window then grows by what they need beyond the list (inset by 2 on
    // either side).
    int columnsWidth = 0;
    for (int i = 0; i < 7; ++i) columnsWidth += m_process->listColumn(m_list, i).second;
    // A window never grows past the screen (Wine's screen without a display
    // is 1024 x 768, too narrow for 150 %).
    RECT frame{};
    ::GetWindowRect(m_main, &frame);
    const int widest = ::GetSystemMetrics(SM_CXMAXTRACK) - (frame.right - frame.left - client.right);
    EXPECT_EQ(client.right, std::min(widest, std::max(scaled(705), columnsWidth + 2 * scaled(2))));
    EXPECT_EQ(client.bottom, scaled(348));
    const auto style = ::GetWindowLongW(m_list, GWL_STYLE);
    EXPECT_EQ(style & LVS_TYPEMASK, LVS_REPORT);
    EXPECT_TRUE(style & LVS_SINGLESEL);
    EXPECT_FALSE(style & WS_BORDER);
    const auto extended = ::SendMessageW(m_list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0);
    EXPECT_TRUE(extended & LVS_EX_GRIDLINES);
    EXPECT_TRUE(extended & LVS_EX_FULLROWSELECT);
    // Number and Attributes grow when their caption or text needs it.
    const std::vector<std::pair<std::string, int>> columns = {
        {"Number", 50}, {"Offset (bytes)", 100}, {"Length (bytes)", 100}, {"HiddenSectors", 100}, {"Type", 200},
        {"Boot", 50},   {"Attributes", 100}};
    for (std::size_t i = 0; i < columns.size(); ++i) {
      const auto [caption, width] = m_process->listColumn(m_list, static_cast<int>(i));
      EXPECT_EQ(caption, columns[i].first);
      if (i == 0 || i == 6) {
        EXPECT_GE(width, scaled(columns[i].second)) << caption;
      } else {
        EXPECT_EQ(width, scaled(columns[i].second)) << caption;
      }
    }
    EXPECT_EQ(m_process->statusParts(m_status), std::vector<int>{scaled(500)});
    EXPECT_NE(::GetWindowLongW(m_main, GWL_EXSTYLE) & WS_EX_TOOLWINDOW, 0);
  }

  // The main window as laid out, and its popup menu.
  void checkMainWindow() {
    checkLayout();
    // The menu as the program carries it: items, captions, separators, order.
    HMODULE program = ::LoadLibraryExW(Wide(g_kestrin).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(program, nullptr);
    HMENU menu = ::LoadMenuW(program, MAKEINTRESOURCEW(IDM_PopupMenu1));
    HMENU popup = ::GetSubMenu(menu, 0);
    const std::vector<MenuItem>& items = kMenuItems;
    ASSERT_EQ(::GetMenuItemCount(popup), static_cast<int>(items.size()));
    for (std::size_t i = 0; i < items.size(); ++i) {
      wchar_t caption[128] = {};
      ::GetMenuStringW(popup, static_cast<UINT>(i), caption, 128, MF_BYPOSITION);
      const UINT state = ::GetMenuState(popup, static_cast<UINT>(i), MF_BYPOSITION);
      EXPECT_EQ(static_cast<int>(::GetMenuItemID(popup, static_cast<int>(i))), items[i].id) << i;
      EXPECT_EQ(Utf8(caption), items[i].caption) << i;
      EXPECT_EQ((state & MF_SEPARATOR) != 0, items[i].id == 0) << i;
      // Every item is enabled until a table has been read.
      if (items[i].id != 0) {
        EXPECT_EQ(state & (MF_GRAYED | MF_DISABLED), 0u) << i;
      }
    }
    ::DestroyMenu(menu);
    ::FreeLibrary(program);
  }

  std::vector<HWND> dialogs() const { return m_process->windows(kDialogClass); }

  // The table as `kestrin-cli show` prints it: the status line, then the rows.
  std::vector<std::string> table() const {
    std::vector<std::string> lines{m_process->statusText(m_status, 0)};
    for (const auto& row : m_process->listRows(m_list)) lines.push_back(joined(row));
    return lines;
  }

  int selected() const { return static_cast<int>(::SendMessageW(m_list, LVM_GETNEXTITEM, WPARAM(-1), LVNI_SELECTED)); }

  // The message text of a message box: its one static control with text.
  static std::string messageText(HWND box) {
    std::string text;
    for (HWND child = ::GetWindow(box, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
      if (ClassOf(child) == L"Static" && text.empty()) text = TextOf(child);
    }
    return text;
  }

  static bool hasIcon(HWND box) {
    for (HWND child = ::GetWindow(box, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
      if (ClassOf(child) == L"Static" && ::SendMessageW(child, STM_GETICON, 0, 0) != 0) return true;
    }
    return false;
  }

  std::string valueOf(HWND window, int control) const {
    if (control == 0) return messageText(window);
    HWND item = ::GetDlgItem(window, control);
    if (item == nullptr) return "<none>";
    if (!::IsWindowVisible(item)) return "<hidden>";
    const std::wstring kind = ClassOf(item);
    if (kind == L"Button") return ::SendMessageW(item, BM_GETCHECK, 0, 0) == BST_CHECKED ? "1" : "0";
    if (kind == WC_LISTVIEWW) return std::to_string(m_process->listRows(item).size());
    return TextOf(item);
  }

  void fill(HWND window, const Value& value) const {
    HWND item = ::GetDlgItem(window, value.control);
    const std::wstring kind = ClassOf(item);
    if (kind == L"Button") {
      ::SendMessageW(item, BM_SETCHECK, std::string(value.text) == "1" ? BST_CHECKED : BST_UNCHECKED, 0);
    } else if (kind == WC_LISTVIEWW) {
      m_process->selectRow(item, std::stoi(value.text));
    } else {
      SetText(item, value.text);
    }
  }

  void press(HWND window, Window kind, Press how) const {
    auto command = [window](int id) { ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); };
    switch (how) {
      case Press::Ok:
        return command(kind == Window::Disks ? IDC_frmdisks_btnok : IDOK);
      case Press::Cancel:
        return command(kind == Window::Disks ? IDC_frmdisks_btncancel : IDCANCEL);
      case Press::Yes:
        return command(IDYES);
      case Press::No:
        return command(IDNO);
      case Press::Enter:
      case Press::Escape:
        // Through the dialog's own message loop, as typed keys arrive.
        ::PostMessageW(window, WM_KEYDOWN, how == Press::Enter ? VK_RETURN : VK_ESCAPE, 0);
        std::this_thread::sleep_for(kSettle);
        return;
      case Press::Close:
        ::PostMessageW(window, WM_CLOSE, 0, 0);
        return;
      case Press::DoubleClick: {
        // On the selected row of the dialog's list: below the header, one
        // row's height (what the list makes of two rows, less one) per row.
        HWND list = ::GetDlgItem(window, IDC_lvdisks);
        const int row = static_cast<int>(::SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
        const int height = HIWORD(::SendMessageW(list, LVM_APPROXIMATEVIEWRECT, 2, MAKELPARAM(-1, -1))) -
                           HIWORD(::SendMessageW(list, LVM_APPROXIMATEVIEWRECT, 1, MAKELPARAM(-1, -1)));
        RECT header{};
        ::GetWindowRect(reinterpret_cast<HWND>(::SendMessageW(list, LVM_GETHEADER, 0, 0)), &header);
        POINT at{header.left + scaled(10), header.bottom + height * row + height / 2};
        ::ScreenToClient(list, &at);
        ::PostMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(at.x, at.y));
        return;
      }
    }
  }

  // Waits until the window `kind` is the one window up; null (and a
  // failure naming what is up instead) after the timeout.
  HWND awaitWindow(Window kind) {
    // A window is up before it has its caption and texts: each is waited for.
    HWND window = nullptr;
    auto up = [&] {
      const std::vector<HWND> open = dialogs();
      window = open.size() == 1 && TextOf(open.front()) == captionOf(kind) ? open.front() : nullptr;
      return window != nullptr;
    };
    if (!WaitUntil(up, kWindowTimeout)) {
      std::string seen;
      for (HWND open : dialogs()) seen += " '" + TextOf(open) + "' (" + messageText(open) + ")";
      ADD_FAILURE() << "waiting for '" << captionOf(kind) << "', found" << (seen.empty() ? " none" : seen);
    }
    return window;
  }

  // Waits for the window of `answer`, checks what it shows, fills it in and
  // ends it as the answer says.
  void answer(const Answer& answer) {
    HWND window = awaitWindow(answer.window);
    ASSERT_NE(window, nullptr);
    for (const Value& value : answer.shows) {
      WaitUntil([&] { return valueOf(window, value.control) == value.text; }, kSettle);
      EXPECT_EQ(valueOf(window, value.control), value.text) << "control " << value.control;
    }
    if (isMessageBox(answer.window)) {
      EXPECT_EQ(hasIcon(window), answer.window == Window::ErrorReport);
      const bool yesNo = ::GetDlgItem(window, IDYES) != nullptr && ::GetDlgItem(window, IDNO) != nullptr;
      EXPECT_EQ(yesNo, answer.window == Window::Confirmation);
      // The confirmation has no owner, so the main window stays enabled.
      EXPECT_EQ(::GetWindow(window, GW_OWNER) == nullptr, answer.window == Window::Confirmation);
    }
    for (const Value& value : answer.fill) fill(window, value);
    press(window, answer.window, answer.press);
    // The next window may share this one's caption (the input box and the
    // confirmation are both "Brimvale"): it is looked for only once this one
    // is gone.
    WaitUntil([window] { return !::IsWindow(window) || !::IsWindowVisible(window); }, kWindowTimeout);
  }

  void checkTable(const Step& step, const std::vector<std::string>& before) {
    if (step.table == Table::Unchanged) {
      ASSERT_TRUE(WaitUntil([&] { return dialogs().empty(); }, kWindowTimeout));
      std::this_thread::sleep_for(kSettle);
      EXPECT_TRUE(dialogs().empty());
      // Enter on a disabled item runs nothing; the menu may stay open.
      if (HWND menu = openMenu()) {
        ::PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0);
        EXPECT_TRUE(WaitUntil([&] { return openMenu() == nullptr; }, kWindowTimeout));
      }
      EXPECT_EQ(table(), before);
      EXPECT_EQ(selected(), step.select);
    } else {
      auto redrawn = [&] {
        const std::vector<std::string> now = table();
        if (!dialogs().empty() || selected() != -1 || now.size() != step.rows.size() + 1) return false;
        if (now[0] != step.status) return false;
        for (std::size_t i = 0; i < step.rows.size(); ++i) {
          if (!matches(step.rows[i].c_str(), now[i + 1].c_str())) return false;
        }
        return true;
      };
      EXPECT_TRUE(WaitUntil(redrawn, kWindowTimeout))
          << ::testing::PrintToString(table()) << " with " << dialogs().size() << " windows up";
    }
    if (!step.caption.empty()) {
      EXPECT_EQ(TextOf(m_main), step.caption);
    }
    if (!step.saveAs.empty()) {
      std::ofstream saved(g_images + "\\" + step.saveAs, std::ios::binary);
      for (const std::string& line : table()) saved << line << '\n';
    }
  }

  // Opens the popup menu on the table from the keyboard (the context-menu
  // key) and chooses item `command`: Down to it, then Enter.
  void choose(int command) {
    ::PostMessageW(m_main, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(m_list), -1);
    HWND menu = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (menu = openMenu()) != nullptr; }, kWindowTimeout)) << "no popup menu";
    for (const auto& item : kMenuItems) {
      if (item.id == 0) continue;  // the arrow keys pass over separators
      ::PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
      if (item.id == command) break;
    }
    ::PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);
  }

  HWND openMenu() const {
    const std::vector<HWND> menus = m_process->windows(L"#32768");
    return menus.empty() ? nullptr : menus.front();
  }

  void give(int command, Via via) {
    if (via == Via::Menu) {
      choose(command);
    } else {
      ::PostMessageW(m_main, WM_COMMAND, MAKEWPARAM(command, 0), 0);
    }
  }

  void run(const Step& step) {
    m_process->selectRow(m_list, step.select);
    const std::vector<std::string> before = table();
    give(step.command, step.via);
    if (HasFatalFailure()) return;
    for (const Answer& each : step.answers) {
      answer(each);
      if (::testing::Test::HasFatalFailure()) return;
    }
    checkTable(step, before);
  }

  // Holds `window` up until its picture is taken: writes
  // <pictures>\<name>.ready with the window's place on the screen ("left top
  // width height") and waits for <pictures>\<name>.done.
  void holdForPicture(HWND window, const std::string& name) {
    RECT place{};
    ::GetWindowRect(window, &place);
    const std::string ready = g_pictures + "\\" + name + ".ready";
    {
      std::ofstream out(ready + ".part");
      out << place.left << ' ' << place.top << ' ' << place.right - place.left << ' ' << place.bottom - place.top
          << '\n';
    }
    ::MoveFileExW(Wide(ready + ".part").c_str(), Wide(ready).c_str(), MOVEFILE_REPLACE_EXISTING);
    const std::wstring done = Wide(g_pictures + "\\" + name + ".done");
    EXPECT_TRUE(
        WaitUntil([&] { return ::GetFileAttributesW(done.c_str()) != INVALID_FILE_ATTRIBUTES; }, Milliseconds{60000}))
        << "no picture of " << name;
  }

  std::optional<RemoteProcess> m_process;
  HWND m_main = nullptr;
  HWND m_list = nullptr;
  HWND m_status = nullptr;
};

// A window to picture: the command that brings it up (0: the one the
// previous picture's answer brought up), and how it is ended afterwards.
struct Picture {
  const char* name;
  int command;
  Via via;
  int select;
  Answer then;
};

TEST_F(KestrinWindow, ShowsEachWindowForItsPicture) {
  if (g_pictures.empty()) GTEST_SKIP() << "pictures are taken with --pictures FOLDER";
  const std::vector<Picture> pictures = {
      {"create-partition", IDM_CreatePartition1, Via::Menu, 1, {Window::CreatePartition, {}, {}, Press::Cancel}},
      {"change-type", IDM_ChangePartition1, Via::Menu, 0, {Window::ChangeType, {}, {}, Press::Cancel}},
      {"partition-style", IDM_CreateDisk1, Via::Menu, 0, {Window::PartitionStyle, {}, {}, Press::Cancel}},
      {"disks", IDM_SelectanotherDISK1, Via::Menu, 0, {Window::Disks, {}, {{IDC_lvdisks, "0"}}, Press::Cancel}},
      {"confirmation", IDM_DeletePa1, Via::Menu, 0, {Window::Confirmation, {}, {}, Press::No}},
      {"message", IDM_ChangePartitionTypeGPT1, Via::Message, 0, {Window::Message, {}, {}, Press::Ok}},
      {"input-box", IDM_ChangeDiskID1, Via::Menu, 0, {Window::Prompt, {}, {{IDC_InputText, "123abc"}}, Press::Ok}},
      {"error-report", 0, Via::Message, 0, {Window::ErrorReport, {}, {}, Press::Ok}},
  };
  start();
  ASSERT_FALSE(HasFatalFailure());
  m_process->selectRow(m_list, 1);
  holdForPicture(m_main, "main");
  for (const Picture& picture : pictures) {
    SCOPED_TRACE(picture.name);
    if (picture.command != 0) {
      m_process->selectRow(m_list, picture.select);
      give(picture.command, picture.via);
    }
    HWND window = awaitWindow(picture.then.window);
    ASSERT_NE(window, nullptr);
    // The disk chooser fills its list as it comes up.
    if (picture.then.window == Window::Disks) {
      WaitUntil([&] { return valueOf(window, IDC_lvdisks) == "3"; }, kWindowTimeout);
    }
    for (const Value& value : picture.then.fill) fill(window, value);
    holdForPicture(window, picture.name);
    press(window, picture.then.window, picture.then.press);
  }
  ::PostMessageW(m_main, WM_CLOSE, 0, 0);
  EXPECT_EQ(m_process->waitForExit(kWindowTimeout), 0);
}

// What the checks of the release and of the installed program run, also
// at other DPIs: the program opens on an image, lays out its window at the
// screen's DPI, draws its table and ends when its window is closed.
TEST_F(KestrinWindow, OpensOnAnImageAndClosesAgain) {
  start();
  ASSERT_FALSE(HasFatalFailure());
  checkLayout();
  EXPECT_EQ(m_process->statusText(m_status, 0), "Style: MBR, Count=4");
  ::PostMessageW(m_main, WM_CLOSE, 0, 0);
  EXPECT_EQ(m_process->waitForExit(kWindowTimeout), 0);
}

// A disk that cannot be read at start: the failed read's message, then the
// window with an empty table and no style, as after any failed read.
TEST_F(KestrinWindow, AFailedReadAtStartShowsItsMessageAndAnEmptyTable) {
  m_process.emplace(g_kestrin, "--disk \"" + g_images + "\\missing.img\"");
  HWND message = awaitWindow(Window::Message);
  ASSERT_NE(message, nullptr);
  EXPECT_EQ(messageText(message), "IOCTL_DISK_GET_DRIVE_LAYOUT_EX failed:The disk handle is not valid");
  press(message, Window::Message, Press::Ok);
  findMain();
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_EQ(TextOf(m_main), "Kestrin 0.1 - " K_DISK "0");
  EXPECT_TRUE(WaitUntil([&] { return dialogs().empty(); }, kWindowTimeout));
  EXPECT_TRUE(m_process->listRows(m_list).empty());
  EXPECT_EQ(m_process->statusText(m_status, 0), "");
  ::PostMessageW(m_main, WM_CLOSE, 0, 0);
  EXPECT_EQ(m_process->waitForExit(kWindowTimeout), 0);
}

TEST_F(KestrinWindow, RunsEveryCommandOnTheImages) {
  start();
  ASSERT_FALSE(HasFatalFailure());
  checkMainWindow();
  for (const Step& step : scenario()) {
    SCOPED_TRACE(step.what);
    run(step);
    // Each step starts from what the one before left: the first failure ends the run.
    if (HasFailure()) break;
  }
  ::PostMessageW(m_main, WM_CLOSE, 0, 0);
  EXPECT_EQ(m_process->waitForExit(kWindowTimeout), 0) << "closing the main window ends the program";
}

}  // namespace
}  // namespace kestrin::test

int main(int argc, char** argv) {
  // The driver measures the window in the screen's own pixels, as a
  // program aware of each screen's DPI sees them; Windows would otherwise
  // scale what it reads to 96 pixels per inch.
  using SetAwareness = BOOL(WINAPI*)(HANDLE);
  if (auto set = reinterpret_cast<SetAwareness>(reinterpret_cast<void*>(
          ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext")))) {
    set(reinterpret_cast<HANDLE>(-4));  // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2
  }
  ::testing::InitGoogleTest(&argc, argv);
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::string(argv[i]) == "--kestrin") kestrin::test::g_kestrin = argv[i + 1];
    if (std::string(argv[i]) == "--images") kestrin::test::g_images = argv[i + 1];
    if (std::string(argv[i]) == "--pictures") kestrin::test::g_pictures = argv[i + 1];
    if (std::string(argv[i]) == "--dpi") kestrin::test::g_dpi = std::stoi(argv[i + 1]);
  }
  return RUN_ALL_TESTS();
}
