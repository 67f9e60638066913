#include "CommandTable.h"

#include <algorithm>

#include "CliArguments.h"
#include "CliCommands.h"
#include "TypeArgument.h"

namespace kestrin::cli {

namespace {

const std::vector<CommandSpec> kCommands{
    {"disks",
     0,
     0,
     "",
     "Lists the disks as the disk chooser does, one per line, the columns separated by tabs:\n"
     "number, type, name, size in MB (bytes / 1048576), attributes.\n",
     ListDisks,
     {}},
    {"show",
     0,
     1,
     "[N]",
     "Prints disk N's table (default 0) as the main window shows it: first the status line\n"
     "(\"Style: GPT, Count=2\"), then one line per row, the row's texts separated by tabs.\n"
     "With --json: the layout's raw values (offsets, lengths, type byte or GUID, boot flag,\n"
     "attributes, name) as one JSON object.\n",
     ShowDisk,
     {}},
    {"verify",
     0,
     1,
     "[N]",
     "Checks disk N's table (default 0) and prints one line per finding, naming the partition\n"
     "and the rule: overlapping partitions, partitions past the end or outside the GPT's usable\n"
     "area, of length zero, logical drives outside their extended partition, EBR chains that\n"
     "loop or leave it, more than one extended partition, a damaged primary or backup GPT header\n"
     "or entry array, a backup not at the end of the disk, copies that differ, a protective MBR\n"
     "whose size does not match the disk, a hybrid MBR out of step with its GPT, a GPT behind a\n"
     "sector 0 without boot signature or behind an MBR of other partitions, an MBR boot byte\n"
     "other than 0x00 and 0x80; starts off the physical sectors or not on a 1 MiB boundary,\n"
     "GPT leftovers behind an MBR and arrays under 16 KiB are warnings. Exit status 0 when no\n"
     "problem is found, 1 otherwise.\n"
     "With --json: one object with the style and the findings.\n",
     VerifyTable,
     {}},
    {"types",
     0,
     1,
     "[mbr|gpt]",
     "Lists every type name that --type and set-type take (of one style, or both), one per line,\n"
     "the columns separated by tabs: style, name, code (the MBR type byte, the GPT type GUID)\n"
     "and the catalogue's description (for a type the catalogue does not know, what it is).\n"
     "With --json: one object with the list.\n",
     ListTypes,
     {}},
    {"backup",
     2,
     2,
     "N FILE",
     "Saves every sector of disk N that holds table structures, and no other (the MBR and each\n"
     "EBR; the protective MBR, both GPT headers and entry arrays as the headers describe them),\n"
     "with its position, the disk's size and sector size and a checksum to FILE.\n",
     BackupTable,
     {}},
    {"restore",
     2,
     2,
     "N FILE",
     "Puts the sectors of a backup made by 'backup' (or --backup) back on disk N: checks that\n"
     "FILE is whole and was made for a disk of this size and sector size, shows the table before\n"
     "and after, asks for confirmation and writes the sectors that differ, sector 0 last, each\n"
     "flushed. Nothing else on the disk changes.\n",
     RestoreTable,
     {}},
    {"dump",
     0,
     1,
     "[N]",
     "Prints disk N's layout (default 0) as JSON that 'apply' takes back: \"schema\": 1, the style, the\n"
     "sector size and the disk's sectors, the MBR signature or the GPT disk GUID, usable area and\n"
     "entry array's length, and each partition by the number the kernel gives it: start and size in\n"
     "sectors, type (MBR byte as two hex digits, GPT GUID), unique GUID, name and attributes (GPT),\n"
     "boot flag and whether it is a logical drive (MBR); a hybrid MBR's entries where there are.\n",
     DumpLayout,
     {}},
    {"apply",
     2,
     2,
     "N FILE [--new-ids]",
     "Puts the layout in FILE (- reads standard input) on disk N in one table write: a dump of\n"
     "'dump', or an sfdisk dump (sfdisk --dump). Prints the plan first (per partition kept, added,\n"
     "removed or changed, and the table after; --json as JSON with \"changed\"), writes nothing when\n"
     "the disk holds the layout already, and asks before it writes. Partitions keep their byte\n"
     "offsets and sizes on a disk of another size or sector size; a GPT's usable area follows the\n"
     "disk. --new-ids gives the copy a new MBR signature, or a new GPT disk GUID and unique GUIDs.\n",
     ApplyLayout,
     {}},
    {"create-partition",
     2,
     2,
     "N ENTRY [--offset OFFSET] [--size SIZE] [--type NAME] [--boot] [--force]",
     "Create Partition: writes entry ENTRY of disk N. Without --offset it starts at the first MiB\n"
     "boundary behind the partitions before it (a logical drive inside its EBR's stretch of the\n"
     "extended partition) and, without --size, takes the free space up to the next partition; an\n"
     "--offset without --size gets the rest of the disk (of a GPT's usable area); without --type\n"
     "the type the window preselects (IFS on MBR, BASIC_DATA_GUID on GPT). NAME is a type name\n"
     "as 'set-type' takes it. --boot marks an MBR entry bootable.\n"
     "SIZE is a number of MiB or a number with a unit, K, M, G, T or KiB, MiB, GiB, TiB (powers\n"
     "of 1024), that comes to whole MiB; OFFSET is a number of bytes or a number with a unit,\n"
     "that comes to whole sectors. Plain numbers may be hexadecimal ($, 0x).\n"
     "On a GPT disk ENTRY is a partition number (as /dev/sdb3), any free one up to the length of\n"
     "the table's entry array (128 as a rule), which the new partition takes; without --offset it\n"
     "starts at the first MiB boundary behind the last partition on the disk. An entry in use is\n"
     "refused unless --force is given (it then keeps its number).\n",
     RunEditorCommand,
     {.command = &EditorCommands::CreatePartition1Click, .entry = true, .createOptions = true}},
    {"create-logical",
     1,
     1,
     "N [--offset OFFSET] [--size SIZE] [--type NAME]",
     "Creates a logical drive in disk N's extended partition (MBR only). Its EBR is appended to\n"
     "the end of the chain, so every partition keeps its number: the new drive takes the next\n"
     "entry of the table (a new group of four rows) and the next partition number (/dev/sdb5 in\n"
     "an empty extended partition), wherever it lies in the extended partition. Its EBR goes into\n"
     "the free space before it, at most 1 MiB before it (the extended partition's first sector\n"
     "for its first drive). Without --offset the drive starts at the first free MiB boundary of\n"
     "the extended partition that has a free sector before it (in a gap between drives, too);\n"
     "without --size it takes the free space up to the next partition or EBR or the end of the\n"
     "extended partition; without --type the type Create Partition preselects (IFS). NAME,\n"
     "OFFSET and SIZE are read as create-partition reads them. Prints the row it got: its entry,\n"
     "its partition number as the kernel gives it (and on a block device its device node), then\n"
     "the row as 'show' prints it; with --json the row as 'show --json' gives it.\n",
     RunEditorCommand,
     {.command = &EditorCommands::CreateLogicalDrive, .logicalDrive = true}},
    {"delete-partition",
     2,
     2,
     "N ENTRY",
     "Delete Partition: clears entry ENTRY of disk N (MBR or GPT).\n",
     RunEditorCommand,
     {.command = &EditorCommands::DeletePa1Click, .entry = true}},
    {"set-type",
     3,
     3,
     "N ENTRY NAME",
     "Change Partition Type: MBR or GPT by the disk's style. NAME is one of the window's type\n"
     "names (IFS, FAT32, BASIC_DATA_GUID, ...), a short name as sfdisk knows it (linux, swap,\n"
     "home, uefi, lvm, raid; on MBR where a type byte exists, and extended; or its shortcuts\n"
     "L, S, E, Ex, H, U, R, V in capitals), on GPT a GPT fdisk\n"
     "code (8300, ef00, 8200, 0700, fd00, 8e00, ef02, ...) or a type GUID with or without braces,\n"
     "on MBR a type byte (0x83, $83, 131); any letter case. 'kestrin-cli types' lists the names.\n"
     "The unused type is refused (use delete-partition), and so is an empty entry.\n",
     RunEditorCommand,
     {.command = &EditorCommands::ChangePartition1Click,
      .onGpt = &EditorCommands::ChangePartitionTypeGPT1Click,
      .entry = true,
      .typeName = 2,
      .usedEntry = true}},
    {"set-boot",
     3,
     3,
     "N ENTRY VALUE",
     "Change Partition Boot (MBR only): VALUE is a number (0 clears, anything else sets) or\n"
     "True/False. An empty entry is refused.\n",
     RunEditorCommand,
     {.command = &EditorCommands::ChangePartitionBootMBR1Click, .entry = true, .promptAnswer = 2, .usedEntry = true}},
    {"set-disk-id",
     2,
     2,
     "N VALUE",
     "Change Disk ID (MBR only): the 32-bit disk signature, such as $01020304 or 16909060.\n",
     RunEditorCommand,
     {.command = &EditorCommands::ChangeDiskID1Click, .promptAnswer = 1, .unsignedAnswer = true}},
    {"make-first",
     2,
     2,
     "N ENTRY",
     "Set as Partition Number 1 (MBR only): exchanges entry ENTRY with entry 1, then takes the\n"
     "disk offline and online again.\n",
     RunEditorCommand,
     {.command = &EditorCommands::SetasPartitionNumber11Click, .entry = true}},
    {"set-attributes",
     3,
     3,
     "N ENTRY VALUE",
     "Change Partition Attributes (GPT only): the 64-bit attributes, such as $8000000000000001.\n"
     "An empty entry is refused.\n",
     RunEditorCommand,
     {.command = &EditorCommands::ChangePartitionAttributesGPT1Click,
      .entry = true,
      .promptAnswer = 2,
      .unsignedAnswer = true,
      .usedEntry = true}},
    {"set-attribute",
     4,
     4,
     "N ENTRY BIT on|off",
     "Sets or clears one attribute bit (GPT only) of the attributes the disk holds, every other\n"
     "bit as it is. BIT is 0 to 63 or a name: required (0), no-block-io (1),\n"
     "legacy-bios-bootable (2), read-only (60), shadow-copy (61), hidden (62), no-drive-letter\n"
     "(63). An empty entry is refused.\n",
     RunEditorCommand,
     {.command = &EditorCommands::ChangePartitionAttributeBitGPT,
      .entry = true,
      .promptAnswers = AttributeBitAnswers,
      .usedEntry = true}},
    {"set-name",
     3,
     3,
     "N ENTRY NAME",
     "Names a GPT partition (GPT only): NAME is stored as UTF-16, at most 36 code units; an empty\n"
     "NAME ('') clears the name. An empty entry is refused.\n",
     RunEditorCommand,
     {.command = &EditorCommands::ChangePartitionNameGPT,
      .entry = true,
      .promptAnswers = NameAnswers,
      .usedEntry = true}},
    {"resize",
     3,
     3,
     "N ENTRY SIZE",
     "Gives entry ENTRY of disk N a new size at the same start (MBR or GPT); its type, boot flag,\n"
     "GUIDs, attributes and name stay. SIZE is a number of MiB or a number with a unit, as\n"
     "create-partition's --size, or max: up to the next partition, the end of the disk (of a GPT's\n"
     "usable area), or for a logical drive the next EBR or the end of the extended partition. A\n"
     "size that runs into another partition is refused, and so is shrinking a partition in use.\n",
     RunEditorCommand,
     {.command = &EditorCommands::ChangePartitionSize, .entry = true, .promptAnswers = SizeAnswers, .usedEntry = true}},
    {"create-disk",
     2,
     2,
     "N mbr|gpt|raw",
     "Create Disk: gives disk N a fresh, empty layout of that style. A fresh MBR gets a random\n"
     "signature that no other disk given carries; a fresh GPT a new disk GUID.\n",
     RunEditorCommand,
     {.command = &EditorCommands::CreateDisk1Click, .style = true, .needsTable = false}},
    {"delete-layout",
     1,
     1,
     "N",
     "Delete Disk Layout: removes disk N's partition table.\n",
     RunEditorCommand,
     {.command = &EditorCommands::DeleteDriveLayout1Click, .needsTable = false}},
};

constexpr const char* kProgramSynopsis =
    "usage: kestrin-cli [[--sector-size N] --disk PATH]... [--json] [--yes] [--dry-run] COMMAND [ARGUMENTS]\n";

constexpr const char* kOptions =
    "\n"
    "Options:\n"
    "  --disk PATH       an image file or block device; the first is disk 0, the next disk 1, ...\n"
    "                    (without any, the machine's own disks)\n"
    "  --sector-size N   sector size (512 or 4096) of the image files named after it\n"
    "  --json            'show', 'disks', 'verify' and 'types' print JSON\n"
    "  --yes             answer yes to the confirmation before a write\n"
    "  --dry-run         (commands that write) print what the write would leave, and write nothing\n"
    "  --backup FILE     (commands that write) save the sectors the write changes to FILE first;\n"
    "                    'restore N FILE' puts them back. FILE is replaced only once the write\n"
    "                    has gone ahead (FILE.new until then)\n"
    "  --help            this text; 'kestrin-cli COMMAND --help' explains one command\n"
    "  --version, -V     the program's version\n"
    "  --                ends the options: what follows is arguments\n"
    "Options that take a value are also written --disk=PATH, --sector-size=N, --size=SIZE, ...\n"
    "\n"
    "ENTRY counts the rows of 'show' on an MBR disk; on a GPT disk it is the partition's number.\n"
    "Before a write the command's confirmation question is asked on the terminal; without a\n"
    "terminal the write is refused unless --yes is given.\n"
    "When a write is refused, the problems of the table it would have written follow its message.\n"
    "Exit status: 0 success (verify: no problem found), 1 the operation failed or was refused\n"
    "(verify: problems found), 2 a usage error.\n";

}  // namespace

const std::vector<CommandSpec>& Commands() { return kCommands; }

const CommandSpec* FindCommand(const std::string& name) {
  auto found = std::find_if(kCommands.begin(), kCommands.end(),
                            [&](const CommandSpec& command) { return name == command.name; });
  return found == kCommands.end() ? nullptr : &*found;
}

bool WritesToDisk(const CommandSpec& command) {
  return command.editor.command != nullptr || command.run == RestoreTable || command.run == ApplyLayout;
}

std::string ProgramUsage() {
  std::string text = kProgramSynopsis;
  text += "\nCommands:\n";
  for (const CommandSpec& command : kCommands) {
    std::string line = std::string("  ") + command.name + " " + command.synopsis;
    text += line + "\n";
  }
  return text + kOptions;
}

std::string CommandHelp(const CommandSpec& command) {
  return std::string("usage: kestrin-cli [OPTIONS] ") + command.name + " " + command.synopsis + "\n\n" +
         command.description;
}

}  // namespace kestrin::cli
