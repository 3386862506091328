#include "TEngineeringEditUnit.h"
#include "TNumEditUnit.h"
#include "localized.h"

#include <QComboBox>
#include <QSignalSpy>
#include <QTest>

namespace {
void make_time_field(TEngineeringEdit &e) {
  e.setFirstBase(-3);
  e.setLastBase(0);
  e.setUnits(QStringLiteral("s"));
}
} // namespace

class TestEngineeringEdit : public QObject {
  Q_OBJECT
private slots:
  void prefix_list();
  void decade_choice_data();
  void decade_choice();
  void value_below_first_base_is_ignored();
  void mantissa_rounding_to_1000_carries();
  void choosing_prefix_rescales_and_notifies();
  void max_value_limits_number_field();
  void max_value_lowers_value();
  void limit_with_unrepresentable_maximum_terminates();
  void enter_in_number_field_raises_value_change();
};

void TestEngineeringEdit::prefix_list() {
  TEngineeringEdit e;
  make_time_field(e);
  QComboBox *list = e.prefix_selector();
  QCOMPARE(list->count(), 4);
  QStringList items;
  for (int i = 0; i < list->count(); ++i)
    items << list->itemText(i);
  QCOMPARE(items, (QStringList{"ns", "us", "ms", "s"}));
  e.setExponent(1);
  QCOMPARE(list->currentText(), QStringLiteral("us"));
  e.setLastBase(7); // steps beyond P add no item
  QCOMPARE(list->count(), 9);
}

void TestEngineeringEdit::decade_choice_data() {
  QTest::addColumn<double>("value");
  QTest::addColumn<QString>("text");
  QTest::addColumn<QString>("unit");
  QTest::newRow("one microsecond") << 0.000001 << "1.000"
                                   << "us";
  QTest::newRow("two seconds") << 2.0 << "2.000"
                               << "s";
  QTest::newRow("zero") << 0.0 << "0.000"
                        << "s";
  QTest::newRow("ten microseconds") << 0.00001 << "10.00"
                                    << "us";
  QTest::newRow("five hundred ns") << 0.0000005 << "500.0"
                                   << "ns";
  QTest::newRow("negative millis") << -0.0025 << "-2.500"
                                   << "ms";
}

void TestEngineeringEdit::decade_choice() {
  QFETCH(double, value);
  QFETCH(QString, text);
  QFETCH(QString, unit);
  TEngineeringEdit e;
  make_time_field(e);
  e.setValue(value);
  QCOMPARE(e.Text(), localized(text));
  QCOMPARE(e.prefix_selector()->currentText(), unit);
  QCOMPARE(e.Value(), value);
}

void TestEngineeringEdit::value_below_first_base_is_ignored() {
  TEngineeringEdit e;
  make_time_field(e);
  e.setValue(2);
  e.setValue(0.0000000001);
  QCOMPARE(e.Text(), localized(QStringLiteral("2.000")));
  QCOMPARE(e.Exponent(), 3);
}

void TestEngineeringEdit::mantissa_rounding_to_1000_carries() {
  TEngineeringEdit e;
  make_time_field(e);
  e.setValue(0.000002);
  e.setValue(999.96e-6);
  QCOMPARE(e.Text(), localized("1.000"));
  QCOMPARE(e.prefix_selector()->currentText(), QStringLiteral("ms"));
}

void TestEngineeringEdit::choosing_prefix_rescales_and_notifies() {
  TEngineeringEdit e;
  make_time_field(e);
  e.setValue(0.00001);
  QSignalSpy value_spy(&e, &TEngineeringEdit::OnValueChange);
  QSignalSpy change_spy(&e, &TEngineeringEdit::OnChange);
  QStringList order;
  connect(&e, &TEngineeringEdit::OnValueChange, [&] { order << "value"; });
  connect(&e, &TEngineeringEdit::OnChange, [&] { order << "change"; });
  emit e.prefix_selector()->activated(2);
  QCOMPARE(e.Exponent(), 2);
  QCOMPARE(e.Value(), 0.01);
  QCOMPARE(value_spy.count(), 1);
  QCOMPARE(change_spy.count(), 1);
  QCOMPARE(order, (QStringList{"value", "change"}));
}

void TestEngineeringEdit::max_value_limits_number_field() {
  TEngineeringEdit e;
  make_time_field(e);
  e.setValue(1);
  e.setMaxValue(5);
  QCOMPARE(e.number_field()->MaxValue(), 5.0);
  e.setValue(0.00001);
  QCOMPARE(e.number_field()->MaxValue(), 999.99999999);
  // The mantissa field now refuses what would exceed the limit once it holds text.
  e.setValue(2);
  e.number_field()->setCursorPosition(e.number_field()->text().size());
  QTest::keyClicks(e.number_field(), QStringLiteral("9"));
  QCOMPARE(e.Value(), 2.0);
}

void TestEngineeringEdit::max_value_lowers_value() {
  TEngineeringEdit e;
  make_time_field(e);
  e.setValue(0.5);
  QSignalSpy value_spy(&e, &TEngineeringEdit::OnValueChange);
  e.setMaxValue(0.2);
  QCOMPARE(e.Value(), 0.2);
  QCOMPARE(value_spy.count(), 0);
}

void TestEngineeringEdit::limit_with_unrepresentable_maximum_terminates() {
  TEngineeringEdit e;
  make_time_field(e);
  e.setMaxValue(0.3);
  e.setValue(0.9);
  QVERIFY(e.Value() <= 0.3 + 1e-12);
  QCOMPARE(e.Text(), localized(QStringLiteral("300.0")));
}

void TestEngineeringEdit::enter_in_number_field_raises_value_change() {
  TEngineeringEdit e;
  make_time_field(e);
  QSignalSpy spy(&e, &TEngineeringEdit::OnValueChange);
  QTest::keyClick(e.number_field(), Qt::Key_Return);
  QCOMPARE(spy.count(), 1);
}

QTEST_MAIN(TestEngineeringEdit)
#include "test_engineering_edit.moc"
