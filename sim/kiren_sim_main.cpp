// kiren-sim: a virtual card reader on a pseudo-terminal, registered so that the tool lists it
// among the reader ports. Prints "port: pts/N" once ready and takes console commands on stdin.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "base/text_utils.h"
#include "serial/virtual_readers.h"
#include "sim/console.h"
#include "sim/pty_host.h"

namespace {

using namespace kiren;
using namespace kiren::sim;

constexpr const char* kHardwareID = "USB\\VID_0483&PID_5740&REV_0200";

struct TOptions {
  std::string Card, Uid, Version, LineRate;
  std::string Feed;  // card feed plan, as for the console's "feed"
  bool Console = true;
};

void Usage(std::FILE* AOut) {
  std::fprintf(
      AOut,
      "usage: kiren-sim [--card PRESET] [--uid HEX] [--reader-version TEXT] [--feed PLAN]\n"
      "                 [--line-rate BAUD] [--no-console]\n"
      "  --card PRESET          card in the field at start (presets: see 'presets' command)\n"
      "  --uid HEX              UID of that card, 4 or 7 bytes (default: the preset's)\n"
      "  --reader-version TEXT  version text the reader reports (default \"%s\");\n"
      "                         --version TEXT is the same\n"
      "  --feed PLAN            present new cards one after another, as the 'feed' command\n"
      "  --line-rate BAUD       bytes take their time on a real 8-N-1 line at BAUD\n"
      "                         (default: none, answers arrive at once)\n"
      "  --no-console           ignore stdin; run until SIGTERM or SIGINT\n"
      "  --help                 this text\n"
      "  --version              the program's version\n",
      TFirmware::kDefaultVersion);
}

// Returns 0 to go on, otherwise the exit code.
int ParseOptions(int argc, char** argv, TOptions& AOpt) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string& AOut) {
      if (i + 1 >= argc)
        return false;
      AOut = argv[++i];
      return true;
    };
    bool ok = true;
    if (arg == "--card") {
      ok = value(AOpt.Card);
    } else if (arg == "--uid") {
      ok = value(AOpt.Uid);
    } else if (arg == "--version" && (i + 1 >= argc || std::strncmp(argv[i + 1], "--", 2) == 0)) {
      std::printf("kiren-sim %s\n", KIREN_VERSION);
      return -1;
    } else if (arg == "--version" || arg == "--reader-version") {
      ok = value(AOpt.Version);
    } else if (arg == "--feed") {
      std::string error;
      if (value(AOpt.Feed) && !ParseFeedPlan(AOpt.Feed, error)) {
        std::fprintf(stderr, "kiren-sim: --feed: %s\n", error.c_str());
        return 2;
      }
      ok = !AOpt.Feed.empty();
    } else if (arg == "--line-rate") {
      ok = value(AOpt.LineRate);
    } else if (arg == "--no-console") {
      AOpt.Console = false;
    } else if (arg == "--help" || arg == "-h") {
      Usage(stdout);
      return -1;
    } else {
      ok = false;
    }
    if (!ok) {
      std::fprintf(stderr, "kiren-sim: bad argument '%s'\n", arg.c_str());
      Usage(stderr);
      return 2;
    }
  }
  return 0;
}

bool ParseLineRate(const std::string& AText, std::uint32_t& ABaud) {
  if (AText.empty() || AText.size() > 7 ||
      AText.find_first_not_of("0123456789") != std::string::npos)
    return false;
  ABaud = static_cast<std::uint32_t>(std::stoul(AText));
  return ABaud >= 50 && ABaud <= 4000000;
}

// Signals arrive through a descriptor, so the main loop sees them next to stdin.
int BlockSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  return signalfd(-1, &set, SFD_CLOEXEC);
}

void Print(const std::string& AText) {
  std::fwrite(AText.data(), 1, AText.size(), stdout);
  std::fflush(stdout);
}

// Feeds stdin lines to the console until quit, EOF (console mode) or a signal. An unplugged
// port leaves the list of readers at once.
void RunLoop(TConsole& AConsole, const TPtyHost& AHost, std::string& AEntry, int ASignalFd,
             bool AUseStdin) {
  std::string pending;
  for (;;) {
    pollfd fds[2] = {{ASignalFd, POLLIN, 0}, {AUseStdin ? STDIN_FILENO : -1, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR)
        continue;
      return;
    }
    if (fds[0].revents != 0)
      return;
    if (fds[1].revents == 0)
      continue;
    char buf[1024];
    const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
    if (n <= 0)
      return;  // end of input ends the program
    pending.append(buf, static_cast<std::size_t>(n));
    std::size_t eol;
    while ((eol = pending.find('\n')) != std::string::npos) {
      const std::string line = pending.substr(0, eol);
      pending.erase(0, eol + 1);
      bool quit = false;
      const std::string answer = AConsole.Execute(line, quit);
      // An unplugged reader leaves the port list before the console confirms it.
      if (AHost.HungUp() && !AEntry.empty()) {
        UnregisterVirtualReader(AEntry);
        AEntry.clear();
      }
      Print(answer);
      if (quit)
        return;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  TOptions opt;
  if (const int rc = ParseOptions(argc, argv, opt))
    return rc < 0 ? 0 : rc;

  TFirmware firmware;
  if (!opt.Version.empty())
    firmware.SetVersion(opt.Version);
  if (!opt.Card.empty() || !opt.Uid.empty()) {
    Bytes uid;
    if (!opt.Uid.empty() &&
        (!HexStrToBytes(opt.Uid, uid) || (uid.size() != 4 && uid.size() != 7))) {
      std::fprintf(stderr, "kiren-sim: --uid needs 4 or 7 bytes of hex\n");
      return 2;
    }
    const auto card = MakePreset(opt.Card.empty() ? "new1k" : opt.Card, uid);
    if (!card) {
      std::fprintf(stderr, "kiren-sim: unknown card preset '%s'\n", opt.Card.c_str());
      return 2;
    }
    firmware.PutCard(*card);
  }

  std::uint32_t lineRate = 0;
  if (!opt.LineRate.empty() && !ParseLineRate(opt.LineRate, lineRate)) {
    std::fprintf(stderr, "kiren-sim: --line-rate needs a baud rate from 50 to 4000000\n");
    return 2;
  }

  const int signalFd = BlockSignals();  // before the pty thread starts, so it inherits the mask
  if (signalFd < 0) {
    std::perror("kiren-sim: signalfd");
    return 1;
  }
  try {
    TPtyHost host(firmware, lineRate);
    TVirtualReader reader;
    reader.HardwareID = kHardwareID;
    reader.FriendlyName = "Кирен-М1 (виртуальный) (" + host.PortName() + ")";
    reader.Port = host.PortName();
    reader.Pid = static_cast<long>(getpid());
    // The registry folder is created 0700; a refused one has already been reported.
    const std::string dir = VirtualReadersDir();
    std::string entry = dir.empty() ? std::string() : RegisterVirtualReader(reader, dir);
    if (entry.empty() && !dir.empty())
      std::fprintf(stderr, "kiren-sim: cannot register in %s\n", dir.c_str());
    Print("port: " + host.PortName() + "\n");
    bool quitUnused = false;
    TConsole console(firmware, &host);
    if (!opt.Feed.empty())
      console.Execute("feed " + opt.Feed, quitUnused);
    RunLoop(console, host, entry, signalFd, opt.Console);
    UnregisterVirtualReader(entry);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kiren-sim: %s\n", e.what());
    close(signalFd);
    return 1;
  }
  close(signalFd);
  return 0;
}
