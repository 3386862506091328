#include "TNumEditUnit.h"
#include "localized.h"

#include <QSignalSpy>
#include <QTest>

namespace {

// The repeat count field of the main window.
void make_repeat_count(TNumEdit &e) {
  e.setDataType(tInteger);
  e.setDigitCount(5);
  e.setMaxDecimalPos(3);
  e.setAllowLessThanOne(true);
  e.setAllowNegative(false);
  e.setMaxValue(65535);
  e.setMaxLength(6);
}

// The number field of an engineering edit.
void make_mantissa(TNumEdit &e) {
  e.setDataType(tReal);
  e.setDigitCount(4);
  e.setMaxDecimalPos(4);
  e.setAllowLessThanOne(true);
  e.setAllowNegative(true);
  e.setMaxValue(1000);
}

} // namespace

class TestNumEdit : public QObject {
  Q_OBJECT
private slots:
  void repeat_count_typing();
  void repeat_count_enter_raises_value_change();
  void mantissa_checks_data();
  void mantissa_checks();
  void typing_point_inserts_locale_separator();
  void first_digit_skips_magnitude_test();
  void value_writes();
  void value_write_refused_keeps_text();
  void backspace_with_selection_always_deletes();
  void selection_replaced_only_when_valid();
  void value_of_partial_or_pasted_text();
  void general_field_accepts_exponent_entry();
  void hex_field();
};

void TestNumEdit::repeat_count_typing() {
  TNumEdit e;
  make_repeat_count(e);
  QTest::keyClicks(&e, QStringLiteral("123456"));
  QCOMPARE(e.text(), QStringLiteral("12345"));
  e.clear();
  QTest::keyClicks(&e, QStringLiteral("70000"));
  QCOMPARE(e.text(), QStringLiteral("7000"));
  e.clear();
  QTest::keyClicks(&e, QStringLiteral("-5a "));
  QCOMPARE(e.text(), QStringLiteral("5"));
  QCOMPARE(e.Value(), 5.0);
}

void TestNumEdit::repeat_count_enter_raises_value_change() {
  TNumEdit e;
  make_repeat_count(e);
  QSignalSpy spy(&e, &TNumEdit::OnValueChange);
  QTest::keyClicks(&e, QStringLiteral("12"));
  QCOMPARE(spy.count(), 0);
  QTest::keyClick(&e, Qt::Key_Return);
  QCOMPARE(spy.count(), 1);
  QTest::keyClick(&e, Qt::Key_Enter);
  QCOMPARE(spy.count(), 2);
  QCOMPARE(e.text(), QStringLiteral("12"));
}

void TestNumEdit::mantissa_checks_data() {
  QTest::addColumn<QString>("candidate");
  QTest::addColumn<bool>("accepted");
  QTest::newRow("100.0") << "100.0" << true;
  QTest::newRow("0.005") << "0.005" << true;
  QTest::newRow("-0.5") << "-0.5" << true;
  QTest::newRow("999.9") << "999.9" << true;
  QTest::newRow("1000") << "1000" << false;
  QTest::newRow("1000.") << "1000." << false;
  QTest::newRow("00.5") << "00.5" << false;
  QTest::newRow("1.2.3") << "1.2.3" << false;
  QTest::newRow("-00.5") << "-00.5" << false;
  QTest::newRow("leading point") << ".5" << false;
  QTest::newRow("minus inside") << "1-2" << false;
  QTest::newRow("too many digits") << "1.2345" << false;
  QTest::newRow("backspace char") << "1\b" << false;
}

void TestNumEdit::mantissa_checks() {
  QFETCH(QString, candidate);
  QFETCH(bool, accepted);
  TNumEdit e;
  make_mantissa(e);
  e.setText(QStringLiteral("1"));
  QCOMPARE(e.check_text(localized(candidate)), accepted);
}

void TestNumEdit::typing_point_inserts_locale_separator() {
  TNumEdit e;
  make_mantissa(e);
  QTest::keyClicks(&e, QStringLiteral("12.5"));
  QCOMPARE(e.text(), localized(QStringLiteral("12.5")));
  QCOMPARE(e.Value(), 12.5);
  e.clear();
  QTest::keyClicks(&e, QStringLiteral("1000"));
  QCOMPARE(e.text(), QStringLiteral("100"));
}

void TestNumEdit::first_digit_skips_magnitude_test() {
  TNumEdit e;
  make_repeat_count(e);
  e.setMaxValue(3);
  QTest::keyClicks(&e, QStringLiteral("9"));
  QCOMPARE(e.text(), QStringLiteral("9"));
  QTest::keyClicks(&e, QStringLiteral("1"));
  QCOMPARE(e.text(), QStringLiteral("9"));
}

void TestNumEdit::value_writes() {
  TNumEdit e;
  make_mantissa(e);
  e.setText(QStringLiteral("1"));
  const std::pair<double, const char *> cases[] = {{12.346, "12.35"}, {10, "10.00"}, {100, "100.0"},
                                                   {1, "1.000"},      {0, "0.000"},  {-0.5, "-0.500"}};
  for (const auto &[v, text] : cases) {
    e.setValue(v);
    QCOMPARE(e.text(), localized(QString::fromLatin1(text)));
  }
  // A hardware dialog sensor field shows values its typing rules cannot hold; refused ones keep
  // the text before them.
  e.setDigitCount(5);
  e.setMaxDecimalPos(3);
  e.setMaxLength(6);
  e.setMaxValue(1000000);
  const std::pair<double, const char *> wide[] = {{123456, "123456"},   {1e6, "1E6"},
                                                  {0.000012, "1.2E-5"}, {9.99996, "10.000"},
                                                  {-123456, "10.000"},  {2e6, "10.000"}};
  for (const auto &[v, text] : wide) {
    e.setValue(v);
    QCOMPARE(e.text(), localized(QString::fromLatin1(text)));
  }
  TNumEdit count;
  make_repeat_count(count);
  count.setValue(70000);
  QCOMPARE(count.text(), QStringLiteral("65535"));
  count.setValue(2.5);
  QCOMPARE(count.text(), QStringLiteral("2"));
}

void TestNumEdit::value_write_refused_keeps_text() {
  TNumEdit e;
  make_mantissa(e);
  e.setText(localized(QStringLiteral("5.000")));
  e.setValue(1500); // above MaxValue: refused, not clamped
  QCOMPARE(e.text(), localized(QStringLiteral("5.000")));
}

void TestNumEdit::backspace_with_selection_always_deletes() {
  TNumEdit e;
  make_mantissa(e);
  e.setText(localized(QStringLiteral("0.5")));
  // Leaves "05", which the check refuses; Backspace deletes all the same.
  e.setSelection(1, 1);
  QTest::keyClick(&e, Qt::Key_Backspace);
  QCOMPARE(e.text(), QStringLiteral("05"));
  QCOMPARE(e.cursorPosition(), 1);
  e.setCursorPosition(2);
  QTest::keyClick(&e, Qt::Key_Backspace);
  QCOMPARE(e.text(), QStringLiteral("0"));
}

void TestNumEdit::selection_replaced_only_when_valid() {
  TNumEdit e;
  make_mantissa(e);
  e.setText(localized(QStringLiteral("12.5")));
  e.setSelection(0, 2);
  QTest::keyClicks(&e, QStringLiteral("7"));
  QCOMPARE(e.text(), localized(QStringLiteral("7.5")));
  QCOMPARE(e.cursorPosition(), 1);
  e.setSelection(2, 1);
  QTest::keyClicks(&e, QStringLiteral("."));
  QCOMPARE(e.text(), localized(QStringLiteral("7.5")));
}

void TestNumEdit::value_of_partial_or_pasted_text() {
  TNumEdit e;
  make_mantissa(e);
  for (const char *t : {"", "-"}) {
    e.setText(QString::fromLatin1(t));
    QCOMPARE(e.Value(), 0.0);
  }
  e.setText(localized(QStringLiteral("3.5abc")));
  QCOMPARE(e.Value(), 3.5);
  e.setText(QStringLiteral("garbage"));
  QCOMPARE(e.Value(), 0.0);
  e.setText(QStringLiteral("1e999999"));
  QCOMPARE(e.Value(), 0.0);
  e.setDataType(tInteger);
  e.setText(QStringLiteral("-42x"));
  QCOMPARE(e.Value(), -42.0);
  for (const TNumEditType type : {tInteger, tHex}) {
    e.setDataType(type);
    e.setText(QString(400, u'9'));
    QCOMPARE(e.Value(), 0.0);
  }
}

void TestNumEdit::general_field_accepts_exponent_entry() {
  TNumEdit e;
  e.setDataType(tGeneral);
  e.setDigitCount(8);
  e.setAllowNegative(true);
  e.setAllowLessThanOne(true);
  e.setMaxValue(100000000);
  QTest::keyClicks(&e, QStringLiteral("1.5E-6x"));
  QCOMPARE(e.text(), localized(QStringLiteral("1.5E-6")));
  QCOMPARE(e.Value(), 1.5e-6);
  QTest::keyClicks(&e, QStringLiteral("."));
  QCOMPARE(e.text(), localized(QStringLiteral("1.5E-6")));
  e.setValue(0.000012345);
  QCOMPARE(e.text(), localized(QStringLiteral("1.2345E-5")));
  e.setValue(2e9); // above MaxValue: refused
  QCOMPARE(e.text(), localized(QStringLiteral("1.2345E-5")));
}

void TestNumEdit::hex_field() {
  TNumEdit e;
  e.setDataType(tHex);
  e.setDigitCount(4);
  e.setMaxValue(0xFFFF);
  QTest::keyClicks(&e, QStringLiteral("1aG-F2"));
  QCOMPARE(e.text(), QStringLiteral("1aF2"));
  QCOMPARE(e.Value(), double(0x1AF2));
  e.setValue(255);
  QCOMPARE(e.text(), QStringLiteral("00FF"));
  // A value beyond 64 bits has no hexadecimal text: the field keeps what it had.
  e.setMaxValue(1e300);
  e.setValue(5e24);
  QCOMPARE(e.text(), QStringLiteral("00FF"));
}

QTEST_MAIN(TestNumEdit)
#include "test_numedit.moc"
