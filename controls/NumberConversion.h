#pragma once

#include <QChar>
#include <QString>
#include <QStringView>

// Number-to-text and text-to-number conversions shared by the whole program.
//
// Texts shown to or read from the user use the decimal separator of the user's locale
// (LC_ALL / LC_NUMERIC / LANG), except FloatToSignificant, which always writes '.'.

// Engineering notation with an SI prefix, e.g. FloatToEngineering(3, -6, -4, 0.0123, 1e6, "J")
// gives "12.3 mJ". Magnitudes above max_value are shown as Digits dashes.
QString FloatToEngineering(int digits, int min_exp, int round_digit, double value, double max_value,
                           const QString &units);

// `digits` significant digits ('.' as decimal point), E notation when the value does not fit.
// Digits 0 means 2.
QString FloatToSignificant(int digits, double value);

// The decimal separator of the user's locale.
QChar locale_decimal_separator();

// Fixed-point conversion with exactly `decimals` digits after the separator, rounded once, half
// away from zero, at `precision` significant digits or at `decimals` places, whichever is coarser.
// Falls back to scientific form ("1.00E+003") when the rounded value has more integer digits
// than `precision`. Zero carries no sign.
QString float_to_fixed(long double value, int precision, int decimals, QChar separator);
QString float_to_fixed(long double value, int precision, int decimals);

// Scientific form with `precision` significant digits, trailing zeros dropped: "1.2346E5",
// "-1E6", "2.5E-5".
QString float_to_scientific(long double value, int precision, QChar separator);

// General format with `precision` significant digits: plain when it fits, else "1.5E-6".
QString float_to_general(long double value, int precision, QChar separator);

// Parses a whole text as a real number: optional blanks around it, an optional sign, digits with
// at most one decimal separator (the locale's), an optional exponent. Refuses inf, nan,
// hexadecimal floats and anything left over. The value is read straight into long double, so
// "1e-7" is the extended value nearest to 10^-7.
bool text_to_real(QStringView text, long double &value, QChar separator);
bool text_to_real(QStringView text, long double &value);
bool text_to_double(QStringView text, double &value);

// Length of the longest leading part of `text` that text_to_real accepts (0 when none).
qsizetype leading_real_length(QStringView text, QChar separator);

// The shape a real-number edit field (TNumEdit, tReal) lets a text take as it is typed: at most
// digit_count digits, fewer than max_decimal_pos before a decimal point, a leading zero only
// before the point (and only when values below one are allowed), a minus only in front and only
// when negatives are allowed. The magnitude is not judged here.
bool real_entry_shape_ok(QStringView s, QChar point, int digit_count, int max_decimal_pos,
                         bool allow_less_than_one, bool allow_negative);
