#include "TableChangeWatch.h"

#include <QAbstractItemModel>
#include <QTimer>

TTableChangeWatch::TTableChangeWatch(QAbstractItemModel *model, std::function<void()> changed,
                                     QObject *parent)
    : QObject(parent), changed_(std::move(changed)) {
  connect(model, &QAbstractItemModel::dataChanged, this, &TTableChangeWatch::mark);
  connect(model, &QAbstractItemModel::rowsInserted, this, &TTableChangeWatch::mark);
  connect(model, &QAbstractItemModel::rowsRemoved, this, &TTableChangeWatch::mark);
  connect(model, &QAbstractItemModel::modelReset, this, &TTableChangeWatch::mark);
  connect(model, &QAbstractItemModel::layoutChanged, this, &TTableChangeWatch::mark);
}

void TTableChangeWatch::mark() {
  if (pending_)
    return;
  pending_ = true;
  QTimer::singleShot(0, this, [this] {
    if (!pending_)
      return;
    pending_ = false;
    changed_();
  });
}
