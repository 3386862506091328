#include "TQDataSamplerUnit.h"

#include "wave_points.h"

#include <QTest>

#include <cmath>
#include <limits>

namespace {

void load(TQDataSampler &s, const Points &raw, long double period, bool interpolate) {
  s.reset_data();
  for (const auto &p : raw)
    s.add_raw_point(p.first, p.second);
  s.sample_period = period;
  s.interpolate = interpolate;
  s.sample_data();
}

Points sampled(const TQDataSampler &s) { return to_points(s.sampled_data()); }

bool same(const Points &a, const Points &b) { return points_match(a, b, 1e-18); }

} // namespace

class TestDataSampler : public QObject {
  Q_OBJECT
private slots:
  void staircase_data();
  void staircase();
  void interpolation_stops_one_period_before_the_next_point();
  void beyond_the_end_is_zero();
  void unusable_period_gives_nothing_data();
  void unusable_period_gives_nothing();
  void sample_cap_keeps_the_leading_samples();
  void statistics_of_the_samples();
};

void TestDataSampler::staircase_data() {
  QTest::addColumn<Points>("raw");
  QTest::addColumn<double>("period");
  QTest::addColumn<bool>("interpolate");
  QTest::addColumn<Points>("samples");
  QTest::newRow("ramp") << Points{{0, 0}, {1e-6, 1}} << 2e-7 << true
                        << Points{{0, 0}, {2e-7, 0.2}, {4e-7, 0.4}, {6e-7, 0.6}, {8e-7, 0.8}, {1e-6, 1}};
  QTest::newRow("flat") << Points{{0, 0}, {1e-6, 0}} << 2e-7 << true
                        << Points{{0, 0}, {2e-7, 0}, {4e-7, 0}, {6e-7, 0}, {8e-7, 0}, {1e-6, 0}};
  QTest::newRow("vertical step") << Points{{0, 0}, {1e-6, 0}, {1e-6, 2}, {2e-6, 2}} << 5e-7 << false
                                 << Points{{0, 0}, {5e-7, 0}, {1e-6, 2}, {1.5e-6, 2}, {2e-6, 2}};
  QTest::newRow("single point") << Points{{3e-6, 4}} << 5e-8 << true << Points{{3e-6, 4}};
  // A point 0.5 ps after a grid time counts as on it (1e-12 tolerance): no extra sample.
  QTest::newRow("within tolerance") << Points{{0, 1}, {1e-6 + 5e-13, 3}} << 5e-7 << false
                                    << Points{{0, 1}, {5e-7, 1}, {1e-6, 3}};
  // 2 ps after the grid time is not on it: the grid goes one step further.
  QTest::newRow("beyond tolerance") << Points{{0, 1}, {1e-6 + 2e-12, 3}} << 5e-7 << false
                                    << Points{{0, 1}, {5e-7, 1}, {1e-6, 1}, {1.5e-6, 3}};
}

void TestDataSampler::staircase() {
  QFETCH(Points, raw);
  QFETCH(double, period);
  QFETCH(bool, interpolate);
  QFETCH(Points, samples);
  TQDataSampler s;
  load(s, raw, period, interpolate);
  QVERIFY2(same(sampled(s), samples), qPrintable(describe(sampled(s))));
  QCOMPARE(s.sampled_data_size(), samples.size());
  QVERIFY(!s.truncated());
}

void TestDataSampler::interpolation_stops_one_period_before_the_next_point() {
  TQDataSampler s;
  // Added points at 0.2, 0.4, 0.6 and 0.8 us; 0.8 us qualifies since 1 us - 0.8 us >= T - 1e-15.
  load(s, {{0, 0}, {1e-6, 1}}, 2e-7L, true);
  QCOMPARE(s.interpolated_data_size(), 6);
  QCOMPARE(double(s.interpolated_data()[4].time), 8e-7);
  // 0.5 fs short of a whole period is within the tolerance; 2 fs short is not.
  load(s, {{0, 0}, {1e-6L - 5e-16L, 1}}, 2e-7L, true);
  QCOMPARE(s.interpolated_data_size(), 6);
  load(s, {{0, 0}, {1e-6L - 2e-15L, 1}}, 2e-7L, true);
  QCOMPARE(s.interpolated_data_size(), 5);
  QCOMPARE(double(s.interpolated_data()[3].time), 6e-7);
}

void TestDataSampler::beyond_the_end_is_zero() {
  TQDataSampler s;
  load(s, {{1, 2}, {2, 3}}, 0.5L, false);
  TWavePoint p{7, 7};
  s.get_sampled_point(s.sampled_data_size(), p);
  QCOMPARE(double(p.time), 0.0);
  QCOMPARE(double(p.value), 0.0);
  s.get_sampled_point(1, p);
  QCOMPARE(double(p.time), 1.5);
  QCOMPARE(double(p.value), 2.0);
}

void TestDataSampler::unusable_period_gives_nothing_data() {
  QTest::addColumn<double>("period");
  QTest::newRow("zero") << 0.0;
  QTest::newRow("negative") << -1e-7;
  QTest::newRow("nan") << std::numeric_limits<double>::quiet_NaN();
  QTest::newRow("infinite") << std::numeric_limits<double>::infinity();
}

void TestDataSampler::unusable_period_gives_nothing() {
  QFETCH(double, period);
  TQDataSampler s;
  load(s, {{0, 0}, {1e-6, 1}}, 2e-7L, true);
  QCOMPARE(s.sampled_data_size(), 6);
  s.sample_period = period;
  s.sample_data();
  QCOMPARE(s.sampled_data_size(), 0);
}

void TestDataSampler::sample_cap_keeps_the_leading_samples() {
  TQDataSampler full;
  load(full, {{0, 0}, {1e-3, 1}, {2e-3, -1}}, 1e-6L, true);
  QCOMPARE(full.sampled_data_size(), 2001);
  TQDataSampler capped;
  capped.max_samples = 1500;
  load(capped, {{0, 0}, {1e-3, 1}, {2e-3, -1}}, 1e-6L, true);
  QVERIFY(capped.truncated());
  QCOMPARE(capped.sampled_data_size(), 1500);
  for (qsizetype i = 0; i < 1500; i += 7) {
    TWavePoint a, b;
    full.get_sampled_point(i, a);
    capped.get_sampled_point(i, b);
    QCOMPARE(double(b.time), double(a.time));
    QCOMPARE(double(b.value), double(a.value));
  }
  // A period too small to move the time on at all still ends, at the cap.
  capped.max_samples = 1000;
  load(capped, {{1e6, 0}, {1e6 + 1, 1}}, 1e-20L, false);
  QVERIFY(capped.truncated());
  QCOMPARE(capped.sampled_data_size(), 1000);
}

void TestDataSampler::statistics_of_the_samples() {
  TQDataSampler s;
  load(s, {{0, 0}, {1e-6, 0}, {1e-6, 2}, {3e-6, 1}}, 5e-7L, true);
  TDataStatistics st;
  s.sampled_statistics(st);
  QVERIFY(!s.error);
  QCOMPARE(double(st.max_time), 3e-6);
  QCOMPARE(double(st.min_time), 0.0);
  QCOMPARE(double(st.max_value), 2.0);
  QCOMPARE(double(st.max_dy), 2.0);
  QCOMPARE(double(st.min_dy), -0.25);
  QCOMPARE(double(st.max_slope), 4e6);
  QCOMPARE(double(st.min_slope), -0.5e6);
  QCOMPARE(double(st.max_flat_dx), 5e-7);
  QCOMPARE(double(st.max_dx), 5e-7);
  QCOMPARE(double(st.min_dx), 5e-7);
}

QTEST_GUILESS_MAIN(TestDataSampler)
#include "test_data_sampler.moc"
