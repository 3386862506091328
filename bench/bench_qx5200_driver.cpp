#include "QX5200_Driver.h"
#include "TVirtualQX5200Device.h"
#include "bench_app.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A driver talking to a virtual QX5200 that answers after 1 ms, as the real one roughly does.
struct Rig {
  std::shared_ptr<VirtualHidBus> bus = VirtualHidBus::create();
  TVirtualQX5200Device device{bus};
  TQX5200_DRIVER driver{nullptr, bus->make_backend()};
  Rig() {
    bench_app();
    // The device list is scanned once the event loop runs.
    for (int i = 0; i < 500 && !driver.is_connected(); ++i) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
      driver.enumerate();
    }
    driver.initialize();
  }
};

// One command round trip: the serial number query.
void BM_Exchange(benchmark::State &state) {
  Rig rig;
  quint16 serial = 0;
  for (auto _ : state) {
    if (!rig.driver.read_serial_number(serial))
      state.SkipWithError("no reply");
  }
}
BENCHMARK(BM_Exchange)->Unit(benchmark::kMillisecond)->UseRealTime();

// The whole word buffer: a single fast ramp of 3976 samples fills it to 7959 words, 266 blocks.
void BM_UploadFullBuffer(benchmark::State &state) {
  Rig rig;
  rig.driver.set_repeat_count(1);
  rig.driver.add_point(0, 0);
  rig.driver.add_point(1.9879e-4L, 50);
  rig.driver.build_waveform(0);
  if (rig.driver.data_error() || rig.driver.buffer_count() != 7959) {
    state.SkipWithError("the waveform does not fill the buffer");
    return;
  }
  for (auto _ : state) {
    if (!rig.driver.upload_waveform())
      state.SkipWithError("upload failed");
  }
  state.counters["blocks"] = double(rig.device.model().blocks_received());
}
BENCHMARK(BM_UploadFullBuffer)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// The same full buffer through the whole program: `qx5200-ctl --simulate run FILE` as a process,
// from its start to its exit (start-up, file reading, the device's start-up sequence, the upload
// and the start). The goal is at most 0.15 s more than BM_UploadFullBuffer.
void BM_CtlRunFullBuffer(benchmark::State &state) {
  QTemporaryDir dir;
  const QByteArray file = dir.filePath(QStringLiteral("full.txt")).toLocal8Bit();
  const QByteArray runtime = dir.path().toLocal8Bit();
  {
    const int fd = ::open(file.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const char text[] = "t\tv\n0\t0\n1.9879e-4\t50\n";
    if (fd < 0 || ::write(fd, text, sizeof text - 1) != ssize_t(sizeof text - 1)) {
      state.SkipWithError("cannot write the waveform file");
      return;
    }
    ::close(fd);
  }
  const char *argv[] = {QX5200_CTL, "--simulate", "run", file.constData(), nullptr};
  // Output to /dev/null, lock files in the temporary folder.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  const QByteArray env_runtime = "XDG_RUNTIME_DIR=" + runtime;
  const char *envp[] = {env_runtime.constData(), "LC_ALL=C.UTF-8", nullptr};
  for (auto _ : state) {
    pid_t pid = 0;
    int status = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, const_cast<char **>(argv), const_cast<char **>(envp)) !=
            0 ||
        ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      state.SkipWithError("qx5200-ctl run failed");
      break;
    }
  }
  posix_spawn_file_actions_destroy(&actions);
}
BENCHMARK(BM_CtlRunFullBuffer)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

} // namespace
