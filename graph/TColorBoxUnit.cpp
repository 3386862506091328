#include "TColorBoxUnit.h"

#include "TQGraphType.h"

#include <QPixmap>

#include <iterator>

namespace {

struct NamedColor {
  const char *name;
  int value; // 0x00BBGGRR
};

constexpr NamedColor kColors[] = {
    {"Black", 0x000000},  {"Maroon", 0x000080},  {"Green", 0x008000}, {"Olive", 0x008080},
    {"Navy", 0x800000},   {"Purple", 0x800080},  {"Teal", 0x808000},  {"Gray", 0x808080},
    {"Silver", 0xC0C0C0}, {"Red", 0x0000FF},     {"Lime", 0x00FF00},  {"Yellow", 0x00FFFF},
    {"Blue", 0xFF0000},   {"Fuchsia", 0xFF00FF}, {"Aqua", 0xFFFF00},  {"White", 0xFFFFFF},
};

QIcon swatch(int c) {
  QPixmap pm(12, 12);
  pm.fill(ToQColor(c));
  return QIcon(pm);
}

} // namespace

TColorBox::TColorBox(QWidget *parent) : QComboBox(parent) {
  for (const NamedColor &c : kColors)
    addItem(swatch(c.value), QString::fromLatin1(c.name), c.value);
  setCurrentIndex(0);
}

int TColorBox::Selected() const {
  const QVariant v = currentData();
  return v.isValid() ? v.toInt() : 0;
}

void TColorBox::setSelected(int color) {
  int i = findData(color);
  if (i < 0) {
    // One "Custom" entry at most; it takes the newest colour.
    i = static_cast<int>(std::size(kColors));
    if (count() <= i)
      addItem(QStringLiteral("Custom"));
    setItemData(i, color);
    setItemIcon(i, swatch(color));
  }
  setCurrentIndex(i);
}
