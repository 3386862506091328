// Ranges, divisions, pixel mapping, texts and layout of the chart control, checked with numbers.
#include "TQGraphType.h"
#include "TQGraphUnit.h"

#include <QTest>

#include <cmath>

namespace {

// Every character `size` pixels wide, every line 2 x size high: layout sums become hand-checkable.
class FixedMeasure : public TTextMeasure {
public:
  int TextWidth(const QString &text, int size) const override { return int(text.size()) * size; }
  int TextHeight(const QString &, int size) const override { return 2 * size; }
};

TQGraphArea ranged(const TQGraph &g) {
  TQGraphArea a = g.GraphArea();
  ComputeRanges(a, g.Curves());
  return a;
}

} // namespace

class TestGraphScaling : public QObject {
  Q_OBJECT
private slots:
  void add_point_curve_numbers();
  void extremes_reset_after_clear();
  void linear_auto_range_data();
  void linear_auto_range();
  void linear_ticks_follow_exact_span();
  void round_ticks_data();
  void round_ticks();
  void log_auto_range_data();
  void log_auto_range();
  void decade_stretch_data();
  void decade_stretch();
  void fit_curves_never_widen_auto_range();
  void stored_range_clamps_data();
  void stored_range_clamps();
  void divisions_pull_edges_in();
  void value_pixel_round_trip_data();
  void value_pixel_round_trip();
  void log_axis_values_not_positive();
  void format_axis_value_data();
  void format_axis_value();
  void composed_titles();
  void layout_from_text_sizes();
  void rescale_at_450();
  void rescale_moves_labels();
};

void TestGraphScaling::add_point_curve_numbers() {
  TQGraph g;
  g.AddPoint(16, 1, 2, 3);
  g.AddPoint(0, 1, 2, 3);
  for (int n = 1; n <= kCurveCount; ++n)
    QVERIFY(g.Curve(n).points.empty());
  g.AddPoint(15, 1, 2, 3);
  QCOMPARE(g.Curve(15).points.size(), size_t(1));
  QCOMPARE(g.Curve(15).points[0].y2, 3.0);
  g.ClearCurve(16); // ignored, must not touch anything
  QCOMPARE(g.Curve(15).points.size(), size_t(1));
}

void TestGraphScaling::extremes_reset_after_clear() {
  TQGraph g;
  g.AddPoint(1, -100, 50, 7);
  g.AddPoint(1, 100, -50, -7);
  QCOMPARE(g.Curve(1).min_x, -100.0);
  QCOMPARE(g.Curve(1).max_y, 50.0);
  g.ClearCurve(1);
  g.AddPoint(1, 5, 2, 0);
  const TCurve &c = g.Curve(1);
  QCOMPARE(c.min_x, 5.0);
  QCOMPARE(c.max_x, 5.0);
  QCOMPARE(c.min_y, 2.0);
  QCOMPARE(c.max_y, 2.0);
  QCOMPARE(c.min_y2, 0.0);
  QCOMPARE(c.max_y2, 0.0);
}

void TestGraphScaling::linear_auto_range_data() {
  QTest::addColumn<QList<double>>("values");
  QTest::addColumn<double>("min");
  QTest::addColumn<double>("max");
  QTest::newRow("0.2..7.9 exact") << QList<double>{3.1, 0.2, 7.9, 5} << 0.2 << 7.9;
  QTest::newRow("all 3") << QList<double>{3, 3, 3} << 3.0 << 30.0;
  QTest::newRow("all 0") << QList<double>{0, 0} << 0.0 << 10.0;
  QTest::newRow("all -2") << QList<double>{-2, -2} << -2.0 << -20.0;
}

void TestGraphScaling::linear_auto_range() {
  QFETCH(QList<double>, values);
  QFETCH(double, min);
  QFETCH(double, max);
  TQGraph g;
  g.setXAutoRange(true);
  g.GraphArea().y.AutoRange = 1;
  for (double v : values)
    g.AddPoint(1, v, v, 0);
  const TQGraphArea a = ranged(g);
  QCOMPARE(a.x.MinVal, min);
  QCOMPARE(a.x.MaxVal, max);
  QCOMPARE(a.y.MinVal, min);
  QCOMPARE(a.y.MaxVal, max);
}

void TestGraphScaling::linear_ticks_follow_exact_span() {
  TQGraph g;
  g.setXAutoRange(true);
  g.GraphArea().x.MajInc = 10;
  g.AddPoint(1, 0.2, 1, 0);
  g.AddPoint(1, 7.9, 2, 0);
  TQGraphArea a = ranged(g);
  a.plot = {50, 20, 450, 400};
  ComputeDivisions(a);
  QCOMPARE(TickValue(a.x, 0, false), 0.2);
  QCOMPARE(TickValue(a.x, 1, false), 0.97);
  QCOMPARE(TickValue(a.x, 10, false), 7.9);
}

void TestGraphScaling::round_ticks_data() {
  QTest::addColumn<QList<double>>("range");    // min, max, most divisions
  QTest::addColumn<QList<double>>("expected"); // min, max, step, divisions; empty: not rounded
  QTest::newRow("0.01..1.987") << QList<double>{0.01, 1.987, 10} << QList<double>{0, 2, 0.2, 10};
  QTest::newRow("0..422") << QList<double>{0, 422, 10} << QList<double>{0, 450, 50, 9};
  QTest::newRow("negative") << QList<double>{-7.3, -0.2, 5} << QList<double>{-8, 0, 2, 4};
  QTest::newRow("tiny") << QList<double>{1.2e-9, 3.7e-9, 10} << QList<double>{1e-9, 4e-9, 5e-10, 6};
  QTest::newRow("huge") << QList<double>{0, 3.3e12, 10} << QList<double>{0, 3.5e12, 5e11, 7};
  QTest::newRow("one step across 0") << QList<double>{-0.1, 0.1, 1} << QList<double>{-0.1, 0.1, 0.1, 2};
  QTest::newRow("zero span") << QList<double>{3, 3, 10} << QList<double>{};
  QTest::newRow("span overflows") << QList<double>{-1e308, 1e308, 10} << QList<double>{};
}

void TestGraphScaling::round_ticks() {
  QFETCH(QList<double>, range);
  QFETCH(QList<double>, expected);
  const TRoundTicks t = RoundTicks(range[0], range[1], int(range[2]));
  QCOMPARE(t.ok ? (QList<double>{t.min, t.max, t.step, double(t.divisions)}) : QList<double>(), expected);
}

void TestGraphScaling::log_auto_range_data() {
  QTest::addColumn<double>("lo");
  QTest::addColumn<double>("hi");
  QTest::addColumn<double>("min");
  QTest::addColumn<double>("max");
  QTest::addColumn<int>("decades");
  QTest::newRow("0.003..450") << 0.003 << 450.0 << 0.001 << 1000.0 << 6;
  QTest::newRow("0.05..120") << 0.05 << 120.0 << 0.01 << 1000.0 << 5;
  QTest::newRow("exact decades 1..100") << 1.0 << 100.0 << 1.0 << 100.0 << 2;
  QTest::newRow("0..50 starts at 0.01") << 0.0 << 50.0 << 0.01 << 100.0 << 4;
}

void TestGraphScaling::log_auto_range() {
  QFETCH(double, lo);
  QFETCH(double, hi);
  QFETCH(double, min);
  QFETCH(double, max);
  QFETCH(int, decades);
  TQGraph g;
  g.GraphArea().x.Style = Log;
  g.GraphArea().x.AutoRange = 1;
  g.AddPoint(1, lo, 1, 0);
  g.AddPoint(2, hi, 1, 0);
  const TQGraphArea a = ranged(g);
  QCOMPARE(a.x.MinVal, min);
  QCOMPARE(a.x.MaxVal, max);
  QCOMPARE(a.x.MajInc, decades);
  QCOMPARE(a.x.MinInc, 10);
}

void TestGraphScaling::decade_stretch_data() {
  QTest::addColumn<bool>("shown");
  QTest::addColumn<double>("y2_min");
  QTest::addColumn<int>("y2_decades");
  QTest::newRow("y2 shown") << true << 0.0001 << 6;
  QTest::newRow("y2 hidden") << false << 0.01 << 4;
}

void TestGraphScaling::decade_stretch() {
  QFETCH(bool, shown);
  QFETCH(double, y2_min);
  QFETCH(int, y2_decades);
  // y holds 6 decades (0.001..1000), y2 4 (0.01..100).
  TQGraph g;
  TQGraphArea &s = g.GraphArea();
  s.y.Style = Log;
  s.y.AutoRange = 1;
  s.y2.AutoRange = 0; // stored range; the stretch does not depend on auto-ranging
  s.y2.MinVal = 0.01;
  s.y2.MaxVal = 100;
  s.showY2Axis = shown;
  g.AddPoint(1, 1, 0.001, 1);
  g.AddPoint(1, 2, 1000, 1);
  const TQGraphArea a = ranged(g);
  QCOMPARE(a.y.MinVal, 0.001);
  QCOMPARE(a.y.MajInc, 6);
  QCOMPARE(a.y2.MinVal, y2_min);
  QCOMPARE(a.y2.MaxVal, 100.0);
  QCOMPARE(a.y2.MajInc, y2_decades);

  // The other way round: y has fewer decades and is the one stretched.
  s.y.AutoRange = 0;
  s.y.MinVal = 1;
  s.y.MaxVal = 10;
  const TQGraphArea b = ranged(g);
  QCOMPARE(b.y.MinVal, shown ? 0.001 : 1.0);
  QCOMPARE(b.y.MajInc, shown ? 4 : 1);
  QCOMPARE(b.y2.MajInc, 4);
}

void TestGraphScaling::fit_curves_never_widen_auto_range() {
  TQGraph g;
  g.setXAutoRange(true);
  g.GraphArea().y.AutoRange = 1;
  g.AddPoint(1, 1, 2, 0);
  g.AddPoint(1, 3, 4, 0);
  for (int n = 11; n <= 15; ++n)
    g.AddPoint(n, -1000 * n, 1000 * n, 0);
  const TQGraphArea a = ranged(g);
  QCOMPARE(a.x.MinVal, 1.0);
  QCOMPARE(a.x.MaxVal, 3.0);
  QCOMPARE(a.y.MinVal, 2.0);
  QCOMPARE(a.y.MaxVal, 4.0);

  // Fit lines alone are no data: the stored range stays.
  TQGraph fits_only;
  fits_only.setXAutoRange(true);
  fits_only.GraphArea().x.MinVal = 1;
  fits_only.GraphArea().x.MaxVal = 2;
  fits_only.AddPoint(11, 50, 50, 0);
  QCOMPARE(ranged(fits_only).x.MaxVal, 2.0);
}

void TestGraphScaling::stored_range_clamps_data() {
  QTest::addColumn<int>("style");
  QTest::addColumn<double>("min_in");
  QTest::addColumn<double>("max_in");
  QTest::addColumn<double>("min");
  QTest::addColumn<double>("max");
  QTest::newRow("reversed stays mirrored") << 0 << -2.0 << -5.0 << -2.0 << -20.0;
  QTest::newRow("max below min") << 0 << 4.0 << 1.0 << 4.0 << 40.0;
  QTest::newRow("zero span gets 0..10") << 0 << 0.0 << 0.0 << 0.0 << 10.0;
  QTest::newRow("nan start") << 0 << qQNaN() << 5.0 << 0.0 << 5.0;
  QTest::newRow("infinite end") << 0 << 1.0 << qInf() << 1.0 << 10.0;
  QTest::newRow("log min 0") << 1 << 0.0 << 0.0 << 0.01 << 0.1;
  QTest::newRow("log min negative") << 1 << -5.0 << 100.0 << 0.01 << 100.0;
}

void TestGraphScaling::stored_range_clamps() {
  QFETCH(int, style);
  QFETCH(double, min_in);
  QFETCH(double, max_in);
  QFETCH(double, min);
  QFETCH(double, max);
  TQGraph g;
  TQGraphArea &s = g.GraphArea();
  s.x.Style = TQAxisStyle(style);
  s.x.MinVal = min_in;
  s.x.MaxVal = max_in;
  const TQGraphArea a = ranged(g);
  QCOMPARE(a.x.MinVal, min);
  QCOMPARE(a.x.MaxVal, max);
}

void TestGraphScaling::divisions_pull_edges_in() {
  TQGraphArea a = DefaultGraphArea();
  a.x.MinVal = 0;
  a.x.MaxVal = 10;
  a.x.MajInc = 0; // replaced by 1
  a.x.MinInc = 3;
  a.y.MinVal = 0;
  a.y.MaxVal = 100;
  a.y.MajInc = 10;
  a.y.MinInc = 4;
  a.plot = {40, 45, 340, 350}; // 300 wide, 305 high
  ComputeDivisions(a);
  QCOMPARE(a.x.MajInc, 1);
  QCOMPARE(a.x.pixels_per_major, 300 / 3 * 3);
  QCOMPARE(a.plot.right, 340);
  QCOMPARE(a.y.pixels_per_major, -28);
  QCOMPARE(a.plot.top, 350 - 280);
  QCOMPARE(a.y.value_per_major, 10.0);

  a.x.MinInc = 7;
  a.plot.right = 340;
  ComputeDivisions(a);
  QCOMPARE(a.x.pixels_per_major, 294);
  QCOMPARE(a.plot.right, 40 + 294);
}

void TestGraphScaling::value_pixel_round_trip_data() {
  QTest::addColumn<int>("style");
  QTest::addColumn<double>("x");
  QTest::addColumn<double>("y");
  QTest::addColumn<int>("px");
  QTest::addColumn<int>("py");
  // Plot 100..500 wide, 400 (bottom)..0 high; x 0..10 / 1..10000, y 0..100 / 0.1..1000.
  QTest::newRow("linear start") << 0 << 0.0 << 0.0 << 100 << 400;
  QTest::newRow("linear middle") << 0 << 5.0 << 50.0 << 300 << 200;
  QTest::newRow("linear end") << 0 << 10.0 << 100.0 << 500 << 0;
  QTest::newRow("linear outside") << 0 << 20.0 << -50.0 << 900 << 600;
  QTest::newRow("log start") << 1 << 1.0 << 0.1 << 100 << 400;
  QTest::newRow("log decade") << 1 << 10.0 << 1.0 << 200 << 300;
  QTest::newRow("log end") << 1 << 10000.0 << 1000.0 << 500 << 0;
}

void TestGraphScaling::value_pixel_round_trip() {
  QFETCH(int, style);
  QFETCH(double, x);
  QFETCH(double, y);
  QFETCH(int, px);
  QFETCH(int, py);
  TQGraphArea a = DefaultGraphArea();
  a.plot = {100, 0, 500, 400};
  a.x.Style = a.y.Style = TQAxisStyle(style);
  a.x.MinVal = style ? 1 : 0;
  a.x.MaxVal = style ? 10000 : 10;
  a.y.MinVal = style ? 0.1 : 0;
  a.y.MaxVal = style ? 1000 : 100;
  TGraphPoint pt;
  pt.x = x;
  pt.y = y;
  ValueToPixel(a, pt, 6);
  QCOMPARE(pt.px, px);
  QCOMPARE(pt.py, py);
  QCOMPARE(pt.y_box, (TGraphRect{px - 3, py - 3, px + 3, py + 3}));
  double bx = 0, by = 0;
  PixelToValue(a, px, py, bx, by);
  QVERIFY(std::fabs(bx - x) <= 1e-9 * std::max(1.0, std::fabs(x)));
  QVERIFY(std::fabs(by - y) <= 1e-9 * std::max(1.0, std::fabs(y)));
}

void TestGraphScaling::log_axis_values_not_positive() {
  TQGraphArea a = DefaultGraphArea();
  a.plot = {100, 0, 500, 400};
  a.x.Style = a.y.Style = Log;
  a.x.MinVal = a.y.MinVal = a.y2.MinVal = 1;
  a.x.MaxVal = a.y.MaxVal = a.y2.MaxVal = 100;
  for (double v : {0.0, -5.0, qQNaN(), qInf(), -qInf(), 1e-300, 1e300}) {
    TGraphPoint pt;
    pt.x = pt.y = pt.y2 = v;
    ValueToPixel(a, pt, 6);
    // Nothing the axis cannot show may leave the plot's neighbourhood or its start.
    QVERIFY2(std::abs(pt.px) <= 20'000'000 && std::abs(pt.py) <= 20'000'000, qPrintable(QString::number(v)));
    if (!(v > 0) || std::isnan(v)) {
      QCOMPARE(pt.py, 400);
      QCOMPARE(pt.py2, 400);
    }
  }
  // A zero-width plot or span still maps without dividing by zero.
  a.x.Style = a.y.Style = Linear;
  a.x.MinVal = a.x.MaxVal = 3;
  a.plot = {100, 400, 100, 400};
  TGraphPoint pt;
  pt.x = 7;
  ValueToPixel(a, pt, 6);
  QCOMPARE(pt.px, 100);
  double x = 0, y = 0;
  PixelToValue(a, 150, 150, x, y);
  QVERIFY(std::isfinite(x) && std::isfinite(y));
}

void TestGraphScaling::format_axis_value_data() {
  QTest::addColumn<int>("axis");
  QTest::addColumn<int>("range");
  QTest::addColumn<bool>("show_units");
  QTest::addColumn<double>("value");
  QTest::addColumn<QString>("text");
  QTest::newRow("x us") << 1 << -2 << true << 0.000125 << "125us";
  QTest::newRow("x units hidden") << 1 << -2 << false << 0.000125 << "125";
  QTest::newRow("y kilo") << 2 << 1 << true << 2500.0 << "2.50ks";
  QTest::newRow("y2 no prefix") << 3 << 0 << true << 1.5 << "1.50s";
  QTest::newRow("axis 0") << 0 << 0 << true << 1.0 << "";
  QTest::newRow("axis 4") << 4 << 0 << true << 1.0 << "";
}

void TestGraphScaling::format_axis_value() {
  QFETCH(int, axis);
  QFETCH(int, range);
  QFETCH(bool, show_units);
  QFETCH(double, value);
  QFETCH(QString, text);
  TQGraphArea a = DefaultGraphArea();
  for (TQAxis *ax : {&a.x, &a.y, &a.y2}) {
    ax->Range = range;
    ax->ShowUnits = show_units;
    ax->Units = QStringLiteral("s");
    ax->DecimalCount = 3;
  }
  QCOMPARE(FormatAxisValue(a, axis, value), text);
}

void TestGraphScaling::composed_titles() {
  TQAxis axis;
  axis.Title = QStringLiteral("Time");
  axis.Units = QStringLiteral("s");
  QString composed;
  ComposeAxisTitle(axis, composed);
  QCOMPARE(composed, QStringLiteral("Time"));
  axis.ShowUnits = 1;
  axis.Range = -2;
  ComposeAxisTitle(axis, composed);
  QCOMPARE(composed, QStringLiteral("Time (us)"));
  axis.Range = 0;
  ComposeAxisTitle(axis, composed);
  QCOMPARE(composed, QStringLiteral("Time (s)"));
  axis.show_title = 0;
  axis.Title = QStringLiteral("Other");
  ComposeAxisTitle(axis, composed);
  QCOMPARE(composed, QStringLiteral("Time (s)"));
}

void TestGraphScaling::layout_from_text_sizes() {
  TQGraphArea a = DefaultGraphArea();
  a.Title = QStringLiteral("T");
  a.y.MinVal = 0;
  a.y.MaxVal = 100; // "0.0" and "1.0E2" at 8: the wider is 40
  ComputeLayout(a, 450, 450, FixedMeasure());
  QCOMPARE(a.margins.top, 32 + 5 + 20 + 5 + 5);
  QCOMPARE(a.margins.bottom, 20 + 5 + 16 + 5 + 5);
  QCOMPARE(a.margins.left, 5 + 40 + 5 + 20 + 5);
  QCOMPARE(a.margins.right, 5 + 24 + 5 + 20 + 5); // y2 "0.0", reserved though y2 is hidden
  QCOMPARE(a.y_title, QStringLiteral("Efficiency"));
  QCOMPARE(a.plot.left, 75);
  QCOMPARE(a.plot.bottom, 450 - 51);
  QCOMPARE(a.plot.right, 450 - 59); // one major division fills it
  QCOMPARE(a.plot.top, 399 + 10 * ((67 - 399) / 10));

  a.x.show_title = 0;
  a.y.show_title = 0;
  ComputeLayout(a, 450, 450, FixedMeasure());
  QCOMPARE(a.margins.bottom, 0);
  QCOMPARE(a.margins.left, 5 + 40 + 5);
  QCOMPARE(a.plot.bottom, 450);
}

void TestGraphScaling::rescale_at_450() {
  TQGraphArea a = DefaultGraphArea();
  std::vector<TQLabel> labels;
  TGraphScaling s;
  RescaleGraph(a, labels, s, 450, 450);
  QCOMPARE(a.TitleFontSize, 14);
  QCOMPARE(a.SubtitleFontSize, 9);
  for (const TQAxis *ax : {&a.x, &a.y, &a.y2}) {
    QCOMPARE(ax->TitleFontSize, 9);
    QCOMPARE(ax->tick_label_font_size, 7);
    QCOMPARE(ax->gapA, 4);
    QCOMPARE(ax->gapB, 4);
  }
  QCOMPARE(a.gap0, 5);
  QCOMPARE(a.gap1, 4);
  QCOMPARE(a.gap2, 4);
  QCOMPARE(s.sample_line_length, 45);

  RescaleGraph(a, labels, s, 1000, 1500); // s = 2
  QCOMPARE(a.y.curve[1].marker_size, 12);
  QCOMPARE(a.y2.curve[9].pen_width, 2);
  QCOMPARE(a.y.curve[10].marker_size, 6);
  QCOMPARE(a.y2.curve[10].marker_size, 6);
  QCOMPARE(a.y.curve[11].pen_width, 2); // fit lines keep their width
  RescaleGraph(a, labels, s, 400, 400);
  QCOMPARE(a.y.curve[1].marker_size, 6);
  QCOMPARE(a.y.curve[1].pen_width, 1);
}

void TestGraphScaling::rescale_moves_labels() {
  TQGraphArea a = DefaultGraphArea();
  std::vector<TQLabel> labels(1);
  labels[0].X = 100;
  labels[0].Y = 100;
  TGraphScaling s{450, 450, 50};
  RescaleGraph(a, labels, s, 900, 450);
  QCOMPARE(labels[0].X, 200);
  QCOMPARE(labels[0].Y, 100);
  QCOMPARE(s.sample_line_length, 90);
  QCOMPARE(a.TitleFontSize, 14); // s stays 0.9
  QCOMPARE(s.previous_width, 900);
}

QTEST_MAIN(TestGraphScaling)
#include "test_graph_scaling.moc"
