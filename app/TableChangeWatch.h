#pragma once

#include <QObject>

#include <functional>

class QAbstractItemModel;

// Calls `changed` once after any change to the model's cells or rows, however it was made
// (typing, an Edit action, a repair, an undo): several changes made in one go give one call,
// made when the event loop next runs.
class TTableChangeWatch : public QObject {
  Q_OBJECT
public:
  TTableChangeWatch(QAbstractItemModel *model, std::function<void()> changed, QObject *parent);

  // A change is waiting for its call.
  bool pending() const { return pending_; }
  // The change has been dealt with some other way: the call is not made.
  void settled() { pending_ = false; }

private:
  void mark();

  std::function<void()> changed_;
  bool pending_ = false;
};
