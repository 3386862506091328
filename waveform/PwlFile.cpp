#include "PwlFile.h"

#include "NumberConversion.h"
#include "SplitFunctions.h"
#include "TablePoints.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <charconv>
#include <climits>
#include <new>
#include <string>
#include <vector>

namespace {

// Tokens longer than this are cut in error messages.
constexpr qsizetype shown_token_length = 40;
// Significant digits of the numbers written: as many as a simulator reading doubles keeps.
constexpr int written_digits = 15;
// Text is written in pieces of about this many bytes.
constexpr std::size_t write_piece = 1 << 18;

bool ascii_digit(QChar c) { return c >= u'0' && c <= u'9'; }

// Powers of ten of the SPICE scale suffixes; 0 with `length` 0 when `rest` starts with none.
int scale_suffix(QStringView rest, qsizetype &length) {
  length = 0;
  if (rest.isEmpty())
    return 0;
  if (rest.startsWith(u"meg", Qt::CaseInsensitive)) {
    length = 3;
    return 6;
  }
  length = 1;
  switch (rest.front().toLower().unicode()) {
  case u't': return 12;
  case u'g': return 9;
  case u'k': return 3;
  case u'm': return -3;
  case u'u':
  case 0x00b5: // micro sign
  case 0x03bc: return -6;
  case u'n': return -9;
  case u'p': return -12;
  case u'f': return -15;
  default: length = 0; return 0;
  }
}

// Keeps error messages short whatever the token.
QString shown(QStringView token) {
  return token.size() > shown_token_length ? token.left(shown_token_length).toString() + QStringLiteral("...")
                                           : token.toString();
}

QString not_a_number(qsizetype line, QStringView token) {
  return QStringLiteral("Line %1: '%2' is not a number").arg(line).arg(shown(token));
}

} // namespace

bool spice_number(QStringView token, long double &value, QString *plain) {
  const qsizetype n = token.size();
  qsizetype i = 0;
  QString text;
  if (i < n && (token[i] == u'+' || token[i] == u'-')) {
    if (token[i] == u'-')
      text += u'-';
    ++i;
  }
  const qsizetype int_start = i;
  while (i < n && ascii_digit(token[i]))
    ++i;
  const QStringView int_digits = token.mid(int_start, i - int_start);
  QStringView frac_digits;
  if (i < n && token[i] == u'.') {
    const qsizetype frac_start = ++i;
    while (i < n && ascii_digit(token[i]))
      ++i;
    frac_digits = token.mid(frac_start, i - frac_start);
  }
  if (int_digits.isEmpty() && frac_digits.isEmpty())
    return false;
  // An 'e' not followed by digits is a unit letter, as SPICE reads "1eV".
  long exponent = 0;
  if (i < n && (token[i] == u'e' || token[i] == u'E')) {
    qsizetype j = i + 1;
    const bool negative = j < n && token[j] == u'-';
    if (j < n && (token[j] == u'-' || token[j] == u'+'))
      ++j;
    if (j < n && ascii_digit(token[j])) {
      for (; j < n && ascii_digit(token[j]); ++j)
        if (exponent < 1000000) // far past any long double; text_to_real refuses it
          exponent = exponent * 10 + (token[j].unicode() - u'0');
      exponent = negative ? -exponent : exponent;
      i = j;
    }
  }
  QStringView rest = token.mid(i);
  // "mil" is a length (25.4 um) in SPICE; read as milli plus a unit it would be silently wrong.
  if (rest.startsWith(u"mil", Qt::CaseInsensitive))
    return false;
  qsizetype suffix_length = 0;
  exponent += scale_suffix(rest, suffix_length);
  for (QChar c : rest.mid(suffix_length))
    if (!c.isLetter())
      return false;

  text += int_digits.isEmpty() ? QStringView(u"0") : int_digits;
  if (!frac_digits.isEmpty())
    text += u'.' + frac_digits.toString();
  if (exponent != 0)
    text += u'e' + QString::number(exponent);
  long double v = 0;
  // As in a table cell: nothing beyond a double's range.
  if (!cell_real(text, v, u'.'))
    return false;
  value = v;
  if (plain)
    *plain = std::move(text);
  return true;
}

bool is_pwl_file_name(const QString &file_name) {
  return QFileInfo(file_name).suffix().compare(u"pwl", Qt::CaseInsensitive) == 0;
}

namespace {

// The reading of a whole text: on success `table` holds the points (see load_pwl_file); on
// failure it is untouched and `error` says why.
bool read_pwl_text(QStringView text, TQGridModel &table, QString &error) {
  using PackedRow = TQGridModel::PackedRow;
  const QChar decimal = locale_decimal_separator();
  const int first = table.first_data_col();
  const int cols = table.col_count();
  std::vector<PackedRow> rows;
  {
    const QStringView heading[] = {u"Time", u"Value"};
    rows.push_back(PackedRow::build(PackedRow(), first, heading, 2, cols));
  }

  QString time; // the time of a pair whose value is still to come
  qsizetype line_no = 0;
  // A value without a partner is looked for as the first line (with its '+' continuations) that
  // holds an odd count of values: in a file of one pair a line that is where one is missing.
  qsizetype values_in_line = 0;
  qsizetype odd_line = 0;
  QString odd_token;
  qsizetype last_line = 0;
  QStringView last_token;
  auto end_of_logical_line = [&] {
    if (values_in_line % 2 != 0 && odd_line == 0) {
      odd_line = last_line;
      odd_token = shown(last_token);
    }
    values_in_line = 0;
  };
  // PWL, then '(' ... ')': each may stand only before the first value, ')' only after '('.
  bool any_value = false;
  bool keyword = false;
  qsizetype open_line = 0;
  bool closed = false;

  auto take = [&](QStringView token) -> bool {
    if (closed)
      return (error = not_a_number(line_no, token), false);
    if (!any_value && !keyword && open_line == 0 && token.compare(u"pwl", Qt::CaseInsensitive) == 0) {
      keyword = true;
      return true;
    }
    if (token == u"(") {
      if (any_value || open_line != 0)
        return (error = not_a_number(line_no, token), false);
      open_line = line_no;
      return true;
    }
    if (token == u")") {
      if (open_line == 0)
        return (error = not_a_number(line_no, token), false);
      closed = true;
      return true;
    }
    long double v = 0;
    QString plain;
    if (!spice_number(token, v, &plain))
      return (error = not_a_number(line_no, token), false);
    plain.replace(u'.', decimal);
    any_value = true;
    ++values_in_line;
    last_line = line_no;
    last_token = token;
    // Pairs are taken in order across lines, as a simulator reads them.
    if (time.isNull()) {
      time = std::move(plain);
      return true;
    }
    if (rows.size() >= size_t(INT_MAX))
      return (error = QStringLiteral("Too many lines"), false);
    const QStringView pair[] = {time, plain};
    rows.push_back(PackedRow::build(PackedRow(), first, pair, 2, cols));
    time = QString();
    return true;
  };

  const bool read = for_each_line(text, [&](QStringView line) {
    ++line_no;
    const qsizetype comment = line.indexOf(u';');
    if (comment >= 0)
      line = line.left(comment);
    line = line.trimmed();
    if (line.startsWith(u'*'))
      return true;
    if (line.startsWith(u'+'))
      line = line.mid(1);
    else
      end_of_logical_line();

    qsizetype i = 0;
    while (i < line.size()) {
      const QChar c = line[i];
      if (c.isSpace() || c == u',') {
        ++i;
        continue;
      }
      qsizetype j = i + 1;
      if (c != u'(' && c != u')')
        while (j < line.size() && !line[j].isSpace() && line[j] != u',' && line[j] != u'(' && line[j] != u')')
          ++j;
      if (!take(line.mid(i, j - i)))
        return false;
      i = j;
    }
    return true;
  });
  if (!read)
    return false;
  end_of_logical_line();
  if (!time.isNull()) {
    error = QStringLiteral("Line %1: '%2' has no value to pair with").arg(odd_line).arg(odd_token);
    return false;
  }
  if (open_line != 0 && !closed) {
    error = QStringLiteral("Line %1: the '(' is not closed").arg(open_line);
    return false;
  }
  table.replace_rows(std::move(rows));
  return true;
}

} // namespace

TGridFileResult load_pwl_file(TQGridModel &table, const QString &file_name) {
  TGridFileResult result;
  auto fail = [&](const QString &why) {
    result.status = TGridFileResult::Failed;
    result.error = why;
    return result;
  };
  const QFileInfo info(file_name);
  if (!info.exists()) {
    // As for a table file: nothing is read, the table is renumbered and marked changed.
    if (table.auto_number())
      table.renumber();
    table.set_changed(true);
    result.status = TGridFileResult::Missing;
    return result;
  }
  QFile f(file_name);
  TFileStamp before, after;
  QString why;
  if (!open_waveform_file(f, before, why))
    return fail(why);
  try {
    const QByteArray bytes = f.readAll();
    if (f.error() != QFileDevice::NoError)
      return fail(f.errorString());
    // A writer between the reads may have left a mix of two versions.
    if (!file_stamp(f.handle(), after) || after != before || bytes.size() != before.size)
      return fail(QStringLiteral("It changed while it was read"));
    QString text;
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
      QStringDecoder decode(bytes.at(0) == '\xFF' ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE);
      text = decode.decode(bytes);
    } else if (QByteArrayView(bytes).isValidUtf8()) {
      text = QString::fromUtf8(bytes); // drops a leading byte-order mark
    } else {
      text = QString::fromLatin1(bytes);
    }
    QString error;
    if (!read_pwl_text(text, table, error))
      return fail(error);
  } catch (const std::bad_alloc &) {
    return fail(QStringLiteral("Not enough memory for the table"));
  }
  return result;
}

TGridFileResult save_pwl_file(const TQGridModel &table, const QString &file_name) {
  TGridFileResult result;
  std::vector<TWavePoint> points;
  table_points(table, points);
  if (points.empty()) {
    result.status = TGridFileResult::Failed;
    result.error = QStringLiteral("The table holds no points");
    return result;
  }
  return save_waveform_file(file_name, [&](QIODevice &f) {
    std::string text;
    bool ok = true;
    auto number = [&](long double v) {
      char buf[64];
      const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, written_digits);
      text.append(buf, res.ptr);
    };
    for (std::size_t i = 0; ok && i < points.size(); ++i) {
      number(points[i].time);
      text += ' ';
      number(points[i].value);
      text += "\r\n";
      if (text.size() > write_piece || i + 1 == points.size()) {
        ok = f.write(text.data(), qint64(text.size())) == qint64(text.size());
        text.clear();
      }
    }
    return ok;
  });
}
