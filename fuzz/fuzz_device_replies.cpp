// Every read the driver makes, answered by whatever the bytes say, through the real transport on
// the virtual HID bus. Each output report takes the next chunk of the input as its reply: a
// length byte (modulo 65, so empty and short reports happen) and that many bytes. Three bytes of
// 0xFF and a fourth byte d in place of a length make the reply after it come d % 40 ms late
// (three times per input at most, so that a run stays short). Once the input is used up the sequence ends. (A
// reply that never comes costs the driver's full 500 ms wait: with that in the input every run would near the
// 1 s limit, so the unit test of the driver covers it instead.) Besides not crashing, the driver must keep
// its side of the protocol: well-formed output reports, no start command while the waveform holds an error,
// and record texts that fit the record.
#include "QX5200_Driver.h"
#include "VirtualHid.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {

const QString product = QString::fromLatin1(TQX5200_DRIVER::device_product);

class FuzzFirmware : public VirtualHidFirmware {
public:
  void start(const uint8_t *data, size_t size) {
    p_ = data;
    end_ = data + size;
    late_left_ = 3;
  }
  bool used_up() const { return p_ >= end_; }

  void output_report(VirtualHidDevice &device, const QByteArray &) override {
    if (used_up()) {
      device.deliver_input_report(0, QByteArray(64, '\0'));
      return;
    }
    std::chrono::milliseconds delay(0);
    if (end_ - p_ >= 4 && p_[0] == 0xFF && p_[1] == 0xFF && p_[2] == 0xFF) {
      if (late_left_ > 0) {
        --late_left_;
        delay = std::chrono::milliseconds(p_[3] % 40);
      }
      p_ += 4;
    }
    if (used_up()) {
      device.deliver_input_report(0, QByteArray(64, '\0'), delay);
      return;
    }
    const size_t length = *p_++ % 65;
    const size_t n = std::min(length, size_t(end_ - p_));
    device.deliver_input_report(0, QByteArrayView(reinterpret_cast<const char *>(p_), qsizetype(n)), delay);
    p_ += n;
  }

private:
  const uint8_t *p_ = nullptr;
  const uint8_t *end_ = nullptr;
  int late_left_ = 0;
};

struct Rig {
  std::shared_ptr<VirtualHidBus> bus = VirtualHidBus::create();
  std::shared_ptr<VirtualHidDevice> device = bus->plug(product);
  std::shared_ptr<FuzzFirmware> firmware = std::make_shared<FuzzFirmware>();
  Rig() { device->set_firmware(firmware); }
};

Rig *rig = nullptr;

// Enumerates until the device is taken, as the main window's poll does: the device list is
// scanned once the event loop runs.
void connect(TQX5200_DRIVER &driver) {
  for (int i = 0; i < 1000 && !driver.is_connected(); ++i) {
    driver.enumerate();
    QCoreApplication::processEvents();
  }
  if (!driver.is_connected())
    std::abort();
}

void check_reports(const TQX5200_DRIVER &driver) {
  bool started = false;
  for (const QByteArray &r : rig->device->output_reports()) {
    // Report ID, command code, then exactly the transmit data.
    if (r.size() != 2 + TQX5200_DRIVER::tx_size || r[0] != 0)
      std::abort();
    started = started || r[1] == 33;
  }
  if (started && driver.data_error())
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
  static QCoreApplication app(*argc, *argv);
  rig = new Rig;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  TQX5200_DRIVER driver(nullptr, rig->bus->make_backend());
  connect(driver);
  rig->device->clear_output_reports();
  rig->firmware->start(data, size);
  FuzzFirmware &fw = *rig->firmware;

  long double value = 0;
  quint16 word = 0;
  QString text;
  driver.initialize();
  if (!fw.used_up())
    driver.read_status();
  if (!fw.used_up())
    driver.read_usb_voltage(value);
  if (!fw.used_up())
    driver.query_run_state();
  if (!fw.used_up())
    driver.read_serial_number(word);
  if (!fw.used_up())
    driver.read_revision(text);
  if (!fw.used_up())
    driver.read_dac_offset(value);
  if (!fw.used_up())
    driver.read_fs_dac_code(word);
  if (!fw.used_up())
    driver.read_adc_offset(value);
  if (!fw.used_up())
    driver.read_adc_gain(value);
  if (!fw.used_up())
    driver.read_load_board_record();
  const TLoadBoardRecord &lb = driver.load_board();
  if (lb.lb_name.size() > 7 || lb.lb_units.size() > 1 || lb.lb_sensor_units.size() > 1)
    std::abort();
  if (!fw.used_up()) {
    // A small waveform with whatever limits the record brought.
    driver.add_point(0, 0);
    driver.add_point(1e-3L, 0.5L);
    driver.add_point(2e-3L, 0);
    driver.build_waveform(driver.sensor_value());
    driver.start_output();
  }
  if (!fw.used_up())
    driver.stop_output();
  check_reports(driver);
  return 0;
}
