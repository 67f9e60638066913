// Kestrin's entry: builds the system's port and runs the window program:
// the Qt window, or on Windows the native one.
//
//   Kestrin [--sector-size 512|4096] [--disk PATH ...] [--print | --screenshot FILE]
//
// The first --disk is \\.\PhysicalDrive0, the next \\.\PhysicalDrive1, and
// so on; without any, the machine's whole disks (SystemPort.h). --print
// writes each disk's table to standard output as the window shows it, and
// needs no display; a build without a window program always does that.
// --screenshot (Qt window only) grabs the main window once its first table
// is drawn, saves it to FILE and quits.

#include <algorithm>
#include <chrono>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DiskList.h"
#include "LayoutPrinter.h"
#include "Port.h"
#include "SystemPort.h"

#if KESTRIN_WITH_UI
#include "KestrinApplication.h"
#include "MessageBoxes.h"
#include "ufrmdisks.h"
#include "ufrmparteditor.h"
#elif KESTRIN_WITH_WINUI
#include "MessageBoxes.h"
#include "WindowProgram.h"
#endif

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kUsage =
    "usage: Kestrin [--sector-size 512|4096] [--disk PATH ...] [--print | --screenshot FILE]\n";

bool takeFlag(std::vector<std::string>& args, const std::string& flag) {
  auto found = std::find(args.begin(), args.end(), flag);
  if (found == args.end()) return false;
  args.erase(found);
  return true;
}

// Takes "--name VALUE"; an error text when the value is missing.
[[maybe_unused]] std::optional<std::string> takeValue(std::vector<std::string>& args, const std::string& name,
                                                      std::string& value) {
  auto found = std::find(args.begin(), args.end(), name);
  if (found == args.end()) return std::nullopt;
  if (found + 1 == args.end()) return name + " needs a value";
  value = *(found + 1);
  args.erase(found, found + 2);
  return std::nullopt;
}

// Builds the port from the disk options in `args`; the other options must
// have been taken out already. Null after reporting a bad command line on
// standard error; `error` then holds the report.
std::unique_ptr<kestrin::DevicePort> makePort(std::vector<std::string>& args, std::string& error) {
  std::unique_ptr<kestrin::DevicePort> port = kestrin::MakeSystemPort(args, error);
  if (port && !args.empty()) error = "unknown argument '" + args.front() + "'";
  if (!error.empty()) {
    error = "Kestrin: " + error + '\n' + kUsage;
    std::cerr << error;
    return nullptr;
  }
  return port;
}

// Every disk that opens: a line naming it, the status line and the rows.
int printDisks() {
  std::vector<kestrin::DiskListRow> disks = kestrin::DiskListRows();
  if (disks.empty()) {
    std::cerr << "Kestrin: no disk could be opened\n";
    return 1;
  }
  bool allRead = true;
  for (std::size_t i = 0; i < disks.size(); ++i) {
    const kestrin::DiskListRow& disk = disks[i];
    std::string path = "\\\\.\\PhysicalDrive" + disk.number;
    if (i > 0) std::cout << '\n';
    std::cout << path << ' ' << disk.name << ", " << disk.sizeMb << " MB, " << disk.attributes << '\n';
    allRead = kestrin::PrintLayoutView(path, std::cout, std::cerr) && allRead;
  }
  return allRead ? 0 : 1;
}

int printMode(std::vector<std::string>& args) {
  std::string error;
  std::unique_ptr<kestrin::DevicePort> port = makePort(args, error);
  if (!port) return 2;
  kestrin::ScopedPort installed(*port);
  return printDisks();
}

#if KESTRIN_WITH_UI
int windowMode(int argc, char** argv, Clock::time_point started) {
  // The application object takes the toolkit's own options out first.
  kestrin::KestrinApplication app(argc, argv);
  std::vector<std::string> args;
  QStringList arguments = QCoreApplication::arguments();
  for (qsizetype i = 1; i < arguments.size(); ++i) args.push_back(arguments[i].toStdString());
  std::string screenshot;
  if (auto error = takeValue(args, "--screenshot", screenshot)) {
    std::cerr << "Kestrin: " << *error << '\n' << kUsage;
    return 2;
  }
  std::string error;
  std::unique_ptr<kestrin::DevicePort> port = makePort(args, error);
  if (!port) return 2;
  kestrin::ScopedPort installed(*port);
  kestrin::MessageBoxSink sink;
  kestrin::ScopedMessageSink messages(sink);

  auto* main = new kestrin::Tfrmparteditor();
  kestrin::frmparteditor = main;
  // One chooser created at start and never shown; it lives until the end.
  auto hiddenChooser = std::make_unique<kestrin::Tfrmdisks>();
  kestrin::frmdisks = hiddenChooser.get();

  if (!screenshot.empty()) {
    QObject::connect(main, &kestrin::Tfrmparteditor::firstTableDrawn, main, [main, screenshot, started] {
      auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
      bool saved = main->grab().save(QString::fromStdString(screenshot));
      std::cerr << "Kestrin: first table drawn " << elapsed.count() << " ms after start; screenshot "
                << (saved ? "saved to " : "could not be saved to ") << screenshot << '\n';
      main->close();
    });
  }

  main->show();
  int result = app.exec();
  // The main window frees itself once closed; should the loop have ended
  // before that deferred deletion ran, it goes here, before the port.
  delete kestrin::frmparteditor.data();
  return result;
}
#elif KESTRIN_WITH_WINUI
// The arguments come from the system's wide command line, so that an
// image's path keeps every character. A program of the window subsystem may
// have no console to write to: a bad command line is also shown in a box.
int nativeWindowMode(int argc, char** argv) {
  std::vector<std::string> args = kestrin::CommandLineArguments(argc, argv);
  if (takeFlag(args, "--print")) return printMode(args);
  std::string error;
  std::unique_ptr<kestrin::DevicePort> port = makePort(args, error);
  if (!port) {
    kestrin::ShowPlainMessage(nullptr, error);
    return 2;
  }
  kestrin::ScopedPort installed(*port);
  return kestrin::RunWindowProgram();
}
#endif

}  // namespace

int main(int argc, char** argv) {
#if KESTRIN_WITH_WINUI
  return nativeWindowMode(argc, argv);
#else
  const Clock::time_point started = Clock::now();
  std::vector<std::string> args = kestrin::CommandLineArguments(argc, argv);
#endif
#if KESTRIN_WITH_UI
  if (takeFlag(args, "--print")) return printMode(args);
  return windowMode(argc, argv, started);
#elif !KESTRIN_WITH_WINUI
  takeFlag(args, "--print");
  (void)started;
  return printMode(args);
#endif
}
