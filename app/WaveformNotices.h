#pragma once

#include <QObject>
#include <QString>

class TForm1;
class TQGridModel;

// Says, in a status notice, where the waveform plays otherwise than the table reads: samples the
// load board plays at its limit, and rows that held text but gave no point. Said once when it
// changes, not on every check of the same table.
class TWaveformNotices : public QObject {
  Q_OBJECT
public:
  TWaveformNotices(TForm1 &window, const TQGridModel &table);

  // After the table's points were built into the driver's waveform.
  void waveform_built();
  // What was said last; empty when there was nothing to say.
  const QString &said() const { return said_; }

private:
  TForm1 &window_;
  const TQGridModel &table_;
  QString said_;
};
