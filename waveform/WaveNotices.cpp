#include "WaveNotices.h"

#include "QX5200_Waveform.h"
#include "TablePoints.h"

#include <QCoreApplication>
#include <QLocale>

QString limited_samples_text(const TQX5200Waveform &w) {
  const qsizetype n = w.limited_samples();
  if (n == 0)
    return {};
  const QString units = w.load_board.lb_units.isEmpty() ? QStringLiteral("V") : w.load_board.lb_units;
  const QString limit = QLocale().toString(double(w.output_limit()), 'g', 6) + u' ' + units;
  return n == 1 ? QCoreApplication::translate("WaveNotices",
                                              "1 sample is limited to the load board's maximum of %1")
                      .arg(limit)
                : QCoreApplication::translate("WaveNotices",
                                              "%1 samples are limited to the load board's maximum of %2")
                      .arg(n)
                      .arg(limit);
}

QString skipped_rows_text(const TSkippedRows &skipped) {
  if (skipped.count == 0)
    return {};
  // A cell may hold a whole pasted document.
  const QString text = skipped.first_text.size() > 40 ? skipped.first_text.left(37) + QStringLiteral("...")
                                                      : skipped.first_text;
  const QString first = QStringLiteral("row %1 \"%2\"").arg(skipped.first_row).arg(text);
  return skipped.count == 1 ? QCoreApplication::translate("WaveNotices", "1 row skipped: %1").arg(first)
                            : QCoreApplication::translate("WaveNotices", "%1 rows skipped: %2")
                                  .arg(skipped.count)
                                  .arg(first);
}
