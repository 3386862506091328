#include "GraphExport.h"

#include "TQGraphUnit.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QFileInfo>
#include <QMimeData>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QSaveFile>
#include <QSvgGenerator>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kScreenDpi = 96;

QSize picture_size(const TQGraph &graph, QSize size) {
  if (size.isEmpty())
    size = graph.BackBuffer().isNull() ? graph.size() : graph.CanvasSize();
  return size.expandedTo(QSize(1, 1));
}

// Draws into an SVG generator writing to `device`.
void write_svg(TQGraph &graph, QSize size, QIODevice *device) {
  QSvgGenerator svg;
  svg.setOutputDevice(device);
  svg.setSize(size);
  svg.setViewBox(QRect(QPoint(0, 0), size));
  svg.setResolution(kScreenDpi);
  svg.setTitle(graph.Title());
  QPainter p(&svg);
  graph.RenderTo(p, size);
}

} // namespace

TGraphFileKind GraphFileKind(const QString &file_name) {
  const QString suffix = QFileInfo(file_name).suffix().toLower();
  if (suffix == u"png")
    return TGraphFileKind::png;
  if (suffix == u"svg")
    return TGraphFileKind::svg;
  if (suffix == u"pdf")
    return TGraphFileKind::pdf;
  return TGraphFileKind::unknown;
}

QStringList GraphFileFilters() {
  return {QStringLiteral("PNG Image (*.png)"), QStringLiteral("SVG Drawing (*.svg)"),
          QStringLiteral("PDF Document (*.pdf)")};
}

QImage GraphImage(TQGraph &graph, QSize size, int dpi) {
  size = picture_size(graph, size);
  dpi = std::clamp(dpi, 10, 2400);
  const double scale = double(dpi) / kScreenDpi;
  QImage image(std::max(1, int(std::lround(size.width() * scale))),
               std::max(1, int(std::lround(size.height() * scale))), QImage::Format_RGB32);
  const int dots_per_meter = int(std::lround(dpi / 0.0254));
  image.setDotsPerMeterX(dots_per_meter);
  image.setDotsPerMeterY(dots_per_meter);
  QPainter p(&image);
  if (dpi != kScreenDpi) {
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);
  }
  graph.RenderTo(p, size);
  return image;
}

QByteArray GraphSvg(TQGraph &graph, QSize size) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  write_svg(graph, picture_size(graph, size), &buffer);
  return bytes;
}

bool ExportGraph(TQGraph &graph, const QString &file_name, QSize size, int dpi, QString &reason) {
  const TGraphFileKind kind = GraphFileKind(file_name);
  if (kind == TGraphFileKind::unknown) {
    reason = QStringLiteral("the name must end in .png, .svg or .pdf");
    return false;
  }
  size = picture_size(graph, size);
  QSaveFile file(file_name);
  if (!file.open(QIODevice::WriteOnly)) {
    reason = file.errorString();
    return false;
  }
  bool written = true;
  switch (kind) {
  case TGraphFileKind::png: written = GraphImage(graph, size, dpi).save(&file, "PNG"); break;
  case TGraphFileKind::svg: write_svg(graph, size, &file); break;
  case TGraphFileKind::pdf: {
    QPdfWriter pdf(&file);
    pdf.setResolution(kScreenDpi);
    pdf.setTitle(graph.Title());
    pdf.setCreator(QStringLiteral("QX5200 Waveform Generator"));
    pdf.setPageMargins(QMarginsF());
    pdf.setPageSize(QPageSize(QSizeF(size) * 72.0 / kScreenDpi, QPageSize::Point));
    QPainter p(&pdf);
    graph.RenderTo(p, size);
    written = p.end();
    break;
  }
  case TGraphFileKind::unknown: break;
  }
  if (!written || file.error() != QFileDevice::NoError) {
    reason = written ? file.errorString() : QStringLiteral("the picture could not be written");
    file.cancelWriting();
    return false;
  }
  if (!file.commit()) {
    reason = file.errorString();
    return false;
  }
  return true;
}

void CopyGraphToClipboard(TQGraph &graph) {
  auto *data = new QMimeData;
  data->setImageData(GraphImage(graph));
  data->setData(QStringLiteral("image/svg+xml"), GraphSvg(graph));
  QApplication::clipboard()->setMimeData(data);
}

void PaintGraphPage(TQGraph &graph, QPainter &p, const QRectF &page, const QStringList &lines) {
  const QSize size = picture_size(graph, {});
  const double scale = std::min(page.width() / size.width(), page.height() * 2.0 / 3.0 / size.height());
  p.save();
  p.translate(page.topLeft());
  p.scale(scale, scale);
  graph.RenderTo(p, size);
  p.restore();

  QFont font(QStringLiteral("ARIAL"));
  font.setPointSize(10);
  p.setFont(font);
  p.setPen(Qt::black);
  const QFontMetricsF fm(font, p.device());
  double y = page.top() + size.height() * scale + fm.height();
  for (const QString &line : lines) {
    if (y + fm.height() > page.bottom())
      break;
    p.drawText(QPointF(page.left(), y + fm.ascent()), line);
    y += fm.lineSpacing();
  }
}

bool PrintGraph(TQGraph &graph, QPrinter &printer, const QStringList &lines, QString &reason) {
  QPainter p;
  if (!p.begin(&printer)) {
    reason = QStringLiteral("the printer could not be started");
    return false;
  }
  PaintGraphPage(
      graph, p,
      printer.pageRect(QPrinter::DevicePixel).translated(-printer.pageRect(QPrinter::DevicePixel).topLeft()),
      lines);
  return p.end();
}
