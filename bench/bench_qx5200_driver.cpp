#include "QX5200_Driver.h"
#include "TVirtualQX5200Device.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

namespace {

QCoreApplication &app() {
  static int argc = 1;
  static char name[] = "bench_qx5200_driver";
  static char *argv[] = {name, nullptr};
  static QCoreApplication instance(argc, argv);
  return instance;
}

// A driver talking to a virtual QX5200 that answers after 1 ms, as the real one roughly does.
struct Rig {
  std::shared_ptr<VirtualHidBus> bus = VirtualHidBus::create();
  TVirtualQX5200Device device{bus};
  TQX5200_DRIVER driver{nullptr, bus->make_backend()};
  Rig() {
    app();
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

} // namespace
