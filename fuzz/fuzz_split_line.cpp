// Any line, any of the three separators: split_line must end, and its fields must be exactly
// the line's text with the separators taken out, none of them holding a separator.
#include "SplitFunctions.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0)
    return 0;
  static const char separators[] = {'\t', ',', ' '};
  const QChar sep = QChar::fromLatin1(separators[data[0] % 3]);
  const QString line =
      QString::fromUtf8(reinterpret_cast<const char *>(data + 1), static_cast<qsizetype>(size - 1));
  QStringList fields;
  split_line(line, sep, fields);

  QString joined;
  for (qsizetype i = 0; i < fields.size(); ++i) {
    if (fields[i].contains(sep))
      std::abort();
    // Only the last field may be empty (a line that ends in separators).
    if (fields[i].isEmpty() && i + 1 != fields.size())
      std::abort();
    joined += fields[i];
  }
  QString stripped = line;
  stripped.remove(sep);
  if (joined != stripped)
    std::abort();
  if (fields.size() > line.size() + 1)
    std::abort();
  return 0;
}
