#include "SplitFunctions.h"

namespace {

// next_field as a view into the line: every splitter below goes through it, so they cannot drift
// apart.
QStringView take_field(QStringView line, QChar separator, qsizetype &pos) {
  qsizetype p = pos;
  const qsizetype n = line.size();
  while (p < n && line[p] == separator)
    ++p;
  if (p >= n)
    return {};
  const qsizetype start = p;
  while (p < n && line[p] != separator)
    ++p;
  pos = p < n ? p + 1 : p;
  return line.mid(start, p - start);
}

// Calls add(field) for every field of the line, in order.
template <typename Add> void for_each_field(QStringView line, QChar separator, Add &&add) {
  qsizetype pos = 0;
  while (pos < line.size()) {
    const qsizetype before = pos;
    add(take_field(line, separator, pos));
    if (pos == before)
      break; // only separators were left: that was the final empty field
  }
}

} // namespace

QString next_field(QStringView line, QChar separator, qsizetype &pos) {
  return take_field(line, separator, pos).toString();
}

void split_line(QStringView line, QChar separator, QStringList &list) {
  for_each_field(line, separator, [&](QStringView field) { list.append(field.toString()); });
}

void split_fields(QStringView line, QChar separator, std::vector<QStringView> &out) {
  out.clear();
  for_each_field(line, separator, [&](QStringView field) { out.push_back(field); });
}
