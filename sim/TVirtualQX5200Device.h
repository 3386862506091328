#pragma once

#include "TVirtualQX5200.h"
#include "VirtualHid.h"

#include <QString>

#include <memory>

// A QX5200 on a virtual HID bus: a device with the QX5200's product string whose every output
// report is answered by the firmware model after the model's latency. The model
// runs on the thread that writes the reports (the UI thread); tests set its fields and inject
// faults there too.
class TVirtualQX5200Device {
public:
  static inline const QString product_string = QString::fromLatin1(qx5200_protocol::product_string);

  // Plugs a new device into the bus.
  explicit TVirtualQX5200Device(std::shared_ptr<VirtualHidBus> bus, TVirtualQX5200::Clock clock = {});
  ~TVirtualQX5200Device();
  TVirtualQX5200Device(const TVirtualQX5200Device &) = delete;
  TVirtualQX5200Device &operator=(const TVirtualQX5200Device &) = delete;

  TVirtualQX5200 &model() { return *model_; }
  const std::shared_ptr<VirtualHidBus> &bus() const { return bus_; }
  const std::shared_ptr<VirtualHidDevice> &hid_device() const { return device_; }

  // The USB cable: unplugging drops every reply still on its way.
  void unplug();
  void replug();
  bool plugged_in() const { return device_->plugged_in(); }

private:
  std::shared_ptr<VirtualHidBus> bus_;
  std::shared_ptr<TVirtualQX5200> model_;
  std::shared_ptr<VirtualHidDevice> device_;
};
