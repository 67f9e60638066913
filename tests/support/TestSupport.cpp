#include "TestSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>

extern char** environ;

namespace kestrin::test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kestrin-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  m_path = pattern;
}

namespace {

std::string findTool(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  std::vector<std::string> dirs;
  if (const char* path = std::getenv("PATH")) {
    std::string all = path;
    std::size_t start = 0;
    while (start <= all.size()) {
      std::size_t colon = all.find(':', start);
      if (colon == std::string::npos) colon = all.size();
      dirs.push_back(all.substr(start, colon - start));
      start = colon + 1;
    }
  }
  dirs.insert(dirs.end(), {"/usr/sbin", "/sbin", "/usr/bin", "/bin"});
  for (const std::string& dir : dirs) {
    std::string candidate = dir + "/" + name;
    if (!dir.empty() && ::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

}  // namespace

bool HaveTool(const std::string& name) { return !findTool(name).empty(); }

RunResult Run(const std::vector<std::string>& argv, const std::string& input) {
  RunResult result;
  std::string program = findTool(argv.at(0));
  if (program.empty()) {
    result.err = argv[0] + ": not found";
    return result;
  }
  int inPipe[2], outPipe[2], errPipe[2];
  if (::pipe2(inPipe, O_CLOEXEC) != 0 || ::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, inPipe[0], 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  // A program may exit without reading all of its input: the write then
  // fails with EPIPE instead of ending the test with SIGPIPE. The program
  // itself gets the default disposition back.
  ::signal(SIGPIPE, SIG_IGN);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  int rc = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, args.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  ::close(inPipe[0]);
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  if (rc != 0) {
    ::close(inPipe[1]);
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    result.err = "spawn failed";
    return result;
  }
  // Feed the input and drain both outputs without blocking on either.
  std::size_t written = 0;
  if (input.empty()) {
    ::close(inPipe[1]);
    inPipe[1] = -1;
  }
  bool outOpen = true, errOpen = true;
  char chunk[65536];
  while (outOpen || errOpen || inPipe[1] >= 0) {
    std::vector<pollfd> fds;
    if (outOpen) fds.push_back({outPipe[0], POLLIN, 0});
    if (errOpen) fds.push_back({errPipe[0], POLLIN, 0});
    if (inPipe[1] >= 0) fds.push_back({inPipe[1], POLLOUT, 0});
    if (::poll(fds.data(), fds.size(), -1) < 0) break;
    for (const pollfd& p : fds) {
      if (p.revents == 0) continue;
      if (p.fd == inPipe[1]) {
        ssize_t n = ::write(inPipe[1], input.data() + written, input.size() - written);
        if (n > 0) written += static_cast<std::size_t>(n);
        if (n <= 0 || written == input.size()) {
          ::close(inPipe[1]);
          inPipe[1] = -1;
        }
        continue;
      }
      ssize_t n = ::read(p.fd, chunk, sizeof chunk);
      if (n <= 0) {
        if (p.fd == outPipe[0])
          outOpen = false;
        else
          errOpen = false;
      } else {
        (p.fd == outPipe[0] ? result.out : result.err).append(chunk, static_cast<std::size_t>(n));
      }
    }
  }
  ::close(outPipe[0]);
  ::close(errPipe[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

}  // namespace kestrin::test
