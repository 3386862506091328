#include "tqhid_unit.h"

#include "Delay.h"
#include "DeviceNumbers.h"

#include <algorithm>
#include <cstring>

TQHID::TQHID(QObject *owner, std::unique_ptr<THidBackend> backend)
    : QObject(owner), m_controller(new THidDeviceController(this, std::move(backend))) {
  m_controller->OnEnumerate = [this](THidDevice *device, int index) { return on_enumerate(device, index); };
  m_controller->OnDeviceUnplug = [this](THidDevice *device) { on_unplug(device); };
  m_controller->OnRemoval = [this](THidDevice *device) { on_removal(device); };
}

TQHID::~TQHID() {
  // The device goes back before the controller: its reader must not call into a dying transport.
  release_device();
  delete m_controller;
}

void TQHID::set_rx_buffer_size(int size) { m_rx_buffer_size = std::clamp(size, 0, kReceiveAreaSize); }
void TQHID::set_tx_buffer_size(int size) { m_tx_buffer_size = std::clamp(size, 0, kTransmitDataSize); }
void TQHID::set_tx_buffer_index(int index) { m_tx_buffer_index = std::clamp(index, 0, kMaxIndex); }
void TQHID::set_rx_buffer_index(int index) { m_rx_buffer_index = std::clamp(index, 0, kMaxIndex); }

int TQHID::enumerate() {
  m_saw_refused = false;
  m_saw_in_use = false;
  const int offered = m_controller->enumerate_devices();
  m_device_in_use = m_saw_in_use && !m_connected;
  const bool denied = m_saw_refused && !m_connected;
  if (denied != m_permission_denied) {
    m_permission_denied = denied;
    emit permission_denied_changed(denied);
  }
  return offered;
}

void TQHID::send_command(std::uint8_t code) {
  m_data_received = false;
  if (!m_connected || !m_device)
    return;
  m_report[qx5200_protocol::output_command_at] = code;
  // A refused write shows up as a reply that never comes.
  if (!m_device->write_report(m_report.data(), m_tx_buffer_size + int(qx5200_protocol::output_data_at)))
    qCDebug(lc_hid) << "write refused: command" << int(code);
}

bool TQHID::wait_for_reply(int timeout_ms) {
  if (m_data_received || !m_connected)
    return m_data_received;
  TEventWait wait(std::max(timeout_ms, 0), 1);
  wait.end_on(this, &TQHID::data_stored);
  wait.end_on(this, &TQHID::disconnected);
  wait.run();
  return m_data_received;
}

void TQHID::put_byte(std::uint8_t b) {
  transmit_data()[m_tx_buffer_index] = b;
  if (m_tx_buffer_index < kMaxIndex)
    ++m_tx_buffer_index;
}

void TQHID::put_word(std::uint16_t w) {
  std::uint8_t bytes[2];
  device_word_to_bytes(w, bytes);
  put_byte(bytes[0]);
  put_byte(bytes[1]);
}

void TQHID::put_float(long double x) {
  std::uint8_t bytes[4];
  ieee_single_encode(x, bytes);
  for (std::uint8_t b : bytes)
    put_byte(b);
}

std::uint8_t TQHID::get_byte() {
  // The receive area ends before the stopped position 64: that position reads as 0.
  const std::uint8_t b = m_rx_buffer_index < kReceiveAreaSize ? m_receive[m_rx_buffer_index] : 0;
  if (m_rx_buffer_index < kMaxIndex)
    ++m_rx_buffer_index;
  return b;
}

std::uint16_t TQHID::get_word() {
  std::uint8_t bytes[2];
  bytes[0] = get_byte();
  bytes[1] = get_byte();
  return device_word_from_bytes(bytes);
}

long double TQHID::get_float() {
  std::uint8_t bytes[4];
  for (std::uint8_t &b : bytes)
    b = get_byte();
  return ieee_single_decode(bytes);
}

long double TQHID::get_exp_float() {
  std::uint8_t bytes[4];
  for (std::uint8_t &b : bytes)
    b = get_byte();
  return exp_float_decode(bytes);
}

bool TQHID::on_enumerate(THidDevice *device, int index) {
  if (m_connected)
    return true;
  if (!device || device->product_string() != m_device_name)
    return true;
  // A device the system will not let us open would only look connected while no reply ever
  // comes: leave it, and say why it is not used.
  if (device->permission_denied()) {
    qCInfo(lc_hid) << "not used, no permission:" << device->pnp_info().path;
    m_saw_refused = true;
    return true;
  }
  // An earlier device still held goes back to the controller, or it would stay checked out.
  release_device();
  // Claimed before it is opened, so nothing is sent to a device another program is using.
  if (m_claim) {
    const TClaim claim = m_claim(device->pnp_info());
    if (claim != claim_taken) {
      qCInfo(lc_hid) << "not used, claimed elsewhere:" << device->pnp_info().path;
      m_saw_in_use = m_saw_in_use || claim == claim_in_use;
      return true;
    }
  }
  THidDevice *taken = m_controller->check_out(index);
  if (!taken) {
    if (m_release)
      m_release();
    return true;
  }
  m_device = taken;
  m_device->set_data_handler([this](THidDevice *from, std::uint8_t report_id, const std::uint8_t *data,
                                    int size) { on_data(from, report_id, data, size); });
  if (m_device->permission_denied()) { // refused when the reader opened it
    release_device();
    m_saw_refused = true;
    return true;
  }
  m_connected = true;
  qCInfo(lc_hid) << "using" << m_device->pnp_info().path;
  return false;
}

void TQHID::on_data(THidDevice *, std::uint8_t, const std::uint8_t *data, int size) {
  // A short report is stored without reading past its end; the missing bytes read as 0.
  const int available = data ? std::clamp(size, 0, m_rx_buffer_size) : 0;
  if (available > 0)
    std::memcpy(m_receive.data(), data, static_cast<std::size_t>(available));
  std::fill(m_receive.begin() + available, m_receive.begin() + m_rx_buffer_size, std::uint8_t{0});
  m_data_received = true;
  emit data_stored();
}

void TQHID::on_unplug(THidDevice *device) {
  // Every device carries this handler; only the one in use concerns the transport.
  if (!device || device != m_device)
    return;
  qCInfo(lc_hid) << "unplugged:" << device->pnp_info().path;
  release_device();
  set_disconnected();
}

void TQHID::on_removal(THidDevice *device) {
  if (device && device == m_device) {
    release_device();
  }
  if (!m_device)
    set_disconnected();
}

void TQHID::release_device() {
  if (!m_device)
    return;
  m_device->set_data_handler(nullptr);
  m_controller->check_in(m_device);
  if (m_release)
    m_release();
}

void TQHID::set_disconnected() {
  if (!m_connected)
    return;
  m_connected = false;
  emit disconnected();
}
