#include "TCircularBufferUnit.h"

#include <vector>

TCircularBuffer::TCircularBuffer(QObject *owner) : QObject(owner) { reset(); }

void TCircularBuffer::reset() {
  write_index_ = 0;
  read_index_ = 0;
  empty_ = true;
  full_ = false;
}

void TCircularBuffer::put(const QVariant &value) {
  if (full_)
    return;
  empty_ = false;
  slots_[static_cast<std::size_t>(write_index_)] = value;
  write_index_ = (write_index_ + 1) % slot_count;
  if (write_index_ == read_index_) {
    write_index_ = (write_index_ + slot_count - 1) % slot_count;
    full_ = true;
  }
}

QVariant TCircularBuffer::get() {
  if (empty_)
    return QVariant(0);
  const QVariant value = slots_[static_cast<std::size_t>(read_index_)];
  read_index_ = (read_index_ + 1) % slot_count;
  full_ = false;
  if (read_index_ == write_index_)
    empty_ = true;
  return value;
}

int TCircularBuffer::remove_all(const QVariant &value) {
  std::vector<QVariant> kept;
  int removed = 0;
  while (!empty_) {
    QVariant v = get();
    if (v == value)
      ++removed;
    else
      kept.push_back(std::move(v));
  }
  reset();
  for (const QVariant &v : kept)
    put(v);
  return removed;
}
