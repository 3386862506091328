#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

class QPainter;
class QPrinter;
class QRectF;
class TQGraph;

// What the graph shows, as a picture for other programs: PNG, SVG and PDF files, the clipboard
// and the printed page. Each goes through the graph's own drawing, so curves, labels, fits, grid
// and titles are those of the screen. Sizes are in screen pixels; an empty size is the size on
// screen.

enum class TGraphFileKind { unknown, png, svg, pdf };
// By the file name's extension, in any letter case.
TGraphFileKind GraphFileKind(const QString &file_name);
// The export dialog's filters, PNG first.
QStringList GraphFileFilters();

// A raster picture; at `dpi` other than 96 it has size x dpi / 96 pixels and says its dpi.
QImage GraphImage(TQGraph &graph, QSize size = {}, int dpi = 96);
// An SVG document: curves as paths, texts as text.
QByteArray GraphSvg(TQGraph &graph, QSize size = {});

// Writes the picture the file name's extension asks for. The file is replaced only once the
// whole picture is written; on failure it is left as it was and `reason` says why.
bool ExportGraph(TQGraph &graph, const QString &file_name, QSize size, int dpi, QString &reason);

// The picture on the clipboard, as an image and as SVG for receivers that take it.
void CopyGraphToClipboard(TQGraph &graph);

// One page: the graph across the page's width (at most two thirds of its height), and under it
// one text line each of `lines` (file name, date, the statistics).
void PaintGraphPage(TQGraph &graph, QPainter &p, const QRectF &page, const QStringList &lines);
// Prints that page; false, with the reason, when the printer could not be started.
bool PrintGraph(TQGraph &graph, QPrinter &printer, const QStringList &lines, QString &reason);
