#include "WaveformGraph.h"

#include "QX5200_Waveform.h"
#include "TQGraphUnit.h"

#include <cmath>

void SetupWaveformGraph(TQGraph &graph) {
  graph.setShowY2Axis(false);
  graph.setYShowUnits(true);
  graph.setY2ShowUnits(true);
  graph.setYMajInc(10);
  graph.setYDecimalCount(4);
  graph.setTitle(QStringLiteral("Waveform"));
  graph.setYMinVal(-1);
  graph.setYMaxVal(1);
  graph.setY2MinVal(-1);
  graph.setY2MaxVal(1);
  graph.setYMajInc(10);
  graph.setYShowUnits(true);
  graph.setYAutoRange(false);
  graph.setY2AutoRange(true);
  graph.setYDecimalCount(4);
  graph.setY2DecimalCount(1);
  graph.setXTitle(QStringLiteral("Time"));
  graph.setXUnits(QStringLiteral("s"));
  graph.setXShowUnits(true);
  graph.setXMaxVal(0.0001);
  graph.setXMinVal(0);
  graph.setXRange(-2);
  graph.setXDecimalCount(3);
  graph.setXMajInc(10);
  graph.setXAutoRange(true);
  graph.setYTitle(QStringLiteral("Voltage"));
  graph.setY2Title(QStringLiteral("Actual Voltage"));
  graph.setYUnits(QStringLiteral("V"));
  graph.setY2Units(QStringLiteral("V"));
  for (int curve : {1, 2}) {
    const int color = curve == 1 ? kColorRed : kColorBlue;
    graph.SetYCurveColors(curve, color, color);
    graph.SetY2CurveColors(curve, kColorBlue, kColorBlue);
    graph.SetCurvePointsVisible(curve, true, false);
  }
  graph.setY2LineWidth(2);
  // One pixel, as the graph draws a width of 0; Graph Setup then shows it.
  graph.setYLineWidth(1);
}

void SetWaveformAxes(TQGraph &graph, const TQX5200Waveform &waveform, const QString &units) {
  graph.ClearCurve(1);
  graph.ClearCurve(2);
  const long double t = waveform.data_count() > 0 ? waveform.max_time() : 0.0L;
  int r = -2;
  if (t != 0)
    r = int(std::nearbyint(std::log10(std::fabs(t))));
  graph.setXRange(r < 0 ? r / 3 - 1 : r / 3);
  if (waveform.load_board.lb_gain < 0)
    graph.setY2MinVal(0);
  const QString title = units == u"A" ? QStringLiteral("Current") : QStringLiteral("Voltage");
  // The units follow the title at once, not only with the next plot.
  graph.setYUnits(units);
  // The second axis shows the same output, in the same units.
  graph.setY2Units(units);
  graph.setYTitle(title);
  graph.setY2Title(title);
  const long double top = waveform.max_value();
  graph.setYMaxVal(top != 0 ? double(top) : 1.0);
  graph.setYMinVal(0);
}

qsizetype PlotWaveform(TQGraph &graph, const TQX5200Waveform &waveform, const QString &units) {
  graph.setYUnits(units);
  const qsizetype count = waveform.sampled_data_count();
  if (count > 0) {
    const long double m = std::fabs(waveform.load_board.lb_max_value);
    auto limited = [m](long double x) {
      if (std::fabs(x) > m)
        return x > 0 ? m : -m;
      return x;
    };
    TWavePoint point;
    for (qsizetype i = 0; i < count; ++i) {
      waveform.get_device_point(i, point);
      graph.AddPoint(1, double(point.time), double(point.value), 0);
    }
    TWavePoint previous;
    for (qsizetype i = 0; i < count; ++i) {
      waveform.get_device_point(i == 0 ? 0 : i - 1, previous);
      waveform.get_device_point(i, point);
      graph.AddPoint(2, double(point.time), double(limited(previous.value)), 0);
      graph.AddPoint(2, double(point.time), double(limited(point.value)), 0);
    }
  } else {
    SetWaveformAxes(graph, waveform, units);
    graph.setXRange(-2);
  }
  graph.Redraw();
  return count;
}
