#pragma once

#include <QtGlobal>

class TQGraph;
class TQX5200Waveform;
class QString;

// The graph as the window sets it up for a waveform, so that qx5200-wave --plot draws the
// window's own picture.

// Titles, units, ranges and colours of a fresh waveform graph.
void SetupWaveformGraph(TQGraph &graph);
// Clears curves 1 and 2 and fits the axes to the waveform's time and value; `units` is the load
// board's ("V" when it names none).
void SetWaveformAxes(TQGraph &graph, const TQX5200Waveform &waveform, const QString &units);
// Curve 1: the device points; curve 2: the stepped output, two points per sample, limited to the
// board's largest value. With no device points the axes are set as for an empty waveform.
// Redraws; returns the number of device points.
qsizetype PlotWaveform(TQGraph &graph, const TQX5200Waveform &waveform, const QString &units);
