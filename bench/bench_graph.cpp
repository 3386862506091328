// Speed of one full chart frame as the main window uses it.
#include "TQGraphUnit.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <cmath>

namespace {

QApplication &app() {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "bench_graph";
  static char *argv[] = {name, nullptr};
  static QApplication a(argc, argv);
  return a;
}

// A 450 x 450 graph holding an 8000-sample waveform: curve 1 the samples, curve 2 the stepped
// trace with two points per sample, markers on. Target: one Redraw under 15 ms.
void BM_RenderGraph(benchmark::State &state) {
  app();
  TQGraph g;
  g.resize(450, 450);
  g.setXAutoRange(true);
  g.setYAutoRange(true);
  g.SetYCurveColors(1, 0x0000FF, 0xFF0000);
  g.SetYCurveColors(2, 0x008000, 0x008000);
  for (int i = 0; i < 8000; ++i) {
    const double t = i * 1e-6;
    const double v = 5 + 4 * std::sin(i / 300.0);
    g.AddPoint(1, t, v, 0);
    g.AddPoint(2, t, v, 0);
    g.AddPoint(2, t + 1e-6, v, 0);
  }
  for (auto _ : state) {
    g.Redraw();
    benchmark::DoNotOptimize(g.BackBuffer().constBits());
  }
}
BENCHMARK(BM_RenderGraph)->Unit(benchmark::kMillisecond);

} // namespace
