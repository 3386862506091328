// Point placement for a formula. Targets: at most 1.15 N* points (N*: the fewest a piecewise-
// linear line through points on the curve needs, the integral of sqrt(|f''| / 8e) plus two per
// jump) and under 50 ms a placement.

#include "Formula.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>

namespace {

struct Fewest {
  double n_star = 0;
  double even = 0;
};

// N* and the evenly spaced count, from second differences of the formula every 50 ns; a step
// whose change passes the accuracy is a jump and counts two points, and even spacing then
// needs every 50 ns.
Fewest fewest(const TFormulaRequest &r, double e) {
  TFormula f;
  TFormulaError error;
  f.set_expression(r.expression, error);
  const double h = double(formula_time_resolution);
  const long n = std::lround(double(r.end - r.start) / h);
  double prev2 = 0, prev = 0, integral = 0, max_curve = 0;
  int jumps = 0;
  for (long k = 0; k <= n; ++k) {
    double v = 0;
    f.evaluate(double(r.start) + k * h, v, error);
    if (k >= 1 && std::fabs(v - prev) > e)
      ++jumps;
    else if (k >= 2 && std::fabs(prev - prev2) <= e) {
      const double curve = std::fabs(v - 2 * prev + prev2) / (h * h);
      integral += std::sqrt(curve / (8 * e)) * h;
      max_curve = std::max(max_curve, curve);
    }
    prev2 = prev;
    prev = v;
  }
  const double span = double(r.end - r.start);
  return {integral + 2 * jumps, jumps ? n + 1.0 : span * std::sqrt(max_curve / (8 * e))};
}

void BM_FormulaPlacement(benchmark::State &state, const char *expression, double accuracy) {
  TFormulaRequest r;
  r.expression = QString::fromLatin1(expression);
  r.end = 10e-3L;
  r.accuracy = accuracy;
  TFormulaResult result;
  for (auto _ : state) {
    place_formula(r, result);
    benchmark::DoNotOptimize(result.points.data());
  }
  if (!result.error.message.isEmpty())
    state.SkipWithError(result.error.message.toStdString().c_str());
  const Fewest best = fewest(r, double(result.accuracy));
  state.counters["points"] = double(result.points.size());
  state.counters["N_star"] = best.n_star;
  state.counters["ratio"] = double(result.points.size()) / best.n_star;
  state.counters["even"] = best.even;
  state.counters["evaluations"] = double(result.evaluations);
}

BENCHMARK_CAPTURE(BM_FormulaPlacement, sine_1kHz, "5*sin(2*pi*1k*t)", 10e-3)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FormulaPlacement, decay_1ms, "5*exp(-t/1m)", 10e-3)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FormulaPlacement, square_1kHz, "5*square(t,1m,0.5)", 10e-3)
    ->Unit(benchmark::kMillisecond);

} // namespace
