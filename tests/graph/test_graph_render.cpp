// The chart control's frames, checked on pixels of the back buffer and of the widget.
#include "GraphExport.h"
#include "TQGraphUnit.h"

#include <QFontInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

#include <cmath>

namespace {

constexpr int kRed = 0x0000FF; // 0x00BBGGRR
constexpr int kBlue = 0xFF0000;
constexpr int kGreen = 0x00FF00;
constexpr int kOrange = 0x0080FF;

// A graph with fixed ranges, no grid and green axes; curve 1 a red line with blue markers.
void make_plain(TQGraph &g) {
  g.resize(450, 450);
  TQGraphArea &a = g.GraphArea();
  for (TQAxis *ax : {&a.x, &a.y}) {
    ax->show_major_grid = 0;
    ax->line_color = kGreen;
    ax->MinVal = 0;
    ax->MaxVal = 10;
    ax->MajInc = 5;
  }
  a.y2.AutoRange = 0;
  a.y2.MinVal = 0;
  a.y2.MaxVal = 100;
  g.SetYCurveColors(1, kRed, kBlue);
}

bool near_colour(const QImage &img, int x, int y, QColor c, int radius = 0) {
  for (int dx = -radius; dx <= radius; ++dx)
    for (int dy = -radius; dy <= radius; ++dy)
      if (img.valid(x + dx, y + dy) && img.pixelColor(x + dx, y + dy) == c)
        return true;
  return false;
}

// Where the mapping puts curve 1's second point on the current frame.
int ValueToPixel_px(const TQGraph &g) {
  TGraphPoint p = g.Curve(1).points[1];
  ValueToPixel(g.GraphArea(), p, 6);
  return p.px;
}

QString at(int x, int y) { return QStringLiteral("(%1,%2)").arg(x).arg(y); }

} // namespace

class TestGraphRender : public QObject {
  Q_OBJECT
private slots:
  void arial_is_metric_compatible();
  void curve_line_and_markers_where_mapped();
  void plot_frame_where_layout_puts_it();
  void y2_pass_uses_y2_row_and_colours();
  void points_outside_are_erased_by_bands();
  void widget_shows_the_back_buffer();
  void degenerate_ranges_render();
  void which_setters_redraw();
  void resize_rescales_and_moves_labels();
  void align_follows_parent();
  void sample_picture();
  void exported_pictures();
};

void TestGraphRender::arial_is_metric_compatible() {
  const QFontInfo info(GraphFont(10));
  QCOMPARE(info.family(), QStringLiteral("Liberation Sans"));
}

void TestGraphRender::curve_line_and_markers_where_mapped() {
  TQGraph g;
  make_plain(g);
  g.AddPoint(1, 2, 2, 0);
  g.AddPoint(1, 8, 6, 0);
  g.Redraw();
  const QImage &img = g.BackBuffer();
  QCOMPARE(img.size(), QSize(450, 450));
  const auto &pts = g.Curve(1).points;
  for (const TGraphPoint &p : pts) {
    // The cached pixels are the mapping of the current frame.
    TGraphPoint check = p;
    ValueToPixel(g.GraphArea(), check, 6);
    QCOMPARE(p.px, check.px);
    QCOMPARE(p.py, check.py);
    // Marker box corners (right and bottom edges are outside the box).
    QVERIFY2(img.pixelColor(p.px - 3, p.py - 3) == QColor(0, 0, 255), qPrintable(at(p.px - 3, p.py - 3)));
    QVERIFY2(img.pixelColor(p.px + 2, p.py + 2) == QColor(0, 0, 255), qPrintable(at(p.px + 2, p.py + 2)));
    QVERIFY(img.pixelColor(p.px + 4, p.py - 4) == QColor(Qt::white));
  }
  // The line between the markers, red.
  const int mx = (pts[0].px + pts[1].px) / 2;
  const int my = (pts[0].py + pts[1].py) / 2;
  QVERIFY2(near_colour(img, mx, my, QColor(255, 0, 0), 1), qPrintable(at(mx, my)));
  // Lines off: no red anywhere between them.
  g.GraphArea().y.curve[1].show_lines = 0;
  g.Redraw();
  QVERIFY(!near_colour(g.BackBuffer(), mx, my, QColor(255, 0, 0), 3));
}

void TestGraphRender::plot_frame_where_layout_puts_it() {
  TQGraph g;
  make_plain(g);
  g.AddPoint(1, 5, 5, 0);
  g.Redraw();
  const QImage &img = g.BackBuffer();
  TQGraphArea expected = g.GraphArea();
  ComputeLayout(expected, 450, 450, GraphTextMeasure());
  const TGraphRect &pl = g.GraphArea().plot;
  QCOMPARE(pl, expected.plot);
  QVERIFY(pl.left > 20 && pl.right < 440 && pl.top > 20 && pl.bottom < 430);
  const QColor green(0, 255, 0);
  const int mx = (pl.left + pl.right) / 2, my = (pl.top + pl.bottom) / 2;
  QVERIFY2(near_colour(img, pl.left, my, green, 1), "y axis");
  QVERIFY2(near_colour(img, pl.right, my, green, 1), "right edge");
  QVERIFY2(near_colour(img, mx, pl.top, green, 1), "top edge");
  QVERIFY2(near_colour(img, mx, pl.bottom, green, 1), "bottom edge");
  // Inside and outside the frame: background.
  QCOMPARE(img.pixelColor(pl.left + 10, pl.top + 10), QColor(Qt::white));
  QCOMPARE(img.pixelColor(pl.right + 5, my), QColor(Qt::white));

  // An auto-ranged flat top lies on the top edge: the curve is drawn over the frame line there.
  g.ClearCurve(1);
  for (double x : {0.0, 1.0, 9.0, 10.0})
    g.AddPoint(1, x, x == 0 || x == 10 ? 0 : 4, 0);
  g.setYAutoRange(true);
  g.Redraw();
  const TGraphRect &top = g.GraphArea().plot;
  QCOMPARE(g.Curve(1).points[1].py, top.top);
  QCOMPARE(g.BackBuffer().pixelColor((top.left + top.right) / 2, top.top), QColor(Qt::red));
}

void TestGraphRender::y2_pass_uses_y2_row_and_colours() {
  TQGraph g;
  make_plain(g);
  g.SetY2CurveColors(1, kOrange, kOrange);
  g.AddPoint(1, 5, 2, 80);
  g.Redraw();
  const TGraphPoint p0 = g.Curve(1).points[0];
  QVERIFY(p0.py2 != p0.py);
  QVERIFY(g.BackBuffer().pixelColor(p0.px - 2, p0.py2 - 2) != QColor(255, 128, 0));
  g.setShowY2Axis(true);
  const TGraphPoint p = g.Curve(1).points[0];
  QVERIFY2(g.BackBuffer().pixelColor(p.px - 2, p.py2 - 2) == QColor(255, 128, 0),
           qPrintable(at(p.px, p.py2)));
  QVERIFY(g.BackBuffer().pixelColor(p.px - 2, p.py - 2) == QColor(0, 0, 255));
}

void TestGraphRender::points_outside_are_erased_by_bands() {
  TQGraph g;
  make_plain(g);
  g.GraphArea().y.curve[1].show_lines = 0;
  g.AddPoint(1, 10, 5, 0); // on the right edge: cut in half
  g.AddPoint(1, 30, 5, 0); // far outside
  g.Redraw();
  const QImage &img = g.BackBuffer();
  const TGraphPoint &edge = g.Curve(1).points[0];
  const TGraphPoint &out = g.Curve(1).points[1];
  QCOMPARE(edge.px, g.GraphArea().plot.right);
  QVERIFY(img.pixelColor(edge.px - 3, edge.py - 3) == QColor(0, 0, 255));
  QVERIFY(img.pixelColor(edge.px + 2, edge.py - 3) != QColor(0, 0, 255));
  QVERIFY(out.px > 450);
  for (int x = g.GraphArea().plot.right + 3; x < 450; ++x)
    QVERIFY(img.pixelColor(x, out.py) != QColor(0, 0, 255));
}

void TestGraphRender::widget_shows_the_back_buffer() {
  TQGraph g;
  make_plain(g);
  g.AddPoint(1, 1, 1, 0);
  g.AddPoint(1, 9, 9, 0);
  g.show();
  QVERIFY(QTest::qWaitForWindowExposed(&g));
  g.Redraw();
  const QImage shown = g.grab().toImage().convertToFormat(QImage::Format_RGB32);
  const QImage buffer = g.BackBuffer().convertToFormat(QImage::Format_RGB32);
  // On a scaled screen (run again with QT_SCALE_FACTOR) the frame has the screen's pixels.
  QCOMPARE(shown.size(), buffer.size());
  QCOMPARE(buffer.size(), (QSizeF(g.size()) * g.devicePixelRatioF()).toSize());
  const TGraphPoint &p = g.Curve(1).points[1];
  const QPoint corner = (QPointF(p.px - 2, p.py - 2) * g.devicePixelRatioF()).toPoint();
  QCOMPARE(shown.pixelColor(corner), QColor(0, 0, 255));
  QCOMPARE(shown.pixelColor(p.px, p.py), buffer.pixelColor(p.px, p.py));
}

void TestGraphRender::degenerate_ranges_render() {
  TQGraph g;
  make_plain(g);
  TQGraphArea &a = g.GraphArea();
  a.y.Style = Log;
  a.y.AutoRange = 1;
  a.x.MinVal = a.x.MaxVal = 0; // empty stored span
  g.AddPoint(1, 1, -3, 0);
  g.AddPoint(1, 2, 0, 0);
  g.AddPoint(1, 3, qQNaN(), qInf());
  g.setShowY2Axis(true);
  const TGraphRect &pl = g.GraphArea().plot;
  QCOMPARE(g.GraphArea().x.MaxVal, 10.0);
  for (const TGraphPoint &p : g.Curve(1).points) {
    QCOMPARE(p.py, pl.bottom); // no place on a log axis: on its start
    QVERIFY(p.px >= pl.left && p.px <= pl.right);
  }
  // A log x axis reaching its data only through zero, and a window squeezed to nothing.
  a.x.Style = Log;
  g.resize(1, 1);
  g.Redraw();
  g.resize(0, 0);
  g.Redraw();
  QVERIFY(!g.BackBuffer().isNull());
}

void TestGraphRender::which_setters_redraw() {
  TQGraph g;
  g.resize(200, 200);
  g.setTitleFontSize(20);
  g.setXAutoRange(true);
  g.setYLineWidth(3);
  g.setXTitleFontSize(12);
  g.setAlign(alNone);
  QVERIFY(g.BackBuffer().isNull()); // stored only
  g.AddPoint(1, 1, 1, 0);
  QVERIFY(g.BackBuffer().isNull());
  g.setXMajInc(4);
  QCOMPARE(g.BackBuffer().size(), QSize(200, 200));
  QCOMPARE(g.GraphArea().x.pixels_per_major * 4, g.GraphArea().plot.right - g.GraphArea().plot.left);
}

void TestGraphRender::resize_rescales_and_moves_labels() {
  QWidget page;
  page.resize(1000, 500);
  auto *g = new TQGraph(&page);
  g->setGeometry(2, 1, 450, 450);
  page.show();
  QVERIFY(QTest::qWaitForWindowExposed(&page));
  QCOMPARE(g->GraphArea().TitleFontSize, 14);
  QCOMPARE(g->GraphArea().x.tick_label_font_size, 7);
  TQLabel label;
  label.X = 100;
  label.Y = 100;
  g->Labels().push_back(label);
  g->resize(900, 450);
  QCOMPARE(g->Labels()[0].X, 200);
  QCOMPARE(g->Labels()[0].Y, 100);
  QCOMPARE(g->SampleLineLength(), 90);
  QCOMPARE(g->GraphArea().TitleFontSize, 14);
  QCOMPARE(g->GraphArea().y.curve[10].marker_size, 6);
}

void TestGraphRender::align_follows_parent() {
  QWidget page;
  page.resize(600, 400);
  auto *g = new TQGraph(&page);
  g->setAlign(alClient);
  g->setGeometry(10, 10, 450, 450);
  page.show();
  QVERIFY(QTest::qWaitForWindowExposed(&page));
  QCOMPARE(g->geometry(), QRect(0, 0, 600, 400));
  g->setAlign(alRight);
  g->resize(200, 100);
  QCOMPARE(g->geometry(), QRect(400, 0, 200, 400));
  g->setAlign(alTop); // no rule of its own: the size stays as set
  g->resize(300, 120);
  QCOMPARE(g->geometry(), QRect(400, 0, 300, 120));
}

// Writes a picture of a typical frame to $QX5200_GRAPH_PNG for a person to look at.
void TestGraphRender::sample_picture() {
  const QString path = qEnvironmentVariable("QX5200_GRAPH_PNG");
  if (path.isEmpty())
    QSKIP("QX5200_GRAPH_PNG not set");
  TQGraph g;
  g.resize(450, 450);
  g.show();
  QVERIFY(QTest::qWaitForWindowExposed(&g));
  g.resize(450, 450);
  g.setTitle(QStringLiteral("Waveform"));
  g.setSubtitle(QStringLiteral("Expected output"));
  g.setXTitle(QStringLiteral("Time"));
  g.setXUnits(QStringLiteral("s"));
  g.setXShowUnits(true);
  g.setXRange(-2);
  g.setXDecimalCount(3);
  g.setYTitle(QStringLiteral("Current"));
  g.setYUnits(QStringLiteral("A"));
  g.setYShowUnits(true);
  g.setXAutoRange(true);
  g.setYAutoRange(true);
  g.SetYCurveColors(1, kRed, kBlue);
  g.SetYCurveColors(2, 0x008000, 0x008000);
  g.SetCurvePointsVisible(2, false, false);
  for (int i = 0; i <= 40; ++i) {
    const double t = i * 25e-6;
    const double v = 5 + 4 * std::sin(i / 5.0);
    g.AddPoint(1, t, v, 0);
    g.AddPoint(2, t, v, 0);
    g.AddPoint(2, t + 25e-6, v, 0);
  }
  TQLabel label;
  label.X = 250;
  label.Y = 80;
  label.Text = QStringLiteral("Sample label");
  label.ShowLine = 1;
  label.line_color = kRed;
  g.Labels().push_back(label);
  g.Redraw();
  QVERIFY(g.BackBuffer().save(path));
  g.setShowY2Axis(true);
  QVERIFY(g.BackBuffer().save(QString(path).replace(QStringLiteral(".png"), QStringLiteral("-y2.png"))));
}

// PNG, SVG and PDF come from the frame's own drawing: the same pixels, the curves as paths and
// the texts as text, one page; a failed export leaves the file as it was.
void TestGraphRender::exported_pictures() {
  TQGraph g;
  make_plain(g);
  g.setXTitle(QStringLiteral("Time"));
  g.AddPoint(1, 1, 1, 0);
  g.AddPoint(1, 9, 9, 0);
  TQLabel label;
  label.X = 200;
  label.Y = 100;
  label.Text = QStringLiteral("my label");
  g.Labels().push_back(label);
  g.show();
  QVERIFY(QTest::qWaitForWindowExposed(&g));
  g.Redraw();
  const QImage shown = g.grab().toImage().convertToFormat(QImage::Format_RGB32);
  QCOMPARE(GraphImage(g).convertToFormat(QImage::Format_RGB32), shown);
  const QImage sharp = GraphImage(g, {}, 192);
  QCOMPARE(sharp.size(), QSize(900, 900));
  QCOMPARE(sharp.dotsPerMeterX(), 7559);
  // Another size is laid out for that size and leaves the screen's frame alone.
  QCOMPARE(GraphImage(g, QSize(600, 300)).size(), QSize(600, 300));
  QCOMPARE(g.Curve(1).points[1].px, ValueToPixel_px(g));

  QXmlStreamReader xml(GraphSvg(g));
  QStringList texts;
  int red_paths = 0;
  QString stroke;
  while (!xml.atEnd()) {
    if (xml.readNext() != QXmlStreamReader::StartElement)
      continue;
    if (xml.name() == u"g")
      stroke = xml.attributes().value("stroke").toString();
    else if (xml.name() == u"path" && stroke == u"#ff0000")
      ++red_paths;
    else if (xml.name() == u"text")
      texts << xml.readElementText().trimmed();
  }
  QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
  QCOMPARE(red_paths, 2); // one path, drawn under the frame and once more over it
  for (const char *text : {"Time", "Efficiency", "8.0", "my label"})
    QVERIFY2(texts.contains(QString::fromLatin1(text)), qPrintable(texts.join(u'|')));

  QTemporaryDir dir;
  QString reason;
  const QString pdf = dir.filePath(QStringLiteral("graph.PDF"));
  QVERIFY2(ExportGraph(g, pdf, {}, 96, reason), qPrintable(reason));
  const QString pdfinfo = QStandardPaths::findExecutable(QStringLiteral("pdfinfo"));
  if (pdfinfo.isEmpty()) {
    qWarning("pdfinfo (poppler-utils) not installed: the PDF's page count is not checked");
  } else {
    QProcess info;
    info.start(pdfinfo, {pdf});
    QVERIFY(info.waitForFinished(60000));
    QVERIFY2(info.readAllStandardOutput().contains("Pages:           1\n"), "one page");
  }
  QFile old(dir.filePath(QStringLiteral("old.svg")));
  QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
  old.close();
  QVERIFY(!ExportGraph(g, dir.filePath(QStringLiteral("old.txt")), {}, 96, reason));
  QVERIFY(!ExportGraph(g, dir.filePath(QStringLiteral("missing/x.svg")), {}, 96, reason));
  QVERIFY(old.open(QIODevice::ReadOnly) && old.readAll() == "old");
}

QTEST_MAIN(TestGraphRender)
#include "test_graph_render.moc"
