#include "LoadBoardRecord.h"
#include "QX5200_Conversions.h"

#include <QTest>

#include <limits>

class TestConversions : public QObject {
  Q_OBJECT
private slots:
  void normalized_data();
  void normalized();
  void value_data();
  void value();
  void record_creation_values();
  void record_fields_by_name_data();
  void record_fields_by_name();
};

void TestConversions::normalized_data() {
  QTest::addColumn<double>("x");
  QTest::addColumn<int>("code");
  QTest::newRow("0") << 0.0 << 32768;
  QTest::newRow("1") << 1.0 << 65400;
  QTest::newRow("-1") << -1.0 << 136;
  QTest::newRow("2 limited") << 2.0 << 65400;
  QTest::newRow("-3 limited") << -3.0 << 136;
  // Half a code above 32768: ties go to the even code.
  QTest::newRow("tie") << double(0.5L * dac_step) << 32768;
  QTest::newRow("just above tie") << double(0.51L * dac_step) << 32769;
}

void TestConversions::normalized() {
  QFETCH(double, x);
  QFETCH(int, code);
  TCalibration cal;
  cal.offset = 0;
  QCOMPARE(int(normalized_to_dac_code(x, cal)), code);
}

void TestConversions::value_data() {
  QTest::addColumn<double>("gain");
  QTest::addColumn<double>("max_value");
  QTest::addColumn<double>("v");
  QTest::addColumn<int>("code");
  QTest::newRow("7 limited to 5") << 10.0 << 5.0 << 7.0 << 49084;
  QTest::newRow("-7 limited to -5") << 10.0 << 5.0 << -7.0 << 16452;
  QTest::newRow("within") << 10.0 << 5.0 << 1.0 << 36031;
  QTest::newRow("gain below max") << 2.0 << 5.0 << 3.0 << 65400;
  QTest::newRow("zero gain") << 0.0 << 5.0 << 0.0 << 0;
  QTest::newRow("erased gain") << std::numeric_limits<double>::quiet_NaN() << 5.0 << 1.0 << 0;
}

void TestConversions::value() {
  QFETCH(double, gain);
  QFETCH(double, max_value);
  QFETCH(double, v);
  QFETCH(int, code);
  TLoadBoardRecord board;
  board.lb_gain = gain;
  board.lb_max_value = max_value;
  TCalibration cal;
  cal.offset = 0;
  QCOMPARE(int(value_to_dac_code(v, board, cal)), code);
}

void TestConversions::record_creation_values() {
  const TLoadBoardRecord r;
  QCOMPARE(r.lb_name, QStringLiteral("-----"));
  QVERIFY(r.lb_units.isEmpty());
  QCOMPARE(r.lb_sensor_units, QStringLiteral("V"));
  QCOMPARE(double(r.lb_gain), 1.0);
  QCOMPARE(double(r.lb_max_power), 1.0);
  QCOMPARE(double(r.lb_max_p2t), 0.0);
  QCOMPARE(double(r.lb_max_value), 0.0);
  // Before calibration and a record are read, every value gives code 0.
  const TCalibration cal;
  for (double v : {-10.0, 0.0, 0.5, 10.0})
    QCOMPARE(int(value_to_dac_code(v, r, cal)), 0);
}

void TestConversions::record_fields_by_name_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<QString>("text");
  QTest::addColumn<bool>("accepted");
  QTest::newRow("real") << "max_p2t"
                        << "2.5e-3" << true;
  QTest::newRow("name too long") << "name"
                                 << "12345678" << false;
  QTest::newRow("units") << "units"
                         << "A" << true;
  QTest::newRow("flag") << "return_to_zero"
                        << "1" << true;
  QTest::newRow("not a number") << "gain"
                                << "ten" << false;
  QTest::newRow("comma is not a decimal point") << "gain"
                                                << "1,5" << false;
  QTest::newRow("unknown") << "lb_gain"
                           << "1" << false;
}

void TestConversions::record_fields_by_name() {
  QFETCH(QString, name);
  QFETCH(QString, text);
  QFETCH(bool, accepted);
  TLoadBoardRecord r;
  QString reason;
  QCOMPARE(r.set_field(name, text, reason), accepted);
  QCOMPARE(reason.isEmpty(), accepted);
  if (!accepted) {
    QCOMPARE(r.lb_name, QStringLiteral("-----"));
    QCOMPARE(double(r.lb_gain), 1.0);
  } else if (name == u"max_p2t") {
    QCOMPARE(double(r.lb_max_p2t), 2.5e-3);
  } else if (name == u"return_to_zero") {
    QCOMPARE(int(r.lb_return_to_zero), 1);
  }
}

QTEST_GUILESS_MAIN(TestConversions)
#include "test_conversions.moc"
