#include "TQGraphUnit.h"

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>

#include <algorithm>
#include <cmath>

namespace {

// The back buffer is a 96 dpi canvas, so point sizes come out as on the desktop the sizes were
// chosen for.
constexpr int kDotsPerMeter = 3780;

QImage make_canvas(int width, int height) {
  QImage image(std::max(width, 1), std::max(height, 1), QImage::Format_RGB32);
  image.setDotsPerMeterX(kDotsPerMeter);
  image.setDotsPerMeterY(kDotsPerMeter);
  return image;
}

// 0x00BBGGRR as stored in the settings.
QColor to_qcolor(int c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }

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

QPen make_pen(int color, int width, quint8 style = 0) {
  // Width 0 is the canvas's one-pixel line.
  QPen pen(to_qcolor(color), std::max(width, 0), to_pen_style(style));
  pen.setCapStyle(Qt::FlatCap);
  pen.setJoinStyle(Qt::MiterJoin);
  return pen;
}

// A box given by its edges, right and bottom outside, as a QRect.
QRect to_qrect(const TGraphRect &r) { return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top); }

class CanvasMeasure : public TTextMeasure {
public:
  CanvasMeasure() : device_(make_canvas(1, 1)) {}
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
  p.setPen(Qt::black);
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
  p.setPen(Qt::black);
  p.drawText(QPoint(0, QFontMetrics(p.font(), p.device()).ascent()), text);
  p.restore();
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

TQGraph::TQGraph(QWidget *parent) : QWidget(parent), area_(DefaultGraphArea()) {
  scaling_.previous_width = width();
  scaling_.previous_height = height();
  for (TCurve &c : curves_)
    c.points.reserve(100);
  labels_.reserve(100);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::StrongFocus);
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
  if (back_buffer_.width() != std::max(width(), 1) || back_buffer_.height() != std::max(height(), 1))
    back_buffer_ = make_canvas(width(), height());
}

void TQGraph::RenderGraph() {
  ComputeRanges(area_, curves_);
  layout();
  QPainter p(&back_buffer_);
  p.fillRect(back_buffer_.rect(), to_qcolor(area_.background_color));
  paint_layers(p);
}

void TQGraph::paint_layers(QPainter &p) {
  draw_grid(p);
  draw_curves(p);
  draw_margin_bands(p);
  draw_y_axis(p);
  draw_x_axis(p);
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
    for (int i = 0; i < x.MajInc; ++i) {
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
    for (int i = 0; i < y.MajInc; ++i) {
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

void TQGraph::draw_curves(QPainter &p) {
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
      const QColor marker = to_qcolor(style.marker_color);
      QPoint previous;
      bool first = true;
      for (const TGraphPoint &pt : points) {
        const QPoint here(pt.px, pt.*row);
        // The marker goes down before the line reaches its point.
        if (style.show_points) {
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
        if (!first && style.show_lines)
          p.drawLine(previous, here);
        previous = here;
        first = false;
      }
    };
    pass(area_.y.curve[n], area_.yLineWidth, &TGraphPoint::py, &TGraphPoint::y_box, &TGraphPoint::selected_y);
    if (area_.showY2Axis)
      pass(area_.y2.curve[n], area_.y2LineWidth, &TGraphPoint::py2, &TGraphPoint::y2_box,
           &TGraphPoint::selected_y2);
  }
}

void TQGraph::draw_margin_bands(QPainter &p) {
  // Erases whatever the curves drew outside the plot rectangle.
  const QColor bg = to_qcolor(area_.background_color);
  const TGraphRect &pl = area_.plot;
  const int w = back_buffer_.width(), h = back_buffer_.height();
  p.fillRect(to_qrect({0, pl.bottom, w, h}), bg);
  p.fillRect(to_qrect({0, 0, w, pl.top}), bg);
  p.fillRect(to_qrect({0, 0, pl.left, h}), bg);
  p.fillRect(to_qrect({pl.right, 0, w, h}), bg);
}

void TQGraph::draw_y_axis(QPainter &p) {
  const TGraphRect &pl = area_.plot;
  const QColor bg = to_qcolor(area_.background_color);
  const bool log = area_.y.Style == Log;
  TQAxis &y = area_.y;
  p.setPen(make_pen(y.line_color, y.line_width));
  p.drawLine(pl.left, pl.bottom, pl.left, pl.top);

  int title_height = 0;
  if (y.show_title) {
    p.setFont(GraphFont(y.TitleFontSize));
    title_height = text_height(p);
    DrawRotatedText(p, area_.gap0, area_.y_title, 90,
                    (pl.bottom + pl.top) / 2 + text_width(p, area_.y_title) / 2);
  }
  p.setPen(make_pen(y.tick_label_color, 1));
  p.setFont(GraphFont(y.tick_label_font_size));
  const int half = text_height(p) / 2;
  for (int r = 0; r <= y.MajInc; ++r)
    text_out(p, area_.gap0 + title_height + y.gapA, pl.bottom + r * y.pixels_per_major - half,
             TickText(y, r, log), bg);

  if (!area_.showY2Axis)
    return;
  TQAxis &y2 = area_.y2;
  p.setPen(make_pen(y2.tick_label_color, 1));
  p.setFont(GraphFont(y2.tick_label_font_size));
  const int half2 = text_height(p) / 2;
  int last_width = 0;
  for (int r = 0; r <= y.MajInc; ++r) {
    const QString text = TickText(y2, r, log);
    text_out(p, pl.right + y2.gapA, pl.bottom + r * y.pixels_per_major - half2, text, bg);
    last_width = text_width(p, text);
  }
  if (y2.show_title) {
    p.setFont(GraphFont(y2.TitleFontSize));
    DrawRotatedText(p, pl.right + y2.gapA + last_width + y2.gapB, area_.y2_title, 90,
                    (pl.bottom + pl.top) / 2 + text_width(p, area_.y2_title) / 2);
  }
}

void TQGraph::draw_x_axis(QPainter &p) {
  const TGraphRect &pl = area_.plot;
  const QColor bg = to_qcolor(area_.background_color);
  TQAxis &x = area_.x;
  const int w = x.line_width;
  p.setPen(make_pen(x.line_color, w));
  p.setBrush(Qt::NoBrush);
  const QPoint frame[] = {
      {pl.left - w / 2, pl.bottom}, {pl.right, pl.bottom}, {pl.right, pl.top}, {pl.left - w / 2, pl.top}};
  p.drawPolyline(frame, 4);

  const int H = back_buffer_.height();
  p.setFont(GraphFont(x.TitleFontSize));
  text_out(p, (pl.left + pl.right) / 2 - text_width(p, area_.x_title) / 2, H - text_height(p) - area_.gap0,
           area_.x_title, bg);

  p.setPen(make_pen(x.tick_label_color, 1));
  p.setFont(GraphFont(x.tick_label_font_size));
  const int row = H - area_.gap0 - text_height(p) - x.gapB - text_height(p);
  const bool log = x.Style == Log;
  for (int r = 0; r <= x.MajInc; ++r) {
    const QString text = TickText(x, r, log);
    text_out(p, pl.left + r * x.pixels_per_major - text_width(p, text) / 2, row, text, bg);
  }
}

void TQGraph::draw_titles(QPainter &p) {
  const TGraphRect &pl = area_.plot;
  const QColor bg = to_qcolor(area_.background_color);
  p.setFont(GraphFont(area_.TitleFontSize));
  const int title_height = text_height(p);
  text_out(p, (pl.left + pl.right - text_width(p, area_.Title)) / 2, 5, area_.Title, bg);
  p.setFont(GraphFont(area_.SubtitleFontSize));
  text_out(p, (pl.left + pl.right - text_width(p, area_.Subtitle)) / 2, title_height + 10, area_.Subtitle,
           bg);
}

void TQGraph::draw_overlay(QPainter &p) {
  // The font stays at the subtitle size.
  const QColor white(Qt::white);
  for (const TQLabel &label : labels_) {
    const QFontMetrics fm(p.font(), p.device());
    TGraphRect box{label.X - 5 - (label.ShowLine ? scaling_.sample_line_length : 0), label.Y - 5,
                   label.X + fm.horizontalAdvance(label.Text) + 5, label.Y + fm.height() + 5};
    if (label.Selected) {
      p.setPen(QPen(Qt::black, 2));
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
