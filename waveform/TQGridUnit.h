#pragma once

#include "TQGridModel.h"
#include "TQGridUndo.h"

#include <QTableView>

// The point table: a string grid with a fixed heading row and number column, range selection,
// in-place editing and row dragging. The cells, files and row operations live in TQGridModel;
// this view adds the selection, the clipboard and the mouse and key behaviour.
//
// The fixed row and column are the view's headers. Dragging a row number onto another row
// exchanges the two rows (row_moved).
class TQGrid : public QTableView {
  Q_OBJECT
public:
  explicit TQGrid(QWidget *parent = nullptr, int col_count = 3, int row_count = 21);

  TQGridModel *grid() const { return model_; }
  // Undo and redo of the table. The edit operations below, typing into a cell and dragging a row
  // each make one step; the table's own operations (set_cell, load_from_file...) make none.
  TQGridUndo *undo() const { return undo_; }

  int ColCount() const { return model_->col_count(); }
  int RowCount() const { return model_->row_count(); }
  QString cell(int col, int row) const { return model_->cell(col, row); }
  void set_cell(int col, int row, const QString &text) { model_->set_cell(col, row, text); }

  int default_row_count() const { return model_->default_row_count(); }
  void set_default_row_count(int n) { model_->set_default_row_count(n); }
  bool auto_number() const { return model_->auto_number(); }
  void set_auto_number(bool on) { model_->set_auto_number(on); }
  bool changed() const { return model_->changed(); }
  void set_changed(bool on) { model_->set_changed(on); }
  char data_separator() const { return model_->data_separator(); }
  void set_data_separator(char c) { model_->set_data_separator(c); }

  // Column 0 is the row-number header; its width is the header's.
  void set_col_width(int col, int width);
  void set_default_row_height(int height);

  // The selection in grid coordinates. The heading cell (0,0) can be selected by the program
  // (after Delete) but is not shown as selected.
  TGridRect grid_selection() const;
  void set_grid_selection(const TGridRect &rect);

  void add_row();
  void insert_row();
  void insert_row_at(int row) { model_->insert_row_at(row); }
  void clear_row(int row) { model_->clear_row(row); }
  void clear_selected_rows();
  void delete_selected_rows();
  void reset_table() { model_->reset_table(); }
  void renumber() { model_->renumber(); }
  void select_all();
  void copy_selection() const;
  void copy_block(int left, int right, int top, int bottom) const;
  void cut_selection();
  TGridPasteResult paste_clipboard();
  TGridFileResult save_to_file(const QString &file_name) const { return model_->save_to_file(file_name); }
  TGridFileResult load_from_file(const QString &file_name) { return model_->load_from_file(file_name); }
  // Called when the user has dragged row `from` onto row `to`.
  void RowMoved(int from, int to);

signals:
  // A character key was typed into the table.
  void KeyPress();
  // The focused cell changed.
  void SelectCell(int col, int row);

protected:
  void keyPressEvent(QKeyEvent *event) override;
  void mousePressEvent(QMouseEvent *event) override;
  void mouseReleaseEvent(QMouseEvent *event) override;
  void selectionChanged(const QItemSelection &selected, const QItemSelection &deselected) override;
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  // The selection limited to the cells the user can see selected: operations never act on the
  // heading row or the number column through a selection the user cannot see.
  TGridRect data_selection() const;
  void header_section_moved(int logical, int old_visual, int new_visual);
  // Follows a drag of a row number in the header's viewport; true when it took the event.
  bool row_drag_filter(QEvent *event);

  TQGridModel *model_;
  TQGridUndo *undo_;
  TGridRect selection_{1, 1, 1, 1};
  EditTriggers edit_triggers_;
  bool reverting_move_ = false;
  // The row-number drag under way: the row pressed, the row under the mouse, whether the mouse
  // has gone far enough to make it a drag (visual row indices; -1 when none).
  int drag_from_ = -1;
  int drag_to_ = -1;
  int drag_start_y_ = 0;
  bool dragging_ = false;
};
