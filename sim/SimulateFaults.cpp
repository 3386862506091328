#include "SimulateFaults.h"

#include "TVirtualQX5200Device.h"

#include <QCoreApplication>
#include <QTimer>

#include <cmath>

QString TSimulateFaults::choices() {
  return QStringLiteral("no-board, over-temperature, unplug-after=SECONDS, no-reply-after=COMMANDS");
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
    if (name == u"unplug-after" && has_value) {
      unplug_after = value.toDouble(&ok);
      if (ok && std::isfinite(unplug_after) && unplug_after >= 0 && unplug_after <= 1e6)
        continue;
      reason =
          QStringLiteral("--simulate: unplug-after takes a number of seconds from 0 to 1000000, not '%1'")
              .arg(value);
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
  if (unplug_after >= 0)
    QTimer::singleShot(std::chrono::milliseconds(qint64(std::ceil(unplug_after * 1000))),
                       QCoreApplication::instance(), [&device] { device.unplug(); });
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
