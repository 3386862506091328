#include "DeviceNumbers.h"

#include <QRandomGenerator>
#include <QTest>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

QByteArray encoded(long double x) {
  std::uint8_t bytes[4];
  ieee_single_encode(x, bytes);
  return QByteArray(reinterpret_cast<const char *>(bytes), 4);
}

const std::uint8_t *raw(const QByteArray &bytes) {
  return reinterpret_cast<const std::uint8_t *>(bytes.constData());
}

} // namespace

class TestDeviceNumbers : public QObject {
  Q_OBJECT
private slots:
  void words() {
    std::uint8_t bytes[2];
    device_word_to_bytes(0x1234, bytes);
    QCOMPARE(bytes[0], 0x12);
    QCOMPARE(bytes[1], 0x34);
    const std::uint8_t in[2] = {0xAB, 0xCD};
    QCOMPARE(device_word_from_bytes(in), 43981);
  }

  void encode_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("1") << 1.0 << QByteArray::fromHex("3F800000");
    QTest::newRow("-2.5") << -2.5 << QByteArray::fromHex("C0200000");
    QTest::newRow("150") << 150.0 << QByteArray::fromHex("43160000");
    QTest::newRow("0") << 0.0 << QByteArray::fromHex("00000000");
    QTest::newRow("-0") << -0.0 << QByteArray::fromHex("00000000");
    QTest::newRow("0.1 truncated") << 0.1 << QByteArray::fromHex("3DCCCCCC");
    QTest::newRow("-0.1 truncated") << -0.1 << QByteArray::fromHex("BDCCCCCC");
    QTest::newRow("1/3 truncated") << 1.0 / 3.0 << QByteArray::fromHex("3EAAAAAA");
    QTest::newRow("smallest normal") << 0x1p-126 << QByteArray::fromHex("00800000");
    QTest::newRow("below normal") << 0x1p-127 << QByteArray::fromHex("00000000");
    QTest::newRow("largest below 2^128") << 0x1.fffffffp127 << QByteArray::fromHex("7F7FFFFF");
    QTest::newRow("2^128 saturates") << 0x1p128 << QByteArray::fromHex("7F7FFFFF");
    QTest::newRow("-inf saturates") << -std::numeric_limits<double>::infinity()
                                    << QByteArray::fromHex("FF7FFFFF");
    QTest::newRow("nan") << std::numeric_limits<double>::quiet_NaN() << QByteArray::fromHex("00000000");
  }
  void encode() {
    QFETCH(double, value);
    QFETCH(QByteArray, bytes);
    QCOMPARE(encoded(value).toHex(), bytes.toHex());
  }

  void decode_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("exponent_first");
    QTest::addColumn<double>("value");
    QTest::newRow("exp 1") << QByteArray::fromHex("7F000000") << true << 1.0;
    QTest::newRow("exp 2") << QByteArray::fromHex("80000000") << true << 2.0;
    QTest::newRow("exp -1") << QByteArray::fromHex("7F800000") << true << -1.0;
    QTest::newRow("exp 5") << QByteArray::fromHex("81200000") << true << 5.0;
    QTest::newRow("exp 0") << QByteArray::fromHex("00000000") << true << 0.0;
    QTest::newRow("exp 255 is a number") << QByteArray::fromHex("FF000000") << true << 0x1p128;
    QTest::newRow("ieee 5") << QByteArray::fromHex("40A00000") << false << 5.0;
    QTest::newRow("ieee 0") << QByteArray::fromHex("00000000") << false << 0.0;
    QTest::newRow("ieee -2.5") << QByteArray::fromHex("C0200000") << false << -2.5;
    QTest::newRow("ieee sign only") << QByteArray::fromHex("80000000") << false << -0x1p-127;
    QTest::newRow("ieee 7F800000 is a number") << QByteArray::fromHex("7F800000") << false << 0x1p128;
  }
  void decode() {
    QFETCH(QByteArray, bytes);
    QFETCH(bool, exponent_first);
    QFETCH(double, value);
    const long double got = exponent_first ? exp_float_decode(raw(bytes)) : ieee_single_decode(raw(bytes));
    QCOMPARE(static_cast<double>(got), value);
  }

  // Every normal single survives decode then encode, and matches the machine's own float.
  void round_trip_matches_machine_float() {
    QRandomGenerator rng(4711);
    for (int i = 0; i < 20000; ++i) {
      std::uint32_t pattern = rng.generate();
      const std::uint32_t exponent = (pattern >> 23) & 0xFF;
      if (exponent == 0 || exponent == 255)
        continue;
      const std::uint8_t bytes[4] = {std::uint8_t(pattern >> 24), std::uint8_t(pattern >> 16),
                                     std::uint8_t(pattern >> 8), std::uint8_t(pattern)};
      const long double value = ieee_single_decode(bytes);
      QCOMPARE(static_cast<float>(value), std::bit_cast<float>(pattern));
      std::uint8_t again[4];
      ieee_single_encode(value, again);
      QVERIFY2(std::memcmp(bytes, again, 4) == 0, qPrintable(QString::number(pattern, 16)));
      // Exponent-first is the same number with the sign moved.
      const std::uint8_t swapped[4] = {std::uint8_t(exponent),
                                       std::uint8_t((pattern >> 31) << 7 | ((pattern >> 16) & 0x7F)),
                                       bytes[2], bytes[3]};
      QCOMPARE(exp_float_decode(swapped), value);
    }
  }
};

QTEST_GUILESS_MAIN(TestDeviceNumbers)
#include "test_device_numbers.moc"
