// qx5200-ctl: drives the QX5200 from scripts (list, status, upload, start, stop, run, log, board)
// over the same driver, transport and HID back ends as the window.

#include "Ctl.h"
#include "CtlServe.h"
#include "FormulaOptions.h"
#include "HidBackendLinux.h"
#include "SimulateFaults.h"
#include "TVirtualQX5200Device.h"
#include "WaveFileLoader.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cmath>

namespace {

// --- Command line ----------------------------------------------------------------------------

struct TCommand {
  const char *name;
  const char *arguments;
  const char *summary;
  QStringList options; // names of the command's own options
};

const QList<TCommand> &commands() {
  static const QList<TCommand> list = {
      {"list",
       "",
       "The QX5200s present: path, serial number, whether this user may open each (none found is "
       "no failure: exit 0).",
       {}},
      {"status",
       "",
       "Connection, USB voltage, serial, firmware, calibration, load board, sensor, "
       "temperature, over-temperature, running.",
       {}},
      {"upload",
       "FILE | --formula EXPR --span START:END",
       "Reads, validates and builds FILE as the window does before START, then uploads it.",
       {"format", "separator", "decimal", "repeat", "formula", "span", "accuracy", "points"}},
      {"start", "", "Starts the waveform the device holds.", {"wait", "timeout", "keep-running"}},
      {"stop", "", "Stops the output.", {}},
      {"run",
       "FILE | --formula EXPR --span START:END",
       "Uploads FILE as upload does, then starts it.",
       {"format", "separator", "decimal", "repeat", "wait", "timeout", "log", "interval", "keep-running",
        "formula", "span", "accuracy", "points"}},
      {"log",
       "",
       "Writes one CSV row (JSON Lines with --json) per status poll, on a fixed schedule.",
       {"interval", "duration", "output"}},
      {"board",
       "read | write FILE.json",
       "Prints the load board record, or writes the fields FILE.json "
       "changes (only with --yes) and reads them back.",
       {"yes"}},
      {"serve",
       "",
       "Holds the device and serves SCPI on TCP (--listen, default 127.0.0.1:5025) and on its "
       "local socket until SIGTERM or SIGINT.",
       {"listen", "log"}},
  };
  return list;
}

QString general_help() {
  QString t = QStringLiteral(
      "Usage: qx5200-ctl [--simulate[=FAULT,...]] [--device PATH] [--json] COMMAND [options]\n\n"
      "Drives the QX5200 arbitrary waveform generator from scripts.\n\nCommands:\n");
  for (const TCommand &c : commands())
    t += QStringLiteral("  %1 %2\n      %3\n")
             .arg(QString::fromLatin1(c.name), QString::fromLatin1(c.arguments),
                  QString::fromLatin1(c.summary));
  t +=
      QStringLiteral("\nCommon options: --json (one JSON object; JSON Lines for log), --device PATH, "
                     "--simulate[=FAULT,...] (a virtual QX5200 of this process's own; faults: %1), -h/--help "
                     "(also after a command), -v/--version.\n\n")
          .arg(TSimulateFaults::choices());
  t += QStringLiteral(
      "Exit status (with --json also in the result object, or alone: \"error\": {\"code\", \"kind\", "
      "\"message\"}, kind in brackets; \"error\": null on success):\n"
      "  0   done\n"
      "  1   waveform data error (data_error)\n"
      "  2   usage, or a file that cannot be read or opened (usage)\n"
      "  3   no device (no_device)\n"
      "  4   no permission (no_permission)\n"
      "  5   device in use (in_use)\n"
      "  6   the device stopped answering (no_answer)\n"
      "  7   not possible now: no load board, over-temperature, running, --timeout passed, or the device cut "
      "the run for a hot or removed board (not_possible)\n"
      "  8   the board record read back differs (record_differs)\n"
      "  9   serve cannot listen, the port is in use (cannot_listen)\n"
      "  10  board write not given --yes (not_written)\n"
      "  11  a log row could not be written, the disk is full (log_failed); run stops the output unless "
      "--keep-running\n"
      "  128+N  run or start --wait interrupted by signal N: SIGINT 130, SIGTERM 143, SIGHUP 129 "
      "(interrupted); the output is stopped unless --keep-running. log ends on these signals with 0.\n");
  return t;
}

QList<QCommandLineOption> all_options() {
  return QList<QCommandLineOption>{
             {{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help.")},
             {{QStringLiteral("v"), QStringLiteral("version")},
              QStringLiteral("Show the program's name and version.")},
             {QStringLiteral("json"), QStringLiteral("Print one JSON object (JSON Lines for log).")},
             {QStringLiteral("device"), QStringLiteral("Use the QX5200 at PATH (see list)."),
              QStringLiteral("PATH")},
             {QStringLiteral("simulate"),
              QStringLiteral(
                  "Use an in-process virtual QX5200 with load board LB1; =FAULT,... gives it faults.")},
             {QStringLiteral("repeat"),
              QStringLiteral("Repeat count, 0 to 65535 (default 1; 0 runs until stopped)."),
              QStringLiteral("N"), QStringLiteral("1")},
             {QStringLiteral("wait"), QStringLiteral("Wait until the device reports the run ended.")},
             {QStringLiteral("timeout"),
              QStringLiteral(
                  "With --wait: give up after S seconds, 0 to 10000000 (exit 7), leaving it running."),
              QStringLiteral("S")},
             {QStringLiteral("log"),
              QStringLiteral(
                  "Log to FILE (CSV) during the run; implies --wait. Opened before anything is sent."),
              QStringLiteral("FILE")},
             {QStringLiteral("keep-running"), QStringLiteral("start --wait, run: a signal, or a run log that "
                                                             "cannot be written, leaves the output running "
                                                             "(without it they stop the output).")},
             {QStringLiteral("interval"),
              QStringLiteral(
                  "Milliseconds between polls, 10 to 3600000 (default 1000); rows at fixed times from "
                  "the start, coarser when the device link cannot keep it (said on standard error)."),
              QStringLiteral("MS"), QStringLiteral("1000")},
             {QStringLiteral("duration"),
              QStringLiteral(
                  "Stop logging after S seconds, 0 to 10000000 (default: until Ctrl+C or SIGTERM)."),
              QStringLiteral("S")},
             {QStringLiteral("output"), QStringLiteral("Append the log to FILE instead of standard output."),
              QStringLiteral("FILE")},
             {QStringLiteral("yes"), QStringLiteral("board write: write the changes.")},
             {QStringLiteral("listen"),
              QStringLiteral(
                  "serve: the TCP address and port (default 127.0.0.1:5025; port 0: any free one)."),
              QStringLiteral("HOST:PORT"), QStringLiteral("127.0.0.1:5025")},
         } +
         wave_file_options() + formula_options();
}

bool is_global(const QString &name) {
  return name == u"h" || name == u"help" || name == u"v" || name == u"version" || name == u"json" ||
         name == u"device" || name == u"simulate";
}

bool positive_seconds(const QString &text, double &value) {
  bool ok = false;
  value = text.toDouble(&ok);
  return ok && std::isfinite(value) && value >= 0 && value <= 1e7;
}

} // namespace

int main(int argc, char *argv[]) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("qx5200-ctl"));
  QCoreApplication::setApplicationVersion(QStringLiteral(QX5200_VERSION));

  QCommandLineParser parser;
  const QList<QCommandLineOption> options = all_options();
  parser.addOptions(options);
  QString fault_list;
  const bool parsed = parser.parse(take_simulate_list(QCoreApplication::arguments(), fault_list));
  // With --json every failure from here on is also a JSON object on standard output.
  set_json_failures(parsed ? parser.isSet(QStringLiteral("json"))
                           : QCoreApplication::arguments().contains(QStringLiteral("--json")));
  if (!parsed)
    return fail(exit_usage, parser.errorText() + QStringLiteral(" (see qx5200-ctl --help)"));
  QStringList args = parser.positionalArguments();
  const QString command = args.isEmpty() ? QString() : args.takeFirst();
  const auto found = std::find_if(commands().begin(), commands().end(),
                                  [&](const TCommand &c) { return command == QLatin1StringView(c.name); });

  if (parser.isSet(QStringLiteral("version"))) {
    print(QStringLiteral("qx5200-ctl %1\n").arg(QCoreApplication::applicationVersion()));
    return exit_done;
  }
  if (parser.isSet(QStringLiteral("help"))) {
    if (found == commands().end()) {
      print(general_help());
      return exit_done;
    }
    // The command's own help: its options beside the common ones.
    QCommandLineParser own;
    own.setApplicationDescription(QString::fromLatin1(found->summary));
    for (const QCommandLineOption &option : options)
      if (is_global(option.names().last()) || found->options.contains(option.names().last()))
        own.addOption(option);
    QString text = own.helpText();
    // Qt's usage line does not know the command: written here instead.
    text = text.mid(text.indexOf(u'\n'));
    print(QStringLiteral("Usage: qx5200-ctl [options] %1 %2")
              .arg(QString::fromLatin1(found->name), QString::fromLatin1(found->arguments))
              .trimmed() +
          text);
    return exit_done;
  }
  if (command.isEmpty())
    return fail(exit_usage, QStringLiteral("no command given (see qx5200-ctl --help)"));
  if (found == commands().end())
    return fail(exit_usage, QStringLiteral("'%1' is not a command (see qx5200-ctl --help)").arg(command));
  for (const QString &name : parser.optionNames())
    if (!is_global(name) && !found->options.contains(name))
      return fail(
          exit_usage,
          QStringLiteral("--%1 is not an option of %2 (see qx5200-ctl %2 --help)").arg(name, command));

  TOptions o;
  o.json = parser.isSet(QStringLiteral("json"));
  o.simulate = parser.isSet(QStringLiteral("simulate"));
  TSimulateFaults faults;
  if (QString why; !faults.parse(fault_list, why))
    return fail(exit_usage, why);
  o.device = parser.value(QStringLiteral("device"));
  o.wait = parser.isSet(QStringLiteral("wait"));
  o.yes = parser.isSet(QStringLiteral("yes"));
  o.log = parser.value(QStringLiteral("log"));
  o.keep_running = parser.isSet(QStringLiteral("keep-running"));
  if (parser.isSet(QStringLiteral("output")))
    o.output = parser.value(QStringLiteral("output"));
  for (const char *name : {"log", "output"})
    if (parser.isSet(QString::fromLatin1(name)) && parser.value(QString::fromLatin1(name)).isEmpty())
      return fail(
          exit_usage,
          QStringLiteral("--%1: no FILE given (an empty path names no file)").arg(QString::fromLatin1(name)));
  o.format = parser.value(QStringLiteral("format"));
  o.separator = parser.value(QStringLiteral("separator"));
  o.decimal = parser.value(QStringLiteral("decimal"));
  if (!o.separator.isEmpty()) {
    QChar separator;
    if (!parse_separator(o.separator, separator))
      return fail(exit_usage,
                  QStringLiteral("--separator: '%1' is not %2").arg(o.separator, separator_choices()));
  }
  bool ok = false;
  o.repeat = parser.value(QStringLiteral("repeat")).toInt(&ok);
  if (!ok || o.repeat < 0 || o.repeat > 65535)
    return fail(exit_usage, QStringLiteral("--repeat: '%1' is not a whole number from 0 to 65535")
                                .arg(parser.value(QStringLiteral("repeat"))));
  o.interval = parser.value(QStringLiteral("interval")).toInt(&ok);
  if (!ok || o.interval < 10 || o.interval > 3600000)
    return fail(exit_usage,
                QStringLiteral("--interval: '%1' is not a whole number of milliseconds from 10 to 3600000")
                    .arg(parser.value(QStringLiteral("interval"))));
  for (auto [name, value] : {std::pair{"timeout", &o.timeout}, std::pair{"duration", &o.duration}}) {
    const QString option = QString::fromLatin1(name);
    if (parser.isSet(option) && !positive_seconds(parser.value(option), *value))
      return fail(exit_usage, QStringLiteral("--%1: '%2' is not a number of seconds from 0 to 10000000")
                                  .arg(option, parser.value(option)));
  }
  if (parser.isSet(QStringLiteral("timeout")) && !o.wait && o.log.isEmpty())
    return fail(exit_usage, QStringLiteral("--timeout goes with --wait"));

  QString reason;
  if (!read_formula_options(parser, o.formula, reason))
    return fail(exit_usage, reason);
  const bool takes_file = (command == u"upload" || command == u"run") && !o.formula.given;
  const QString sub = command == u"board" && !args.isEmpty() ? args.takeFirst() : QString();
  const qsizetype wanted = takes_file || sub == u"write" ? 1 : 0;
  if (command == u"board" && sub != u"read" && sub != u"write")
    return fail(exit_usage, QStringLiteral("board takes read or write FILE.json"));
  if (args.size() != wanted)
    return fail(exit_usage, args.size() < wanted
                                ? QStringLiteral("%1: no FILE given").arg(command)
                                : QStringLiteral("%1: unexpected '%2'").arg(command, args.last()));

  // Every controller gets a back end of its own: on the system's devices, or on one virtual bus.
  std::unique_ptr<TVirtualQX5200Device> simulated;
  THidBackendFactory backends = [] { return std::make_unique<THidBackendLinux>(); };
  if (o.simulate) {
    simulated = std::make_unique<TVirtualQX5200Device>(VirtualHidBus::create());
    backends = [bus = simulated->bus()] { return bus->make_backend(); };
    faults.apply(*simulated);
  }

  if (command == u"serve")
    return ctl_serve({parser.value(QStringLiteral("listen")), o.device, o.log}, std::move(backends));
  TCtl ctl(o, std::move(backends));
  const int code = [&] {
    if (command == u"list")
      return ctl.list();
    if (command == u"status")
      return ctl.status();
    if (command == u"upload")
      return ctl.upload(args.value(0));
    if (command == u"start")
      return ctl.start();
    if (command == u"stop")
      return ctl.stop();
    if (command == u"run")
      return ctl.run(args.value(0));
    if (command == u"log")
      return ctl.log();
    return sub == u"read" ? ctl.board_read() : ctl.board_write(args.front());
  }();
  print_held_result();
  return code;
}
