// The point table's cells, row operations, clipboard text and files, without widgets.
#include "PwlFile.h"
#include "SplitFunctions.h"
#include "TQGridModel.h"
#include "TablePoints.h"
#include "localized.h"
#include "table_helpers.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <climits>

namespace {

// Fills rows 1..n with "t<r>" / "v<r>".
void fill(TQGridModel &t, int n) {
  for (int r = 1; r <= n; ++r) {
    t.set_cell(1, r, QString("t%1").arg(r));
    t.set_cell(2, r, QString("v%1").arg(r));
  }
}

} // namespace

class TestGridModel : public QObject {
  Q_OBJECT
  QTemporaryDir dir_;
  QString path(const QString &name) const { return dir_.filePath(name); }

private slots:
  void save_startup_table_data() {
    QTest::addColumn<char>("separator");
    QTest::newRow("tab") << '\t';
    QTest::newRow("comma") << ',';
    QTest::newRow("semicolon") << ';';
  }
  void save_startup_table() {
    QFETCH(char, separator);
    TQGridModel t;
    setup_window_table(t);
    t.set_data_separator(separator);
    t.set_changed(false);
    QVERIFY(t.save_to_file(path("start.txt")).ok());
    QByteArray expected = QByteArray("Time") + separator + "Value\r\n";
    for (int i = 0; i < 20; ++i)
      expected += QByteArray(1, separator) + "\r\n";
    QCOMPARE(read_all(path("start.txt")), expected);
    QVERIFY(!t.changed()); // saving is not an edit
  }

  void load_comma_files() {
    TQGridModel t;
    setup_window_table(t);
    t.set_data_separator(',');
    write_all(path("three.csv"), "Zeit,Strom\r\n0,1\r\n1e-3,2.5\r\n");
    QVERIFY(t.load_from_file(path("three.csv")).ok());
    QCOMPARE(t.row_count(), 21);
    QCOMPARE(t.cell(1, 0), QString("Zeit"));
    QCOMPARE(t.cell(2, 0), QString("Strom"));
    QCOMPARE(t.cell(1, 2), QString("1e-3"));
    QCOMPARE(t.cell(2, 2), QString("2.5"));
    QCOMPARE(t.cell(1, 3), QString());
    QCOMPARE(t.cell(0, 0), QString("#"));
    QCOMPARE(t.cell(0, 20), QString("20"));
    QVERIFY(t.changed());

    QByteArray thirty = "a,b\r\n";
    for (int i = 1; i < 30; ++i)
      thirty += QByteArray::number(i) + "," + QByteArray::number(i * 2) + "\r\n";
    write_all(path("thirty.csv"), thirty);
    QVERIFY(t.load_from_file(path("thirty.csv")).ok());
    QCOMPARE(t.row_count(), 30);
    QCOMPARE(t.cell(2, 29), QString("58"));
  }

  void load_line_splitting_data() {
    QTest::addColumn<char>("separator");
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("time");
    QTest::addColumn<QString>("value");
    QTest::newRow("space runs") << ' ' << QByteArray("   1.5    2.5") << "1.5"
                                << "2.5";
    QTest::newRow("single field") << '\t' << QByteArray("7") << "7"
                                  << "";
    QTest::newRow("comma run") << ',' << QByteArray(",,1,,2,") << "1"
                               << "2";
    QTest::newRow("surplus field") << '\t' << QByteArray("1\t2\t3") << "1"
                                   << "2";
    QTest::newRow("empty line") << '\t' << QByteArray("") << ""
                                << "";
    QTest::newRow("separators only") << ',' << QByteArray(",,,") << ""
                                     << "";
    QTest::newRow("semicolon, comma decimals") << ';' << QByteArray("0,001;1,5") << "0,001"
                                               << "1,5";
    QTest::newRow("semicolon run") << ';' << QByteArray(";;1;;2;") << "1"
                                   << "2";
  }
  void load_line_splitting() {
    QFETCH(char, separator);
    QFETCH(QByteArray, line);
    QFETCH(QString, time);
    QFETCH(QString, value);
    TQGridModel t;
    setup_window_table(t);
    t.set_data_separator(separator);
    write_all(path("split.txt"), "h1" + QByteArray(1, separator) + "h2\r\n" + line + "\r\nx\r\n");
    QVERIFY(t.load_from_file(path("split.txt")).ok());
    QCOMPARE(t.cell(1, 1), time);
    QCOMPARE(t.cell(2, 1), value);
    QCOMPARE(t.cell(1, 2), QString("x")); // the line after it lands in the next row
  }

  void split_fields_matches_split_line() {
    // The loader splits with views; it must agree with split_line on every shape of line.
    const QStringList lines = {"",     ",",   ",,",   "a",      "a,",   "a,,", ",a",
                               ",,a,", "a,b", "a,,b", "a,,b,,", ",,,,", " , ", "a,b,c,d"};
    for (const QString &line : lines) {
      QStringList expected;
      split_line(line, u',', expected);
      std::vector<QStringView> got;
      split_fields(line, u',', got);
      QStringList got_list;
      for (QStringView v : got)
        got_list << v.toString();
      QCOMPARE(got_list, expected);
    }
  }

  void load_line_ends_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("LF") << QByteArray("h\tv\n1\t2\n3\t4\n");
    QTest::newRow("CR LF") << QByteArray("h\tv\r\n1\t2\r\n3\t4\r\n");
    QTest::newRow("CR") << QByteArray("h\tv\r1\t2\r3\t4\r");
    QTest::newRow("mixed, no final end") << QByteArray("h\tv\r1\t2\n3\t4");
  }
  void load_line_ends() {
    QFETCH(QByteArray, bytes);
    TQGridModel t;
    setup_window_table(t);
    write_all(path("ends.txt"), bytes);
    QVERIFY(t.load_from_file(path("ends.txt")).ok());
    QCOMPARE(rows_of(t).mid(0, 4), QStringList({"#|h|v", "1|1|2", "2|3|4", "3||"}));
  }

  void load_cr_lf_across_read_chunks() {
    // The file is read in 4 MiB pieces; a CR LF split between two must stay one line end.
    QByteArray bytes = "h\tv\r\n";
    const qsizetype chunk = 4 << 20;
    const QByteArray filler = QByteArray(999, 'x') + "\r\n";
    int row = 1;
    for (; bytes.size() + 2 * filler.size() < chunk; ++row)
      bytes += filler;
    bytes += QByteArray(chunk - 1 - bytes.size(), 'x') + "\r\n1\t2\r\n";
    QCOMPARE(bytes.at(chunk - 1), '\r');
    write_all(path("chunk.txt"), bytes);
    TQGridModel t;
    setup_window_table(t);
    QVERIFY(t.load_from_file(path("chunk.txt")).ok());
    QCOMPARE(t.cell(1, row + 1), QString("1"));
    QCOMPARE(t.cell(2, row + 1), QString("2"));
    QCOMPARE(t.row_count(), row + 2);
  }

  void file_bytes_round_trip_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("latin1");
    QTest::addColumn<QString>("heading");
    QTest::newRow("utf-8") << QByteArray("Zeit \xc2\xb5s\tI\r\n1\t2\r\n") << false
                           << QString::fromUtf8("Zeit \xc2\xb5s");
    QTest::newRow("utf-8 with BOM") << QByteArray("\xef\xbb\xbftime\tI\r\n1\t2\r\n") << false
                                    << QString("time");
    QTest::newRow("latin-1") << QByteArray("Zeit \xb5s\tI\r\n1\t\xe9\r\n") << true
                             << QString::fromUtf8("Zeit \xc2\xb5s");
    QTest::newRow("broken utf-8 late") << QByteArray("a\tb\r\n1\t2\xc3\r\n") << true << "a";
    QTest::newRow("two BOMs") << QByteArray("\xef\xbb\xbf\xef\xbb\xbft\tI\r\n1\t2\r\n") << false
                              << QString(QChar(0xfeff)) + "t";
    QTest::newRow("NUL bytes") << QByteArray("a\0b\tc\r\n1\t2\r\n", 12) << false
                               << QString::fromUtf8("a\0b", 3);
  }
  void file_bytes_round_trip() {
    QFETCH(QByteArray, bytes);
    QFETCH(bool, latin1);
    QFETCH(QString, heading);
    QByteArray full = bytes;
    for (int i = 3; i <= 21; ++i)
      full += "\t\r\n"; // the rows the reset table adds come back as lines of their own
    write_all(path("in.txt"), bytes);
    TQGridModel t;
    setup_window_table(t);
    QVERIFY(t.load_from_file(path("in.txt")).ok());
    QCOMPARE(t.latin1(), latin1);
    QCOMPARE(t.cell(1, 0), heading);
    QVERIFY(t.save_to_file(path("out.txt")).ok());
    QCOMPARE(read_all(path("out.txt")), full);
  }

  void random_files_survive_save_and_load() {
    // Whatever a file holds, saving the table and reading it back gives the same table.
    QRandomGenerator rng(5200);
    const char alphabet[] = "\t\t,, ;\r\n\n01.e-x\xc3\xa9\xb5\xef\xbb\xbf\0";
    const char separators[] = {'\t', ',', ' ', ';'};
    for (int round = 0; round < 150; ++round) {
      QByteArray bytes;
      const int length = rng.bounded(120);
      for (int i = 0; i < length; ++i)
        bytes += alphabet[rng.bounded(int(sizeof alphabet) - 1)];
      write_all(path("random.txt"), bytes);
      TQGridModel t;
      setup_window_table(t);
      t.set_data_separator(separators[round % 4]);
      QVERIFY(t.load_from_file(path("random.txt")).ok());
      QVERIFY(t.save_to_file(path("random-out.txt")).ok());
      TQGridModel back;
      setup_window_table(back);
      back.set_data_separator(separators[round % 4]);
      QVERIFY(back.load_from_file(path("random-out.txt")).ok());
      QVERIFY2(rows_of(back) == rows_of(t), bytes.toHex().constData());
      QCOMPARE(back.latin1(), t.latin1());
    }
  }

  void leading_bom_character_survives_save_data() {
    QTest::addColumn<QByteArray>("bytes");
    // The separator goes, so the saved text starts with U+FEFF although the file did not.
    QTest::newRow("after a separator") << QByteArray("\t\xEF\xBB\xBF"
                                                     "1\t2\r\n");
    QTest::newRow("after a byte-order mark") << QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF"
                                                           "1\t2\r\n");
  }
  void leading_bom_character_survives_save() {
    QFETCH(QByteArray, bytes);
    write_all(path("feff.txt"), bytes);
    TQGridModel t;
    setup_window_table(t);
    QVERIFY(t.load_from_file(path("feff.txt")).ok());
    QCOMPARE(t.cell(1, 0), QString(QChar(0xFEFF)) + "1");
    QVERIFY(t.save_to_file(path("feff-out.txt")).ok());
    // One mark for the reader to take, then the character itself.
    QVERIFY(read_all(path("feff-out.txt"))
                .startsWith("\xEF\xBB\xBF\xEF\xBB\xBF"
                            "1\t2\r\n"));
    TQGridModel back;
    setup_window_table(back);
    QVERIFY(back.load_from_file(path("feff-out.txt")).ok());
    QCOMPARE(rows_of(back), rows_of(t));
  }

  void latin1_table_gets_text_latin1_cannot_hold() {
    write_all(path("l1.txt"), "Zeit \xb5s\tI\r\n");
    TQGridModel t;
    setup_window_table(t);
    QVERIFY(t.load_from_file(path("l1.txt")).ok());
    t.set_cell(1, 1, u"1");
    t.set_cell(2, 1, QString::fromUtf8("\xe2\x86\x92")); // an arrow
    QVERIFY(t.save_to_file(path("l1out.txt")).ok());
    TQGridModel back;
    setup_window_table(back);
    QVERIFY(back.load_from_file(path("l1out.txt")).ok());
    QCOMPARE(back.cell(1, 0), t.cell(1, 0));
    QCOMPARE(back.cell(2, 1), t.cell(2, 1));
  }

  void missing_file_leaves_table() {
    TQGridModel t;
    setup_window_table(t);
    fill(t, 3);
    t.set_changed(false);
    const QStringList before = rows_of(t);
    QCOMPARE(t.load_from_file(path("nope.txt")).status, TGridFileResult::Missing);
    QCOMPARE(rows_of(t), before);
    QVERIFY(t.changed());
  }

  void failed_load_keeps_table() {
    TQGridModel t;
    setup_window_table(t);
    fill(t, 30);
    const QStringList before = rows_of(t);
    QDir(dir_.path()).mkdir("folder.txt");
    const TGridFileResult r = t.load_from_file(path("folder.txt"));
    QCOMPARE(r.status, TGridFileResult::Failed);
    QVERIFY(!r.error.isEmpty());
    QCOMPARE(rows_of(t), before);
  }

  void failed_save_reports_and_keeps_old_file() {
    TQGridModel t;
    setup_window_table(t);
    TGridFileResult r = t.save_to_file(path("no/such/dir/x.txt"));
    QCOMPARE(r.status, TGridFileResult::Failed);
    QVERIFY(!r.error.isEmpty());
    QDir(dir_.path()).mkdir("adir");
    r = t.save_to_file(path("adir"));
    QCOMPARE(r.status, TGridFileResult::Failed);
    QVERIFY(QFileInfo(path("adir")).isDir());
  }

  void delete_rows_data() {
    QTest::addColumn<int>("top");
    QTest::addColumn<int>("bottom");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("row3");
    QTest::addColumn<QString>("heading");
    QTest::newRow("every data row") << 1 << 20 << 21 << "3||"
                                    << "";
    QTest::newRow("rows 3 to 5") << 3 << 5 << 18 << "3|t6|v6"
                                 << "Time";
    QTest::newRow("last row") << 20 << 20 << 20 << "3|t3|v3"
                              << "Time";
  }
  void delete_rows() {
    QFETCH(int, top);
    QFETCH(int, bottom);
    QFETCH(int, rows);
    QFETCH(QString, row3);
    QFETCH(QString, heading);
    TQGridModel t;
    setup_window_table(t);
    fill(t, 20);
    t.delete_rows(top, bottom);
    QCOMPARE(t.row_count(), rows);
    QCOMPARE(rows_of(t).at(3), row3);
    QCOMPARE(t.cell(1, 0), heading);
    QCOMPARE(t.cell(0, rows - 1), QString::number(rows - 1));
    if (rows == 18)
      QCOMPARE(rows_of(t).at(17), QString("17|t20|v20"));
  }

  void delete_rows_without_auto_number_keeps_number_column() {
    TQGridModel t(3, 6);
    for (int r = 0; r < 6; ++r)
      for (int c = 0; c < 3; ++c)
        t.set_cell(c, r, QString("%1%2").arg(c).arg(r));
    t.delete_rows(2, 3);
    QCOMPARE(rows_of(t), QStringList({"00|10|20", "01|11|21", "02|14|24", "03|15|25"}));
  }

  void row_moved_exchanges_two_rows() {
    TQGridModel t;
    setup_window_table(t);
    fill(t, 20);
    t.row_moved(7, 2);
    const QStringList rows = rows_of(t);
    QCOMPARE(rows.at(2), QString("2|t7|v7"));
    QCOMPARE(rows.at(7), QString("7|t2|v2"));
    for (int r = 3; r <= 6; ++r)
      QCOMPARE(rows.at(r), QString("%1|t%1|v%1").arg(r));
  }

  void insert_row() {
    TQGridModel t(3, 2);
    t.set_auto_number(true);
    t.set_cell(1, 1, u"only");
    t.set_changed(false);
    t.insert_row_at(1);
    QCOMPARE(t.row_count(), 2); // one data row: nothing happens
    QCOMPARE(t.cell(1, 1), QString("only"));

    TQGridModel u;
    setup_window_table(u);
    fill(u, 20);
    u.insert_row_at(5);
    QCOMPARE(u.row_count(), 22);
    QCOMPARE(rows_of(u).mid(4, 3), QStringList({"4|t4|v4", "5||", "6|t5|v5"}));
    QCOMPARE(rows_of(u).at(21), QString("21|t20|v20"));
  }

  void clear_rows_keeps_numbers() {
    TQGridModel t;
    setup_window_table(t);
    fill(t, 5);
    t.clear_rows(2, 3);
    QCOMPARE(rows_of(t).mid(1, 4), QStringList({"1|t1|v1", "2||", "3||", "4|t4|v4"}));
  }

  void copy_block_2x2() {
    TQGridModel t;
    setup_window_table(t);
    fill(t, 5);
    QCOMPARE(t.copy_block(1, 2, 3, 4), QString("t3\tv3\r\nt4\tv4\r\n"));
  }

  void paste_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("col");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QStringList>("expected"); // rows row .. row+2
    QTest::newRow("at the last row") << "a\tb\r\nc\td\r\n"
                                     << 1 << 20 << 22 << QStringList({"20|a|b", "21|c|d"});
    QTest::newRow("three fields") << "a\tb\tz\r\nc\td\tz\r\n"
                                  << 1 << 1 << 21 << QStringList({"1|a|b", "2|c|d", "3|t3|v3"});
    QTest::newRow("no final CR") << "a\tb\r\nc\td" << 1 << 1 << 21
                                 << QStringList({"1|a|b", "2|c|v2", "3|t3|v3"});
    QTest::newRow("starting in column 2") << "a\tb\r\n" << 2 << 1 << 21 << QStringList({"1|t1|a", "2|t2|v2"});
    QTest::newRow("LF only") << "a\tb\nc\td\n" << 1 << 1 << 21 << QStringList({"1|a|b", "2|c|d", "3|t3|v3"});
    QTest::newRow("CR only") << "a\tb\rc\td\r" << 1 << 1 << 21 << QStringList({"1|a|b", "2|c|d", "3|t3|v3"});
  }
  void paste() {
    QFETCH(QString, text);
    QFETCH(int, col);
    QFETCH(int, row);
    QFETCH(int, rows);
    QFETCH(QStringList, expected);
    TQGridModel t;
    setup_window_table(t);
    fill(t, 20);
    t.set_changed(false);
    const TGridPasteResult r = t.paste_text(text, col, row);
    QCOMPARE(r.dropped, 0);
    QCOMPARE(t.row_count(), rows);
    QCOMPARE(rows_of(t).mid(row, expected.size()), expected);
    QVERIFY(t.changed());
  }

  void paste_outside_the_table_data() {
    QTest::addColumn<int>("col");
    QTest::addColumn<int>("row");
    QTest::newRow("left of column 0") << -1 << 1;
    QTest::newRow("right of the last column") << 3 << 1;
    QTest::newRow("above the heading") << 1 << -1;
    QTest::newRow("two rows below the last") << 1 << 22;
    QTest::newRow("far below") << 1 << INT_MAX;
    QTest::newRow("far left") << INT_MIN << 1;
  }
  void paste_outside_the_table() {
    // The walk from such a cell would add rows that get nothing and lose lines, or shift every
    // field one column over: nothing is taken instead.
    QFETCH(int, col);
    QFETCH(int, row);
    TQGridModel t;
    setup_window_table(t);
    fill(t, 20);
    t.set_changed(false);
    const QStringList before = rows_of(t);
    const TGridPasteResult r = t.paste_text(u"a\tb\r\nc\td\r\n", col, row);
    QCOMPARE(r.taken, 0);
    QCOMPARE(r.dropped, 0);
    QCOMPARE(rows_of(t), before);
    QVERIFY(!t.changed());
  }

  void paste_just_below_the_last_row_adds_it() {
    TQGridModel t;
    setup_window_table(t);
    fill(t, 20);
    const TGridPasteResult r = t.paste_text(u"a\tb\r\n", 1, 21);
    QCOMPARE(r.taken, 5);
    QCOMPARE(t.row_count(), 22);
    QCOMPARE(rows_of(t).last(), QString("21|a|b"));
  }

  void paste_is_capped() {
    TQGridModel t;
    setup_window_table(t);
    QString text;
    while (text.size() < TQGridModel::paste_limit + 10)
      text += "1\t2\r\n";
    const TGridPasteResult r = t.paste_text(text, 1, 1);
    QCOMPARE(r.taken, TQGridModel::paste_limit);
    QCOMPARE(r.dropped, text.size() - TQGridModel::paste_limit);
    QCOMPARE(t.row_count(), int(TQGridModel::paste_limit / 5) + 1);
  }

  void repairs_data() {
    QTest::addColumn<bool>("sort");
    QTest::addColumn<QStringList>("rows"); // rows 1.. as "time|value"; the rest stay empty
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<int>("count");
    QTest::newRow("sort, stable, untimed rows last") << true << QStringList{"2|a", "1|b", "|", "1|c", "0|d"}
                                                     << QStringList{"0|d", "1|b", "1|c", "2|a", "|"} << 4;
    QTest::newRow("sort by number, text last") << true << QStringList{"10|a", "x|1", "9|b", "1e-3|c"}
                                               << QStringList{"1e-3|c", "9|b", "10|a", "x|1"} << 4;
    QTest::newRow("remove runs") << false << QStringList{"0|0", "0|0", "1|1", "1|1", "1|1", "0|0"}
                                 << QStringList{"0|0", "1|1", "0|0", "|"} << 3;
    QTest::newRow("remove equal numbers")
        << false << QStringList{"1|5", "1e0|5", "10e-1|5e0", "2|5"} << QStringList{"1|5", "2|5", "|"} << 2;
    QTest::newRow("remove keeps other values and non-points")
        << false << QStringList{"1|5", "1|6", "a|b", "a|b", "|", "|"}
        << QStringList{"1|5", "1|6", "a|b", "a|b", "|", "|"} << 0;
  }
  void repairs() {
    QFETCH(bool, sort);
    QFETCH(QStringList, rows);
    QFETCH(QStringList, expected);
    QFETCH(int, count);
    TQGridModel t;
    setup_window_table(t);
    for (int r = 0; r < rows.size(); ++r) {
      t.set_cell(1, r + 1, rows[r].section('|', 0, 0));
      t.set_cell(2, r + 1, rows[r].section('|', 1, 1));
    }
    t.set_changed(false);
    QCOMPARE(sort ? t.sort_rows_by_time() : t.remove_repeated_rows(), count);
    QCOMPARE(t.row_count(), 21 - (sort ? 0 : count));
    QStringList got;
    for (int r = 1; r <= expected.size(); ++r)
      got << t.cell(1, r) + '|' + t.cell(2, r);
    QCOMPARE(got, expected);
    QCOMPARE(t.cell(0, t.row_count() - 1), QString::number(t.row_count() - 1));
    QCOMPARE(t.changed(), count > 0);
  }

  void pwl_files_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("points"); // "time|value" as the cells read, '.' for the locale's
    QTest::addColumn<QString>("error");
    // SPICE numbers as the time of a pair: the cell holds the number a simulator reads, its scale
    // suffix turned into an exponent ("100e-9" reads as the long double nearest 1e-7).
    const char *numbers[][2] = {
        {"1m", "1e-3"},       {"1M", "1e-3"},     {"1meg", "1e6"},     {"1MEG", "1e6"},   {"2Meg", "2e6"},
        {"2.5u", "2.5e-6"},   {"100n", "100e-9"}, {"3p", "3e-12"},     {"3K", "3e3"},     {"1g", "1e9"},
        {"2T", "2e12"},       {"5f", "5e-15"},    {"1us", "1e-6"},     {"10NS", "10e-9"}, {"5V", "5"},
        {"2.5mA", "2.5e-3"},  {"1E-6s", "1e-6"},  {"1.5e3k", "1.5e6"}, {".5m", "0.5e-3"}, {"-2u", "-2e-6"},
        {"1\u00b5s", "1e-6"}, {"abc", ""},        {"1mil", ""},        {"1..2", ""},      {"1u5", ""},
        {"e5", ""},           {"1e99999", ""},    {"inf", ""},
    };
    for (const auto &[token, plain] : numbers)
      QTest::newRow(token) << QByteArray(token) + " 0" << QStringList{QString(plain) + "|0"}
                           << (*plain ? QString() : QString("Line 1: '%1' is not a number").arg(token));
    QTest::newRow("one pair a line") << QByteArray("0 0\n1u 1\n2.5u -0.5\n")
                                     << QStringList{"0|0", "1e-6|1", "2.5e-6|-0.5"} << "";
    QTest::newRow("pairs on a line, commas, tabs, CR LF")
        << QByteArray("0,0, 1u\t1   2u,0\r\n") << QStringList{"0|0", "1e-6|1", "2e-6|0"} << "";
    QTest::newRow("wrapped, continued, comments")
        << QByteArray("* a source\r\nPWL(0 0 ; start\r\n+ 1m 5V\r\n  * more\r\n+ 2MEG 0)\r\n")
        << QStringList{"0|0", "1e-3|5", "2e6|0"} << "";
    QTest::newRow("pair across lines") << QByteArray("pwl 0 0 1n\n2\n") << QStringList{"0|0", "1e-9|2"} << "";
    QTest::newRow("UTF-16") << QByteArray::fromHex("fffe310020003200") << QStringList{"1|2"} << "";
    QTest::newRow("not a number") << QByteArray("0 0\n1u abc\n") << QStringList{}
                                  << "Line 2: 'abc' is not a number";
    QTest::newRow("missing value") << QByteArray("0 0\n1u\n2u 0\n3u 1\n") << QStringList{}
                                   << "Line 2: '1u' has no value to pair with";
    QTest::newRow("unclosed") << QByteArray("PWL(0 0\n1u 1\n") << QStringList{}
                              << "Line 1: the '(' is not closed";
    QTest::newRow("after the list") << QByteArray("PWL(0 0) r=0\n") << QStringList{}
                                    << "Line 1: 'r=0' is not a number";
  }
  void pwl_files() {
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, points);
    QFETCH(QString, error);
    TQGridModel t;
    setup_window_table(t);
    fill(t, 30);
    t.set_changed(false);
    const QStringList before = rows_of(t);
    write_all(path("in.pwl"), bytes);
    const TGridFileResult r = load_pwl_file(t, path("in.pwl"));
    QCOMPARE(r.error, error);
    if (!error.isEmpty()) {
      QCOMPARE(r.status, TGridFileResult::Failed);
      QCOMPARE(rows_of(t), before);
      return;
    }
    QStringList expected{"#|Time|Value"};
    for (int i = 0; i < points.size(); ++i)
      expected << QString("%1|%2").arg(i + 1).arg(localized(points[i]));
    QCOMPARE(rows_of(t).mid(0, expected.size()), expected);
    QCOMPARE(t.row_count(), 21);
    QVERIFY(t.changed());
  }

  void pwl_export_round_trip() {
    // In the locale's notation in the table, '.' in the file, and the same points back.
    TQGridModel t;
    setup_window_table(t);
    const char *cells[][2] = {
        {"0", "0"}, {"1e-7", "1.23456789012345"}, {"x", "skipped"}, {"2.5e-3", "-0.5"}, {"1", "1e6"}};
    for (int r = 0; r < 5; ++r) {
      t.set_cell(1, r + 1, localized(cells[r][0]));
      t.set_cell(2, r + 1, localized(cells[r][1]));
    }
    QVERIFY(save_pwl_file(t, path("out.pwl")).ok());
    QCOMPARE(read_all(path("out.pwl")),
             QByteArray("0 0\r\n1e-07 1.23456789012345\r\n0.0025 -0.5\r\n1 1000000\r\n"));
    TQGridModel back;
    setup_window_table(back);
    QVERIFY(load_pwl_file(back, path("out.pwl")).ok());
    std::vector<TWavePoint> a, b;
    table_points(t, a);
    table_points(back, b);
    QCOMPARE(b.size(), std::size_t(4));
    for (std::size_t i = 0; i < a.size(); ++i)
      QVERIFY(b[i].time == a[i].time && b[i].value == a[i].value);                             // exactly
    QCOMPARE(save_pwl_file(TQGridModel(), path("empty.pwl")).status, TGridFileResult::Failed); // no points
    QVERIFY(!QFile::exists(path("empty.pwl")));
  }

  void auto_number_off_keeps_numbers() {
    TQGridModel t;
    setup_window_table(t);
    fill(t, 3);
    t.set_auto_number(false);
    QCOMPARE(t.cell(0, 3), QString("3"));
    t.set_data_separator(',');
    QVERIFY(t.save_to_file(path("numbers.csv")).ok());
    QVERIFY(read_all(path("numbers.csv")).startsWith("#,Time,Value\r\n1,t1,v1\r\n"));
  }
};

QTEST_GUILESS_MAIN(TestGridModel)
#include "test_grid_model.moc"
