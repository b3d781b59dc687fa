// Stands in for the board of a system booted for a test: opens a pseudo-terminal through that
// system's ptmx (reached from outside as /proc/PID/root/dev/pts/ptmx), prints the number of its
// far side, then appends every byte that reaches the line to a file until it is killed. It holds
// the far side open itself, so that the line never hangs up between the program's opens and
// closes.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <string>
#include <system_error>

namespace {

int failed(const std::string& what) {
  (void)std::fprintf(stderr, "line-tap: %s: %s\n", what.c_str(),
                     std::generic_category().message(errno).c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    (void)std::fputs("usage: line-tap PTMX FILE\n", stderr);
    return 2;
  }
  const std::string ptmx = argv[1];
  const std::string file = argv[2];
  const int master = open(ptmx.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  int unlock = 0;
  unsigned number = 0;
  if (master < 0 || ioctl(master, TIOCSPTLCK, &unlock) != 0 ||
      ioctl(master, TIOCGPTN, &number) != 0) {
    return failed("no pseudo-terminal from " + ptmx);
  }
  const std::string slave = ptmx.substr(0, ptmx.rfind('/') + 1) + std::to_string(number);
  if (open(slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC) < 0) return failed(slave);
  const int out = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) return failed(file);
  if (std::printf("%u\n", number) < 0 || std::fflush(stdout) != 0) return failed("standard output");
  std::array<char, 4096> bytes{};
  for (;;) {
    const ssize_t got = read(master, bytes.data(), bytes.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return failed("reading the line");
    if (write(out, bytes.data(), static_cast<size_t>(got)) != got) return failed(file);
  }
}
