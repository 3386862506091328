#include "TQGridUndo.h"

#include <QSet>
#include <QUndoStack>

#include <algorithm>

using PackedRow = TQGridModel::PackedRow;

namespace {

// A step keeps at most this many separate runs of changed rows; more are kept as one block.
constexpr std::size_t max_splices = 64;

} // namespace

// One step on the stack. It is pushed after its change was made, so its first redo does nothing.
class TGridStep : public QUndoCommand {
public:
  TGridStep(TQGridUndo *owner, const QString &text, TQGridUndo::StepData data)
      : QUndoCommand(text), owner_(owner), data_(std::move(data)) {}
  void undo() override { owner_->apply(data_, true); }
  void redo() override {
    if (done_)
      done_ = false;
    else
      owner_->apply(data_, false);
  }
  TQGridUndo::StepData &data() { return data_; }
  const TQGridUndo::StepData &data() const { return data_; }

private:
  TQGridUndo *owner_;
  TQGridUndo::StepData data_;
  bool done_ = true;
};

TQGridUndo::TQGridUndo(TQGridModel *table, QObject *parent)
    : QObject(parent), table_(table), stack_(new QUndoStack(this)) {
  stack_->setUndoLimit(step_limit);
  rebase();
}

TQGridUndo::~TQGridUndo() = default;

void TQGridUndo::rebase() {
  baseline_ = table_->packed_rows();
  baseline_encoding_ = table_->encoding();
  baseline_bom_ = table_->utf8_bom();
}

void TQGridUndo::record(TGridStepKind kind, const QString &text, const QVariant &before,
                        const QVariant &after) {
  if (holds_ > 0)
    return;
  const std::vector<PackedRow> &now = table_->packed_rows();
  StepData step;
  step.kind = kind;
  step.context_before = before;
  step.context_after = after;
  step.encoding_before = baseline_encoding_;
  step.bom_before = baseline_bom_;
  step.encoding_after = table_->encoding();
  step.bom_after = table_->utf8_bom();

  // The rows that differ lie between an unchanged start and an unchanged end.
  const size_t n0 = baseline_.size(), n1 = now.size();
  size_t first = 0, tail = 0;
  while (first < n0 && first < n1 && baseline_[first].same_as(now[first]))
    ++first;
  while (tail < n0 - first && tail < n1 - first && baseline_[n0 - 1 - tail].same_as(now[n1 - 1 - tail]))
    ++tail;
  auto add = [&](size_t at, size_t end_before, size_t end_after) {
    Splice s;
    s.at = int(at);
    s.before.assign(baseline_.begin() + qsizetype(at), baseline_.begin() + qsizetype(end_before));
    s.after.assign(now.begin() + qsizetype(at), now.begin() + qsizetype(end_after));
    step.splices.push_back(std::move(s));
  };
  if (n0 != n1) {
    add(first, n0 - tail, n1 - tail);
  } else {
    // Rows changed in place (a row dragged far down changes two): keep only those.
    for (size_t r = first; r < n0 - tail && step.splices.size() <= max_splices;) {
      size_t end = r;
      while (end < n0 - tail && !baseline_[end].same_as(now[end]))
        ++end;
      if (end > r)
        add(r, end, end);
      r = end + 1;
    }
    // Many scattered changes (a reordering) are put back as one block, which the view takes at once.
    if (step.splices.size() > max_splices) {
      step.splices.clear();
      add(first, n0 - tail, n1 - tail);
    }
  }
  if (step.splices.empty() && step.encoding_before == step.encoding_after &&
      step.bom_before == step.bom_after)
    return;
  for (const Splice &s : step.splices)
    for (const PackedRow &row : s.before)
      step.bytes += qint64(sizeof(PackedRow)) + row.text_bytes();
  rebase();
  stack_->push(new TGridStep(this, text, std::move(step)));
  trim();
}

void TQGridUndo::apply(const StepData &step, bool undo) {
  if (undo) {
    for (auto s = step.splices.rbegin(); s != step.splices.rend(); ++s)
      table_->replace_rows(s->at, int(s->after.size()), s->before);
    table_->set_encoding(step.encoding_before, step.bom_before);
  } else {
    for (const Splice &s : step.splices)
      table_->replace_rows(s.at, int(s.before.size()), s.after);
    table_->set_encoding(step.encoding_after, step.bom_after);
  }
  rebase();
  emit step_applied(step.kind, undo ? step.context_before : step.context_after);
}

void TQGridUndo::undo() {
  record(TGridStepKind::edit, tr("Edit"));
  stack_->undo();
}

void TQGridUndo::redo() {
  record(TGridStepKind::edit, tr("Edit"));
  stack_->redo();
}

void TQGridUndo::trim() {
  // Called right after a push, so every step is on the undo side.
  const int count = stack_->count();
  qint64 total = 0, largest = 0;
  int keep = 0;
  for (int i = count - 1; i >= 0; --i) {
    const qint64 bytes = static_cast<const TGridStep *>(stack_->command(i))->data().bytes;
    if (keep > 0 && total + bytes - std::max(largest, bytes) > memory_budget)
      break;
    total += bytes;
    largest = std::max(largest, bytes);
    ++keep;
  }
  if (keep == count)
    return;
  // QUndoStack drops old steps only by count: build it again from the newest ones.
  std::vector<std::pair<QString, StepData>> kept;
  for (int i = count - keep; i < count; ++i) {
    auto *step = const_cast<TGridStep *>(static_cast<const TGridStep *>(stack_->command(i)));
    kept.emplace_back(step->text(), std::move(step->data()));
  }
  stack_->clear();
  for (auto &[text, data] : kept)
    stack_->push(new TGridStep(this, text, std::move(data)));
  // The saved state's place is lost with the old stack: no undo leads back to "saved" (clear
  // took the empty stack as the saved state).
  stack_->resetClean();
}

qint64 TQGridUndo::held_bytes() const {
  QSet<const void *> in_table, counted;
  for (const PackedRow &row : table_->packed_rows())
    in_table.insert(row.storage());
  qint64 bytes = qint64(sizeof(PackedRow)) * qint64(baseline_.size());
  auto count_rows = [&](const std::vector<PackedRow> &rows) {
    bytes += qint64(sizeof(PackedRow)) * qint64(rows.size());
    for (const PackedRow &row : rows) {
      const void *storage = row.storage();
      if (storage && !in_table.contains(storage) && !counted.contains(storage)) {
        counted.insert(storage);
        bytes += row.text_bytes();
      }
    }
  };
  for (int i = 0; i < stack_->count(); ++i)
    for (const Splice &s : static_cast<const TGridStep *>(stack_->command(i))->data().splices) {
      count_rows(s.before);
      count_rows(s.after);
    }
  return bytes;
}
