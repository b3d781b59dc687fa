// Sends the test byte 1 to a board's serial device ("/dev/ttyACM0" unless told otherwise),
// opening and closing the device for every byte, until a signal ends the program. It handles no
// signal; on standard error it tells only when the line's state changes.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <span>

#include "cli/value_option.h"
#include "serial/line_speeds.h"
#include "serial/link_report.h"
#include "serial/serial_line.h"

namespace {

unsigned char buff[3];
int fd;
const char* device = "/dev/ttyACM0";
constexpr int byteBoundMs = 500;

constexpr const char* usage =
    "Usage: linkprobe [--device PATH]\n       linkprobe --help | --version\n";

constexpr const char* help =
    "Sends the test byte 1 to a board's serial device without end, opening and closing the\n"
    "device for every byte, to try the link. Standard error tells when the device cannot be\n"
    "opened, when writes fail or the line takes no byte, and when it works again.\n"
    "\n"
    "  --device PATH  the board's serial device (default /dev/ttyACM0); it may appear later\n"
    "  -h, --help     show this help and exit\n"
    "  --version      show the version and exit\n"
    "\n"
    "It runs until a signal ends it (Ctrl-C, for instance). Exit status 2 for a command line it\n"
    "does not take.\n";

int refuse(const char* reason, const char* what) {
  (void)std::fprintf(stderr, "linkprobe: %s '%s'\n%s", reason, what, usage);
  return 2;
}

// Returns -1 to go on sending, or the exit status once it has answered or refused.
int readArguments(int argc, char* argv[]) {
  const std::span<char*> args(argv, static_cast<size_t>(argc));
  for (size_t i = 1; i < args.size(); ++i) {
    const char* arg = args[i];
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      std::printf("%s%s", usage, help);
      return 0;
    }
    if (std::strcmp(arg, "--version") == 0) {
      std::printf("linkprobe %s\n", STEER_VERSION);
      return 0;
    }
    const char* why = nullptr;
    if (!cli::deviceOption(args, i, device, why))
      return refuse(arg[0] == '-' ? "unknown option" : "unexpected argument", arg);
    if (why != nullptr) return refuse(why, device);
  }
  return -1;
}

}  // namespace

int main(int argc, char* argv[]) {
  const int status = readArguments(argc, argv);
  if (status >= 0) return status;
  LinkReport link{"linkprobe", device, "test bytes", "linkprobe keeps trying until it appears",
                  byteBoundMs};
  buff[1] = 1;
  for (;;) {
    errno = 0;
    fd = serialOpen(device, static_cast<int>(wire::boardBaud));
    if (fd < 0) {
      linkOpenFailed(link, errno);
      continue;
    }
    sendByte(
        link, fd, [] { return byteBoundMs; }, [] { serialPutchar(fd, buff[1]); }, [] {}, nullptr,
        nullptr);
    serialClose(fd);
    linkTell(link);
  }
}
