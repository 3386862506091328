// The point table's view: selection, clipboard, mouse presses, row dragging and typing.
#include "TQGridUnit.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QSignalSpy>
#include <QUndoStack>
#include <QtTest>

namespace {

void fill(TQGrid &g, int n) {
  g.set_cell(1, 0, "Time");
  g.set_cell(2, 0, "Value");
  for (int r = 1; r <= n; ++r) {
    g.set_cell(1, r, QString("t%1").arg(r));
    g.set_cell(2, r, QString("v%1").arg(r));
  }
}

QPoint cell_center(const TQGrid &g, int col, int row) {
  return g.visualRect(g.grid()->index(row - 1, col - 1)).center();
}

} // namespace

class TestGridView : public QObject {
  Q_OBJECT
  std::unique_ptr<TQGrid> grid_;

private slots:
  void init() {
    grid_ = std::make_unique<TQGrid>(nullptr, 3, 21);
    grid_->set_default_row_count(21);
    grid_->set_auto_number(true);
    grid_->resize(460, 480);
    fill(*grid_, 20);
    grid_->show();
    grid_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(grid_.get()));
  }
  void cleanup() { grid_.reset(); }

  // The row a number is dropped on is the row it lands at, wherever in that row it falls.
  void dragging_a_row_exchanges_it_with_the_row_dropped_on_data() {
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<int>("offset"); // pixels into the target row
    for (int to : {6, 3, 2})
      for (int offset : {2, 10, 17})
        QTest::addRow("%d onto %d at %d", to == 2 ? 7 : 2, to, offset) << (to == 2 ? 7 : 2) << to << offset;
  }
  void dragging_a_row_exchanges_it_with_the_row_dropped_on() {
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(int, offset);
    grid_->set_changed(false);
    QHeaderView *rows = grid_->verticalHeader();
    auto at = [&](int row, int dy) {
      return QPoint(rows->width() / 2, rows->sectionViewportPosition(row - 1) + dy);
    };
    QTest::mousePress(rows->viewport(), Qt::LeftButton, {}, at(from, 10));
    QTest::mouseMove(rows->viewport(), at((from + to) / 2, offset));
    QTest::mouseMove(rows->viewport(), at(to, offset));
    QTest::mouseRelease(rows->viewport(), Qt::LeftButton, {}, at(to, offset));
    for (int r = 1; r <= 8; ++r) {
      const int expected = r == from ? to : r == to ? from : r;
      QCOMPARE(grid_->cell(1, r), QString("t%1").arg(expected));
      QCOMPARE(grid_->cell(2, r), QString("v%1").arg(expected));
      QCOMPARE(rows->visualIndex(r - 1), r - 1); // the header itself stays in order
    }
    QVERIFY(grid_->changed());
    QCOMPARE(grid_->undo()->stack()->count(), 1);
  }

  void copy_selection_puts_tab_and_crlf_text() {
    grid_->set_grid_selection({1, 3, 2, 4});
    grid_->copy_selection();
    QCOMPARE(QGuiApplication::clipboard()->text(), QString("t3\tv3\r\nt4\tv4\r\n"));
  }

  void select_all_covers_every_data_cell() {
    grid_->select_all();
    QCOMPARE(grid_->grid_selection(), TGridRect({1, 1, 2, 20}));
  }

  void paste_clipboard_at_selection() {
    QGuiApplication::clipboard()->setText("a\tb\r\nc\td\r\n");
    grid_->set_grid_selection({1, 20, 1, 20});
    const TGridPasteResult r = grid_->paste_clipboard();
    QCOMPARE(r.dropped, 0);
    QCOMPARE(grid_->RowCount(), 22);
    QCOMPARE(grid_->cell(2, 21), QString("d"));
  }

  void cut_copies_then_clears_rows() {
    grid_->set_grid_selection({2, 2, 2, 3});
    grid_->cut_selection();
    QCOMPARE(QGuiApplication::clipboard()->text(), QString("v2\r\nv3\r\n"));
    QCOMPARE(grid_->cell(1, 2), QString()); // whole rows are cleared
    QCOMPARE(grid_->cell(1, 4), QString("t4"));
  }

  void heading_selection_never_edits_the_heading() {
    // After Delete the selection sits on the heading cell (0,0), which the user cannot see.
    grid_->set_grid_selection({0, 0, 0, 0});
    QCOMPARE(grid_->grid_selection(), TGridRect({0, 0, 0, 0}));
    grid_->delete_selected_rows();
    grid_->clear_selected_rows();
    grid_->cut_selection();
    grid_->insert_row();
    QCOMPARE(grid_->RowCount(), 21);
    QCOMPARE(grid_->cell(1, 0), QString("Time"));
    QCOMPARE(grid_->cell(1, 1), QString("t1"));
    QGuiApplication::clipboard()->setText("x\ty\r\n");
    grid_->paste_clipboard();
    QCOMPARE(grid_->cell(1, 0), QString("Time"));
    QCOMPARE(grid_->cell(1, 1), QString("x"));
  }

  void shift_click_collapses_to_top_left() {
    QTest::mouseClick(grid_->viewport(), Qt::LeftButton, {}, cell_center(*grid_, 2, 5));
    QTest::mouseClick(grid_->viewport(), Qt::LeftButton, Qt::ShiftModifier, cell_center(*grid_, 1, 2));
    QCOMPARE(grid_->grid_selection(), TGridRect({1, 2, 1, 2}));
    QCOMPARE(grid_->currentIndex(), grid_->grid()->index(1, 0));
    QVERIFY(grid_->editTriggers() != QAbstractItemView::NoEditTriggers);
    // A press opens no editor, not even on the cell that was already selected.
    QTest::mouseClick(grid_->viewport(), Qt::LeftButton, {}, cell_center(*grid_, 1, 2));
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(grid_.get()));
  }

  void typing_edits_and_marks_changed() {
    QSignalSpy typed(grid_.get(), &TQGrid::KeyPress);
    grid_->set_changed(false);
    QTest::mouseClick(grid_->viewport(), Qt::LeftButton, {}, cell_center(*grid_, 1, 3));
    QTest::keyClicks(grid_.get(), "4");
    QCOMPARE(typed.count(), 1);
    QVERIFY(grid_->changed());
    QTest::keyClicks(QApplication::focusWidget(), "2");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QTRY_COMPARE(grid_->cell(1, 3), QString("42")); // the delegate commits on a queued call
  }

  void selection_stays_visible_after_shrinking() {
    grid_->set_grid_selection({1, 15, 2, 18});
    grid_->grid()->delete_rows(2, 4); // 18 rows remain
    QCOMPARE(grid_->grid_selection(), TGridRect({1, 15, 2, 17}));
    QCOMPARE(grid_->selectionModel()->selectedIndexes().size(), 6);
  }

  void headers_show_row_zero_and_column_zero() {
    QCOMPARE(grid_->model()->headerData(0, Qt::Horizontal).toString(), QString("Time"));
    QCOMPARE(grid_->model()->headerData(19, Qt::Vertical).toString(), QString("20"));
    grid_->grid()->delete_rows(1, 20);
    QCOMPARE(grid_->model()->headerData(0, Qt::Horizontal).toString(), QString());
  }
};

QTEST_MAIN(TestGridView)
#include "test_grid_view.moc"
