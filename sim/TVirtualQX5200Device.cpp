#include "TVirtualQX5200Device.h"

#include <span>

namespace {

// The seat of the model on the virtual device. It holds the model, not the device, so the
// device (which holds it) and the model never keep each other alive.
class Firmware : public VirtualHidFirmware {
public:
  explicit Firmware(std::shared_ptr<TVirtualQX5200> model) : model_(std::move(model)) {}

  void output_report(VirtualHidDevice &device, const QByteArray &report) override {
    const auto bytes =
        std::span(reinterpret_cast<const std::uint8_t *>(report.constData()), std::size_t(report.size()));
    const auto reply = model_->handle_output_report(bytes);
    if (!reply)
      return;
    // The bus counts in whole milliseconds; a reply is never earlier than the model asks.
    const auto delay = std::chrono::ceil<std::chrono::milliseconds>(reply->latency);
    device.deliver_input_report(
        0, QByteArrayView(reinterpret_cast<const char *>(reply->data.data()), qsizetype(reply->data.size())),
        delay);
  }

private:
  std::shared_ptr<TVirtualQX5200> model_;
};

} // namespace

TVirtualQX5200Device::TVirtualQX5200Device(std::shared_ptr<VirtualHidBus> bus, TVirtualQX5200::Clock clock)
    : bus_(std::move(bus)), model_(std::make_shared<TVirtualQX5200>(std::move(clock))),
      device_(std::make_shared<VirtualHidDevice>(product_string, true)) {
  device_->set_firmware(std::make_shared<Firmware>(model_));
  bus_->plug(device_);
}

TVirtualQX5200Device::~TVirtualQX5200Device() {
  bus_->unplug(device_);
  device_->set_firmware(nullptr);
}

void TVirtualQX5200Device::unplug() { bus_->unplug(device_); }

void TVirtualQX5200Device::replug() { bus_->plug(device_); }
