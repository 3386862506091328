// Program start: the application, its title and version, the main window, the message loop.
#include "QX5200_unit.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QIcon>

namespace {

void add_options(QCommandLineParser &parser) {
  parser.setApplicationDescription(
      QStringLiteral("Control program of the QX5200 arbitrary waveform generator."));
  parser.addHelpOption();
  parser.addVersionOption();
  // Recognised now so scripts can pass it; it does not attach a virtual device yet.
  parser.addOption(
      QCommandLineOption(QStringLiteral("simulate"), QStringLiteral("Run against a virtual QX5200.")));
}

} // namespace

int main(int argc, char *argv[]) {
  // --help and --version answer without opening the window system, so they work without a
  // display. Everything else is checked once Qt has taken its own options (-platform ...).
  for (int i = 1; i < argc; ++i) {
    const QByteArray arg(argv[i]);
    if (arg == "-h" || arg == "--help" || arg == "--help-all" || arg == "-v" || arg == "--version") {
      QCoreApplication cli(argc, argv);
      QCoreApplication::setApplicationVersion(QStringLiteral(QX5200_VERSION));
      QCommandLineParser parser;
      add_options(parser);
      parser.process(cli);
      return 0;
    }
  }

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("QX5200 Waveform Generator"));
  QApplication::setApplicationVersion(QStringLiteral(QX5200_VERSION));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/qx5200/qx5200.png")));
  // Ties the windows to qx5200.desktop, whose icon Wayland compositors show.
  QGuiApplication::setDesktopFileName(QStringLiteral("qx5200"));
  QCommandLineParser parser;
  add_options(parser);
  parser.process(app);

  TForm1 window;
  window.show();
  return app.exec();
}
