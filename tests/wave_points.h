#pragma once

#include "TWavePoint.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <cmath>
#include <vector>

// Waveform points as plain (time, value) pairs for comparisons and failure texts.
using Points = QList<QPair<double, double>>;

inline Points to_points(const std::vector<TWavePoint> &points) {
  Points out;
  for (const TWavePoint &p : points)
    out.append({double(p.time), double(p.value)});
  return out;
}

// Failure text for a point list.
inline QString describe(const Points &points) {
  QStringList out;
  for (const auto &p : points)
    out += QStringLiteral("(%1, %2)").arg(p.first, 0, 'g', 17).arg(p.second, 0, 'g', 17);
  return out.join(u' ');
}

// Same length, times within time_tolerance and values within 1e-12.
inline bool points_match(const Points &a, const Points &b, double time_tolerance) {
  if (a.size() != b.size())
    return false;
  for (qsizetype i = 0; i < a.size(); ++i)
    if (std::fabs(a[i].first - b[i].first) > time_tolerance || std::fabs(a[i].second - b[i].second) > 1e-12)
      return false;
  return true;
}
