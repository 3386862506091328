// qx5200-ctl run as separate processes against --simulate: each command's output and exit
// status, the device lock between two processes, and the log file after SIGTERM and SIGKILL.
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

constexpr int ceiling_ms = 60000; // only a hang takes this long

QProcessEnvironment environment(const QTemporaryDir &dir) {
  // Lock files of their own, so nothing else on the machine holds the virtual device.
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
  return env;
}

void start(QProcess &p, const QTemporaryDir &dir, const QStringList &args) {
  p.setProcessEnvironment(environment(dir));
  p.setWorkingDirectory(dir.path());
  p.start(QStringLiteral(QX5200_CTL), QStringList{QStringLiteral("--simulate")} + args);
}

struct Run {
  int exit_code = -1;
  QString out, err;
};

Run run(const QTemporaryDir &dir, const QStringList &args) {
  QProcess p;
  start(p, dir, args);
  Run r;
  if (!p.waitForFinished(ceiling_ms) || p.exitStatus() != QProcess::NormalExit)
    return r;
  return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
          QString::fromUtf8(p.readAllStandardError())};
}

void write(const QTemporaryDir &dir, const QString &name, const QByteArray &text) {
  QFile f(dir.filePath(name));
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(text);
}

// Complete CSV rows of a log file (the header excluded) and whether a partial row ends it.
QStringList complete_rows(const QString &path, bool &partial_tail) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly))
    return {};
  const QString text = QString::fromUtf8(f.readAll());
  partial_tail = !text.isEmpty() && !text.endsWith(u'\n');
  QStringList lines = text.split(u'\n');
  lines.removeLast(); // the part after the last newline
  if (!lines.isEmpty() && lines.front().startsWith(u"time,"))
    lines.removeFirst();
  return lines;
}

} // namespace

class TestQx5200Ctl : public QObject {
  Q_OBJECT
private slots:
  void initTestCase();
  void commands_data();
  void commands();
  void lock_and_log_end_data();
  void lock_and_log_end();

private:
  QTemporaryDir dir;
};

void TestQx5200Ctl::initTestCase() {
  QVERIFY(dir.isValid());
  write(dir, "good.txt", "t\tv\n0\t0\n1e-3\t0.5\n2e-3\t0\n");
  // About 5 A from LB1 at its 12 V sensor: beyond its 50 W average once repeated.
  write(dir, "power.txt", "t\tv\n0\t5\n1e-3\t5.5\n2e-3\t5\n");
  write(dir, "good.csv", "t,v\n0,0\n1e-3,0.5\n2e-3,0\n");
  write(dir, "board.json", R"({"gain": 50, "name": "LB9"})");
  write(dir, "same.json", R"({"gain": 100})");
  write(dir, "wide.json", R"({"max_value": 300})");
  write(dir, "unknown.json", R"({"colour": 1})");
}

void TestQx5200Ctl::commands_data() {
  QTest::addColumn<QStringList>("args");
  QTest::addColumn<int>("exit_code");
  QTest::addColumn<QString>("out"); // a regular expression stdout must match
  QTest::addColumn<QString>("err"); // and one for stderr

  auto row = [](const char *name, const QStringList &args, int code, const char *out, const char *err = "") {
    QTest::newRow(name) << args << code << QString::fromUtf8(out) << QString::fromUtf8(err);
  };
  row("list", {"list", "--json"}, 0,
      R"(^\{"devices":\[\{"access":"ok","path":"virtual:hid\d+","serial":5200\}\]\}\n$)");
  row("status", {"status"}, 0,
      "Serial: 5200\nFirmware: 2.15\n.*Load board: present\n  name: LB1\n.*Running: no\n");
  row("status json", {"status", "--json"}, 0,
      R"("board":\{[^}]*"gain":100,[^}]*"name":"LB1".*"running":false.*"serial":5200.*"usb_voltage":4.98)");
  // Nothing uploaded for this board yet: words of unknown origin are not started.
  row("start before any upload", {"start"}, 7, "^$", "holds no waveform that qx5200-ctl uploaded");
  row("upload pwl", {"upload", "--format", "pwl", "good.txt"}, 2, "^$", "good.txt: Line 1");
  row("upload", {"upload", "good.txt"}, 0,
      "Data Points : \\d+\n.*Error : None\nUploaded \\d+ words to QX5200 5200");
  row("upload csv", {"upload", "--json", "good.csv"}, 0, R"("data_error":false.*"uploaded":true)");
  row("upload power", {"upload", "--repeat", "2", "power.txt"}, 1, "Error : Max Power\n$",
      "power.txt: Maximum Power Exceeded for load board LB1: nothing was sent");
  row("upload power json", {"upload", "--repeat", "2", "--json", "power.txt"}, 1,
      R"("error":"Max Power".*"uploaded":false)");
  row("upload missing", {"upload", "none.txt"}, 2, "^$", "none.txt: No such file");
  row("upload formula", {"upload", "--json", "--formula", "2*square(t, 1m, 0.5)", "--span", "0:2m"}, 0,
      R"("formula":\{"accuracy":0\.1,[^}]*"jumps":4,.*"points":\[\[0,2\],\[5e-04,2\],\[5e-04,0\],)"
      R"(\[0\.001,0\],\[0\.001,2\],.*"uploaded":true)");
  row("run formula syntax", {"run", "--formula", "sin(t", "--span", "0:1m"}, 2, "^$",
      "Missing parenthesis \\(at character 6\\)");
  row("upload bad separator", {"upload", "--separator", "pipe", "good.txt"}, 2, "^$",
      "'pipe' is not tab, comma, space or semicolon");
  row("run wait", {"run", "--wait", "--json", "good.txt"}, 0,
      R"("ended":true.*"started":true.*"uploaded":true)");
  row("run log", {"run", "--log", "run.csv", "--interval", "10", "good.txt"}, 0, "Run ended.\n$");
  row("run until stopped", {"run", "--repeat", "0", "--json", "good.txt"}, 0,
      R"("running":true,"started":true)");
  row("start", {"start", "--json"}, 0, R"(^\{"running":(true|false),"started":true\}\n$)");
  row("stop", {"stop"}, 0, "^Stopped.\n$");
  row("log csv", {"log", "--duration", "0.05", "--interval", "10"}, 0,
      "^time,seconds,running,sensor_value,sensor_units,temperature,over_temperature,board_present\n"
      "\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z,0\\.\\d{3},0,12\\.\\d+,V,2[45]\\.\\d+,0,1\n");
  row("log json", {"log", "--json", "--duration", "0", "--interval", "10"}, 0,
      R"(^\{"time":"[^"]+Z","seconds":0\.\d{3},"running":false,"sensor_value":12\.\d+,"sensor_units":"V",)"
      R"("temperature":2[45]\.\d+,"over_temperature":false,"board_present":true\}\n$)");
  row("board read", {"board", "read", "--json"}, 0, R"("gain":100,.*"max_value":\d+,.*"name":"LB1")");
  row("board write without yes", {"board", "write", "board.json"}, 0, "^name: LB1 -> LB9\ngain: 100 -> 50\n$",
      "not written: run again with --yes");
  row("board write", {"board", "write", "--yes", "board.json"}, 0,
      "name: LB1 -> LB9\ngain: 100 -> 50\nWritten and read back.\n$", "^$");
  row("board write no change", {"board", "write", "--yes", "same.json"}, 0, "^No field changes.\n$", "^$");
  row("board write max_value", {"board", "write", "--yes", "wide.json"}, 2, "^$",
      "max_value is a whole number from 0 to 255");
  row("board write unknown field", {"board", "write", "unknown.json"}, 2, "^$",
      "unknown load board field 'colour'");
  row("board without verb", {"board"}, 2, "^$", "board takes read or write");
  row("other device", {"--device", "/dev/none", "status"}, 3, "^$", "no QX5200 at /dev/none");
  row("no command", {}, 2, "^$", "no command given");
  row("not a command", {"play"}, 2, "^$", "'play' is not a command");
  row("option of another command", {"stop", "--wait"}, 2, "^$", "--wait is not an option of stop");
  row("timeout without wait", {"start", "--timeout", "1"}, 2, "^$", "--timeout goes with --wait");
  row("interval too short", {"log", "--interval", "1"}, 2, "^$", "--interval: '1'");
  row("no file", {"run"}, 2, "^$", "run: no FILE given");
  row("command help", {"upload", "--help"}, 0, "--repeat.*--format.*--separator", "^$");
  row("help", {"--help"}, 0, "Exit status: 0 done, 1 waveform data error");
}

void TestQx5200Ctl::commands() {
  QFETCH(QStringList, args);
  QFETCH(int, exit_code);
  QFETCH(QString, out);
  QFETCH(QString, err);
  const Run r = run(dir, args);
  QCOMPARE(r.exit_code, exit_code);
  const QRegularExpression out_re(out, QRegularExpression::DotMatchesEverythingOption);
  const QRegularExpression err_re(err, QRegularExpression::DotMatchesEverythingOption);
  QVERIFY2(out_re.match(r.out).hasMatch(), qPrintable(r.out));
  QVERIFY2(err_re.match(r.err).hasMatch(), qPrintable(r.err));
  // --help of upload leaves out what upload does not take.
  if (args.contains(QStringLiteral("--help")) && args.size() == 2)
    QVERIFY(!r.out.contains(QStringLiteral("--duration")));
}

void TestQx5200Ctl::lock_and_log_end_data() {
  QTest::addColumn<int>("signal");
  QTest::newRow("SIGTERM") << int(SIGTERM);
  QTest::newRow("SIGKILL") << int(SIGKILL);
}

// A log runs in one process; a second one is refused with the holder's name until the first has
// ended, however it ended; the log keeps every row the first one finished.
void TestQx5200Ctl::lock_and_log_end() {
  QFETCH(int, signal);
  const QString path = dir.filePath(QStringLiteral("log-%1.csv").arg(signal));
  QProcess holder;
  start(holder, dir, {"log", "--interval", "10", "--output", path});
  QVERIFY(holder.waitForStarted(ceiling_ms));
  bool partial = false;
  QTRY_VERIFY_WITH_TIMEOUT(complete_rows(path, partial).size() >= 3, ceiling_ms);

  const Run refused = run(dir, {"status"});
  QCOMPARE(refused.exit_code, 5);
  QVERIFY2(refused.err.contains(
               QStringLiteral("QX5200 5200 is in use by qx5200-ctl (pid %1)").arg(holder.processId())),
           qPrintable(refused.err));

  const qsizetype seen = complete_rows(path, partial).size();
  QCOMPARE(::kill(pid_t(holder.processId()), signal), 0);
  QVERIFY(holder.waitForFinished(ceiling_ms));
  if (signal == SIGTERM) {
    QCOMPARE(holder.exitStatus(), QProcess::NormalExit);
    QCOMPARE(holder.exitCode(), 0);
  }
  const QStringList rows = complete_rows(path, partial);
  QVERIFY(rows.size() >= seen);
  if (signal == SIGTERM)
    QVERIFY(!partial);
  const QRegularExpression row_re(QStringLiteral(R"(^[0-9T:.Z-]+,\d+\.\d{3},0,12\.\d+,V,2[45]\.\d+,0,1$)"));
  for (const QString &row : rows)
    QVERIFY2(row_re.match(row).hasMatch(), qPrintable(row));

  QCOMPARE(run(dir, {"status"}).exit_code, 0);
}

QTEST_GUILESS_MAIN(TestQx5200Ctl)
#include "test_qx5200_ctl.moc"
