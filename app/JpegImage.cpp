#include "JpegImage.h"

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace {

// libjpeg reports fatal errors through error_exit, which must not return: jump back to the
// decoder, which owns every object that needs cleaning up.
struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void on_error_exit(j_common_ptr cinfo) {
  auto *err = reinterpret_cast<ErrorManager *>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

void on_output_message(j_common_ptr) {}

// Adobe CMYK JPEGs store inverted ink values; plain ones do not.
void cmyk_to_rgbx(const JSAMPLE *in, uchar *out, JDIMENSION width, bool inverted) {
  for (JDIMENSION x = 0; x < width; ++x, in += 4, out += 4) {
    int c = in[0], m = in[1], y = in[2], k = in[3];
    if (!inverted) {
      c = 255 - c;
      m = 255 - m;
      y = 255 - y;
      k = 255 - k;
    }
    out[0] = static_cast<uchar>(c * k / 255);
    out[1] = static_cast<uchar>(m * k / 255);
    out[2] = static_cast<uchar>(y * k / 255);
    out[3] = 255;
  }
}

} // namespace

QImage decode_jpeg(const QByteArray &data, QString *error) {
  // Everything with a destructor is declared before setjmp: a longjmp must not cross one.
  QImage image;
  QByteArray cmyk_row;
  jpeg_decompress_struct cinfo{};
  ErrorManager err{};
  auto fail = [error](const QString &reason) {
    if (error)
      *error = reason;
    return QImage();
  };
  if (data.isEmpty())
    return fail(QStringLiteral("empty picture data"));

  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = on_error_exit;
  err.pub.output_message = on_output_message;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return fail(QString::fromLatin1(err.message));
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char *>(data.constData()),
               static_cast<unsigned long>(data.size()));
  jpeg_read_header(&cinfo, TRUE);

  if (qint64(cinfo.image_width) * cinfo.image_height > kMaxJpegPixels) {
    jpeg_destroy_decompress(&cinfo);
    return fail(QStringLiteral("picture too large"));
  }
  const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_RGBX;
  jpeg_start_decompress(&cinfo);

  image = QImage(static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height),
                 QImage::Format_RGBX8888);
  if (image.isNull()) {
    jpeg_destroy_decompress(&cinfo);
    return fail(QStringLiteral("out of memory for the picture"));
  }
  if (cmyk)
    cmyk_row.resize(qsizetype(cinfo.output_width) * 4);
  while (cinfo.output_scanline < cinfo.output_height) {
    const int y = static_cast<int>(cinfo.output_scanline);
    JSAMPROW row = cmyk ? reinterpret_cast<JSAMPROW>(cmyk_row.data()) : image.scanLine(y);
    jpeg_read_scanlines(&cinfo, &row, 1);
    if (cmyk)
      cmyk_to_rgbx(row, image.scanLine(y), cinfo.output_width, cinfo.saw_Adobe_marker);
  }
  const bool truncated = err.pub.num_warnings > 0;
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  if (truncated)
    return fail(QStringLiteral("picture data is damaged or truncated"));
  return image;
}
