#include "LoadBoardRecord.h"
#include "QX5200_Driver.h"
#include "QX5200_Waveform.h"
#include "QX5200_unit.h"
#include "TEngineeringEditUnit.h"
#include "TNumEditUnit.h"
#include "TPulsePage.h"
#include "TQGridModel.h"
#include "TQGridUnit.h"
#include "localized.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>

#include <cmath>
#include <vector>

namespace {

struct Page {
  TQGridModel table{3, 21};
  TPulsePage page{&table};
};

double cell_number(const TQGridModel &table, int col, int row) {
  long double v = 0;
  if (!text_to_real(table.cell(col, row), v))
    return std::nan("");
  return static_cast<double>(v);
}

QStringList prefix_items(const TEngineeringEdit *e) {
  QStringList items;
  for (int i = 0; i < e->prefix_selector()->count(); ++i)
    items << e->prefix_selector()->itemText(i);
  return items;
}

// Types `text` into a field as the user does, then presses Enter.
void type_value(TEngineeringEdit *e, const QString &text) {
  TNumEdit *field = e->number_field();
  field->selectAll();
  QTest::keyClick(field, Qt::Key_Delete);
  QTest::keyClicks(field, text);
  QTest::keyClick(field, Qt::Key_Return);
}

std::vector<TWavePoint> points_at_whole_seconds(int count) {
  std::vector<TWavePoint> points;
  for (int i = 0; i < count; ++i)
    points.push_back({static_cast<long double>(i), 0.5L * (i + 1)});
  return points;
}

} // namespace

class TestPulsePage : public QObject {
  Q_OBJECT
private slots:
  void fields_start_as_laid_out_data();
  void fields_start_as_laid_out();
  void update_data_writes_the_start_pulse();
  void short_typed_duration_is_raised_before_writing();
  void number_text_data();
  void number_text();
  void fields_filled_back_from_nine_points_only_data();
  void fields_filled_back_from_nine_points_only();
  void fill_back_from_the_waveform_engine();
  void board_limits_apply_on_the_next_change();
  void damaged_picture_leaves_the_page_working_data();
  void damaged_picture_leaves_the_page_working();
  void main_window_hosts_the_page();
};

void TestPulsePage::fields_start_as_laid_out_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<QString>("caption");
  QTest::addColumn<QStringList>("prefixes");
  QTest::addColumn<QString>("text");
  QTest::addColumn<double>("value");
  QTest::addColumn<double>("max");
  const QStringList s{"ns", "us", "ms", "s"};
  const QStringList a{"mA", "A"};
  QTest::newRow("T1") << "ee_pulse_t1"
                      << "T1" << s << "10.00" << 0.00001 << 5.0;
  QTest::newRow("T2") << "ee_pulse_t2"
                      << "T2" << s << "100.0" << 0.0001 << 5.0;
  QTest::newRow("T3") << "ee_pulse_t3"
                      << "T3" << s << "1.000" << 0.000001 << 5.0;
  QTest::newRow("T4") << "ee_pulse_t4"
                      << "T4" << s << "100.0" << 0.0001 << 5.0;
  QTest::newRow("T5") << "ee_pulse_t5"
                      << "T5" << s << "1.000" << 0.000001 << 5.0;
  QTest::newRow("T6") << "ee_pulse_t6"
                      << "T6" << s << "100.0" << 0.0001 << 5.0;
  QTest::newRow("T7") << "ee_pulse_t7"
                      << "T7" << s << "10.00" << 0.00001 << 5.0;
  QTest::newRow("T8") << "ee_pulse_t8"
                      << "T8" << s << "100.0" << 0.0001 << 5.0;
  QTest::newRow("Y1") << "ee_pulse_y1"
                      << "Y1" << a << "1.000" << 1.0 << 100.0;
  QTest::newRow("Y2") << "ee_pulse_y2"
                      << "Y2" << a << "10.00" << 10.0 << 100.0;
  QTest::newRow("Y3") << "ee_pulse_y3"
                      << "Y3" << a << "1.000" << 1.0 << 100.0;
}

void TestPulsePage::fields_start_as_laid_out() {
  QFETCH(QString, name);
  QFETCH(QString, caption);
  QFETCH(QStringList, prefixes);
  QFETCH(QString, text);
  QFETCH(double, value);
  QFETCH(double, max);
  Page p;
  auto *e = p.page.findChild<TEngineeringEdit *>(name);
  QVERIFY(e);
  QCOMPARE(e->Caption(), caption);
  QCOMPARE(prefix_items(e), prefixes);
  // Both kinds start on their second prefix: us for times, the plain unit for levels.
  QCOMPARE(e->Exponent(), 1);
  QCOMPARE(e->prefix_selector()->currentIndex(), 1);
  QCOMPARE(e->Text(), localized(text));
  QVERIFY(std::fabs(e->Value() - value) <= 1e-12 * value);
  QCOMPARE(e->MaxValue(), max);
  QVERIFY(!e->AllowNegative());
  QVERIFY(e->AllowLessThanOne());
  QVERIFY(e->Enabled());
  QVERIFY(e->ShowCaption());
}

void TestPulsePage::update_data_writes_the_start_pulse() {
  Page p;
  p.table.set_cell(1, 15, QStringLiteral("stale"));
  p.table.set_changed(false);
  QSignalSpy update(&p.page, &TPulsePage::UpdateWaveform);
  QTest::mouseClick(p.page.Button1, Qt::LeftButton);
  QCOMPARE(update.count(), 1);
  QVERIFY(p.table.changed());
  QCOMPARE(p.table.row_count(), 21);
  QVERIFY(p.table.cell(1, 15).isEmpty());

  const double times_us[9] = {0, 10, 110, 111, 211, 212, 312, 322, 422};
  const double levels[9] = {0, 1, 1, 10, 10, 1, 1, 0, 0};
  const char *time_texts[9] = {"0",        "0.00001",  "0.00011",  "0.000111", "0.000211",
                               "0.000212", "0.000312", "0.000322", "0.000422"};
  for (int row = 1; row <= 9; ++row) {
    const double t = times_us[row - 1] * 1e-6;
    QCOMPARE(p.table.cell(1, row), localized(QString::fromLatin1(time_texts[row - 1])));
    QVERIFY2(std::fabs(cell_number(p.table, 1, row) - t) <= 1e-15, qPrintable(p.table.cell(1, row)));
    QCOMPARE(cell_number(p.table, 2, row), levels[row - 1]);
  }
  QVERIFY(p.table.cell(1, 10).isEmpty());
  QVERIFY(p.table.cell(2, 10).isEmpty());
}

void TestPulsePage::short_typed_duration_is_raised_before_writing() {
  Page p;
  QSignalSpy update(&p.page, &TPulsePage::UpdateWaveform);
  p.page.ee_pulse_t3->setExponent(0); // ns
  type_value(p.page.ee_pulse_t3, QStringLiteral("100"));
  QCOMPARE(update.count(), 1);
  QCOMPARE(p.page.ee_pulse_t3->Text(), localized(QStringLiteral("500.0")));
  QCOMPARE(p.page.ee_pulse_t3->prefix_selector()->currentText(), QStringLiteral("ns"));
  // Row 4 ends the ramp T3: 10 us + 100 us + 0.5 us.
  QCOMPARE(p.table.cell(1, 4), localized(QStringLiteral("0.0001105")));
  QCOMPARE(p.table.cell(1, 9), localized(QStringLiteral("0.0004215")));
  // The other durations were already long enough and are left alone.
  QCOMPARE(p.page.ee_pulse_t5->Text(), localized(QStringLiteral("1.000")));
}

void TestPulsePage::number_text_data() {
  QTest::addColumn<double>("value");
  QTest::addColumn<QString>("text");
  QTest::newRow("zero") << 0.0 << "0";
  QTest::newRow("integer") << 10.0 << "10";
  QTest::newRow("fraction") << 1.5 << "1.5";
  QTest::newRow("0.0001 plain") << 0.0001 << "0.0001";
  QTest::newRow("0.00001 plain") << 0.00001 << "0.00001";
  QTest::newRow("0.0000123 plain") << 0.0000123 << "0.0000123";
  QTest::newRow("negative plain") << -0.00005 << "-0.00005";
  QTest::newRow("below 0.00001") << 0.0000099 << "0.0000099";
  QTest::newRow("0.5 us") << 0.0000005 << "0.0000005";
  QTest::newRow("1.25 ns") << -1.25e-9 << "-0.00000000125";
  QTest::newRow("sum rounded to 15 digits") << 0.1 + 0.2 << "0.3";
  QTest::newRow("15 digits") << 123456789012345.0 << "123456789012345";
  QTest::newRow("16 digits") << 1234567890123456.0 << "1234567890123460";
}

void TestPulsePage::number_text() {
  QFETCH(double, value);
  QFETCH(QString, text);
  const QString written = pulse_number_text(value, locale_decimal_separator());
  QCOMPARE(written, localized(text));
  long double back = 0;
  QVERIFY(text_to_real(written, back));
  QVERIFY(std::fabs(static_cast<double>(back) - value) <= 1e-14 * std::fabs(value));
}

void TestPulsePage::fields_filled_back_from_nine_points_only_data() {
  QTest::addColumn<int>("count");
  QTest::newRow("eight points") << 8;
  QTest::newRow("nine points") << 9;
  QTest::newRow("ten points") << 10;
}

void TestPulsePage::fields_filled_back_from_nine_points_only() {
  QFETCH(int, count);
  Page p;
  p.table.set_cell(1, 1, QStringLiteral("kept"));
  p.table.set_changed(false);
  QSignalSpy update(&p.page, &TPulsePage::UpdateWaveform);
  QStringList before;
  for (TEngineeringEdit *e : p.page.durations())
    before << e->Text() + e->prefix_selector()->currentText();
  for (TEngineeringEdit *e : p.page.levels())
    before << e->Text() + e->prefix_selector()->currentText();

  const std::vector<TWavePoint> points = points_at_whole_seconds(count);
  QCOMPARE(p.page.set_from_points(points), count == 9);

  // Setting the fields is no value change: the table is not rewritten.
  QCOMPARE(update.count(), 0);
  QCOMPARE(p.table.cell(1, 1), QStringLiteral("kept"));
  QVERIFY(!p.table.changed());
  if (count != 9) {
    QStringList after;
    for (TEngineeringEdit *e : p.page.durations())
      after << e->Text() + e->prefix_selector()->currentText();
    for (TEngineeringEdit *e : p.page.levels())
      after << e->Text() + e->prefix_selector()->currentText();
    QCOMPARE(after, before);
    return;
  }
  for (TEngineeringEdit *e : p.page.durations()) {
    QCOMPARE(e->Value(), 1.0);
    QCOMPARE(e->prefix_selector()->currentText(), QStringLiteral("s"));
  }
  // Levels of points 1, 3 and 5: 1, 2 and 3.
  QCOMPARE(p.page.ee_pulse_y1->Value(), 1.0);
  QCOMPARE(p.page.ee_pulse_y2->Value(), 2.0);
  QCOMPARE(p.page.ee_pulse_y3->Value(), 3.0);
}

void TestPulsePage::fill_back_from_the_waveform_engine() {
  Page p;
  TQX5200Waveform waveform;
  // Durations 2 us, 30 us, 500 us, 1.5 ms, 1 us, 2 ms, 10 us, 457 us; the untouched points carry
  // other levels.
  const long double t[9] = {0, 2e-6L, 32e-6L, 532e-6L, 2.032e-3L, 2.033e-3L, 4.033e-3L, 4.043e-3L, 4.5e-3L};
  const long double y[9] = {9, 0.25L, 7, 40, 7, 0.005L, 7, 7, 7};
  for (int i = 0; i < 9; ++i)
    waveform.add_point(t[i], y[i]);
  QVERIFY(p.page.set_from_waveform(waveform));
  QCOMPARE(p.page.ee_pulse_t1->Text(), localized(QStringLiteral("2.000")));
  QCOMPARE(p.page.ee_pulse_t2->Text(), localized(QStringLiteral("30.00")));
  QCOMPARE(p.page.ee_pulse_t3->Text(), localized(QStringLiteral("500.0")));
  QCOMPARE(p.page.ee_pulse_t3->prefix_selector()->currentText(), QStringLiteral("us"));
  QCOMPARE(p.page.ee_pulse_t4->Text(), localized(QStringLiteral("1.500")));
  QCOMPARE(p.page.ee_pulse_t4->prefix_selector()->currentText(), QStringLiteral("ms"));
  QCOMPARE(p.page.ee_pulse_t6->Text(), localized(QStringLiteral("2.000")));
  QCOMPARE(p.page.ee_pulse_t8->Text(), localized(QStringLiteral("457.0")));
  QCOMPARE(p.page.ee_pulse_y1->Text(), localized(QStringLiteral("250.0")));
  QCOMPARE(p.page.ee_pulse_y1->prefix_selector()->currentText(), QStringLiteral("mA"));
  QCOMPARE(p.page.ee_pulse_y2->Value(), 40.0);
  QCOMPARE(p.page.ee_pulse_y3->Text(), localized(QStringLiteral("5.000")));
  QCOMPARE(p.page.ee_pulse_y3->prefix_selector()->currentText(), QStringLiteral("mA"));

  // Times out of order and a negative level (each in another decade than the field shows):
  // those fields keep what they showed.
  TQX5200Waveform backwards;
  const long double tb[9] = {0, 1.2e-3L, 0.1e-3L, 0.6e-3L, 0.7e-3L, 0.8e-3L, 0.9e-3L, 1e-3L, 1.1e-3L};
  for (int i = 0; i < 9; ++i)
    backwards.add_point(tb[i], i == 3 ? -0.002L : 3);
  QVERIFY(p.page.set_from_waveform(backwards));
  QCOMPARE(p.page.ee_pulse_t1->Text(), localized(QStringLiteral("1.200")));
  QCOMPARE(p.page.ee_pulse_t1->prefix_selector()->currentText(), QStringLiteral("ms"));
  QCOMPARE(p.page.ee_pulse_t2->Text(), localized(QStringLiteral("30.00")));
  QCOMPARE(p.page.ee_pulse_t2->prefix_selector()->currentText(), QStringLiteral("us"));
  QCOMPARE(p.page.ee_pulse_t3->Text(), localized(QStringLiteral("500.0")));
  QCOMPARE(p.page.ee_pulse_y2->Value(), 40.0);
  QCOMPARE(p.page.ee_pulse_y2->prefix_selector()->currentText(), QStringLiteral("A"));
  QCOMPARE(p.page.ee_pulse_y3->Value(), 3.0);

  waveform.add_point(4e-3L, 0);
  QVERIFY(!p.page.set_from_waveform(waveform));
  QCOMPARE(p.page.ee_pulse_y2->Value(), 40.0);
}

void TestPulsePage::board_limits_apply_on_the_next_change() {
  Page p;
  TLoadBoardRecord board;
  board.lb_units = QStringLiteral("V");
  board.lb_max_value = 50;
  bool present = false;
  p.page.set_load_board_source([&]() -> const TLoadBoardRecord * { return present ? &board : nullptr; });
  p.page.ee_pulse_y2->setValue(80);

  // No board: the levels keep amperes and their limit of 100.
  type_value(p.page.ee_pulse_t1, QStringLiteral("20"));
  QCOMPARE(p.page.ee_pulse_y2->Units(), QStringLiteral("A"));
  QCOMPARE(p.page.ee_pulse_y2->Value(), 80.0);
  QCOMPARE(cell_number(p.table, 2, 4), 80.0);

  present = true;
  type_value(p.page.ee_pulse_t1, QStringLiteral("10"));
  for (TEngineeringEdit *e : p.page.levels()) {
    QCOMPARE(e->Units(), QStringLiteral("V"));
    QCOMPARE(prefix_items(e), (QStringList{"mV", "V"}));
    QCOMPARE(e->MaxValue(), 50.0);
  }
  QCOMPARE(p.page.ee_pulse_y2->Value(), 50.0);
  QCOMPARE(p.page.ee_pulse_y2->prefix_selector()->currentText(), QStringLiteral("V"));
  QCOMPARE(p.page.ee_pulse_y1->Value(), 1.0);
  QCOMPARE(cell_number(p.table, 2, 4), 50.0);
  QCOMPARE(cell_number(p.table, 2, 2), 1.0);

  // The board goes: the last limits stay.
  present = false;
  p.page.Button1Click();
  QCOMPARE(p.page.ee_pulse_y3->Units(), QStringLiteral("V"));
  QCOMPARE(p.page.ee_pulse_y3->MaxValue(), 50.0);
}

void TestPulsePage::damaged_picture_leaves_the_page_working_data() {
  QTest::addColumn<QByteArray>("data");
  QFile f(QString::fromLatin1(TPulsePage::picture_resource));
  QVERIFY(f.open(QIODevice::ReadOnly));
  const QByteArray good = f.readAll();
  QTest::newRow("missing") << QByteArray();
  QTest::newRow("not a JPEG") << QByteArray(3000, '\x5a');
  QTest::newRow("truncated") << good.left(good.size() / 2);
  QByteArray scrambled = good;
  for (qsizetype i = 600; i < scrambled.size() - 2; i += 29)
    scrambled[i] = static_cast<char>(0xFF);
  QTest::newRow("scrambled scan") << scrambled;
}

void TestPulsePage::damaged_picture_leaves_the_page_working() {
  QFETCH(QByteArray, data);
  Page p;
  // The picture comes from the resources, decoded at start.
  QVERIFY(p.page.picture_shown());
  QCOMPARE(p.page.im_pulse->pixmap().size(), QSize(447, 199));
  // On a screen scaled by 1.25 it is resampled to the screen's pixels, at the same place.
  const QPixmap scaled = picture_for_ratio(p.page.im_pulse->pixmap().toImage(), 1.25);
  QCOMPARE(scaled.size(), QSize(559, 249));
  QCOMPARE(scaled.deviceIndependentSize().toSize(), QSize(447, 199));

  QVERIFY(!p.page.set_picture_data(data));
  QVERIFY(!p.page.picture_shown());
  p.page.show();
  QVERIFY(QTest::qWaitForWindowExposed(&p.page));
  QTest::mouseClick(p.page.Button1, Qt::LeftButton);
  QCOMPARE(p.table.cell(1, 9), localized(QStringLiteral("0.000422")));
}

void TestPulsePage::main_window_hosts_the_page() {
  TForm1 window(nullptr, nullptr);
  auto *page = window.findChild<TPulsePage *>("pulse_page");
  auto *tab = window.findChild<QWidget *>("pn_pulse_generator");
  QVERIFY(page);
  QVERIFY(tab->isAncestorOf(page));
  window.findChild<QTabWidget *>("PageControl1")->setCurrentIndex(TForm1::page_pulse_generator);
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  // The whole page fits the fixed window: nothing of it lies below the tab's bottom edge.
  const QRect button = page->Button1->geometry();
  QVERIFY(page->mapTo(tab, button.bottomLeft()).y() < tab->height());
  QTest::mouseClick(page->Button1, Qt::LeftButton);
  QCOMPARE(window.findChild<TQGrid *>("sg_data")->cell(1, 2), localized(QStringLiteral("0.00001")));
  QCOMPARE(window.findChild<TQGrid *>("sg_data")->cell(2, 4), QStringLiteral("10"));
  // The window's update has taken the pulse into the driver and cleared the table's flag.
  QCOMPARE(window.driver->data_count(), qsizetype(9));
  QVERIFY(!window.findChild<TQGrid *>("sg_data")->changed());
}

QTEST_MAIN(TestPulsePage)
#include "test_pulse_page.moc"
