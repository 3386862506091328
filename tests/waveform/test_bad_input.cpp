// Hostile files and clipboard text against the point table: each gives a defined table (and the
// points the row rules make of it) or a failure with a reason, in bounded memory, and a failed
// load never touches the table the user had.
#include "NumberConversion.h"
#include "TQGridModel.h"
#include "TablePoints.h"
#include "localized.h"
#include "table_helpers.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <charconv>
#include <thread>

#include <sys/resource.h>
#include <unistd.h>

namespace {

// A table the user has worked on: what a failed load must leave alone.
void fill_user_table(TQGridModel &t) {
  setup_window_table(t);
  for (int r = 1; r <= 30; ++r) {
    t.set_cell(1, r, QString::number(r));
    t.set_cell(2, r, QString::number(r * 2));
  }
}

QString number_text(long double v) {
  char buf[64];
  const auto end = std::to_chars(buf, buf + sizeof buf, v).ptr;
  return QString::fromLatin1(buf, end - buf);
}

// The points as "time;value" in C notation, whatever the locale.
QStringList points_of(const TQGridModel &t) {
  std::vector<TWavePoint> points;
  table_points(t, points);
  QStringList out;
  for (const TWavePoint &p : points)
    out << number_text(p.time) + ';' + number_text(p.value);
  return out;
}

// The bytes of a literal, NULs included.
template <size_t N> QByteArray bytes_of(const char (&s)[N]) { return QByteArray(s, N - 1); }

QByteArray utf16(const QString &text, bool little_endian) {
  QStringEncoder encode(little_endian ? QStringEncoder::Utf16LE : QStringEncoder::Utf16BE);
  return (little_endian ? QByteArray("\xFF\xFE") : QByteArray("\xFE\xFF")) + QByteArray(encode.encode(text));
}

// Peak resident memory of this process so far, in bytes.
qint64 peak_rss() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return qint64(usage.ru_maxrss) * 1024;
}

// The rows a reset table adds after a short file, as the saved lines they become.
QString empty_rows_text(int from) {
  QString s;
  for (int r = from; r < 21; ++r)
    s += "\t\r\n";
  return s;
}

// How far this process has read the file through an open descriptor (-1: it has none open).
qint64 reading_position(const QString &name) {
  const QDir fds("/proc/self/fd");
  for (const QString &fd : fds.entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot)) {
    if (QFile::symLinkTarget(fds.filePath(fd)) != name)
      continue;
    QFile info("/proc/self/fdinfo/" + fd);
    if (info.open(QIODevice::ReadOnly)) {
      const QByteArray first = info.readLine();
      if (first.startsWith("pos:"))
        return first.mid(4).trimmed().toLongLong();
    }
  }
  return -1;
}

} // namespace

class TestBadInput : public QObject {
  Q_OBJECT
  QTemporaryDir dir_;
  QString path(const QString &name) const { return dir_.filePath(name); }

private slots:
  // The two huge files come first, so the peak they measure is their own.
  void huge_files_data() {
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QByteArray>("piece");
    QTest::addColumn<int>("pieces");
    QTest::addColumn<char>("separator");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QStringList>("points");
    // A line of 1,000,000 fields: the first two are the point, the rest are surplus.
    QByteArray fields;
    for (int i = 1; i <= 1000; ++i)
      fields += QByteArray::number(i % 10) + ',';
    QTest::newRow("line of 1,000,000 fields")
        << QByteArray("a,b\n") << fields << 1000 << ',' << QString() << QStringList({"1;2"});
    // One line of 100 MB without a line end: its cell could never be shown, so the load fails.
    QTest::newRow("100 MB line without a line end")
        << QByteArray("Time\tValue\r\n") << QByteArray(1 << 20, '7') << 100 << '\t' << "Line 2 is too long"
        << QStringList();
  }
  void huge_files() {
    QFETCH(QByteArray, head);
    QFETCH(QByteArray, piece);
    QFETCH(int, pieces);
    QFETCH(char, separator);
    QFETCH(QString, error);
    QFETCH(QStringList, points);
    const QString name = path("huge.txt");
    {
      QFile f(name); // written a piece at a time so the test itself stays small
      QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
      f.write(head);
      for (int i = 0; i < pieces; ++i)
        QCOMPARE(f.write(piece), piece.size());
    }
    const qint64 size = QFileInfo(name).size();
    TQGridModel t;
    fill_user_table(t);
    t.set_data_separator(separator);
    const QStringList before = rows_of(t);

    const qint64 rss_before = peak_rss();
    const TGridFileResult r = t.load_from_file(name);
    const qint64 growth = peak_rss() - rss_before;
    qInfo("peak resident memory grew by %lld MB for a %lld MB file", growth >> 20, size >> 20);
    QVERIFY2(growth < 8 * size + (qint64(200) << 20),
             qPrintable(QString("peak grew by %1 MB for a %2 MB file").arg(growth >> 20).arg(size >> 20)));
    QFile::remove(name);

    if (error.isEmpty()) {
      QVERIFY(r.ok());
      QCOMPARE(points_of(t), points);
    } else {
      QCOMPARE(r.status, TGridFileResult::Failed);
      QCOMPARE(r.error, error);
      QCOMPARE(rows_of(t), before);
    }
  }

  void small_files_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("heading");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QStringList>("points");
    const QStringList no_points;
    QTest::newRow("empty file") << QByteArray() << QStringList({"", ""}) << 21 << no_points;
    QTest::newRow("only a heading") << QByteArray("Time\tValue\r\n") << QStringList({"Time", "Value"}) << 21
                                    << no_points;
    QTest::newRow("heading without line end")
        << QByteArray("Time\tValue") << QStringList({"Time", "Value"}) << 21 << no_points;
    // A NUL is kept as a character, and a cell that holds one is not a number.
    QTest::newRow("NUL bytes") << bytes_of("h\0\tv\r\n1\0\t2\r\n3\t4\0\r\n\0\0\0\r\n5\t6\r\n")
                               << QStringList({QString::fromUtf8("h\0", 2), "v"}) << 21
                               << QStringList({"5;6"});
    QTest::newRow("UTF-8 BOM") << QByteArray("\xEF\xBB\xBFt\tv\r\n1\t2\r\n") << QStringList({"t", "v"}) << 21
                               << QStringList({"1;2"});
    const QString micro = QString::fromUtf8("t\xc2\xb5s");
    QTest::newRow("UTF-16 LE BOM") << utf16(micro + "\tv\r\n1\t2\r\n3\t4", true) << QStringList({micro, "v"})
                                   << 21 << QStringList({"1;2", "3;4"});
    QTest::newRow("UTF-16 BE BOM") << utf16("t\tv\n1\t2\n", false) << QStringList({"t", "v"}) << 21
                                   << QStringList({"1;2"});
    QTest::newRow("UTF-16 BOM only") << QByteArray("\xFF\xFE") << QStringList({"", ""}) << 21 << no_points;
    // An odd byte count is not UTF-16: every byte is kept as Latin-1 instead.
    QTest::newRow("UTF-16 BOM, odd length") << QByteArray("\xFF\xFE"
                                                          "a\tb\r\n1\t2\n")
                                            << QStringList({QString::fromLatin1("\xFF\xFE"
                                                                                "a"),
                                                            "b"})
                                            << 21 << QStringList({"1;2"});
    QTest::newRow("lone CR line ends") << QByteArray("t\tv\r1\t2\r3\t4\r\r5\t6") << QStringList({"t", "v"})
                                       << 21 << QStringList({"1;2", "3;4", "5;6"});
    QByteArray many = "t\tv\r";
    for (int i = 1; i <= 40; ++i)
      many += QByteArray::number(i) + "\t0\r";
    QStringList many_points;
    for (int i = 1; i <= 40; ++i)
      many_points << QString::number(i) + ";0";
    QTest::newRow("41 lines ended by lone CRs") << many << QStringList({"t", "v"}) << 41 << many_points;
  }
  void small_files() {
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, heading);
    QFETCH(int, rows);
    QFETCH(QStringList, points);
    write_all(path("small.txt"), bytes);
    TQGridModel t;
    fill_user_table(t);
    QVERIFY(t.load_from_file(path("small.txt")).ok());
    QCOMPARE(QStringList({t.cell(1, 0), t.cell(2, 0)}), heading);
    QCOMPARE(t.row_count(), rows);
    QCOMPARE(points_of(t), points);
    QVERIFY(t.changed());
  }

  void saved_in_the_encoding_read_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("saved");
    const QString text = QString::fromUtf8("Zeit \xc2\xb5s \xf0\x9d\x9c\x8f\tI\r\n1\t2\r\n");
    for (bool le : {true, false})
      QTest::newRow(le ? "UTF-16 LE" : "UTF-16 BE")
          << utf16(text, le) << utf16(text + empty_rows_text(2), le);
    // A second mark is a character of the heading, not a second encoding.
    const QString marked = QChar(0xfeff) + QString("t\tv\r\n");
    QTest::newRow("UTF-16 LE, two marks") << utf16(marked, true) << utf16(marked + empty_rows_text(1), true);
    QTest::newRow("UTF-8 BOM") << QByteArray("\xEF\xBB\xBFt\tv\r\n")
                               << QByteArray("\xEF\xBB\xBFt\tv\r\n") + empty_rows_text(1).toLatin1();
  }
  void saved_in_the_encoding_read() {
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, saved);
    write_all(path("enc.txt"), bytes);
    TQGridModel t;
    setup_window_table(t);
    QVERIFY(t.load_from_file(path("enc.txt")).ok());
    QVERIFY(t.save_to_file(path("enc-out.txt")).ok());
    QCOMPARE(read_all(path("enc-out.txt")), saved);
  }

  void random_megabyte() {
    // Whatever it holds, it loads, and saving and reading it back gives the same table.
    QRandomGenerator rng(11);
    QByteArray bytes(1 << 20, Qt::Uninitialized);
    rng.fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
    write_all(path("random.bin"), bytes);
    for (char separator : {'\t', ',', ' '}) {
      TQGridModel t;
      fill_user_table(t);
      t.set_data_separator(separator);
      QVERIFY(t.load_from_file(path("random.bin")).ok());
      QVERIFY(t.latin1());
      QVERIFY(t.row_count() > 21);
      const QStringList points = points_of(t);
      QVERIFY(t.save_to_file(path("random-out.txt")).ok());
      TQGridModel back;
      setup_window_table(back);
      back.set_data_separator(separator);
      QVERIFY(back.load_from_file(path("random-out.txt")).ok());
      QVERIFY(rows_of(back) == rows_of(t));
      QCOMPARE(points_of(back), points);
    }
  }

  void number_cells_data() {
    QTest::addColumn<QString>("cell");
    QTest::addColumn<QString>("point_dot");   // the value in the C locale, empty for no point
    QTest::addColumn<QString>("point_comma"); // the value under a comma locale
    QTest::newRow("nan") << "nan"
                         << ""
                         << "";
    QTest::newRow("inf") << "inf"
                         << ""
                         << "";
    QTest::newRow("-inf") << "-inf"
                          << ""
                          << "";
    // An extended real holds it, but no figure built from it could be written for a double reader.
    QTest::newRow("1e999 is beyond a double") << "1e999"
                                              << ""
                                              << "";
    QTest::newRow("1e308 is not") << "1e308"
                                  << "1e+308"
                                  << "1e+308";
    QTest::newRow("1e99999 does not") << "1e99999"
                                      << ""
                                      << "";
    QTest::newRow("-0") << "-0"
                        << "-0"
                        << "-0";
    QTest::newRow("0x10") << "0x10"
                          << ""
                          << "";
    QTest::newRow("leading space") << " 1"
                                   << "1"
                                   << "1";
    QTest::newRow("1,5") << "1,5"
                         << ""
                         << "1.5";
    QTest::newRow("1.5") << "1.5"
                         << "1.5"
                         << "";
    QTest::newRow("1.5e-3") << "1.5e-3"
                            << "0.0015"
                            << "";
    QTest::newRow("empty") << ""
                           << ""
                           << "";
  }
  void number_cells() {
    QFETCH(QString, cell);
    QFETCH(QString, point_dot);
    QFETCH(QString, point_comma);
    const QString expected = locale_decimal_separator() == u',' ? point_comma : point_dot;
    write_all(path("cells.txt"), "t\tv\r\n1\t" + cell.toUtf8() + "\r\n" + cell.toUtf8() + "\t2\r\n");
    TQGridModel t;
    setup_window_table(t);
    QVERIFY(t.load_from_file(path("cells.txt")).ok());
    QCOMPARE(t.cell(2, 1), cell); // the text is kept whatever it means
    const QStringList want =
        expected.isEmpty() ? QStringList() : QStringList({"1;" + expected, expected + ";2"});
    QCOMPARE(points_of(t), want);
  }

  void cells_up_to_the_limit_load() {
    // The longest cell a file may hold loads; one character more fails and names the line.
    const QByteArray longest(TQGridModel::file_cell_limit, 'x');
    TQGridModel t;
    fill_user_table(t);
    const QStringList before = rows_of(t);
    write_all(path("limit.txt"), "t\tv\n1\t" + longest + "\n");
    QVERIFY(t.load_from_file(path("limit.txt")).ok());
    QCOMPARE(t.cell(2, 1).size(), TQGridModel::file_cell_limit);

    fill_user_table(t);
    write_all(path("limit.txt"), "t\tv\n1\t2\n3\t" + longest + "x\n");
    const TGridFileResult r = t.load_from_file(path("limit.txt"));
    QCOMPARE(r.status, TGridFileResult::Failed);
    QCOMPARE(r.error, QString("Line 3 is too long"));
    QCOMPARE(rows_of(t), before);
    // Surplus fields are not cells, so their length does not matter.
    write_all(path("limit.txt"), "t\tv\n1\t2\t" + longest + "x\n");
    QVERIFY(t.load_from_file(path("limit.txt")).ok());
    QCOMPARE(points_of(t), QStringList({"1;2"}));
  }

  void unusable_paths_keep_table_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("error");
    QTest::newRow("a directory") << "folder.txt"
                                 << "Not a regular file";
    QTest::newRow("a device") << "/dev/zero"
                              << "Not a regular file";
  }
  void unusable_paths_keep_table() {
    QFETCH(QString, name);
    QFETCH(QString, error);
    QDir(dir_.path()).mkdir("folder.txt");
    TQGridModel t;
    fill_user_table(t);
    t.set_changed(false);
    const QStringList before = rows_of(t);
    const TGridFileResult r = t.load_from_file(QDir(dir_.path()).absoluteFilePath(name));
    QCOMPARE(r.status, TGridFileResult::Failed);
    QCOMPARE(r.error, error);
    QCOMPARE(rows_of(t), before);
    QVERIFY(!t.changed());
  }

  void unreadable_file_keeps_table() {
    // Root reads any file, so the load runs in a child that has become the nobody user.
    QTemporaryDir open_dir(QDir::tempPath() + "/unreadable-XXXXXX");
    QVERIFY(QFile::setPermissions(open_dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                       QFile::ExeGroup | QFile::ExeOther));
    const QString name = open_dir.filePath("secret.txt");
    write_all(name, "t\tv\r\n1\t2\r\n");
    QVERIFY(QFile::setPermissions(name, QFile::WriteOwner));
    TQGridModel t;
    fill_user_table(t);
    const QStringList before = rows_of(t);
    auto load_is_refused = [&] {
      const TGridFileResult r = t.load_from_file(name);
      return r.status == TGridFileResult::Failed && r.error == "Permission denied" && rows_of(t) == before;
    };
    if (geteuid() != 0) {
      QVERIFY(load_is_refused());
      return;
    }
    const int as_nobody = run_as_nobody(load_is_refused);
    if (as_nobody == 2)
      QSKIP("cannot become an unprivileged user here");
    QCOMPARE(as_nobody, 0);
  }

  void file_changing_while_read() {
    // Each round a writer rewrites the file with another version once the load has read its
    // first piece. A load gives one whole version or fails and keeps the table, never a mix.
    const QString name = QFileInfo(path("moving.txt")).absoluteFilePath();
    auto lines = [](int v) { return 1000000 + (v % 7) * 50000; };
    auto version = [&](int v) {
      const QByteArray n = QByteArray::number(v);
      return "h" + n + "\tv\r\n" + (n + '\t' + n + "\r\n").repeated(lines(v));
    };
    write_all(name, version(0));
    enum { idle, armed, writing };
    std::atomic<int> state{idle};
    std::atomic<bool> stop{false};
    std::atomic<int> rewrites{0};
    std::thread writer([&] {
      for (int v = 1; !stop;) {
        int expected = armed;
        if (reading_position(name) <= 0 || !state.compare_exchange_strong(expected, writing)) {
          std::this_thread::yield();
          continue;
        }
        QFile f(name);
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
          f.write(version(v++));
        f.close();
        ++rewrites;
        state = idle;
      }
    });
    const auto join = qScopeGuard([&] {
      stop = true;
      writer.join();
    });
    int refused = 0;
    for (int round = 0; round < 3; ++round) {
      TQGridModel t;
      fill_user_table(t);
      const QStringList before = rows_of(t);
      state = armed;
      const TGridFileResult r = t.load_from_file(name);
      int expected = armed;
      if (!state.compare_exchange_strong(expected, idle))
        while (state != idle)
          std::this_thread::yield();
      if (!r.ok()) {
        ++refused;
        QCOMPARE(r.error, QString("It changed while it was read"));
        QCOMPARE(rows_of(t), before);
        continue;
      }
      const int v = t.cell(1, 0).mid(1).toInt();
      QCOMPARE(t.row_count(), lines(v) + 1);
      const QString text = QString::number(v);
      for (int row = 1; row < t.row_count(); ++row)
        if (t.cell_view(1, row) != text || t.cell_view(2, row) != text)
          QFAIL(qPrintable(QString("row %1 of version %2 holds %3, %4")
                               .arg(row)
                               .arg(v)
                               .arg(t.cell(1, row), t.cell(2, row))));
    }
    // Every round gives the writer its chance while the load reads, so some loads were overtaken.
    QVERIFY(rewrites > 0);
    QVERIFY(refused > 0);
  }

  void huge_paste_takes_the_first_characters() {
    // 10 MB of 9-character lines: 11,111 whole lines fit in the first 100,000 characters, and
    // the single character after them has no line end, so it is not stored.
    QString text;
    text.reserve(10 << 20);
    for (int i = 1; text.size() < (10 << 20); ++i)
      text += QString("1\t%1\r\n").arg(i, 5, 10, QChar(u'0'));
    TQGridModel t;
    fill_user_table(t);
    const TGridPasteResult r = t.paste_text(text, 1, 1);
    QCOMPARE(r.taken, qsizetype(100000));
    QCOMPARE(r.dropped, text.size() - 100000);
    QCOMPARE(t.row_count(), 11112);
    QCOMPARE(t.cell(2, 11111), QString("11111"));
    QCOMPARE(t.cell(1, 11111), QString("1"));
    QCOMPARE(points_of(t).size(), 11111);
  }
};

QTEST_GUILESS_MAIN(TestBadInput)
#include "test_bad_input.moc"
