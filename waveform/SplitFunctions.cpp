#include "SplitFunctions.h"

QString next_field(QStringView line, QChar separator, qsizetype &pos) {
  qsizetype p = pos;
  const qsizetype n = line.size();
  while (p < n && line[p] == separator)
    ++p;
  if (p >= n)
    return {};
  const qsizetype start = p;
  while (p < n && line[p] != separator)
    ++p;
  const QString field = line.mid(start, p - start).toString();
  pos = p < n ? p + 1 : p;
  return field;
}

void split_line(QStringView line, QChar separator, QStringList &list) {
  qsizetype pos = 0;
  while (pos < line.size()) {
    const qsizetype before = pos;
    list.append(next_field(line, separator, pos));
    if (pos == before)
      break; // only separators were left: that was the final empty field
  }
}
