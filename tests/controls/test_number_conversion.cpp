#include "NumberConversion.h"
#include "localized.h"

#include <QTest>

#include <cmath>

class TestNumberConversion : public QObject {
  Q_OBJECT
private slots:
  void engineering_data();
  void engineering();
  void engineering_time_data();
  void engineering_time();
  void significant_data();
  void significant();
  void significant_ignores_locale();
  void fixed_rounds_half_away_from_zero();
  void parse_accepts_locale_separator_only();
  void parse_refuses_special_forms();
  void parse_is_extended_precision();
};

void TestNumberConversion::engineering_data() {
  QTest::addColumn<double>("value");
  QTest::addColumn<QString>("expected");
  QTest::newRow("zero has no prefix") << 0.0 << "0 J";
  QTest::newRow("milli") << 0.0123 << "12.3 mJ";
  QTest::newRow("negative") << -0.0123 << "-12.3 mJ";
  QTest::newRow("three integer digits") << 0.5 << "500 mJ";
  // RoundDigit -4 leaves 0.1 mJ of resolution: one decimal at the milli prefix.
  QTest::newRow("power of ten stays in its decade") << 0.001 << "1.0 mJ";
  QTest::newRow("one") << 1.0 << "1.00 J";
  QTest::newRow("rounded away") << 0.00004 << "0 uJ";
  QTest::newRow("below smallest prefix") << 0.0000004 << "0 uJ";
  QTest::newRow("carry into next prefix") << 0.9996 << "1.00 J";
  QTest::newRow("carry into kilo") << 999.6 << "1.00 kJ";
  QTest::newRow("above max shows dashes") << 2000000.0 << "--- MJ";
  QTest::newRow("kilo") << 12345.0 << "12.3 kJ";
  QTest::newRow("half away from zero") << 0.1235 << "124 mJ";
  QTest::newRow("carry keeps three digits") << 9.995 << "10.0 J";
  QTest::newRow("negative rounded away has no sign") << -0.00004 << "0 uJ";
}

void TestNumberConversion::engineering() {
  QFETCH(double, value);
  QFETCH(QString, expected);
  QCOMPARE(FloatToEngineering(3, -6, -4, value, 1000000, QStringLiteral("J")), localized(expected));
}

void TestNumberConversion::engineering_time_data() {
  QTest::addColumn<double>("value");
  QTest::addColumn<QString>("expected");
  QTest::newRow("zero") << 0.0 << "0 s";
  QTest::newRow("micro") << 0.000001 << "1.00 us";
  // RoundDigit -9: whole nanoseconds.
  QTest::newRow("nano") << 0.0000000123 << "12 ns";
  QTest::newRow("below a nanosecond rounds to zero") << 0.0000000004 << "0 ns";
}

void TestNumberConversion::engineering_time() {
  QFETCH(double, value);
  QFETCH(QString, expected);
  QCOMPARE(FloatToEngineering(3, -9, -9, value, 1000000, QStringLiteral("s")), localized(expected));
}

void TestNumberConversion::significant_data() {
  QTest::addColumn<int>("digits");
  QTest::addColumn<double>("value");
  QTest::addColumn<QString>("expected");
  QTest::newRow("small") << 2 << 0.000123 << "1.2E-4";
  QTest::newRow("large") << 2 << 123456.0 << "1.2E5";
  QTest::newRow("plain") << 2 << 5.0 << "5.0";
  QTest::newRow("digits 0 means 2") << 0 << 5.0 << "5.0";
  QTest::newRow("tie to even") << 4 << 12.125 << "12.12";
  QTest::newRow("tie to even upwards") << 4 << 12.135 << "12.14";
  QTest::newRow("below one") << 4 << 0.0123 << "0.012";
  QTest::newRow("negative") << 3 << -2.5 << "-2.50";
  QTest::newRow("zero") << 3 << 0.0 << "0.00";
  QTest::newRow("negative large") << 2 << -123456.0 << "-1.2E5";
}

void TestNumberConversion::significant() {
  QFETCH(int, digits);
  QFETCH(double, value);
  QFETCH(QString, expected);
  QCOMPARE(FloatToSignificant(digits, value), expected);
}

void TestNumberConversion::significant_ignores_locale() {
  QVERIFY(FloatToSignificant(3, 1.5).contains(u'.'));
}

void TestNumberConversion::fixed_rounds_half_away_from_zero() {
  QCOMPARE(float_to_fixed(2.5L, 1, 0, u'.'), QStringLiteral("3"));
  QCOMPARE(float_to_fixed(-2.5L, 1, 0, u'.'), QStringLiteral("-3"));
  QCOMPARE(float_to_fixed(0.125L, 2, 3, u'.'), QStringLiteral("0.130"));
  QCOMPARE(float_to_fixed(12.346L, 4, 4, u'.'), QStringLiteral("12.3500"));
  QCOMPARE(float_to_fixed(999.6L, 3, 0, u'.'), QStringLiteral("1.00E+003"));
  QCOMPARE(float_to_fixed(-0.0001L, 2, 2, u'.'), QStringLiteral("0.00"));
  // Rounded once where the digits or the decimals end, whichever is coarser; never cut.
  QCOMPARE(float_to_fixed(9.6L, 2, 0, u'.'), QStringLiteral("10"));
  QCOMPARE(float_to_fixed(36.375L, 5, 2, u'.'), QStringLiteral("36.38"));
  QCOMPARE(float_to_fixed(99.5L, 3, 0, u'.'), QStringLiteral("100"));
  QCOMPARE(float_to_fixed(0.12345678L, 8, 7, u'.'), QStringLiteral("0.1234568"));
  QCOMPARE(float_to_fixed(0.0L, 3, 2, u','), QStringLiteral("0,00"));
}

void TestNumberConversion::parse_accepts_locale_separator_only() {
  const QChar sep = locale_decimal_separator();
  long double v = 0;
  QVERIFY(text_to_real(QStringLiteral(" 1%1").arg(sep) + QStringLiteral("5e-3 "), v));
  QCOMPARE(static_cast<double>(v), 0.0015);
  QVERIFY(text_to_real(QStringLiteral("-7"), v));
  QCOMPARE(static_cast<double>(v), -7.0);
  QVERIFY(text_to_real(QStringLiteral("5%1").arg(sep), v));
  QCOMPARE(static_cast<double>(v), 5.0);
  const QChar other = sep == u'.' ? u',' : u'.';
  QVERIFY(!text_to_real(QStringLiteral("1%1").arg(other) + QStringLiteral("5"), v));
}

void TestNumberConversion::parse_refuses_special_forms() {
  long double v = 42;
  for (const char *bad : {"", " ", "inf", "-inf", "nan", "0x1p3", "1e", "1e+", "e5", "1 2", "--1", "1e99999",
                          "+", "-", "1.5.5"}) {
    QVERIFY2(!text_to_real(localized(QString::fromLatin1(bad)), v), bad);
  }
  QCOMPARE(static_cast<double>(v), 42.0);
  QVERIFY(text_to_real(QStringLiteral("1e-99999"), v));
  QCOMPARE(static_cast<double>(v), 0.0);
}

void TestNumberConversion::parse_is_extended_precision() {
  long double v = 0;
  QVERIFY(text_to_real(QStringLiteral("1e-7"), v));
  QCOMPARE(v, 1e-7L);
  QVERIFY(v != static_cast<long double>(1e-7));
}

QTEST_GUILESS_MAIN(TestNumberConversion)
#include "test_number_conversion.moc"
