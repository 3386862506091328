#include "TQGridUnit.h"

#include "TablePoints.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionHeader>
#include <QStyledItemDelegate>

#include <algorithm>
#include <cstdlib>

namespace {

// The layout the table starts with (the window sets its own).
constexpr int number_col_width = 65;
constexpr int row_height = 20;
// Rows are never drawn lower than this, whatever the font.
constexpr int min_row_height = 8;

// The cell editor: what it commits is one step, and the undo keys typed into it are its own.
class TGridCellDelegate : public QStyledItemDelegate {
public:
  TGridCellDelegate(TQGridUndo *undo, QObject *parent) : QStyledItemDelegate(parent), undo_(undo) {}

  void setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const override {
    QStyledItemDelegate::setModelData(editor, model, index);
    undo_->record(TGridStepKind::edit, TQGridUndo::tr("Typing"));
  }

protected:
  // A cell that keeps its row from being a point is marked: such rows are skipped.
  void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    const auto *table = qobject_cast<const TQGridModel *>(index.model());
    if (table &&
        skipped_cell(*table, index.column() + TQGridModel::fixed_cols, index.row() + TQGridModel::fixed_rows))
      option->backgroundBrush = QColor(255, 205, 205);
  }

  bool eventFilter(QObject *watched, QEvent *event) override {
    if (event->type() == QEvent::ShortcutOverride) {
      auto *key = static_cast<QKeyEvent *>(event);
      const QKeyCombination combination = key->keyCombination();
      for (const QKeySequence &keys :
           {QKeySequence(Qt::CTRL | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z),
            QKeySequence(Qt::CTRL | Qt::Key_Y)})
        if (keys[0] == combination) {
          event->accept();
          return true;
        }
    }
    return QStyledItemDelegate::eventFilter(watched, event);
  }

private:
  TQGridUndo *undo_;
};

} // namespace

TQGrid::TQGrid(QWidget *parent, int col_count, int row_count)
    : QTableView(parent), model_(new TQGridModel(col_count, row_count, this)),
      undo_(new TQGridUndo(model_, this)) {
  setModel(model_);
  setItemDelegate(new TGridCellDelegate(undo_, this));
  setSelectionMode(QAbstractItemView::ContiguousSelection);
  setSelectionBehavior(QAbstractItemView::SelectItems);
  // A press never opens the editor: typing, F2 or a double click does.
  edit_triggers_ =
      QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed;
  setEditTriggers(edit_triggers_);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setWordWrap(false);
  setCornerButtonEnabled(false);

  // Fixed section sizes keep a table of a million rows as quick as a short one.
  QHeaderView *rows = verticalHeader();
  rows->setSectionResizeMode(QHeaderView::Fixed);
  rows->setMinimumSectionSize(min_row_height);
  rows->setDefaultAlignment(Qt::AlignCenter);
  rows->setSectionsClickable(false);
  rows->setSectionsMovable(true);
  rows->setFixedWidth(number_col_width);
  connect(rows, &QHeaderView::sectionMoved, this, &TQGrid::header_section_moved);
  // The header would place the row before or after the one under the mouse, by which half of it
  // the drop falls on; the user means the row under the mouse.
  rows->viewport()->installEventFilter(this);
  QHeaderView *cols = horizontalHeader();
  cols->setSectionResizeMode(QHeaderView::Fixed);
  cols->setSectionsClickable(false);
  cols->setHighlightSections(false);
  cols->setStretchLastSection(false);
  set_default_row_height(row_height);

  // The corner cell is the heading of the number column ("#").
  if (auto *corner = findChild<QAbstractButton *>())
    corner->installEventFilter(this);
  connect(model_, &QAbstractItemModel::headerDataChanged, this, [this] {
    if (auto *corner = findChild<QAbstractButton *>())
      corner->update();
  });

  // The selection outlives a reload or shrinking of the table, as the user saw it: show it again.
  auto reselect = [this] { set_grid_selection(grid_selection()); };
  connect(model_, &QAbstractItemModel::modelReset, this, reselect);
  connect(model_, &QAbstractItemModel::rowsRemoved, this, reselect);

  connect(selectionModel(), &QItemSelectionModel::currentChanged, this, [this](const QModelIndex &current) {
    if (current.isValid())
      emit SelectCell(current.column() + TQGridModel::fixed_cols, current.row() + TQGridModel::fixed_rows);
  });
}

void TQGrid::set_col_width(int col, int width) {
  if (col == 0)
    verticalHeader()->setFixedWidth(width);
  else
    setColumnWidth(col - TQGridModel::fixed_cols, width);
}

void TQGrid::set_default_row_height(int height) {
  verticalHeader()->setDefaultSectionSize(height);
  horizontalHeader()->setFixedHeight(height);
}

TGridRect TQGrid::grid_selection() const {
  TGridRect s = selection_;
  const int last_col = ColCount() - 1, last_row = RowCount() - 1;
  s.left = std::clamp(s.left, 0, last_col);
  s.right = std::clamp(s.right, 0, last_col);
  s.top = std::clamp(s.top, 0, last_row);
  s.bottom = std::clamp(s.bottom, 0, last_row);
  return s;
}

void TQGrid::set_grid_selection(const TGridRect &rect) {
  const int fc = TQGridModel::fixed_cols, fr = TQGridModel::fixed_rows;
  const int left = std::max(rect.left, fc), top = std::max(rect.top, fr);
  const int right = std::min(rect.right, ColCount() - 1);
  const int bottom = std::min(rect.bottom, RowCount() - 1);
  if (left <= right && top <= bottom) {
    const QModelIndex tl = model_->index(top - fr, left - fc);
    const QModelIndex br = model_->index(bottom - fr, right - fc);
    selectionModel()->setCurrentIndex(tl, QItemSelectionModel::NoUpdate);
    selectionModel()->select(QItemSelection(tl, br), QItemSelectionModel::ClearAndSelect);
  } else {
    selectionModel()->clearSelection();
    selectionModel()->clearCurrentIndex();
  }
  selection_ = rect; // after the view's own update, which would have replaced it
}

void TQGrid::selectionChanged(const QItemSelection &selected, const QItemSelection &deselected) {
  QTableView::selectionChanged(selected, deselected);
  const QItemSelection all = selectionModel()->selection();
  if (all.isEmpty())
    return;
  int top = INT_MAX, left = INT_MAX, bottom = -1, right = -1;
  for (const QItemSelectionRange &range : all) {
    top = std::min(top, range.top());
    left = std::min(left, range.left());
    bottom = std::max(bottom, range.bottom());
    right = std::max(right, range.right());
  }
  const int fc = TQGridModel::fixed_cols, fr = TQGridModel::fixed_rows;
  selection_ = {left + fc, top + fr, right + fc, bottom + fr};
}

TGridRect TQGrid::data_selection() const {
  TGridRect s = grid_selection();
  s.left = std::max(s.left, TQGridModel::fixed_cols);
  s.top = std::max(s.top, TQGridModel::fixed_rows);
  return s;
}

void TQGrid::add_row() {
  model_->add_row();
  undo_->record(TGridStepKind::edit, tr("Add"));
}

void TQGrid::insert_row() {
  const TGridRect s = data_selection();
  if (s.top <= s.bottom)
    model_->insert_row_at(s.top);
  // Even when nothing could be inserted, Insert renumbers and marks the change.
  if (model_->auto_number())
    model_->renumber();
  model_->set_changed(true);
  undo_->record(TGridStepKind::edit, tr("Insert"));
}

void TQGrid::clear_selected_rows() {
  const TGridRect s = data_selection();
  model_->clear_rows(s.top, s.bottom);
  undo_->record(TGridStepKind::edit, tr("Clear"));
}

void TQGrid::delete_selected_rows() {
  const TGridRect s = data_selection();
  model_->delete_rows(s.top, s.bottom);
  undo_->record(TGridStepKind::edit, tr("Delete"));
}

void TQGrid::RowMoved(int from, int to) {
  model_->row_moved(from, to);
  undo_->record(TGridStepKind::edit, tr("Move Row"));
}

void TQGrid::select_all() {
  set_grid_selection({TQGridModel::fixed_cols, TQGridModel::fixed_rows, ColCount() - 1, RowCount() - 1});
}

void TQGrid::copy_block(int left, int right, int top, int bottom) const {
  QGuiApplication::clipboard()->setText(model_->copy_block(left, right, top, bottom));
}

void TQGrid::copy_selection() const {
  const TGridRect s = data_selection();
  if (s.left <= s.right && s.top <= s.bottom)
    copy_block(s.left, s.right, s.top, s.bottom);
}

void TQGrid::cut_selection() {
  copy_selection();
  {
    TQGridUndo::Hold hold(undo_);
    clear_selected_rows();
  }
  undo_->record(TGridStepKind::edit, tr("Cut"));
}

TGridPasteResult TQGrid::paste_clipboard() {
  const TGridRect s = data_selection();
  const QString text = QGuiApplication::clipboard()->text();
  const TGridPasteResult result = model_->paste_text(text, s.left, s.top);
  undo_->record(TGridStepKind::paste, tr("Paste"));
  return result;
}

void TQGrid::keyPressEvent(QKeyEvent *event) {
  QTableView::keyPressEvent(event);
  if (!event->text().isEmpty()) {
    model_->set_changed(true);
    emit KeyPress();
  }
}

void TQGrid::mousePressEvent(QMouseEvent *event) {
  setEditTriggers(NoEditTriggers);
  QTableView::mousePressEvent(event);
  // A press selects one cell, even a shift-click: ranges are made by dragging.
  const QItemSelection all = selectionModel()->selection();
  if (all.isEmpty())
    return;
  int top = INT_MAX, left = INT_MAX;
  for (const QItemSelectionRange &range : all) {
    top = std::min(top, range.top());
    left = std::min(left, range.left());
  }
  const QModelIndex tl = model_->index(top, left);
  if (all.size() != 1 || all.first().topLeft() != all.first().bottomRight() || currentIndex() != tl) {
    selectionModel()->setCurrentIndex(tl, QItemSelectionModel::ClearAndSelect);
  }
}

void TQGrid::mouseReleaseEvent(QMouseEvent *event) {
  QTableView::mouseReleaseEvent(event);
  setEditTriggers(edit_triggers_);
}

void TQGrid::header_section_moved(int logical, int old_visual, int new_visual) {
  if (reverting_move_)
    return;
  Q_UNUSED(logical);
  // The rows themselves never move in the header: put the section back and exchange the texts.
  reverting_move_ = true;
  verticalHeader()->moveSection(new_visual, old_visual);
  reverting_move_ = false;
  // A drag of the mouse is taken where it was dropped (row_drag_filter); this is a move made
  // some other way.
  if (drag_from_ < 0)
    RowMoved(old_visual + TQGridModel::fixed_rows, new_visual + TQGridModel::fixed_rows);
}

bool TQGrid::row_drag_filter(QEvent *event) {
  QHeaderView *rows = verticalHeader();
  auto *mouse = static_cast<QMouseEvent *>(event);
  const int y = mouse->position().toPoint().y();
  switch (event->type()) {
  case QEvent::MouseButtonPress:
    drag_from_ = mouse->button() == Qt::LeftButton ? rows->visualIndexAt(y) : -1;
    drag_to_ = drag_from_;
    drag_start_y_ = y;
    dragging_ = false;
    break;
  case QEvent::MouseMove:
    if (drag_from_ >= 0 && (mouse->buttons() & Qt::LeftButton)) {
      dragging_ = dragging_ || std::abs(y - drag_start_y_) >= QApplication::startDragDistance();
      // Beyond the last row (or above the first) the drop goes to the row last passed over.
      if (const int row = rows->visualIndexAt(y); row >= 0)
        drag_to_ = row;
    }
    break;
  case QEvent::MouseButtonRelease: {
    if (mouse->button() != Qt::LeftButton || drag_from_ < 0)
      break;
    if (const int row = rows->visualIndexAt(y); row >= 0)
      drag_to_ = row;
    const int from = drag_from_, to = drag_to_;
    const bool moved = dragging_ && from != to;
    // The header finishes its own drag first (and its move is put back), then the rows exchange.
    rows->viewport()->removeEventFilter(this);
    QCoreApplication::sendEvent(rows->viewport(), event);
    rows->viewport()->installEventFilter(this);
    drag_from_ = -1;
    dragging_ = false;
    if (moved)
      RowMoved(from + TQGridModel::fixed_rows, to + TQGridModel::fixed_rows);
    return true;
  }
  default: break;
  }
  return false;
}

bool TQGrid::eventFilter(QObject *watched, QEvent *event) {
  if (watched == verticalHeader()->viewport() &&
      (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseMove ||
       event->type() == QEvent::MouseButtonRelease))
    return row_drag_filter(event);
  auto *corner = qobject_cast<QAbstractButton *>(watched);
  if (corner && event->type() == QEvent::Paint) {
    QPainter painter(corner);
    QStyleOptionHeader opt;
    opt.initFrom(corner);
    // The button is disabled (a click on it does nothing) but its heading reads like the others.
    opt.state |= QStyle::State_Raised | QStyle::State_Enabled;
    opt.palette.setCurrentColorGroup(QPalette::Active);
    opt.rect = corner->rect();
    opt.position = QStyleOptionHeader::OnlyOneSection;
    opt.text = model_->cell(0, 0);
    opt.textAlignment = Qt::AlignCenter;
    corner->style()->drawControl(QStyle::CE_Header, &opt, &painter, corner);
    return true;
  }
  return QTableView::eventFilter(watched, event);
}
