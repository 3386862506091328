#include "ScpiInstrument.h"

#include "BoardFields.h"
#include "DeviceLock.h"
#include "DeviceStatus.h"
#include "QX5200_Driver.h"
#include "ScpiServer.h"
#include "WaveFileLoader.h"
#include "WaveReport.h"

#include <QJsonDocument>
#include <QTemporaryFile>

namespace {

const char *const separator_names[] = {"TAB", "COMMa", "SPACe", "SEMicolon"};
constexpr char16_t separators[] = {u'\t', u',', u' ', u';'};

QByteArray json(const QJsonObject &o) { return QJsonDocument(o).toJson(QJsonDocument::Compact); }

} // namespace

TQX5200Instrument::TQX5200Instrument(TQX5200_DRIVER &driver, TDeviceLock &lock, TDeviceTurn &turn,
                                     QObject *parent)
    : QObject(parent), driver_(driver), lock_(lock), turn_(turn) {
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, &TQX5200Instrument::tick);
  driver_.set_repeat_count(1);
  add_commands();
}

bool TQX5200Instrument::open_device() {
  connected_ = false;
  driver_.enumerate();
  if (!driver_.is_connected())
    return false;
  quint16 serial = 0;
  QString revision;
  if (!driver_.read_serial_number(serial) || !driver_.read_revision(revision) || !driver_.query_run_state())
    return false;
  lock_.set_serial(serial);
  if (driver_.is_running()) {
    // Left playing: the calibration and the record are read, nothing is sent that would change
    // what the device does.
    long double v = 0;
    if (!driver_.read_dac_offset(v) || !driver_.read_adc_offset(v) || !driver_.read_adc_gain(v) ||
        !driver_.read_status())
      return false;
    if (driver_.load_board_present() && !driver_.read_load_board_record())
      return false;
  } else if (!driver_.initialize()) {
    if (!driver_.read_status() || driver_.load_board_present())
      return false;
  }
  if (!driver_.read_status() || !driver_.read_usb_voltage(usb_voltage_))
    return false;
  status_age_.start();
  connected_ = true;
  board_ready_ = driver_.load_board_present();
  // The device's words are of unknown origin: the first start uploads.
  driver_.set_waveform_changed(true);
  rebuild();
  return true;
}

void TQX5200Instrument::start_polling() {
  timer_.start(connected_ ? status_interval_ms : search_interval_ms);
}

void TQX5200Instrument::tick() {
  if (!turn_.take()) {
    timer_.start(run_interval_ms);
    return;
  }
  poll_device();
  turn_.give();
  timer_.start(!connected_            ? search_interval_ms
               : driver_.is_running() ? run_interval_ms
                                      : status_interval_ms);
}

void TQX5200Instrument::poll_device() {
  if (!connected_) {
    if (open_device() && on_status)
      on_status();
    return;
  }
  if (!driver_.query_run_state()) {
    connected_ = false;
    return;
  }
  if (status_age_.isValid() && status_age_.elapsed() < status_interval_ms)
    return;
  if (!driver_.read_status() || !driver_.read_usb_voltage(usb_voltage_)) {
    connected_ = false;
    return;
  }
  status_age_.start();
  board_changed();
  if (on_status)
    on_status();
}

// A board that came or went: its record is read (or forgotten) and the waveform built again
// for it, as the window does.
void TQX5200Instrument::board_changed() {
  const bool present = driver_.load_board_present();
  if (present == board_ready_ || driver_.is_running())
    return;
  if (present) {
    if (!driver_.read_load_board_record())
      return;
    driver_.set_output_value(0);
  }
  board_ready_ = present;
  rebuild();
}

void TQX5200Instrument::rebuild() {
  if (driver_.data_count() > 0)
    driver_.build_waveform(driver_.sensor_value());
}

bool TQX5200Instrument::device_ready(TScpiCall &call) {
  if (connected_)
    return true;
  call.fail(scpi::hardware_missing, QStringLiteral("no QX5200 connected"));
  return false;
}

void TQX5200Instrument::lost(TScpiCall &call) {
  connected_ = false;
  call.fail(scpi::hardware_error, QStringLiteral("the QX5200 stopped answering"));
}

bool TQX5200Instrument::fresh_status(TScpiCall &call) {
  if (!device_ready(call))
    return false;
  if (status_age_.isValid() && status_age_.elapsed() < fresh_ms)
    return true;
  if (!driver_.read_status() || !driver_.read_usb_voltage(usb_voltage_)) {
    lost(call);
    return false;
  }
  status_age_.start();
  board_changed();
  return true;
}

void TQX5200Instrument::report_data_error(TScpiCall &call) {
  const TQX5200Waveform &w = driver_.waveform();
  if (!w.data_error())
    return;
  QString text = error_message(w);
  switch (w.error_type()) {
  case TQX5200Waveform::time_not_increasing:
    call.fail(scpi::data_out_of_range, text + QStringLiteral(" (point %1)").arg(w.error_index() + 1));
    break;
  case TQX5200Waveform::no_data: call.fail(scpi::data_out_of_range, text); break;
  case TQX5200Waveform::overflow: call.fail(scpi::too_much_data, text); break;
  default:
    call.fail(scpi::settings_conflict,
              text + QStringLiteral(" for load board %1").arg(driver_.load_board().lb_name));
  }
}

// A table or PWL text in a block goes through the readers of File > Open, from a file of its
// own: the points are the driver's only once the whole text has been read.
void TQX5200Instrument::set_block(TScpiCall &call) {
  if (call.count() != 1) {
    call.fail(scpi::parameter_not_allowed, QStringLiteral("one block"));
    return;
  }
  QTemporaryFile file;
  if (!file.open() || file.write(call.param(0).text) != call.param(0).text.size() || !file.flush()) {
    call.fail(scpi::execution_error, QStringLiteral("cannot keep the block: %1").arg(file.errorString()));
    return;
  }
  TWaveFileFormat format;
  format.pwl = pwl_;
  format.separator = separator_;
  std::vector<TWavePoint> points;
  QString reason;
  if (!load_wave_file(file.fileName(), format, points, reason)) {
    call.fail(scpi::execution_error, reason);
    return;
  }
  driver_.set_points(std::move(points));
  driver_.build_waveform(driver_.sensor_value());
  report_data_error(call);
}

// START as the window does it: the figures for the sensor value now, the board read again just
// before the start, and words only for the board they were built for.
void TQX5200Instrument::start(TScpiCall &call) {
  if (!device_ready(call) || driver_.is_running())
    return;
  if (driver_.data_count() == 0) {
    call.fail(scpi::settings_conflict, QStringLiteral("no waveform: send one with WAVeform:DATA"));
    return;
  }
  if (!driver_.load_board_present()) {
    call.fail(scpi::hardware_missing, QStringLiteral("no load board"));
    return;
  }
  if (driver_.over_temperature()) {
    call.fail(scpi::execution_error, QStringLiteral("the load board is over temperature: let it cool down"));
    return;
  }
  driver_.compute_statistics(driver_.sensor_value());
  if (driver_.data_error()) {
    report_data_error(call);
    return;
  }
  TQX5200_DRIVER::TBoardCheck check = TQX5200_DRIVER::board_ok;
  if (!driver_.start_for_inserted_board(check)) {
    if (check == TQX5200_DRIVER::board_unanswered) {
      lost(call);
    } else if (check != TQX5200_DRIVER::board_ok) {
      // Built again for the board in now: the client may look at the figures and start again.
      board_ready_ = false;
      if (driver_.read_status())
        board_changed();
      call.fail(scpi::settings_conflict,
                QStringLiteral("the load board changed after the waveform was built: nothing was started"));
    } else if (driver_.data_error() || driver_.over_temperature()) {
      report_data_error(call);
    } else {
      lost(call);
    }
    return;
  }
  if (!driver_.query_run_state())
    lost(call);
}

QByteArray TQX5200Instrument::condition() const {
  if (!connected_)
    return "NODEVICE";
  if (driver_.is_running())
    return "RUNNING";
  if (!driver_.load_board_present())
    return "NOBOARD";
  if (driver_.over_temperature())
    return "OVERTEMP";
  if (driver_.data_count() == 0)
    return "NODATA";
  if (driver_.data_error())
    return "DATAERROR";
  return "READY";
}

void TQX5200Instrument::add_commands() {
  TScpiCommandTable &t = table_;
  t.add_status_commands();
  t.add("*IDN", true, {}, [this](TScpiCall &c) {
    c.reply = qx5200_maker() + ",QX5200," + QByteArray::number(driver_.serial_number()) + ',' +
              (driver_.revision().isEmpty() ? QByteArray("0") : driver_.revision().toLatin1());
  });
  t.add("*TST", true, {}, [](TScpiCall &c) { c.reply = "0"; });
  t.add("*RST", false, {}, [this](TScpiCall &c) {
    if (connected_ && driver_.is_running() && (!driver_.stop_output() || !driver_.query_run_state()))
      lost(c);
    driver_.clear_points();
    driver_.set_repeat_count(1);
    driver_.set_waveform_changed(true);
    pwl_ = false;
    separator_ = u'\t';
  });

  // The waveform.
  t.add("[SOURce:]WAVeform:DATA", false, {1, -1}, [this](TScpiCall &c) {
    if (c.param(0).kind == TScpiParam::block) {
      set_block(c);
      return;
    }
    if (c.count() % 2 != 0) {
      c.fail(scpi::missing_parameter, QStringLiteral("a time without its value"));
      return;
    }
    std::vector<TWavePoint> points;
    points.reserve(c.count() / 2);
    for (std::size_t i = 0; i < c.count(); i += 2) {
      TWavePoint p;
      if (!c.number(i, p.time) || !c.number(i + 1, p.value))
        return;
      points.push_back(p);
    }
    driver_.set_points(std::move(points));
    driver_.build_waveform(driver_.sensor_value());
    report_data_error(c);
  });
  t.add("[SOURce:]WAVeform:DATA", true, {}, [this](TScpiCall &c) {
    QByteArrayList out;
    for (const TWavePoint &p : driver_.waveform().points())
      out << scpi_real(p.time) << scpi_real(p.value);
    c.reply = out.join(',');
  });
  t.add("[SOURce:]WAVeform:POINts", true, {},
        [this](TScpiCall &c) { c.reply = QByteArray::number(qint64(driver_.data_count())); });
  t.add("[SOURce:]WAVeform:FORMat", false, {1, 1}, [this](TScpiCall &c) {
    int i = 0;
    if (c.choice(0, {"TABLe", "PWL"}, i))
      pwl_ = i == 1;
  });
  t.add("[SOURce:]WAVeform:FORMat", true, {}, [this](TScpiCall &c) { c.reply = pwl_ ? "PWL" : "TABL"; });
  t.add("[SOURce:]WAVeform:SEParator", false, {1, 1}, [this](TScpiCall &c) {
    int i = 0;
    if (c.choice(0, {separator_names[0], separator_names[1], separator_names[2], separator_names[3]}, i))
      separator_ = QChar(separators[i]);
  });
  t.add("[SOURce:]WAVeform:SEParator", true, {}, [this](TScpiCall &c) {
    for (int i = 0; i < 4; ++i)
      if (separator_ == QChar(separators[i]))
        for (const char ch : QByteArray(separator_names[i]))
          if (!(ch >= 'a' && ch <= 'z'))
            c.reply.append(ch);
  });
  t.add("[SOURce:]WAVeform:REPeat", false, {1, 1}, [this](TScpiCall &c) {
    long long n = 0;
    if (!c.whole(0, 0, 65535, n))
      return;
    if (int(n) != driver_.repeat_count()) {
      driver_.set_repeat_count(int(n));
      if (driver_.data_count() > 0) {
        driver_.build_waveform(driver_.sensor_value());
        report_data_error(c);
      }
    }
  });
  t.add("[SOURce:]WAVeform:REPeat", true, {},
        [this](TScpiCall &c) { c.reply = QByteArray::number(driver_.repeat_count()); });
  t.add("[SOURce:]WAVeform:ERRor", true, {}, [this](TScpiCall &c) {
    const TQX5200Waveform &w = driver_.waveform();
    c.reply = QByteArray::number(int(w.data_error())) + ',' + QByteArray::number(w.error_type()) + ',' +
              QByteArray::number(w.error_index()) + ',' + scpi_string(error_text(w));
  });
  t.add("[SOURce:]WAVeform:STATistics", true, {}, [this](TScpiCall &c) {
    const TQX5200Waveform &w = driver_.waveform();
    const long double figures[] = {static_cast<long double>(w.sampled_data_count()),
                                   w.max_value(),
                                   w.max_dy(),
                                   w.min_dy(),
                                   w.max_dx(),
                                   w.min_dx(),
                                   w.max_dy_dx(),
                                   w.total_time(),
                                   w.pulse_time(),
                                   w.average(),
                                   w.pulse_average(),
                                   w.average_power(),
                                   w.pulse_power(),
                                   w.energy(),
                                   w.p2t(),
                                   w.max_time()};
    QByteArrayList out;
    for (long double f : figures)
      out << scpi_real(f);
    c.reply = out.join(',');
  });
  // The figures of qx5200-wave --json, without the words and the device points.
  t.add("[SOURce:]WAVeform:VALidation", true, {}, [this](TScpiCall &c) {
    const TQX5200Waveform &w = driver_.waveform();
    c.reply = "{\"data_count\":" + QByteArray::number(qint64(w.data_count())) +
              ",\"data_error\":" + (w.data_error() ? "true" : "false") +
              ",\"error_type\":" + QByteArray::number(w.error_type()) +
              ",\"error_index\":" + QByteArray::number(w.error_index()) + ",\"error_text\":\"" +
              error_text(w).toUtf8() + "\",\"buffer_count\":" + QByteArray::number(w.buffer_count()) +
              ",\"statistics\":" + QByteArray::fromStdString(statistics_json(w)) + '}';
  });

  // Output.
  t.add("OUTPut[:STATe]", false, {1, 1}, [this](TScpiCall &c) {
    bool on = false;
    if (!c.boolean(0, on))
      return;
    if (on) {
      start(c);
      return;
    }
    if (device_ready(c) && (!driver_.stop_output() || !driver_.query_run_state()))
      lost(c);
  });
  t.add("OUTPut[:STATe]", true, {}, [this](TScpiCall &c) {
    if (connected_ && !driver_.query_run_state())
      lost(c);
    c.reply = driver_.is_running() ? "1" : "0";
  });
  t.add("OUTPut:CONDition", true, {}, [this](TScpiCall &c) {
    if (connected_ && !driver_.query_run_state())
      connected_ = false;
    c.reply = condition();
  });

  // Measurements and the board, read only.
  t.add("MEASure:SENSor", true, {}, [this](TScpiCall &c) {
    if (fresh_status(c))
      c.reply = scpi_real(device_single(driver_.sensor_value()));
  });
  t.add("MEASure:SENSor:UNITs", true, {},
        [this](TScpiCall &c) { c.reply = scpi_string(driver_.load_board().lb_sensor_units); });
  t.add("MEASure:TEMPerature", true, {}, [this](TScpiCall &c) {
    if (fresh_status(c))
      c.reply = scpi_real(device_single(driver_.temperature()));
  });
  t.add("MEASure:OTEMperature", true, {}, [this](TScpiCall &c) {
    if (fresh_status(c))
      c.reply = driver_.over_temperature() ? "1" : "0";
  });
  t.add("MEASure:VOLTage:USB", true, {}, [this](TScpiCall &c) {
    if (fresh_status(c))
      c.reply = scpi_real(device_single(usb_voltage_));
  });
  t.add("BOARd:PRESent", true, {}, [this](TScpiCall &c) {
    if (fresh_status(c))
      c.reply = driver_.load_board_present() ? "1" : "0";
  });
  t.add("BOARd:RECord", true, {}, [this](TScpiCall &c) {
    if (!fresh_status(c))
      return;
    if (!driver_.load_board_present()) {
      c.fail(scpi::hardware_missing, QStringLiteral("no load board"));
      return;
    }
    c.reply = json(board_record_json(driver_.load_board()));
  });
  t.add("STATus:DEVice", true, {},
        [this](TScpiCall &c) { c.reply = json(device_status_json(driver_, lock_.path(), usb_voltage_)); });
}
