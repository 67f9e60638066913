// Kestrin's entry: maps the disks given on the command line to disk numbers,
// installs the disk stack and runs the window program.
//
//   Kestrin [--sector-size 512|4096] --disk IMAGE ... [--print | --screenshot FILE]
//
// The first --disk is \\.\PhysicalDrive0, the next \\.\PhysicalDrive1, and
// so on. --print writes each disk's table to standard output as the window
// shows it (no display needed); --screenshot grabs the main window once its
// first table is drawn, saves it to FILE and quits.

#include <algorithm>
#include <chrono>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "DiskMap.h"
#include "EmulatedPort.h"
#include "LayoutPrinter.h"
#include "Port.h"

#if KESTRIN_WITH_UI
#include <QTimer>
#include <memory>

#include "KestrinApplication.h"
#include "MessageBoxes.h"
#include "ufrmdisks.h"
#include "ufrmparteditor.h"
#endif

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kUsage =
    "usage: Kestrin [--sector-size 512|4096] --disk IMAGE ... [--print | --screenshot FILE]\n";

bool takeFlag(std::vector<std::string>& args, const std::string& flag) {
  auto found = std::find(args.begin(), args.end(), flag);
  if (found == args.end()) return false;
  args.erase(found);
  return true;
}

// Takes "--name VALUE"; an error text when the value is missing.
std::optional<std::string> takeValue(std::vector<std::string>& args, const std::string& name, std::string& value) {
  auto found = std::find(args.begin(), args.end(), name);
  if (found == args.end()) return std::nullopt;
  if (found + 1 == args.end()) return name + " needs a value";
  value = *(found + 1);
  args.erase(found, found + 2);
  return std::nullopt;
}

std::string diskPath(std::size_t number) { return "\\\\.\\PhysicalDrive" + std::to_string(number); }

int printDisks(const kestrin::DiskMap& disks) {
  if (disks.empty()) {
    std::cerr << "Kestrin: no disk given (--disk IMAGE)\n";
    return 2;
  }
  kestrin::EmulatedPort port(disks);
  kestrin::ScopedPort installed(port);
  bool allRead = true;
  for (std::size_t i = 0; i < disks.size(); ++i) {
    if (i > 0) std::cout << '\n';
    allRead = kestrin::PrintLayoutView(diskPath(i), std::cout, std::cerr) && allRead;
  }
  return allRead ? 0 : 1;
}

#if KESTRIN_WITH_UI
int runWindows(kestrin::KestrinApplication& app, const kestrin::DiskMap& disks, const std::string& screenshot,
               Clock::time_point started) {
  kestrin::EmulatedPort port(disks);
  kestrin::ScopedPort installed(port);
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
#endif

}  // namespace

int main(int argc, char** argv) {
  const Clock::time_point started = Clock::now();
  std::vector<std::string> args(argv + 1, argv + argc);

  if (takeFlag(args, "--print")) {
    kestrin::DiskMap disks;
    if (auto error = kestrin::TakeDiskOptions(args, disks)) {
      std::cerr << *error << '\n' << kUsage;
      return 2;
    }
    if (!args.empty()) {
      std::cerr << "Kestrin: unknown argument '" << args.front() << "'\n" << kUsage;
      return 2;
    }
    return printDisks(disks);
  }

#if KESTRIN_WITH_UI
  // The application object takes the toolkit's own options out first.
  kestrin::KestrinApplication app(argc, argv);
  args.clear();
  QStringList arguments = QCoreApplication::arguments();
  for (qsizetype i = 1; i < arguments.size(); ++i) args.push_back(arguments[i].toStdString());

  kestrin::DiskMap disks;
  std::string screenshot;
  std::optional<std::string> error = kestrin::TakeDiskOptions(args, disks);
  if (!error) error = takeValue(args, "--screenshot", screenshot);
  if (!error && !args.empty()) error = "unknown argument '" + args.front() + "'";
  if (error) {
    std::cerr << "Kestrin: " << *error << '\n' << kUsage;
    return 2;
  }
  return runWindows(app, disks, screenshot, started);
#else
  std::cerr << "Kestrin: built without the window program; use --print\n" << kUsage;
  return 2;
#endif
}
