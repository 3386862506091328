#include "JpegImage.h"

#include <QBuffer>
#include <QFile>
#include <QTest>

namespace {
QByteArray pulse_picture() {
  QFile f(QStringLiteral(PULSE_PICTURE));
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
} // namespace

class TestJpegImage : public QObject {
  Q_OBJECT
private slots:
  void decodes_the_pulse_picture();
  void damaged_data_is_refused_data();
  void damaged_data_is_refused();
  void oversized_header_is_refused();
};

void TestJpegImage::decodes_the_pulse_picture() {
  const QByteArray data = pulse_picture();
  QVERIFY(!data.isEmpty());
  QString error;
  const QImage image = decode_jpeg(data, &error);
  QVERIFY2(!image.isNull(), qPrintable(error));
  QCOMPARE(image.size(), QSize(447, 199));
  // White background, red curve: the corner pixel is near white, and some pixel is clearly red.
  QVERIFY(qRed(image.pixel(440, 5)) > 240 && qGreen(image.pixel(440, 5)) > 240);
  bool red = false;
  for (int x = 150; x < 200 && !red; ++x)
    for (int y = 30; y < 50 && !red; ++y)
      red = qRed(image.pixel(x, y)) > 150 && qGreen(image.pixel(x, y)) < 80;
  QVERIFY(red);
}

void TestJpegImage::damaged_data_is_refused_data() {
  QTest::addColumn<QByteArray>("data");
  const QByteArray good = pulse_picture();
  QTest::newRow("empty") << QByteArray();
  QTest::newRow("garbage") << QByteArray(5000, 'x');
  QTest::newRow("header only") << good.left(200);
  QTest::newRow("truncated") << good.left(good.size() / 2);
  QByteArray flipped = good;
  for (qsizetype i = 700; i < flipped.size() - 2; i += 37)
    flipped[i] = static_cast<char>(0xFF);
  QTest::newRow("markers inside the scan") << flipped;
}

void TestJpegImage::damaged_data_is_refused() {
  QFETCH(QByteArray, data);
  QString error;
  const QImage image = decode_jpeg(data, &error);
  QVERIFY(image.isNull());
  QVERIFY(!error.isEmpty());
}

void TestJpegImage::oversized_header_is_refused() {
  // Patch the frame header of a valid picture to claim 65000 x 65000 pixels.
  QByteArray data = pulse_picture();
  const qsizetype sof = data.indexOf(QByteArray("\xFF\xC0", 2));
  QVERIFY(sof > 0);
  data[sof + 5] = static_cast<char>(0xFD);
  data[sof + 6] = static_cast<char>(0xE8);
  data[sof + 7] = static_cast<char>(0xFD);
  data[sof + 8] = static_cast<char>(0xE8);
  QString error;
  QVERIFY(decode_jpeg(data, &error).isNull());
  QCOMPARE(error, QStringLiteral("picture too large"));
}

QTEST_GUILESS_MAIN(TestJpegImage)
#include "test_jpeg_image.moc"
