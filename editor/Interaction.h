#pragma once
// Everything the editor commands ask of the user goes through this one
// interface: the plain message, the one-line prompt, the Yes/No
// confirmation, the three dialogs and the waits. The window answers it with
// real message boxes and dialogs; the command line and tests script it.

#include <cstdint>
#include <optional>
#include <string>

#include "TypeNames.h"

namespace kestrin {

// What Create Partition puts into the create-partition dialog.
struct CreatePartitionDialogInput {
  std::string offsetText;  // txtoffset
  std::string sizeText;    // txtsize
  TypeNameList types;      // cmb_type items and the preselected one
};

// What it reads back after OK.
struct CreatePartitionDialogResult {
  bool boot = false;       // chkboot
  std::string sizeText;    // txtsize
  std::string offsetText;  // txtoffset
  std::string typeText;    // the text of cmb_type's edit field
  // The number a new GPT partition takes where it is not its entry number
  // (the command line names partitions by number); never set by a window.
  std::uint32_t partitionNumber = 0;
};

class Interaction {
 public:
  virtual ~Interaction() = default;

  // A plain message with one OK button, captioned with the application's title.
  virtual void message(const std::string& text) = 0;
  // A one-line input box captioned `caption`; nullopt when cancelled.
  virtual std::optional<std::string> prompt(const std::string& caption, const std::string& text,
                                            const std::string& initial) = 0;
  // The Yes/No confirmation captioned "Brimvale": false only for No.
  virtual bool confirm(const std::string& question) = 0;
  // A plain Yes/No question, captioned "Brimvale", whose default answer is
  // No: true only for Yes. Asked before a write that replaces something the
  // user may not have meant to replace.
  virtual bool confirmDefaultNo(const std::string& question) = 0;
  // The create-partition dialog in create mode; nullopt unless OK.
  virtual std::optional<CreatePartitionDialogResult> createPartitionDialog(const CreatePartitionDialogInput& input) = 0;
  // The same dialog in type-only mode; the type text on OK, else nullopt.
  virtual std::optional<std::string> changeTypeDialog(const TypeNameList& types) = 0;
  // The partition-style dialog: 0 MBR, 1 GPT, 2 RAW on OK, else nullopt.
  virtual std::optional<int> partitionStyleDialog() = 0;
  // The disk chooser: the caption (disk number) of the selected row on OK,
  // nullopt on Cancel or when no row is selected.
  virtual std::optional<std::string> diskChooser() = 0;
  // The waits after a command (100 ms; 3 x 50 ms for Set as Partition Number 1).
  virtual void sleep(int milliseconds) = 0;
};

}  // namespace kestrin
