#include "TQX5200Uhid.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <linux/input.h>

std::vector<std::uint8_t> TQX5200Uhid::report_descriptor() {
  // clang-format off
  return {
      0x06, 0x00, 0xFF, // usage page: vendor 0xFF00
      0x09, 0x01,       // usage 1
      0xA1, 0x01,       // collection: application
      0x15, 0x00,       //   logical minimum 0
      0x26, 0xFF, 0x00, //   logical maximum 255
      0x75, 0x08,       //   report size: 8 bits
      0x95, std::uint8_t(input_report_size),  //   report count: the input report, in bytes
      0x09, 0x01,       //   usage 1
      0x81, 0x02,       //   input: data, variable, absolute
      0x95, std::uint8_t(output_report_size), //   report count: the output report, in bytes
      0x09, 0x01,       //   usage 1
      0x91, 0x02,       //   output: data, variable, absolute
      0xC0,             // end collection
  };
  // clang-format on
}

uhid_event TQX5200Uhid::create_event() {
  uhid_event event{};
  event.type = UHID_CREATE2;
  uhid_create2_req &create = event.u.create2;
  // Without a USB parent the product string the system reports is this name.
  std::strncpy(reinterpret_cast<char *>(create.name), product_name, sizeof create.name - 1);
  std::strncpy(reinterpret_cast<char *>(create.phys), "qx5200-uhid", sizeof create.phys - 1);
  std::strncpy(reinterpret_cast<char *>(create.uniq), "5200", sizeof create.uniq - 1);
  const std::vector<std::uint8_t> descriptor = report_descriptor();
  create.rd_size = std::uint16_t(descriptor.size());
  std::copy(descriptor.begin(), descriptor.end(), create.rd_data);
  // The real device's bus. hidapi leaves out devices on buses it does not handle (a virtual
  // one among them); on USB without a USB parent it takes the product string from the name.
  create.bus = BUS_USB;
  create.vendor = 0;
  create.product = 0x5200;
  create.version = 0x0215;
  return event;
}

uhid_event TQX5200Uhid::destroy_event() {
  uhid_event event{};
  event.type = UHID_DESTROY;
  return event;
}

void TQX5200Uhid::handle_event(const uhid_event &event, std::size_t size, Clock now) {
  if (size < sizeof event.type)
    return;
  switch (event.type) {
  case UHID_OUTPUT: output_report(event.u.output, now); break;
  case UHID_GET_REPORT: {
    uhid_event reply{};
    reply.type = UHID_GET_REPORT_REPLY;
    reply.u.get_report_reply.id = event.u.get_report.id;
    reply.u.get_report_reply.err = EIO;
    due_.emplace(now, reply);
    break;
  }
  case UHID_SET_REPORT: {
    uhid_event reply{};
    reply.type = UHID_SET_REPORT_REPLY;
    reply.u.set_report_reply.id = event.u.set_report.id;
    reply.u.set_report_reply.err = EIO;
    due_.emplace(now, reply);
    break;
  }
  default: break; // start, stop, open, close: nothing to do
  }
}

void TQX5200Uhid::output_report(const uhid_output_req &request, Clock now) {
  if (request.rtype != UHID_OUTPUT_REPORT) {
    reject("an output event of report type " + std::to_string(request.rtype));
    return;
  }
  const std::size_t size = request.size;
  if (size != qx5200_protocol::output_report_written) {
    reject("an output report of " + std::to_string(size) + " bytes (expected " +
           std::to_string(qx5200_protocol::output_report_written) + ": report ID 0 and " +
           std::to_string(output_report_size) + " bytes)");
    return;
  }
  if (request.data[0] != qx5200_protocol::report_id) {
    reject("an output report with report ID " + std::to_string(request.data[0]) +
           " (the device has no numbered reports)");
    return;
  }
  // The model takes the report as the program wrote it: report ID, then the report.
  std::array<std::uint8_t, qx5200_protocol::output_report_written> report{};
  std::copy_n(request.data + 1, output_report_size, report.begin() + 1);
  const std::optional<TVirtualQX5200::Reply> reply = model_.handle_output_report(report);
  if (!reply)
    return;
  ++answered_;
  uhid_event input{};
  input.type = UHID_INPUT2;
  input.u.input2.size = std::uint16_t(reply->data.size());
  std::copy(reply->data.begin(), reply->data.end(), input.u.input2.data);
  due_.emplace(now + std::chrono::duration_cast<Clock>(reply->latency), input);
}

void TQX5200Uhid::reject(std::string why) {
  ++rejected_;
  last_rejection_ = std::move(why);
}

std::vector<uhid_event> TQX5200Uhid::take_due(Clock now) {
  std::vector<uhid_event> events;
  const auto end = due_.upper_bound(now);
  for (auto it = due_.begin(); it != end; ++it)
    events.push_back(it->second);
  due_.erase(due_.begin(), end);
  return events;
}

std::optional<TQX5200Uhid::Clock> TQX5200Uhid::next_due() const {
  if (due_.empty())
    return std::nullopt;
  return due_.begin()->first;
}
