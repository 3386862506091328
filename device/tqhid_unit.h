#pragma once

#include "HidControllerClass.h"
#include "QX5200_Protocol.h"

#include <QObject>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

// The HID transport: finds the device by its product string, keeps it checked out, sends one
// output report per command (report ID, command code, tx_buffer_size data bytes) and keeps the
// data bytes of the latest input report. It knows nothing of the command set.
class TQHID : public QObject {
  Q_OBJECT
public:
  static constexpr int kReceiveAreaSize = 64;
  static constexpr int kTransmitDataSize = 65;
  static constexpr int kMaxIndex = 64;

  // The back end goes to the controller (an empty one: no device is ever found).
  TQHID(QObject *owner, std::unique_ptr<THidBackend> backend);
  ~TQHID() override;

  const QString &device_name() const { return m_device_name; }
  void set_device_name(const QString &name) { m_device_name = name; }
  int rx_buffer_size() const { return m_rx_buffer_size; }
  void set_rx_buffer_size(int size); // 0..64
  int tx_buffer_size() const { return m_tx_buffer_size; }
  void set_tx_buffer_size(int size); // 0..65
  int tx_buffer_index() const { return m_tx_buffer_index; }
  void set_tx_buffer_index(int index); // 0..64
  int rx_buffer_index() const { return m_rx_buffer_index; }
  void set_rx_buffer_index(int index); // 0..64
  bool connected() const { return m_connected; }
  bool data_received() const { return m_data_received; }
  // A device named device_name is present but the system refuses this user access to it, and
  // no other such device could be taken. Refreshed by every enumerate.
  bool permission_denied() const { return m_permission_denied; }
  // A device named device_name is present but another program holds it (its claim was refused),
  // and no other such device could be taken. Refreshed by every enumerate.
  bool device_in_use() const { return m_device_in_use; }

  // Lets a program hold a device for itself: claim is asked before a device is taken (the
  // device is then left alone, and counted as in use for claim_in_use), release is told when
  // the device is given back.
  enum TClaim { claim_taken, claim_skip, claim_in_use };
  void set_claim_handlers(std::function<TClaim(const THidPnPInfo &)> claim, std::function<void()> release) {
    m_claim = std::move(claim);
    m_release = std::move(release);
  }

  // Offers every plugged-in device to on_enumerate; returns how many were offered.
  int enumerate();
  // Clears data_received and, when connected, sends one output report.
  void send_command(std::uint8_t code);
  // Waits while the event loop runs until a report is stored, the device is lost or timeout_ms
  // has passed. Returns data_received. Returns at once when not connected.
  bool wait_for_reply(int timeout_ms);

  void put_byte(std::uint8_t b);
  void put_word(std::uint16_t w);
  void put_float(long double x);
  std::uint8_t get_byte();
  std::uint16_t get_word();
  long double get_float();
  long double get_exp_float();

  // Handlers installed on the controller and the device.
  bool on_enumerate(THidDevice *device, int index);
  void on_data(THidDevice *device, std::uint8_t report_id, const std::uint8_t *data, int size);
  void on_unplug(THidDevice *device);
  void on_removal(THidDevice *device);

  THidDeviceController *controller() const { return m_controller; }
  THidDevice *device() const { return m_device; }

signals:
  // A report was stored (data_received is true).
  void data_stored();
  // connected went from true to false.
  void disconnected();
  // permission_denied changed.
  void permission_denied_changed(bool denied);

private:
  void release_device();
  void set_disconnected();
  std::uint8_t *transmit_data() { return m_report.data() + qx5200_protocol::output_data_at; }

  THidDeviceController *m_controller;
  THidDevice *m_device = nullptr;
  QString m_device_name;
  int m_rx_buffer_size = 0;
  int m_tx_buffer_size = 0;
  int m_tx_buffer_index = 0;
  int m_rx_buffer_index = 0;
  bool m_connected = false;
  bool m_data_received = false;
  bool m_permission_denied = false;
  bool m_saw_refused = false; // during an enumerate
  bool m_device_in_use = false;
  bool m_saw_in_use = false; // during an enumerate
  std::function<TClaim(const THidPnPInfo &)> m_claim;
  std::function<void()> m_release;
  std::array<std::uint8_t, kReceiveAreaSize> m_receive{};
  // The output report image: report ID (0 from creation, never changed), command code, then the
  // transmit data.
  std::array<std::uint8_t, qx5200_protocol::output_data_at + kTransmitDataSize> m_report{};
};
