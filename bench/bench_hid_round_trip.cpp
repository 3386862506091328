// One command and its reply through the whole HID stack on the virtual bus: output report,
// device answer, reader thread, hand-over to the UI thread, stored reply. The wait ends when
// the reply is stored, so this is the stack's own cost per exchange, no 10 ms tick in it.
#include "VirtualHid.h"
#include "tqhid_unit.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

namespace {

class ImmediateEcho : public VirtualHidFirmware {
public:
  void output_report(VirtualHidDevice &device, const QByteArray &report) override {
    device.deliver_input_report(0, report.mid(1, 64));
  }
};

QCoreApplication &app() {
  static int argc = 1;
  static char name[] = "bench_hid_round_trip";
  static char *argv[] = {name, nullptr};
  static QCoreApplication instance(argc, argv);
  return instance;
}

void BM_CommandAndReply(benchmark::State &state) {
  app();
  auto bus = VirtualHidBus::create();
  auto device = bus->plug("QUOR LABS QX5200");
  device->set_firmware(std::make_shared<ImmediateEcho>());
  TQHID hid(nullptr, bus->make_backend());
  hid.set_device_name("QUOR LABS QX5200");
  hid.set_rx_buffer_size(49);
  hid.set_tx_buffer_size(60);
  while (!hid.connected()) {
    QCoreApplication::processEvents();
    hid.enumerate();
  }
  std::int64_t lost = 0;
  for (auto _ : state) {
    hid.set_tx_buffer_index(0);
    hid.put_word(0x1234);
    hid.send_command(10);
    if (!hid.wait_for_reply(500))
      ++lost;
    device->clear_output_reports();
  }
  state.counters["lost"] = static_cast<double>(lost);
}
BENCHMARK(BM_CommandAndReply)->Unit(benchmark::kMicrosecond);

} // namespace
