// qx5200-ctl's board commands: the load board record read, and written with a read-back check.
#include "Ctl.h"

#include "BoardFields.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMap>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace {

bool is_text_field(const QString &name) {
  return name == u"name" || name == u"units" || name == u"sensor_units";
}

// A wire field as the text output shows it: return_to_zero as board read and status say it.
QString shown(const QString &field, const QString &text) {
  if (field != u"return_to_zero")
    return text;
  return text == u"0" ? QStringLiteral("no") : QStringLiteral("yes");
}

QString number_text(double v) {
  char buf[32];
  const auto res = std::to_chars(buf, buf + sizeof buf, v);
  return QString::fromLatin1(buf, res.ptr - buf);
}

QString json_kind(const QJsonValue &v) {
  switch (v.type()) {
  case QJsonValue::Null: return QStringLiteral("null");
  case QJsonValue::Bool: return v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
  case QJsonValue::Double: return number_text(v.toDouble());
  case QJsonValue::String: return QStringLiteral("the text \"%1\"").arg(v.toString());
  case QJsonValue::Array: return QStringLiteral("an array");
  case QJsonValue::Object: return QStringLiteral("an object");
  default: return QStringLiteral("nothing");
  }
}

// The keys of a JSON object's text in order, repeats included: a parsed object keeps only the
// last of equal keys. The text is known to parse.
QStringList object_keys(const QByteArray &json) {
  QStringList keys;
  int depth = 0;
  for (qsizetype i = 0; i < json.size(); ++i) {
    const char c = json[i];
    if (c == '{' || c == '[') {
      ++depth;
    } else if (c == '}' || c == ']') {
      --depth;
    } else if (c == '"') {
      const qsizetype from = i;
      for (++i; i < json.size() && json[i] != '"'; ++i)
        if (json[i] == '\\')
          ++i;
      if (depth != 1)
        continue;
      qsizetype next = i + 1;
      while (next < json.size() && QChar::isSpace(uchar(json[next])))
        ++next;
      if (next < json.size() && json[next] == ':') {
        // The key's own text, escapes and all, read as a JSON string.
        const QJsonDocument one = QJsonDocument::fromJson('[' + json.mid(from, i - from + 1) + ']');
        keys << one.array().at(0).toString();
      }
    }
  }
  return keys;
}

} // namespace

int TCtl::board_read() {
  if (const int r = connect())
    return r;
  if (!driver_->load_board_present())
    return fail(exit_not_now,
                QStringLiteral("%1 has no load board: insert one, then run the command again.").arg(name()));
  if (o_.json)
    print_json(board_record_json(driver_->load_board()));
  else
    print(record_text(driver_->load_board(), {}));
  return exit_done;
}

int TCtl::board_write(const QString &file) {
  QFile f(file);
  if (!f.open(QIODevice::ReadOnly))
    return fail(exit_usage, QStringLiteral("%1: %2").arg(file, f.errorString()));
  // A record is a few hundred bytes; anything far larger is not one.
  const QByteArray bytes = f.read(1 << 16);
  QJsonParseError error{};
  const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
  if (error.error != QJsonParseError::NoError || !doc.isObject())
    return fail(exit_usage, QStringLiteral("%1: not a JSON object (%2)").arg(file, error.errorString()));

  // Every field is judged before the device is asked, and all refusals are told at once.
  const QJsonObject object = doc.object();
  QStringList problems;
  QStringList seen;
  for (const QString &key : object_keys(bytes)) {
    if (seen.contains(key) && !problems.contains(QStringLiteral("%1 is given more than once").arg(key)))
      problems << QStringLiteral("%1 is given more than once").arg(key);
    seen << key;
  }
  TLoadBoardRecord scratch;
  for (auto it = object.begin(); it != object.end(); ++it) {
    const QString &key = it.key();
    const QJsonValue value = *it;
    if (const TBoardNumberField *nf = board_number_field(key)) {
      if (!value.isDouble())
        problems << QStringLiteral("%1 is a number, not %2").arg(key, json_kind(value));
      else if (const QString why = board_number_problem(*nf, value.toDouble()); !why.isEmpty())
        problems << why;
    } else if (is_text_field(key)) {
      QString why;
      if (!value.isString())
        problems << QStringLiteral("%1 is a text, not %2").arg(key, json_kind(value));
      else if (!scratch.set_field(key, value.toString(), why))
        problems << QStringLiteral("%1: %2").arg(key, why);
      else if (std::any_of(value.toString().begin(), value.toString().end(),
                           [](QChar c) { return c.unicode() == 0 || c.unicode() > 255; }))
        problems << QStringLiteral("%1 holds a character the record cannot store").arg(key);
    } else if (key == u"return_to_zero") {
      // The record's own byte form (0 or 1) is taken beside true and false.
      if (!value.isBool() && !(value.isDouble() && (value.toDouble() == 0 || value.toDouble() == 1)))
        problems << QStringLiteral("return_to_zero is true or false, not %1").arg(json_kind(value));
    } else {
      problems << QStringLiteral("unknown load board field '%1'").arg(key);
    }
  }
  if (!problems.isEmpty())
    return fail(exit_usage,
                QStringLiteral("%1: nothing was written: %2").arg(file, problems.join(QStringLiteral("; "))));
  if (const int r = connect_to_idle_board())
    return r;

  const TLoadBoardRecord old_record = driver_->load_board();
  TLoadBoardRecord record = old_record;
  QMap<QString, QString> asked; // numbers the record keeps otherwise than given
  for (auto it = object.begin(); it != object.end(); ++it) {
    QString why;
    if (const TBoardNumberField *nf = board_number_field(it.key())) {
      const double v = it->toDouble();
      record.*nf->field = v;
      if (board_wire_value(*nf, v) != v)
        asked.insert(it.key(), number_text(v));
    } else if (it.key() == u"return_to_zero") {
      record.lb_return_to_zero = it->isBool() ? (it->toBool() ? 1 : 0) : quint8(it->toDouble());
    } else {
      record.set_field(it.key(), it->toString(), why);
    }
  }

  const auto before = board_wire_fields(old_record);
  const auto after = board_wire_fields(record);
  QJsonArray changes;
  QString text;
  for (qsizetype i = 0; i < before.size(); ++i) {
    if (before[i].second == after[i].second)
      continue;
    const QString &field = before[i].first;
    QJsonObject change{{QStringLiteral("field"), field},
                       {QStringLiteral("from"), board_field_json(field, before[i].second)},
                       {QStringLiteral("to"), board_field_json(field, after[i].second)}};
    text += QStringLiteral("%1: %2 -> %3")
                .arg(field, shown(field, before[i].second), shown(field, after[i].second));
    // Told before anything is written: the record keeps singles and one byte, not what was asked.
    if (asked.contains(field)) {
      change.insert(QStringLiteral("asked"), asked[field].toDouble());
      text += QStringLiteral(" (%1 asked: the record keeps %2)")
                  .arg(asked[field], field == u"max_value" ? QStringLiteral("whole numbers")
                                                           : QStringLiteral("a single, truncated"));
    }
    text += u'\n';
    changes.append(change);
  }
  const bool write = o_.yes && !changes.isEmpty();
  QJsonArray differs;
  QString differ_text;
  if (write) {
    driver_->load_board() = record;
    if (!driver_->write_load_board_record() || !driver_->read_load_board_record())
      return lost();
    const auto back = board_wire_fields(driver_->load_board());
    for (qsizetype i = 0; i < after.size(); ++i) {
      if (after[i].second == back[i].second)
        continue;
      differs.append(
          QJsonObject{{QStringLiteral("field"), after[i].first},
                      {QStringLiteral("written"), board_field_json(after[i].first, after[i].second)},
                      {QStringLiteral("read"), board_field_json(after[i].first, back[i].second)}});
      differ_text += QStringLiteral(" %1 (wrote %2, read %3)")
                         .arg(after[i].first, shown(after[i].first, after[i].second),
                              shown(after[i].first, back[i].second));
    }
  }
  if (o_.json)
    print_result({{QStringLiteral("changes"), changes},
                  {QStringLiteral("written"), write},
                  {QStringLiteral("differs"), differs}});
  else
    print(changes.isEmpty() ? QStringLiteral("No field changes.\n") : text);
  if (!differs.isEmpty())
    return fail(exit_record_differs,
                QStringLiteral("the record read back from %1 differs:%2").arg(name(), differ_text));
  if (!changes.isEmpty() && !o_.yes)
    return fail(exit_not_written,
                QStringLiteral("not written: run again with --yes to write these changes."));
  if (write && !o_.json)
    print(QStringLiteral("Written and read back.\n"));
  return exit_done;
}
