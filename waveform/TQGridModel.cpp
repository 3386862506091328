#include "TQGridModel.h"

#include "NumberConversion.h"
#include "SafeFile.h"
#include "SplitFunctions.h"
#include "TablePoints.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <climits>
#include <new>
#include <optional>

#include <sys/stat.h>

// ---- PackedRow -------------------------------------------------------------------------------

namespace {

constexpr qsizetype header_units = 2; // one 32-bit length per column, as two UTF-16 units
constexpr qsizetype max_cell_length = 0x7fffffff;
// Rows up to this many columns are built without a list of their cells on the heap.
constexpr int inline_cols = 16;

quint32 packed_length(const QString &s, int col) {
  const QChar *h = s.constData() + header_units * col;
  return (quint32(h[0].unicode()) << 16) | h[1].unicode();
}

} // namespace

QStringView TQGridModel::PackedRow::cell(int col, int col_count) const {
  if (s_.isNull() || col < 0 || col >= col_count)
    return {};
  qsizetype offset = header_units * col_count;
  for (int k = 0; k < col; ++k)
    offset += packed_length(s_, k);
  return QStringView(s_).mid(offset, packed_length(s_, col));
}

TQGridModel::PackedRow TQGridModel::PackedRow::build(const PackedRow &keep, int first,
                                                     const QStringView *texts, int count, int col_count) {
  // Views into `keep` stay valid until the new string is complete.
  QStringView cells[inline_cols];
  std::vector<QStringView> large;
  QStringView *c = cells;
  if (col_count > inline_cols) {
    large.resize(col_count);
    c = large.data();
  }
  qsizetype total = 0;
  for (int k = 0; k < col_count; ++k) {
    if (k < first)
      c[k] = keep.cell(k, col_count);
    else if (k - first < count)
      c[k] = texts[k - first];
    else
      c[k] = {};
    c[k] = c[k].left(max_cell_length);
    total += c[k].size();
  }
  PackedRow row;
  if (total == 0)
    return row;
  QString s(header_units * col_count + total, Qt::Uninitialized);
  QChar *out = s.data();
  for (int k = 0; k < col_count; ++k) {
    const quint32 n = quint32(c[k].size());
    *out++ = QChar(char16_t(n >> 16));
    *out++ = QChar(char16_t(n & 0xffff));
  }
  for (int k = 0; k < col_count; ++k) {
    std::copy(c[k].begin(), c[k].end(), out);
    out += c[k].size();
  }
  row.s_ = std::move(s);
  return row;
}

void TQGridModel::PackedRow::set_cell(int col, QStringView text, int col_count) {
  if (col < 0 || col >= col_count)
    return;
  if (s_.isNull() && text.isEmpty())
    return;
  std::vector<QStringView> texts(col_count);
  for (int k = 0; k < col_count; ++k)
    texts[k] = k == col ? text : cell(k, col_count);
  *this = build(PackedRow(), 0, texts.data(), col_count, col_count);
}

// ---- TQGridModel -----------------------------------------------------------------------------

TQGridModel::TQGridModel(int col_count, int row_count, QObject *parent)
    : QAbstractTableModel(parent), col_count_(std::max(1, col_count)), rows_(std::max(1, row_count)) {}

void TQGridModel::set_row_count(int count) {
  count = std::max(count, fixed_rows);
  const int old = row_count();
  if (count > old) {
    beginInsertRows({}, old - fixed_rows, count - fixed_rows - 1);
    rows_.resize(count);
    endInsertRows();
  } else if (count < old) {
    beginRemoveRows({}, count - fixed_rows, old - fixed_rows - 1);
    rows_.resize(count);
    endRemoveRows();
  }
}

QString TQGridModel::cell(int col, int row) const {
  if (auto_number_ && col == 0 && row >= fixed_rows && row < row_count())
    return QString::number(row);
  return cell_view(col, row).toString();
}

QStringView TQGridModel::cell_view(int col, int row) const {
  if (row < 0 || row >= row_count())
    return {};
  return rows_[row].cell(col, col_count_);
}

void TQGridModel::set_cell(int col, int row, QStringView text) {
  if (row < 0 || row >= row_count() || col < 0 || col >= col_count_)
    return;
  // Under auto_number the number cells follow the row index; nothing is stored for them.
  if (auto_number_ && col == 0 && row >= fixed_rows)
    return;
  rows_[row].set_cell(col, text, col_count_);
  emit_rows_changed(row, row);
}

void TQGridModel::set_auto_number(bool on) {
  if (on == auto_number_)
    return;
  if (!on) {
    // Keep the numbers the user saw, as a grid that wrote them into its cells would.
    auto_number_ = false;
    for (int r = fixed_rows; r < row_count(); ++r)
      rows_[r].set_cell(0, QString::number(r), col_count_);
  } else {
    auto_number_ = true;
    for (int r = fixed_rows; r < row_count(); ++r)
      rows_[r].set_cell(0, {}, col_count_);
    renumber();
  }
  emit_all_changed();
}

void TQGridModel::emit_rows_changed(int top, int bottom) {
  top = std::max(top, 0);
  bottom = std::min(bottom, row_count() - 1);
  if (top > bottom)
    return;
  if (top < fixed_rows)
    emit headerDataChanged(Qt::Horizontal, 0, col_count_ - fixed_cols - 1);
  const int vt = std::max(top, fixed_rows) - fixed_rows;
  const int vb = bottom - fixed_rows;
  if (vt <= vb && col_count_ > fixed_cols) {
    emit dataChanged(index(vt, 0), index(vb, col_count_ - fixed_cols - 1));
    emit headerDataChanged(Qt::Vertical, vt, vb);
  }
}

void TQGridModel::emit_all_changed() { emit_rows_changed(0, row_count() - 1); }

void TQGridModel::after_operation() {
  if (auto_number_)
    renumber();
  changed_ = true;
}

void TQGridModel::add_row() {
  set_row_count(row_count() + 1);
  after_operation();
}

void TQGridModel::move_data_cells(int to, int from) {
  // Columns first_data_col() .. last of `to` take the texts of `from`.
  const int first = first_data_col();
  if (first == 0 || (to >= fixed_rows && from >= fixed_rows)) {
    // Nothing else is stored in these rows (under auto_number a data row stores no number).
    rows_[to] = rows_[from];
    return;
  }
  std::vector<QStringView> t;
  for (int k = first; k < col_count_; ++k)
    t.push_back(rows_[from].cell(k, col_count_));
  rows_[to] = PackedRow::build(rows_[to], first, t.data(), int(t.size()), col_count_);
}

void TQGridModel::insert_row_at(int row) {
  if (row < fixed_rows || row > row_count() || row_count() <= fixed_rows + 1)
    return;
  set_row_count(row_count() + 1);
  const int last = row_count() - 1;
  const int first = first_data_col();
  if (auto_number_ && row >= fixed_rows) {
    // Only data columns are stored in data rows: shift whole rows.
    std::move_backward(rows_.begin() + row, rows_.begin() + last, rows_.begin() + last + 1);
    rows_[row] = PackedRow();
  } else {
    for (int r = last; r > row; --r)
      move_data_cells(r, r - 1);
    rows_[row] = PackedRow::build(rows_[row], first, nullptr, 0, col_count_);
  }
  emit_rows_changed(row, last);
  after_operation();
}

void TQGridModel::clear_row(int row) {
  if (row < 0 || row >= row_count())
    return;
  rows_[row] = PackedRow::build(rows_[row], first_data_col(), nullptr, 0, col_count_);
  emit_rows_changed(row, row);
  after_operation();
}

void TQGridModel::clear_rows(int top, int bottom) {
  top = std::max(top, 0);
  bottom = std::min(bottom, row_count() - 1);
  const int first = first_data_col();
  for (int r = top; r <= bottom; ++r)
    rows_[r] = PackedRow::build(rows_[r], first, nullptr, 0, col_count_);
  emit_rows_changed(top, bottom);
  after_operation();
}

void TQGridModel::delete_rows(int top, int bottom) {
  const int last = row_count() - 1;
  if (top == fixed_rows && bottom == last) {
    reset_table();
    return;
  }
  top = std::max(top, 0);
  bottom = std::min(bottom, last);
  if (top > bottom) {
    after_operation();
    return;
  }
  const int n = bottom - top + 1;
  // The rows below move up; the number column stays where it is (renumber rewrites it).
  if (auto_number_ && top >= fixed_rows) {
    std::move(rows_.begin() + bottom + 1, rows_.end(), rows_.begin() + top);
  } else {
    for (int r = top; r + n <= last; ++r) {
      std::vector<QStringView> t;
      for (int k = fixed_cols; k < col_count_; ++k)
        t.push_back(rows_[r + n].cell(k, col_count_));
      rows_[r] = PackedRow::build(rows_[r], fixed_cols, t.data(), int(t.size()), col_count_);
    }
  }
  set_row_count(row_count() - n);
  emit_rows_changed(top, row_count() - 1);
  after_operation();
}

void TQGridModel::reset_table() {
  set_row_count(default_row_count_);
  for (auto &row : rows_)
    row = PackedRow::build(row, fixed_cols, nullptr, 0, col_count_);
  emit_all_changed();
  after_operation();
}

void TQGridModel::replace_rows(int at, int remove, std::vector<PackedRow> rows) {
  at = std::clamp(at, 0, row_count());
  remove = std::clamp(remove, 0, row_count() - at);
  const int insert = int(std::min(rows.size(), size_t(INT_MAX - row_count())));
  if (row_count() - remove + insert < fixed_rows)
    return;
  const int common = std::min(remove, insert);
  const int first = at + common; // where rows are added or dropped
  if (insert != remove && first < fixed_rows) {
    // The heading row itself comes or goes: the view starts over.
    beginResetModel();
    rows_.erase(rows_.begin() + at, rows_.begin() + at + remove);
    rows_.insert(rows_.begin() + at, std::make_move_iterator(rows.begin()),
                 std::make_move_iterator(rows.begin() + insert));
    endResetModel();
  } else {
    std::move(rows.begin(), rows.begin() + common, rows_.begin() + at);
    if (insert > remove) {
      beginInsertRows({}, first - fixed_rows, first + insert - remove - 1 - fixed_rows);
      rows_.insert(rows_.begin() + first, std::make_move_iterator(rows.begin() + common),
                   std::make_move_iterator(rows.begin() + insert));
      endInsertRows();
    } else if (remove > insert) {
      beginRemoveRows({}, first - fixed_rows, first + remove - insert - 1 - fixed_rows);
      rows_.erase(rows_.begin() + first, rows_.begin() + first + remove - insert);
      endRemoveRows();
    }
    emit_rows_changed(at, first - 1);
  }
  after_operation();
}

void TQGridModel::renumber() {
  rows_[0].set_cell(0, u"#", col_count_);
  if (!auto_number_) {
    for (int r = fixed_rows; r < row_count(); ++r)
      rows_[r].set_cell(0, QString::number(r), col_count_);
  }
  emit headerDataChanged(Qt::Vertical, 0, row_count() - fixed_rows - 1);
  changed_ = true;
}

void TQGridModel::row_moved(int from, int to) {
  if (from < 0 || to < 0 || from >= row_count() || to >= row_count())
    return;
  if (from != to) {
    if (auto_number_ && (from < fixed_rows || to < fixed_rows)) {
      // The heading's "#" is stored, the numbers are not: exchange the other columns.
      std::vector<QStringView> a, b;
      for (int k = fixed_cols; k < col_count_; ++k) {
        a.push_back(rows_[from].cell(k, col_count_));
        b.push_back(rows_[to].cell(k, col_count_));
      }
      PackedRow ra = PackedRow::build(rows_[to], fixed_cols, a.data(), int(a.size()), col_count_);
      PackedRow rb = PackedRow::build(rows_[from], fixed_cols, b.data(), int(b.size()), col_count_);
      rows_[to] = std::move(ra);
      rows_[from] = std::move(rb);
    } else {
      std::swap(rows_[from], rows_[to]);
    }
    emit_rows_changed(from, from);
    emit_rows_changed(to, to);
  }
  after_operation();
}

int TQGridModel::sort_rows_by_time() {
  const QChar decimal = locale_decimal_separator();
  struct Key {
    bool timed;
    long double time;
    int row;
  };
  std::vector<Key> keys;
  keys.reserve(rows_.size());
  for (int r = fixed_rows; r < row_count(); ++r) {
    long double time = 0;
    const bool timed = cell_real(cell_view(time_col, r), time, decimal);
    keys.push_back({timed, time, r});
  }
  std::stable_sort(keys.begin(), keys.end(), [](const Key &a, const Key &b) {
    if (a.timed != b.timed)
      return a.timed;
    return a.timed && a.time < b.time;
  });
  int moved = 0;
  int top = row_count();
  int bottom = -1;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const int row = int(i) + fixed_rows;
    if (keys[i].row != row) {
      ++moved;
      top = std::min(top, row);
      bottom = std::max(bottom, row);
    }
  }
  if (moved == 0)
    return 0;
  // Whole rows move: a data row stores no number under auto_number, and without it column 0
  // holds data that belongs to the row.
  std::vector<PackedRow> sorted;
  sorted.reserve(keys.size());
  for (const Key &k : keys)
    sorted.push_back(std::move(rows_[k.row]));
  std::move(sorted.begin(), sorted.end(), rows_.begin() + fixed_rows);
  emit_rows_changed(top, bottom);
  after_operation();
  return moved;
}

int TQGridModel::remove_repeated_rows() {
  const QChar decimal = locale_decimal_separator();
  std::vector<bool> repeated(rows_.size(), false);
  int removed = 0;
  bool previous_point = false;
  long double previous_time = 0, previous_value = 0;
  for (int r = fixed_rows; r < row_count(); ++r) {
    long double time = 0, value = 0;
    const bool point = cell_real(cell_view(time_col, r), time, decimal) &&
                       cell_real(cell_view(value_col, r), value, decimal);
    if (point && previous_point && time == previous_time && value == previous_value) {
      repeated[r] = true;
      ++removed;
    }
    previous_point = point;
    previous_time = time;
    previous_value = value;
  }
  if (removed == 0)
    return 0;
  int first_removed = fixed_rows;
  while (!repeated[first_removed])
    ++first_removed;
  int to = first_removed;
  for (int r = first_removed; r < row_count(); ++r)
    if (!repeated[r])
      rows_[to++] = std::move(rows_[r]);
  set_row_count(to);
  emit_rows_changed(first_removed, row_count() - 1);
  after_operation();
  return removed;
}

QString TQGridModel::copy_block(int left, int right, int top, int bottom) const {
  QString text;
  for (int r = top; r <= bottom; ++r) {
    for (int c = left; c <= right; ++c) {
      if (c > left)
        text += QLatin1Char('\t');
      text += cell(c, r);
    }
    text += QLatin1String("\r\n");
  }
  return text;
}

TGridPasteResult TQGridModel::paste_text(QStringView text, int col, int row) {
  TGridPasteResult result;
  // The cursor starts in the table or just below its last row (which the paste adds). From
  // further out the walk would add empty rows and lose lines, or from the left of column 0
  // shift every field one column over: nothing is taken.
  if (col < 0 || col >= col_count_ || row < 0 || row > row_count())
    return result;
  if (text.size() > paste_limit) {
    qsizetype n = paste_limit;
    if (text[n - 1].isHighSurrogate())
      --n; // never keep half a character
    result.dropped = text.size() - n;
    text = text.left(n);
  }
  result.taken = text.size();

  // First pass: how many rows the paste needs, so the view hears of the growth once.
  int rows_needed = row_count();
  {
    int r = row;
    auto line_end = [&](bool cr, bool lf) {
      if (cr && r >= rows_needed)
        ++rows_needed;
      if (lf && r < rows_needed)
        ++r;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
      const QChar ch = text[i];
      if (ch == u'\t') {
        if (r >= rows_needed)
          ++rows_needed;
      } else if (ch == u'\r') {
        line_end(true, !(i + 1 < text.size() && text[i + 1] == u'\n'));
      } else if (ch == u'\n') {
        line_end(!(i > 0 && text[i - 1] == u'\r'), true);
      }
    }
  }
  set_row_count(rows_needed);

  int c = col;
  int r = row;
  int top = row_count(), bottom = -1;
  qsizetype field_start = 0;
  auto store = [&](qsizetype end) {
    if (c < col_count_ && r < row_count()) {
      set_cell(c, r, text.mid(field_start, end - field_start));
      top = std::min(top, r);
      bottom = std::max(bottom, r);
    }
  };
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar ch = text[i];
    if (ch == u'\t') {
      store(i);
      ++c;
      field_start = i + 1;
    } else if (ch == u'\r' || ch == u'\n') {
      const bool cr = ch == u'\r' || !(i > 0 && text[i - 1] == u'\r');
      const bool lf = ch == u'\n' || !(i + 1 < text.size() && text[i + 1] == u'\n');
      if (cr) {
        store(i);
        c = col;
      }
      if (lf && r < row_count())
        ++r;
      field_start = i + 1;
    }
  }
  after_operation();
  return result;
}

// ---- Files -----------------------------------------------------------------------------------

namespace {

// Text is encoded and written in pieces of about this many characters.
constexpr qsizetype write_piece = 1 << 18;
// A load reads pieces of this size, and never less than min_read (see load_from_file).
constexpr qint64 read_piece = 4 << 20;
constexpr qint64 min_read = 1 << 16;
// The row list is reserved for this much more than the first piece's lines predict.
constexpr double row_guess_margin = 1.05;
constexpr qint64 ns_per_s = 1000000000;

} // namespace

TGridFileResult TQGridModel::save_to_file(const QString &file_name) const {
  const int first = first_data_col();
  // A table read as Latin-1 is written as Latin-1 unless it now holds text Latin-1 cannot carry.
  bool as_latin1 = encoding_ == Encoding::latin1;
  const bool utf16 = encoding_ == Encoding::utf16le || encoding_ == Encoding::utf16be;
  const auto utf16_kind = encoding_ == Encoding::utf16le ? QStringEncoder::Utf16LE : QStringEncoder::Utf16BE;
  for (int r = 0; as_latin1 && r < row_count(); ++r)
    for (int k = first; as_latin1 && k < col_count_; ++k)
      for (QChar ch : rows_[r].cell(k, col_count_))
        if (ch.unicode() > 0xff) {
          as_latin1 = false;
          break;
        }

  return save_waveform_file(file_name, [&](QIODevice &f) {
    const QChar sep = QChar::fromLatin1(data_separator_);
    QString text;
    bool ok = true;
    bool at_start = true;
    auto flush = [&] {
      if (at_start) {
        at_start = false;
        if (utf16)
          ok = f.write(encoding_ == Encoding::utf16le ? "\xFF\xFE" : "\xFE\xFF") == 2;
        // A UTF-8 text that begins with U+FEFF needs a byte-order mark before it, or reading the
        // file back would take the character for the mark and drop it.
        else if (!as_latin1 && (utf8_bom_ || text.startsWith(QChar(0xFEFF))))
          ok = f.write("\xEF\xBB\xBF") == 3;
      }
      QByteArray bytes;
      if (utf16) {
        // Each piece ends at a line end, so no surrogate pair is ever split.
        QStringEncoder encode(utf16_kind, QStringEncoder::Flag::Stateless);
        bytes = encode.encode(text);
      } else {
        bytes = as_latin1 ? text.toLatin1() : text.toUtf8();
      }
      if (f.write(bytes) != bytes.size())
        ok = false;
      text.clear();
    };
    for (int r = 0; ok && r < row_count(); ++r) {
      for (int k = first; k < col_count_; ++k) {
        if (k > first)
          text += sep;
        if (k == 0)
          text += cell(0, r);
        else
          text += rows_[r].cell(k, col_count_);
      }
      text += QLatin1String("\r\n");
      if (text.size() > write_piece)
        flush();
    }
    if (ok)
      flush();
    return ok;
  });
}

TGridFileResult save_waveform_file(const QString &file_name, const std::function<bool(QIODevice &)> &write) {
  TGridFileResult result;
  if (!save_file_safely(file_name, write, result.error))
    result.status = TGridFileResult::Failed;
  return result;
}

bool file_stamp(int fd, TFileStamp &stamp) {
  struct stat st {};
  if (fd < 0 || fstat(fd, &st) != 0)
    return false;
  stamp.size = st.st_size;
  stamp.mtime_ns = qint64(st.st_mtim.tv_sec) * ns_per_s + st.st_mtim.tv_nsec;
  stamp.ctime_ns = qint64(st.st_ctim.tv_sec) * ns_per_s + st.st_ctim.tv_nsec;
  return true;
}

bool open_waveform_file(QFile &f, TFileStamp &stamp, QString &error) {
  if (!QFileInfo(f.fileName()).isFile()) {
    error = TQGridModel::tr("Not a regular file");
    return false;
  }
  if (!f.open(QIODevice::ReadOnly)) {
    error = f.errorString();
    return false;
  }
  if (!file_stamp(f.handle(), stamp)) {
    error = TQGridModel::tr("Not a regular file");
    return false;
  }
  return true;
}

namespace {

// Where complete lines end in `text`: after the last line end, or the whole text at the end of
// the file. A CR at the very end may be the first half of a CR LF and waits for more.
template <typename Text> qsizetype complete_lines(const Text &text, qsizetype from, bool eof) {
  if (eof)
    return text.size();
  qsizetype i = text.size() - 1;
  if (i >= from && text[i] == u'\r')
    --i;
  while (i >= from && text[i] != u'\n' && text[i] != u'\r')
    --i;
  return i >= from ? i + 1 : -1;
}

} // namespace

TGridFileResult TQGridModel::load_from_file(const QString &file_name) {
  TGridFileResult result;
  const QFileInfo info(file_name);
  if (!info.exists()) {
    result.status = TGridFileResult::Missing;
    after_operation();
    return result;
  }
  auto fail = [&](const QString &why) {
    result.status = TGridFileResult::Failed;
    result.error = why;
    return result;
  };
  QFile f(file_name);
  TFileStamp stamp_before;
  QString why;
  if (!open_waveform_file(f, stamp_before, why))
    return fail(why);

  const int first = first_data_col();
  const int data_cols = col_count_ - first;
  const QChar sep = QChar::fromLatin1(data_separator_);

  std::vector<PackedRow> rows;
  Encoding encoding = Encoding::utf8;
  bool bom = false;
  try {
    for (;;) { // runs a second time only when the file turns out not to be UTF-8 or UTF-16
      rows.clear();
      // The table as reset_table leaves it: the number column of the default rows is kept.
      const int keep_rows = std::min(default_row_count_, row_count());
      for (int r = 0; r < std::max(default_row_count_, fixed_rows); ++r)
        rows.push_back(r < keep_rows ? PackedRow::build(rows_[r], fixed_cols, nullptr, 0, col_count_)
                                     : PackedRow());
      if (!f.seek(0))
        return fail(f.errorString());
      const bool latin1 = encoding == Encoding::latin1;

      bool restart = false;
      qsizetype line_no = 0;
      std::vector<QStringView> fields;
      auto store_line = [&](QStringView line) -> bool {
        split_fields(line, sep, fields);
        const int n = std::min<int>(int(fields.size()), data_cols);
        for (int j = 0; j < n; ++j)
          if (fields[j].size() > file_cell_limit) {
            result.error = tr("Line %1 is too long").arg(line_no + 1);
            return false;
          }
        if (line_no >= qsizetype(rows.size())) {
          if (rows.size() >= size_t(INT_MAX)) {
            result.error = tr("Too many lines");
            return false;
          }
          rows.push_back(PackedRow());
        }
        // Missing trailing fields leave their cells as reset_table left them: empty.
        if (n > 0)
          rows[line_no] = PackedRow::build(rows[line_no], first, fields.data(), n, col_count_);
        ++line_no;
        return true;
      };
      // Stores the lines of `text`, which ends at a line end or at the end of the file.
      auto store_text = [&](QStringView text) { return for_each_line(text, store_line); };

      // The file is read in pieces and decoded a piece at a time, each piece ending at a line
      // end. A UTF-16 file is decoded as it comes and cut into lines after decoding.
      std::optional<QStringDecoder> utf16;
      QString pending;
      qint64 utf16_bytes = 0;
      QByteArray buf;
      QString text;
      qsizetype pos = 0;
      qint64 read_size = read_piece;
      bool eof = false;
      bool at_start = true;
      bool stopped = false;
      while (!stopped && !restart) {
        // A buffer of the full piece size for a short file costs more than reading it: ask for
        // the rest of the file and one byte to see its end, but never for less than 64 KB, as a
        // file may say it is shorter than it is.
        const qint64 rest = std::max<qint64>(f.size() - f.pos(), 0) + 1;
        const QByteArray chunk = f.read(std::min(read_size, std::max(rest, min_read)));
        if (f.error() != QFileDevice::NoError)
          return fail(f.errorString());
        eof = chunk.isEmpty();
        buf = buf.mid(pos) + chunk;
        pos = 0;
        if (at_start) {
          if (buf.size() < 3 && !eof)
            continue;
          at_start = false;
          if (!latin1 && buf.startsWith("\xEF\xBB\xBF")) {
            bom = true;
            pos = 3;
          } else if (!latin1 && (buf.startsWith("\xFF\xFE") || buf.startsWith("\xFE\xFF"))) {
            encoding = buf.at(0) == '\xFF' ? Encoding::utf16le : Encoding::utf16be;
            // A second mark after the first is text and stays in the heading.
            utf16.emplace(encoding == Encoding::utf16le ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE,
                          QStringDecoder::Flag::ConvertInitialBom);
            pos = 2;
          }
        }
        if (utf16) {
          const QByteArrayView bytes(buf.constData() + pos, buf.size() - pos);
          utf16_bytes += bytes.size();
          pending += utf16->decode(bytes);
          buf.clear();
          pos = 0;
          if (eof && utf16_bytes % 2 != 0) {
            restart = true; // half a character at the end: not UTF-16 after all
            break;
          }
          const qsizetype cut = complete_lines(pending, 0, eof);
          if (cut > 0) {
            if (!store_text(QStringView(pending).left(cut)))
              stopped = true;
            pending.remove(0, cut);
          }
          if (eof)
            break;
          continue;
        }
        const qsizetype cut = complete_lines(buf, pos, eof);
        if (cut < 0) {
          read_size *= 2; // one long line: read more at a time
          continue;
        }
        read_size = read_piece;
        if (line_no == 0 && !eof) {
          // Guess the line count from the first piece so the row list grows once.
          qsizetype ends = 0;
          for (qsizetype i = pos; i < cut; ++i)
            ends += buf.at(i) == '\n' || (buf.at(i) == '\r' && i + 1 < cut && buf.at(i + 1) != '\n');
          const double per_line = double(cut - pos) / double(std::max<qsizetype>(ends, 1));
          const double guess = row_guess_margin * double(info.size()) / std::max(per_line, 1.0);
          rows.reserve(size_t(std::min(guess, double(INT_MAX / 2))));
        }
        const QByteArrayView piece(buf.constData() + pos, cut - pos);
        pos = cut;
        if (!latin1 && !piece.isValidUtf8()) {
          restart = true;
          break;
        }
        if (latin1) {
          text = QString::fromLatin1(piece);
        } else {
          // fromUtf8 would drop a U+FEFF at the start of a piece; keep every character.
          QStringDecoder decode(QStringDecoder::Utf8,
                                QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
          text = decode.decode(piece);
        }
        if (!store_text(text))
          stopped = true;
        if (eof)
          break;
      }
      if (restart) {
        encoding = Encoding::latin1;
        bom = false;
        continue;
      }
      if (!result.error.isEmpty())
        return fail(result.error);
      break;
    }
  } catch (const std::bad_alloc &) {
    return fail(tr("Not enough memory for the table"));
  }
  // A writer between the first and the last read may have left a mix of two versions; the table
  // keeps what it had and the caller can read the file again once it is written.
  TFileStamp stamp_after;
  if (!file_stamp(f.handle(), stamp_after) || stamp_after != stamp_before)
    return fail(tr("It changed while it was read"));

  beginResetModel();
  rows_ = std::move(rows);
  encoding_ = encoding;
  utf8_bom_ = bom;
  endResetModel();
  after_operation();
  return result;
}

void TQGridModel::replace_rows(std::vector<PackedRow> rows) {
  rows.resize(std::max<std::size_t>(rows.size(), std::size_t(std::max(default_row_count_, fixed_rows))));
  beginResetModel();
  rows_ = std::move(rows);
  encoding_ = Encoding::utf8;
  utf8_bom_ = false;
  endResetModel();
  after_operation();
}

// ---- Qt model interface ----------------------------------------------------------------------

int TQGridModel::rowCount(const QModelIndex &parent) const {
  return parent.isValid() ? 0 : row_count() - fixed_rows;
}

int TQGridModel::columnCount(const QModelIndex &parent) const {
  return parent.isValid() ? 0 : col_count_ - fixed_cols;
}

QVariant TQGridModel::data(const QModelIndex &index, int role) const {
  if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole))
    return {};
  return cell(index.column() + fixed_cols, index.row() + fixed_rows);
}

bool TQGridModel::setData(const QModelIndex &index, const QVariant &value, int role) {
  if (!index.isValid() || role != Qt::EditRole)
    return false;
  set_cell(index.column() + fixed_cols, index.row() + fixed_rows, value.toString());
  changed_ = true;
  return true;
}

QVariant TQGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole)
    return {};
  if (orientation == Qt::Horizontal)
    return cell(section + fixed_cols, 0);
  return cell(0, section + fixed_rows);
}

Qt::ItemFlags TQGridModel::flags(const QModelIndex &index) const {
  if (!index.isValid())
    return Qt::NoItemFlags;
  return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsEditable;
}
