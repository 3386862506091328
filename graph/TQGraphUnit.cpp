#include "TQGraphUnit.h"

#include "NumberConversion.h"
#include "TAxisDlgUnit.h"
#include "TLabelDialogUnit.h"

#include <QAction>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPaintEngine>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QResizeEvent>
#include <QWheelEvent>
#include <QtMath>

#include <algorithm>
#include <cmath>

namespace {

// The back buffer is a 96 dpi canvas, so point sizes come out as on the desktop the sizes were
// chosen for.
constexpr int kDotsPerMeter = 3780;
constexpr int kCanvasDpi = 96;

// `size` in screen pixels; on a scaled screen (a device pixel ratio above 1) the canvas has as
// many more pixels, so lines and text are drawn at the screen's resolution, not blown up.
QImage make_canvas(QSize size, qreal ratio = 1) {
  QImage image(std::max(qCeil(size.width() * ratio), 1), std::max(qCeil(size.height() * ratio), 1),
               QImage::Format_RGB32);
  image.setDevicePixelRatio(ratio);
  image.setDotsPerMeterX(kDotsPerMeter);
  image.setDotsPerMeterY(kDotsPerMeter);
  return image;
}

Qt::PenStyle to_pen_style(quint8 style) {
  switch (style) {
  case 1: return Qt::DashLine;
  case 2: return Qt::DotLine;
  case 3: return Qt::DashDotLine;
  case 4: return Qt::DashDotDotLine;
  case 5: return Qt::NoPen;
  default: return Qt::SolidLine;
  }
}

// Device pixels per screen pixel of the canvas being drawn on (1 but on a scaled screen).
qreal pen_ratio = 1;

QPen make_pen(int color, int width, quint8 style = 0) {
  // Width 0 is the canvas's one-pixel line.
  QPen pen(ToQColor(color), std::max(width, 0), to_pen_style(style));
  if (pen_ratio != 1) {
    // On a scaled screen a width of 1.25 pixels would come out 1 or 2 pixels wide from line to
    // line: every line of one width gets the same whole number of device pixels.
    pen.setCosmetic(true);
    pen.setWidth(std::max(qRound(std::max(width, 1) * pen_ratio), 1));
  }
  pen.setCapStyle(Qt::FlatCap);
  pen.setJoinStyle(Qt::MiterJoin);
  return pen;
}

// A box given by its edges, right and bottom outside, as a QRect.
QRect to_qrect(const TGraphRect &r) { return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top); }

class CanvasMeasure : public TTextMeasure {
public:
  CanvasMeasure() : device_(make_canvas({1, 1})) {}
  int TextWidth(const QString &text, int size) const override {
    return QFontMetrics(GraphFont(size), &device_).horizontalAdvance(text);
  }
  int TextHeight(const QString &, int size) const override {
    return QFontMetrics(GraphFont(size), &device_).height();
  }

private:
  QImage device_;
};

// Text drawn black with its top-left at (x, y); opaque on `background` unless that is invalid.
void text_out(QPainter &p, int x, int y, const QString &text, const QColor &background) {
  const QFontMetrics fm(p.font(), p.device());
  if (background.isValid())
    p.fillRect(QRect(x, y, fm.horizontalAdvance(text), fm.height()), background);
  const QPen pen = p.pen();
  p.setPen(ToQColor(kColorBlack));
  p.drawText(QPoint(x, y + fm.ascent()), text);
  p.setPen(pen);
}

int text_width(QPainter &p, const QString &text) {
  return QFontMetrics(p.font(), p.device()).horizontalAdvance(text);
}
int text_height(QPainter &p) { return QFontMetrics(p.font(), p.device()).height(); }

// Text turned counter-clockwise by `angle` degrees about (x, y), on a clear background; at 90
// it reads upward from (x, y).
void DrawRotatedText(QPainter &p, int x, const QString &text, int angle, int y) {
  p.save();
  p.translate(x, y);
  p.rotate(-angle);
  p.setPen(ToQColor(kColorBlack));
  p.drawText(QPoint(0, QFontMetrics(p.font(), p.device()).ascent()), text);
  p.restore();
}

// The layout measures text on a 96 dpi canvas; on a device of another resolution (a printer, a
// PNG at a chosen dpi, whose painter is scaled to match) the font keeps that size in the
// painter's coordinates.
void set_canvas_font(QPainter &p, int size) {
  QFont font = GraphFont(size);
  const int dpi = p.device()->logicalDpiY();
  if (dpi != kCanvasDpi && dpi > 0)
    font.setPointSizeF(font.pointSizeF() * kCanvasDpi / dpi);
  p.setFont(font);
}

// An axis's range as the mouse moves it: zoomed by `factor` about `at`, or shifted by `shift`
// of its span; a logarithmic axis in decades. Only the graph's view changes, never the data.
void view_axis(TQAxis &axis, double at, double factor, double shift) {
  const bool log = axis.Style == Log && axis.MinVal > 0 && axis.MaxVal > 0 && at > 0;
  auto to = [log](double v) { return log ? std::log10(v) : v; };
  auto from = [log](double v) { return log ? std::pow(10.0, v) : v; };
  double lo = to(axis.MinVal), hi = to(axis.MaxVal);
  const double c = to(at);
  lo = c - (c - lo) * factor;
  hi = c + (hi - c) * factor;
  const double d = (hi - lo) * shift;
  const double new_lo = from(lo + d), new_hi = from(hi + d);
  if (!std::isfinite(new_lo) || !std::isfinite(new_hi) || !(new_hi > new_lo))
    return;
  axis.MinVal = new_lo;
  axis.MaxVal = new_hi;
  axis.AutoRange = 0;
}

// The drawn span of a rounded axis as a share of its own: a pan of so many pixels moves the
// axis by the value those pixels show.
double drawn_share(const TQAxis &axis) {
  const double share = (AxisMax(axis) - AxisMin(axis)) / (axis.MaxVal - axis.MinVal);
  return axis.rounded && std::isfinite(share) && share > 0 ? share : 1;
}

} // namespace

QFont GraphFont(int size) {
  // fontconfig maps Arial to Liberation Sans already; the substitution makes it explicit for
  // machines whose configuration does not.
  static const bool substituted = [] {
    QFont::insertSubstitution(QStringLiteral("ARIAL"), QStringLiteral("Liberation Sans"));
    return true;
  }();
  (void)substituted;
  QFont font(QStringLiteral("ARIAL"));
  font.setPointSize(std::max(size, 1));
  return font;
}

const TTextMeasure &GraphTextMeasure() {
  static const CanvasMeasure measure;
  return measure;
}

int TGraphModals::ShowAxisDialog(TAxisDlg &dialog) { return dialog.exec(); }

int TGraphModals::ShowLabelDialog(TLabelDialog &dialog) { return dialog.exec(); }

bool TGraphModals::Confirm(QWidget *owner, const QString &text, const QString &caption) {
  QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Ok | QMessageBox::Cancel, owner);
  return box.exec() == QMessageBox::Ok;
}

void TGraphModals::Inform(QWidget *owner, const QString &text, const QString &caption) {
  QMessageBox box(QMessageBox::Information, caption, text, QMessageBox::Ok, owner);
  box.exec();
}

void TGraphModals::Popup(QMenu &menu, const QPoint &global_position) { menu.popup(global_position); }

namespace {
TGraphModals real_modals;
} // namespace

TQGraph::TQGraph(QWidget *parent) : QWidget(parent), area_(DefaultGraphArea()), modals_(&real_modals) {
  scaling_.previous_width = width();
  scaling_.previous_height = height();
  for (TCurve &c : curves_)
    c.points.reserve(100);
  labels_.reserve(100);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(true);
  axis_dialog_ = new TAxisDlg(this);
  create_menu();
}

TQGraph::~TQGraph() = default;

void TQGraph::AddPoint(int curve, double x, double y, double y2) {
  if (curve < 1 || curve > kCurveCount)
    return;
  never_had_data_ = false;
  TCurve &c = curves_[curve];
  if (c.points.empty()) {
    c.max_x = c.min_x = x;
    c.max_y = c.min_y = y;
    c.max_y2 = c.min_y2 = y2;
  }
  TGraphPoint p;
  p.x = x;
  p.y = y;
  p.y2 = y2;
  c.points.push_back(p);
  if (x > c.max_x)
    c.max_x = x;
  if (!(x >= c.min_x))
    c.min_x = x;
  if (y > c.max_y)
    c.max_y = y;
  if (!(y >= c.min_y))
    c.min_y = y;
  if (y2 > c.max_y2)
    c.max_y2 = y2;
  if (!(y2 >= c.min_y2))
    c.min_y2 = y2;
}

void TQGraph::ClearCurve(int curve) {
  if (curve < 1 || curve > kCurveCount)
    return;
  // Extremes stay; the next AddPoint resets them because the list is empty.
  std::vector<TGraphPoint> empty;
  empty.reserve(100);
  curves_[curve].points.swap(empty);
}

void TQGraph::SetYCurveColors(int curve, int line_color, int marker_color) {
  if (curve < 1 || curve > kDataCurveCount)
    return;
  area_.y.curve[curve].line_color = line_color;
  area_.y.curve[curve].marker_color = marker_color;
}

void TQGraph::SetY2CurveColors(int curve, int line_color, int marker_color) {
  if (curve < 1 || curve > kDataCurveCount)
    return;
  area_.y2.curve[curve].line_color = line_color;
  area_.y2.curve[curve].marker_color = marker_color;
}

void TQGraph::SetCurvePointsVisible(int curve, bool points_on_y, bool points_on_y2) {
  if (curve < 1 || curve > kDataCurveCount)
    return;
  area_.y.curve[curve].show_points = points_on_y;
  area_.y2.curve[curve].show_points = points_on_y2;
}

void TQGraph::Redraw() {
  RenderGraph();
  // The paint handler copies the frame just rendered instead of rendering it again.
  frame_ready_ = true;
  repaint();
  frame_ready_ = false;
}

void TQGraph::paintEvent(QPaintEvent *) {
  if (!frame_ready_)
    RenderGraph();
  QPainter p(this);
  p.drawImage(0, 0, back_buffer_);
}

void TQGraph::layout() {
  ComputeLayout(area_, width(), height(), GraphTextMeasure());
  const QSize size(std::max(width(), 1), std::max(height(), 1));
  const qreal ratio = devicePixelRatioF();
  if (size != buffer_size_ || back_buffer_.devicePixelRatio() != ratio) {
    back_buffer_ = make_canvas(size, ratio);
    buffer_size_ = size;
  }
  canvas_ = buffer_size_;
}

void TQGraph::RenderGraph() {
  ComputeRanges(area_, curves_);
  layout();
  QPainter p(&back_buffer_);
  p.fillRect(QRect(QPoint(), buffer_size_), ToQColor(area_.background_color));
  paint_layers(p);
}

void TQGraph::RenderTo(QPainter &p, QSize size) {
  if (back_buffer_.isNull())
    RenderGraph();
  if (size.isEmpty())
    size = buffer_size_;
  const bool resized = size != buffer_size_;
  // Another size is laid out as the window would be at that size; the screen's state comes back.
  const TQGraphArea area = area_;
  const std::vector<TQLabel> labels = labels_;
  const TGraphScaling scaling = scaling_;
  if (resized)
    RescaleGraph(area_, labels_, scaling_, size.width(), size.height());
  ComputeRanges(area_, curves_);
  ComputeLayout(area_, size.width(), size.height(), GraphTextMeasure());
  canvas_ = size;
  vector_output_ = p.paintEngine() && p.paintEngine()->type() != QPaintEngine::Raster;
  p.save();
  p.fillRect(QRect(QPoint(0, 0), size), ToQColor(area_.background_color));
  paint_layers(p);
  p.restore();
  vector_output_ = false;
  area_ = area;
  labels_ = labels;
  scaling_ = scaling;
  // The points' pixels and marker boxes are those of the screen again, for the mouse.
  if (resized)
    RenderGraph();
  canvas_ = buffer_size_;
}

void TQGraph::paint_layers(QPainter &p) {
  const qreal ratio = p.device() ? p.device()->devicePixelRatioF() : 1;
  const struct PenRatio {
    explicit PenRatio(qreal r) { pen_ratio = r; }
    ~PenRatio() { pen_ratio = 1; }
  } pen_ratio_guard(ratio);
  draw_grid(p);
  draw_curves(p);
  draw_margin_bands(p);
  draw_y_axis(p);
  draw_x_axis(p);
  // A level on the plot's edge (an auto-ranged flat top or bottom) lies under the frame line: the
  // curves go over it once more, kept within the frame.
  const TGraphRect &pl = area_.plot;
  const int w = std::max(area_.x.line_width, area_.y.line_width) / 2;
  p.save();
  p.setClipRect(QRect(QPoint(pl.left - w, pl.top - w), QPoint(pl.right + w, pl.bottom + w)));
  draw_curves(p, true);
  p.restore();
  draw_titles(p);
  draw_overlay(p);
}

void TQGraph::draw_grid(QPainter &p) {
  const TGraphRect &pl = area_.plot;
  TQAxis &x = area_.x;
  if (x.show_major_grid) {
    if (x.MinInc == 0)
      x.MinInc = 1;
    const int P = x.pixels_per_major;
    const int m = P / x.MinInc;
    auto line = [&](int X) { p.drawLine(X, pl.bottom - x.line_width, X, pl.top - x.line_width / 2); };
    for (int i = 0; i < AxisDivisions(x); ++i) {
      if (x.show_minor_grid) {
        p.setPen(make_pen(x.minor_grid_color, x.minor_grid_width, x.minor_grid_style));
        if (x.Style == Log)
          for (int j = 2; j <= 9; ++j)
            line(pl.left + i * P + static_cast<int>(std::nearbyint(std::log10(j) * P)));
        else
          for (int j = 1; j <= x.MinInc; ++j)
            line(pl.left + i * P + j * m);
      }
      p.setPen(make_pen(x.major_grid_color, x.major_grid_width, x.major_grid_style));
      line(pl.left + (i + 1) * P);
    }
  }
  TQAxis &y = area_.y;
  if (y.show_major_grid) {
    if (y.MinInc == 0)
      y.MinInc = 1;
    const int P = y.pixels_per_major;
    const int m = P / y.MinInc;
    auto line = [&](int Y) { p.drawLine(pl.left - y.line_width, Y, pl.right + y.line_width / 2, Y); };
    for (int i = 0; i < AxisDivisions(y); ++i) {
      if (y.show_minor_grid) {
        p.setPen(make_pen(y.minor_grid_color, y.minor_grid_width, y.minor_grid_style));
        if (y.Style == Log)
          for (int j = 2; j <= 9; ++j)
            line(pl.bottom + i * P + static_cast<int>(std::nearbyint(std::log10(j) * P)));
        else
          for (int j = 1; j <= y.MinInc; ++j)
            line(pl.bottom + i * P + j * m);
      }
      p.setPen(make_pen(y.major_grid_color, y.major_grid_width, y.major_grid_style));
      line(pl.bottom + (i + 1) * P);
    }
  }
}

void TQGraph::draw_curves(QPainter &p, bool lines_only) {
  p.setBrush(Qt::NoBrush);
  for (int n = 1; n <= kCurveCount; ++n) {
    std::vector<TGraphPoint> &points = curves_[n].points;
    if (points.empty())
      continue;
    const int marker_size = area_.y.curve[n].marker_size;
    for (TGraphPoint &pt : points)
      ValueToPixel(area_, pt, marker_size);

    auto pass = [&](const TCurveStyle &style, int line_width, int TGraphPoint::*row,
                    TGraphRect TGraphPoint::*box, quint8 TGraphPoint::*selected) {
      p.setPen(make_pen(style.line_color, line_width));
      const QColor marker = ToQColor(style.marker_color);
      QPoint previous;
      bool first = true;
      // A vector picture gets each curve's line as one path, drawn over its markers.
      QPainterPath path;
      for (const TGraphPoint &pt : points) {
        const QPoint here(pt.px, pt.*row);
        // The marker goes down before the line reaches its point.
        if (style.show_points && !lines_only) {
          const QRect r = to_qrect(pt.*box);
          if (pt.*selected) {
            p.fillRect(QRect(r.left(), r.top(), r.width(), 1), marker);
            p.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), marker);
            p.fillRect(QRect(r.left(), r.top(), 1, r.height()), marker);
            p.fillRect(QRect(r.right(), r.top(), 1, r.height()), marker);
          } else {
            p.fillRect(r, marker);
          }
        }
        if (vector_output_ && style.show_lines) {
          if (first)
            path.moveTo(here);
          else
            path.lineTo(here);
        } else if (!first && style.show_lines) {
          p.drawLine(previous, here);
        }
        previous = here;
        first = false;
      }
      if (!path.isEmpty())
        p.drawPath(path);
    };
    pass(area_.y.curve[n], area_.yLineWidth, &TGraphPoint::py, &TGraphPoint::y_box, &TGraphPoint::selected_y);
    if (area_.showY2Axis)
      pass(area_.y2.curve[n], area_.y2LineWidth, &TGraphPoint::py2, &TGraphPoint::y2_box,
           &TGraphPoint::selected_y2);
  }
}

void TQGraph::draw_margin_bands(QPainter &p) {
  // Erases whatever the curves drew outside the plot rectangle.
  const QColor bg = ToQColor(area_.background_color);
  const TGraphRect &pl = area_.plot;
  const int w = canvas_.width(), h = canvas_.height();
  p.fillRect(to_qrect({0, pl.bottom, w, h}), bg);
  p.fillRect(to_qrect({0, 0, w, pl.top}), bg);
  p.fillRect(to_qrect({0, 0, pl.left, h}), bg);
  p.fillRect(to_qrect({pl.right, 0, w, h}), bg);
}

void TQGraph::draw_y_axis(QPainter &p) {
  const TGraphRect &pl = area_.plot;
  const QColor bg = ToQColor(area_.background_color);
  const bool log = area_.y.Style == Log;
  TQAxis &y = area_.y;
  p.setPen(make_pen(y.line_color, y.line_width));
  p.drawLine(pl.left, pl.bottom, pl.left, pl.top);

  int title_height = 0;
  if (y.show_title) {
    set_canvas_font(p, y.TitleFontSize);
    title_height = text_height(p);
    DrawRotatedText(p, area_.gap0, area_.y_title, 90,
                    (pl.bottom + pl.top) / 2 + text_width(p, area_.y_title) / 2);
  }
  p.setPen(make_pen(y.tick_label_color, 1));
  set_canvas_font(p, y.tick_label_font_size);
  const int half = text_height(p) / 2;
  for (int r = 0; r <= AxisDivisions(y); ++r)
    text_out(p, area_.gap0 + title_height + y.gapA, pl.bottom + r * y.pixels_per_major - half,
             TickText(y, r, log), bg);

  if (!area_.showY2Axis)
    return;
  TQAxis &y2 = area_.y2;
  p.setPen(make_pen(y2.tick_label_color, 1));
  set_canvas_font(p, y2.tick_label_font_size);
  const int half2 = text_height(p) / 2;
  int last_width = 0;
  for (int r = 0; r <= AxisDivisions(y); ++r) {
    const QString text = TickText(y2, r, log);
    text_out(p, pl.right + y2.gapA, pl.bottom + r * y.pixels_per_major - half2, text, bg);
    last_width = text_width(p, text);
  }
  if (y2.show_title) {
    set_canvas_font(p, y2.TitleFontSize);
    DrawRotatedText(p, pl.right + y2.gapA + last_width + y2.gapB, area_.y2_title, 90,
                    (pl.bottom + pl.top) / 2 + text_width(p, area_.y2_title) / 2);
  }
}

void TQGraph::draw_x_axis(QPainter &p) {
  const TGraphRect &pl = area_.plot;
  const QColor bg = ToQColor(area_.background_color);
  TQAxis &x = area_.x;
  const int w = x.line_width;
  p.setPen(make_pen(x.line_color, w));
  p.setBrush(Qt::NoBrush);
  const QPoint frame[] = {
      {pl.left - w / 2, pl.bottom}, {pl.right, pl.bottom}, {pl.right, pl.top}, {pl.left - w / 2, pl.top}};
  p.drawPolyline(frame, 4);

  const int H = canvas_.height();
  set_canvas_font(p, x.TitleFontSize);
  text_out(p, (pl.left + pl.right) / 2 - text_width(p, area_.x_title) / 2, H - text_height(p) - area_.gap0,
           area_.x_title, bg);

  p.setPen(make_pen(x.tick_label_color, 1));
  set_canvas_font(p, x.tick_label_font_size);
  const int row = H - area_.gap0 - text_height(p) - x.gapB - text_height(p);
  const bool log = x.Style == Log;
  for (int r = 0; r <= AxisDivisions(x); ++r) {
    const QString text = TickText(x, r, log);
    text_out(p, pl.left + r * x.pixels_per_major - text_width(p, text) / 2, row, text, bg);
  }
}

void TQGraph::draw_titles(QPainter &p) {
  const TGraphRect &pl = area_.plot;
  const QColor bg = ToQColor(area_.background_color);
  set_canvas_font(p, area_.TitleFontSize);
  const int title_height = text_height(p);
  text_out(p, (pl.left + pl.right - text_width(p, area_.Title)) / 2, 5, area_.Title, bg);
  set_canvas_font(p, area_.SubtitleFontSize);
  text_out(p, (pl.left + pl.right - text_width(p, area_.Subtitle)) / 2, title_height + 10, area_.Subtitle,
           bg);
}

void TQGraph::draw_overlay(QPainter &p) {
  // The font stays at the subtitle size.
  const QColor white = ToQColor(kColorWhite);
  p.setPen(QPen(ToQColor(kColorBlack), 2));
  p.setBrush(white);
  if (readout_visible_)
    text_out(p, readout_position_.x(), readout_position_.y(), readout_text_, white);
  for (const TQLabel &label : labels_) {
    const TGraphRect box = LabelRect(label);
    if (label.Selected) {
      p.setPen(QPen(ToQColor(kColorBlack), 2));
      p.setBrush(white);
      p.drawRect(to_qrect(box));
    }
    if (label.ShowLine) {
      p.setPen(make_pen(label.line_color, 2));
      p.fillRect(to_qrect(box), white);
      const int row = (box.top + box.bottom) / 2;
      p.drawLine(box.left + 1, row, box.left + scaling_.sample_line_length - 1, row);
    }
    text_out(p, label.X, label.Y, label.Text, white);
  }
}

void TQGraph::apply_align() {
  QWidget *parent = parentWidget();
  if (!parent || in_align_)
    return;
  QRect g = geometry();
  switch (align_) {
  case alLeft: g = QRect(0, 0, width(), parent->height()); break;
  case alRight: g = QRect(parent->width() - width(), 0, width(), parent->height()); break;
  case alClient: g = QRect(0, 0, parent->width(), parent->height()); break;
  default: return;
  }
  if (g == geometry())
    return;
  in_align_ = true;
  setGeometry(g);
  in_align_ = false;
}

void TQGraph::resizeEvent(QResizeEvent *event) {
  QWidget::resizeEvent(event);
  if (in_align_)
    return;
  apply_align();
  RescaleGraph(area_, labels_, scaling_, width(), height());
}

// ---- Interaction ----

namespace {

bool inside(const TGraphRect &r, const QPoint &p) {
  return r.left <= p.x() && p.x() <= r.right && r.top <= p.y() && p.y() <= r.bottom;
}

// General format with 4 significant digits; where it needs an exponent, at least 4 exponent
// digits ("1.5E-0007").
QString fit_number(double v) {
  QString text = float_to_general(v, 4, locale_decimal_separator());
  const qsizetype e = text.indexOf(u'E');
  if (e < 0)
    return text;
  qsizetype digits = e + 1;
  if (digits < text.size() && (text[digits] == u'-' || text[digits] == u'+'))
    ++digits;
  const qsizetype count = text.size() - digits;
  if (count < 4)
    text.insert(digits, QString(4 - count, u'0'));
  return text;
}

} // namespace

void TQGraph::setModals(TGraphModals *modals) { modals_ = modals ? modals : &real_modals; }

TLabelDialog &TQGraph::LabelDialog() {
  if (!label_dialog_)
    label_dialog_ = new TLabelDialog(this);
  return *label_dialog_;
}

void TQGraph::create_menu() {
  static const char *const captions[kGraphMenuItems] = {
      "Graph Setup (Ctrl+S)", "Add Label (Ctrl+A)", "Edit Label",   "Delete Label",
      "Linear Curve Fit",     "Remove Curve Fit",   "Delete Curve", "Deselect Data",
      "Zoom To Fit (Ctrl+E)", "Zoom Out (Ctrl+B)"};
  void (TQGraph::*const commands[kGraphMenuItems])() = {
      &TQGraph::GraphSetup,     &TQGraph::AddLabel,       &TQGraph::EditLabel,   &TQGraph::DeleteLabel,
      &TQGraph::LinearCurveFit, &TQGraph::RemoveCurveFit, &TQGraph::DeleteCurve, &TQGraph::DeselectData,
      &TQGraph::ZoomToFit,      &TQGraph::ZoomOut};
  menu_ = new QMenu(this);
  for (int i = 0; i < kGraphMenuItems; ++i) {
    items_[i] = menu_->addAction(QString::fromLatin1(captions[i]));
    connect(items_[i], &QAction::triggered, this, commands[i]);
    items_[i]->setVisible(i == miGraphSetup || i == miAddLabel || i == miZoomOut);
  }
  menu_->setDefaultAction(items_[miGraphSetup]);
}

TGraphRect TQGraph::LabelRect(const TQLabel &label) const {
  // Measured in the font the overlay leaves on the canvas.
  const TTextMeasure &m = GraphTextMeasure();
  const int size = area_.SubtitleFontSize;
  return {label.X - 5 - (label.ShowLine ? scaling_.sample_line_length : 0), label.Y - 5,
          label.X + m.TextWidth(label.Text, size) + 5, label.Y + m.TextHeight(label.Text, size) + 5};
}

bool TQGraph::KeyDown(int key, Qt::KeyboardModifiers modifiers) {
  if (!(modifiers & Qt::ControlModifier))
    return false;
  switch (key) {
  case Qt::Key_B: ZoomOut(); return true;
  case Qt::Key_E: ZoomToFit(); return true;
  case Qt::Key_A: AddLabel(); return true;
  case Qt::Key_S: GraphSetup(); return true;
  default: return false;
  }
}

void TQGraph::keyPressEvent(QKeyEvent *event) {
  // A key the graph used goes no further: its owner would otherwise act on it a second time.
  if (KeyDown(event->key(), event->modifiers()))
    event->accept();
  else
    QWidget::keyPressEvent(event);
}

void TQGraph::mousePressEvent(QMouseEvent *event) {
  const QPoint pos = event->position().toPoint();
  if (event->button() == Qt::RightButton) {
    last_mouse_ = pos;
    items_[miEditLabel]->setVisible(false);
    items_[miDeleteLabel]->setVisible(false);
    // The last label hit wins: it is the one drawn on top.
    for (int i = 0; i < int(labels_.size()); ++i)
      if (inside(LabelRect(labels_[i]), pos)) {
        items_[miEditLabel]->setVisible(true);
        items_[miDeleteLabel]->setVisible(true);
        clicked_label_ = i;
      }
    modals_->Popup(*menu_, event->globalPosition().toPoint());
    return;
  }
  if (event->button() == Qt::MiddleButton && !never_had_data_) {
    panning_ = true;
    last_mouse_ = pos;
    return;
  }
  if (event->button() != Qt::LeftButton)
    return;
  bool hit = false;
  for (TQLabel &label : labels_) {
    label.Selected = inside(LabelRect(label), pos);
    hit = hit || label.Selected;
  }
  if (hit) {
    dragging_labels_ = true;
  } else {
    const TGraphRect &pl = area_.plot;
    const int x = std::clamp(pos.x(), std::min(pl.left, pl.right), std::max(pl.left, pl.right));
    const int y = std::clamp(pos.y(), std::min(pl.top, pl.bottom), std::max(pl.top, pl.bottom));
    rubber_band_ = true;
    band_ = {x, y, x, y};
  }
  Redraw();
  last_mouse_ = pos;
}

void TQGraph::draw_band(QPainter &p, bool erase) {
  if (band_.left == band_.right && band_.top == band_.bottom)
    return;
  p.setCompositionMode(erase ? QPainter::RasterOp_NotSourceXorDestination
                             : QPainter::CompositionMode_SourceOver);
  p.setPen(QPen(ToQColor(kColorBlack), 1, Qt::DashLine));
  p.setBrush(Qt::NoBrush);
  p.drawRect(QRect(QPoint(band_.left, band_.top), QPoint(band_.right, band_.bottom)).normalized());
  p.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

void TQGraph::show_frame() {
  frame_ready_ = true;
  repaint();
  frame_ready_ = false;
}

void TQGraph::mouseMoveEvent(QMouseEvent *event) {
  const QPoint pos = event->position().toPoint();
  if (panning_ && (event->buttons() & Qt::MiddleButton)) {
    // The data follows the mouse.
    const TGraphRect &pl = area_.plot;
    const QPoint d = pos - last_mouse_;
    last_mouse_ = pos;
    if (pl.right != pl.left)
      view_axis(area_.x, area_.x.MinVal, 1, -double(d.x()) / (pl.right - pl.left) * drawn_share(area_.x));
    if (pl.top != pl.bottom)
      view_axis(area_.y, area_.y.MinVal, 1, -double(d.y()) / (pl.top - pl.bottom) * drawn_share(area_.y));
    set_zoomed();
    return;
  }
  if (event->buttons() & Qt::LeftButton) {
    if (dragging_labels_) {
      const QPoint d = pos - last_mouse_;
      for (TQLabel &label : labels_)
        if (label.Selected) {
          label.X += d.x();
          label.Y += d.y();
          Redraw();
        }
    } else if (rubber_band_) {
      // Repaint the layers over the frame without re-ranging, then move the band outline.
      QPainter p(&back_buffer_);
      paint_layers(p);
      draw_band(p, true);
      const TGraphRect &pl = area_.plot;
      band_.right = std::clamp(pos.x(), std::min(pl.left, pl.right), std::max(pl.left, pl.right));
      band_.bottom = std::clamp(pos.y(), std::min(pl.top, pl.bottom), std::max(pl.top, pl.bottom));
      draw_band(p, false);
      p.end();
      show_frame();
    }
    last_mouse_ = pos;
    return;
  }
  if (readout_frozen_) {
    hide_readout();
    return;
  }
  TMouseData hit;
  if (!HitTestData(pos.x(), pos.y(), hit)) {
    items_[miDeleteCurve]->setVisible(false);
    hide_readout();
    return;
  }
  hovered_curve_ = hit.sweep;
  items_[miDeleteCurve]->setVisible(true);
  readout_text_ = FormatAxisValue(area_, 1, hit.x) + QStringLiteral(", ") +
                  FormatAxisValue(area_, hit.axis + 1, hit.value);
  const TTextMeasure &m = GraphTextMeasure();
  const int tw = m.TextWidth(readout_text_, area_.SubtitleFontSize);
  const int th = m.TextHeight(readout_text_, area_.SubtitleFontSize);
  const int rx = pos.x() > width() / 2 ? pos.x() - tw - 10 : pos.x() + 10;
  const int ry = pos.y() > height() / 2 ? pos.y() - th : pos.y();
  readout_position_ = QPoint(rx, std::max(ry, th));
  readout_visible_ = true;
  mouse_data_ = hit;
  emit OnMouseOverData(this);
  Redraw();
}

void TQGraph::hide_readout() {
  if (!readout_visible_)
    return;
  readout_visible_ = false;
  emit OnMouseExitData(this);
  Redraw();
}

void TQGraph::mouseReleaseEvent(QMouseEvent *event) {
  if (event->button() == Qt::MiddleButton)
    panning_ = false;
  if (event->button() != Qt::LeftButton)
    return;
  bool changed = false;
  if (dragging_labels_) {
    for (TQLabel &label : labels_)
      label.Selected = 0;
    dragging_labels_ = false;
    changed = true;
  }
  if (rubber_band_) {
    rubber_band_ = false;
    changed = true;
    if (event->modifiers() & Qt::ShiftModifier) {
      SelectInBox(true);
      items_[miLinearCurveFit]->setVisible(data_selected_);
      items_[miDeselectData]->setVisible(data_selected_);
    } else if (std::abs(band_.right - band_.left) > 10 && std::abs(band_.bottom - band_.top) > 10) {
      items_[miZoomToFit]->setVisible(true);
      zoomed_ = true;
      double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
      PixelToValue(area_, std::min(band_.left, band_.right), std::max(band_.top, band_.bottom), x0, y0);
      PixelToValue(area_, std::max(band_.left, band_.right), std::min(band_.top, band_.bottom), x1, y1);
      area_.x.MinVal = x0;
      area_.y.MinVal = y0;
      area_.x.MaxVal = x1;
      area_.y.MaxVal = y1;
      area_.x.AutoRange = 0;
      area_.y.AutoRange = 0;
    }
  }
  if (changed)
    Redraw();
}

void TQGraph::mouseDoubleClickEvent(QMouseEvent *) {
  // Zoomed, a double-click goes back to the whole data; otherwise it freezes the read-out.
  if (zoomed_)
    ZoomToFit();
  else
    readout_frozen_ = !readout_frozen_;
}

void TQGraph::set_zoomed() {
  zoomed_ = true;
  items_[miZoomToFit]->setVisible(true);
  Redraw();
}

void TQGraph::wheelEvent(QWheelEvent *event) {
  const int delta = event->angleDelta().y();
  if (never_had_data_ || delta == 0) {
    event->ignore();
    return;
  }
  // One notch of the wheel (120) shows 80 % of the span, about the value under the cursor.
  const double factor = std::pow(0.8, delta / 120.0);
  const QPoint pos = event->position().toPoint();
  double x = 0, y = 0;
  PixelToValue(area_, pos.x(), pos.y(), x, y);
  view_axis(event->modifiers() & Qt::ControlModifier ? area_.y : area_.x,
            event->modifiers() & Qt::ControlModifier ? y : x, factor, 0);
  set_zoomed();
}

bool TQGraph::HitTestData(int x, int y, TMouseData &hit) const {
  const QPoint at(x, y);
  bool found = false;
  for (int n = 1; n <= kDataCurveCount; ++n) {
    const std::vector<TGraphPoint> &points = curves_[n].points;
    // Later points and curves replace earlier hits.
    if (area_.y.curve[n].show_points)
      for (size_t k = 0; k < points.size(); ++k)
        if (inside(points[k].y_box, at)) {
          hit = {n, int(k) + 1, 1, points[k].x, points[k].y};
          found = true;
        }
    if (!found && area_.y2.curve[n].show_points)
      for (size_t k = 0; k < points.size(); ++k)
        if (inside(points[k].y2_box, at)) {
          hit = {n, int(k) + 1, 2, points[k].x, points[k].y2};
          found = true;
        }
  }
  return found;
}

QString TQGraph::MouseDataString() const {
  const TMouseData &d = mouse_data_;
  return QStringLiteral("sweep:%1,axis:%2,data:%3,x:%4,y:%5")
      .arg(d.sweep)
      .arg(d.axis)
      .arg(d.point_number / 2)
      .arg(FormatAxisValue(area_, 1, d.x), FormatAxisValue(area_, d.axis + 1, d.value));
}

void TQGraph::SelectInBox(bool additive) {
  // The band as dragged: only one dragged rightward and downward can contain a box.
  auto in_band = [this](const TGraphRect &b) {
    return b.left >= band_.left && b.right <= band_.right && b.top >= band_.top && b.bottom <= band_.bottom;
  };
  data_selected_ = false;
  for (int n = 1; n <= kDataCurveCount; ++n)
    for (TGraphPoint &pt : curves_[n].points) {
      if (area_.y.curve[n].show_points) {
        if (in_band(pt.y_box))
          pt.selected_y = 1;
        else if (!additive)
          pt.selected_y = 0;
      }
      if (area_.showY2Axis && area_.y2.curve[n].show_points) {
        if (in_band(pt.y2_box))
          pt.selected_y2 = 1;
        else if (!additive)
          pt.selected_y2 = 0;
      }
      // Earlier groups of an additive selection still count.
      if (pt.selected_y || pt.selected_y2)
        data_selected_ = true;
    }
}

void TQGraph::GraphSetup() {
  axis_dialog_->Settings = area_;
  modals_->ShowAxisDialog(*axis_dialog_);
  const bool changed = !axis_dialog_->Cancelled;
  if (changed)
    area_ = axis_dialog_->Settings;
  Redraw();
  if (changed)
    emit GraphSetupChanged();
}

void TQGraph::AddLabel() {
  TLabelDialog &d = LabelDialog();
  if (modals_->ShowLabelDialog(d) == QDialog::Accepted) {
    TQLabel label;
    label.X = last_mouse_.x();
    label.Y = last_mouse_.y();
    label.Text = d.LabelText();
    label.ShowLine = d.ShowLine();
    label.line_color = d.LineColor();
    labels_.push_back(label);
  }
  Redraw();
}

void TQGraph::EditLabel() {
  // The remembered label may have gone since the right-click (fits removed, label deleted).
  if (clicked_label_ < 0 || clicked_label_ >= int(labels_.size()))
    return;
  TLabelDialog &d = LabelDialog();
  TQLabel &label = labels_[clicked_label_];
  d.setLabelText(label.Text);
  d.setShowLine(label.ShowLine);
  d.setLineColor(label.line_color);
  if (modals_->ShowLabelDialog(d) == QDialog::Accepted) {
    TQLabel &edited = labels_[clicked_label_];
    edited.Text = d.LabelText();
    edited.ShowLine = d.ShowLine();
    edited.line_color = d.LineColor();
  }
  Redraw();
}

void TQGraph::DeleteLabel() {
  if (clicked_label_ >= 0 && clicked_label_ < int(labels_.size()))
    labels_.erase(labels_.begin() + clicked_label_);
  clicked_label_ = -1;
  Redraw();
}

void TQGraph::LinearCurveFit() {
  if (!data_selected_ || !any_point_selected()) {
    modals_->Inform(this, QStringLiteral("No data points are selected: drag a box around the points to fit."),
                    QStringLiteral("Linear Curve Fit"));
    return;
  }
  if (data_selected_) {
    fit();
    items_[miLinearCurveFit]->setVisible(false);
    items_[miRemoveCurveFit]->setVisible(true);
  }
  Redraw();
}

void TQGraph::fit() {
  if (fit_count_ >= kMaxFits)
    return;
  ++fit_count_;
  double n = 0, sx = 0, sy = 0, sxy = 0, sxx = 0;
  double x_lo = qInf(), x_hi = -qInf();
  auto take = [&](double x, double y) {
    n += 1;
    sx += x;
    sy += y;
    sxy += x * y;
    sxx += x * x;
    x_lo = std::min(x_lo, x);
    x_hi = std::max(x_hi, x);
  };
  for (int c = 1; c <= kDataCurveCount; ++c)
    for (const TGraphPoint &pt : curves_[c].points) {
      if (pt.selected_y)
        take(pt.x, pt.y);
      if (pt.selected_y2)
        take(pt.x, pt.y2);
    }
  TQLabel label;
  label.X = buffer_size_.width() / 2;
  label.Y = buffer_size_.height() / 2;
  const double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
  const double intercept = (sy - slope * sx) / n;
  if (n > 0 && x_lo < x_hi && std::isfinite(slope) && std::isfinite(intercept)) {
    const double x0 = AxisMin(area_.x), x1 = AxisMax(area_.x);
    AddPoint(kDataCurveCount + fit_count_, x0, slope * x0 + intercept, 0);
    AddPoint(kDataCurveCount + fit_count_, x1, slope * x1 + intercept, 0);
    label.Text =
        QStringLiteral("Slope=") + fit_number(slope) + QStringLiteral(", Intercept=") + fit_number(intercept);
  } else {
    // Points all at one x have no line of the form y = a x + b: no line, and a label saying why.
    // It still counts as a fit, so Remove Curve Fit takes its label away.
    label.Text = n > 0 ? QStringLiteral("Slope=undefined, Intercept=undefined (all points at x=%1)")
                             .arg(fit_number(x_lo))
                       : QStringLiteral("Slope=undefined, Intercept=undefined (no points selected)");
  }
  labels_.push_back(label);
}

void TQGraph::RemoveCurveFit() {
  for (int c = kDataCurveCount + 1; c <= kDataCurveCount + fit_count_; ++c)
    ClearCurve(c);
  fit_count_ = 0;
  items_[miLinearCurveFit]->setVisible(data_selected_);
  items_[miRemoveCurveFit]->setVisible(false);
  std::erase_if(labels_, [](const TQLabel &l) { return l.Text.contains(QStringLiteral("Slope")); });
  clicked_label_ = -1;
  Redraw();
}

void TQGraph::DeleteCurve() {
  if (modals_->Confirm(this, QStringLiteral("Delete Curve #%1?").arg(hovered_curve_),
                       QStringLiteral("Delete Curve")))
    emit OnDeleteCurve(hovered_curve_);
}

void TQGraph::DeselectData() {
  band_ = {};
  SelectInBox(false);
  RemoveCurveFit();
  data_selected_ = false;
  items_[miLinearCurveFit]->setVisible(false);
  items_[miDeselectData]->setVisible(false);
  Redraw();
}

void TQGraph::ZoomOut() {
  if (never_had_data_)
    return;
  TQAxis &x = area_.x, &y = area_.y;
  const double dx = (x.MaxVal - x.MinVal) * 0.1;
  x.MaxVal += dx;
  x.MinVal -= dx;
  x.AutoRange = 0;
  const double dy = (y.MaxVal - y.MinVal) * 0.1;
  y.MaxVal += dy;
  y.MinVal -= dy;
  y.AutoRange = 0;
  items_[miZoomToFit]->setVisible(true);
  zoomed_ = true;
  Redraw();
}

bool TQGraph::any_point_selected() const {
  for (int c = 1; c <= kDataCurveCount; ++c)
    for (const TGraphPoint &pt : curves_[c].points)
      if (pt.selected_y || pt.selected_y2)
        return true;
  return false;
}

void TQGraph::ShowWhole() {
  DeselectData();
  area_.x.AutoRange = 1;
  zoomed_ = false;
  items_[miZoomToFit]->setVisible(false);
  readout_frozen_ = false;
  hide_readout();
  Redraw();
}

void TQGraph::ZoomToFit() {
  if (!zoomed_)
    return;
  area_.x.AutoRange = 1;
  area_.y.AutoRange = 1;
  items_[miZoomToFit]->setVisible(false);
  Redraw();
  zoomed_ = false;
}
