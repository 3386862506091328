// Undo of a million-row table in the window: what the steps hold stays under one more table.
#include "QX5200_unit.h"
#include "TQGridUnit.h"
#include "table_helpers.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QTemporaryDir>
#include <QUndoStack>
#include <QtTest>

#include <sys/resource.h>

namespace {

struct OpenDialog : TWindowDialogs {
  QString answer;
  QString open_file_name(QWidget *, const QStringList &, const QString &) override { return answer; }
  QString save_file_name(QWidget *, const QStringList &, const QString &) override { return {}; }
  void information(QWidget *, const QString &, const QPoint &) override {}
  void error(QWidget *, const QString &) override {}
};

// What the table's rows take: their slots and their texts.
qint64 table_bytes(const TQGridModel &t) {
  qint64 bytes = 0;
  for (const TQGridModel::PackedRow &row : t.packed_rows())
    bytes += qint64(sizeof(row)) + row.text_bytes();
  return bytes;
}

// The cells of the table in one hash: a million rows as text would blur the memory measured.
QByteArray digest(const TQGridModel &t) {
  QCryptographicHash hash(QCryptographicHash::Sha1);
  for (int r = 0; r < t.row_count(); ++r)
    for (int c = 0; c < t.col_count(); ++c) {
      const QString text = t.cell(c, r) + QChar('|');
      hash.addData(QByteArrayView(reinterpret_cast<const char *>(text.constData()), text.size() * 2));
    }
  return hash.result();
}

qint64 resident_bytes() {
  QFile status("/proc/self/statm");
  if (!status.open(QIODevice::ReadOnly))
    return -1;
  return status.readAll().split(' ').value(1).toLongLong() * sysconf(_SC_PAGESIZE);
}

} // namespace

class TestUndoMemory : public QObject {
  Q_OBJECT
  QTemporaryDir dir_;

private slots:
  void million_rows_ten_edits() {
    const QString file = dir_.filePath("million.txt");
    {
      QByteArray text = "Time\tValue\r\n";
      for (int i = 0; i < 1000000; ++i)
        text += QByteArray::number(i) + "e-6\t" + QByteArray::number(i % 7) + "\r\n";
      write_all(file, text);
    }
    TForm1 w;
    auto dialogs = std::make_unique<OpenDialog>();
    dialogs->answer = file;
    w.set_dialogs(std::move(dialogs));
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.PageControl1->setCurrentIndex(TForm1::page_data);
    TQGrid *g = w.sg_data;
    const qint64 resident_start = resident_bytes();

    w.ac_load_data->trigger();
    QCOMPARE(g->RowCount(), 1000001);
    const qint64 resident_loaded = resident_bytes();
    const QByteArray loaded = digest(*g->grid());
    const qint64 one_table = table_bytes(*g->grid());

    for (int edit = 1; edit <= 10; ++edit) {
      g->setFocus();
      g->setCurrentIndex(g->grid()->index(edit - 1, 1));
      const char digit = char('0' + edit % 10);
      QTest::keyClick(g, digit);
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
      QTRY_COMPARE(g->cell(2, edit), QString(QChar(digit)));
    }
    QCOMPARE(g->undo()->stack()->count(), 11);
    // The steps keep the ten rows and the start-up table the Open replaced; the row slots of the
    // table as it was after the Open and as it was after the last step are the rest.
    QVERIFY2(g->undo()->held_bytes() < one_table,
             qPrintable(QString("%1 of %2").arg(g->undo()->held_bytes()).arg(one_table)));
#ifndef __SANITIZE_ADDRESS__
    const qint64 resident_edited = resident_bytes();
    QVERIFY2(resident_edited - resident_start < 2 * (resident_loaded - resident_start),
             qPrintable(QString("%1 MB after the edits, %2 MB for the table")
                            .arg((resident_edited - resident_start) >> 20)
                            .arg((resident_loaded - resident_start) >> 20)));
#endif

    qInfo("table %lld MB, steps %lld MB; resident: table %lld MB, after the edits %lld MB", one_table >> 20,
          g->undo()->held_bytes() >> 20, (resident_loaded - resident_start) >> 20,
          (resident_bytes() - resident_start) >> 20);
    for (int edit = 0; edit < 10; ++edit)
      QTest::keyClick(g, Qt::Key_Z, Qt::ControlModifier);
    QVERIFY(digest(*g->grid()) == loaded);

    // Delete All and a second Open each swap out a whole table; the steps keep only the last.
    QTest::keyClick(g, Qt::Key_D, Qt::ControlModifier | Qt::AltModifier);
    QCOMPARE(g->RowCount(), 21);
    w.ac_load_data->trigger();
    QTest::keyClick(g, Qt::Key_D, Qt::ControlModifier | Qt::AltModifier);
    QVERIFY2(g->undo()->held_bytes() < 2 * one_table,
             qPrintable(QString("%1 of %2").arg(g->undo()->held_bytes()).arg(one_table)));
    QTest::keyClick(g, Qt::Key_Z, Qt::ControlModifier);
    QVERIFY(digest(*g->grid()) == loaded);
    QTest::keyClick(g, Qt::Key_Z, Qt::ControlModifier);
    QVERIFY(!g->undo()->stack()->canUndo());
    QCOMPARE(g->RowCount(), 21);
  }
};

QTEST_MAIN(TestUndoMemory)
#include "test_undo_memory.moc"
