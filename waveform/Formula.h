#pragma once

#include "QX5200_Waveform.h"
#include "TWavePoint.h"

#include <QString>
#include <QtGlobal>

#include <memory>
#include <vector>

// Waveforms from a formula of t (seconds from the waveform's start), in the load board's units.
// The expression is muparser's language (operators, ?:, sin cos tan exp ln log sqrt abs min
// max..., pi, e) with numbers in SPICE form (1k, 2.5u, 1meg; '.' decimal point always) and the
// waveform helpers below, each 0 to 1 so they scale by a factor:
//   square(t, period, duty)  1 for the first duty fraction of each period, else 0
//   tri(t, period)           0 up to 1 at half period and back to 0
//   saw(t, period)           rises from 0 to 1 over each period, then drops to 0
//   pulse(t, start, width)   1 from start for width seconds, else 0
//   step(t, at)              0 before at, 1 from at on
//   ramp(t, from, to)        0 before from, rising straight to 1 at to, 1 after

struct TFormulaError {
  QString message;
  int position = -1; // character of the expression it is about (0-based); -1 when none
};

// One compiled expression. Not copyable: the parser holds the address of its t.
class TFormula {
public:
  static constexpr int max_expression_length = 4000;

  TFormula();
  ~TFormula();
  TFormula(const TFormula &) = delete;
  TFormula &operator=(const TFormula &) = delete;

  // Parses and checks the expression; false with the error (and its place) when it is not one.
  bool set_expression(const QString &text, TFormulaError &error);
  // The value at t; false (with a message) when the formula fails there.
  bool evaluate(double t, double &value, TFormulaError &error);

private:
  struct Parser;
  std::unique_ptr<Parser> parser_;
};

struct TFormulaRequest {
  QString expression;
  long double start = 0;
  long double end = 0;
  // Largest allowed distance between the formula and the straight lines through the points, in
  // the board's units; 0 takes 0.1% of the larger of the formula's range and board_max.
  long double accuracy = 0;
  // More than 0: that many evenly spaced points instead of placement to an accuracy.
  int points = 0;
  long double board_max = 0;
  // Ceiling on formula evaluations: no formula or span can keep the caller longer than this
  // many evaluations (about 0.1 s for a plain expression).
  qint64 max_evaluations = 1'000'000;
};

struct TFormulaResult {
  std::vector<TWavePoint> points;
  long double accuracy = 0;   // the accuracy placed to (0 for evenly spaced points)
  long double check_step = 0; // spacing of the times the formula was checked at
  int jumps = 0;
  qint64 evaluations = 0;
  // Set when more points would be needed than the device holds: how many, and the accuracy
  // that would fit (0 when none does: the jumps alone are too many).
  qsizetype needed_points = 0;
  long double fitting_accuracy = 0;
  TFormulaError error;
};

// Finest time step the device plays, where jumps are placed; and the most points it holds.
constexpr long double formula_time_resolution = TQX5200Waveform::fast_period;
constexpr int formula_max_points = TQX5200Waveform::single_sample_budget;

// Places the points of the request's formula over its span: the piecewise-linear line through
// them keeps within the accuracy at every checked time (every 50 ns, or span / half the
// evaluation ceiling when that is coarser), a jump becomes a vertical step at the first 50 ns
// time that shows the new value, and the points are close to the fewest that do so. False, with
// the error, for a bad expression, span or accuracy, a value that is not a finite number (naming
// the first such t), or more points than the device holds.
bool place_formula(const TFormulaRequest &request, TFormulaResult &result);

// Reads a number in the formula's notation (what the expression takes: "1k", "2.5u", "1meg",
// "3e-3"); the whole text must be the number. For the span and accuracy fields and options.
bool formula_number(const QString &text, long double &value);
