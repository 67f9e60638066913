// Kestrin's entry: builds the system's port (on Linux from the --disk options) and, until
// the window program exists, prints each disk's table in the terminal as the
// view shows it: the path, the status text, then one line per row with the
// row's texts separated by tabs.
#include <iostream>
#include <string>
#include <vector>

#include "DiskList.h"
#include "LayoutView.h"
#include "SystemPort.h"

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
  std::string error;
  std::unique_ptr<kestrin::DevicePort> port = kestrin::MakeSystemPort(args, error);
  if (!port) {
    std::cerr << error << '\n';
    return 2;
  }
  kestrin::ScopedPort installed(*port);
  for (const kestrin::DiskListRow& disk : kestrin::DiskListRows()) {
    std::string path = "\\\\.\\PhysicalDrive" + disk.number;
    std::cout << path << " " << disk.name << ", " << disk.sizeMb << " MB, " << disk.attributes << '\n';
    kestrin::LayoutViewState state;
    TerminalTarget target;
    kestrin::RefreshLayoutView(path, state, target);
    std::cout << '\n';
  }
  return 0;
}
