// Any bytes as a SPICE PWL file. A refused file must leave the table exactly as it was and say
// which line; a read one must hold the heading and one row of two numbers per pair, and, written
// as PWL and read back, write the same bytes again. Every SPICE number taken must be finite and
// its plain form the same value.
#include "NumberConversion.h"
#include "PwlFile.h"
#include "TQGridModel.h"
#include "TablePoints.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace {

const QTemporaryDir &scratch() {
  static const QTemporaryDir dir(
      QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm/fuzz_pwl-XXXXXX") : QString());
  if (!dir.isValid())
    std::abort();
  return dir;
}

void prepare(TQGridModel &t) {
  t.set_default_row_count(21);
  t.set_auto_number(true);
  t.set_row_count(25);
  for (int r = 0; r < t.row_count(); ++r)
    for (int c = 1; c < t.col_count(); ++c)
      t.set_cell(c, r, QStringLiteral("old%1.%2").arg(r).arg(c));
}

QByteArray read_all(const QString &name) {
  QFile f(name);
  if (!f.open(QIODevice::ReadOnly))
    std::abort();
  return f.readAll();
}

void check_numbers(const QByteArray &bytes) {
  for (const QByteArray &token : bytes.split(' ')) {
    const QString text = QString::fromLatin1(token);
    long double v = 0, again = 0;
    QString plain;
    if (!spice_number(text, v, &plain))
      continue;
    if (!std::isfinite(v) || !text_to_real(plain, again, u'.') || again != v)
      std::abort();
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  size = std::min<size_t>(size, 16384);
  const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
  check_numbers(bytes);
  const QString file = scratch().filePath(QStringLiteral("in.pwl"));
  {
    QFile f(file);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
      std::abort();
  }
  TQGridModel t;
  prepare(t);
  const TGridFileResult result = load_pwl_file(t, file);
  if (!result.ok()) {
    TQGridModel before;
    prepare(before);
    if (result.status != TGridFileResult::Failed || !result.error.startsWith(QStringLiteral("Line ")))
      std::abort();
    for (int r = 0; r < before.row_count(); ++r)
      for (int c = 0; c < before.col_count(); ++c)
        if (t.row_count() != before.row_count() || t.cell(c, r) != before.cell(c, r))
          std::abort();
    return 0;
  }
  if (t.row_count() < 21 || t.cell(1, 0) != QStringLiteral("Time") || t.cell(2, 0) != QStringLiteral("Value"))
    std::abort();
  std::vector<TWavePoint> points;
  table_points(t, points);
  int rows = 0; // data rows holding anything: every one must be a point
  for (int r = 1; r < t.row_count(); ++r)
    rows += !t.cell_view(1, r).isEmpty() || !t.cell_view(2, r).isEmpty();
  if (qsizetype(points.size()) != rows)
    std::abort();
  if (points.empty())
    return 0;
  const QString out = scratch().filePath(QStringLiteral("out.pwl"));
  const QString again = scratch().filePath(QStringLiteral("again.pwl"));
  TQGridModel back;
  prepare(back);
  if (!save_pwl_file(t, out).ok() || !load_pwl_file(back, out).ok() || !save_pwl_file(back, again).ok() ||
      read_all(out) != read_all(again))
    std::abort();
  return 0;
}
