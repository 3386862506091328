#pragma once

#include <QChar>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <vector>

// Field splitting of one text line, as the waveform files are read: leading separators are
// ignored, a run of separators counts as one, a line ending in separators yields one final
// empty field, and an empty line yields no field.

// Takes one field starting at `pos` (0-based), skipping the separators in front of it, and moves
// `pos` just past the separator that ends the field. When only separators remain, the field is
// empty and `pos` stays where it was.
QString next_field(QStringView line, QChar separator, qsizetype &pos);

// Appends every field of `line` to `list`.
void split_line(QStringView line, QChar separator, QStringList &list);

// The fields of `line` exactly as split_line gives them, as views into the line, replacing what
// `out` held. The table loader's hot path: no string per field.
void split_fields(QStringView line, QChar separator, std::vector<QStringView> &out);

// Calls take(line) for each line of `text` in order, as a view without its line end, until take
// returns false; returns whether every line was taken. A line ends at LF, CR LF or a lone CR;
// text after the last line end is one more line, and a final line end adds no empty line.
template <typename Take> bool for_each_line(QStringView text, Take &&take) {
  const QChar *d = text.constData();
  const qsizetype size = text.size();
  qsizetype start = 0;
  while (start < size) {
    qsizetype i = start;
    while (i < size && d[i] != u'\n' && d[i] != u'\r')
      ++i;
    if (!take(QStringView(d + start, i - start)))
      return false;
    if (i + 1 < size && d[i] == u'\r' && d[i + 1] == u'\n')
      ++i;
    start = i + 1;
  }
  return true;
}
