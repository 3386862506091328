#include "Formula.h"
#include "QX5200_Waveform.h"

#include "wave_points.h"

#include <QTest>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <numbers>

using Words = QList<int>;

namespace {

constexpr long double us = 1e-6L;
constexpr long double ns = 1e-9L;

// A board on which value v maps to code 32768 + v / 10 * 32632 (calibration offset 0).
void set_board(TQX5200Waveform &w) {
  w.load_board.lb_gain = 10;
  w.load_board.lb_max_value = 5;
  w.calibration.offset = 0;
}

void fill(TQX5200Waveform &w, const QList<QPair<long double, long double>> &points) {
  w.clear_points();
  for (const auto &p : points)
    w.add_point(p.first, p.second);
}

Words words(const TQX5200Waveform &w, int from = 0, int count = -1) {
  Words out;
  const int end = count < 0 ? w.buffer_count() : from + count;
  for (int i = from; i < end; ++i)
    out.append(w.upload_buffer()[std::size_t(i)]);
  return out;
}

Points device(const TQX5200Waveform &w) { return to_points(w.device_points()); }

bool close(const Points &a, const Points &b) { return points_match(a, b, 1e-15); }

// The hold count carried by the complement in words i and i + 1.
long long hold_at(const TQX5200Waveform &w, int i) {
  const quint32 c =
      quint32(w.upload_buffer()[std::size_t(i)]) | quint32(w.upload_buffer()[std::size_t(i + 1)]) << 16;
  return ~c;
}

int code_of(const TQX5200Waveform &w, long double v) {
  return value_to_dac_code(v, w.load_board, w.calibration);
}

} // namespace

class TestWaveform : public QObject {
  Q_OBJECT
private slots:
  void time_check_data();
  void time_check();
  void fewer_than_two_points();
  void power_limit_data();
  void power_limit();
  void statistics_of_an_empty_and_a_flat_waveform();
  void rectangular_pulse();
  void single_ramp_period_data();
  void single_ramp_period();
  void overflow_stops_the_device_points();
  void example_words_and_device_points();
  void trapezoid_has_two_short_segments();
  void hold_words();
  void ten_microseconds_is_short();
  void no_room_for_long_segments();
  void vertical_step_segment();
  void hold_too_long_for_32_bits();
  void period_grid_data();
  void period_grid();
  void grid_periods_keep_their_code();
  void formula_stays_within_its_accuracy();
  void formula_refusals_data();
  void formula_refusals();
  void too_many_formula_points_names_an_accuracy_that_fits();
  void formula_numbers_and_even_points();
};

void TestWaveform::time_check_data() {
  QTest::addColumn<Points>("points");
  QTest::addColumn<bool>("passes");
  QTest::addColumn<int>("index");
  QTest::newRow("equal times pass") << Points{{0, 0}, {1e-3, 1}, {1e-3, 0}} << true << 0;
  QTest::newRow("last failure reported")
      << Points{{0, 0}, {2e-3, 1}, {1e-3, 2}, {3e-3, 3}, {2.5e-3, 4}} << false << 4;
  QTest::newRow("negative time") << Points{{-2, 0}, {-1, 1}, {0, 2}} << false << 1;
  QTest::newRow("first time not tested") << Points{{-1e-6, 0}, {0, 1}} << true << 0;
  QTest::newRow("not a number") << Points{{0, 0}, {std::numeric_limits<double>::quiet_NaN(), 1}, {1, 1}}
                                << false << 2;
}

void TestWaveform::time_check() {
  QFETCH(Points, points);
  QFETCH(bool, passes);
  QFETCH(int, index);
  TQX5200Waveform w;
  for (const auto &p : points)
    w.add_point(p.first, p.second);
  QCOMPARE(w.check_times(), passes);
  QCOMPARE(w.build_waveform(0), !passes);
  QCOMPARE(w.data_error(), !passes);
  if (!passes) {
    QCOMPARE(w.error_type(), 1);
    QCOMPARE(w.error_index(), index);
    QCOMPARE(w.sampled_data_count(), 0);
  }
}

void TestWaveform::fewer_than_two_points() {
  TQX5200Waveform w;
  fill(w, {{0, 0}, {2e-3L, 1}, {1e-3L, 2}});
  QVERIFY(w.build_waveform(0));
  QCOMPARE(w.error_index(), 2);
  fill(w, {{1e-3L, 1}});
  QVERIFY(!w.data_error());
  QVERIFY(w.build_waveform(0));
  QCOMPARE(w.error_type(), 0);
  QCOMPARE(w.error_index(), 0);
  QCOMPARE(w.sampled_data_count(), 0);
  QCOMPARE(double(w.max_time()), 0.0001);
}

void TestWaveform::power_limit_data() {
  QTest::addColumn<int>("repeat");
  QTest::addColumn<bool>("refused");
  QTest::newRow("repeat 0") << 0 << true;
  QTest::newRow("repeat 1") << 1 << false;
  QTest::newRow("repeat 2") << 2 << true;
}

void TestWaveform::power_limit() {
  QFETCH(int, repeat);
  QFETCH(bool, refused);
  TQX5200Waveform w;
  w.repeat_count = repeat;
  w.load_board.lb_max_power = 4; // average power will be 5
  w.load_board.lb_max_p2t = 1;
  fill(w, {{0, 1}, {100 * us, 1.5L}, {1e-3L, 1}});
  QCOMPARE(w.build_waveform(5), refused);
  QVERIFY(std::fabs(double(w.average_power()) - 5 * double(w.average())) < 1e-12);
  QVERIFY(w.average_power() > 4);
  if (refused)
    QCOMPARE(w.error_type(), 3);
  // P2t is checked whatever the repeat count, and replaces kind 3.
  w.load_board.lb_max_p2t = 0.01L;
  QVERIFY(w.build_waveform(5));
  QCOMPARE(w.error_type(), 4);
}

void TestWaveform::statistics_of_an_empty_and_a_flat_waveform() {
  TQX5200Waveform w;
  w.repeat_count = 1;
  fill(w, {{0, 0}, {1e-3L, 0}, {2e-3L, 0}});
  QVERIFY(!w.build_waveform(5));
  QCOMPARE(double(w.pulse_time()), 0.0);
  QCOMPARE(double(w.pulse_average()), 0.0);
  QCOMPARE(double(w.p2t()), 0.0);
  QCOMPARE(double(w.max_time()), 0.0);
  // A lead-in alone gives one device point: the step figures keep what they held.
  fill(w, {{0, 0}, {1 * us, 3}, {2e-3L, 3}});
  w.build_waveform(0);
  QVERIFY(w.max_dy() != 0);
  w.clear_points();
  QCOMPARE(double(w.max_dy()), 0.0);
  fill(w, {{0, 2}, {1e-3L, 2}});
  w.build_waveform(0);
  QCOMPARE(w.sampled_data_count(), 1);
  QCOMPARE(double(w.max_value()), 2.0);
  QCOMPARE(double(w.max_dy()), 0.0);
  QCOMPARE(double(w.min_dx()), 0.0);
}

void TestWaveform::rectangular_pulse() {
  TQX5200Waveform w;
  w.repeat_count = 1;
  w.load_board.lb_max_power = 100;
  w.load_board.lb_max_p2t = 100;
  fill(w, {{0, 0}, {1e-3L, 0}, {1e-3L + 100 * ns, 2}, {2e-3L, 2}, {2e-3L + 100 * ns, 0}, {4e-3L, 0}});
  QVERIFY(!w.build_waveform(5));
  auto near = [](long double a, double b) { return std::fabs(double(a) - b) <= 1e-3 * std::fabs(b); };
  QVERIFY2(near(w.average(), 0.5), qPrintable(QString::number(double(w.average()))));
  QVERIFY(near(w.pulse_average(), 2));
  QVERIFY(near(w.average_power(), 2.5));
  QVERIFY(near(w.pulse_power(), 10));
  QVERIFY(near(w.energy(), 0.01));
  QVERIFY(near(w.p2t(), 0.1));
  QCOMPARE(double(w.total_time()), 4e-3);
  QCOMPARE(double(w.max_time()), 4e-3);
}

void TestWaveform::single_ramp_period_data() {
  QTest::addColumn<double>("end");
  QTest::addColumn<Words>("header"); // mode, count, period code
  QTest::addColumn<int>("buffer_count");
  QTest::addColumn<int>("error");
  // 100 us: T * 2 / 7952 is about 25 ns, so mode 0 at 50 ns: 2000 steps, 4000 sample words.
  QTest::newRow("100 us") << 100e-6 << Words{0, 3999, 0} << 2 + 3 + 4000 + 2 << -1;
  // 10 ms: 10 ms / 7952 = 1.2575 us, up to the grid: 1.275 us (code 43); 7844 steps.
  QTest::newRow("10 ms") << 10e-3 << Words{1, 7844, 43} << 2 + 3 + 7844 + 2 << -1;
  // 5 s: held at 400 us (code 15992); 12500 samples do not fit.
  QTest::newRow("5 s") << 5.0 << Words{1, 12500, 15992} << 7959 << 2;
}

void TestWaveform::single_ramp_period() {
  QFETCH(double, end);
  QFETCH(Words, header);
  QFETCH(int, buffer_count);
  QFETCH(int, error);
  TQX5200Waveform w;
  w.repeat_count = 1;
  fill(w, {{0, 0}, {end, 1}});
  QCOMPARE(w.build_waveform(0), error >= 0);
  if (error >= 0)
    QCOMPARE(w.error_type(), error);
  QCOMPARE(words(w, 0, 5), (Words{1, 1} + header));
  QCOMPARE(w.buffer_count(), buffer_count);
  QVERIFY(w.waveform_changed);
}

void TestWaveform::overflow_stops_the_device_points() {
  TQX5200Waveform w;
  fill(w, {{0, 0}, {5, 1}});
  w.build_waveform(0);
  // Words 5 .. 7958 carry samples 1 .. 7954; the device point list ends with the last sent.
  QCOMPARE(w.sampled_data_count(), 7955);
  QCOMPARE(double(w.max_time()), double(7954 * 4e-4L));
  QVERIFY(w.max_value() > 0.6);
}

void TestWaveform::example_words_and_device_points() {
  TQX5200Waveform w;
  set_board(w);
  w.repeat_count = 1;
  fill(w, {{0, 0}, {100 * ns, 1}, {1.00005e-3L, 1}});
  QVERIFY(!w.build_waveform(0));
  QCOMPARE(w.segments().size(), std::size_t(1));
  QCOMPARE(double(w.segments()[0].hold), double(1.00005e-3L - 100 * ns));
  QCOMPARE(code_of(w, 1), 36031);
  QCOMPARE(words(w), (Words{1, 1, 1, 1, 0, 36030, 0x63DD, 0xFFFF}));
  QVERIFY2(close(device(w), Points{{0, 0}, {200e-9, 1}, {1.00015e-3, 1}}), qPrintable(describe(device(w))));
}

void TestWaveform::trapezoid_has_two_short_segments() {
  TQX5200Waveform w;
  set_board(w);
  fill(w, {{0, 0}, {100 * ns, 1}, {1e-3L, 1}, {1.0001e-3L, 0}, {5e-3L, 0}});
  QVERIFY(!w.build_waveform(0));
  QCOMPARE(w.segments().size(), std::size_t(2));
  QVERIFY(std::fabs(double(w.segments()[0].hold) - 999.9e-6) < 1e-15);
  QVERIFY(std::fabs(double(w.segments()[1].hold) - 3.9999e-3) < 1e-15);
  const int half = code_of(w, 0.5L);
  const int one = code_of(w, 1);
  const int zero = code_of(w, 0);
  // Mode 0, count 2 * 2 - 1, two sample code pairs, hold; only the second hold is the last.
  QCOMPARE(words(w, 0, 9), (Words{0, 2, 0, 3, 0, half & ~1, half | 1, one & ~1, one | 1}));
  QCOMPARE(hold_at(w, 9), (long long)TQX5200Waveform::hold_count(w.segments()[0].hold, false));
  QCOMPARE(words(w, 11, 7), (Words{0, 3, 0, half & ~1, half | 1, zero & ~1, zero | 1}));
  QCOMPARE(hold_at(w, 18), (long long)TQX5200Waveform::hold_count(w.segments()[1].hold, true));
  QCOMPARE(w.buffer_count(), 20);
  // Only the last segment's hold shows in the device point list.
  QVERIFY2(
      close(
          device(w),
          Points{{0, 0}, {50e-9, 0.5}, {100e-9, 1}, {1e-3, 1}, {1.00005e-3, 0.5}, {1.0001e-3, 0}, {5e-3, 0}}),
      qPrintable(describe(device(w))));
}

void TestWaveform::hold_words() {
  QCOMPARE(TQX5200Waveform::hold_count(600 * ns, false), 6.0L);
  QCOMPARE(TQX5200Waveform::hold_count(0, true), 2.0L);
  QCOMPARE(TQX5200Waveform::hold_count(1 * us, false), 22.0L);
  QCOMPARE(TQX5200Waveform::hold_count(1 * us, true), 14.0L);
  TQX5200Waveform w;
  fill(w, {{0, 0}, {100 * ns, 1}, {700 * ns, 1}, {800 * ns, 0}});
  QVERIFY(!w.build_waveform(0));
  QCOMPARE(w.buffer_count(), 20);
  QCOMPARE(words(w, 9, 2), (Words{0xFFF9, 0xFFFF}));
  QCOMPARE(words(w, 18, 2), (Words{0xFFFD, 0xFFFF}));
}

void TestWaveform::ten_microseconds_is_short() {
  TQX5200Waveform w;
  fill(w, {{0, 0}, {1e-5L, 1}, {2e-5L, 1}, {2e-5L + 100 * ns, 0}, {3e-5L, 0}});
  QVERIFY(!w.build_waveform(0));
  QVERIFY(w.segments()[0].duration == 1e-5L);
  QCOMPARE(words(w, 2, 2), (Words{0, 399})); // mode 0 at 50 ns: 200 steps
  fill(w, {{0, 0}, {10.05 * us, 1}, {20 * us, 1}, {20 * us + 100 * ns, 0}, {30 * us, 0}});
  QVERIFY(!w.build_waveform(0));
  QCOMPARE(w.upload_buffer()[2], quint16(1));
}

void TestWaveform::no_room_for_long_segments() {
  // 26 ramps of 8 us cost 26 * 325 words, more than the budget, so the long ramp gets none.
  QList<QPair<long double, long double>> pts;
  long double t = 0;
  for (int i = 0; i < 13; ++i) {
    pts += {{t, 0}, {t + 8 * us, 1}, {t + 16 * us, 1}, {t + 24 * us, 0}};
    t += 32 * us;
  }
  pts += {{t, 1}, {t + 1e-3L, 2}};
  TQX5200Waveform w;
  fill(w, pts);
  QVERIFY(w.build_waveform(0));
  QCOMPARE(w.error_type(), 2);
  QCOMPARE(w.sampled_data_count(), 0);
  QCOMPARE(w.buffer_count(), 2);
}

void TestWaveform::vertical_step_segment() {
  TQX5200Waveform w;
  set_board(w);
  const int one = code_of(w, 1);
  // Multi-segment: the step at 0 resamples to one sample; it is sent as one sample pair.
  fill(w, {{0, 0}, {0, 1}, {1e-3L, 1}, {1e-3L + 100 * ns, 0}});
  QVERIFY(!w.build_waveform(0));
  QCOMPARE(words(w, 0, 7), (Words{0, 2, 0, 1, 0, one & ~1, one | 1}));
  TWavePoint p;
  w.get_device_point(0, p);
  QCOMPARE(double(p.value), 1.0);
  // Single segment in mode 1: the same layout, never a count of 0 or 0xFFFF.
  fill(w, {{0, 0}, {0, 1}, {1, 1}});
  QVERIFY(!w.build_waveform(0));
  QCOMPARE(words(w, 2, 5), (Words{0, 1, 0, one & ~1, one | 1}));
  QCOMPARE(device(w), (Points{{0, 1}, {1, 1}}));
}

void TestWaveform::hold_too_long_for_32_bits() {
  TQX5200Waveform w;
  fill(w, {{0, 0}, {100 * ns, 1}, {100, 1}});
  QVERIFY(!w.build_waveform(0)); // 100 s still fits
  fill(w, {{0, 0}, {100 * ns, 1}, {200, 1}});
  QVERIFY(w.build_waveform(0));
  QCOMPARE(w.error_type(), 2);
}

void TestWaveform::period_grid_data() {
  QTest::addColumn<double>("period");
  QTest::addColumn<int>("code");
  QTest::addColumn<double>("rounded_up");
  QTest::newRow("below 200 ns") << 1e-7 << 0 << 2e-7;
  QTest::newRow("200 ns") << 2e-7 << 0 << 2e-7;
  QTest::newRow("between") << 2.1e-7 << 0 << 2.25e-7;
  QTest::newRow("10 ms ramp") << double(1e-2L / 7952) << 42 << 1.275e-6;
  QTest::newRow("beyond the code") << 0.99999991 << 65535 << 0.999999925;
  QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << 0 << 2e-7;
}

void TestWaveform::period_grid() {
  QFETCH(double, period);
  QFETCH(int, code);
  QFETCH(double, rounded_up);
  QCOMPARE(int(TQX5200Waveform::period_to_code(period)), code);
  QVERIFY(std::fabs(double(TQX5200Waveform::round_period_up(period)) - rounded_up) < 1e-15 * rounded_up);
  QCOMPARE(double(TQX5200Waveform::code_to_period(43)), 1.275e-6);
}

void TestWaveform::grid_periods_keep_their_code() {
  for (int k = 0; k < 65536; ++k) {
    const long double p = TQX5200Waveform::code_to_period(k);
    if (TQX5200Waveform::period_to_code(p) != k || TQX5200Waveform::round_period_up(p) != p)
      QFAIL(qPrintable(QStringLiteral("grid period %1").arg(k)));
  }
}

// The line through the placed points, checked against the exact curve at 20001 times; within
// 50 ns of a jump the line is the step itself.
void TestWaveform::formula_stays_within_its_accuracy() {
  const double pi = std::numbers::pi;
  struct Case {
    const char *expression;
    double end, accuracy;
    std::function<double(double)> exact;
    std::vector<double> jumps;
  };
  const std::vector<Case> cases = {
      {"5*sin(2*pi*1k*t)", 10e-3, 10e-3, [&](double t) { return 5 * std::sin(2 * pi * 1e3 * t); }, {}},
      {"5*exp(-t/1m)", 10e-3, 10e-3, [](double t) { return 5 * std::exp(-t / 1e-3); }, {}},
      {"t < 1.234567m ? 1 : 3+2k*t",
       2e-3,
       1e-3,
       [](double t) { return t < 1.234567e-3 ? 1 : 3 + 2e3 * t; },
       {1.2346e-3}},
      {"4*square(t, 1m, 0.25)",
       2e-3,
       1e-3,
       [](double t) { return std::fmod(t, 1e-3) < 0.25e-3 ? 4 : 0; },
       {0.25e-3, 1e-3, 1.25e-3, 2e-3}},
      {"2*saw(t, 400u)",
       1e-3,
       1e-3,
       [](double t) { return 2 * std::fmod(t, 400e-6) / 400e-6; },
       {400e-6, 800e-6}},
      {"1 + 2*step(t, 333.7m) + 0.5*sin(2*pi*t)",
       1,
       1e-3,
       [&](double t) { return 1 + (t >= 0.3337 ? 2 : 0) + 0.5 * std::sin(2 * pi * t); },
       {0.3337}},
      {"ramp(t, 1m, 3m) + tri(t, 4m)",
       4e-3,
       1e-3,
       [](double t) {
         const double p = t / 4e-3 - std::floor(t / 4e-3);
         return std::clamp((t - 1e-3) / 2e-3, 0.0, 1.0) + (p < 0.5 ? 2 * p : 2 - 2 * p);
       },
       {}},
  };
  for (const Case &c : cases) {
    TFormulaRequest r;
    r.expression = QString::fromLatin1(c.expression);
    r.end = c.end;
    r.accuracy = c.accuracy;
    TFormulaResult res;
    QVERIFY2(place_formula(r, res), qPrintable(res.error.message));
    const auto &p = res.points;
    QCOMPARE(res.jumps, int(c.jumps.size()));
    for (double at : c.jumps) {
      const auto step = std::adjacent_find(p.begin(), p.end(), [&](const TWavePoint &a, const TWavePoint &b) {
        return a.time == b.time && std::fabs(double(a.time) - at) < 1e-9;
      });
      QVERIFY2(step != p.end() || std::fabs(double(p.back().time) - at) < 1e-9, c.expression);
    }
    std::size_t i = 0;
    for (int k = 0; k <= 20000; ++k) {
      const long double t = c.end * k / 20000;
      while (i + 2 < p.size() && p[i + 1].time <= t)
        ++i;
      const TWavePoint &a = p[i], &b = p[i + 1];
      const bool near_jump = std::any_of(c.jumps.begin(), c.jumps.end(),
                                         [&](double at) { return std::fabs(double(t) - at) <= 60e-9; });
      if (near_jump || b.time == a.time)
        continue;
      const double line = double(a.value + (b.value - a.value) * (t - a.time) / (b.time - a.time));
      if (std::fabs(line - c.exact(double(t))) > c.accuracy * 1.001)
        QFAIL(qPrintable(QStringLiteral("%1 at t = %2: %3, exact %4")
                             .arg(c.expression)
                             .arg(double(t))
                             .arg(line)
                             .arg(c.exact(double(t)))));
    }
  }
}

void TestWaveform::formula_refusals_data() {
  QTest::addColumn<QString>("expression");
  QTest::addColumn<double>("end");
  QTest::addColumn<QString>("message");
  QTest::addColumn<int>("position");
  QTest::newRow("unknown name") << "2*x + 1" << 1e-3 << "Unexpected token \"x\" found. (at character 3)" << 2;
  QTest::newRow("open parenthesis") << "5*sin(2*pi*t" << 1e-3 << "Missing parenthesis (at character 13)"
                                    << 12;
  QTest::newRow("unit letters") << "1ms*t" << 1e-3 << "Unexpected token \"ms\" found. (at character 2)" << 1;
  QTest::newRow("two results") << "t, 2*t" << 1e-3 << "The formula gives 2 values; it must give one" << -1;
  QTest::newRow("not ASCII") << QStringLiteral("2\u00b5*t") << 1e-3 << "(at character 2)" << 1;
  QTest::newRow("infinite at the start") << "ln(t)" << 1e-3 << "The formula is infinite at t = 0 s" << -1;
  QTest::newRow("not a number later")
      << "sqrt(1m - t)" << 2e-3 << "The formula is not a number at t = 0.00100005 s" << -1;
  QTest::newRow("period zero") << "square(t, 0, 0.5)" << 1e-3 << "The formula is not a number at t = 0 s"
                               << -1;
  QTest::newRow("empty span") << "t" << 0.0 << "The span must end at least 5e-08 s after its start" << -1;
}

void TestWaveform::formula_refusals() {
  QFETCH(QString, expression);
  QFETCH(double, end);
  QFETCH(QString, message);
  QFETCH(int, position);
  TFormulaRequest r;
  r.expression = expression;
  r.end = end;
  TFormulaResult res;
  QVERIFY(!place_formula(r, res));
  QVERIFY2(res.error.message.contains(message), qPrintable(res.error.message));
  QCOMPARE(res.error.position, position);
  QVERIFY(res.points.empty());
}

void TestWaveform::too_many_formula_points_names_an_accuracy_that_fits() {
  TFormulaRequest r;
  r.expression = QStringLiteral("sin(2*pi*50k*t)");
  r.end = 10e-3L;
  r.accuracy = 1e-5L;
  TFormulaResult res;
  QVERIFY(!place_formula(r, res));
  QVERIFY(res.needed_points > formula_max_points);
  QVERIFY2(res.error.message.contains(QString::number(res.needed_points)), qPrintable(res.error.message));
  QVERIFY(res.fitting_accuracy > r.accuracy);
  r.accuracy = res.fitting_accuracy;
  QVERIFY2(place_formula(r, res), qPrintable(res.error.message));
  QVERIFY(res.points.size() <= std::size_t(formula_max_points));

  // No accuracy makes 10000 jumps fit.
  r.expression = QStringLiteral("square(t, 1u, 0.5)");
  QVERIFY(!place_formula(r, res));
  QCOMPARE(res.fitting_accuracy, 0.0L);
  QVERIFY2(res.error.message.contains(QStringLiteral("shorter span")), qPrintable(res.error.message));
}

void TestWaveform::formula_numbers_and_even_points() {
  const QList<QPair<QString, long double>> good = {{"2.5u", 2.5e-6L}, {"1meg", 1e6L},   {"1M", 1e-3L},
                                                   {"-3k", -3e3L},    {".5e-3", 5e-4L}, {"7", 7}};
  for (const auto &[text, expected] : good) {
    long double v = 0;
    QVERIFY2(formula_number(text, v), qPrintable(text));
    QCOMPARE(double(v), double(expected));
  }
  for (const char *bad : {"1ms", "1,5", "", "k", "1e", "inf", "2.5 u"}) {
    long double v = 0;
    QVERIFY2(!formula_number(QString::fromLatin1(bad), v), bad);
  }
  TFormulaRequest r;
  r.expression = QStringLiteral("1k*t + 1");
  r.start = 1e-3L;
  r.end = 3e-3L;
  r.points = 5;
  TFormulaResult res;
  QVERIFY(place_formula(r, res));
  QCOMPARE(res.points.size(), std::size_t(5));
  for (int i = 0; i < 5; ++i) {
    QCOMPARE(double(res.points[std::size_t(i)].time), 1e-3 + i * 0.5e-3);
    QCOMPARE(double(res.points[std::size_t(i)].value), 2 + i * 0.5);
  }
}

QTEST_GUILESS_MAIN(TestWaveform)
#include "test_waveform.moc"
