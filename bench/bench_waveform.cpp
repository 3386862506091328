// Building the upload words and device point list. Targets: every build under 20 ms, except the
// million-point export, whose build must stay under 3x the time of loading its points.

#include "../tools/WaveFileLoader.h"
#include "NumberConversion.h"
#include "QX5200_Waveform.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <numbers>
#include <vector>

namespace {

constexpr int large_export_points = 1000000;

// A smooth curve over 10 ms sampled every 10 ns, as a circuit simulator exports it.
std::vector<TWavePoint> large_export() {
  std::vector<TWavePoint> pts;
  pts.reserve(large_export_points);
  for (int i = 0; i < large_export_points; ++i) {
    const long double t = i * 1e-8L;
    pts.push_back({t, 1.5L + std::sin(2 * std::numbers::pi_v<long double> * t / 2.5e-3L) +
                          0.25L * std::sin(2 * std::numbers::pi_v<long double> * t / 3.1e-4L)});
  }
  return pts;
}

void load(TQX5200Waveform &w, const std::vector<TWavePoint> &pts) {
  w.clear_points();
  for (const TWavePoint &p : pts)
    w.add_point(p.time, p.value);
}

void build(benchmark::State &state, TQX5200Waveform &w) {
  w.repeat_count = 1;
  w.load_board.lb_max_power = 1e9;
  w.load_board.lb_max_p2t = 1e9;
  for (auto _ : state)
    benchmark::DoNotOptimize(w.build_waveform(1));
  if (w.data_error())
    state.SkipWithError("the waveform does not build");
  state.counters["words"] = w.buffer_count();
  state.counters["device_points"] = double(w.sampled_data_count());
}

void BM_BuildWaveform_SingleRamp(benchmark::State &state) {
  TQX5200Waveform w;
  load(w, {{0, 0}, {1e-2L, 1}});
  build(state, w);
}
BENCHMARK(BM_BuildWaveform_SingleRamp)->Unit(benchmark::kMillisecond);

// 0.5 us rise, 2 us high, 0.5 us fall, 2 us low: every ramp is a short segment costing 25 words,
// so 318 ramps fill the 7960-word budget.
void BM_BuildWaveform_ManySegments(benchmark::State &state) {
  std::vector<TWavePoint> pts;
  long double t = 0;
  for (int i = 0; i < 159; ++i) {
    pts.push_back({t, 0});
    pts.push_back({t + 5e-7L, 1});
    pts.push_back({t + 2.5e-6L, 1});
    pts.push_back({t + 3e-6L, 0});
    t += 5e-6L;
  }
  pts.push_back({t, 0});
  TQX5200Waveform w;
  load(w, pts);
  build(state, w);
  state.counters["segments"] = double(w.segments().size());
}
BENCHMARK(BM_BuildWaveform_ManySegments)->Unit(benchmark::kMillisecond);

void BM_BuildWaveform_LargeExport(benchmark::State &state) {
  TQX5200Waveform w;
  load(w, large_export());
  build(state, w);
}
BENCHMARK(BM_BuildWaveform_LargeExport)->Unit(benchmark::kMillisecond);

// The yardsticks for the large export: handing its points to the waveform side, and reading
// them from an exported text file as the checker does.
void BM_AddPoints_LargeExport(benchmark::State &state) {
  const std::vector<TWavePoint> pts = large_export();
  TQX5200Waveform w;
  for (auto _ : state) {
    load(w, pts);
    benchmark::DoNotOptimize(w.data_count());
  }
}
BENCHMARK(BM_AddPoints_LargeExport)->Unit(benchmark::kMillisecond);

void BM_LoadFile_LargeExport(benchmark::State &state) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("export.txt"));
  {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) {
      state.SkipWithError("cannot write the export");
      return;
    }
    f.write("time\tV(out)\r\n");
    const char decimal = char(locale_decimal_separator().toLatin1());
    char line[96];
    for (const TWavePoint &p : large_export()) {
      const int n = std::snprintf(line, sizeof line, "%.17Le\t%.17Le\r\n", p.time, p.value);
      for (int i = 0; i < n; ++i)
        if (line[i] == '.')
          line[i] = decimal;
      f.write(line, n);
    }
  }
  TQX5200Waveform w;
  for (auto _ : state) {
    std::vector<TWavePoint> pts;
    QString reason;
    if (!load_wave_file(path, TWaveFileFormat{}, pts, reason)) {
      state.SkipWithError("cannot read the export");
      return;
    }
    load(w, pts);
    benchmark::DoNotOptimize(w.data_count());
  }
  if (w.data_count() != large_export_points)
    state.SkipWithError("the export did not load whole");
}
BENCHMARK(BM_LoadFile_LargeExport)->Unit(benchmark::kMillisecond);

} // namespace
