#include "support/fakeudisks.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <cstdlib>
#include <fstream>
#include <poll.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kestrella::test {

namespace {

// Starts `args` with its stdout on a pipe; the read end through `out`.
pid_t Spawn(const std::vector<std::string>& args, int& out) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fds[1], STDOUT_FILENO);
    // dbus-daemon's notes (it may not raise its descriptor limit here) are
    // of no interest to the test's output.
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) ::dup2(null, STDERR_FILENO);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  out = fds[0];
  if (pid < 0) ::close(fds[0]);
  return pid;
}

// The first line `fd` gives within five seconds, "" when none comes.
std::string FirstLine(int fd) {
  std::string line;
  char c = 0;
  pollfd p{fd, POLLIN, 0};
  while (::poll(&p, 1, 5000) > 0 && ::read(fd, &c, 1) == 1 && c != '\n') line += c;
  ::close(fd);
  return line;
}

void Stop(pid_t pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGTERM);
  ::waitpid(pid, nullptr, 0);
}

}  // namespace

FakeUDisks::FakeUDisks(const Setup& setup) {
  if (const char* old = std::getenv("DBUS_SYSTEM_BUS_ADDRESS")) {
    hadPrevious_ = true;
    previous_ = old;
  }
  // The command line under test may run as another user: the bus lets
  // every user connect, and its folder is open to all.
  ::chmod(dir_.path().c_str(), 0755);
  const fs::path config = dir_ / "bus.conf";
  std::ofstream(config) << "<busconfig>\n  <type>session</type>\n"
                        << "  <listen>unix:path=" << (dir_ / "bus").string() << "</listen>\n"
                        << "  <auth>EXTERNAL</auth>\n"
                        << "  <policy context=\"default\">\n    <allow user=\"*\"/>\n"
                        << "    <allow send_destination=\"*\"/>\n    <allow receive_sender=\"*\"/>\n"
                        << "    <allow own=\"*\"/>\n"
                        << "  </policy>\n</busconfig>\n";
  int out = -1;
  bus_ = Spawn({"dbus-daemon", "--config-file=" + config.string(), "--nofork", "--print-address"}, out);
  if (bus_ <= 0) return;
  address_ = FirstLine(out);
  if (address_.empty()) return;
  std::vector<std::string> args = {KESTRELLA_FAKE_UDISKS_PATH, address_};
  for (const auto& [node, image] : setup.cards) args.insert(args.end(), {"--card", node + "=" + image});
  for (const std::string& node : setup.refused) args.insert(args.end(), {"--refuse", node});
  for (const std::string& node : setup.noAgent) args.insert(args.end(), {"--no-agent", node});
  if (setup.delayMs > 0) args.insert(args.end(), {"--delay-ms", std::to_string(setup.delayMs)});
  service_ = Spawn(args, out);
  if (service_ > 0 && FirstLine(out) != "ready") {
    Stop(service_);
    service_ = -1;
  }
  ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address_.c_str(), 1);
}

FakeUDisks::~FakeUDisks() {
  Stop(service_);
  Stop(bus_);
  if (hadPrevious_) ::setenv("DBUS_SYSTEM_BUS_ADDRESS", previous_.c_str(), 1);
  else ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

bool MakeRootOnlyNode(const fs::path& path) {
  // The loop driver's numbers: the node is never opened by anyone allowed to.
  return ::mknod(path.c_str(), S_IFBLK | 0600, ::makedev(7, 250)) == 0;
}

bool MakeRootOnlyCard(const fs::path& image) {
  if (Run("mkfs.fat -C -F 16 -n UDCARD " + Quote(image) + " 16384").exitCode != 0) return false;
  const std::vector<fs::path> photos = DataPhotos();
  if (photos.size() < 3) return false;
  for (int i = 0; i < 3; ++i) {
    if (Run("MTOOLS_SKIP_CHECK=1 mcopy -i " + Quote(image) + " " + Quote(photos[i]) +
            Numbered(" ::P", 100 + i, ".JPG")).exitCode != 0)
      return false;
  }
  return ::chmod(image.c_str(), 0600) == 0;
}

}  // namespace kestrella::test
