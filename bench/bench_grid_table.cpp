// Loading and saving a table of a million lines (a heading plus two numeric columns, ~40 MB), as
// a tab file and as a semicolon file with comma decimals, and the undo step of an edit in it.
#include "TQGridModel.h"
#include "TQGridUndo.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>

#include <sys/resource.h>

namespace {

// The same million points with `separator` between the fields. A semicolon file is written as a
// comma-decimal spreadsheet writes it, so its numbers carry commas.
QString write_big_file(const QString &name, char separator) {
  QFile f(name);
  if (!f.open(QIODevice::WriteOnly))
    return QString();
  QByteArray text = QByteArray("Time") + separator + "Value\r\n";
  for (int i = 1; i < 1000000; ++i) {
    // Times in steps of 1.25 us and values with the digits real exports carry.
    QByteArray line = QByteArray::number(i * 1.25e-6, 'e', 14) + separator +
                      QByteArray::number(12.5 + (i % 977) * 0.0123456789, 'f', 12) + "\r\n";
    if (separator == ';')
      line.replace('.', ',');
    text += line;
    if (text.size() > (1 << 20)) {
      f.write(text);
      text.clear();
    }
  }
  f.write(text);
  return name;
}

const QString &big_file(char separator = '\t') {
  static QTemporaryDir dir;
  if (separator == ';') {
    static const QString semicolon = write_big_file(dir.filePath("big.csv"), ';');
    return semicolon;
  }
  // QX5200_BENCH_TABLE keeps the file, e.g. to time awk over the same bytes.
  static const QString tab = [] {
    const QString kept = qEnvironmentVariable("QX5200_BENCH_TABLE");
    return write_big_file(kept.isEmpty() ? dir.filePath("big.tab") : kept, '\t');
  }();
  return tab;
}

TQGridModel &window_table(TQGridModel &t, char separator = '\t') {
  t.set_default_row_count(21);
  t.set_auto_number(true);
  t.set_data_separator(separator);
  return t;
}

// Resident memory now, from /proc.
double rss_mb() {
  QFile f("/proc/self/statm");
  if (!f.open(QIODevice::ReadOnly))
    return 0;
  const QList<QByteArray> fields = f.readAll().split(' ');
  return fields.size() > 1 ? fields[1].toDouble() * 4096.0 / 1048576.0 : 0;
}

long peak_rss_mb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss / 1024;
}

void BM_LoadTable(benchmark::State &state, char separator) {
  const QString &name = big_file(separator);
  if (name.isEmpty()) {
    state.SkipWithError("cannot write the test file");
    return;
  }
  state.counters["file_MB"] = double(QFileInfo(name).size()) / 1e6;
  double table_mb = 0;
  for (auto _ : state) {
    const double before = rss_mb();
    TQGridModel t;
    window_table(t, separator);
    if (!t.load_from_file(name).ok())
      state.SkipWithError("load failed");
    // Freed tables stay mapped for the next iteration: the first one tells the size.
    table_mb = std::max(table_mb, rss_mb() - before);
    benchmark::DoNotOptimize(t.row_count());
    state.counters["rows"] = t.row_count();
    state.counters["peak_RSS_MB"] = double(peak_rss_mb());
  }
  state.counters["table_MB"] = table_mb;
}
BENCHMARK_CAPTURE(BM_LoadTable, tab, '\t')->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_LoadTable, semicolon, ';')->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_SaveTable(benchmark::State &state) {
  const QString &name = big_file();
  TQGridModel t;
  window_table(t);
  if (!t.load_from_file(name).ok()) {
    state.SkipWithError("load failed");
    return;
  }
  QTemporaryDir out;
  const QString out_name = out.filePath("saved.tab");
  for (auto _ : state) {
    if (!t.save_to_file(out_name).ok())
      state.SkipWithError("save failed");
  }
  state.counters["peak_RSS_MB"] = double(peak_rss_mb());
}
BENCHMARK(BM_SaveTable)->Unit(benchmark::kMillisecond)->Iterations(3);

// One typed cell made a step: the step compares every row with the table after the last one.
void BM_UndoStepOfOneCell(benchmark::State &state) {
  TQGridModel t;
  window_table(t);
  if (!t.load_from_file(big_file()).ok()) {
    state.SkipWithError("load failed");
    return;
  }
  TQGridUndo undo(&t);
  int row = 1;
  for (auto _ : state) {
    t.set_cell(2, row, QString::number(row));
    undo.record(TGridStepKind::edit, QStringLiteral("Typing"));
    row = row % 1000 + 1;
  }
  state.counters["held_MB"] = double(undo.held_bytes()) / 1048576.0;
}
BENCHMARK(BM_UndoStepOfOneCell)->Unit(benchmark::kMillisecond);

} // namespace
