#pragma once

#include <functional>

#include <QAbstractTableModel>
#include <QFile>
#include <QString>
#include <QStringView>

#include <vector>

// A rectangle of grid cells, inclusive on every side, in grid coordinates (row 0 is the heading
// row, column 0 the number column).
struct TGridRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  friend bool operator==(const TGridRect &, const TGridRect &) = default;
};

// Outcome of reading or writing a table file.
struct TGridFileResult {
  enum Status { Done, Missing, Failed };
  Status status = Done;
  QString error; // the reason, when Failed
  bool ok() const { return status == Done; }
};

// What fstat says of an open file: a load compares it at open and after the last read, and refuses
// a file that changed in between (a writer may have left a mix of two versions).
struct TFileStamp {
  qint64 size = -1;
  qint64 mtime_ns = 0;
  qint64 ctime_ns = 0;
  friend bool operator==(const TFileStamp &, const TFileStamp &) = default;
};
bool file_stamp(int fd, TFileStamp &stamp);
// Opens a waveform file for reading with its stamp. Only plain files: devices and pipes could be
// endless. False, with the reason, otherwise.
bool open_waveform_file(QFile &f, TFileStamp &stamp, QString &error);
// Writes a waveform file as a whole or not at all: `write` puts the text into the file and says
// whether every write went through; the old file is replaced only then.
TGridFileResult save_waveform_file(const QString &file_name, const std::function<bool(QIODevice &)> &write);

struct TGridPasteResult {
  qsizetype taken = 0;   // characters of the text that were used
  qsizetype dropped = 0; // characters beyond the paste limit
};

// The cells of the point table and everything done to them that needs no widget: the row
// operations, the text files and the clipboard text. The view (TQGrid) shows row 0 and column 0
// as its fixed headings, so the Qt model interface below counts from the first non-fixed cell.
//
// Storage: one packed string per row (see PackedRow), since a million-line file must fit in a
// few hundred megabytes; a QString per cell costs about three times as much. With auto_number on,
// the number column of the data rows is not stored: it always reads as the row number.
class TQGridModel : public QAbstractTableModel {
  Q_OBJECT
public:
  static constexpr int fixed_cols = 1;
  static constexpr int fixed_rows = 1;
  // Where a row keeps its point: the time and the value.
  static constexpr int time_col = 1;
  static constexpr int value_col = 2;
  // The clipboard text is taken up to this many characters.
  static constexpr qsizetype paste_limit = 100000;
  // A cell read from a file holds at most as many characters as one paste can put there; a
  // longer one fails the load, since the view could not lay such a text out in any useful time.
  static constexpr qsizetype file_cell_limit = paste_limit;

  explicit TQGridModel(int col_count = 3, int row_count = 21, QObject *parent = nullptr);

  int col_count() const { return col_count_; }
  int row_count() const { return static_cast<int>(rows_.size()); }
  // Grows with empty rows or drops rows from the end.
  void set_row_count(int count);
  int first_data_col() const { return auto_number_ ? fixed_cols : 0; }

  QString cell(int col, int row) const;
  // The stored text without a copy. Under auto_number the number cells of the data rows are not
  // stored and read empty here; use cell() for what the user sees.
  QStringView cell_view(int col, int row) const;
  void set_cell(int col, int row, QStringView text);

  int default_row_count() const { return default_row_count_; }
  void set_default_row_count(int count) { default_row_count_ = count; }
  bool auto_number() const { return auto_number_; }
  void set_auto_number(bool on);
  bool changed() const { return changed_; }
  void set_changed(bool on) { changed_ = on; }
  char data_separator() const { return data_separator_; }
  void set_data_separator(char separator) { data_separator_ = separator; }

  // Row operations. Each one renumbers (under auto_number) and sets `changed`.
  void add_row();
  void insert_row_at(int row);
  void clear_row(int row);
  void clear_rows(int top, int bottom);
  void delete_rows(int top, int bottom);
  void reset_table();
  void renumber();
  // The user dragged row `from` onto row `to`: the two rows exchange their texts.
  void row_moved(int from, int to);

  // Repairs for times that do not increase. A row is a point when its time (column 1) and value
  // (column 2) both read as numbers in the locale's notation, as START takes them. Each returns
  // how many rows it moved or removed, and changes nothing (not even `changed`) when that is 0.
  // Sorts the data rows by time, stably, so equal times keep their order; the rows whose time is
  // not a number (empty rows too) follow the others in the order they had.
  int sort_rows_by_time();
  // Removes every point equal in time and value to the row right before it.
  int remove_repeated_rows();

  // Cells from left to right joined by tabs, each row ended by CR LF.
  QString copy_block(int left, int right, int top, int bottom) const;
  // Spreads clipboard text over the table from (col, row): tab moves one column right, a line
  // end stores the last field and moves one row down. A lone LF or CR counts as CR LF. A paste
  // starting outside the table (or more than one row below it) takes nothing.
  TGridPasteResult paste_text(QStringView text, int col, int row);

  // Text files: one line per row from the heading row on, the cells of the data columns joined
  // by data_separator, CR LF line ends. Written in the encoding the table was read in (UTF-8,
  // UTF-16 when the file began with its byte-order mark, or Latin-1 for files that were neither)
  // so every byte read is written back unchanged.
  TGridFileResult save_to_file(const QString &file_name) const;
  // Replaces the table with the file's lines. A missing file leaves the table as it is; a file
  // that cannot be read, holds a cell longer than file_cell_limit or changes while it is read
  // leaves it untouched too (the new table is swapped in only once complete).
  TGridFileResult load_from_file(const QString &file_name);

  enum class Encoding { utf8, latin1, utf16le, utf16be };
  // The encoding of the file the table was read from; latin1 for a file that was neither UTF-8
  // nor UTF-16 with a byte-order mark.
  Encoding encoding() const { return encoding_; }
  bool latin1() const { return encoding_ == Encoding::latin1; }
  // Whether the UTF-8 file began with a byte-order mark (written back when saved).
  bool utf8_bom() const { return utf8_bom_; }
  // How the next save writes the table: what an undone Open puts back.
  void set_encoding(Encoding encoding, bool utf8_bom) {
    encoding_ = encoding;
    utf8_bom_ = utf8_bom;
  }

  // Qt model interface: view row i is grid row i + fixed_rows, view column j grid column
  // j + fixed_cols; row 0 and column 0 are the header texts.
  int rowCount(const QModelIndex &parent = {}) const override;
  int columnCount(const QModelIndex &parent = {}) const override;
  QVariant data(const QModelIndex &index, int role) const override;
  bool setData(const QModelIndex &index, const QVariant &value, int role) override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex &index) const override;

  // The texts of one row packed into a single string: for each column its length as two UTF-16
  // units, then all texts one after the other. A row of empty cells holds a null string.
  class PackedRow {
  public:
    QStringView cell(int col, int col_count) const;
    void set_cell(int col, QStringView text, int col_count);
    bool is_empty() const { return s_.isNull(); }
    // The same texts; rows that share their storage compare without reading it.
    bool same_as(const PackedRow &other) const {
      return s_.constData() == other.s_.constData() ? s_.size() == other.s_.size() : s_ == other.s_;
    }
    // Heap bytes of the texts, without the row's own slot; rows sharing storage count it each.
    qsizetype text_bytes() const { return s_.isNull() ? 0 : qsizetype(sizeof(QChar)) * s_.size() + 32; }
    // Where the texts are stored: rows that share it are one copy in memory.
    const void *storage() const { return s_.isNull() ? nullptr : s_.constData(); }
    void clear() { s_ = QString(); }
    // Builds a row from up to col_count - first texts placed from column `first` on; the
    // columns before `first` take the texts of `keep`.
    static PackedRow build(const PackedRow &keep, int first, const QStringView *texts, int count,
                           int col_count);

  private:
    QString s_;
  };

  // Replaces every row at once, as a completed load does: the heading row first, at least
  // default_row_count rows in all (empty ones added); the table is then saved as UTF-8.
  void replace_rows(std::vector<PackedRow> rows);
  // The stored rows (heading row included), for the undo of changes: copies share the texts.
  const std::vector<PackedRow> &packed_rows() const { return rows_; }
  // Rows [at, at + remove) are replaced by `rows`, as stored (the undo of a change puts back
  // what it replaced); then renumber and `changed`. A change that would leave no heading row
  // does nothing.
  void replace_rows(int at, int remove, std::vector<PackedRow> rows);

private:
  friend class TQGridLoader;
  void emit_rows_changed(int top, int bottom);
  void emit_all_changed();
  void after_operation();
  void move_data_cells(int to, int from);

  int col_count_;
  std::vector<PackedRow> rows_;
  int default_row_count_ = 21;
  bool auto_number_ = false;
  bool changed_ = false;
  char data_separator_ = '\t';
  Encoding encoding_ = Encoding::utf8;
  bool utf8_bom_ = false;
};
