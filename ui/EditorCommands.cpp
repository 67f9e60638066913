#include "EditorCommands.h"

namespace kestrin {

std::string WindowCaption(const std::string& diskPath) { return "Kestrin 0.1 - " + diskPath; }

}  // namespace kestrin
