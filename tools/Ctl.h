#pragma once

// The commands of qx5200-ctl over the window's driver, transport and HID back ends: one TCtl per
// run of the program.

#include "DeviceLock.h"
#include "FormulaOptions.h"
#include "HidControllerClass.h"
#include "QX5200_Driver.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <utility>

class TEventWait;
class TRunLog;

enum TExit {
  exit_done = 0,
  exit_data_error = 1,
  exit_usage = 2,
  exit_no_device = 3,
  exit_no_permission = 4,
  exit_in_use = 5,
  exit_no_answer = 6,
  exit_not_now = 7, // no load board, over-temperature, running, or --timeout passed
  exit_record_differs = 8,
  exit_cannot_listen = 9, // serve
  exit_not_written = 10,  // board write found changes but was not given --yes
  exit_log_failed = 11,   // a row of the log could not be written (disk full, ...)
  exit_signal = 128,      // + the signal that interrupted a wait
};

extern const QString udev_fix;

void print(const QString &text);
void print_json(const QJsonObject &object);
// A command's JSON result (upload, start, run, board write) is held until the command ends, so
// that a failure is said in it: "error" is {"code", "kind", "message"} then, null on success.
void print_result(const QJsonObject &object);
void print_held_result();
// Every failure goes through here: the message on standard error, and with --json also the held
// result with its "error" object on standard output (that object alone when nothing is held).
int fail(int code, const QString &message);
void set_json_failures(bool on);
// The name of an exit status in JSON ("not_possible" for 7, "interrupted" for 128 + a signal).
QString exit_kind(int code);
QString signal_name(int sig);

// The load board record's text form, one "field: value" line each, as status shows it.
QString record_text(const TLoadBoardRecord &lb, const QString &indent);

struct TOptions {
  bool json = false;
  bool simulate = false;
  QString device;
  QString format;    // --format value, empty when not given
  QString separator; // --separator value, empty when not given
  QString decimal;   // --decimal value, empty when not given
  int repeat = 1;
  bool wait = false;
  double timeout = -1;  // s; < 0: none
  int interval = 1000;  // ms
  double duration = -1; // s; < 0: until stopped
  QString output = QStringLiteral("-");
  QString log;
  bool keep_running = false; // run: a log failure or a signal leaves the output running
  bool yes = false;
  QStringList args;        // positional arguments after the command
  TFormulaOptions formula; // upload and run: the waveform from a formula instead of a FILE
};

class TCtl {
public:
  TCtl(const TOptions &o, THidBackendFactory backends) : o_(o), backends_(std::move(backends)) {}

  int list();
  int status();
  int upload(const QString &file, bool quiet = false);
  int start(bool quiet = false);
  int stop();
  int run(const QString &file);
  int log();
  int board_read();
  int board_write(const QString &file);

private:
  int connect();
  int lost();
  QString name() const;
  int load_and_build(const QString &file);
  int start_output(bool uploaded_here);
  int connect_to_idle_board();
  void write_upload_stamp();
  // How a poll ended, and what a run's result says about it.
  enum TEnd {
    end_none,
    completed,
    stopped,
    interrupted,
    over_temperature,
    board_removed,
    device_lost,
    timeout,
    log_failed,
    duration_passed
  };
  struct TPollEnd {
    TEnd reason = end_none;
    int signal = 0;
    double seconds = 0;
    int rows = 0;
    int interval_ms = 0; // what the rows were written at
    QString log_error;   // log_failed: why the row could not be written
  };
  TPollEnd poll(int interval_ms, double duration, bool until_end, double timeout, TRunLog *log);
  int finish_run(const TPollEnd &end);
  void interrupt_wait();
  void add_start_keys(bool started, const TPollEnd &end, const QString &output);

  const TOptions &o_;
  THidBackendFactory backends_;
  TDeviceLock lock_{QStringLiteral("qx5200-ctl")};
  std::unique_ptr<TQX5200_DRIVER> driver_;
  long double usb_voltage_ = 0;
  TEventWait *waiting_ = nullptr;
  bool interrupted_ = false;
  bool starts_ = false;         // run: what is uploaded is started at once
  bool holder_request_ = false; // status and stop ask the device's holder when refused
  QString stopped_by_;          // who asked this holder to stop, over its socket
  QJsonObject result_;          // --json: what upload, start and run print as one object
  TRunLog *run_log_ = nullptr;  // run --log: opened before anything is sent
};
