// Files the window cannot use: the message names the file and the reason, and the table, the
// points and the watched file stay as they were. And a UTF-16 file gives its points.
#include "QX5200_Driver.h"
#include "QX5200_unit.h"
#include "TQGridModel.h"
#include "TQGridUnit.h"
#include "table_helpers.h"

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

namespace {

struct RecordingDialogs : TWindowDialogs {
  QStringList errors;
  QString open_file_name(QWidget *, const QStringList &, const QString &) override { return {}; }
  QString save_file_name(QWidget *, const QStringList &, const QString &) override { return {}; }
  void information(QWidget *, const QString &, const QPoint &) override {}
  void error(QWidget *, const QString &text) override { errors << text; }
};

} // namespace

class TestBadInputWindow : public QObject {
  Q_OBJECT
  std::unique_ptr<TForm1> w_;
  RecordingDialogs *dialogs_ = nullptr;
  QTemporaryDir dir_{QDir::tempPath() + "/bad-input-XXXXXX"};

private slots:
  void initTestCase() {
    // Traversable by everyone, so an unprivileged reader fails on the file, not on the way to it.
    QVERIFY(QFile::setPermissions(dir_.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                   QFile::ExeGroup | QFile::ExeOther));
  }
  void init() {
    w_ = std::make_unique<TForm1>(nullptr, nullptr);
    auto dialogs = std::make_unique<RecordingDialogs>();
    dialogs_ = dialogs.get();
    w_->set_dialogs(std::move(dialogs));
  }
  void cleanup() { w_.reset(); }

  void refused_file_keeps_table_and_watch_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<bool>("as_nobody"); // load as an unprivileged user
    QTest::newRow("a directory") << "folder.txt"
                                 << "Not a regular file" << false;
    QTest::newRow("a cell too long to show") << "long.txt"
                                             << "Line 3 is too long" << false;
    QTest::newRow("no read permission") << "secret.txt"
                                        << "Permission denied" << true;
  }
  void refused_file_keeps_table_and_watch() {
    QFETCH(QString, file);
    QFETCH(QString, reason);
    QFETCH(bool, as_nobody);
    QDir(dir_.path()).mkdir("folder.txt");
    write_all(dir_.filePath("long.txt"),
              "t\tv\r\n1\t2\r\n3\t" + QByteArray(TQGridModel::file_cell_limit + 1, '4') + "\r\n");
    write_all(dir_.filePath("secret.txt"), "t\tv\r\n1\t2\r\n");
    QVERIFY(QFile::setPermissions(dir_.filePath("secret.txt"), QFile::WriteOwner));

    const QString good = dir_.filePath("good.txt");
    write_all(good, "Time\tValue\r\n0\t1\r\n1\t2\r\n2\t3\r\n");
    w_->load_data_file(good);
    QVERIFY(dialogs_->errors.isEmpty());
    QCOMPARE(w_->driver->data_count(), 3);
    const QStringList table = rows_of(*w_->findChild<TQGrid *>("sg_data")->grid());
    const qint64 age = w_->watched_file_age();

    const QString bad = dir_.filePath(file);
    auto refused = [&] {
      w_->load_data_file(bad);
      return dialogs_->errors.size() == 1 &&
             dialogs_->errors.first().contains(QDir::toNativeSeparators(bad)) &&
             dialogs_->errors.first().contains(reason) &&
             rows_of(*w_->findChild<TQGrid *>("sg_data")->grid()) == table && w_->driver->data_count() == 3 &&
             w_->watched_file_name() == good && w_->watched_file_age() == age;
    };
    if (!as_nobody || geteuid() != 0) {
      QVERIFY2(refused(), qPrintable(dialogs_->errors.join('\n')));
      return;
    }
    // Root reads any file: the load runs in a child that has become the nobody user.
    const int child = run_as_nobody(refused);
    if (child == 2)
      QSKIP("cannot become an unprivileged user here");
    QCOMPARE(child, 0);
  }

  void utf16_file_gives_its_points() {
    const QString name = dir_.filePath("wide.txt");
    QStringEncoder encode(QStringEncoder::Utf16LE);
    write_all(name, "\xFF\xFE" + QByteArray(encode.encode(u"Time\tValue\r\n0\t1\r\n1\t2\r\n")));
    w_->load_data_file(name);
    QVERIFY(dialogs_->errors.isEmpty());
    QCOMPARE(w_->findChild<TQGrid *>("sg_data")->cell(1, 0), QString("Time"));
    QCOMPARE(w_->driver->data_count(), 2);
    QCOMPARE(w_->watched_file_name(), name);
  }
};

QTEST_MAIN(TestBadInputWindow)
#include "test_bad_input_window.moc"
