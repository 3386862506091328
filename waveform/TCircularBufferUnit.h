#pragma once

#include <QObject>
#include <QVariant>

#include <array>

// First-in, first-out queue of the user's device requests. Handlers put request codes; the
// main window's timer takes at most one per tick. Ten slots, so at most nine values are held:
// a put that would make the write index meet the read index is dropped and marks the queue full.
class TCircularBuffer : public QObject {
  Q_OBJECT
public:
  static constexpr int slot_count = 10;

  explicit TCircularBuffer(QObject *owner = nullptr);

  void reset();
  bool is_empty() const { return empty_; }
  bool is_full() const { return full_; }
  void put(const QVariant &value);
  // The oldest value; the integer 0 when the queue is empty.
  QVariant get();
  // Takes every value equal to `value` out of the queue, the others keep their order; returns
  // how many were taken.
  int remove_all(const QVariant &value);

private:
  std::array<QVariant, slot_count> slots_;
  int write_index_ = 0;
  int read_index_ = 0;
  bool empty_ = true;
  bool full_ = false;
};
