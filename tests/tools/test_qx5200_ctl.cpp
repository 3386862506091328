// qx5200-ctl run as separate processes against --simulate: each command's output and exit
// status, two processes each with a virtual device of its own, and the log file after SIGTERM and
// SIGKILL.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include "../full_disk.h"

#include <csignal>

namespace {

constexpr int ceiling_ms = 60000; // only a hang takes this long
const char *const header =
    "time,seconds,running,sensor_value,sensor_units,temperature,over_temperature,board_present\n";

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

// A SCPI client of `serve`: what it sends, and the answer lines it has received.
struct Client {
  QTcpSocket socket;
  QByteArray got;
  bool open(quint16 port) {
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    return socket.waitForConnected(ceiling_ms);
  }
  // The first n answer lines, once they are all there.
  QString lines(int n) {
    QElapsedTimer t;
    t.start();
    while (got.count('\n') < n && t.elapsed() < ceiling_ms &&
           socket.state() == QAbstractSocket::ConnectedState) {
      socket.waitForReadyRead(100);
      got += socket.readAll();
    }
    return QString::fromUtf8(got);
  }
};

// `serve --simulate` on a free port, in a runtime folder of its own; the port it printed.
quint16 start_server(QProcess &p, const QTemporaryDir &dir, const QStringList &more = {}) {
  start(p, dir, QStringList{"serve", "--listen", "127.0.0.1:0"} + more);
  QElapsedTimer t;
  t.start();
  while (!p.canReadLine() && t.elapsed() < ceiling_ms && p.state() != QProcess::NotRunning)
    p.waitForReadyRead(100);
  const QRegularExpression re(
      QStringLiteral(R"(^Serving QX5200 5200 on 127\.0\.0\.1:(\d+) and .*\.sock\n$)"));
  const auto m = re.match(QString::fromUtf8(p.readLine()));
  return m.hasMatch() ? quint16(m.captured(1).toUInt()) : 0;
}

QByteArray block(const QByteArray &text) {
  const QByteArray n = QByteArray::number(text.size());
  return '#' + QByteArray::number(n.size()) + n + text;
}

} // namespace

class TestQx5200Ctl : public QObject {
  Q_OBJECT
private slots:
  void initTestCase();
  void commands_data();
  void commands();
  void logs_data();
  void logs();
  void run_ends_data();
  void run_ends();
  void json_for_scripts();
  void lock_and_log_end_data();
  void lock_and_log_end();
  void serve_data();
  void serve();
  void serve_clients();
  void holder_stop();

private:
  QTemporaryDir dir;
  QTemporaryDir serve_dir; // the server's device lock is its own
  QProcess server;
  quint16 port = 0;
};

void TestQx5200Ctl::initTestCase() {
  QVERIFY(dir.isValid());
  write(dir, "good.txt", "t\tv\n0\t0\n1e-3\t0.5\n2e-3\t0\n");
  // About 5 A from LB1 at its 12 V sensor: beyond its 50 W average once repeated.
  write(dir, "power.txt", "t\tv\n0\t5\n1e-3\t5.5\n2e-3\t5\n");
  write(dir, "good.csv", "t,v\n0,0\n1e-3,0.5\n2e-3,0\n");
  write(dir, "board.json", R"({"gain": 50, "name": "LB9", "return_to_zero": true})");
  write(dir, "same.json", R"({"gain": 100})");
  write(dir, "wide.json", R"({"max_value": 300})");
  write(dir, "unknown.json", R"({"colour": 1})");
  write(dir, "unsafe.json",
        R"({"gain": 0, "sensor_gain": 1e-45, "offset": 1e39, "max_temp": -300, "max_power": "50",)"
        R"( "max_p2t": true, "name": 123, "units": "A", "units": "V", "monitor_gain": 1.23456})");
  write(dir, "single.json", R"({"gain": 0.1})");
  write(dir, "append after a cut-off line", QByteArray(header) + "2026-12-09T03:31");
  write(dir, "comma.csv", "t;v\n0;0\n0,001;0,5\n0,002;0\n");
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
  // None found is an answer, not a failure.
  row("list none", {"--simulate=unplug-after=0", "list", "--json"}, 0, R"(^\{"devices":\[\]\}\n$)");
  row("list none text", {"--simulate=unplug-after=0", "list"}, 0, "^No QX5200 found.\n$");
  row("status", {"status"}, 0,
      "USB voltage: 4.98 V\nSerial: 5200\nFirmware: 2.15\n.*Load board: present\n  name: LB1\n.*"
      "return_to_zero: no\n.*Temperature: 2[45]\\.\\d+ °C\n.*Running: no\n");
  row("status json", {"status", "--json"}, 0,
      R"("board":\{[^}]*"gain":100,[^}]*"name":"LB1",[^}]*"return_to_zero":false,.*"ad_gain":0\.0007324219,)"
      R"(.*"running":false.*"serial":5200.*"units":\{"sensor_value":"V","temperature":"°C","usb_voltage":"V"\},)"
      R"("usb_voltage":4\.98\}\n$)");
  // Every process has a virtual device of its own, which holds no waveform when it starts.
  row("start in a new process", {"start"}, 7, "^$", "the virtual QX5200 of this process holds no waveform");
  row("fault no board", {"--simulate=no-board", "run", "good.txt"}, 7, "^$", "has no load board");
  row("fault over temperature", {"--simulate=over-temperature", "run", "good.txt"}, 7, "^$",
      "is over temperature");
  row("fault no reply", {"--simulate=no-reply-after=12", "run", "good.txt"}, 6, ".*", "stopped answering");
  row("fault unplugged", {"--simulate=unplug-after=0.5", "run", "--repeat", "0", "--wait", "good.txt"}, 6,
      ".*", "stopped answering");
  row("fault unknown", {"--simulate=no-board,hot", "status"}, 2, "^$", "'hot' is not one of no-board");
  row("upload pwl", {"upload", "--format", "pwl", "good.txt"}, 2, "^$", "good.txt: Line 1");
  row("upload", {"upload", "good.txt"}, 0,
      "Data Points : \\d+\n.*Error : None\nUploaded \\d+ words to QX5200 5200");
  row("upload csv", {"upload", "--json", "good.csv"}, 0,
      R"(^\{"board":\{[^}]*"name":"LB1".*"data_error":false.*"repeat":1,.*"uploaded":true)");
  row("upload decimal comma",
      {"upload", "--json", "--separator", "semicolon", "--decimal", "comma", "comma.csv"}, 0,
      R"("data_count":3,.*"decimal":"comma",.*"other_decimal":null,.*"uploaded":true)");
  row("upload other decimal", {"upload", "--separator", "semicolon", "--decimal", "point", "comma.csv"}, 1,
      "Error : No Data\n.*No Data with \".\" as decimal separator: the file's numbers read with --decimal "
      "comma\n$");
  row("upload decimal with comma fields", {"upload", "--decimal", "comma", "comma.csv"}, 2, "^$",
      "the fields are separated by commas too");
  row("upload power", {"upload", "--repeat", "2", "power.txt"}, 1, "Error : Max Power\n$",
      "power.txt: Maximum Power Exceeded for load board LB1: nothing was sent");
  row("upload power json", {"upload", "--repeat", "2", "--json", "power.txt"}, 1,
      R"("error_text":"Max Power".*"uploaded":false)");
  row("upload missing", {"upload", "none.txt"}, 2, "^$", "none.txt: No such file");
  row("upload formula", {"upload", "--json", "--formula", "2*square(t, 1m, 0.5)", "--span", "0:2m"}, 0,
      R"("formula":\{"accuracy":0\.1,[^}]*"jumps":4,.*"points":\[\[0,2\],\[5e-04,2\],\[5e-04,0\],)"
      R"(\[0\.001,0\],\[0\.001,2\],.*"uploaded":true)");
  row("run formula syntax", {"run", "--formula", "sin(t", "--span", "0:1m"}, 2, "^$",
      "Missing parenthesis \\(at character 6\\)");
  row("upload bad separator", {"upload", "--separator", "pipe", "good.txt"}, 2, "^$",
      "'pipe' is not tab, comma, space or semicolon");
  row("run wait", {"run", "--wait", "--json", "good.txt"}, 0,
      R"("duration_s":0\.\d+,"end_reason":"completed","ended":true.*"output":"stopped".*"started":true.*"uploaded":true)");
  row("run log", {"run", "--log", "run.csv", "--interval", "10", "good.txt"}, 0,
      "\nStarted.\nRun completed after 0\\.\\d{3} s.\n$");
  row("run log empty path", {"run", "--log", "", "good.txt"}, 2, "^$", "--log: no FILE given");
  row("run log unopenable", {"run", "--log", "nodir/x.csv", "good.txt"}, 2, "^$",
      "cannot open nodir/x.csv: No such file or directory: nothing was sent");
  row("json error", {"--json", "--simulate=no-board", "run", "good.txt"}, 7,
      R"(^\{"error":\{"code":7,"kind":"not_possible","message":"QX5200 5200 has no load board: [^"]+"\}\}\n$)");
  row("run timeout", {"run", "--json", "--repeat", "0", "--wait", "--timeout", "0.1", "good.txt"}, 7,
      R"("end_reason":"timeout","ended":false,"error":\{"code":7,"kind":"not_possible".*"output":"running")");
  row("run over temperature",
      {"--simulate=over-temperature=0.1", "run", "--json", "--repeat", "0", "--wait", "good.txt"}, 7,
      R"("end_reason":"over_temperature","ended":true,.*"kind":"not_possible".*is over temperature)");
  row("run until stopped", {"run", "--repeat", "0", "--json", "good.txt"}, 0,
      R"("running":true,"started":true)");
  row("stop", {"stop"}, 0, "^Stopped.\n$");
  row("log csv", {"log", "--duration", "0.05", "--interval", "10"}, 0,
      "^time,seconds,running,sensor_value,sensor_units,temperature,over_temperature,board_present\n"
      "\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z,0\\.\\d{3},0,12\\.\\d+,V,2[45]\\.\\d+,0,1\n");
  row("log json", {"log", "--json", "--duration", "0", "--interval", "10"}, 0,
      R"(^\{"time":"[^"]+Z","seconds":0\.\d{3},"running":false,"sensor_value":12\.\d+,"sensor_units":"V",)"
      R"("temperature":2[45]\.\d+,"over_temperature":false,"board_present":true\}\n$)");
  row("board read", {"board", "read", "--json"}, 0, R"("gain":100,.*"max_value":\d+,.*"name":"LB1")");
  row("board write without yes", {"board", "write", "board.json"}, 10,
      "^name: LB1 -> LB9\ngain: 100 -> 50\nreturn_to_zero: no -> yes\n$",
      "not written: run again with --yes");
  row("board write", {"board", "write", "--yes", "board.json"}, 0,
      "name: LB1 -> LB9\ngain: 100 -> 50\nreturn_to_zero: no -> yes\nWritten and read back.\n$", "^$");
  row("board write no change", {"board", "write", "--yes", "same.json"}, 0, "^No field changes.\n$", "^$");
  row("board write max_value", {"board", "write", "--yes", "wide.json"}, 2, "^$",
      "max_value is a whole number from 0 to 255");
  row("board write unsafe", {"board", "write", "--yes", "unsafe.json"}, 2, "^$",
      "nothing was written: units is given more than once; gain cannot be 0.*max_p2t is a number, not true; "
      "max_power is a number, not the text \"50\"; max_temp cannot be negative.*monitor_gain takes at most 5 "
      "digits.*name is a text, not 123; offset is at most 1000000.*sensor_gain takes at most 5 digits");
  row("board write single", {"board", "write", "--yes", "single.json"}, 0,
      "^gain: 100 -> 0.099999994 \\(0.1 asked: the record keeps a single, truncated\\)\nWritten and read "
      "back");
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
  row("help", {"--help"}, 0,
      "Exit status .*\n  1   waveform data error.*\n  11  a log row could not be written");
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

// As a bench's Python reads it: strictly (no NaN, Infinity or number beyond a double), and a
// command's result has the same keys whether it succeeded or not.
void TestQx5200Ctl::json_for_scripts() {
  const char *strict = "import json, math, sys\n"
                       "def num(s):\n"
                       "    f = float(s)\n"
                       "    return f if math.isfinite(f) else sys.exit('out of range: ' + s)\n"
                       "o = json.loads(sys.stdin.read(), parse_float=num, parse_int=num,\n"
                       "               parse_constant=lambda c: sys.exit('not JSON: ' + c))\n"
                       "print(sorted(o), o.get('statistics', {}).get('out_of_range'))\n";
  auto keys = [&](const char *program, const QStringList &args) {
    QProcess p, python;
    p.setProcessEnvironment(environment(dir));
    p.setWorkingDirectory(dir.path());
    p.setStandardOutputProcess(&python);
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QLatin1StringView(strict)});
    p.start(QLatin1StringView(program), args);
    python.waitForFinished(ceiling_ms);
    p.waitForFinished(ceiling_ms);
    return python.exitCode() == 0 ? QString::fromUtf8(python.readAllStandardOutput())
                                  : QString::fromUtf8(python.readAllStandardError());
  };
  const QStringList sim{"--simulate", "--json"};
  for (const QStringList &command : {QStringList{"upload"}, QStringList{"run"}, QStringList{"run", "--wait"}})
    QCOMPARE(keys(QX5200_CTL, sim + command + QStringList{"--repeat", "2", "power.txt"}),
             keys(QX5200_CTL, sim + command + QStringList{"good.txt"}));
  for (const QStringList &args : {QStringList{"status"}, QStringList{"board", "read"}})
    QVERIFY(keys(QX5200_CTL, sim + args).endsWith(QStringLiteral("None\n")));
  // The P2t of a huge sensor value (its power squared) is no double: null, and named.
  QVERIFY(keys(QX5200_WAVE, {"--json", "--sensor", "1e300", "--board", "gain=10,max_value=5", "good.txt"})
              .endsWith(QStringLiteral("['p2t']\n")));
}

void TestQx5200Ctl::lock_and_log_end_data() {
  QTest::addColumn<int>("signal");
  QTest::newRow("SIGTERM") << int(SIGTERM);
  QTest::newRow("SIGKILL") << int(SIGKILL);
}

// A log runs in one process while a second --simulate process works undisturbed; the log keeps
// every row the first one finished, however it ended.
void TestQx5200Ctl::lock_and_log_end() {
  QFETCH(int, signal);
  const QString path = dir.filePath(QStringLiteral("log-%1.csv").arg(signal));
  QProcess holder;
  start(holder, dir, {"log", "--interval", "10", "--output", path});
  QVERIFY(holder.waitForStarted(ceiling_ms));
  bool partial = false;
  QTRY_VERIFY_WITH_TIMEOUT(complete_rows(path, partial).size() >= 3, ceiling_ms);

  // Another --simulate process has a virtual device of its own.
  const Run status = run(dir, {"status"});
  QCOMPARE(status.exit_code, 0);
  QVERIFY2(status.out.contains(QStringLiteral("Serial: 5200\n")), qPrintable(status.err));

  const qsizetype seen = complete_rows(path, partial).size();
  QCOMPARE(::kill(pid_t(holder.processId()), signal), 0);
  QVERIFY(holder.waitForFinished(ceiling_ms));
  if (signal == SIGTERM) {
    QCOMPARE(holder.exitStatus(), QProcess::NormalExit);
    QCOMPARE(holder.exitCode(), 0);
  }
  const QStringList rows = complete_rows(path, partial);
  QVERIFY(rows.size() >= seen);
  if (signal == SIGTERM) // complete, and its ending said
    QVERIFY(!partial && holder.readAllStandardError().contains("log ended by SIGTERM after"));
  const QRegularExpression row_re(QStringLiteral(R"(^[0-9T:.Z-]+,\d+\.\d{3},0,12\.\d+,V,2[45]\.\d+,0,1$)"));
  for (const QString &row : rows)
    QVERIFY2(row_re.match(row).hasMatch(), qPrintable(row));

  QCOMPARE(run(dir, {"status"}).exit_code, 0);
}

void TestQx5200Ctl::serve_data() {
  QTest::addColumn<QByteArray>("send");
  QTest::addColumn<int>("lines");
  QTest::addColumn<QString>("answer"); // a regular expression for what came back
  auto row = [](const char *name, const QByteArray &send, int lines, const char *answer) {
    QTest::newRow(name) << send << lines << QString::fromUtf8(answer);
  };
  const QByteArray pulse = "WAV:DATA 0,0,1e-3,0.5,2e-3,0\n";
  row("identity, any case, long and short", "*idn?\nsystem:error:next?;:syst:err?\n", 2,
      R"(^QUOR LABS,QX5200,5200,2\.15\n0,"No error";0,"No error"\n$)");
  row("status bytes", "FOO\n*ESR?\n*STB?\n*CLS\n*STB?;*ESR?\n", 3, "^32\n4\n0;0\n$");
  row("error queue",
      "OUTP MAYBE\nWAV:REP 70000\n*IDN? 1\nWAV:DATA 0,0,1\nWAV:DATA #0ab\nWAV:REP 1XYZ\n"
      "WAV:DATA 1,2\nOUTP,1\nSYST:ERR:COUN?\nSYST:ERR?;ERR?;ERR?;ERR?;ERR?;ERR?;ERR?;ERR?;ERR?\n",
      2,
      R"(^8\n-224,"Illegal parameter value;ON, OFF, 1 or 0";-222,"Data out of range;0 to 65535";)"
      R"(-108,"Parameter not allowed;\*IDN\?";-109,"Missing parameter;a time without its value";)"
      R"(-161,"Invalid block data;[^"]+";-131,"Invalid suffix;'1XYZ'";-222,"Data out of range;No Data";)"
      R"(-102,"Syntax error;[^"]+";0,"No error"\n$)");
  row("points and figures", pulse + "WAV:POIN?;ERR?;REP?\nWAV:VAL?\nWAV:STAT?\nOUTP:COND?\n", 4,
      R"(^3;0,0,0,"None";1\n\{"data_count":3,"data_error":false,"error_type":0,"error_index":0,"error_text":"None",)"
      R"("buffer_count":\d+,"statistics":\{"sampled_data_count":(\d+),"max_value":0\.5,.*"max_time":[0-9.e-]+,)"
      R"("units":\{"max_value":"A",.*"max_dy_dx":"A/s",.*\},"out_of_range":\[\]\}\}\n)"
      R"(\1,0\.5(,[-0-9.e]+){14}\nREADY\n$)");
  row("SI suffixes", "WAV:DATA 0,0,1MS,500M,2ms,0\nWAV:DATA?\n", 1, "^0,0,0\\.001,0\\.5,0\\.002,0\n$");
  row("table block", "WAV:SEP COMM;DATA " + block("t,v\n0,0\n1e-3,0.5\n2e-3,0\n") + ";:WAV:POIN?;SEP?\n", 1,
      "^3;COMM\n$");
  row("PWL block", "WAV:FORM PWL;DATA " + block("PWL(0 0\n+ 1m 0.5\n+ 2m 0)") + ";:WAV:DATA?;FORM?\n", 1,
      "^0,0,0\\.001,0\\.5,0\\.002,0;PWL\n$");
  row("bad PWL block", "WAV:FORM PWL;DATA " + block("0 0 1m") + "\nWAV:POIN?;:SYST:ERR?\n", 1,
      R"(^3;-200,"Execution error;[^"]+"\n$)");
  row("over the power limit", "WAV:DATA 0,5,1e-3,5.5,2e-3,5;REP 2\nOUTP ON\nOUTP:COND?;:SYST:ERR?;ERR?\n", 1,
      R"(^DATAERROR;-221,"Settings conflict;Maximum Power Exceeded for load board LB1";-221,"Settings )"
      R"(conflict;Maximum Power Exceeded for load board LB1"\n$)");
  row("output", pulse + "WAV:REP 0\nOUTP ON\nOUTP?;:OUTP:COND?\nOUTP OFF\nOUTP:STAT?;:SYST:ERR?\n", 2,
      R"(^1;RUNNING\n0;0,"No error"\n$)");
  row("measurements", "MEAS:SENS?;TEMP?;OTEM?;VOLT:USB?\n", 1, R"(^12\.\d+;2[45]\.\d+;0;4\.98\d*\n$)");
  row("board", "BOAR:PRES?;REC?\nSTAT:DEV?\n", 2,
      R"(^1;\{"gain":100,.*"name":"LB1".*\}\n\{"board":\{.*"running":false,"sensor_units":"V".*"serial":5200,.*\}\n$)");
  row("board is read only", "BOAR:REC 1\nSYST:ERR?\n", 1,
      R"(^-113,"Undefined header;BOAR:REC has no )"
      R"(setting form|^-113,"Undefined header;BOAR:REC is a query only")");
  row("reset", pulse + "WAV:REP 3;FORM PWL\n*RST\nWAV:POIN?;REP?;FORM?;SEP?\n", 1, "^0;1;TABL;TAB\n$");
  row("oversize line", QByteArray(70000, 'A') + "\n*IDN?\nSYST:ERR?\n", 2,
      R"(^QUOR LABS,QX5200.*\n-223,"Too much data;a line holds at most 65536 bytes and a block 4194304"\n$)");
  row("oversize block", "*RST\nWAV:DATA " + block(QByteArray(5000000, '\n')) + "\nSYST:ERR?\nWAV:POIN?\n", 2,
      R"(^-223,"Too much data;[^"]+"\n0\n$)");
}

void TestQx5200Ctl::serve() {
  QFETCH(QByteArray, send);
  QFETCH(int, lines);
  QFETCH(QString, answer);
  if (!port) {
    QVERIFY(serve_dir.isValid());
    port = start_server(server, serve_dir);
    QVERIFY(port);
  }
  Client c;
  QVERIFY(c.open(port));
  c.socket.write(send);
  const QString got = c.lines(lines);
  QVERIFY2(QRegularExpression(answer, QRegularExpression::DotMatchesEverythingOption).match(got).hasMatch(),
           qPrintable(got.left(2000)));
}

// A run waiting in one process is stopped through its holder socket by another.
void TestQx5200Ctl::holder_stop() {
  QTemporaryDir own;
  QProcess holder;
  QProcess gone; // a reader of its output that is gone at once: writing there must not end the run
  holder.setStandardOutputProcess(&gone);
  start(holder, own, {"run", "--repeat", "0", "--wait", dir.filePath(QStringLiteral("good.txt"))});
  gone.start(QStringLiteral("true"));
  QString socket;
  QTRY_VERIFY_WITH_TIMEOUT(
      !(socket = QDir(own.path()).entryList({QStringLiteral("*.lock.sock")}, QDir::System).value(0))
           .isEmpty(),
      ceiling_ms);
  QLocalSocket s;
  s.connectToServer(own.filePath(socket));
  QVERIFY(s.waitForConnected(ceiling_ms));
  s.write("STAT:DEV?\nOUTP OFF;*OPC?\n");
  QByteArray got;
  QTRY_VERIFY_WITH_TIMEOUT((got += s.readAll()).count('\n') == 2, ceiling_ms);
  QVERIFY2(got.contains("\"running\":true") && got.endsWith("}\n1\n"), got.constData());
  // The holder's status is the object a status of its own prints.
  const QJsonObject direct = QJsonDocument::fromJson(run(dir, {"--json", "status"}).out.toUtf8()).object();
  QCOMPARE(QJsonDocument::fromJson(got.left(got.indexOf('\n'))).object().keys(), direct.keys());
  QVERIFY(got.contains("\"usb_voltage\":4.98}"));
  QTRY_COMPARE_WITH_TIMEOUT(holder.state(), QProcess::NotRunning, ceiling_ms);
  QCOMPARE(holder.exitCode(), 0);
  QVERIFY(
      QString::fromUtf8(holder.readAllStandardError())
          .contains(
              QStringLiteral("stopped by test_qx5200_ctl (pid %1)").arg(QCoreApplication::applicationPid())));
}

// Several clients, one going away mid-block, and the port and address checks of start-up.
void TestQx5200Ctl::serve_clients() {
  QVERIFY(port);
  Client a, b;
  QVERIFY(a.open(port) && b.open(port));
  a.socket.write("*RST\n*OPC?\nWAV:DATA #3100 0 0 1e-3 0.5");
  QCOMPARE(a.lines(1), QStringLiteral("1\n"));
  a.socket.abort();
  // Errors are each client's own; every query of each is answered, in order.
  b.socket.write("FOO\n");
  Client c;
  QVERIFY(c.open(port));
  QByteArray many_b, many_c;
  for (int i = 0; i < 200; ++i) {
    many_b += "WAV:POIN?\n";
    many_c += "*IDN?;:MEAS:SENS?\n";
  }
  b.socket.write(many_b);
  c.socket.write(many_c + "SYST:ERR?\n");
  const QStringList from_b = b.lines(200).split(u'\n');
  const QStringList from_c = c.lines(201).split(u'\n');
  QCOMPARE(from_b.count(QStringLiteral("0")), 200); // the abandoned block applied nothing
  QCOMPARE(from_c.filter(QRegularExpression(QStringLiteral("^QUOR LABS,QX5200,5200,2\\.15;12\\."))).size(),
           200);
  QCOMPARE(from_c.at(200), QStringLiteral("0,\"No error\""));

  // The port taken: a clear refusal, and the device untouched.
  QProcess second;
  start(second, dir, {"serve", "--listen", QStringLiteral("127.0.0.1:%1").arg(port)});
  QVERIFY(second.waitForFinished(ceiling_ms));
  QCOMPARE(second.exitCode(), 9);
  QVERIFY(QString::fromUtf8(second.readAllStandardError())
              .contains(QStringLiteral("cannot listen on 127.0.0.1:%1").arg(port)));

  QTemporaryDir wide_dir;
  QProcess wide;
  start(wide, wide_dir, {"serve", "--listen", "0.0.0.0:0"});
  QTRY_VERIFY_WITH_TIMEOUT(wide.canReadLine(), ceiling_ms);
  QByteArray warning;
  QTRY_VERIFY_WITH_TIMEOUT((warning += wide.readAllStandardError()).contains("SCPI has no authentication"),
                           ceiling_ms);
  for (QProcess *p : {&wide, &server}) {
    QCOMPARE(::kill(pid_t(p->processId()), SIGTERM), 0);
    QVERIFY(p->waitForFinished(ceiling_ms));
    QCOMPARE(p->exitCode(), 0);
  }
}

// The log file a command leaves (empty: none; HEADER and TIME stand for those), its rows on the
// grid of the interval (or of the one the link keeps) from the start, as written.
void TestQx5200Ctl::logs_data() {
  QTest::addColumn<QStringList>("args");
  QTest::addColumn<QString>("file");
  QTest::addColumn<QString>("err");
  auto row = [](const char *name, const QStringList &args, const char *file, const char *err = "") {
    QTest::newRow(name) << args << QString(file) << QString(err);
  };
  const QStringList log{"log", "--interval", "10", "--duration"};
  row("json lines to a file", log + QStringList{"0.2", "--json"},
      R"(^(\{"time":"TIME","seconds":\d\.\d{3},"running":false,[^\n]+\}\n)+$)");
  row("append after a cut-off line", log + QStringList{"0.1"},
      R"(^HEADER2026-12-09T03:31\n(TIME,0\.\d{3},0,12\.\d+,V,[\d.]+,0,1\n)+$)");
  row("no board", QStringList{"--simulate=no-board"} + log + QStringList{"0"},
      R"(^HEADERTIME,0\.000,0,,,,0,0\n$)");
  row("slow link", QStringList{"--simulate=latency=9"} + log + QStringList{"0.4"},
      R"(^HEADER(TIME,\d\.\d{3},0,12\.\d+,V,[\d.]+,0,1\n)+$)",
      R"(a status poll takes \d+\.\d ms on this link, so --interval 10 cannot be kept: one row every (\d+) ms)");
  row("run fails before the start", {"--simulate=no-board", "run", "good.txt", "--log"}, "");
}

void TestQx5200Ctl::logs() {
  QFETCH(QStringList, args);
  QFETCH(QString, file);
  QFETCH(QString, err);
  const QString path = dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
  const Run r =
      run(dir, args << (args.contains(QStringLiteral("run")) ? path : QStringLiteral("--output=") + path));
  const auto e = QRegularExpression(err).match(r.err);
  QVERIFY2(e.hasMatch(), qPrintable(r.err));
  QFile f(path);
  QCOMPARE(f.open(QIODevice::ReadOnly), !file.isEmpty());
  const QString text = f.isOpen() ? QString::fromUtf8(f.readAll()) : QString();
  file.replace(QStringLiteral("HEADER"), QString::fromLatin1(header))
      .replace(QStringLiteral("TIME"), QStringLiteral(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)"));
  QVERIFY2(QRegularExpression(file).match(text).hasMatch(), qPrintable(text));
  const int grid = e.captured(1).isEmpty() ? 10 : e.captured(1).toInt();
  const QRegularExpression times(
      uR"re((?:^|\n)\{?"?(?:time":")?([0-9T:.-]+Z)"?,(?:"seconds":)?([\d.]+),)re"_qs);
  QDateTime origin;
  qint64 last = -1;
  for (auto it = times.globalMatch(text); it.hasNext();) {
    const auto m = it.next();
    const QDateTime at = QDateTime::fromString(m.captured(1), Qt::ISODateWithMs);
    const qint64 ms = qint64(std::llround(m.captured(2).toDouble() * 1000));
    origin = origin.isValid() ? origin : at.addMSecs(-ms);
    QVERIFY2(ms > last && ms % grid == 0 && origin.msecsTo(at) == ms, qPrintable(m.captured(0)));
    last = ms;
  }
}

// A waiting run ended by a signal or a full disk (FULL: a file there): its one result object
// with the error in it, the exit status, and whether the output was left on.
void TestQx5200Ctl::run_ends_data() {
  QTest::addColumn<QStringList>("args");
  QTest::addColumn<int>("signal"); // sent once the run waits; 0: none
  QTest::addColumn<int>("exit_code");
  QTest::addColumn<QString>("out");
  const QStringList run{"run", "--json", "--repeat", "0", "--wait", "--interval", "10"};
  auto row = [](const char *name, const QStringList &args, int sig, int code, const char *out) {
    QTest::newRow(name) << args << sig << code << QString::fromUtf8(out);
  };
  row("SIGTERM", run, SIGTERM, 143,
      R"("end_reason":"interrupted","ended":false,"error":\{"code":143,"kind":"interrupted","message":")"
      R"(interrupted by SIGTERM after [\d.]+ s: the output was stopped."\}.*"interrupted":"SIGTERM".*"output":"stopped")");
  row("SIGHUP keep running", run + QStringList{"--keep-running"}, SIGHUP, 129,
      R"("error":\{"code":129,[^}]*still running \(--keep-running\)."\}.*"interrupted":"SIGHUP".*"output":"running")");
  row("disk full", run + QStringList{"--log", "FULL"}, 0, 11,
      R"("end_reason":"log_failed","ended":false,"error":\{"code":11,"kind":"log_failed","message":"cannot write )"
      R"([^"]+: No space left on device: the log stopped after \d+ rows, and the output was stopped.*"output":"stopped")");
}

void TestQx5200Ctl::run_ends() {
  QFETCH(QStringList, args);
  QFETCH(int, signal);
  QFETCH(int, exit_code);
  QFETCH(QString, out);
  TFullDisk disk;
  if (args.contains(QStringLiteral("FULL")))
    QX5200_REQUIRE_FULL_DISK(disk);
  args.replaceInStrings(QStringLiteral("FULL"), disk.path(QStringLiteral("run.csv")));
  QTemporaryDir own;
  QProcess p;
  start(p, own, args << dir.filePath(QStringLiteral("good.txt")));
  if (signal) { // the holder socket is there once the run waits
    QTRY_VERIFY_WITH_TIMEOUT(
        !QDir(own.path()).entryList({QStringLiteral("*.lock.sock")}, QDir::System).isEmpty(), ceiling_ms);
    QCOMPARE(::kill(pid_t(p.processId()), signal), 0);
  }
  QVERIFY(p.waitForFinished(ceiling_ms));
  QCOMPARE(p.exitCode(), exit_code);
  const QString got = QString::fromUtf8(p.readAllStandardOutput());
  QVERIFY2(got.count(u'\n') == 1 && QRegularExpression(out).match(got).hasMatch(), qPrintable(got));
  QFile log(disk.path(QStringLiteral("run.csv")));
  if (log.open(QIODevice::ReadOnly)) // whole rows only
    QVERIFY(log.readAll().endsWith('\n'));
}

QTEST_GUILESS_MAIN(TestQx5200Ctl)
#include "test_qx5200_ctl.moc"
