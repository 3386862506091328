// Any bytes as a table file, read with each separator (tab, comma, space, semicolon). A load must put line k,
// split at the separator, into row k, decoded as UTF-8 when the whole file is UTF-8 and as Latin-1 otherwise;
// a failed load must leave the table as it was; saving and reading back must give the same cells;
// and the rows must turn into finite points.
#include "NumberConversion.h"
#include "SplitFunctions.h"
#include "TQGridModel.h"
#include "TablePoints.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

const QTemporaryDir &scratch() {
  // In memory where there is such a place: every save ends with a sync to disk.
  static const QTemporaryDir dir(QDir(QStringLiteral("/dev/shm")).exists()
                                     ? QStringLiteral("/dev/shm/fuzz_load_table-XXXXXX")
                                     : QString());
  if (!dir.isValid())
    std::abort();
  return dir;
}

bool same_table(const TQGridModel &a, const TQGridModel &b) {
  if (a.row_count() != b.row_count() || a.col_count() != b.col_count())
    return false;
  for (int r = 0; r < a.row_count(); ++r)
    for (int c = 0; c < a.col_count(); ++c)
      if (c == 0 ? a.cell(c, r) != b.cell(c, r) : a.cell_view(c, r) != b.cell_view(c, r))
        return false;
  return true;
}

// The lines of the file as the loader must see them, and the encoding it must read it in.
QStringList expected_lines(const QByteArray &bytes, TQGridModel::Encoding &encoding) {
  QByteArrayView body(bytes);
  QString text;
  const bool utf16 = (body.startsWith("\xFF\xFE") || body.startsWith("\xFE\xFF")) && body.size() % 2 == 0;
  if (utf16) {
    encoding = body.front() == '\xFF' ? TQGridModel::Encoding::utf16le : TQGridModel::Encoding::utf16be;
    QStringDecoder decode(encoding == TQGridModel::Encoding::utf16le ? QStringDecoder::Utf16LE
                                                                     : QStringDecoder::Utf16BE,
                          QStringDecoder::Flag::ConvertInitialBom);
    text = decode.decode(body.sliced(2));
  } else if (!body.isValidUtf8()) {
    encoding = TQGridModel::Encoding::latin1;
    text = QString::fromLatin1(body);
  } else {
    encoding = TQGridModel::Encoding::utf8;
    if (body.startsWith("\xEF\xBB\xBF"))
      body = body.sliced(3);
    QStringDecoder decode(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    text = decode.decode(body);
  }
  QStringList lines;
  qsizetype start = 0;
  while (start < text.size()) {
    qsizetype i = start;
    while (i < text.size() && text[i] != u'\n' && text[i] != u'\r')
      ++i;
    lines << text.mid(start, i - start);
    if (i + 1 < text.size() && text[i] == u'\r' && text[i + 1] == u'\n')
      ++i;
    start = i + 1;
  }
  return lines;
}

// A table with something in it, so that a load that keeps old cells shows.
void fill(TQGridModel &t) {
  t.set_row_count(25);
  for (int r = 0; r < t.row_count(); ++r)
    for (int c = 0; c < t.col_count(); ++c)
      t.set_cell(c, r, QStringLiteral("old%1.%2").arg(r).arg(c));
}

void prepare(TQGridModel &t, char separator, bool auto_number) {
  t.set_data_separator(separator);
  t.set_auto_number(auto_number);
  fill(t);
}

void check_load(const QStringList &lines, TQGridModel::Encoding encoding, const QString &file, char separator,
                bool auto_number, bool round_trip) {
  TQGridModel t;
  prepare(t, separator, auto_number);
  const TGridFileResult result = t.load_from_file(file);
  if (!result.ok()) {
    TQGridModel before;
    prepare(before, separator, auto_number);
    if (result.status != TGridFileResult::Failed || result.error.isEmpty() || !same_table(t, before))
      std::abort();
    return;
  }

  if (t.encoding() != encoding)
    std::abort();
  if (t.row_count() != std::max<qsizetype>(lines.size(), t.default_row_count()))
    std::abort();
  const int first = t.first_data_col();
  QStringList fields;
  for (int r = 0; r < t.row_count(); ++r) {
    fields.clear();
    if (r < lines.size())
      split_line(lines[r], QChar::fromLatin1(separator), fields);
    for (int c = first; c < t.col_count(); ++c) {
      const qsizetype j = c - first;
      const QString want = j < fields.size() ? fields[j] : QString();
      // Loading clears the cells from column 1 on: without auto_number, a row that gets no
      // field for column 0 keeps its number text.
      if (c == 0 && j >= fields.size())
        continue;
      if (t.cell_view(c, r) != want)
        std::abort();
    }
    if (auto_number && r > 0 && t.cell(0, r) != QString::number(r))
      std::abort();
  }

  std::vector<TWavePoint> points;
  table_points(t, points);
  if (qsizetype(points.size()) > t.row_count() - 1)
    std::abort();
  for (const TWavePoint &p : points)
    if (!std::isfinite(p.time) || !std::isfinite(p.value))
      std::abort();

  // Written and read back, the table is the same (with one separator per input: the table's
  // cells, not the separator, decide what a save writes).
  if (!round_trip)
    return;
  const QString copy = scratch().filePath(QStringLiteral("copy.txt"));
  if (!t.save_to_file(copy).ok())
    std::abort();
  TQGridModel back;
  prepare(back, separator, auto_number);
  if (!back.load_from_file(copy).ok())
    std::abort();
  // A Latin-1 table may be written as bytes that happen to be valid UTF-8 (the text that made it
  // Latin-1 was in a field the table does not keep); those are read back as UTF-8.
  if (back.latin1() == t.latin1() && !same_table(back, t))
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // Four loads and their checks of a file of 64 KB of line ends come near the 1 s limit under the
  // sanitizers; a quarter of that reaches the same code (big files are the bad-input tests' job),
  // and leaves room for the fifth load of the semicolon format.
  size = std::min<size_t>(size, 16384);
  const QString file = scratch().filePath(QStringLiteral("table.txt"));
  const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
  {
    QFile f(file);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
      std::abort();
  }
  TQGridModel::Encoding encoding{};
  const QStringList lines = expected_lines(bytes, encoding);
  const int round_trip = size > 0 ? data[0] % 4 : 0;
  check_load(lines, encoding, file, '\t', true, round_trip == 0);
  check_load(lines, encoding, file, ',', true, round_trip == 1);
  check_load(lines, encoding, file, ' ', false, round_trip == 2);
  check_load(lines, encoding, file, ';', true, round_trip == 3);
  return 0;
}
