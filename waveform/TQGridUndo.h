#pragma once

#include "TQGridModel.h"

#include <QObject>
#include <QVariant>

#include <vector>

class QUndoStack;

// What kind of change a step is. The window does the same after undoing or redoing a step as
// after the change itself, and that depends on the kind (an Open rebuilds the waveform, an edit
// only re-evaluates START).
enum class TGridStepKind { edit, paste, delete_all, open, pulse };

// Undo and redo of the point table. The table is compared with the rows it held after the last
// step (a copy that shares their texts, so it costs a pointer per row): a step keeps only the
// rows that differ, before and after, so an edit of one cell of a million-row table keeps one
// row, and an Open keeps the table it swapped out. Any change to the table counts, whoever
// made it: a change made without a step of its own goes into the next step.
//
// Memory stays bounded: at most step_limit steps, and the oldest are dropped while the rows the
// steps hold, leaving out their largest step, exceed memory_budget. So the steps keep at most one
// swapped-out table of any size (a million-row table is held at most twice: in the table and in
// the Open or Delete All that replaced it) and memory_budget of other rows. The newest step is
// always kept.
class TQGridUndo : public QObject {
  Q_OBJECT
public:
  static constexpr int step_limit = 100;
  static constexpr qint64 memory_budget = qint64(64) << 20;

  explicit TQGridUndo(TQGridModel *table, QObject *parent = nullptr);
  ~TQGridUndo() override;

  QUndoStack *stack() const { return stack_; }

  // Makes the changes since the last step one step. `before` and `after` are what the window
  // restores with it (the watched file of an Open). Nothing is recorded when the rows are as
  // they were, or inside a Hold.
  void record(TGridStepKind kind, const QString &text, const QVariant &before = {},
              const QVariant &after = {});
  // Takes the table as it is now as the start of the next step (set-up that is no step).
  void rebase();
  // What the Undo and Redo actions do. A change that has no step yet is made one first, so Undo
  // takes back the latest change and Redo finds nothing left to redo after it.
  void undo();
  void redo();

  // Lets an operation made of several table operations become one step: what they record is
  // left to the record() that follows the hold.
  class Hold {
  public:
    explicit Hold(TQGridUndo *undo) : undo_(undo) { ++undo_->holds_; }
    ~Hold() { --undo_->holds_; }
    Hold(const Hold &) = delete;
    Hold &operator=(const Hold &) = delete;

  private:
    TQGridUndo *undo_;
  };

  // Bytes of row texts the steps keep that the table itself no longer holds.
  qint64 held_bytes() const;

signals:
  // A step was undone or redone; `context` is its `before` (undo) or `after` (redo).
  void step_applied(TGridStepKind kind, const QVariant &context);

private:
  friend class TGridStep;
  struct Splice {
    int at = 0;
    std::vector<TQGridModel::PackedRow> before, after;
  };
  struct StepData {
    TGridStepKind kind = TGridStepKind::edit;
    std::vector<Splice> splices;
    TQGridModel::Encoding encoding_before{}, encoding_after{};
    bool bom_before = false, bom_after = false;
    QVariant context_before, context_after;
    qint64 bytes = 0; // what its `before` rows hold
  };
  void apply(const StepData &step, bool undo);
  void trim();

  TQGridModel *table_;
  QUndoStack *stack_;
  std::vector<TQGridModel::PackedRow> baseline_;
  TQGridModel::Encoding baseline_encoding_{};
  bool baseline_bom_ = false;
  int holds_ = 0;
};
