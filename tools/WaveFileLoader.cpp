#include "WaveFileLoader.h"

#include "NumberConversion.h"
#include "SplitFunctions.h"

#include <QFile>
#include <QStringList>

bool load_wave_file(const QString &path, QChar separator, std::vector<TWavePoint> &points, QString &reason) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    reason = file.errorString();
    return false;
  }
  const QChar decimal = locale_decimal_separator();
  QStringList fields;
  bool heading = true;
  while (!file.atEnd()) {
    QByteArray line = file.readLine();
    if (line.isEmpty() && file.error() != QFileDevice::NoError)
      break;
    while (line.endsWith('\n') || line.endsWith('\r'))
      line.chop(1);
    if (heading) {
      heading = false;
      continue;
    }
    fields.clear();
    split_line(QString::fromLocal8Bit(line), separator, fields);
    long double time = 0;
    long double value = 0;
    if (fields.size() >= 2 && text_to_real(fields[0], time, decimal) &&
        text_to_real(fields[1], value, decimal))
      points.push_back({time, value});
  }
  if (file.error() != QFileDevice::NoError) {
    reason = file.errorString();
    return false;
  }
  return true;
}
