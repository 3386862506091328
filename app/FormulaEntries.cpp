#include "FormulaEntries.h"

#include "Formula.h"
#include "Settings.h"
#include "TFormulaPage.h"

#include <QLineEdit>
#include <QSpinBox>

#include <cmath>

namespace {

const QString list_name = QStringLiteral("formula");
enum { expression, start, end, accuracy, points, entry_count };

bool usable_expression(const QString &text) {
  if (text.isEmpty() || text.size() > TFormula::max_expression_length)
    return false;
  TFormula formula;
  TFormulaError error;
  return formula.set_expression(text, error);
}

bool usable_number(const QString &text, bool may_be_empty) {
  if (may_be_empty && text.trimmed().isEmpty())
    return true;
  long double value = 0;
  return formula_number(text, value) && std::isfinite(value) && (!may_be_empty || value >= 0);
}

} // namespace

void restore_formula_entries(TFormulaPage &page, TSettings &settings) {
  const QStringList stored = settings.entries(list_name);
  // None kept (a first start, or after Reset Settings): the defaults, with nothing to say.
  bool usable = stored.size() == entry_count;
  const auto entry = [&](int index) { return index < stored.size() ? stored[index] : QString(); };
  const auto take = [&](QLineEdit *field, int index, bool ok, const QString &fallback) {
    usable = usable && ok;
    field->setText(ok ? entry(index) : fallback);
  };
  take(page.le_formula_expression, expression, usable_expression(entry(expression)),
       QString::fromLatin1(TFormulaPage::presets[0].expression));
  take(page.le_formula_start, start, usable_number(entry(start), false), QStringLiteral("0"));
  take(page.le_formula_end, end, usable_number(entry(end), false),
       QString::fromLatin1(TFormulaPage::presets[0].end));
  take(page.le_formula_accuracy, accuracy, usable_number(entry(accuracy), true), QString());
  bool ok = false;
  const int count = entry(points).toInt(&ok);
  ok = ok && count >= page.sb_formula_points->minimum() && count <= page.sb_formula_points->maximum();
  usable = usable && ok;
  page.sb_formula_points->setValue(ok ? count : 0);
  if (!usable && !stored.isEmpty())
    settings.note_unusable(QStringLiteral("entries/") + list_name);
}

void store_formula_entries(const TFormulaPage &page, TSettings &settings) {
  settings.set_entries(list_name, {page.le_formula_expression->text(), page.le_formula_start->text(),
                                   page.le_formula_end->text(), page.le_formula_accuracy->text(),
                                   QString::number(page.sb_formula_points->value())});
}
