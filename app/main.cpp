// Program start: the application, its title and version, the main window, the message loop.
#include "DeviceLock.h"
#include "HidBackendLinux.h"
#include "QX5200_Driver.h"
#include "QX5200_unit.h"
#include "Settings.h"
#include "SimulateFaults.h"
#include "SimulatorMenu.h"
#include "TVirtualQX5200Device.h"
#include "WindowHolder.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QIcon>

#include <cstdio>
#include <memory>

namespace {

void add_options(QCommandLineParser &parser) {
  parser.setApplicationDescription(
      QStringLiteral("Control program of the QX5200 arbitrary waveform generator."));
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addOption(QCommandLineOption(
      QStringLiteral("simulate"),
      QStringLiteral("Run against a virtual QX5200 with load board LB1, with a Simulator menu; "
                     "--simulate=FAULT,... starts it with faults: %1.")
          .arg(TSimulateFaults::choices())));
  parser.addOption(QCommandLineOption(QStringLiteral("reset-settings"),
                                      QStringLiteral("Forget every remembered setting, then exit.")));
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
      QString ignored;
      parser.process(take_simulate_list(cli.arguments(), ignored));
      return 0;
    }
    // Needs no display either: a program whose settings keep it from starting can be mended.
    if (arg == "--reset-settings") {
      QCoreApplication cli(argc, argv);
      const std::unique_ptr<TSettings> settings = TSettings::user();
      settings->reset();
      std::printf("qx5200: settings reset to the defaults (%s)\n", qPrintable(settings->file_name()));
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
  QString fault_list;
  parser.process(take_simulate_list(QApplication::arguments(), fault_list));
  TSimulateFaults faults;
  if (QString why; !faults.parse(fault_list, why)) {
    std::fprintf(stderr, "qx5200: %s\n", why.toLocal8Bit().constData());
    return 2;
  }

  // The HID back end: the system's devices, or a virtual bus with one QX5200 on it.
  std::unique_ptr<TVirtualQX5200Device> simulated;
  std::unique_ptr<THidBackend> backend;
  if (parser.isSet(QStringLiteral("simulate"))) {
    simulated = std::make_unique<TVirtualQX5200Device>(VirtualHidBus::create());
    backend = simulated->bus()->make_backend();
    faults.apply(*simulated);
  } else {
    backend = std::make_unique<THidBackendLinux>();
  }

  // One program per device: the window waits while another program holds it.
  TDeviceLock lock(QStringLiteral("qx5200"));
  const std::unique_ptr<TSettings> settings = TSettings::user(); // outlives the window
  TForm1 window(nullptr, std::move(backend));
  // The window uploads what it likes: a waveform qx5200-ctl uploaded earlier is no longer known.
  lock.set_clears_upload_stamp(true);
  lock.attach(window.driver->hid());
  // While it holds the device, other programs' status and stop are asked of the window.
  TWindowHolder holder(window, lock);
  if (simulated)
    add_simulator_menu(window, *simulated);
  // Remembered choices only: no file is opened and nothing is sent to the device at start.
  window.use_settings(settings.get());
  window.show();
  return app.exec();
}
