// Kestrin's entry: maps the --disk options, installs the disk stack and, until
// the window program exists, prints each disk's table in the terminal as the
// view shows it: the path, the status text, then one line per row with the
// row's texts separated by tabs.
#include <iostream>
#include <string>
#include <vector>

#include "DiskMap.h"
#include "EmulatedPort.h"
#include "LayoutView.h"

namespace {

class TerminalTarget : public kestrin::LayoutViewTarget {
 public:
  void clearRows() override {}
  void setMenuState(const kestrin::StyleMenuState&) override {}
  void setStatusText(const std::string& text) override { std::cout << text << '\n'; }
  void addRow(const kestrin::ViewRow& row) override {
    std::cout << row.number;
    for (const std::string& cell : row.cells) std::cout << '\t' << cell;
    std::cout << '\n';
  }
  void showError(const std::string& message) override { std::cerr << message << '\n'; }
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  kestrin::DiskMap disks;
  if (auto error = kestrin::TakeDiskOptions(args, disks)) {
    std::cerr << *error << '\n';
    return 2;
  }
  kestrin::EmulatedPort port(disks);
  kestrin::ScopedPort installed(port);
  for (std::size_t i = 0; i < disks.size(); ++i) {
    std::string path = "\\\\.\\PhysicalDrive" + std::to_string(i);
    std::cout << path << " (" << disks[i].path << ")\n";
    kestrin::LayoutViewState state;
    TerminalTarget target;
    kestrin::RefreshLayoutView(path, state, target);
    std::cout << '\n';
  }
  return 0;
}
