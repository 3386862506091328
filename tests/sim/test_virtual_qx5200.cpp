#include "TVirtualQX5200.h"

#include <QTest>

#include <cmath>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using CodeLists = std::vector<std::vector<std::uint16_t>>;

// One 62-byte output report: report ID 0, the command, then the data bytes.
Bytes report(std::uint8_t code, const Bytes &data = {}) {
  Bytes r(62, 0);
  r[1] = code;
  for (std::size_t i = 0; i < data.size() && i < 60; ++i)
    r[2 + i] = data[i];
  return r;
}

Bytes words_to_bytes(const std::vector<std::uint16_t> &words) {
  Bytes b;
  for (auto w : words) {
    b.push_back(std::uint8_t(w >> 8));
    b.push_back(std::uint8_t(w));
  }
  return b;
}

std::uint16_t word(const std::uint8_t *b) { return std::uint16_t(b[0] << 8 | b[1]); }

struct Fixture {
  std::chrono::nanoseconds t{0};
  TVirtualQX5200 dev{[this] { return t; }};

  TVirtualQX5200::Reply ask(std::uint8_t code, const Bytes &data = {}) {
    auto r = dev.handle_output_report(report(code, data));
    if (!r)
      qFatal("reply lost where none should be");
    return *r;
  }

  void upload(const std::vector<std::uint16_t> &words) {
    ask(2);
    ask(1);
    ask(23, {0, 0});
    for (std::size_t at = 0; at < words.size() || at == 0; at += 30) {
      std::vector<std::uint16_t> block(30, 0);
      for (std::size_t k = 0; k < 30 && at + k < words.size(); ++k)
        block[k] = words[at + k];
      ask(24, words_to_bytes(block));
    }
    ask(3);
  }
};

// Hold words of the upload format: the complement of h, low word first.
std::vector<std::uint16_t> hold_words(std::uint32_t h) {
  const std::uint32_t c = ~h;
  return {std::uint16_t(c & 0xFFFF), std::uint16_t(c >> 16)};
}

} // namespace

class TestVirtualQX5200 : public QObject {
  Q_OBJECT
private slots:
  void status_follows_board_and_temperature_limit();
  void record_is_stored_and_returned();
  void decodes_valid_words_data();
  void decodes_valid_words();
  void refuses_broken_words_data();
  void refuses_broken_words();
  void over_temperature_stops_play();
};

void TestVirtualQX5200::status_follows_board_and_temperature_limit() {
  Fixture f;
  auto r = f.ask(34);
  QCOMPARE(int(r.data[1]), 1);
  // About 25 degrees through 0.5 V + 10 mV/degree and the ADC line (-1 V + code * 3/4096).
  const long double t = (word(&r.data[2]) * 3.0L / 4096 - 1 - 0.5L) / 0.01L;
  QVERIFY(std::fabs(t - 25) < 0.1);
  // About 12 V through the board's sensor gain of 25.
  const long double s = (word(&r.data[4]) * 3.0L / 4096 - 1) * 25;
  QVERIFY(std::fabs(s - 12) < 0.05);

  // A limit written by the program below the board's temperature flags over-temperature.
  const std::uint16_t limit = word(&r.data[2]) - 1;
  f.ask(39, {std::uint8_t(limit >> 8), std::uint8_t(limit)});
  QCOMPARE(int(f.ask(34).data[1]), 3);
  f.dev.temperature_c = 20;
  QCOMPARE(int(f.ask(34).data[1]), 1);

  f.dev.set_board_present(false);
  QCOMPARE(int(f.ask(34).data[1]), 0);
}

void TestVirtualQX5200::record_is_stored_and_returned() {
  Fixture f;
  auto r = f.ask(35);
  const Bytes lb1{'L', 'B', '1', 0, 0, 0, 0, 'A', 0x42, 0xC8, 0, 0};
  QCOMPARE(Bytes(r.data.begin() + 1, r.data.begin() + 13), lb1);
  QCOMPARE(int(r.data[37]), int('V'));
  QCOMPARE(int(r.data[47]), 100);

  Bytes written(47);
  for (int i = 0; i < 47; ++i)
    written[i] = std::uint8_t(200 - i);
  f.ask(36, written);
  r = f.ask(35);
  QCOMPARE(Bytes(r.data.begin() + 1, r.data.begin() + 48), written);
  QCOMPARE(int(r.data[48]), 0);

  f.dev.set_board_present(false);
  f.ask(36, Bytes(47, 1)); // nowhere to go
  r = f.ask(35);
  QCOMPARE(Bytes(r.data.begin() + 1, r.data.begin() + 48), Bytes(47, 0xFF));
  f.dev.set_board_present(true);
  r = f.ask(35);
  QCOMPARE(Bytes(r.data.begin() + 1, r.data.begin() + 48), written);
}

void TestVirtualQX5200::decodes_valid_words_data() {
  QTest::addColumn<std::vector<std::uint16_t>>("words");
  QTest::addColumn<int>("repeat");
  QTest::addColumn<std::vector<int>>("modes");
  QTest::addColumn<std::vector<double>>("periods_ns");
  QTest::addColumn<CodeLists>("codes");
  QTest::addColumn<std::vector<double>>("holds_ns");

  std::vector<std::uint16_t> one{1, 1, 1, 1, 0, 0xB000};
  for (auto w : hold_words(39970))
    one.push_back(w);
  QTest::newRow("one timed segment") << one << 1 << std::vector<int>{1} << std::vector<double>{200}
                                     << CodeLists{{0xB000}} << std::vector<double>{999900};

  // Two fast 100 ns ramps; holds of 999.9 us (not last) and 3.9999 ms (last).
  std::vector<std::uint16_t> two{0, 2, 0, 3, 0, 0x9000, 0x9001, 0xA000, 0xA001};
  for (auto w : hold_words(9993 * 4 + 6))
    two.push_back(w);
  for (auto w : {0, 3, 0, 0x9000, 0x9001, 0x8000, 0x8001})
    two.push_back(std::uint16_t(w));
  for (auto w : hold_words(39993 * 4 + 6 - 8))
    two.push_back(w);
  QTest::newRow("fast pulse") << two << 0 << std::vector<int>{0, 0} << std::vector<double>{50, 50}
                              << CodeLists{{0x9000, 0xA000}, {0x9000, 0x8000}}
                              << std::vector<double>{999900, 3999900};

  // A timed period code of 3 is 275 ns; a final hold count of 2 means no hold at all.
  std::vector<std::uint16_t> timed{7, 1, 1, 2, 3, 0x1000, 0x2000};
  for (auto w : hold_words(2))
    timed.push_back(w);
  timed.push_back(0xDEAD); // padding of the last block is ignored
  QTest::newRow("timed, no final hold") << timed << 7 << std::vector<int>{1} << std::vector<double>{275}
                                        << CodeLists{{0x1000, 0x2000}} << std::vector<double>{0};
}

void TestVirtualQX5200::decodes_valid_words() {
  QFETCH(std::vector<std::uint16_t>, words);
  QFETCH(int, repeat);
  QFETCH(std::vector<int>, modes);
  QFETCH(std::vector<double>, periods_ns);
  QFETCH(CodeLists, codes);
  QFETCH(std::vector<double>, holds_ns);

  const auto w = TVirtualQX5200::decode(words);
  QVERIFY2(w.valid, w.error.c_str());
  QCOMPARE(int(w.repeat_count), repeat);
  QCOMPARE(w.segments.size(), modes.size());
  long double start = 0;
  for (std::size_t s = 0; s < modes.size(); ++s) {
    const auto &seg = w.segments[s];
    QCOMPARE(int(seg.mode), modes[s]);
    QVERIFY(std::fabs(seg.period * 1e9L - periods_ns[s]) < 1e-6);
    QCOMPARE(seg.codes, codes[s]);
    QVERIFY2(std::fabs(seg.hold * 1e9L - holds_ns[s]) < 1e-6, QByteArray::number(double(seg.hold * 1e9L)));
    QVERIFY(std::fabs(seg.start - start) < 1e-15L);
    QCOMPARE(seg.last, s + 1 == modes.size());
    start += seg.codes.size() * seg.period + seg.hold;
  }
  QVERIFY(std::fabs(w.duration - start) < 1e-15L);
}

void TestVirtualQX5200::refuses_broken_words_data() {
  QTest::addColumn<std::vector<std::uint16_t>>("words");
  QTest::newRow("empty") << std::vector<std::uint16_t>{};
  QTest::newRow("no segments") << std::vector<std::uint16_t>{1, 0, 0, 0};
  QTest::newRow("header cut") << std::vector<std::uint16_t>{1, 1, 0, 3};
  QTest::newRow("samples cut") << std::vector<std::uint16_t>{1, 1, 1, 5, 0, 2, 4};
  QTest::newRow("hold cut") << std::vector<std::uint16_t>{1, 1, 1, 1, 0, 2, 0xFFFD};
  QTest::newRow("two segments announced, one sent")
      << std::vector<std::uint16_t>{1, 2, 1, 1, 0, 2, 0xFFFD, 0xFFFF};
  QTest::newRow("broken pair") << std::vector<std::uint16_t>{1, 1, 0, 1, 0, 0x9000, 0x9000, 0xFFFD, 0xFFFF};
  QTest::newRow("marker bit in timed sample") << std::vector<std::uint16_t>{1, 1, 1, 1, 0, 3, 0xFFFD, 0xFFFF};
  QTest::newRow("unknown mode") << std::vector<std::uint16_t>{1, 1, 2, 1, 0, 2, 0xFFFD, 0xFFFF};
  QTest::newRow("hold count 1") << std::vector<std::uint16_t>{1, 1, 1, 1, 0, 2, 0xFFFE, 0xFFFF};
  QTest::newRow("count far beyond the words")
      << std::vector<std::uint16_t>{1, 1, 1, 0xFFFF, 0, 2, 0xFFFD, 0xFFFF};
}

void TestVirtualQX5200::refuses_broken_words() {
  QFETCH(std::vector<std::uint16_t>, words);
  const auto w = TVirtualQX5200::decode(words);
  QVERIFY(!w.valid);
  QVERIFY(!w.error.empty());
  QVERIFY(w.segments.empty());
}

void TestVirtualQX5200::over_temperature_stops_play() {
  Fixture f;
  std::vector<std::uint16_t> words{0, 1, 0, 1, 0, 0x100, 0x101};
  for (auto w : hold_words(2))
    words.push_back(w);
  f.upload(words);
  f.ask(33);
  QCOMPARE(int(f.ask(10).data[0]), 0);
  f.dev.force_over_temperature = true;
  QCOMPARE(int(f.ask(34).data[1]), 3);
  QCOMPARE(int(f.ask(10).data[0]), 1);
  f.ask(33);
  QCOMPARE(int(f.ask(10).data[0]), 1);
}

QTEST_GUILESS_MAIN(TestVirtualQX5200)
#include "test_virtual_qx5200.moc"
