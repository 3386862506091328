#include "localized.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <cmath>

namespace {

struct Run {
  int exit_code = -1;
  QString out;
  QString err;
};

// Lines are written with CR LF as the program saves them; numbers with the locale's separator.
QString write_file(const QTemporaryDir &dir, const QString &name, const QStringList &lines,
                   bool local = true) {
  const QString path = dir.filePath(name);
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly))
    return {};
  for (const QString &line : lines)
    f.write((local ? localized(line) : line).toUtf8() + "\r\n");
  return path;
}

Run run(const QStringList &args) {
  QProcess p;
  // A plot starts a GUI application, which warns on stderr without a runtime folder (as under
  // cron or CI); the lines checked here are the program's own.
  static const QTemporaryDir runtime;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  if (env.value(QStringLiteral("XDG_RUNTIME_DIR")).isEmpty())
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
  p.setProcessEnvironment(env);
  p.start(QStringLiteral(QX5200_WAVE), args);
  Run r;
  if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit)
    return r;
  r.exit_code = p.exitCode();
  r.out = QString::fromUtf8(p.readAllStandardOutput());
  r.err = QString::fromUtf8(p.readAllStandardError());
  return r;
}

QJsonObject json(const Run &r) { return QJsonDocument::fromJson(r.out.toUtf8()).object(); }

} // namespace

class TestQx5200Wave : public QObject {
  Q_OBJECT
private slots:
  void initTestCase() { QVERIFY(dir.isValid()); }
  void example_words();
  void formula_points_and_their_errors();
  void error_state_data();
  void error_state();
  void separators_data();
  void separators();
  void statistics_panel();
  void usage_errors_data();
  void usage_errors();
  void help_and_version_data();
  void help_and_version();
  void plot();

private:
  QTemporaryDir dir;
};

void TestQx5200Wave::example_words() {
  const QString path =
      write_file(dir, "example.txt",
                 {"Time\tValue", "0\t0", "not\ta point", "", "1e-7", "100e-9\t1", "1.00005e-3\t1\textra"});
  const Run r = run({"--json", "--repeat", "1", "--board", "gain=10,max_value=5,return_to_zero=true",
                     "--calibration", "offset=0", path});
  QCOMPARE(r.exit_code, 0);
  QVERIFY(r.err.isEmpty());
  const QJsonObject o = json(r);
  QCOMPARE(o["data_count"].toInt(), 3);
  QCOMPARE(o["data_error"].toBool(true), false);
  QCOMPARE(o["buffer_count"].toInt(), 8);
  QCOMPARE(o["words"].toArray(), (QJsonArray{1, 1, 1, 1, 0, 36030, 0x63DD, 0xFFFF}));
  const QJsonArray pts = o["device_points"].toArray();
  QCOMPARE(pts.size(), 3);
  const double expected[3][2] = {{0, 0}, {200e-9, 1}, {1.00015e-3, 1}};
  for (int i = 0; i < 3; ++i) {
    QVERIFY(std::fabs(pts[i].toArray()[0].toDouble() - expected[i][0]) < 1e-15);
    QCOMPARE(pts[i].toArray()[1].toDouble(), expected[i][1]);
  }
  const QJsonObject st = o["statistics"].toObject();
  QCOMPARE(st.size(), 20); // the figures, their units and the out_of_range list
  QCOMPARE(st["sampled_data_count"].toInt(), 3);
  QCOMPARE(st["limited_samples"].toInt(-1), 0);
  QCOMPARE(st["output_limit"].toDouble(), 5.0);
  QCOMPARE(o["rows_skipped"].toObject(),
           (QJsonObject{{"count", 2}, {"first_row", 2}, {"first_text", "not"}}));
  QVERIFY(std::fabs(st["max_time"].toDouble() - 1.00015e-3) < 1e-15);
  QCOMPARE(st["min_dx"].toDouble(), 200e-9);
  QVERIFY(r.out.contains(QStringLiteral("\"min_dx\":2e-07,"))); // the shortest text of the double
  QCOMPARE(o["board"].toObject()["gain"].toDouble(), 10.0);
  QCOMPARE(o["board"].toObject()["return_to_zero"], QJsonValue(true));
  QCOMPARE(o["repeat"].toInt(), 1);
  QCOMPARE(o["points"].toArray(),
           (QJsonArray{QJsonArray{0, 0}, QJsonArray{1e-7, 1}, QJsonArray{1.00005e-3, 1}}));
}

void TestQx5200Wave::formula_points_and_their_errors() {
  Run r = run({"--json", "--formula", "t < 1m ? 0 : 2", "--span", "0:2m"});
  QCOMPARE(r.exit_code, 0);
  QJsonObject o = json(r);
  QCOMPARE(o["points"].toArray(),
           (QJsonArray{QJsonArray{0, 0}, QJsonArray{1e-3, 0}, QJsonArray{1e-3, 2}, QJsonArray{2e-3, 2}}));
  QCOMPARE(o["formula"].toObject()["jumps"].toInt(), 1);
  QCOMPARE(o["formula"].toObject()["accuracy"].toDouble(), 2e-3); // 0.1% of the range
  QCOMPARE(o["data_count"].toInt(), 4);

  r = run({"--json", "--formula", "5*sin(2*pi*1k*t)", "--span", "1m:2m", "--points", "5"});
  QCOMPARE(r.exit_code, 0);
  const QJsonArray pts = json(r)["points"].toArray();
  QCOMPARE(pts.size(), 5);
  QCOMPARE(pts[4].toArray()[0].toDouble(), 2e-3);
  QVERIFY(std::fabs(pts[1].toArray()[1].toDouble() - 5) < 1e-12);

  r = run({"--formula", "5*sin(2*pi*x)", "--span", "0:1m"});
  QCOMPARE(r.exit_code, 2);
  QVERIFY(r.out.isEmpty());
  QVERIFY2(r.err.contains(QStringLiteral("at character 12)\n  5*sin(2*pi*x)\n             ^\n")),
           qPrintable(r.err));
}

void TestQx5200Wave::error_state_data() {
  QTest::addColumn<QStringList>("rows");
  QTest::addColumn<QStringList>("args");
  QTest::addColumn<int>("exit_code");
  QTest::addColumn<int>("error_type");
  QTest::addColumn<int>("error_index");
  const QStringList power{"0\t1", "100e-6\t1.5", "1e-3\t1"};
  const QStringList limits{"--sensor", "5", "--board", "max_power=4,max_p2t=1"};
  QTest::newRow("times go back") << QStringList{"0\t0", "2e-3\t1", "1e-3\t2", "3e-3\t3", "2.5e-3\t4"}
                                 << QStringList{} << 1 << 1 << 4;
  QTest::newRow("one point") << QStringList{"1e-3\t1"} << QStringList{} << 1 << 0 << 0;
  QTest::newRow("power, repeat 1") << power << limits + QStringList{"--repeat", "1"} << 0 << 0 << 0;
  QTest::newRow("power, repeat 2") << power << limits + QStringList{"--repeat", "2"} << 1 << 3 << 0;
}

void TestQx5200Wave::error_state() {
  QFETCH(QStringList, rows);
  QFETCH(QStringList, args);
  QFETCH(int, exit_code);
  QFETCH(int, error_type);
  QFETCH(int, error_index);
  const QString path = write_file(dir, "state.txt", QStringList{"t\tv"} + rows);
  const Run r = run(args + QStringList{"--json", path});
  QCOMPARE(r.exit_code, exit_code);
  const QJsonObject o = json(r);
  QCOMPARE(o["data_error"].toBool(), exit_code == 1);
  if (exit_code == 1) {
    QCOMPARE(o["error_type"].toInt(), error_type);
    QCOMPARE(o["error_index"].toInt(), error_index);
  }
  if (error_type == 0 && exit_code == 1) {
    QCOMPARE(o["device_points"].toArray().size(), 0);
    QCOMPARE(o["statistics"].toObject()["max_time"].toDouble(), 0.0001);
  }
  QCOMPARE(o["words"].toArray().size(), o["buffer_count"].toInt());
}

void TestQx5200Wave::separators_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<QStringList>("lines");
  QTest::addColumn<QStringList>("args");
  QTest::addColumn<int>("points");
  QTest::addColumn<QString>("other_decimal"); // the hint of a No Data table; "" for none
  QTest::newRow("csv by extension") << "a.csv" << QStringList{"t,v", "0,0", "1e-3,1"} << QStringList{} << 2
                                    << "";
  QTest::newRow("tab otherwise") << "a.dat" << QStringList{"t\tv", "0\t0", "1e-3\t1"} << QStringList{} << 2
                                 << "";
  QTest::newRow("csv read as tab") << "a.txt" << QStringList{"t,v", "0,0", "1e-3,1"} << QStringList{} << 0
                                   << "";
  QTest::newRow("space, runs count as one") << "a.txt" << QStringList{"t v", "   0    0", "1e-3  1"}
                                            << QStringList{"--separator", "space"} << 2 << "";
  QTest::newRow("no heading loses the first point")
      << "b.csv" << QStringList{"0,0", "1e-3,1", "2e-3,0"} << QStringList{} << 2 << "";
  QTest::newRow("semicolon, locale's decimals")
      << "c.csv" << QStringList{"Zeit;Strom", "0;0.5", "1.5e-3;1.25"}
      << QStringList{"--separator", "semicolon"} << 2 << "";
  // --decimal files are written as they are, whatever the locale.
  const QStringList comma{"Zeit;Strom", "0;0,5", "1,5e-3;1,25", "2e-3;0"};
  QTest::newRow("decimal comma") << "d.csv" << comma
                                 << QStringList{"--separator", "semicolon", "--decimal", "comma"} << 3 << "";
  QTest::newRow("decimal point, comma numbers")
      << "d.csv" << comma << QStringList{"--separator", "semicolon", "--decimal", "point"} << 1 << "comma";
  QTest::newRow("decimal point") << "e.txt" << QStringList{"t\tv", "0\t0.5", "1.5e-3\t1"}
                                 << QStringList{"--decimal", "point"} << 2 << "";
  QTest::newRow("beyond a double") << "f.txt"
                                   << QStringList{"t\tv", "0\t0", "1e400\t1", "1e-3\t-1e400", "2e-3\t1"}
                                   << QStringList{} << 2 << "";
  // PWL numbers always use '.': these carry none, as the files are written in the locale's notation.
  QTest::newRow("pwl by extension") << "a.pwl" << QStringList{"0 0", "1u 1", "2u 0"} << QStringList{} << 3
                                    << "";
  QTest::newRow("pwl by --format") << "a.txt" << QStringList{"PWL(0 0 1m 5V", "+ 2m 0)"}
                                   << QStringList{"--format", "pwl"} << 3 << "";
  QTest::newRow("pwl name read as a table")
      << "t.pwl" << QStringList{"t\tv", "0\t0", "1e-3\t1"} << QStringList{"--format", "table"} << 2 << "";
}

void TestQx5200Wave::separators() {
  QFETCH(QString, name);
  QFETCH(QStringList, lines);
  QFETCH(QStringList, args);
  QFETCH(int, points);
  QFETCH(QString, other_decimal);
  const Run r = run(args + QStringList{"--json", write_file(dir, name, lines, !args.contains("--decimal"))});
  QCOMPARE(json(r)["data_count"].toInt(-1), points);
  QCOMPARE(json(r)["other_decimal"].toString(), other_decimal);
}

void TestQx5200Wave::statistics_panel() {
  const QString path =
      write_file(dir, "panel.txt", {"t\tv", "0\t0", "100e-9\t1", "5 A\t1", "1.00005e-3\t1", "", "x"});
  Run r = run({"--board", "units=A,gain=100,max_value=0.5", path});
  QCOMPARE(r.exit_code, 0);
  const QStringList lines = r.out.split(u'\n', Qt::SkipEmptyParts);
  QCOMPARE(lines.size(), 15);
  QCOMPARE(lines[11], QStringLiteral("Limited : 2"));
  QCOMPARE(lines[13],
           QStringLiteral("2 samples are limited to the load board's maximum of ") + localized("0.5 A"));
  QCOMPARE(lines[14], QStringLiteral("2 rows skipped: row 3 \"5 A\""));
  QCOMPARE(lines[0], QStringLiteral("Data Points : 3"));
  QCOMPARE(lines[1], QStringLiteral("Max dY : ") + localized("1.00 A"));
  QCOMPARE(lines[4], QStringLiteral("Min dt : 200 ns"));
  QCOMPARE(lines[5], QStringLiteral("Max dy/dt : ") + localized("5.00 A/us"));
  QCOMPARE(lines[12], QStringLiteral("Error : None"));
  const QString bad = write_file(dir, "bad.txt", {"t\tv", "0\t0", "2e-3\t1", "1e-3\t0"});
  r = run({bad});
  QCOMPARE(r.exit_code, 1);
  QVERIFY(r.out.endsWith(QStringLiteral("Error : Time Data\n")));
}

void TestQx5200Wave::usage_errors_data() {
  QTest::addColumn<QStringList>("args");
  QTest::addColumn<QString>("message");
  QTest::newRow("missing file") << QStringList{"no-such-file.csv"} << "no-such-file.csv";
  QTest::newRow("a folder") << QStringList{"."} << "Not a regular file";
  QTest::newRow("no file") << QStringList{} << "FILE";
  QTest::newRow("two files") << QStringList{"a", "b"} << "FILE";
  QTest::newRow("separator") << QStringList{"--separator", "colon", "x.csv"} << "colon";
  QTest::newRow("format") << QStringList{"--format", "csv", "x.csv"} << "csv";
  QTest::newRow("separator for pwl") << QStringList{"--separator", "tab", "x.pwl"} << "--format table";
  QTest::newRow("decimal") << QStringList{"--decimal", "dot", "x.txt"} << "'dot' is not point or comma";
  QTest::newRow("decimal for pwl") << QStringList{"--decimal", "comma", "x.pwl"} << "always use a point";
  QTest::newRow("pwl beyond a double")
      << QStringList{write_file(dir, "big.pwl", {"0 0", "1u 1e400"})} << "Line 2: '1e400' is not a number";
  QTest::newRow("pwl token") << QStringList{write_file(dir, "bad.pwl", {"0 0", "1u oops!"})}
                             << "Line 2: 'oops!' is not a number";
  QTest::newRow("repeat") << QStringList{"--repeat", "65536", "x.csv"} << "65536";
  QTest::newRow("sensor") << QStringList{"--sensor", "lots", "x.csv"} << "lots";
  QTest::newRow("board field") << QStringList{"--board", "colour=red", "x.csv"} << "colour";
  QTest::newRow("calibration") << QStringList{"--calibration", "offset", "x.csv"} << "offset";
  QTest::newRow("unknown option") << QStringList{"--fast", "x.csv"} << "fast";
  QTest::newRow("formula, no span") << QStringList{"--formula", "t"} << "--formula needs --span START:END";
  QTest::newRow("span") << QStringList{"--formula", "t", "--span", "0-1m"} << "'0-1m' is not START:END";
  QTest::newRow("accuracy and points")
      << QStringList{"--formula", "t", "--span", "0:1m", "--accuracy", "1m", "--points", "9"}
      << "exclude each other";
  QTest::newRow("formula and file") << QStringList{"--formula", "t", "--span", "0:1m", "x.csv"} << "not both";
  QTest::newRow("span, no formula") << QStringList{"--span", "0:1m", "x.csv"} << "--span goes with --formula";
  QTest::newRow("too many points") << QStringList{"--formula", "sin(2*pi*50k*t)", "--span",
                                                  "0:10m",     "--accuracy",      "1u"}
                                   << "would fit";
  QTest::newRow("plot type") << QStringList{"--plot", "a.gif", "x.csv"} << "a.gif";
  QTest::newRow("plot size") << QStringList{"--plot", "a.png", "--plot-size", "9x9", "x.csv"} << "9x9";
  QTest::newRow("plot dpi") << QStringList{"--plot", "a.png", "--plot-dpi", "2", "x.csv"} << "--plot-dpi";
  QTest::newRow("plot folder") << QStringList{"--plot", dir.filePath("none/a.svg"),
                                              write_file(dir, "p.txt", {"T V", "0\t1", "1e-3\t0"})}
                               << "none/a.svg";
}

void TestQx5200Wave::usage_errors() {
  QFETCH(QStringList, args);
  QFETCH(QString, message);
  const Run r = run(args);
  QCOMPARE(r.exit_code, 2);
  QVERIFY(r.out.isEmpty());
  QCOMPARE(r.err.count(u'\n'), 1);
  QVERIFY2(r.err.contains(message), qPrintable(r.err));
}

void TestQx5200Wave::help_and_version_data() {
  QTest::addColumn<QStringList>("args");
  QTest::addColumn<QString>("starts");
  QTest::newRow("--help") << QStringList{"--help"} << "Usage: ";
  QTest::newRow("-h with a file") << QStringList{"-h", "x.csv"} << "Usage: ";
  QTest::newRow("--version") << QStringList{"--version"} << "qx5200-wave " QX5200_VERSION "\n";
  QTest::newRow("-v") << QStringList{"-v"} << "qx5200-wave " QX5200_VERSION "\n";
}

void TestQx5200Wave::help_and_version() {
  QFETCH(QStringList, args);
  QFETCH(QString, starts);
  const Run r = run(args);
  QCOMPARE(r.exit_code, 0);
  QVERIFY(r.err.isEmpty());
  QVERIFY2(r.out.startsWith(starts), qPrintable(r.out));
  if (starts == u"Usage: ") {
    for (const char *option : {"--separator", "semicolon", "--decimal", "--format", "--repeat", "--sensor",
                               "--board", "--calibration", "--json", "--version"})
      QVERIFY2(r.out.contains(QLatin1String(option)), option);
  } else {
    QCOMPARE(r.out, starts); // one line, nothing else
  }
}

// Without a display: the picture is drawn offscreen whatever platform the caller asked for.
void TestQx5200Wave::plot() {
  const QString wave = write_file(dir, "plot.txt", {"Time\tValue", "0\t0", "1e-3\t1", "2e-3\t0"});
  const QString png = dir.filePath("plot.png"), svg = dir.filePath("plot.svg");
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.remove("DISPLAY");
  env.remove("WAYLAND_DISPLAY");
  env.insert("QT_QPA_PLATFORM", "xcb");
  p.setProcessEnvironment(env);
  for (const QStringList &args :
       {QStringList{"--plot", png, "--plot-size", "600x400", wave}, QStringList{"--plot", svg, wave}}) {
    p.start(QStringLiteral(QX5200_WAVE), args);
    QVERIFY(p.waitForFinished(60000));
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(p.readAllStandardOutput().contains("Data Points"));
  }
  QFile f(png);
  QVERIFY(f.open(QIODevice::ReadOnly));
  const QByteArray head = f.read(24); // the PNG signature, then IHDR: width and height
  QVERIFY(head.startsWith("\x89PNG"));
  QCOMPARE(qFromBigEndian<quint32>(head.constData() + 16), 600u);
  QCOMPARE(qFromBigEndian<quint32>(head.constData() + 20), 400u);
  QFile s(svg);
  QVERIFY(s.open(QIODevice::ReadOnly));
  const QByteArray text = s.readAll();
  for (const char *part : {"<path", ">Waveform</text>", ">Time (us)</text>", ">Voltage (V)</text>"})
    QVERIFY2(text.contains(part), part);
  // 0 to 1300 us and 0 to 1: ticks every 130 us and 0.1000, rounded every 200 and 0.1.
  p.start(QStringLiteral(QX5200_WAVE), {"--plot", svg, "--plot-round-ticks",
                                        write_file(dir, "odd.txt", {"Time\tValue", "0\t0", "1.3e-3\t1"})});
  QVERIFY(p.waitForFinished(60000) && p.exitCode() == 0);
  QFile r(svg);
  QVERIFY(r.open(QIODevice::ReadOnly));
  const QByteArray rounded = r.readAll();
  QVERIFY(rounded.contains(">400</text>") && !rounded.contains(">390</text>") &&
          rounded.contains(">0.1</text>"));
}

QTEST_GUILESS_MAIN(TestQx5200Wave)
#include "test_qx5200_wave.moc"
