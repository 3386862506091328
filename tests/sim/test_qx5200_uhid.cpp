#include "HidBackendLinux.h"
#include "QX5200_Driver.h"
#include "TQX5200Uhid.h"

#include <QTest>

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

// Report lengths a HID descriptor declares, in bytes, summed over its main items: as the
// kernel sizes the reports of a device without report IDs.
struct DeclaredSizes {
  std::size_t input = 0;
  std::size_t output = 0;
};

DeclaredSizes declared_sizes(const Bytes &d) {
  DeclaredSizes sizes;
  std::uint32_t report_size = 0;
  std::uint32_t report_count = 0;
  for (std::size_t i = 0; i < d.size();) {
    const std::uint8_t prefix = d[i];
    const std::size_t n = (prefix & 3) == 3 ? 4 : (prefix & 3);
    std::uint32_t value = 0;
    for (std::size_t k = 0; k < n && i + 1 + k < d.size(); ++k)
      value |= std::uint32_t(d[i + 1 + k]) << (8 * k);
    switch (prefix & 0xFC) {
    case 0x74: report_size = value; break;
    case 0x94: report_count = value; break;
    case 0x80: sizes.input += report_size * report_count / 8; break;
    case 0x90: sizes.output += report_size * report_count / 8; break;
    default: break;
    }
    i += 1 + n;
  }
  return sizes;
}

// The output event the kernel makes of a write of `report` on the hidraw node.
uhid_event output_event(const Bytes &report, std::uint8_t rtype = UHID_OUTPUT_REPORT) {
  uhid_event e{};
  e.type = UHID_OUTPUT;
  std::copy(report.begin(), report.end(), e.u.output.data);
  e.u.output.size = std::uint16_t(report.size());
  e.u.output.rtype = rtype;
  return e;
}

// What TQHID writes for one command: report ID 0, the code, the driver's 60 data bytes.
Bytes command(std::uint8_t code, const Bytes &data = {}) {
  Bytes r(2 + TQX5200_DRIVER::tx_size, 0);
  r[1] = code;
  std::copy(data.begin(), data.end(), r.begin() + 2);
  return r;
}

Bytes input_of(const uhid_event &e) { return Bytes(e.u.input2.data, e.u.input2.data + e.u.input2.size); }

struct Fixture {
  TQX5200Uhid device;
  std::chrono::nanoseconds t{1'000'000'000};

  Fixture() { device.model().latency = 1000us; }
  void send(const Bytes &report, std::uint8_t rtype = UHID_OUTPUT_REPORT) {
    const uhid_event e = output_event(report, rtype);
    device.handle_event(e, sizeof e, t);
  }
};

} // namespace

class TestQX5200Uhid : public QObject {
  Q_OBJECT
private slots:
  void creates_the_device_the_program_looks_for();
  void answers_after_the_model_latency();
  void wrong_reports_are_rejected_data();
  void wrong_reports_are_rejected();
  void replies_leave_in_the_order_they_fall_due();
  void lost_replies_leave_nothing_queued();
  void report_requests_are_refused_at_once_data();
  void report_requests_are_refused_at_once();
  void short_and_unknown_events_are_ignored();
};

void TestQX5200Uhid::creates_the_device_the_program_looks_for() {
  const uhid_event e = TQX5200Uhid::create_event();
  QCOMPARE(e.type, std::uint32_t(UHID_CREATE2));
  QCOMPARE(QString::fromLatin1(reinterpret_cast<const char *>(e.u.create2.name)),
           QString::fromLatin1(TQX5200_DRIVER::device_product));
  const Bytes descriptor(e.u.create2.rd_data, e.u.create2.rd_data + e.u.create2.rd_size);
  QCOMPARE(descriptor, TQX5200Uhid::report_descriptor());
  // The program reads 64-byte reports and writes its 60 data bytes behind the command code;
  // without report IDs the back end adds the ID byte itself.
  const DeclaredSizes sizes = declared_sizes(descriptor);
  QCOMPARE(sizes.input, std::size_t(TVirtualQX5200::reply_size));
  QCOMPARE(sizes.output, std::size_t(1 + TQX5200_DRIVER::tx_size));
  QVERIFY(!hid_descriptor_uses_report_ids(descriptor.data(), descriptor.size()));
  // hidapi does not list devices on a virtual bus.
  QCOMPARE(e.u.create2.bus, std::uint16_t(BUS_USB));
}

void TestQX5200Uhid::answers_after_the_model_latency() {
  Fixture f;
  f.device.model().serial_number = 0xBEEF;
  f.send(command(8));
  QCOMPARE(f.device.answered(), std::uint64_t(1));
  QVERIFY(f.device.take_due(f.t + 999us).empty());
  QCOMPARE(f.device.next_due(), std::optional(f.t + 1000us));
  const std::vector<uhid_event> due = f.device.take_due(f.t + 1000us);
  QCOMPARE(due.size(), std::size_t(1));
  QCOMPARE(due[0].type, std::uint32_t(UHID_INPUT2));
  const Bytes reply = input_of(due[0]);
  QCOMPARE(reply.size(), std::size_t(64));
  QCOMPARE(Bytes(reply.begin(), reply.begin() + 3), (Bytes{8, 0xBE, 0xEF}));
  QVERIFY(!f.device.next_due());
  // The model got the report as the program wrote it.
  QCOMPARE(f.device.model().log().back(), command(8));

  // A data word reaches the model at its place behind the command code.
  f.send(command(20, {0x12, 0x34}));
  QCOMPARE(f.device.model().dac_code, std::uint16_t(0x1234));
}

void TestQX5200Uhid::wrong_reports_are_rejected_data() {
  QTest::addColumn<Bytes>("report");
  QTest::addColumn<int>("rtype");
  QTest::addColumn<QString>("reason");
  Bytes numbered = command(8);
  numbered[0] = 1;
  Bytes long_report = command(8);
  long_report.push_back(0);
  const Bytes serial = command(8);
  const Bytes without_id(serial.begin() + 1, serial.end());
  QTest::newRow("empty") << Bytes{} << int(UHID_OUTPUT_REPORT) << "of 0 bytes";
  QTest::newRow("report ID only") << Bytes{0} << int(UHID_OUTPUT_REPORT) << "of 1 bytes";
  // A write without the ID byte: the code would be taken for the ID.
  QTest::newRow("61 bytes") << without_id << int(UHID_OUTPUT_REPORT) << "of 61 bytes";
  QTest::newRow("63 bytes") << long_report << int(UHID_OUTPUT_REPORT) << "of 63 bytes";
  QTest::newRow("largest") << Bytes(UHID_DATA_MAX, 0) << int(UHID_OUTPUT_REPORT) << "of 4096 bytes";
  QTest::newRow("report ID 1") << numbered << int(UHID_OUTPUT_REPORT) << "report ID 1";
  QTest::newRow("feature type") << command(8) << int(UHID_FEATURE_REPORT) << "report type 0";
}

void TestQX5200Uhid::wrong_reports_are_rejected() {
  QFETCH(Bytes, report);
  QFETCH(int, rtype);
  QFETCH(QString, reason);
  Fixture f;
  f.send(report, std::uint8_t(rtype));
  QCOMPARE(f.device.rejected(), std::uint64_t(1));
  QVERIFY2(QString::fromStdString(f.device.last_rejection()).contains(reason),
           f.device.last_rejection().c_str());
  QCOMPARE(f.device.answered(), std::uint64_t(0));
  QVERIFY(!f.device.next_due());
  QVERIFY(f.device.model().log().empty()); // the model never saw it
  // The device goes on answering good reports.
  f.send(command(8));
  QCOMPARE(f.device.take_due(f.t + 1s).size(), std::size_t(1));
  QCOMPARE(f.device.rejected(), std::uint64_t(1));
}

void TestQX5200Uhid::replies_leave_in_the_order_they_fall_due() {
  Fixture f;
  f.device.model().late_replies = 1;
  f.send(command(8)); // late: 750 ms
  f.send(command(11));
  f.send(command(6));
  QCOMPARE(f.device.next_due(), std::optional(f.t + 1000us));
  std::vector<uhid_event> due = f.device.take_due(f.t + 1000us);
  QCOMPARE(due.size(), std::size_t(2));
  QCOMPARE(int(due[0].u.input2.data[0]), 11);
  QCOMPARE(int(due[1].u.input2.data[0]), 6);
  QCOMPARE(f.device.next_due(), std::optional(f.t + TVirtualQX5200::late_latency));
  due = f.device.take_due(f.t + 1s);
  QCOMPARE(due.size(), std::size_t(1));
  QCOMPARE(int(due[0].u.input2.data[0]), 8);
}

void TestQX5200Uhid::lost_replies_leave_nothing_queued() {
  Fixture f;
  f.device.model().unanswered = {27};
  f.device.model().latency = 0us;
  f.send(command(27));
  QVERIFY(!f.device.next_due());
  QCOMPARE(f.device.answered(), std::uint64_t(0));
  QCOMPARE(f.device.rejected(), std::uint64_t(0));
  QCOMPARE(f.device.model().command_count(27), std::uint64_t(1));
  f.send(command(8)); // latency 0: due at once
  QCOMPARE(f.device.take_due(f.t).size(), std::size_t(1));
}

void TestQX5200Uhid::report_requests_are_refused_at_once_data() {
  QTest::addColumn<int>("request");
  QTest::addColumn<int>("reply");
  QTest::newRow("get") << int(UHID_GET_REPORT) << int(UHID_GET_REPORT_REPLY);
  QTest::newRow("set") << int(UHID_SET_REPORT) << int(UHID_SET_REPORT_REPLY);
}

void TestQX5200Uhid::report_requests_are_refused_at_once() {
  QFETCH(int, request);
  QFETCH(int, reply);
  Fixture f;
  f.send(command(8)); // a reply still on its way does not hold the refusal back
  uhid_event e{};
  e.type = std::uint32_t(request);
  // The request ID sits at the same place in both requests.
  e.u.get_report.id = 77;
  f.device.handle_event(e, sizeof e, f.t);
  const std::vector<uhid_event> due = f.device.take_due(f.t);
  QCOMPARE(due.size(), std::size_t(1));
  QCOMPARE(due[0].type, std::uint32_t(reply));
  if (reply == UHID_GET_REPORT_REPLY) {
    QCOMPARE(due[0].u.get_report_reply.id, std::uint32_t(77));
    QCOMPARE(int(due[0].u.get_report_reply.err), EIO);
  } else {
    QCOMPARE(due[0].u.set_report_reply.id, std::uint32_t(77));
    QCOMPARE(int(due[0].u.set_report_reply.err), EIO);
  }
  QCOMPARE(f.device.take_due(f.t + 1s).size(), std::size_t(1));
}

void TestQX5200Uhid::short_and_unknown_events_are_ignored() {
  Fixture f;
  uhid_event e = output_event(command(8));
  f.device.handle_event(e, 2, f.t); // not even the type arrived
  for (std::uint32_t type : {std::uint32_t(UHID_START), std::uint32_t(UHID_OPEN), std::uint32_t(UHID_CLOSE),
                             std::uint32_t(UHID_STOP), std::uint32_t(999)}) {
    e.type = type;
    f.device.handle_event(e, sizeof e, f.t);
  }
  QVERIFY(!f.device.next_due());
  QVERIFY(f.device.model().log().empty());
  QCOMPARE(f.device.rejected(), std::uint64_t(0));
}

QTEST_GUILESS_MAIN(TestQX5200Uhid)
#include "test_qx5200_uhid.moc"
