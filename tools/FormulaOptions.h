#pragma once

#include "Formula.h"
#include "TWavePoint.h"

#include <QCommandLineOption>
#include <QList>
#include <QString>

#include <string>
#include <vector>

class QCommandLineParser;

// --formula EXPR --span START:END [--accuracy A | --points N]: a waveform from a formula instead
// of a FILE, for every program that reads waveform files.
QList<QCommandLineOption> formula_options();

struct TFormulaOptions {
  bool given = false; // --formula was given
  TFormulaRequest request;
};

// Reads the four options; false with the reason when one is malformed, --span is missing, or
// --accuracy and --points are both given. Without --formula the others are refused.
bool read_formula_options(const QCommandLineParser &parser, TFormulaOptions &options, QString &reason);

// Places the formula's points for a board whose maximum is board_max; false with the reason
// (pointing at the place for a syntax error).
bool formula_wave_points(const TFormulaOptions &options, long double board_max,
                         std::vector<TWavePoint> &points, TFormulaResult &result, QString &reason);

// "Formula: 382 points to an accuracy of 0.01, 0 jumps." for the text output.
QString formula_summary(const TFormulaResult &result);

// The JSON of the points ([[t, v], ...]) and of what the formula gave ({"expression", "start",
// "end", "accuracy", "points", "jumps", "evaluations"}).
std::string points_json(const std::vector<TWavePoint> &points);
std::string formula_json(const TFormulaOptions &options, const TFormulaResult &result);
