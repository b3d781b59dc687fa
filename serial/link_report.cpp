#include "serial/link_report.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "serial/line_bounds.h"

namespace {

constexpr long long pauseMs = 250;

void say(const LinkReport& r, LinkState was) {
  char devices[256];
  switch (r.state) {
    case LinkState::unknown:
      return;
    case LinkState::working:
      if (was == LinkState::unknown) return;  // a line that works from the start is not news
      (void)std::fprintf(stderr, "%s: %s works; the board gets %s%s\n", r.program, r.device, r.gets,
                         r.toldWorking ? " again" : "");
      return;
    case LinkState::missing:
      serialDevicesHere(devices, sizeof devices);
      (void)std::fprintf(stderr, "%s: no board at %s (no such device); %s%s%s; %s\n", r.program,
                         r.device,
                         devices[0] != '\0' ? "serial devices here: " : "no serial devices here",
                         devices, devices[0] != '\0' ? " (choose one with --device PATH)" : "",
                         was == LinkState::unknown && r.atStartWithoutDevice != nullptr
                             ? r.atStartWithoutDevice
                             : "the board gets nothing until it is back");
      return;
    case LinkState::denied:
      (void)std::fprintf(stderr,
                         "%s: cannot open %s: permission denied; add yourself to the dialout "
                         "group (sudo usermod -aG dialout $USER) and log in again\n",
                         r.program, r.device);
      return;
    case LinkState::openFailed:
      (void)std::fprintf(stderr, "%s: cannot open %s: %s; the board is not getting %s\n", r.program,
                         r.device, errorText(r.error), r.gets);
      return;
    case LinkState::writeFailed:
      (void)std::fprintf(stderr, "%s: writing to %s failed: %s; the board is not getting %s\n",
                         r.program, r.device, errorText(r.error), r.gets);
      return;
    case LinkState::stuck:
      (void)std::fprintf(stderr,
                         "%s: %s took no byte for %d ms; gave it up; the board is not getting %s\n",
                         r.program, r.device, r.stuckMs, r.gets);
      return;
  }
}

void become(LinkReport& r, LinkState state, int error) {
  r.state = state;
  r.error = error;
  linkTell(r);
  if (state == LinkState::working) r.everWorked = true;
}

void tellIfChanged(LinkReport& r, bool pause) {
  if (r.state == r.told && r.error == r.toldError) return;
  const long long now = monotonicMs();
  if (pause && r.told != LinkState::unknown && now - r.toldAtMs < pauseMs) return;
  say(r, r.told);
  if (r.state == LinkState::working) r.toldWorking = true;
  r.told = r.state;
  r.toldError = r.error;
  r.toldAtMs = now;
}

}  // namespace

const char* errorText(int error) {
  const char* text = strerrordesc_np(error);
  return text != nullptr ? text : "unknown error";
}

void linkTell(LinkReport& r) { tellIfChanged(r, true); }

void linkTellNow(LinkReport& r) { tellIfChanged(r, false); }

void linkWorked(LinkReport& r) { become(r, LinkState::working, 0); }

void linkOpenFailed(LinkReport& r, int error) {
  if (error == ENOENT || error == ENXIO || error == ENODEV) {
    become(r, LinkState::missing, 0);
  } else if (error == EACCES || error == EPERM) {
    become(r, LinkState::denied, 0);
  } else {
    become(r, LinkState::openFailed, error);
  }
}

void linkWriteFailed(LinkReport& r, int error) { become(r, LinkState::writeFailed, error); }

void linkStuck(LinkReport& r) { become(r, LinkState::stuck, 0); }

void serialDevicesHere(char* out, unsigned long size) {
  out[0] = '\0';
  const int dev = open("/dev", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dev < 0) return;
  alignas(dirent64) char entries[4096];
  unsigned long used = 0;
  ssize_t n = 0;
  while ((n = getdents64(dev, entries, sizeof entries)) > 0) {
    for (ssize_t at = 0; at < n;) {
      const auto* e = reinterpret_cast<const dirent64*>(entries + at);
      at += e->d_reclen;
      if (std::strncmp(e->d_name, "ttyUSB", 6) != 0 && std::strncmp(e->d_name, "ttyACM", 6) != 0) {
        continue;
      }
      const int wrote =
          std::snprintf(out + used, size - used, "%s/dev/%s", used > 0 ? " " : "", e->d_name);
      if (wrote < 0 || static_cast<unsigned long>(wrote) >= size - used) {
        out[used] = '\0';  // what fits is enough to show the board's other name
        close(dev);
        return;
      }
      used += static_cast<unsigned long>(wrote);
    }
  }
  close(dev);
}
