#pragma once

#include "TVirtualQX5200.h"

#include <linux/uhid.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

// The firmware model seated on a kernel HID device made through /dev/uhid: it turns the events
// the kernel sends into output reports for the model and the model's replies into input reports
// at the time the model asks for. No system calls here; qx5200-uhid moves the events.
//
// The device has no numbered reports (QX5200_Protocol.h). hidraw passes a write on unchanged,
// so every output report arrives with the report ID byte 0 the program puts in front; a USB
// device would get it without.
class TQX5200Uhid {
public:
  using Clock = std::chrono::nanoseconds;

  static constexpr const char *product_name = qx5200_protocol::product_string;
  static constexpr std::size_t output_report_size = qx5200_protocol::output_report_size;
  static constexpr std::size_t input_report_size = qx5200_protocol::input_report_size;

  static std::vector<std::uint8_t> report_descriptor();
  // The event that creates the device.
  static uhid_event create_event();
  static uhid_event destroy_event();

  TVirtualQX5200 &model() { return model_; }

  // One event as read from /dev/uhid (`size` bytes of it valid) at time `now`. Output reports
  // are answered through the model; report requests, which this device has none of, are
  // refused at once so the kernel does not wait for them.
  void handle_event(const uhid_event &event, std::size_t size, Clock now);

  // Events to write now, in the order they fall due (reports due together in the order the
  // output reports came).
  std::vector<uhid_event> take_due(Clock now);
  // When the next reply falls due; nothing when none waits.
  std::optional<Clock> next_due() const;

  std::uint64_t answered() const { return answered_; }
  std::uint64_t rejected() const { return rejected_; }
  // Why the last output report was rejected; empty when none was.
  const std::string &last_rejection() const { return last_rejection_; }

private:
  void output_report(const uhid_output_req &request, Clock now);
  void reject(std::string why);

  TVirtualQX5200 model_;
  std::multimap<Clock, uhid_event> due_;
  std::uint64_t answered_ = 0;
  std::uint64_t rejected_ = 0;
  std::string last_rejection_;
};
