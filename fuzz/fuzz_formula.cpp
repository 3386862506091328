// Any bytes as a formula over a short span. It is either refused with a message (and a place
// inside the text when it names one) or placed into points that start and end on the span, in
// time order, all finite, no more than the device holds, within the evaluation ceiling.
#include "Formula.h"

#include <QString>

#include <cmath>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
  TFormulaRequest r;
  r.expression = text;
  r.end = 1e-3L;
  r.max_evaluations = 4000; // keeps a run short; the ceiling is what is checked
  TFormulaResult res;
  const bool placed = place_formula(r, res);
  if (res.evaluations > r.max_evaluations + 64)
    std::abort();
  if (!placed) {
    if (res.error.message.isEmpty() || !res.points.empty() || res.error.position > text.size())
      std::abort();
    return 0;
  }
  const auto &p = res.points;
  if (p.size() < 2 || p.size() > std::size_t(formula_max_points) || p.front().time != r.start ||
      p.back().time != r.end)
    std::abort();
  for (std::size_t i = 0; i < p.size(); ++i)
    if (!std::isfinite(p[i].value) || (i && p[i].time < p[i - 1].time))
      std::abort();
  return 0;
}
