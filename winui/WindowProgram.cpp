#include "WindowProgram.h"

// The system's own headers need the types of windows.h before them.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include "MessageBoxes.h"
#include "WinText.h"
#include "ufrmdisks.h"
#include "ufrmparteditor.h"

namespace kestrin {

int RunWindowProgram() {
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);
  MessageBoxSink sink;
  ScopedMessageSink messages(sink);
  try {
    Tfrmparteditor main;
    frmparteditor = &main;
    // One chooser made at start and never shown; it goes with the main
    // window, its owner.
    frmdisks = CreateHiddenDiskChooser(main.handle());
    main.show();
    MSG message{};
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
    frmparteditor = nullptr;
    frmdisks = nullptr;
    return static_cast<int>(message.wParam);
  } catch (const std::exception& error) {
    frmparteditor = nullptr;
    ShowErrorReport(error.what());
    return 1;
  }
}

}  // namespace kestrin
