#include "SimulateFaults.h"

#include "TVirtualQX5200Device.h"

#include <QCoreApplication>
#include <QTimer>

#include <cmath>

QString TSimulateFaults::choices() {
  return QStringLiteral("no-board[=SECONDS], over-temperature[=SECONDS], unplug-after=SECONDS, "
                        "no-reply-after=COMMANDS, latency=MS");
}

bool TSimulateFaults::parse(const QString &list, QString &reason) {
  *this = {};
  if (list.isEmpty())
    return true;
  for (const QString &entry : list.split(u',')) {
    const QString name = entry.section(u'=', 0, 0);
    const bool has_value = entry.contains(u'=');
    const QString value = entry.section(u'=', 1);
    bool ok = false;
    if ((name == u"no-board" || name == u"over-temperature") && !has_value) {
      (name == u"no-board" ? no_board : over_temperature) = true;
      continue;
    }
    double *seconds = name == u"unplug-after"       ? &unplug_after
                      : name == u"no-board"         ? &board_removed_after
                      : name == u"over-temperature" ? &hot_after
                      : name == u"latency"          ? &latency_ms
                                                    : nullptr;
    if (seconds && has_value) {
      *seconds = value.toDouble(&ok);
      if (ok && std::isfinite(*seconds) && *seconds >= 0 && *seconds <= (name == u"latency" ? 400 : 1e6))
        continue;
      reason =
          name == u"latency"
              ? QStringLiteral("--simulate: latency takes milliseconds from 0 to 400, not '%1'").arg(value)
              : QStringLiteral("--simulate: %1 takes a number of seconds from 0 to 1000000, not '%2'")
                    .arg(name, value);
      return false;
    }
    if (name == u"no-reply-after" && has_value) {
      no_reply_after = value.toInt(&ok);
      if (ok && no_reply_after >= 0)
        continue;
      reason =
          QStringLiteral("--simulate: no-reply-after takes a whole number of commands, not '%1'").arg(value);
      return false;
    }
    reason = QStringLiteral("--simulate: '%1' is not one of %2").arg(entry, choices());
    return false;
  }
  return true;
}

void TSimulateFaults::apply(TVirtualQX5200Device &device) const {
  TVirtualQX5200 &model = device.model();
  if (no_board)
    model.set_board_present(false);
  model.force_over_temperature = over_temperature;
  model.answer_limit = no_reply_after;
  if (latency_ms >= 0)
    model.latency = std::chrono::microseconds(qint64(std::llround(latency_ms * 1000)));
  auto after = [](double s, auto what) {
    if (s >= 0)
      QTimer::singleShot(std::chrono::milliseconds(qint64(std::ceil(s * 1000))), QCoreApplication::instance(),
                         what);
  };
  after(unplug_after, [&device] { device.unplug(); });
  auto into_run = [](double s) { return std::chrono::nanoseconds(s < 0 ? -1 : std::llround(s * 1e9)); };
  model.board_removed_into_run = into_run(board_removed_after);
  model.hot_into_run = into_run(hot_after);
}

QStringList take_simulate_list(QStringList args, QString &list) {
  list.clear();
  for (QString &arg : args) {
    if (arg == u"--") // what follows is not an option
      break;
    if (arg.startsWith(u"--simulate=")) {
      list = arg.mid(qsizetype(sizeof "--simulate=") - 1);
      arg = QStringLiteral("--simulate");
    }
  }
  return args;
}
