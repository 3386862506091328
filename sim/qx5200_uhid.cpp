// qx5200-uhid: a QX5200 made as a kernel HID device through /dev/uhid, answered by the same
// firmware model the virtual back end uses. The program then finds, opens and talks to it
// through hidraw exactly as to the real device. Needs the uhid module and write access to
// /dev/uhid; SIGTERM or SIGINT removes the device (as does any exit: the kernel destroys it
// when the file closes).
#include "TQX5200Uhid.h"

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string_view>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

using std::chrono::steady_clock;

TQX5200Uhid::Clock now() {
  return std::chrono::duration_cast<TQX5200Uhid::Clock>(steady_clock::now().time_since_epoch());
}

bool write_event(int fd, const uhid_event &event) {
  for (;;) {
    const ssize_t n = ::write(fd, &event, sizeof event);
    if (n == ssize_t(sizeof event))
      return true;
    if (n < 0 && errno == EINTR)
      continue;
    std::fprintf(stderr, "qx5200-uhid: writing to /dev/uhid failed: %s\n",
                 n < 0 ? std::strerror(errno) : "short write");
    return false;
  }
}

void usage(std::FILE *to) {
  std::fprintf(to, "usage: qx5200-uhid [--latency-us N]\n"
                   "Creates a QX5200 as a kernel HID device through /dev/uhid and answers it until\n"
                   "SIGTERM or SIGINT. --latency-us sets the reply delay (default: the model's).\n");
}

} // namespace

int main(int argc, char **argv) {
  TQX5200Uhid device;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      usage(stdout);
      return 0;
    }
    if (arg == "--latency-us" && i + 1 < argc) {
      const std::string_view value = argv[++i];
      long long us = -1;
      const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), us);
      if (error != std::errc() || end != value.data() + value.size() || us < 0 || us > 10'000'000) {
        std::fprintf(stderr, "qx5200-uhid: --latency-us takes 0..10000000, not \"%s\"\n", argv[i]);
        return 2;
      }
      device.model().latency = std::chrono::microseconds(us);
      continue;
    }
    usage(stderr);
    return 2;
  }

  // Signals arrive as readable data, so the loop never stops half-way through an event.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  if (sigprocmask(SIG_BLOCK, &stop_signals, nullptr) != 0) {
    std::perror("qx5200-uhid: sigprocmask");
    return 1;
  }
  const int signal_fd = signalfd(-1, &stop_signals, SFD_CLOEXEC);
  if (signal_fd < 0) {
    std::perror("qx5200-uhid: signalfd");
    return 1;
  }
  const int fd = ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    std::fprintf(stderr, "qx5200-uhid: cannot open /dev/uhid: %s\n", std::strerror(errno));
    return 1;
  }
  if (!write_event(fd, TQX5200Uhid::create_event()))
    return 1;
  std::fprintf(stderr, "qx5200-uhid: \"%s\" created\n", TQX5200Uhid::product_name);

  int status = 0;
  uhid_event event{};
  for (bool running = true; running;) {
    timespec wait{};
    timespec *timeout = nullptr;
    if (const auto due = device.next_due()) {
      const auto left = std::max(*due - now(), TQX5200Uhid::Clock(0));
      wait.tv_sec = time_t(left.count() / 1'000'000'000);
      wait.tv_nsec = long(left.count() % 1'000'000'000);
      timeout = &wait;
    }
    pollfd fds[2] = {{fd, POLLIN, 0}, {signal_fd, POLLIN, 0}};
    if (::ppoll(fds, 2, timeout, nullptr) < 0 && errno != EINTR) {
      std::perror("qx5200-uhid: ppoll");
      status = 1;
      break;
    }
    if (fds[1].revents & POLLIN) {
      signalfd_siginfo info{};
      if (::read(signal_fd, &info, sizeof info) > 0)
        std::fprintf(stderr, "qx5200-uhid: %s, removing the device\n", strsignal(int(info.ssi_signo)));
      break;
    }
    if (fds[0].revents & (POLLERR | POLLHUP)) {
      std::fprintf(stderr, "qx5200-uhid: /dev/uhid hung up\n");
      status = 1;
      break;
    }
    if (fds[0].revents & POLLIN) {
      const ssize_t n = ::read(fd, &event, sizeof event);
      if (n < 0 && errno != EINTR && errno != EAGAIN) {
        std::fprintf(stderr, "qx5200-uhid: reading /dev/uhid failed: %s\n", std::strerror(errno));
        status = 1;
        break;
      }
      if (n > 0) {
        const std::uint64_t rejected = device.rejected();
        device.handle_event(event, std::size_t(n), now());
        if (device.rejected() != rejected)
          std::fprintf(stderr, "qx5200-uhid: rejected %s; no reply (%llu rejected so far)\n",
                       device.last_rejection().c_str(), static_cast<unsigned long long>(device.rejected()));
      }
    }
    for (const uhid_event &out : device.take_due(now()))
      if (!write_event(fd, out)) {
        status = 1;
        running = false;
        break;
      }
  }

  write_event(fd, TQX5200Uhid::destroy_event());
  ::close(fd);
  std::fprintf(stderr, "qx5200-uhid: removed; %llu reports answered, %llu rejected\n",
               static_cast<unsigned long long>(device.answered()),
               static_cast<unsigned long long>(device.rejected()));
  return status;
}
