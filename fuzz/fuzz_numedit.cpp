// Candidate texts through every kind of numeric field: the checks, Value reads and Value writes
// must never crash, and what the field holds after a program write must pass its own check.
#include "NumberConversion.h"
#include "TNumEditUnit.h"

#include <QApplication>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {
QApplication *app() {
  static int argc = 1;
  static char name[] = "fuzz_numedit";
  static char *argv[] = {name, nullptr};
  static QApplication *instance = [] {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return new QApplication(argc, argv);
  }();
  return instance;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  app();
  if (size < 14)
    return 0;
  TNumEdit edit;
  edit.setDataType(static_cast<TNumEditType>(data[0] % 4));
  edit.setDigitCount(data[1] % 12);
  edit.setMaxDecimalPos(data[2] % 12);
  edit.setAllowNegative(data[3] & 1);
  edit.setAllowLessThanOne(data[3] & 2);
  double max_value = 0;
  std::memcpy(&max_value, data + 4, sizeof max_value);
  if (!std::isfinite(max_value))
    max_value = 1000;
  edit.setMaxValue(std::fabs(max_value));
  const size_t split = 12 + (size - 12) / 2;
  const QString current =
      QString::fromUtf8(reinterpret_cast<const char *>(data + 12), static_cast<qsizetype>(split - 12));
  const QString candidate =
      QString::fromUtf8(reinterpret_cast<const char *>(data + split), static_cast<qsizetype>(size - split));

  edit.setText(current);
  (void)edit.check_text(candidate);
  if (!std::isfinite(edit.Value()))
    std::abort();
  edit.setText(candidate);
  const double v = edit.Value();
  if (!std::isfinite(v))
    std::abort();

  // A program write keeps the text or stores one that passes the field's own check. A real
  // field may store more digits than can be typed, but its text reads back as v within
  // DigitCount significant digits (the leading 0 of a value below one counted).
  edit.setText(current);
  const QString before = edit.text();
  const bool shown = edit.setValue(v);
  if (edit.DataType() == tReal) {
    if (shown ? edit.text() != edit.formatted(v) : edit.text() != before)
      std::abort();
    long double back = 0;
    const long double bound = 5 * std::pow(10.0L, -std::max(1, edit.DigitCount())) *
                              std::max(1.0L, std::fabs(static_cast<long double>(v))) * (1 + 1e-9L);
    if (shown && (!text_to_real(edit.text(), back) || std::fabs(back - v) > bound))
      std::abort();
  } else if (edit.text() != before && !edit.check_text(edit.text())) {
    std::abort();
  }
  return 0;
}
