// Clipboard text pasted at any cell, in or out of the table, of a small filled table. The result
// is compared with a plain cell-by-cell walk of the paste rules over a copy of the table: tab
// stores the field and moves right, a line end (CR LF, lone CR or lone LF) stores the field,
// returns to the starting column and moves down, a row is added when the cursor stands just
// below the last row, and nothing is taken when the paste starts outside the table.
#include "TQGridModel.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

// Row after row, col_count cells each (one flat list: a paste can add 100,000 rows).
using Cells = std::vector<QString>;

Cells cells_of(const TQGridModel &t) {
  Cells out;
  out.reserve(size_t(t.row_count()) * size_t(t.col_count()));
  for (int r = 0; r < t.row_count(); ++r)
    for (int c = 0; c < t.col_count(); ++c)
      out.push_back(t.cell(c, r));
  return out;
}

int cursor(uint8_t b) {
  if (b == 0x7f)
    return INT_MAX;
  if (b == 0x80)
    return INT_MIN;
  return int8_t(b);
}

bool same_cells(const TQGridModel &t, const Cells &cells, bool numbered) {
  const int cols = t.col_count();
  if (size_t(t.row_count()) * size_t(cols) != cells.size())
    return false;
  for (int r = 0; r < t.row_count(); ++r)
    for (int c = 0; c < cols; ++c) {
      if (numbered && c == 0) {
        if (t.cell(0, r) != (r == 0 ? QStringLiteral("#") : QString::number(r)))
          return false;
      } else if (c == 0 ? t.cell(c, r) != cells[size_t(r) * cols]
                        : t.cell_view(c, r) != cells[size_t(r) * cols + c]) {
        return false;
      }
    }
  return true;
}

// The rules walked one character at a time over plain cells. Returns the characters taken, or
// -1 when the paste starts outside the table.
qsizetype reference_paste(Cells &cells, int cols, bool auto_number, QStringView text, int col, int row) {
  const int rows = int(cells.size()) / cols;
  if (col < 0 || col >= cols || row < 0 || row > rows)
    return -1;
  if (text.size() > TQGridModel::paste_limit) {
    qsizetype n = TQGridModel::paste_limit;
    if (text[n - 1].isHighSurrogate())
      --n;
    text = text.left(n);
  }
  // At most one row per tab or line end.
  const auto breaks = std::count_if(text.begin(), text.end(),
                                    [](QChar ch) { return ch == u'\t' || ch == u'\r' || ch == u'\n'; });
  cells.reserve(cells.size() + size_t(breaks) * size_t(cols));
  int c = col;
  int r = row;
  QString field;
  auto grow = [&] {
    if (r >= int(cells.size()) / cols)
      cells.resize(cells.size() + size_t(cols));
  };
  auto store = [&] {
    const bool number_cell = auto_number && c == 0 && r >= 1;
    if (c < cols && r < int(cells.size()) / cols && !number_cell)
      cells[size_t(r) * cols + c] = field;
    field.clear();
  };
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar ch = text[i];
    if (ch == u'\t') {
      grow();
      store();
      ++c;
    } else if (ch == u'\r' || ch == u'\n') {
      const bool second_half = ch == u'\n' && i > 0 && text[i - 1] == u'\r';
      if (!second_half) {
        grow();
        store();
        c = col;
      }
      const bool first_half = ch == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n';
      if (!first_half && r < int(cells.size()) / cols)
        ++r;
    } else {
      field += ch;
    }
  }
  return text.size();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 4)
    return 0;
  const int rows = 1 + data[0] % 40;
  const bool auto_number = data[1] & 1;
  const int cols = 1 + (data[1] >> 1) % 4;
  const int col = cursor(data[2]);
  const int row = cursor(data[3]);
  QString text = QString::fromUtf8(reinterpret_cast<const char *>(data + 4), qsizetype(size - 4));
  if ((data[1] & 0x80) && !text.isEmpty()) {
    // Around the paste limit: from a little under it to a little over, the text at the end so
    // that the cut falls inside it (filler in the first field keeps the table small).
    const qsizetype target = TQGridModel::paste_limit - 8 + ((data[1] >> 3) & 15);
    if (text.size() < target)
      text.prepend(QString(target - text.size(), u'x'));
  }

  TQGridModel t(cols, rows);
  t.set_auto_number(auto_number);
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c)
      t.set_cell(c, r, QStringLiteral("%1.%2").arg(r).arg(c));
  t.set_changed(false);
  Cells expected = cells_of(t);

  const TGridPasteResult result = t.paste_text(text, col, row);
  const qsizetype taken = reference_paste(expected, cols, auto_number, text, col, row);
  const bool accepted = taken >= 0;
  // After a paste the number column reads "#" and the row numbers.
  const bool numbered = accepted && auto_number;

  if (accepted ? result.taken != taken || result.taken + result.dropped != text.size()
               : result.taken != 0 || result.dropped != 0)
    std::abort();
  if (result.taken > TQGridModel::paste_limit)
    std::abort();
  if (!same_cells(t, expected, numbered))
    std::abort();
  // The view's interface counts the same rows and columns.
  if (t.rowCount() != t.row_count() - TQGridModel::fixed_rows ||
      t.columnCount() != t.col_count() - TQGridModel::fixed_cols)
    std::abort();
  // A paste is an edit; one refused for its starting cell leaves the table alone.
  if (t.changed() != accepted)
    std::abort();
  return 0;
}
