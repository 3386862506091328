#include "NumberConversion.h"

#include <QLocale>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>

namespace {

// Exact decimal digits of |v| as a digit string and the decimal exponent of its first digit.
// glibc prints binary floating point exactly, so rounding the digit string ourselves gives the
// "half away from zero" rule on the true value.
struct DecimalDigits {
  std::string digits; // no leading zeros unless the value is 0
  int exponent = 0;   // value = 0.d1d2d3... * 10^(exponent + 1)
};

DecimalDigits exact_digits(long double v) {
  DecimalDigits d;
  v = std::fabs(v);
  if (v == 0) {
    d.digits.assign(1, '0');
    return d;
  }
  char buf[128];
  std::snprintf(buf, sizeof buf, "%.70Le", v);
  std::string s(buf);
  const auto e = s.find('e');
  d.exponent = std::stoi(s.substr(e + 1));
  for (std::size_t i = 0; i < e; ++i)
    if (s[i] >= '0' && s[i] <= '9')
      d.digits += s[i];
  return d;
}

// Keeps the first `count` digits (fewer than there are), the last one rounded up, half away from
// zero, by the first digit dropped. True when the carry ran out of the first digit: a new leading
// 1 then stands before `count` digits and the exponent is one higher.
bool cut_and_round(DecimalDigits &d, int count) {
  const bool up = d.digits[static_cast<std::size_t>(count)] >= '5';
  d.digits.resize(static_cast<std::size_t>(count));
  if (!up)
    return false;
  int i = count - 1;
  while (i >= 0 && d.digits[static_cast<std::size_t>(i)] == '9') {
    d.digits[static_cast<std::size_t>(i)] = '0';
    --i;
  }
  if (i >= 0) {
    ++d.digits[static_cast<std::size_t>(i)];
    return false;
  }
  d.digits.insert(d.digits.begin(), '1');
  ++d.exponent;
  return true;
}

// Rounds the digit string to `count` significant digits, half away from zero. May carry into a
// new leading digit, which raises the exponent.
void round_digits(DecimalDigits &d, int count) {
  if (count < 1)
    count = 1;
  if (static_cast<int>(d.digits.size()) <= count)
    return;
  if (cut_and_round(d, count))
    d.digits.pop_back();
}

// Rounds the digit string to a multiple of 10^k, half away from zero. A value below half of
// 10^k becomes 0; a carry may add a new leading digit.
void round_at(DecimalDigits &d, int k) {
  if (d.digits == "0")
    return;
  const int count = d.exponent - k + 1; // digits that stay
  if (count >= static_cast<int>(d.digits.size()))
    return;
  if (count < 0 || (count == 0 && d.digits[0] < '5')) {
    d.digits.assign(1, '0');
    d.exponent = 0;
    return;
  }
  cut_and_round(d, count);
}

// log10 truncated towards zero, in extended precision.
int trunc_log10(long double a) { return static_cast<int>(std::trunc(std::log10(a))); }

// 3 * floor(e / 3) written with truncating division, as the prefix rule states it.
int prefix_exponent(int e) { return e < 0 ? ((e + 1) / 3 - 1) * 3 : (e / 3) * 3; }

QString prefix_text(int p) {
  switch (p) {
  case -12: return QStringLiteral("p");
  case -9: return QStringLiteral("n");
  case -6: return QStringLiteral("u");
  case -3: return QStringLiteral("m");
  case 3: return QStringLiteral("k");
  case 6: return QStringLiteral("M");
  case 9: return QStringLiteral("G");
  default: return {};
  }
}

long double pow10l(int e) { return std::pow(10.0L, static_cast<long double>(e)); }

// Writes an already rounded value with `decimals` digits after '.', whatever the C locale says.
QString plain_decimal(double t, int decimals) {
  char buf[400];
  const auto res =
      std::to_chars(buf, buf + sizeof buf, t, std::chars_format::fixed, decimals < 0 ? 0 : decimals);
  return QString::fromLatin1(buf, res.ec == std::errc() ? res.ptr - buf : 0);
}

} // namespace

QChar locale_decimal_separator() {
  const QString p = QLocale::system().decimalPoint();
  return p.isEmpty() ? QChar(u'.') : p.front();
}

QString float_to_fixed(long double value, int precision, int decimals, QChar separator) {
  if (!std::isfinite(value))
    return value != value ? QStringLiteral("NAN")
                          : (value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF"));
  if (precision < 1)
    precision = 1;
  if (decimals < 0)
    decimals = 0;
  DecimalDigits d = exact_digits(value);
  // One rounding, at whichever of the two positions is coarser: rounding to `precision` digits
  // and then cutting to `decimals` would truncate (9.6 with 2 digits and no decimals gave "9").
  round_at(d, std::max(d.exponent - precision + 1, -decimals));
  const bool zero = d.digits == "0";
  const bool negative = value < 0 && !zero;
  QString out;
  if (negative)
    out += u'-';
  if (zero) {
    out += u'0';
    if (decimals > 0)
      out += separator + QString(decimals, u'0');
    return out;
  }
  const int int_digits = d.exponent + 1;
  if (int_digits > precision) {
    // Scientific form: d.ddd with precision - 1 decimals, then E+nnn.
    out += QChar::fromLatin1(d.digits[0]);
    if (precision > 1) {
      out += separator;
      for (int i = 1; i < precision; ++i)
        out += i < static_cast<int>(d.digits.size())
                   ? QChar::fromLatin1(d.digits[static_cast<std::size_t>(i)])
                   : QChar(u'0');
    }
    out += QStringLiteral("E%1%2")
               .arg(QChar(d.exponent < 0 ? u'-' : u'+'))
               .arg(std::abs(d.exponent), 3, 10, QChar(u'0'));
    return out;
  }
  // Digit at decimal position k (k = 0 is the units digit, k = -1 the first decimal).
  auto digit_at = [&](int k) -> QChar {
    const int idx = d.exponent - k;
    if (idx < 0 || idx >= static_cast<int>(d.digits.size()))
      return u'0';
    return QChar::fromLatin1(d.digits[static_cast<std::size_t>(idx)]);
  };
  for (int k = std::max(0, d.exponent); k >= 0; --k)
    out += digit_at(k);
  if (decimals > 0) {
    out += separator;
    for (int k = -1; k >= -decimals; --k)
      out += digit_at(k);
  }
  return out;
}

QString float_to_fixed(long double value, int precision, int decimals) {
  return float_to_fixed(value, precision, decimals, locale_decimal_separator());
}

namespace {

// The value's digits rounded to `precision` significant digits, trailing zeros dropped.
DecimalDigits significant_digits(long double value, int precision) {
  DecimalDigits d = exact_digits(value);
  round_digits(d, precision);
  while (d.digits.size() > 1 && d.digits.back() == '0')
    d.digits.pop_back();
  return d;
}

// "d.dddEx": the first digit, the others after the separator, then the exponent.
QString scientific_text(const DecimalDigits &d, bool negative, QChar separator) {
  QString out;
  if (negative)
    out += u'-';
  out += QChar::fromLatin1(d.digits[0]);
  if (d.digits.size() > 1)
    out += separator + QString::fromLatin1(d.digits.substr(1));
  return out + QStringLiteral("E%1").arg(d.exponent);
}

} // namespace

QString float_to_general(long double value, int precision, QChar separator) {
  if (precision < 1)
    precision = 1;
  if (!std::isfinite(value))
    return float_to_fixed(value, precision, 0, separator);
  if (value == 0)
    return QStringLiteral("0");
  const DecimalDigits d = significant_digits(value, precision);
  if (d.exponent >= precision || d.exponent < -4)
    return scientific_text(d, value < 0, separator);
  QString out;
  if (value < 0)
    out += u'-';
  const int n = static_cast<int>(d.digits.size());
  if (d.exponent < 0) {
    out += u'0';
    out += separator;
    out += QString(-d.exponent - 1, u'0');
    out += QString::fromLatin1(d.digits);
    return out;
  }
  for (int i = 0; i <= d.exponent; ++i)
    out += i < n ? QChar::fromLatin1(d.digits[static_cast<std::size_t>(i)]) : QChar(u'0');
  if (n > d.exponent + 1)
    out += separator + QString::fromLatin1(d.digits.substr(static_cast<std::size_t>(d.exponent + 1)));
  return out;
}

QString float_to_scientific(long double value, int precision, QChar separator) {
  if (precision < 1)
    precision = 1;
  if (!std::isfinite(value) || value == 0)
    return float_to_fixed(value, precision, 0, separator);
  return scientific_text(significant_digits(value, precision), value < 0, separator);
}

QString FloatToEngineering(int digits, int min_exp, int round_digit, double value, double max_value,
                           const QString &units) {
  const QChar sep = locale_decimal_separator();
  long double a = std::fabs(static_cast<long double>(value));
  int p = 0;
  int e = 0;
  long double s = 0;
  if (std::isnan(a))
    a = 0; // not a number shows as zero rather than as garbage
  if (a < pow10l(min_exp) - 1e-12L) {
    p = min_exp;
    e = min_exp;
    s = 0;
  } else {
    if (a > max_value)
      a = static_cast<long double>(max_value) + 1;
    const double step = std::pow(10.0, round_digit);
    a = std::nearbyint(static_cast<double>(a) / step) * step;
    a = a + 1e-15L;
    e = trunc_log10(a);
    if (!(a > 1))
      e -= 1;
    p = prefix_exponent(e);
    if (p < min_exp)
      p = min_exp;
    s = a * pow10l(-p);
  }
  const int int_digits = std::max(0, e - p + 1);
  int decimals = p - round_digit;
  if (digits - int_digits < decimals)
    decimals = digits - int_digits;
  if (decimals < 0)
    decimals = 0;
  QString t = float_to_fixed(s, digits, decimals, sep);
  long double back = 0;
  if (text_to_real(t, back, sep) && back == 1000) {
    p += 3;
    t = float_to_fixed(1.0L, digits, digits - 1, sep);
  }
  if (digits > 0 && t.size() > digits + 1) {
    // A carry into a new integer digit ("9.995" to "10.00") must not leave a bare separator.
    t = t.left(t.left(digits).endsWith(sep) ? digits + 1 : digits);
  }
  if (a > max_value)
    t = QString(digits, u'-');
  // A value rounded away to zero shows no sign.
  const bool shows_nonzero =
      std::any_of(t.begin(), t.end(), [](QChar c) { return (c >= u'1' && c <= u'9') || c == u'-'; });
  if (value < 0 && shows_nonzero)
    t.prepend(u'-');
  if (value != 0)
    return t + u' ' + prefix_text(p) + units;
  return t + u' ' + units;
}

QString FloatToSignificant(int digits, double value) {
  int n = digits == 0 ? 2 : digits;
  if (n < 1)
    n = 1;
  if (!std::isfinite(value))
    return std::isnan(value) ? QStringLiteral("NAN")
                             : (value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF"));
  const bool negative = value < 0;
  const double a = std::fabs(value);
  const int e = a != 0 ? static_cast<int>(std::trunc(std::log10(a + 1e-15))) : 0;
  const int room = e < 0 ? n - 1 : n;
  auto sign = [negative](double t) { return negative ? -t : t; };
  if (std::abs(e) + 1 <= room) {
    const double h = std::pow(10.0, n - e - 1);
    const double t = std::nearbyint(a * h) / h;
    return plain_decimal(sign(t), e < 0 ? n - 1 : n - e - 1);
  }
  if (e < 0) {
    const double t = std::nearbyint(a * std::pow(10.0, 2 - e)) / 10;
    return plain_decimal(sign(t), 1) + QStringLiteral("E%1").arg(e - 1);
  }
  const double t = std::nearbyint(a * std::pow(10.0, n - e - 1)) / std::pow(10.0, n - 1);
  return plain_decimal(sign(t), n - 1) + QStringLiteral("E%1").arg(e);
}

qsizetype leading_real_length(QStringView text, QChar separator) {
  qsizetype i = 0;
  const qsizetype n = text.size();
  auto is_digit = [&](qsizetype k) { return k < n && text[k] >= u'0' && text[k] <= u'9'; };
  while (i < n && text[i] == u' ')
    ++i;
  if (i < n && (text[i] == u'+' || text[i] == u'-'))
    ++i;
  qsizetype mantissa_digits = 0;
  while (is_digit(i)) {
    ++i;
    ++mantissa_digits;
  }
  if (i < n && text[i] == separator) {
    qsizetype j = i + 1;
    qsizetype fraction = 0;
    while (is_digit(j)) {
      ++j;
      ++fraction;
    }
    if (mantissa_digits + fraction > 0)
      i = j;
    mantissa_digits += fraction;
  }
  if (mantissa_digits == 0)
    return 0;
  if (i < n && (text[i] == u'e' || text[i] == u'E')) {
    qsizetype j = i + 1;
    if (j < n && (text[j] == u'+' || text[j] == u'-'))
      ++j;
    if (is_digit(j)) {
      while (is_digit(j))
        ++j;
      i = j;
    }
  }
  return i;
}

bool text_to_real(QStringView text, long double &value, QChar separator) {
  QStringView t = text.trimmed();
  if (t.isEmpty() || t.size() > 4096)
    return false;
  if (leading_real_length(t, separator) != t.size())
    return false;
  std::string ascii;
  ascii.reserve(static_cast<std::size_t>(t.size()));
  for (QChar c : t) {
    if (c == separator)
      ascii += '.';
    else
      ascii += static_cast<char>(c.unicode());
  }
  const char *first = ascii.data();
  if (*first == '+')
    ++first; // from_chars takes no plus sign
  long double v = 0;
  const auto [ptr, ec] = std::from_chars(first, ascii.data() + ascii.size(), v);
  if (ptr != ascii.data() + ascii.size())
    return false;
  if (ec == std::errc::result_out_of_range) {
    // Underflow reads as zero; overflow is refused rather than turned into infinity.
    const auto epos = ascii.find_first_of("eE");
    if (epos == std::string::npos || ascii[epos + 1] != '-')
      return false;
    v = 0;
  } else if (ec != std::errc()) {
    return false;
  }
  if (!std::isfinite(v))
    return false;
  value = v;
  return true;
}

bool text_to_real(QStringView text, long double &value) {
  return text_to_real(text, value, locale_decimal_separator());
}

bool text_to_double(QStringView text, double &value) {
  long double v = 0;
  if (!text_to_real(text, v))
    return false;
  if (std::fabs(v) > static_cast<long double>(std::numeric_limits<double>::max()))
    return false;
  value = static_cast<double>(v);
  return true;
}

bool real_entry_shape_ok(QStringView s, QChar pt, int digit_count, int max_decimal_pos,
                         bool allow_less_than_one, bool allow_negative) {
  const qsizetype len = s.size();
  const qsizetype first_minus = s.indexOf(u'-') + 1;
  const qsizetype first_point = s.indexOf(pt) + 1;
  const qsizetype first_zero = s.indexOf(u'0') + 1;
  const bool has_minus = first_minus > 0;
  const int r = (has_minus ? 1 : 0) + (first_point > 0 ? 1 : 0);
  if (first_point >= max_decimal_pos + r || first_point == 1)
    return false;
  if (first_point == 0 && len > max_decimal_pos + r - 1)
    return false;
  if (allow_less_than_one) {
    if (first_minus == 1) {
      if (first_zero == 2 && len > 2 && first_point != 3)
        return false;
    } else if (first_zero == 1 && len > 1 && first_point != 2) {
      return false;
    }
  } else if ((first_minus == 1 && first_zero == 2) || (first_minus != 1 && first_zero == 1)) {
    return false;
  }
  if (len > digit_count + r)
    return false;
  if (allow_negative ? first_minus > 1 : has_minus)
    return false;
  return s.count(pt) <= 1 && s.count(u'-') <= 1;
}
