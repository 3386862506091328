#include "TNumEditUnit.h"

#include "NumberConversion.h"

#include <QKeyEvent>
#include <QKeySequence>
#include <QToolTip>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr QChar kBackspace(u'\b');

int digit_value(QChar c, int base) {
  if (c >= u'0' && c <= u'9')
    return c.unicode() - u'0';
  const QChar u = c.toUpper();
  if (base == 16 && u >= u'A' && u <= u'F')
    return u.unicode() - u'A' + 10;
  return -1;
}

// The leading [-]digits of `s` as a number in `base`; `whole` says whether that was all of s.
double leading_integer(QStringView s, int base, bool *whole = nullptr) {
  qsizetype i = 0;
  const bool negative = !s.isEmpty() && s[0] == u'-';
  if (negative)
    ++i;
  const qsizetype first_digit = i;
  double v = 0;
  for (int d; i < s.size() && (d = digit_value(s[i], base)) >= 0; ++i)
    v = v * base + d;
  if (whole)
    *whole = i > first_digit && i == s.size();
  return negative ? -v : v;
}

// How many characters of s lie in first..'9'.
qsizetype digits_from(const QString &s, char16_t first) {
  return std::count_if(s.begin(), s.end(), [first](QChar c) { return c >= first && c <= u'9'; });
}

} // namespace

TNumEdit::TNumEdit(QWidget *parent) : QLineEdit(parent) {
  // Pasting, dropping and the field's own undo change the text without a key of ours.
  connect(this, &QLineEdit::textEdited, this, [this] { edit_pending_ = true; });
}

bool TNumEdit::text_acceptable() const {
  const QString t = text();
  if (t.isEmpty() || t == u"-" || (!allow_negative_ && t.startsWith(u'-')))
    return false;
  if (data_type_ == tInteger || data_type_ == tHex) {
    bool whole = false;
    const double v = leading_integer(t, data_type_ == tHex ? 16 : 10, &whole);
    return whole && std::fabs(v) <= max_value_;
  }
  long double v = 0;
  return text_to_real(t, v, point()) &&
         std::fabs(v) <= static_cast<long double>(std::numeric_limits<double>::max());
}

bool TNumEdit::apply_edit() {
  if (!edit_pending_)
    return true;
  if (!text_acceptable())
    return false;
  edit_pending_ = false;
  emit OnValueChange();
  return true;
}

// Leaving the field (Tab, a click elsewhere, a menu, another page) takes what was typed, as Enter
// does: a value on show is never silently not the value.
void TNumEdit::focusOutEvent(QFocusEvent *event) {
  QLineEdit::focusOutEvent(event);
  apply_edit();
}

QChar TNumEdit::point() const { return locale_decimal_separator(); }

bool TNumEdit::allowed_char(QChar c) const {
  if (c == kBackspace)
    return true;
  const bool digit = c >= u'0' && c <= u'9';
  switch (data_type_) {
  case tInteger: return digit || c == u'-';
  case tReal: return digit || c == u'-' || c == u'.' || c == point();
  case tHex: return digit || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
  case tGeneral: return digit || c == u'-' || c == u'.' || c == point() || c == u'E' || c == u'e';
  }
  return false;
}

bool TNumEdit::magnitude_ok(const QString &s) const {
  switch (data_type_) {
  case tInteger:
  case tHex: {
    bool whole = false;
    const double v = leading_integer(s, data_type_ == tHex ? 16 : 10, &whole);
    return whole && std::fabs(v) <= max_value_;
  }
  case tReal:
  case tGeneral: {
    // An exponent still being typed ("1E", "1E-") is judged by the number in front of it.
    QStringView t(s);
    if (data_type_ == tGeneral) {
      if (t.endsWith(u'-') || t.endsWith(u'+'))
        t.chop(1);
      if (t.endsWith(u'E') || t.endsWith(u'e'))
        t.chop(1);
    }
    long double v = 0;
    return text_to_real(t, v, point()) && std::fabs(v) <= max_value_;
  }
  }
  return false;
}

bool TNumEdit::check_text(const QString &s) const {
  if (s.contains(kBackspace))
    return false;
  const QChar pt = point();
  const qsizetype len = s.size();
  const qsizetype first_minus = s.indexOf(u'-') + 1;
  const bool has_minus = first_minus > 0;
  const bool test_magnitude = !text().isEmpty() && !s.isEmpty() && s != QStringLiteral("-");

  switch (data_type_) {
  case tInteger:
    if (len > digit_count_ + (has_minus ? 1 : 0))
      return false;
    if (allow_negative_ ? first_minus > 1 : has_minus)
      return false;
    if (s.count(u'-') > 1)
      return false;
    break;
  case tReal:
    if (!real_entry_shape_ok(s, pt, digit_count_, max_decimal_pos_, allow_less_than_one_, allow_negative_))
      return false;
    break;
  case tHex:
    if (len > digit_count_)
      return false;
    break;
  case tGeneral:
    if (s.count(pt) > 1)
      return false;
    break;
  }
  return !test_magnitude || magnitude_ok(s);
}

double TNumEdit::Value() const {
  const QString t = text();
  if (t.isEmpty() || t == QStringLiteral("-"))
    return 0;
  switch (data_type_) {
  case tInteger:
  case tHex: {
    // Pasted or program-written text is not checked: digits past the range of double read as 0,
    // as an out-of-range real does below, never as infinity.
    const double v = leading_integer(t, data_type_ == tHex ? 16 : 10);
    return std::isfinite(v) ? v : 0;
  }
  case tReal:
  case tGeneral: {
    const qsizetype n = leading_real_length(t, point());
    long double v = 0;
    // Out of the range of double (or of long double) reads as 0 like any other non-number.
    if (n == 0 || !text_to_real(QStringView(t).left(n), v, point()) ||
        std::fabs(v) > static_cast<long double>(std::numeric_limits<double>::max()))
      return 0;
    return static_cast<double>(v);
  }
  }
  return 0;
}

QString TNumEdit::formatted(double v) const {
  if (!std::isfinite(v))
    return {};
  auto cut = [this](QString s, int extra) {
    const int n = digit_count_ + extra + (s.startsWith(u'-') ? 1 : 0);
    if (n >= 0 && s.size() > n)
      s.truncate(n);
    return s;
  };
  switch (data_type_) {
  case tInteger:
  case tHex: {
    if (std::fabs(v) > max_value_)
      v = std::copysign(max_value_, v);
    const double n = std::nearbyint(v);
    // Beyond 64 bits there is no whole number to write (a field with a huge MaxValue).
    if (std::fabs(n) >= 18446744073709551616.0)
      return {};
    if (data_type_ == tInteger)
      return cut(QString::number(n, 'f', 0), 0);
    QString digits = QString::number(static_cast<qulonglong>(std::fabs(n)), 16).toUpper();
    if (digits.size() < digit_count_)
      digits.prepend(QString(digit_count_ - digits.size(), u'0'));
    return cut(n < 0 ? QStringLiteral("-") + digits : digits, 0);
  }
  case tReal: return real_text(v);
  case tGeneral:
    // The general form already holds DigitCount significant digits; cutting it further would
    // drop an exponent or significant zeros and change the value.
    return float_to_general(v, digit_count_, point());
  }
  return {};
}

QString TNumEdit::real_text(double v) const {
  // DigitCount digits in plain form, the leading 0 of a value below one included, rounded once;
  // a value with more integer digits keeps them all. Cutting a longer text to length instead
  // made 123456 read "1.2346".
  const int n = std::max(1, digit_count_);
  const double a = std::fabs(v);
  const int whole = a < 1 ? 1 : static_cast<int>(std::floor(std::log10(a))) + 1;
  int decimals = std::max(0, n - whole);
  auto plain = [&](int d) { return float_to_fixed(v, whole + d + 1, d, point()); };
  QString text = plain(decimals);
  // A carry into a new integer digit (9.99996 to "10.000") takes one decimal back.
  if (decimals > 0 && digits_from(text, u'0') > std::max(n, whole))
    text = plain(decimals - 1);
  // A value too small for the decimals or too long for the field is shown in scientific form
  // rather than as 0 or cut by the edit's length limit.
  if ((v != 0 && digits_from(text, u'1') == 0) || text.size() > maxLength())
    text = float_to_scientific(v, n, point());
  return text;
}

bool TNumEdit::setValue(double v) {
  const QString s = formatted(v);
  bool ok = !s.isEmpty();
  if (ok && data_type_ == tReal)
    ok = s.size() <= maxLength() && (allow_negative_ || !s.startsWith(u'-')) && magnitude_ok(s);
  else if (ok)
    ok = check_text(s);
  if (ok) {
    setText(s);
    edit_pending_ = false;
  }
  return ok;
}

void TNumEdit::keyPressEvent(QKeyEvent *event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    event->accept();
    edit_pending_ = false;
    emit OnValueChange();
    return;
  }
  // A typed key that replaces a selection sets the text as the program would.
  const QString before = text();
  handle_key(event);
  if (text() != before)
    edit_pending_ = true;
}

void TNumEdit::handle_key(QKeyEvent *event) {
  // Clipboard, undo and selection shortcuts keep working; their text passes no check.
  if (event->matches(QKeySequence::Paste) || event->matches(QKeySequence::Copy) ||
      event->matches(QKeySequence::Cut) || event->matches(QKeySequence::SelectAll) ||
      event->matches(QKeySequence::Undo) || event->matches(QKeySequence::Redo)) {
    QLineEdit::keyPressEvent(event);
    return;
  }
  QChar ch;
  if (event->key() == Qt::Key_Backspace) {
    ch = kBackspace;
  } else {
    const QString typed = event->text();
    if (typed.isEmpty()) {
      // Caret movement, Delete, Home/End and the like.
      QLineEdit::keyPressEvent(event);
      return;
    }
    if (typed.size() != 1) {
      event->accept();
      return;
    }
    ch = typed.front();
  }
  event->accept();
  if (!allowed_char(ch)) {
    refuse(ch);
    return;
  }
  const bool backspace = ch == kBackspace;
  if (!backspace && (ch == u'.' || ch == point()) && (data_type_ == tReal || data_type_ == tGeneral))
    ch = point();

  QString candidate = text();
  if (hasSelectedText()) {
    const int start = selectionStart();
    candidate.remove(start, static_cast<int>(selectedText().size()));
    if (!backspace)
      candidate.insert(start, ch);
    if (backspace || check_text(candidate)) {
      setText(candidate);
      setCursorPosition(backspace ? start : start + 1);
    } else {
      refuse(ch);
    }
    return;
  }
  if (backspace) {
    QLineEdit::keyPressEvent(event);
    return;
  }
  candidate.insert(cursorPosition(), ch);
  if (check_text(candidate))
    insert(QString(ch));
  else
    refuse(ch);
}

// A key the field does not take is said at the field, so a lost digit does not go unseen.
void TNumEdit::refuse(QChar ch) {
  QString why = tr("\"%1\" is not taken here.").arg(ch);
  if (ch.isDigit() && max_value_ > 0)
    why += tr(" At most %1 digits; values up to %2.").arg(digit_count_).arg(max_value_, 0, 'g', 10);
  QToolTip::showText(mapToGlobal(QPoint(0, height())), why, this);
  emit Refused(why);
}
