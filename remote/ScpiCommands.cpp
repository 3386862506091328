#include "ScpiCommands.h"

#include <charconv>
#include <cmath>
#include <limits>

// --- Session ------------------------------------------------------------------------------------

void TScpiSession::push_error(int code, const QString &info) {
  if (code <= -100 && code > -200)
    esr_ |= esr_command;
  else if (code <= -200 && code > -300)
    esr_ |= esr_execution;
  else if (code <= -300 && code > -400)
    esr_ |= esr_device;
  else if (code <= -400 && code > -500)
    esr_ |= esr_query;
  if (int(errors_.size()) >= queue_size)
    return;
  if (int(errors_.size()) == queue_size - 1)
    errors_.push_back({scpi::queue_overflow, {}});
  else
    errors_.push_back({code, info});
}

QString TScpiSession::next_error() {
  if (errors_.empty())
    return QStringLiteral("0,\"No error\"");
  const Entry e = errors_.front();
  errors_.pop_front();
  QString text = scpi::error_text(e.code);
  if (!e.info.isEmpty())
    text += u';' + e.info;
  text.replace(u'"', QStringLiteral("\"\""));
  text.replace(u'\n', u' ');
  return QStringLiteral("%1,\"%2\"").arg(e.code).arg(text);
}

int TScpiSession::stb() const {
  int stb = errors_.empty() ? 0 : 0x04;
  if (esr_ & ese)
    stb |= 0x20;
  if (stb & sre & ~0x40)
    stb |= 0x40;
  return stb;
}

// --- Parameters ---------------------------------------------------------------------------------

bool TScpiCall::number(std::size_t i, long double &value) {
  if (param(i).kind != TScpiParam::number) {
    fail(scpi::data_type_error, QStringLiteral("parameter %1 is a number").arg(i + 1));
    return false;
  }
  value = param(i).value;
  return true;
}

bool TScpiCall::whole(std::size_t i, long long min, long long max, long long &value) {
  long double v = 0;
  if (!number(i, v))
    return false;
  const long double r = std::nearbyint(v);
  if (!(r >= min && r <= max)) {
    fail(scpi::data_out_of_range, QStringLiteral("%1 to %2").arg(min).arg(max));
    return false;
  }
  value = static_cast<long long>(r);
  return true;
}

bool TScpiCall::boolean(std::size_t i, bool &value) {
  const TScpiParam &p = param(i);
  if (p.kind == TScpiParam::word && (p.text == "ON" || p.text == "OFF")) {
    value = p.text == "ON";
    return true;
  }
  if (p.kind == TScpiParam::number) {
    // Booleans given as numbers are rounded: 0 is OFF, anything else ON.
    value = std::nearbyint(p.value) != 0;
    return true;
  }
  fail(p.kind == TScpiParam::word ? scpi::illegal_parameter_value : scpi::data_type_error,
       QStringLiteral("ON, OFF, 1 or 0"));
  return false;
}

bool TScpiCall::choice(std::size_t i, const std::vector<const char *> &choices, int &index) {
  const TScpiParam &p = param(i);
  QStringList names;
  for (std::size_t k = 0; k < choices.size(); ++k) {
    const QByteArray long_form = QByteArray(choices[k]).toUpper();
    QByteArray short_form;
    for (const char c : QByteArray(choices[k]))
      if (!(c >= 'a' && c <= 'z'))
        short_form.append(c);
    if (p.kind == TScpiParam::word && (p.text == long_form || p.text == short_form)) {
      index = int(k);
      return true;
    }
    names << QString::fromLatin1(choices[k]);
  }
  fail(p.kind == TScpiParam::word ? scpi::illegal_parameter_value : scpi::data_type_error,
       QStringLiteral("one of %1").arg(names.join(u'|')));
  return false;
}

// --- Table --------------------------------------------------------------------------------------

void TScpiCommandTable::add(const char *header, bool query, TArity arity, THandler handler) {
  TEntry e;
  e.query = query;
  e.arity = arity;
  e.handler = std::move(handler);
  QByteArray h(header);
  if (h.startsWith('*')) {
    e.common = true;
    e.nodes.push_back({h.toUpper(), h.toUpper(), false});
  } else {
    // "[SOURce:]WAVeform:DATA" and "SYSTem:ERRor[:NEXT]": brackets mark optional nodes.
    bool optional = false;
    QByteArray name;
    auto flush = [&] {
      if (name.isEmpty())
        return;
      QByteArray short_form;
      for (const char c : name)
        if (!(c >= 'a' && c <= 'z'))
          short_form.append(c);
      e.nodes.push_back({name.toUpper(), short_form, optional});
      name.clear();
    };
    for (const char c : h) {
      if (c == '[') {
        flush();
        optional = true;
      } else if (c == ']') {
        flush();
        optional = false;
      } else if (c == ':') {
        flush();
      } else {
        name.append(c);
      }
    }
    flush();
  }
  entries_.push_back(std::move(e));
}

bool TScpiCommandTable::matches(const std::vector<TNode> &nodes, std::size_t n, const QByteArrayList &path,
                                qsizetype p) {
  if (n == nodes.size())
    return p == path.size();
  const TNode &node = nodes[n];
  if (p < path.size() && (path[p] == node.long_form || path[p] == node.short_form) &&
      matches(nodes, n + 1, path, p + 1))
    return true;
  return node.optional && matches(nodes, n + 1, path, p);
}

const TScpiCommandTable::TEntry *TScpiCommandTable::find(const QByteArrayList &path, bool common, bool query,
                                                         bool &other_form) const {
  other_form = false;
  for (const TEntry &e : entries_) {
    if (e.common != common || !matches(e.nodes, 0, path, 0))
      continue;
    if (e.query == query)
      return &e;
    other_form = true;
  }
  return nullptr;
}

bool TScpiCommandTable::execute(TScpiSession &session, const TScpiUnit &unit, QByteArray &reply) {
  reply.clear();
  if (unit.error) {
    session.push_error(unit.error, unit.info);
    return false;
  }
  const TEntry *entry = nullptr;
  bool other_form = false;
  QByteArrayList path = unit.path;
  if (!unit.common) {
    // A command after ';' starts where the one before it ended, or, failing that, at the root.
    if (!unit.absolute && !session.prefix.isEmpty()) {
      entry = find(session.prefix + unit.path, false, unit.query, other_form);
      if (entry)
        path = session.prefix + unit.path;
    }
    if (!entry)
      entry = find(unit.path, false, unit.query, other_form);
    session.prefix = path.mid(0, path.size() - 1);
  } else {
    entry = find(unit.path, true, unit.query, other_form);
  }
  const QString header = QString::fromLatin1(path.join(':')) + (unit.query ? QStringLiteral("?") : QString());
  if (!entry) {
    session.push_error(scpi::undefined_header,
                       other_form ? (unit.query ? QStringLiteral("%1 has no query form").arg(header)
                                                : QStringLiteral("%1 is a query only").arg(header))
                                  : header);
    return false;
  }
  const int n = int(unit.params.size());
  if (entry->arity.max >= 0 && n > entry->arity.max) {
    session.push_error(scpi::parameter_not_allowed, header);
    return false;
  }
  if (n < entry->arity.min) {
    session.push_error(scpi::missing_parameter, header);
    return false;
  }
  TScpiCall call(session, unit);
  entry->handler(call);
  if (call.failed() || !unit.query)
    return false;
  reply = call.reply;
  return true;
}

QByteArray TScpiCommandTable::execute(TScpiSession &session, const QByteArray &message) {
  session.prefix.clear();
  QByteArray out;
  bool answered = false;
  for (const TScpiUnit &unit : parse_scpi_message(message)) {
    QByteArray reply;
    if (execute(session, unit, reply)) {
      if (answered)
        out.append(';');
      out.append(reply);
      answered = true;
    }
  }
  if (answered)
    out.append('\n');
  return out;
}

void TScpiCommandTable::add_status_commands() {
  add("*CLS", false, {}, [](TScpiCall &c) { c.session.clear_status(); });
  add("*ESE", false, {1, 1}, [](TScpiCall &c) {
    long long v = 0;
    if (c.whole(0, 0, 255, v))
      c.session.ese = int(v);
  });
  add("*ESE", true, {}, [](TScpiCall &c) { c.reply = QByteArray::number(c.session.ese); });
  add("*ESR", true, {}, [](TScpiCall &c) { c.reply = QByteArray::number(c.session.read_esr()); });
  add("*SRE", false, {1, 1}, [](TScpiCall &c) {
    long long v = 0;
    if (c.whole(0, 0, 255, v))
      c.session.sre = int(v);
  });
  add("*SRE", true, {}, [](TScpiCall &c) { c.reply = QByteArray::number(c.session.sre); });
  add("*STB", true, {}, [](TScpiCall &c) { c.reply = QByteArray::number(c.session.stb()); });
  // Commands run one after the other, each to its end: every earlier one is complete here.
  add("*OPC", false, {}, [](TScpiCall &c) { c.session.set_event(TScpiSession::esr_opc); });
  add("*OPC", true, {}, [](TScpiCall &c) { c.reply = "1"; });
  add("*WAI", false, {}, [](TScpiCall &) {});
  add("SYSTem:ERRor[:NEXT]", true, {}, [](TScpiCall &c) { c.reply = c.session.next_error().toUtf8(); });
  add("SYSTem:ERRor:COUNt", true, {},
      [](TScpiCall &c) { c.reply = QByteArray::number(c.session.error_count()); });
  add("SYSTem:VERSion", true, {}, [](TScpiCall &c) { c.reply = "1999.0"; });
}

QByteArray scpi_real(long double v) {
  if (std::isnan(v))
    return "9.91E37";
  // Beyond a double is as good as infinite to a client, which reads doubles.
  if (std::isinf(v) || std::fabs(v) > static_cast<long double>(std::numeric_limits<double>::max()))
    return v > 0 ? "9.9E37" : "-9.9E37";
  // The shortest text of the double a client makes of it: all the precision it can hold.
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, static_cast<double>(v));
  return QByteArray(buf, res.ptr - buf);
}

QByteArray scpi_string(const QString &text) {
  QByteArray s = text.toUtf8();
  s.replace('"', "\"\"");
  s.replace('\n', ' ');
  return '"' + s + '"';
}
