#include "ScpiParser.h"

#include "NumberConversion.h"

#include <cctype>
#include <cstring>

namespace scpi {

QString error_text(int code) {
  switch (code) {
  case no_error: return QStringLiteral("No error");
  case command_error: return QStringLiteral("Command error");
  case invalid_character: return QStringLiteral("Invalid character");
  case syntax_error: return QStringLiteral("Syntax error");
  case invalid_separator: return QStringLiteral("Invalid separator");
  case data_type_error: return QStringLiteral("Data type error");
  case parameter_not_allowed: return QStringLiteral("Parameter not allowed");
  case missing_parameter: return QStringLiteral("Missing parameter");
  case undefined_header: return QStringLiteral("Undefined header");
  case header_suffix_out_of_range: return QStringLiteral("Header suffix out of range");
  case numeric_data_error: return QStringLiteral("Numeric data error");
  case invalid_suffix: return QStringLiteral("Invalid suffix");
  case string_data_error: return QStringLiteral("String data error");
  case invalid_block_data: return QStringLiteral("Invalid block data");
  case execution_error: return QStringLiteral("Execution error");
  case settings_conflict: return QStringLiteral("Settings conflict");
  case data_out_of_range: return QStringLiteral("Data out of range");
  case too_much_data: return QStringLiteral("Too much data");
  case illegal_parameter_value: return QStringLiteral("Illegal parameter value");
  case hardware_error: return QStringLiteral("Hardware error");
  case hardware_missing: return QStringLiteral("Hardware missing");
  case queue_overflow: return QStringLiteral("Queue overflow");
  }
  return QStringLiteral("Error");
}

} // namespace scpi

// --- Framing ------------------------------------------------------------------------------------

void TScpiFramer::append(char c) {
  if (too_long_)
    return;
  if (++text_bytes_ > max_line) {
    too_long_ = true;
    message_ = QByteArray();
    return;
  }
  message_.append(c);
}

void TScpiFramer::finish(std::vector<TMessage> &out) {
  if (!too_long_ && message_.endsWith('\r'))
    message_.chop(1);
  out.push_back({too_long_ ? QByteArray() : message_, too_long_});
  message_ = QByteArray();
  text_bytes_ = 0;
  too_long_ = false;
  state_ = text;
}

void TScpiFramer::feed(const char *data, qsizetype size, std::vector<TMessage> &out) {
  qsizetype i = 0;
  while (i < size) {
    if (state_ == body || state_ == skip_body) {
      const qsizetype n = qsizetype(std::min<qint64>(remaining_, size - i));
      if (state_ == body)
        message_.append(data + i, n);
      i += n;
      remaining_ -= n;
      if (remaining_ == 0)
        state_ = text;
      continue;
    }
    const char c = data[i++];
    switch (state_) {
    case text:
      if (c == '\n') {
        finish(out);
        continue;
      }
      if (c == '"' || c == '\'') {
        quote_ = c;
        state_ = quoted;
      } else if (c == '#') {
        state_ = hash;
      }
      append(c);
      break;
    case quoted:
      if (c == '\n') {
        finish(out); // an unterminated string: the parser says so
        continue;
      }
      if (c == quote_)
        state_ = text;
      append(c);
      break;
    case hash:
      if (c >= '1' && c <= '9') {
        digits_left_ = c - '0';
        remaining_ = 0;
        state_ = length_digits;
        append(c);
      } else {
        state_ = text; // #H1F, #0 or a stray '#': plain text to the framer
        --i;
      }
      break;
    case length_digits:
      if (c < '0' || c > '9') {
        state_ = text; // a malformed header: the parser says so
        --i;
        break;
      }
      append(c);
      remaining_ = remaining_ * 10 + (c - '0');
      if (--digits_left_ == 0) {
        if (remaining_ > max_block) {
          too_long_ = true;
          message_ = QByteArray();
          state_ = skip_body;
        } else {
          // The body counts against max_block only.
          state_ = remaining_ > 0 ? body : text;
          if (!too_long_)
            message_.reserve(message_.size() + qsizetype(remaining_));
        }
      }
      break;
    case body:
    case skip_body: break;
    }
  }
}

// --- Parsing ----------------------------------------------------------------------------------

namespace {

struct TCursor {
  const QByteArray &s;
  qsizetype i = 0;
  bool at_end() const { return i >= s.size(); }
  char peek() const { return at_end() ? '\0' : s[i]; }
  void skip_blanks() {
    while (!at_end() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r'))
      ++i;
  }
};

bool is_alpha(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_name(char c) { return is_alpha(c) || is_digit(c) || c == '_'; }

constexpr qsizetype max_mnemonic = 12;

struct TMultiplier {
  const char *name;
  int exponent;
};
constexpr TMultiplier multipliers[] = {{"MA", 6}, {"T", 12}, {"G", 9},   {"K", 3},  {"M", -3},
                                       {"U", -6}, {"N", -9}, {"P", -12}, {"F", -15}};

bool fail(TScpiUnit &u, int code, const QString &info) {
  u.error = code;
  u.info = info;
  return false;
}

bool parse_nondecimal(TCursor &c, TScpiParam &p, TScpiUnit &u) {
  const char base_letter = char(std::toupper(static_cast<unsigned char>(c.s[c.i + 1])));
  const int base = base_letter == 'H' ? 16 : base_letter == 'Q' ? 8 : 2;
  c.i += 2;
  const qsizetype from = c.i;
  unsigned long long v = 0;
  while (!c.at_end() && std::isxdigit(static_cast<unsigned char>(c.peek()))) {
    const char ch = char(std::toupper(static_cast<unsigned char>(c.peek())));
    const int d = is_digit(ch) ? ch - '0' : ch - 'A' + 10;
    if (d >= base)
      return fail(u, scpi::numeric_data_error, QStringLiteral("digit out of base"));
    v = v * unsigned(base) + unsigned(d);
    if (v > 0xFFFFFFFFull)
      return fail(u, scpi::numeric_data_error, QStringLiteral("number too large"));
    ++c.i;
  }
  if (c.i == from)
    return fail(u, scpi::numeric_data_error, QStringLiteral("no digits"));
  p.kind = TScpiParam::number;
  p.text = c.s.mid(from - 2, c.i - from + 2);
  p.value = static_cast<long double>(v);
  return true;
}

bool parse_block(TCursor &c, TScpiParam &p, TScpiUnit &u) {
  const char n = c.i + 1 < c.s.size() ? c.s[c.i + 1] : '\0';
  if (n < '1' || n > '9')
    return fail(u, scpi::invalid_block_data, QStringLiteral("only definite-length blocks (#<n><length>)"));
  const int digits = n - '0';
  if (c.i + 2 + digits > c.s.size())
    return fail(u, scpi::invalid_block_data, QStringLiteral("block length missing"));
  qint64 length = 0;
  for (int k = 0; k < digits; ++k) {
    const char d = c.s[c.i + 2 + k];
    if (!is_digit(d))
      return fail(u, scpi::invalid_block_data, QStringLiteral("block length is not a number"));
    length = length * 10 + (d - '0');
  }
  const qsizetype start = c.i + 2 + digits;
  if (length > c.s.size() - start)
    return fail(u, scpi::invalid_block_data, QStringLiteral("block shorter than its length"));
  p.kind = TScpiParam::block;
  p.text = c.s.mid(start, qsizetype(length));
  c.i = start + qsizetype(length);
  return true;
}

bool parse_string(TCursor &c, TScpiParam &p, TScpiUnit &u) {
  const char q = c.s[c.i++];
  QByteArray out;
  for (;;) {
    if (c.at_end())
      return fail(u, scpi::string_data_error, QStringLiteral("unterminated string"));
    const char ch = c.s[c.i++];
    if (ch == q) {
      if (c.peek() == q) {
        out.append(q);
        ++c.i;
        continue;
      }
      break;
    }
    out.append(ch);
  }
  p.kind = TScpiParam::string;
  p.text = out;
  return true;
}

bool parse_param(TCursor &c, TScpiParam &p, TScpiUnit &u) {
  const char ch = c.peek();
  if (ch == '"' || ch == '\'')
    return parse_string(c, p, u);
  if (ch == '#') {
    const char next = c.i + 1 < c.s.size() ? char(std::toupper(static_cast<unsigned char>(c.s[c.i + 1]))) : 0;
    if (next == 'H' || next == 'Q' || next == 'B')
      return parse_nondecimal(c, p, u);
    return parse_block(c, p, u);
  }
  const qsizetype from = c.i;
  if (is_alpha(ch)) {
    while (!c.at_end() && is_name(c.peek()))
      ++c.i;
    if (c.i - from > max_mnemonic)
      return fail(u, scpi::syntax_error, QStringLiteral("word too long"));
    p.kind = TScpiParam::word;
    p.text = c.s.mid(from, c.i - from).toUpper();
    return true;
  }
  if (is_digit(ch) || ch == '+' || ch == '-' || ch == '.') {
    while (!c.at_end() && (is_name(c.peek()) || c.peek() == '.' || c.peek() == '+' || c.peek() == '-'))
      ++c.i;
    p.kind = TScpiParam::number;
    p.text = c.s.mid(from, c.i - from);
    int error = 0;
    if (!scpi_number(p.text, p.value, error))
      return fail(u, error, QStringLiteral("'%1'").arg(QString::fromLatin1(p.text)));
    return true;
  }
  if (static_cast<unsigned char>(ch) < 0x20 || static_cast<unsigned char>(ch) > 0x7E)
    return fail(u, scpi::invalid_character,
                QStringLiteral("character %1").arg(int(static_cast<unsigned char>(ch))));
  return fail(u, scpi::syntax_error, QStringLiteral("unexpected '%1'").arg(QChar::fromLatin1(ch)));
}

bool parse_header(TCursor &c, TScpiUnit &u) {
  if (c.peek() == '*') {
    const qsizetype from = c.i++;
    while (!c.at_end() && is_alpha(c.peek()))
      ++c.i;
    if (c.i - from < 2)
      return fail(u, scpi::command_error, QStringLiteral("no name after '*'"));
    u.common = true;
    u.path.append(c.s.mid(from, c.i - from).toUpper());
  } else {
    if (c.peek() == ':') {
      u.absolute = true;
      ++c.i;
    }
    for (;;) {
      const qsizetype from = c.i;
      if (!is_alpha(c.peek()))
        return fail(u, c.at_end() || c.peek() == ';' ? scpi::command_error : scpi::syntax_error,
                    QStringLiteral("a header is a name"));
      while (!c.at_end() && is_name(c.peek()))
        ++c.i;
      QByteArray m = c.s.mid(from, c.i - from).toUpper();
      // A numeric suffix: this instrument has one of everything.
      qsizetype d = m.size();
      while (d > 0 && is_digit(m[d - 1]))
        --d;
      if (d < m.size()) {
        if (m.mid(d) != "1")
          return fail(u, scpi::header_suffix_out_of_range, QString::fromLatin1(m));
        m.truncate(d);
      }
      if (m.size() > max_mnemonic)
        return fail(u, scpi::undefined_header, QString::fromLatin1(m));
      u.path.append(m);
      if (c.peek() != ':')
        break;
      ++c.i;
    }
  }
  if (c.peek() == '?') {
    u.query = true;
    ++c.i;
  }
  return true;
}

// One command up to its ';' or the message's end; false when it is malformed.
bool parse_unit(TCursor &c, TScpiUnit &u) {
  if (!parse_header(c, u))
    return false;
  const char after = c.peek();
  if (!c.at_end() && after != ' ' && after != '\t' && after != ';')
    return fail(u, scpi::syntax_error,
                QStringLiteral("unexpected '%1' in the header").arg(QChar::fromLatin1(after)));
  c.skip_blanks();
  if (c.at_end() || c.peek() == ';')
    return true;
  for (;;) {
    TScpiParam p;
    if (!parse_param(c, p, u))
      return false;
    u.params.push_back(std::move(p));
    c.skip_blanks();
    if (c.at_end() || c.peek() == ';')
      return true;
    if (c.peek() != ',')
      return fail(u, scpi::invalid_separator, QStringLiteral("parameters are separated by ','"));
    ++c.i;
    c.skip_blanks();
    if (c.at_end() || c.peek() == ';' || c.peek() == ',')
      return fail(u, scpi::syntax_error, QStringLiteral("empty parameter"));
  }
}

} // namespace

bool scpi_number(const QByteArray &text, long double &value, int &error) {
  error = scpi::numeric_data_error;
  const QString s = QString::fromLatin1(text);
  const qsizetype n = leading_real_length(s, u'.');
  if (n == 0)
    return false;
  QString number = s.left(n);
  QByteArray suffix = text.mid(n).toUpper();
  if (suffix.isEmpty())
    return text_to_real(number, value, u'.');
  error = scpi::invalid_suffix;
  int shift = 0;
  for (const TMultiplier &m : multipliers) {
    if (suffix.startsWith(m.name) && (suffix.size() == qsizetype(std::strlen(m.name)) ||
                                      suffix.mid(qsizetype(std::strlen(m.name))) == "S")) {
      shift = m.exponent;
      suffix.clear();
      break;
    }
  }
  if (suffix == "S")
    suffix.clear();
  if (!suffix.isEmpty())
    return false;
  // The multiplier joins the number's own exponent, so the value is read once, exactly.
  const qsizetype e = number.indexOf(u'e', 0, Qt::CaseInsensitive);
  long long exponent = shift;
  if (e >= 0) {
    bool ok = false;
    exponent += number.mid(e + 1).toLongLong(&ok);
    if (!ok)
      return false;
    number.truncate(e);
  }
  error = scpi::numeric_data_error;
  return text_to_real(number + QStringLiteral("e%1").arg(exponent), value, u'.');
}

std::vector<TScpiUnit> parse_scpi_message(const QByteArray &message) {
  std::vector<TScpiUnit> units;
  TCursor c{message};
  for (;;) {
    c.skip_blanks();
    if (c.at_end())
      break;
    if (c.peek() == ';') {
      ++c.i;
      continue;
    }
    TScpiUnit u;
    const bool ok = parse_unit(c, u);
    units.push_back(std::move(u));
    if (!ok)
      break;
  }
  return units;
}
