#include "WaveformNotices.h"

#include "QX5200_Driver.h"
#include "QX5200_unit.h"
#include "TablePoints.h"
#include "WaveNotices.h"

#include <QStringList>

TWaveformNotices::TWaveformNotices(TForm1 &window, const TQGridModel &table)
    : QObject(&window), window_(window), table_(table) {}

void TWaveformNotices::waveform_built() {
  QStringList parts;
  // Before a board's record is in, its limit is not known.
  if (window_.load_board_ready())
    parts << limited_samples_text(window_.driver->waveform());
  parts << skipped_rows_text(skipped_rows(table_));
  parts.removeAll(QString());
  const QString text = parts.join(QStringLiteral("; "));
  if (!text.isEmpty() && text != said_)
    window_.show_status_message(text);
  said_ = text;
}
