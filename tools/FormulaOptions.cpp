#include "FormulaOptions.h"

#include "WaveReport.h"

#include <QCommandLineParser>

QList<QCommandLineOption> formula_options() {
  return {
      {QStringLiteral("formula"),
       QStringLiteral("Build the waveform from EXPR, a formula of t in seconds (e.g. 5*sin(2*pi*1k*t)), "
                      "instead of a FILE."),
       QStringLiteral("EXPR")},
      {QStringLiteral("span"), QStringLiteral("With --formula: the times it covers, e.g. 0:10m."),
       QStringLiteral("START:END")},
      {QStringLiteral("accuracy"),
       QStringLiteral("With --formula: largest distance between the formula and the lines through the "
                      "points, in the board's units (default 0.1% of the larger of the formula's range "
                      "and the board's maximum)."),
       QStringLiteral("A")},
      {QStringLiteral("points"), QStringLiteral("With --formula: N evenly spaced points instead."),
       QStringLiteral("N")},
  };
}

bool read_formula_options(const QCommandLineParser &parser, TFormulaOptions &options, QString &reason) {
  const auto set = [&](const char *name) { return parser.isSet(QString::fromLatin1(name)); };
  options.given = set("formula");
  if (!options.given) {
    for (const char *name : {"span", "accuracy", "points"})
      if (set(name)) {
        reason = QStringLiteral("--%1 goes with --formula").arg(QString::fromLatin1(name));
        return false;
      }
    return true;
  }
  TFormulaRequest &r = options.request;
  r.expression = parser.value(QStringLiteral("formula"));
  const QString span = parser.value(QStringLiteral("span"));
  const QStringList ends = span.split(u':');
  if (!set("span") || ends.size() != 2 || !formula_number(ends[0], r.start) ||
      !formula_number(ends[1], r.end)) {
    reason = set("span") ? QStringLiteral("--span: '%1' is not START:END (e.g. 0:10m)").arg(span)
                         : QStringLiteral("--formula needs --span START:END");
    return false;
  }
  if (set("accuracy") && set("points")) {
    reason = QStringLiteral("--accuracy and --points exclude each other");
    return false;
  }
  const QString accuracy = parser.value(QStringLiteral("accuracy"));
  if (set("accuracy") && (!formula_number(accuracy, r.accuracy) || !(r.accuracy > 0))) {
    reason = QStringLiteral("--accuracy: '%1' is not a number greater than 0").arg(accuracy);
    return false;
  }
  bool ok = true;
  if (set("points"))
    r.points = parser.value(QStringLiteral("points")).toInt(&ok);
  if (!ok || (set("points") && (r.points < 2 || r.points > formula_max_points))) {
    reason = QStringLiteral("--points: '%1' is not a whole number from 2 to %2")
                 .arg(parser.value(QStringLiteral("points")))
                 .arg(formula_max_points);
    return false;
  }
  return true;
}

bool formula_wave_points(const TFormulaOptions &options, long double board_max,
                         std::vector<TWavePoint> &points, TFormulaResult &result, QString &reason) {
  TFormulaRequest r = options.request;
  r.board_max = board_max;
  if (!place_formula(r, result)) {
    reason = QStringLiteral("--formula: %1").arg(result.error.message);
    if (result.error.position >= 0)
      reason += QStringLiteral("\n  %1\n  %2^").arg(r.expression, QString(result.error.position, u' '));
    return false;
  }
  points = result.points;
  return true;
}

QString formula_summary(const TFormulaResult &result) {
  if (result.accuracy == 0)
    return QStringLiteral("Formula : %1 evenly spaced points\n").arg(result.points.size());
  return QStringLiteral("Formula : %1 points to an accuracy of %2, %3 jumps\n")
      .arg(result.points.size())
      .arg(double(result.accuracy), 0, 'g', 6)
      .arg(result.jumps);
}

std::string points_json(const std::vector<TWavePoint> &points) {
  std::string out = "[";
  for (std::size_t i = 0; i < points.size(); ++i) {
    if (i)
      out += ',';
    out += '[' + json_number(points[i].time) + ',' + json_number(points[i].value) + ']';
  }
  return out + ']';
}

std::string formula_json(const TFormulaOptions &options, const TFormulaResult &result) {
  const QByteArray expression = QString(options.request.expression)
                                    .replace(u'\\', QStringLiteral("\\\\"))
                                    .replace(u'"', QStringLiteral("\\\""))
                                    .toUtf8();
  return "{\"expression\":\"" + expression.toStdString() +
         "\",\"start\":" + json_number(options.request.start) +
         ",\"end\":" + json_number(options.request.end) + ",\"accuracy\":" + json_number(result.accuracy) +
         ",\"points\":" + std::to_string(result.points.size()) +
         ",\"jumps\":" + std::to_string(result.jumps) +
         ",\"evaluations\":" + std::to_string(result.evaluations) + "}";
}
