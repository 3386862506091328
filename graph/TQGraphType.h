#pragma once

// The chart control's records and the maths that turns them into a coordinate system. Everything
// here works on plain values, so ranges, divisions, pixel mapping, tick texts and the layout can
// be computed and checked without a window.

#include <QColor>
#include <QFont>
#include <QString>
#include <QtGlobal>

#include <array>
#include <vector>

enum TQAxisStyle : quint8 { Linear = 0, Log = 1 };

// Colours are stored as 0x00BBGGRR integers, as the settings and the colour boxes hold them, and
// become a QColor only at the painter.
constexpr int kColorBlack = 0x000000;
constexpr int kColorGray = 0x808080;
constexpr int kColorWhite = 0xFFFFFF;
constexpr int kColorRed = 0x0000FF;
constexpr int kColorBlue = 0xFF0000;
inline QColor ToQColor(int color) { return QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF); }

// Control alignment inside the parent, as the owner sets it.
enum TAlign : quint8 { alNone = 0, alTop, alBottom, alLeft, alRight, alClient };

// Edges of a box as the canvas fills it: left and top inside, right and bottom just outside.
struct TGraphRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  friend bool operator==(const TGraphRect &, const TGraphRect &) = default;
};

// The fifteen curves are numbered 1..15; arrays indexed by curve number keep slot 0 unused.
constexpr int kCurveCount = 15;
// Curves 1..10 hold data; 11..15 are reserved for fit lines.
constexpr int kDataCurveCount = 10;
constexpr int kMaxFits = kCurveCount - kDataCurveCount;

struct TGraphPoint {
  double x = 0;
  double y = 0;
  double y2 = 0;
  // Pixel column and rows, rewritten at every render.
  int px = 0;
  int py = 0;
  int py2 = 0;
  quint8 selected_y = 0;
  quint8 selected_y2 = 0;
  // Marker boxes, rewritten at every render; hit-testing and selection test against them.
  TGraphRect y_box;
  TGraphRect y2_box;
};

struct TCurve {
  std::vector<TGraphPoint> points;
  // Extremes of every point added since the curve was last cleared (kept by AddPoint).
  double max_x = 0;
  double min_x = 0;
  double max_y = 0;
  double min_y = 0;
  double max_y2 = 0;
  double min_y2 = 0;
};
using TCurves = std::array<TCurve, kCurveCount + 1>;

struct TCurveStyle {
  int line_color = kColorBlack;
  int pen_width = 1;
  int marker_color = kColorBlack;
  quint8 show_lines = 1;
  quint8 show_points = 1;
  int marker_size = 6;
};

struct TQAxis {
  int line_width = 2;
  int line_color = kColorBlack;
  int tick_label_color = kColorBlack;
  double MinVal = 0;
  double MaxVal = 0;
  int DecimalCount = 0;
  QString Title;
  TQAxisStyle Style = Linear;
  quint8 show_major_grid = 1;
  int major_grid_color = kColorBlack;
  quint8 major_grid_style = 0;
  int major_grid_width = 1;
  int MajInc = 0;
  quint8 show_minor_grid = 1;
  int minor_grid_color = kColorGray;
  quint8 minor_grid_style = 0;
  int minor_grid_width = 1;
  int MinInc = 1;
  int pixels_per_major = 0;
  double value_per_major = 0;
  quint8 show_title = 1;
  int TitleFontSize = 10;
  int tick_label_font_size = 8;
  quint8 AutoRange = 0;
  int Range = 0;
  QString Units;
  quint8 ShowUnits = 0;
  std::array<TCurveStyle, kCurveCount + 1> curve; // by curve number; meaningful on y and y2
  int gapA = 5;
  int gapB = 5;
  // Set by ComputeRanges while the graph rounds its ticks: the axis is drawn from round_min to
  // round_max in round_divisions steps of round_step. MinVal, MaxVal and MajInc keep what was
  // set, so zooming, panning and Graph Setup go on from those.
  quint8 rounded = 0;
  double round_min = 0;
  double round_max = 0;
  double round_step = 0;
  int round_divisions = 0;
};

// Where a linear axis is drawn from and to, and in how many major divisions.
inline double AxisMin(const TQAxis &a) { return a.rounded ? a.round_min : a.MinVal; }
inline double AxisMax(const TQAxis &a) { return a.rounded ? a.round_max : a.MaxVal; }
inline int AxisDivisions(const TQAxis &a) { return a.rounded ? a.round_divisions : a.MajInc; }

struct TQGraphArea {
  int background_color = kColorWhite;
  int plot_background_color = kColorWhite;
  TGraphRect margins;
  TGraphRect plot;
  TQAxis y;
  TQAxis y2;
  TQAxis x;
  QString Title;
  QString Subtitle;
  // Axis titles as drawn, with the unit suffix.
  QString x_title;
  QString y_title;
  QString y2_title;
  int TitleFontSize = 16;
  QFont TitleFont;
  int TitleAlign = 0;
  int SubtitleFontSize = 10;
  QFont SubTitleFont;
  quint8 SubTitleAlign = 0;
  quint8 showY2Axis = 0;
  int gap0 = 5;
  int gap1 = 5;
  int gap2 = 5;
  int yLineWidth = 0;
  int y2LineWidth = 0;
  // Graph Setup's "Round tick values (1, 2, 5)": linear axes widened to whole round steps.
  quint8 round_ticks = 0;
};

struct TQLabel {
  int X = 0;
  int Y = 0;
  QString Text;
  quint8 Selected = 0;
  int line_color = kColorBlack;
  quint8 ShowLine = 0;
};

struct TMouseData {
  int sweep = 0;
  int point_number = 0;
  int axis = 0;
  double x = 0;
  double value = 0;
};

// The settings a new control starts with.
TQGraphArea DefaultGraphArea();

// SI prefix letter of an axis Range ("u" for -2); none outside -4..3.
QString RangePrefix(int range);
// Display factor 10^(-3 Range): values are shown multiplied by it.
double RangeFactor(int range);

// True when any of the data curves 1..10 holds a point.
bool GraphHasData(const TCurves &curves);

// Round ticks for min..max: the smallest step of 1, 2 or 5 x 10^n that holds the span in at
// most `most` whole steps (in two where no step holds it in one), and the limits widened to those
// steps. Not ok for a span that is empty, not finite, or too fine for the values' precision.
struct TRoundTicks {
  bool ok = false;
  double min = 0;
  double max = 0;
  double step = 0;
  int divisions = 0;
};
TRoundTicks RoundTicks(double min, double max, int most);

// Auto-ranging and clamping of the three axes (everything before the layout), then, when the
// graph rounds its ticks, the round limits of its linear axes.
void ComputeRanges(TQGraphArea &area, const TCurves &curves);

// Division sizes; pulls the plot's right and top edges in to whole divisions.
void ComputeDivisions(TQGraphArea &area);

// Pixel column, rows and marker boxes of one point for the current ranges and plot rectangle.
void ValueToPixel(const TQGraphArea &area, TGraphPoint &point, int marker_size);
// Inverse of the x and y mapping (the y2 axis has none).
void PixelToValue(const TQGraphArea &area, int px, int py, double &x, double &y);

// Value written at major tick r of an axis (already multiplied by the display factor). A
// logarithmic axis with a MinVal that is not positive gets a stored start first.
double TickValue(TQAxis &axis, int r, bool log);
QString TickText(TQAxis &axis, int r, bool log);

// Title + " (" + prefix + units + ")" when units are shown; untouched when the title is hidden.
void ComposeAxisTitle(const TQAxis &axis, QString &composed);

// A value as the read-out shows it: axis 1 x, 2 y, 3 y2; empty for any other axis.
QString FormatAxisValue(const TQGraphArea &area, int axis, double value);

// Text sizes in the canvas font at a given point size.
class TTextMeasure {
public:
  virtual ~TTextMeasure() = default;
  virtual int TextWidth(const QString &text, int size) const = 0;
  virtual int TextHeight(const QString &text, int size) const = 0;
};

// Margins, composed titles, plot rectangle and divisions for a client of width x height.
void ComputeLayout(TQGraphArea &area, int width, int height, const TTextMeasure &measure);

// Everything the control rescales when its size changes.
struct TGraphScaling {
  int previous_width = 0;
  int previous_height = 0;
  int sample_line_length = 50;
};
// Fonts, gaps, pen widths and marker sizes of curves 1..9, label positions and the sample-line
// length for a control now width x height.
void RescaleGraph(TQGraphArea &area, std::vector<TQLabel> &labels, TGraphScaling &scaling, int width,
                  int height);
