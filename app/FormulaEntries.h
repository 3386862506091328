#pragma once

class TFormulaPage;
class TSettings;

// The Formula page's entries (formula, span, accuracy, points) as the settings keep them, in the
// list "formula". They come back into the fields only; nothing is placed or used by that.
//
// Each entry that is not usable (a formula that does not parse, a span end or accuracy that is
// no number, a point count out of range) takes the page's default and the settings' notice
// names the list. No list at all gives the defaults without a notice.
void restore_formula_entries(TFormulaPage &page, TSettings &settings);
void store_formula_entries(const TFormulaPage &page, TSettings &settings);
