#include "Formula.h"

#include <muParser.h>

#include <QRegularExpression>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <numbers>
#include <string>

namespace {

// The fractional part of t / period, in [0, 1); NaN for a period that is not positive.
double phase(double t, double period) {
  if (!(period > 0))
    return std::numeric_limits<double>::quiet_NaN();
  const double x = t / period;
  return x - std::floor(x);
}

double square_fn(double t, double period, double duty) {
  const double p = phase(t, period);
  return std::isnan(p) ? p : p < std::clamp(duty, 0.0, 1.0) ? 1 : 0;
}
double tri_fn(double t, double period) {
  const double p = phase(t, period);
  return p < 0.5 ? 2 * p : 2 - 2 * p;
}
double saw_fn(double t, double period) { return phase(t, period); }
double pulse_fn(double t, double start, double width) { return t >= start && t < start + width ? 1 : 0; }
double step_fn(double t, double at) { return t >= at ? 1 : 0; }
double ramp_fn(double t, double from, double to) {
  if (t >= to)
    return 1;
  if (t <= from)
    return 0;
  return (t - from) / (to - from);
}

int scale_suffix(const char *s, int &length) {
  length = 0;
  if ((s[0] == 'm' || s[0] == 'M') && (s[1] == 'e' || s[1] == 'E') && (s[2] == 'g' || s[2] == 'G')) {
    length = 3;
    return 6;
  }
  length = 1;
  switch (s[0]) {
  case 't':
  case 'T': return 12;
  case 'g':
  case 'G': return 9;
  case 'k':
  case 'K': return 3;
  case 'm':
  case 'M': return -3;
  case 'u':
  case 'U': return -6;
  case 'n':
  case 'N': return -9;
  case 'p':
  case 'P': return -12;
  case 'f':
  case 'F': return -15;
  default: length = 0; return 0;
  }
}

bool ident_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }
bool digit(char c) { return c >= '0' && c <= '9'; }

// Reads a number at s in SPICE form: digits, '.', exponent, scale suffix. Returns the characters
// taken, 0 when s does not start with one (or the suffix runs on into a name).
int read_number(const char *s, double &value) {
  int i = 0;
  std::string text;
  while (digit(s[i]))
    text += s[i++];
  if (s[i] == '.') {
    text += s[i++];
    while (digit(s[i]))
      text += s[i++];
  }
  if (text.empty() || text == ".")
    return 0;
  long exponent = 0;
  if ((s[i] == 'e' || s[i] == 'E') &&
      (digit(s[i + 1]) || ((s[i + 1] == '-' || s[i + 1] == '+') && digit(s[i + 2])))) {
    int j = i + 1;
    const bool negative = s[j] == '-';
    if (s[j] == '-' || s[j] == '+')
      ++j;
    for (; digit(s[j]); ++j)
      if (exponent < 100000)
        exponent = exponent * 10 + (s[j] - '0');
    exponent = negative ? -exponent : exponent;
    i = j;
  }
  int suffix = 0;
  exponent += scale_suffix(s + i, suffix);
  i += suffix;
  if (ident_char(s[i]))
    return 0;
  text += 'e' + std::to_string(exponent);
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec == std::errc::result_out_of_range)
    value = exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  else if (ec != std::errc() || end != text.data() + text.size())
    return 0;
  return i;
}

int si_value(const mu::char_type *expr, int *pos, mu::value_type *value) {
  const int length = read_number(expr, *value);
  if (length == 0)
    return 0;
  *pos += length;
  return 1;
}

TFormulaError parser_error(const mu::Parser::exception_type &e,
                           int length = std::numeric_limits<int>::max()) {
  static const QRegularExpression place(QStringLiteral(" at position \\d+"));
  QString message = QString::fromStdString(e.GetMsg()).remove(place);
  const int at = std::min(e.GetPos(), length);
  if (at >= 0)
    return {QStringLiteral("%1 (at character %2)").arg(message).arg(at + 1), at};
  return {message, -1};
}

QString time_text(long double t) { return QString::number(double(t), 'g', 9); }

// The grid of checked times, their values and where the formula jumps.
struct Samples {
  std::vector<long double> time;
  std::vector<double> value;
};

// Greedy placement over samples [first, last] (the last may be a jump's left-hand limit): from
// each point, the farthest sample whose chord keeps every sample between within e. The slopes
// that keep the samples so far within e form an interval, so each reach is one pass.
void place_piece(const std::vector<TWavePoint> &s, long double e, std::vector<TWavePoint> &out) {
  std::size_t i = 0;
  out.push_back(s[0]);
  while (i + 1 < s.size()) {
    long double lo = -std::numeric_limits<long double>::infinity();
    long double hi = std::numeric_limits<long double>::infinity();
    std::size_t best = i + 1;
    for (std::size_t j = i + 1; j < s.size(); ++j) {
      const long double dt = s[j].time - s[i].time;
      const long double dv = s[j].value - s[i].value;
      const long double slope = dv / dt;
      if (slope >= lo && slope <= hi)
        best = j;
      lo = std::max(lo, (dv - e) / dt);
      hi = std::min(hi, (dv + e) / dt);
      if (lo > hi)
        break;
    }
    out.push_back(s[best]);
    i = best;
  }
}

qsizetype place_all(const std::vector<std::vector<TWavePoint>> &pieces, long double e,
                    std::vector<TWavePoint> &out) {
  out.clear();
  for (const auto &piece : pieces)
    place_piece(piece, e, out);
  return qsizetype(out.size());
}

} // namespace

struct TFormula::Parser {
  mu::Parser parser;
  double t = 0;
};

TFormula::TFormula() : parser_(std::make_unique<Parser>()) {
  mu::Parser &p = parser_->parser;
  p.DefineVar("t", &parser_->t);
  p.DefineConst("pi", std::numbers::pi);
  p.DefineConst("e", std::numbers::e);
  p.DefineFun("square", square_fn);
  p.DefineFun("tri", tri_fn);
  p.DefineFun("saw", saw_fn);
  p.DefineFun("pulse", pulse_fn);
  p.DefineFun("step", step_fn);
  p.DefineFun("ramp", ramp_fn);
  p.AddValIdent(si_value);
}

TFormula::~TFormula() = default;

bool TFormula::set_expression(const QString &text, TFormulaError &error) {
  if (text.size() > max_expression_length) {
    error = {QStringLiteral("The formula is longer than %1 characters").arg(max_expression_length), -1};
    return false;
  }
  if (text.trimmed().isEmpty()) {
    error = {QStringLiteral("The formula is empty"), -1};
    return false;
  }
  // muparser reads bytes: a character outside ASCII is refused here, where its place is known.
  for (qsizetype i = 0; i < text.size(); ++i)
    if (text[i].unicode() > 126 || text[i].unicode() < 32) {
      error = {QStringLiteral("Unexpected character '%1' (at character %2)").arg(text[i]).arg(i + 1), int(i)};
      return false;
    }
  try {
    parser_->parser.SetExpr(text.toStdString());
    parser_->t = 0;
    (void)parser_->parser.Eval();
    // Several comma-separated results are one formula too many.
    int results = 0;
    (void)parser_->parser.Eval(results);
    if (results != 1) {
      error = {QStringLiteral("The formula gives %1 values; it must give one").arg(results), -1};
      return false;
    }
  } catch (const mu::Parser::exception_type &e) {
    // A missing end is reported one past it; the place shown is the end.
    error = parser_error(e, int(text.size()));
    return false;
  }
  return true;
}

bool TFormula::evaluate(double t, double &value, TFormulaError &error) {
  try {
    parser_->t = t;
    value = parser_->parser.Eval();
  } catch (const mu::Parser::exception_type &e) {
    error = parser_error(e);
    return false;
  }
  return true;
}

bool formula_number(const QString &text, long double &value) {
  const std::string s = text.trimmed().toStdString();
  bool negative = false;
  std::size_t start = 0;
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
    negative = s[0] == '-';
    start = 1;
  }
  double v = 0;
  const int length = read_number(s.c_str() + start, v);
  if (length == 0 || start + std::size_t(length) != s.size() || !std::isfinite(v))
    return false;
  value = negative ? -v : v;
  return true;
}

bool place_formula(const TFormulaRequest &request, TFormulaResult &result) {
  result = TFormulaResult();
  const auto refuse = [&](const QString &message) {
    result.error = {message, -1};
    result.points.clear();
    return false;
  };
  TFormula formula;
  if (!formula.set_expression(request.expression, result.error))
    return false;
  const long double start = request.start;
  const long double span = request.end - request.start;
  if (!std::isfinite(request.start) || !std::isfinite(request.end) || start < 0)
    return refuse(QStringLiteral("The span must start at 0 s or later"));
  if (!(span >= formula_time_resolution))
    return refuse(QStringLiteral("The span must end at least %1 s after its start")
                      .arg(time_text(formula_time_resolution)));
  if (request.points == 1 || request.points < 0 || request.points > formula_max_points)
    return refuse(QStringLiteral("The number of points must be from 2 to %1").arg(formula_max_points));
  if (request.accuracy < 0 || !std::isfinite(request.accuracy))
    return refuse(QStringLiteral("The accuracy must be greater than 0"));

  qint64 budget = std::max<qint64>(request.max_evaluations, 2);
  const auto eval = [&](long double t, double &v) {
    ++result.evaluations;
    --budget;
    if (!formula.evaluate(double(t), v, result.error))
      return false;
    if (!std::isfinite(v)) {
      result.error = {
          QStringLiteral("The formula is %1 at t = %2 s")
              .arg(std::isnan(v) ? QStringLiteral("not a number") : QStringLiteral("infinite"), time_text(t)),
          -1};
      return false;
    }
    return true;
  };

  if (request.points > 0) {
    if (request.points > budget)
      return refuse(
          QStringLiteral("More points than the evaluation ceiling of %1").arg(request.max_evaluations));
    for (int i = 0; i < request.points; ++i) {
      const long double t = i + 1 == request.points ? request.end : start + span * i / (request.points - 1);
      double v = 0;
      if (!eval(t, v)) {
        result.points.clear();
        return false;
      }
      result.points.push_back({t, v});
    }
    return true;
  }

  // The checked times: every 50 ns, coarser in whole 50 ns steps when half the ceiling would not
  // reach; the other half is kept for locating jumps.
  const long double res = formula_time_resolution;
  const long double scan_limit = std::max<long double>(budget / 2, 2);
  const long double per_step = std::max<long double>(1, std::ceil(span / res / (scan_limit - 1) - 1e-9L));
  const long double h = per_step * res;
  const qint64 steps = qint64(std::floor(span / h + 1e-9L));
  Samples grid;
  grid.time.reserve(std::size_t(steps + 2));
  for (qint64 k = 0; k <= steps; ++k)
    grid.time.push_back(start + k * h);
  if (request.end - grid.time.back() > res / 2)
    grid.time.push_back(request.end);
  else
    grid.time.back() = request.end;
  result.check_step = h;
  grid.value.resize(grid.time.size());
  double lowest = std::numeric_limits<double>::infinity(), highest = -lowest;
  for (std::size_t k = 0; k < grid.time.size(); ++k) {
    if (!eval(grid.time[k], grid.value[k]))
      return false;
    lowest = std::min(lowest, grid.value[k]);
    highest = std::max(highest, grid.value[k]);
  }
  long double e = request.accuracy;
  if (e == 0)
    e = 1e-3L * std::max<long double>(highest - lowest, std::fabs(request.board_max));
  result.accuracy = e;
  // Rounding of the values themselves must not count as leaving the band.
  const long double band =
      e + 8 * std::numeric_limits<double>::epsilon() * std::max(std::fabs(highest), std::fabs(lowest));

  // Cut the samples into pieces at the jumps: a change past the accuracy that dwarfs the changes
  // on either side of it.
  std::vector<std::vector<TWavePoint>> pieces(1);
  const std::size_t n = grid.time.size();
  const auto change = [&](std::size_t k) {
    return k >= 1 && k < n ? std::fabs(grid.value[k] - grid.value[k - 1]) : 0.0;
  };
  for (std::size_t k = 0; k < n; ++k) {
    const double d = change(k);
    if (k > 0 && d > band && d > 8 * std::max(change(k - 1), change(k + 1))) {
      // Narrow the jump down to 50 ns while the ceiling allows.
      long double lo = grid.time[k - 1], hi = grid.time[k];
      double v_lo = grid.value[k - 1], v_hi = grid.value[k];
      while (hi - lo > res * 1.5L && budget > 0) {
        const long double mid = lo + std::floor((hi - lo) / res / 2) * res;
        double v = 0;
        if (!eval(mid, v))
          return false;
        if (std::fabs(v - v_lo) <= std::fabs(v - v_hi))
          lo = mid, v_lo = v;
        else
          hi = mid, v_hi = v;
      }
      auto &left = pieces.back();
      if (lo > left.back().time)
        left.push_back({lo, v_lo});
      // The left-hand value at the jump, carried on from the last two samples.
      const TWavePoint &a = left.back();
      long double at_jump = a.value;
      if (left.size() >= 2) {
        const TWavePoint &b = left[left.size() - 2];
        at_jump += (a.value - b.value) * (hi - a.time) / (a.time - b.time);
      }
      left.push_back({hi, at_jump});
      pieces.emplace_back().push_back({hi, v_hi});
      ++result.jumps;
      if (hi < grid.time[k])
        pieces.back().push_back({grid.time[k], grid.value[k]});
    } else {
      pieces.back().push_back({grid.time[k], grid.value[k]});
    }
  }
  grid = Samples();

  const qsizetype count = place_all(pieces, band, result.points);
  if (count <= formula_max_points)
    return true;

  // Too many: find an accuracy that fits. The count falls about as 1 / sqrt(accuracy).
  result.needed_points = count;
  const qsizetype floor_count = 2 * qsizetype(pieces.size());
  std::vector<TWavePoint> trial;
  if (floor_count <= formula_max_points) {
    long double fit = e * std::pow(double(count) / formula_max_points, 2);
    for (int i = 0; i < 60; ++i, fit *= 1.25L) {
      // Two significant digits, rounded up, as it is shown.
      const long double scale = std::pow(10.0L, std::floor(std::log10(fit)) - 1);
      fit = std::ceil(fit / scale) * scale;
      if (place_all(pieces, fit, trial) <= formula_max_points) {
        result.fitting_accuracy = fit;
        break;
      }
    }
  }
  const QString fits =
      result.fitting_accuracy > 0
          ? QStringLiteral("an accuracy of %1 would fit").arg(time_text(result.fitting_accuracy))
          : QStringLiteral("its %1 jumps alone need more; a shorter span would fit").arg(result.jumps);
  return refuse(QStringLiteral(
                    "The formula needs %1 points at an accuracy of %2, more than the %3 the device holds; %4")
                    .arg(count)
                    .arg(time_text(e))
                    .arg(formula_max_points)
                    .arg(fits));
}
