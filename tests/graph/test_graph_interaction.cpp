// Mouse, keys, menu commands and the owner notifications of the chart control.
#include "graph_test_support.h"
#include "localized.h"

#include <QAction>
#include <QApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {

// A shown 450 x 450 graph with fixed 0..10 ranges on both axes and the fake person attached.
struct Fixture {
  TQGraph g;
  FakeModals modals;
  Fixture() {
    g.setModals(&modals);
    g.resize(450, 450);
    TQGraphArea &a = g.GraphArea();
    a.x.MinVal = a.y.MinVal = 0;
    a.x.MaxVal = a.y.MaxVal = 10;
    a.x.MajInc = 5;
    g.show();
    QVERIFY(QTest::qWaitForWindowExposed(&g));
  }
  QPoint at(int curve, int index) const {
    const TGraphPoint &p = g.Curve(curve).points[size_t(index)];
    return {p.px, p.py};
  }
  void label(int x, int y, const QString &text) {
    TQLabel l;
    l.X = x;
    l.Y = y;
    l.Text = text;
    g.Labels().push_back(l);
  }
  void drag(QPoint from, QPoint to, Qt::KeyboardModifiers mods = {}) {
    QTest::mousePress(&g, Qt::LeftButton, mods, from);
    QTest::mouseMove(&g, (from + to) / 2);
    QTest::mouseMove(&g, to);
    QTest::mouseRelease(&g, Qt::LeftButton, mods, to);
  }
};

// The double-click alone, without the press and release pairs around it.
void double_click(QWidget &w, QPoint p) {
  QMouseEvent e(QEvent::MouseButtonDblClick, p, w.mapToGlobal(p), Qt::LeftButton, Qt::LeftButton, {});
  QApplication::sendEvent(&w, &e);
}

int selected_count(const TQGraph &g, int curve) {
  int n = 0;
  for (const TGraphPoint &p : g.Curve(curve).points)
    n += p.selected_y;
  return n;
}

} // namespace

class TestGraphInteraction : public QObject {
  Q_OBJECT
private slots:
  void menu_items();
  void keys_need_ctrl();
  void right_click_edits_the_later_label();
  void label_dragging();
  void shift_drag_backwards_selects_nothing();
  void shift_drags_add_up();
  void hover_read_out();
  void double_click_freezes_read_out();
  void zoom_box_and_zoom_to_fit();
  void wheel_and_middle_drag();
  void small_band_does_not_zoom();
  void rubber_band_keeps_ranges_while_dragged();
  void zoom_out_waits_for_first_point();
  void delete_curve_asks_the_owner();
  void fits();
  void fit_over_one_x();
  void fit_label_with_exponent();
  void remove_curve_fit_deletes_slope_labels();
  void deselect_data();
};

void TestGraphInteraction::menu_items() {
  TQGraph g;
  const QStringList captions = {"Graph Setup (Ctrl+S)", "Add Label (Ctrl+A)", "Edit Label",   "Delete Label",
                                "Linear Curve Fit",     "Remove Curve Fit",   "Delete Curve", "Deselect Data",
                                "Zoom To Fit (Ctrl+E)", "Zoom Out (Ctrl+B)"};
  QCOMPARE(g.PopupMenu()->actions().size(), qsizetype(kGraphMenuItems));
  for (int i = 0; i < kGraphMenuItems; ++i) {
    QCOMPARE(g.PopupMenu()->actions()[i]->text(), captions[i]);
    const bool shown = i == miGraphSetup || i == miAddLabel || i == miZoomOut;
    QCOMPARE(g.MenuItem(TGraphMenuItem(i))->isVisible(), shown);
  }
  QCOMPARE(g.PopupMenu()->defaultAction(), g.MenuItem(miGraphSetup));
}

void TestGraphInteraction::keys_need_ctrl() {
  Fixture f;
  f.g.AddPoint(1, 5, 5, 0);
  QTest::keyClick(&f.g, Qt::Key_S);
  QTest::keyClick(&f.g, Qt::Key_A);
  QCOMPARE(f.modals.axis_shown + f.modals.label_shown, 0);
  QTest::keyClick(&f.g, Qt::Key_S, Qt::ControlModifier);
  QCOMPARE(f.modals.axis_shown, 1);
  QTest::keyClick(&f.g, Qt::Key_A, Qt::ControlModifier);
  QCOMPARE(f.modals.label_shown, 1);
  QTest::keyClick(&f.g, Qt::Key_B, Qt::ControlModifier);
  QCOMPARE(f.g.xMaxVal(), 11.0);
  QCOMPARE(f.g.xMinVal(), -1.0);
  QVERIFY(f.g.MenuItem(miZoomToFit)->isVisible());
  // Forwarded by the owner while its graph page is active.
  f.g.KeyDown(Qt::Key_E, Qt::ControlModifier);
  QVERIFY(f.g.xAutoRange());
  QVERIFY(!f.g.MenuItem(miZoomToFit)->isVisible());
}

void TestGraphInteraction::right_click_edits_the_later_label() {
  Fixture f;
  f.label(100, 100, QStringLiteral("first"));
  f.label(110, 104, QStringLiteral("second"));
  f.g.Redraw();
  QTest::mouseClick(&f.g, Qt::RightButton, {}, QPoint(115, 108));
  QCOMPARE(f.modals.popups, 1);
  QVERIFY(f.g.MenuItem(miEditLabel)->isVisible());
  QVERIFY(f.g.MenuItem(miDeleteLabel)->isVisible());
  f.modals.label = [](TLabelDialog &d) {
    QCOMPARE(d.LabelText(), QStringLiteral("second"));
    d.ed_label->setText(QStringLiteral("edited"));
    d.accept();
  };
  f.g.MenuItem(miEditLabel)->trigger();
  QCOMPARE(f.g.Labels()[0].Text, QStringLiteral("first"));
  QCOMPARE(f.g.Labels()[1].Text, QStringLiteral("edited"));

  // A right-click on empty space hides the label items again.
  QTest::mouseClick(&f.g, Qt::RightButton, {}, QPoint(300, 300));
  QVERIFY(!f.g.MenuItem(miEditLabel)->isVisible());
  QTest::mouseClick(&f.g, Qt::RightButton, {}, QPoint(102, 102));
  f.g.MenuItem(miDeleteLabel)->trigger();
  QCOMPARE(f.g.Labels().size(), size_t(1));
  QCOMPARE(f.g.Labels()[0].Text, QStringLiteral("edited"));
}

void TestGraphInteraction::label_dragging() {
  Fixture f;
  f.label(100, 100, QStringLiteral("drag me"));
  f.label(300, 300, QStringLiteral("stay"));
  f.g.Redraw();
  f.drag(QPoint(105, 105), QPoint(145, 125));
  QCOMPARE(f.g.Labels()[0].X, 140);
  QCOMPARE(f.g.Labels()[0].Y, 120);
  QCOMPARE(f.g.Labels()[0].Selected, quint8(0));
  QCOMPARE(f.g.Labels()[1].X, 300);
  QCOMPARE(f.g.xMaxVal(), 10.0); // a label drag is no zoom
}

void TestGraphInteraction::shift_drag_backwards_selects_nothing() {
  Fixture f;
  for (int i = 0; i <= 10; ++i)
    f.g.AddPoint(1, i, i, 0);
  f.g.Redraw();
  const TGraphRect pl = f.g.GraphArea().plot;
  f.drag(QPoint(pl.right - 2, pl.bottom - 2), QPoint(pl.left + 2, pl.top + 2), Qt::ShiftModifier);
  QCOMPARE(selected_count(f.g, 1), 0);
  QVERIFY(!f.g.DataSelected());
  QVERIFY(!f.g.MenuItem(miLinearCurveFit)->isVisible());
  QCOMPARE(f.g.xMaxVal(), 10.0); // with Shift, never a zoom
}

void TestGraphInteraction::shift_drags_add_up() {
  Fixture f;
  for (int i = 0; i <= 10; ++i)
    f.g.AddPoint(1, i, i, 0);
  f.g.Redraw();
  // Around points 2..3, then around 7..8.
  // The curve rises: point 3 lies above point 2 on the screen.
  f.drag(QPoint(f.at(1, 2).x() - 6, f.at(1, 3).y() - 6), QPoint(f.at(1, 3).x() + 6, f.at(1, 2).y() + 6),
         Qt::ShiftModifier);
  QCOMPARE(selected_count(f.g, 1), 2);
  QVERIFY(f.g.MenuItem(miLinearCurveFit)->isVisible());
  QVERIFY(f.g.MenuItem(miDeselectData)->isVisible());
  // Dragged left to right but bottom to top: still contains nothing.
  f.drag(QPoint(f.at(1, 7).x() - 6, f.at(1, 7).y() + 6), QPoint(f.at(1, 8).x() + 6, f.at(1, 8).y() - 6),
         Qt::ShiftModifier);
  QCOMPARE(selected_count(f.g, 1), 2);
  f.drag(QPoint(f.at(1, 7).x() - 6, f.at(1, 8).y() - 6), QPoint(f.at(1, 8).x() + 6, f.at(1, 7).y() + 6),
         Qt::ShiftModifier);
  QCOMPARE(selected_count(f.g, 1), 4);
  const auto &pts = f.g.Curve(1).points;
  QVERIFY(pts[2].selected_y && pts[3].selected_y && pts[7].selected_y && pts[8].selected_y);
  QVERIFY(!pts[5].selected_y);
  QVERIFY(f.g.DataSelected());

  // Selected markers are drawn as a one-pixel frame, the others filled.
  f.g.SetYCurveColors(1, 0x0000FF, 0xFF0000);
  f.g.GraphArea().y.curve[1].show_lines = 0;
  f.g.Redraw();
  const QImage &img = f.g.BackBuffer();
  const QColor blue(0, 0, 255);
  QCOMPARE(img.pixelColor(pts[2].px - 3, pts[2].py - 3), blue);
  QCOMPARE(img.pixelColor(pts[2].px + 2, pts[2].py + 2), blue);
  QVERIFY(img.pixelColor(pts[2].px - 1, pts[2].py - 1) != blue);
  QCOMPARE(img.pixelColor(pts[5].px - 1, pts[5].py - 1), blue);
}

void TestGraphInteraction::hover_read_out() {
  Fixture f;
  TQGraph &g = f.g;
  g.setYDecimalCount(2);
  g.GraphArea().y.MaxVal = 20;
  for (int i = 0; i < 10; ++i)
    g.AddPoint(1, i, 2 * i, 0);
  g.Redraw();
  QSignalSpy over(&g, &TQGraph::OnMouseOverData);
  QSignalSpy exited(&g, &TQGraph::OnMouseExitData);
  QTest::mouseMove(&g, f.at(1, 6) + QPoint(3, -3)); // the box's edge counts
  QCOMPARE(over.count(), 1);
  QCOMPARE(g.MouseDataString(), QStringLiteral("sweep:1,axis:1,data:3,x:6.0,y:12"));
  QVERIFY(g.ReadOutVisible());
  QVERIFY(g.MenuItem(miDeleteCurve)->isVisible());
  QTest::mouseMove(&g, QPoint(5, 5));
  QCOMPARE(exited.count(), 1);
  QVERIFY(!g.ReadOutVisible());
  QVERIFY(!g.MenuItem(miDeleteCurve)->isVisible());
  QTest::mouseMove(&g, QPoint(6, 6)); // already hidden: no second exit
  QCOMPARE(exited.count(), 1);

  // A y hit anywhere before wins over the y2 boxes of later curves; y2 alone is found.
  g.AddPoint(2, 6, 0, 12);
  g.SetCurvePointsVisible(2, false, true);
  g.GraphArea().y2.AutoRange = 0;
  g.GraphArea().y2.MinVal = 0;
  g.GraphArea().y2.MaxVal = 20;
  g.Redraw();
  TMouseData hit;
  QVERIFY(g.HitTestData(f.at(1, 6).x(), f.at(1, 6).y(), hit));
  QCOMPARE(hit.sweep, 1);
  QCOMPARE(hit.axis, 1);
  g.SetCurvePointsVisible(1, false, false);
  QVERIFY(g.HitTestData(f.at(1, 6).x(), f.at(1, 6).y(), hit));
  QCOMPARE(hit.sweep, 2);
  QCOMPARE(hit.axis, 2);
  QCOMPARE(hit.value, 12.0);
}

void TestGraphInteraction::double_click_freezes_read_out() {
  Fixture f;
  f.g.AddPoint(1, 5, 5, 0);
  f.g.Redraw();
  double_click(f.g, QPoint(20, 20));
  QVERIFY(f.g.ReadOutFrozen());
  QTest::mouseMove(&f.g, f.at(1, 0));
  QVERIFY(!f.g.ReadOutVisible());
  double_click(f.g, QPoint(20, 20));
  QVERIFY(!f.g.ReadOutFrozen());
  QTest::mouseMove(&f.g, QPoint(30, 30)); // a move to the same spot would not be delivered
  QTest::mouseMove(&f.g, f.at(1, 0));
  QVERIFY(f.g.ReadOutVisible());
}

void TestGraphInteraction::zoom_box_and_zoom_to_fit() {
  Fixture f;
  f.g.setYAutoRange(false);
  f.g.AddPoint(1, 1, 1, 0);
  f.g.AddPoint(1, 9, 9, 0);
  f.g.Redraw();
  const TGraphRect pl = f.g.GraphArea().plot;
  const double w = pl.right - pl.left, h = pl.top - pl.bottom;
  // Dragged right to left and upward: the band is normalised for zooming.
  const QPoint a(pl.left + 150, pl.bottom - 40), b(pl.left + 40, pl.bottom - 120);
  f.drag(a, b);
  QCOMPARE(f.g.xMinVal(), 40 * 10 / w);
  QCOMPARE(f.g.xMaxVal(), 150 * 10 / w);
  QCOMPARE(f.g.yMinVal(), -40 * 10 / h);
  QCOMPARE(f.g.yMaxVal(), -120 * 10 / h);
  QVERIFY(!f.g.xAutoRange());
  QVERIFY(!f.g.yAutoRange());
  QVERIFY(f.g.MenuItem(miZoomToFit)->isVisible());

  f.g.ZoomToFit();
  QVERIFY(f.g.xAutoRange());
  QVERIFY(f.g.yAutoRange()); // on even though the owner had it off
  QCOMPARE(f.g.yMinVal(), 1.0);
  QCOMPARE(f.g.yMaxVal(), 9.0);
  QVERIFY(!f.g.MenuItem(miZoomToFit)->isVisible());
  f.g.setYAutoRange(false);
  f.g.ZoomToFit(); // not zoomed any more: nothing
  QVERIFY(!f.g.yAutoRange());
}

// The wheel zooms about the value under the cursor (Ctrl: y), a middle drag pans, and a
// double-click then shows the whole data again; the points themselves never change.
void TestGraphInteraction::wheel_and_middle_drag() {
  Fixture f;
  f.g.setYAutoRange(false);
  f.g.AddPoint(1, 1, 1, 0);
  f.g.AddPoint(1, 9, 9, 0);
  f.g.Redraw();
  const TGraphRect pl = f.g.GraphArea().plot;
  auto wheel = [&](QPoint at, int delta, Qt::KeyboardModifiers mods) {
    QWheelEvent e(at, f.g.mapToGlobal(at), {}, {0, delta}, Qt::NoButton, mods, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&f.g, &e);
  };
  const QPoint quarter(pl.left + (pl.right - pl.left) / 4, (pl.top + pl.bottom) / 2);
  double x = 0, y = 0;
  PixelToValue(f.g.GraphArea(), quarter.x(), quarter.y(), x, y);
  const double ratio = (x - f.g.xMinVal()) / (f.g.xMaxVal() - x);
  wheel(quarter, 120, {});
  QCOMPARE(f.g.xMaxVal() - f.g.xMinVal(), 10 * 0.8);
  QVERIFY(std::abs((x - f.g.xMinVal()) / (f.g.xMaxVal() - x) - ratio) < 1e-9); // the cursor's value stays
  QCOMPARE(f.g.yMinVal(), 0.0);
  QCOMPARE(f.g.yMaxVal(), 10.0);
  QVERIFY(f.g.MenuItem(miZoomToFit)->isVisible());
  wheel(quarter, -240, Qt::ControlModifier);
  QCOMPARE(f.g.yMaxVal() - f.g.yMinVal(), 10 / 0.64);

  const TGraphRect pp = f.g.GraphArea().plot; // the labels of the new y range moved it
  const double x_span = f.g.xMaxVal() - f.g.xMinVal(), x_min = f.g.xMinVal();
  const QPoint from((pp.left + pp.right) / 2, (pp.top + pp.bottom) / 2);
  QTest::mousePress(&f.g, Qt::MiddleButton, {}, from);
  QTest::mouseMove(&f.g, from + QPoint((pp.right - pp.left) / 2, 0));
  QTest::mouseRelease(&f.g, Qt::MiddleButton, {}, from + QPoint((pp.right - pp.left) / 2, 0));
  const int moved = (pp.right - pp.left) / 2;
  QVERIFY2(std::abs(f.g.xMinVal() - (x_min - x_span * moved / (pp.right - pp.left))) < 1e-9,
           qPrintable(QString::number(f.g.xMinVal() - x_min)));
  QCOMPARE(f.g.Curve(1).points[1].x, 9.0);

  double_click(f.g, from);
  QVERIFY(f.g.xAutoRange() && f.g.yAutoRange());
  QCOMPARE(f.g.xMinVal(), 1.0);
  QCOMPARE(f.g.xMaxVal(), 9.0);
  QVERIFY(!f.g.ReadOutFrozen());

  // Rounded, it zooms from the range it was given, not from the round one it is drawn over.
  f.g.GraphArea().round_ticks = 1;
  f.g.setXMajInc(10);
  for (double drawn : {8.0, 6.0, 4.0}) {
    QCOMPARE(AxisMax(f.g.GraphArea().x) - AxisMin(f.g.GraphArea().x), drawn);
    wheel(from, 120, {});
    wheel(from, 120, {});
  }
}

void TestGraphInteraction::small_band_does_not_zoom() {
  Fixture f;
  f.g.AddPoint(1, 1, 1, 0);
  f.g.Redraw();
  const TGraphRect pl = f.g.GraphArea().plot;
  f.drag(QPoint(pl.left + 50, pl.top + 50), QPoint(pl.left + 150, pl.top + 60)); // 10 high
  QCOMPARE(f.g.xMaxVal(), 10.0);
  // Clamped to the plot: a drag from outside to far outside spans the plot, not the window.
  f.drag(QPoint(2, 2), QPoint(449, 449));
  QCOMPARE(f.g.xMinVal(), 0.0);
  QCOMPARE(f.g.xMaxVal(), 10.0);
  QCOMPARE(f.g.yMaxVal(), 10.0);
}

void TestGraphInteraction::rubber_band_keeps_ranges_while_dragged() {
  Fixture f;
  f.g.setXAutoRange(true);
  f.g.GraphArea().y.show_major_grid = 0;
  f.g.GraphArea().x.show_major_grid = 0;
  f.g.SetYCurveColors(1, 0x0000FF, 0x0000FF);
  f.g.AddPoint(1, 0, 1, 0);
  f.g.AddPoint(1, 10, 9, 0);
  f.g.Redraw();
  const TGraphRect pl = f.g.GraphArea().plot;
  const QPoint from(pl.left + 20, pl.top + 20), to(pl.left + 120, pl.top + 90);
  QTest::mousePress(&f.g, Qt::LeftButton, {}, from);
  f.g.AddPoint(1, 40, 5, 0); // arrives mid-drag without a Redraw
  QTest::mouseMove(&f.g, to - QPoint(30, 30));
  QTest::mouseMove(&f.g, to);
  QCOMPARE(f.g.xMaxVal(), 10.0);
  // The band: a dashed outline from the press to the mouse; the earlier outline is gone.
  const QImage &img = f.g.BackBuffer();
  int black = 0;
  for (int x = from.x(); x <= to.x(); ++x)
    black += img.pixelColor(x, from.y()) == QColor(Qt::black);
  QVERIFY2(black > 20 && black < to.x() - from.x(), qPrintable(QString::number(black)));
  int left_over = 0;
  for (int x = from.x() + 2; x < to.x() - 32; ++x)
    left_over += img.pixelColor(x, to.y() - 30) == QColor(Qt::black);
  for (int y = from.y() + 2; y < to.y() - 32; ++y)
    left_over += img.pixelColor(to.x() - 30, y) == QColor(Qt::black);
  QCOMPARE(left_over, 0);
  QTest::mouseRelease(&f.g, Qt::LeftButton, Qt::ShiftModifier, to); // a selection, no zoom
  QCOMPARE(f.g.xMaxVal(), 40.0);                                    // the next full frame ranges again
}

void TestGraphInteraction::zoom_out_waits_for_first_point() {
  Fixture f;
  f.g.ZoomOut();
  f.g.KeyDown(Qt::Key_B, Qt::ControlModifier);
  QCOMPARE(f.g.xMaxVal(), 10.0);
  QVERIFY(!f.g.MenuItem(miZoomToFit)->isVisible());
  f.g.AddPoint(1, 3, 3, 0);
  f.g.ClearCurve(1);
  f.g.ZoomOut();
  QCOMPARE(f.g.xMaxVal(), 11.0);
  QCOMPARE(f.g.yMinVal(), -1.0);
}

void TestGraphInteraction::delete_curve_asks_the_owner() {
  Fixture f;
  f.g.AddPoint(1, 2, 2, 0);
  f.g.AddPoint(3, 8, 8, 0);
  f.g.Redraw();
  QSignalSpy request(&f.g, &TQGraph::OnDeleteCurve);
  QTest::mouseMove(&f.g, f.at(3, 0));
  f.modals.answer = false;
  f.g.MenuItem(miDeleteCurve)->trigger();
  QCOMPARE(f.modals.asked_text, QStringLiteral("Delete Curve #3?"));
  QCOMPARE(f.modals.asked_caption, QStringLiteral("Delete Curve"));
  QCOMPARE(request.count(), 0);
  f.modals.answer = true;
  f.g.DeleteCurve();
  QCOMPARE(request.count(), 1);
  QCOMPARE(request.at(0).at(0).toInt(), 3);
  QCOMPARE(f.g.Curve(3).points.size(), size_t(1)); // only the owner deletes
}

void TestGraphInteraction::fits() {
  Fixture f;
  f.g.GraphArea().x.MinVal = -1; // every marker box well inside the plot
  f.g.GraphArea().x.MaxVal = 11;
  for (int i = 0; i <= 10; ++i)
    f.g.AddPoint(1, i, 0.5 * i + 1, 0);
  f.g.Redraw();
  const TGraphRect pl = f.g.GraphArea().plot;
  f.drag(QPoint(pl.left - 5, pl.top - 5), QPoint(pl.right + 5, pl.bottom + 5), Qt::ShiftModifier);
  QCOMPARE(selected_count(f.g, 1), 11);
  f.g.MenuItem(miLinearCurveFit)->trigger();
  QCOMPARE(f.g.FitCount(), 1);
  QVERIFY(!f.g.MenuItem(miLinearCurveFit)->isVisible());
  QVERIFY(f.g.MenuItem(miRemoveCurveFit)->isVisible());
  const TCurve &line = f.g.Curve(11);
  QCOMPARE(line.points.size(), size_t(2));
  // Across the x axis's current range.
  QCOMPARE(line.points[0].x, -1.0);
  QCOMPARE(line.points[0].y, 0.5);
  QCOMPARE(line.points[1].x, 11.0);
  QCOMPARE(line.points[1].y, 6.5);
  const TQLabel &label = f.g.Labels().back();
  QCOMPARE(label.Text,
           QStringLiteral("Slope=") + localized(QStringLiteral("0.5")) + QStringLiteral(", Intercept=1"));
  QCOMPARE(label.X, 225);
  QCOMPARE(label.Y, 225);

  for (int i = 2; i <= 6; ++i)
    f.g.LinearCurveFit();
  QCOMPARE(f.g.FitCount(), 5);
  QVERIFY(f.g.Curve(15).points.size() == 2);
  int slope_labels = 0;
  for (const TQLabel &l : f.g.Labels())
    slope_labels += l.Text.startsWith(QStringLiteral("Slope="));
  QCOMPARE(slope_labels, 5); // the sixth added nothing
}

void TestGraphInteraction::fit_over_one_x() {
  Fixture f;
  for (double y : {1.0, 4.0, 7.0})
    f.g.AddPoint(1, 5, y, 0);
  f.g.Redraw();
  const TGraphRect pl = f.g.GraphArea().plot;
  f.drag(QPoint(pl.left - 5, pl.top - 5), QPoint(pl.right + 5, pl.bottom + 5), Qt::ShiftModifier);
  f.g.LinearCurveFit();
  QCOMPARE(f.g.FitCount(), 1);
  QVERIFY(f.g.Curve(11).points.empty()); // no line of y = a x + b exists
  QVERIFY(f.g.Labels().back().Text.startsWith(QStringLiteral("Slope=undefined")));
  QVERIFY(f.g.Labels().back().Text.contains(QStringLiteral("x=5")));
  f.g.RemoveCurveFit();
  QVERIFY(f.g.Labels().empty());
  // Nothing selected: said in a message, no fit and no label off the graph.
  f.g.DeselectData();
  f.g.LinearCurveFit();
  QCOMPARE(f.modals.informed.size(), 1);
  QCOMPARE(f.g.FitCount(), 0);
  QVERIFY(f.g.Labels().empty());
}

void TestGraphInteraction::fit_label_with_exponent() {
  Fixture f;
  f.g.GraphArea().x.MinVal = -1e6;
  f.g.GraphArea().x.MaxVal = 3e6;
  f.g.AddPoint(1, 0, 2, 0);
  f.g.AddPoint(1, 2e6, 5, 0);
  f.g.Redraw();
  const TGraphRect pl = f.g.GraphArea().plot;
  f.drag(QPoint(pl.left, pl.top), QPoint(pl.right, pl.bottom), Qt::ShiftModifier);
  f.g.LinearCurveFit();
  QCOMPARE(f.g.Labels().back().Text, QStringLiteral("Slope=") + localized(QStringLiteral("1.5E-0006")) +
                                         QStringLiteral(", Intercept=2"));
}

void TestGraphInteraction::remove_curve_fit_deletes_slope_labels() {
  Fixture f;
  for (int i = 0; i <= 4; ++i)
    f.g.AddPoint(1, i, i, 0);
  f.g.Redraw();
  const TGraphRect pl = f.g.GraphArea().plot;
  f.drag(QPoint(pl.left - 5, pl.top - 5), QPoint(pl.right + 5, pl.bottom + 5), Qt::ShiftModifier);
  f.label(10, 10, QStringLiteral("keep"));
  f.label(20, 20, QStringLiteral("my Slope note"));
  f.label(30, 30, QStringLiteral("slope in lower case stays"));
  f.g.LinearCurveFit();
  f.g.LinearCurveFit();
  QCOMPARE(f.g.Labels().size(), size_t(5));
  f.g.MenuItem(miRemoveCurveFit)->trigger();
  QCOMPARE(f.g.Labels().size(), size_t(2));
  QCOMPARE(f.g.Labels()[0].Text, QStringLiteral("keep"));
  QCOMPARE(f.g.Labels()[1].Text, QStringLiteral("slope in lower case stays"));
  QVERIFY(f.g.Curve(11).points.empty());
  QVERIFY(f.g.Curve(12).points.empty());
  QCOMPARE(f.g.FitCount(), 0);
  QVERIFY(f.g.MenuItem(miLinearCurveFit)->isVisible()); // data still selected
  QVERIFY(!f.g.MenuItem(miRemoveCurveFit)->isVisible());
}

void TestGraphInteraction::deselect_data() {
  Fixture f;
  for (int i = 0; i <= 4; ++i)
    f.g.AddPoint(1, i, i, 0);
  f.g.Redraw();
  const TGraphRect pl = f.g.GraphArea().plot;
  f.drag(QPoint(pl.left - 5, pl.top - 5), QPoint(pl.right + 5, pl.bottom + 5), Qt::ShiftModifier);
  f.g.LinearCurveFit();
  f.g.MenuItem(miDeselectData)->trigger();
  QCOMPARE(selected_count(f.g, 1), 0);
  QCOMPARE(f.g.FitCount(), 0);
  QVERIFY(f.g.Labels().empty());
  QVERIFY(!f.g.DataSelected());
  QVERIFY(!f.g.MenuItem(miLinearCurveFit)->isVisible());
  QVERIFY(!f.g.MenuItem(miDeselectData)->isVisible());
}

QTEST_MAIN(TestGraphInteraction)
#include "test_graph_interaction.moc"
