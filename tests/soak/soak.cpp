// The main window and its own timer against the virtual QX5200 for a while, with faults switched
// on at random while a seeded script works the window as a user would: START and STOP, the
// hardware information dialog, loading good and bad files, editing the table. Checked all
// along: no start reaches the device while the driver holds a data error or with words built for
// another board than the one inserted (or for none), a re-plugged device
// is connected again within three ticks of answering, and at the end the window, the driver and
// the device agree and resident memory has not grown.
//
//   qx5200_soak [seconds]     (or QX5200_SOAK_SECONDS; QX5200_SOAK_SEED repeats a run)
#include "Hardware_Dialog.h"
#include "QX5200_Driver.h"
#include "QX5200_unit.h"
#include "TCircularBufferUnit.h"
#include "TNumEditUnit.h"
#include "TQGridUnit.h"
#include "TVirtualQX5200Device.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <unistd.h>
#include <vector>

namespace {

constexpr int max_reconnect_ticks = 3;
constexpr double allowed_growth = 0.10;

long resident_bytes() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * sysconf(_SC_PAGESIZE);
}

long median(std::vector<long> samples) {
  if (samples.empty())
    return 0;
  std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
  return samples[samples.size() / 2];
}

struct Counts {
  long ticks = 0, commands = 0, starts = 0, stops = 0, uploads = 0;
  long replies_lost = 0, replies_late = 0, replies_garbled = 0;
  long unplugs = 0, unplugs_survived = 0, board_removals = 0, over_temperatures = 0, board_state_2 = 0;
  long start_clicks = 0, hardware_dialogs = 0, files_loaded = 0, table_edits = 0, messages = 0;
};

// The device's clock: real time, which the final check stops so that a run cannot end between
// the window's last query and the comparison.
struct SoakClock {
  std::atomic<bool> frozen{false};
  std::chrono::nanoseconds at{0};
  std::chrono::nanoseconds now() {
    if (!frozen)
      at = std::chrono::steady_clock::now().time_since_epoch();
    return at;
  }
};

} // namespace

class Soak;

// Stands between the bus and the firmware model: sees every report as the device receives it,
// with the driver's state at that moment, then lets the model answer.
class WatchingFirmware : public VirtualHidFirmware {
public:
  WatchingFirmware(Soak &soak, std::shared_ptr<VirtualHidFirmware> inner)
      : soak_(soak), inner_(std::move(inner)) {}
  void output_report(VirtualHidDevice &device, const QByteArray &report) override;

private:
  Soak &soak_;
  std::shared_ptr<VirtualHidFirmware> inner_;
};

// Answers the window's dialogs without a user: the chosen file, messages counted, and its own
// dialogs shown modally for real and closed again a moment later.
class ScriptDialogs : public TWindowDialogs {
public:
  explicit ScriptDialogs(Soak &soak) : soak_(soak) {}
  QString open_answer;
  QString open_file_name(QWidget *, const QStringList &, const QString &) override { return open_answer; }
  QString save_file_name(QWidget *, const QStringList &, const QString &) override { return {}; }
  void information(QWidget *, const QString &, const QPoint &) override;
  void error(QWidget *, const QString &) override;
  int exec(QDialog &dialog) override;

private:
  Soak &soak_;
};

class Soak : public QObject {
public:
  Soak(quint64 seed, int seconds) : rng_(seed), seed_(seed), seconds_(seconds) {}

  int run();
  void fail(const QString &what);

  // Called by the firmware wrapper for every output report.
  void report_received(const QByteArray &report);
  void before_answer(int &lost, int &late, int &garbled);
  void after_answer(const QByteArray &report, int lost, int late, int garbled);
  void dialog_shown() { ++counts_.hardware_dialogs; }
  void message_shown() { ++counts_.messages; }
  int pick(int lo, int hi) { return int(rng_.bounded(lo, hi + 1)); }

private:
  TVirtualQX5200 &model() { return device_->model(); }
  // QX5200_SOAK_TRACE=1 lists what the script does, to follow a failing seed.
  // The last steps are kept to name the sequence behind a failed check.
  void trace(const QString &what) {
    const QString line = QStringLiteral("%1 %2").arg(elapsed_.elapsed() / 1000.0, 0, 'f', 2).arg(what);
    steps_ << line;
    if (steps_.size() > 16)
      steps_.removeFirst();
    if (trace_)
      std::fprintf(stderr, "%s\n", qPrintable(line));
  }
  bool trace_ = qEnvironmentVariableIntValue("QX5200_SOAK_TRACE") != 0;
  void write_files();
  void step();
  void inject_fault();
  // Ends a fault after a while, as a user would put the board back or let it cool.
  template <typename F> void later(F f) { QTimer::singleShot(pick(500, 4000), this, f); }
  void act();
  void edit_table();
  void on_tick();
  void check_words_for_inserted_board();
  void finish_reconnect_watch();
  bool wait_ticks(int n, int timeout_ms);

  QRandomGenerator rng_;
  quint64 seed_;
  int seconds_;
  SoakClock clock_;
  QTemporaryDir dir_;
  QStringList good_files_, bad_files_;
  std::shared_ptr<VirtualHidBus> bus_;
  std::unique_ptr<TVirtualQX5200Device> device_;
  std::unique_ptr<TForm1> w_;
  ScriptDialogs *dialogs_ = nullptr;
  QTimer script_;
  QElapsedTimer elapsed_;
  Counts counts_;
  QStringList failures_;

  // The re-plug under watch: the tick count when the device first answered, -1 before.
  bool watching_replug_ = false;
  long answered_at_tick_ = -1;
  bool replug_pending_ = false;
  bool board_out_ = false;
  bool frozen_faults_ = false; // the final phase: the script is quiet
  // The one board the soak ever inserts, as the driver read it once connected.
  TLoadBoardRecord board_;
  std::array<std::uint8_t, TVirtualQX5200::record_size> board_bytes_{};
  QStringList steps_; // the last script steps, named when a check fails
};

void WatchingFirmware::output_report(VirtualHidDevice &device, const QByteArray &report) {
  soak_.report_received(report);
  int lost = 0, late = 0, garbled = 0;
  soak_.before_answer(lost, late, garbled);
  inner_->output_report(device, report);
  soak_.after_answer(report, lost, late, garbled);
}

void ScriptDialogs::information(QWidget *, const QString &, const QPoint &) { soak_.message_shown(); }
void ScriptDialogs::error(QWidget *, const QString &) { soak_.message_shown(); }

int ScriptDialogs::exec(QDialog &dialog) {
  soak_.dialog_shown();
  // Closed by the script after a while, through the real modal loop; the device may come and
  // go meanwhile.
  QTimer::singleShot(soak_.pick(20, 600), &dialog, &QDialog::accept);
  // A modal loop that outlives its dialog would hang the window for good.
  QTimer watchdog;
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, &dialog, [this, &dialog] {
    soak_.fail(QStringLiteral("the hardware dialog's modal loop did not end"));
    dialog.show();
    dialog.reject();
  });
  watchdog.start(15000);
  return dialog.exec();
}

void Soak::fail(const QString &what) {
  const QString line = QStringLiteral("%1 s: %2").arg(elapsed_.elapsed() / 1000.0, 0, 'f', 1).arg(what);
  std::fprintf(stderr, "FAIL %s\n", qPrintable(line));
  failures_ << line;
}

void Soak::report_received(const QByteArray &report) {
  if (report.size() < 2)
    return;
  ++counts_.commands;
  const auto code = std::uint8_t(report[1]);
  if (code == 33) {
    ++counts_.starts;
    if (w_->driver->data_error())
      fail(QStringLiteral("start command sent while the driver holds data error %1")
               .arg(w_->driver->error_type()));
    check_words_for_inserted_board();
  } else if (code == 27) {
    ++counts_.stops;
  } else if (code == 3) {
    ++counts_.uploads;
  }
  if (watching_replug_ && answered_at_tick_ < 0)
    answered_at_tick_ = counts_.ticks;
}

// The model's fault counters before and after an answer tell which fault took this reply.
void Soak::before_answer(int &lost, int &late, int &garbled) {
  lost = model().lose_replies;
  late = model().late_replies;
  garbled = model().garbage_replies;
}

void Soak::after_answer(const QByteArray &, int lost, int late, int garbled) {
  counts_.replies_lost += lost - model().lose_replies;
  counts_.replies_late += late - model().late_replies;
  counts_.replies_garbled += garbled - model().garbage_replies;
}

void Soak::write_files() {
  auto write = [this](const char *name, const QByteArray &bytes, QStringList &list) {
    const QString path = dir_.filePath(QString::fromLatin1(name));
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
      f.write(bytes);
    list << path;
  };
  write("short.txt", "Time\tValue\r\n0\t0\r\n1e-5\t1\r\n4e-5\t1\r\n5e-5\t0\r\n", good_files_);
  write("long.txt", "Time\tValue\r\n0\t0\r\n1e-3\t0.5\r\n1.0\t0.5\r\n1.001\t0\r\n", good_files_);
  QByteArray many = "Time\tValue\r\n";
  for (int i = 0; i < 3000; ++i)
    many += QByteArray::number(i * 1e-5) + '\t' + QByteArray::number((i % 10) * 0.1) + "\r\n";
  write("many.txt", many, good_files_);
  write("backwards.txt", "Time\tValue\r\n0\t0\r\n2e-5\t1\r\n1e-5\t1\r\n3e-5\t0\r\n", bad_files_);
  write("p2t.txt", "Time\tValue\r\n0\t0\r\n1e-5\t10\r\n0.01\t10\r\n0.01001\t0\r\n", bad_files_);
  write("overflow.txt", "Time\tValue\r\n0\t0\r\n5\t1\r\n", bad_files_);
  write("empty.txt", "", bad_files_);
  QByteArray noise(4096, '\0');
  for (char &c : noise)
    c = char(rng_.bounded(256));
  write("noise.txt", noise, bad_files_);
  bad_files_ << dir_.filePath(QStringLiteral("missing.txt"));
  QDir(dir_.path()).mkdir(QStringLiteral("folder.txt"));
  bad_files_ << dir_.filePath(QStringLiteral("folder.txt"));
}

// The words the device holds, against the words the driver's points give for the board that is
// in. The device plays nothing without a board, so only a start with a board in is judged. The
// words depend on the points, the repeat count, the calibration and the record, not on the
// sensor: the expectation is built with none, and the power limits are judged by the data-error
// check on the driver's own state.
void Soak::check_words_for_inserted_board() {
  if (!model().board_present())
    return;
  if (model().record != board_bytes_) {
    fail(QStringLiteral("the board's record changed during the soak"));
    return;
  }
  TQX5200Waveform expected = w_->driver->waveform();
  expected.load_board = board_;
  expected.build_waveform(0);
  const auto &held = model().received_words();
  const auto &words = expected.upload_buffer();
  const int count = expected.buffer_count();
  QString words_differ;
  if (expected.data_error())
    words_differ = QStringLiteral("none expected (error kind %1)").arg(expected.error_type());
  else if (int(held.size()) < count)
    words_differ = QStringLiteral("device holds %1 of %2").arg(held.size()).arg(count);
  else if (auto at = std::mismatch(words.begin(), words.begin() + count, held.begin());
           at.first != words.begin() + count)
    words_differ = QStringLiteral("word %1 of %2: device %3, expected %4")
                       .arg(at.first - words.begin())
                       .arg(count)
                       .arg(*at.second)
                       .arg(*at.first);
  if (words_differ.isEmpty())
    return;
  const TLoadBoardRecord &lb = w_->driver->load_board();
  fail(QStringLiteral("start command sent with words built for another board or none (board: driver "
                      "present %1, record current %2; record: driver's %3 gain %4, inserted %5 gain %6; "
                      "sensor %7; words: %8), after: %9")
           .arg(w_->driver->load_board_present())
           .arg(w_->driver->board_record_current())
           .arg(lb.lb_name)
           .arg(double(lb.lb_gain))
           .arg(board_.lb_name)
           .arg(double(board_.lb_gain))
           .arg(double(w_->driver->sensor_value()))
           .arg(words_differ, steps_.join(QStringLiteral("; "))));
}

void Soak::on_tick() {
  ++counts_.ticks;
  if (!watching_replug_ || answered_at_tick_ < 0)
    return;
  if (w_->device_connected()) {
    finish_reconnect_watch();
    ++counts_.unplugs_survived;
  } else if (counts_.ticks - answered_at_tick_ >= max_reconnect_ticks) {
    fail(QStringLiteral("not connected %1 ticks after the re-plugged device answered")
             .arg(max_reconnect_ticks));
    finish_reconnect_watch();
  }
}

void Soak::finish_reconnect_watch() {
  watching_replug_ = false;
  answered_at_tick_ = -1;
}

void Soak::inject_fault() {
  // While a re-plug is under watch the replies stay clean and the cable stays in.
  const bool quiet = watching_replug_;
  switch (pick(0, 7)) {
  case 0:
    if (!quiet)
      model().lose_replies += pick(1, 3);
    break;
  case 1:
    if (!quiet)
      model().late_replies += pick(1, 2);
    break;
  case 2:
    if (!quiet)
      model().garbage_replies += pick(1, 2);
    break;
  case 3:
    if (!quiet && device_->plugged_in() && !replug_pending_) {
      ++counts_.unplugs;
      trace(QStringLiteral("unplug"));
      device_->unplug();
      replug_pending_ = true;
      QTimer::singleShot(pick(300, 3000), this, [this] {
        replug_pending_ = false;
        if (frozen_faults_)
          return;
        // Whatever was still to go wrong went with the old connection.
        model().lose_replies = model().late_replies = model().garbage_replies = 0;
        watching_replug_ = true;
        answered_at_tick_ = -1;
        trace(QStringLiteral("replug"));
        device_->replug();
      });
    }
    break;
  case 4:
    if (!board_out_) {
      ++counts_.board_removals;
      board_out_ = true;
      trace(QStringLiteral("board out"));
      model().set_board_present(false);
      later([this] {
        board_out_ = false;
        trace(QStringLiteral("board in"));
        model().set_board_present(true);
      });
    }
    break;
  case 5:
    if (!model().force_over_temperature) {
      ++counts_.over_temperatures;
      trace(QStringLiteral("over-temperature"));
      model().force_over_temperature = true;
      later([this] { model().force_over_temperature = false; });
    }
    break;
  case 6:
    if (!model().forced_board_state) {
      ++counts_.board_state_2;
      trace(QStringLiteral("board state 2"));
      model().forced_board_state = std::uint8_t(2);
      later([this] { model().forced_board_state.reset(); });
    }
    break;
  default: break;
  }
}

void Soak::edit_table() {
  ++counts_.table_edits;
  TQGrid *grid = w_->findChild<TQGrid *>("sg_data");
  switch (pick(0, 4)) {
  case 0: {
    // A new value in a row that holds a point, or a wrong one.
    const int row = pick(1, std::max(1, std::min(grid->RowCount() - 1, 6)));
    static const char *const values[] = {"0.5", "1", "2", "-1", "abc", "", "1e-5", "150"};
    grid->set_cell(2, row, QString::fromLatin1(values[pick(0, 7)]));
    break;
  }
  case 1: {
    const int row = pick(1, std::max(1, std::min(grid->RowCount() - 1, 6)));
    static const char *const times[] = {"0", "1e-5", "2e-5", "5e-5", "1", "-1", "x"};
    grid->set_cell(1, row, QString::fromLatin1(times[pick(0, 6)]));
    break;
  }
  case 2: grid->add_row(); break;
  case 3:
    if (grid->RowCount() > 3)
      grid->clear_row(grid->RowCount() - 1);
    break;
  default: w_->findChild<TNumEdit *>("ne_waveform_repeat_count")->setValue(pick(0, 3)); return;
  }
  grid->set_changed(true);
  // Leaving the edited cell re-evaluates START.
  emit grid->SelectCell(1, 1);
}

void Soak::act() {
  switch (pick(0, 9)) {
  case 0:
  case 1:
  case 2:
    ++counts_.start_clicks;
    trace(QStringLiteral("click %1 (enabled %2)")
              .arg(w_->findChild<QPushButton *>("bt_waveform_start")->text())
              .arg(w_->findChild<QPushButton *>("bt_waveform_start")->isEnabled()));
    w_->findChild<QPushButton *>("bt_waveform_start")->click();
    break;
  case 3: w_->findChild<QAction *>("ac_hardware")->trigger(); break;
  case 4:
  case 5: {
    const bool good = pick(0, 2) != 0;
    const QStringList &files = good ? good_files_ : bad_files_;
    dialogs_->open_answer = files[pick(0, int(files.size()) - 1)];
    ++counts_.files_loaded;
    trace(QStringLiteral("load %1").arg(QFileInfo(dialogs_->open_answer).fileName()));
    w_->findChild<QAction *>("ac_load_data")->trigger();
    break;
  }
  default: edit_table(); break;
  }
}

void Soak::step() {
  if (pick(0, 4) == 0)
    inject_fault();
  else
    act();
  script_.start(pick(20, 400));
}

bool Soak::wait_ticks(int n, int timeout_ms) {
  const long target = counts_.ticks + n;
  return QTest::qWaitFor([&] { return counts_.ticks >= target; }, timeout_ms);
}

int Soak::run() {
  std::printf("soak: seed %llu, %d s\n", static_cast<unsigned long long>(seed_), seconds_);
  std::fflush(stdout);
  if (!dir_.isValid()) {
    std::fprintf(stderr, "FAIL no temporary folder\n");
    return 1;
  }
  write_files();

  bus_ = VirtualHidBus::create();
  device_ = std::make_unique<TVirtualQX5200Device>(bus_, [this] { return clock_.now(); });
  device_->hid_device()->set_firmware(
      std::make_shared<WatchingFirmware>(*this, device_->hid_device()->firmware()));
  w_ = std::make_unique<TForm1>(nullptr, bus_->make_backend());
  auto dialogs = std::make_unique<ScriptDialogs>(*this);
  dialogs_ = dialogs.get();
  w_->set_dialogs(std::move(dialogs));
  w_->show();
  connect(w_.get(), &TForm1::tick_finished, this, [this] { on_tick(); });
  if (!QTest::qWaitFor([this] { return w_->device_connected(); }, 5000)) {
    fail(QStringLiteral("the window never connected"));
    return 1;
  }
  if (!QTest::qWaitFor([this] { return w_->load_board_ready(); }, 5000)) {
    fail(QStringLiteral("the window never read the board"));
    return 1;
  }
  board_ = w_->driver->load_board();
  board_bytes_ = model().record;
  // Every file once before the clock starts, so the first third measures a settled program
  // rather than first-use caches.
  for (const QString &file : bad_files_ + good_files_) {
    dialogs_->open_answer = file;
    w_->findChild<QAction *>("ac_load_data")->trigger();
    QTest::qWait(20);
  }
  // The undo history grows until it holds its limit of steps: filled here with the largest
  // steps the script makes (the longest file's table swapped in and out), so the memory check
  // sees the history's steady state rather than the history filling up.
  for (int i = 0; i < 110; ++i) {
    dialogs_->open_answer = good_files_[i % 2 == 0 ? 2 : 0];
    w_->findChild<QAction *>("ac_load_data")->trigger();
  }
  QTest::qWait(20);
  dialogs_->open_answer = good_files_[0];
  w_->findChild<QAction *>("ac_load_data")->trigger();

  // Resident memory once the run has settled: after the first minute, or after the first third
  // of a shorter run (the first minute is too close to the end to compare against). Each side is
  // the median of a window of samples: the allocator (and ASan's quarantine even more) swings
  // the resident set by several percent from one moment to the next.
  const bool short_run = seconds_ < 90;
  const qint64 baseline_at = short_run ? qint64(seconds_) * 1000 / 3 : 60000;
  const qint64 window = std::min<qint64>(10000, qint64(seconds_) * 1000 / 6);
  std::vector<long> baseline_samples, end_samples;
  script_.setSingleShot(true);
  connect(&script_, &QTimer::timeout, this, [this] { step(); });
  elapsed_.start();
  script_.start(0);
  const qint64 end = qint64(seconds_) * 1000;
  qint64 last_report = 0;
  // Sampled from a timer, which also fires while the window waits for replies or shows a dialog.
  QTimer sampler;
  connect(&sampler, &QTimer::timeout, this, [&] {
    const qint64 now = elapsed_.elapsed();
    if (now >= baseline_at && now < baseline_at + window)
      baseline_samples.push_back(resident_bytes());
    if (now >= end - window)
      end_samples.push_back(resident_bytes());
  });
  sampler.start(100);
  while (elapsed_.elapsed() < end) {
    QTest::qWait(100);
    if (elapsed_.elapsed() / 10000 != last_report / 10000) {
      last_report = elapsed_.elapsed();
      trace(QStringLiteral("resident %1 MB").arg(resident_bytes() / 1048576.0, 0, 'f', 1));
    }
  }
  script_.stop();
  sampler.stop();

  // Faults off, the cable and the board in, then a few clean ticks.
  frozen_faults_ = true;
  model().lose_replies = model().late_replies = model().garbage_replies = 0;
  model().force_over_temperature = false;
  model().forced_board_state.reset();
  model().set_board_present(true);
  if (!device_->plugged_in()) {
    watching_replug_ = true;
    answered_at_tick_ = -1;
    device_->replug();
  }
  if (!QTest::qWaitFor([this] { return w_->device_connected() && w_->load_board_ready(); }, 10000))
    fail(QStringLiteral("not connected with the board after the faults ended"));
  clock_.frozen = true;
  // Clicks queued before the end are still carried out, one a tick. A start that the driver
  // refuses shows STOP until the next tick that finds the queue empty, so the window is judged
  // once the queue has drained.
  for (int i = 0; i < 20 && !w_->findChild<TCircularBuffer *>("command_queue")->is_empty(); ++i)
    wait_ticks(1, 5000);
  if (!w_->findChild<TCircularBuffer *>("command_queue")->is_empty())
    fail(QStringLiteral("the window's command queue never drained"));
  if (!wait_ticks(4, 15000))
    fail(QStringLiteral("the timer stopped ticking"));
  const bool device_running = model().is_playing();
  if (w_->driver->is_running() != device_running)
    fail(QStringLiteral("the driver says %1, the device %2")
             .arg(w_->driver->is_running() ? "running" : "stopped", device_running ? "running" : "stopped"));
  const QString button = device_running ? QStringLiteral("STOP") : QStringLiteral("START");
  if (w_->findChild<QPushButton *>("bt_waveform_start")->text() != button)
    fail(QStringLiteral("the button says %1 while the device is %2")
             .arg(w_->findChild<QPushButton *>("bt_waveform_start")->text(),
                  device_running ? "running" : "stopped"));
  if (!w_->device_connected())
    fail(QStringLiteral("the window is not connected at the end"));

  end_samples.push_back(resident_bytes());
  const long baseline = median(baseline_samples);
  const long resident = median(end_samples);
  std::printf("ticks %ld\ncommands sent %ld\nreplies lost %ld\nreplies late %ld\nreplies garbled %ld\n"
              "unplugs %ld\nunplugs survived %ld\nuploads completed %ld\nstarts %ld\nstops %ld\n"
              "board removals %ld\nover-temperatures %ld\nboard state 2 %ld\nstart clicks %ld\n"
              "hardware dialogs %ld\nfiles loaded %ld\ntable edits %ld\nmessages %ld\n",
              counts_.ticks, counts_.commands, counts_.replies_lost, counts_.replies_late,
              counts_.replies_garbled, counts_.unplugs, counts_.unplugs_survived, counts_.uploads,
              counts_.starts, counts_.stops, counts_.board_removals, counts_.over_temperatures,
              counts_.board_state_2, counts_.start_clicks, counts_.hardware_dialogs, counts_.files_loaded,
              counts_.table_edits, counts_.messages);
  std::printf("resident memory %.1f MB at the end, %.1f MB %s (medians of %.0f s)\n", resident / 1048576.0,
              baseline / 1048576.0,
              short_run ? "after the first third (run shorter than 90 s)" : "after the first minute",
              window / 1000.0);
  if (baseline == 0)
    fail(QStringLiteral("resident memory was not sampled"));
  else if (short_run)
    std::printf("resident memory not judged: a run shorter than 90 s is still warming up\n");
  else if (resident > baseline * (1 + allowed_growth))
    fail(QStringLiteral("resident memory grew from %1 to %2 bytes").arg(baseline).arg(resident));
  if (counts_.ticks == 0 || counts_.commands == 0)
    fail(QStringLiteral("nothing happened"));

  w_.reset();
  device_.reset();
  bus_.reset();
  if (!failures_.isEmpty()) {
    std::printf("soak FAILED (seed %llu): %lld failure(s)\n", static_cast<unsigned long long>(seed_),
                static_cast<long long>(failures_.size()));
    return 1;
  }
  std::printf("soak passed\n");
  return 0;
}

// Under ASan, freed memory waits in a quarantine (256 MB by default) that grows the resident set
// for minutes and would swamp the memory check; a small one keeps it measuring this program.
// ASAN_OPTIONS given at run time still take precedence.
extern "C" __attribute__((visibility("default"), used)) const char *__asan_default_options() {
  return "quarantine_size_mb=16";
}

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  int seconds = qEnvironmentVariableIsSet("QX5200_SOAK_SECONDS")
                    ? qEnvironmentVariableIntValue("QX5200_SOAK_SECONDS")
                    : 15;
  if (argc > 1)
    seconds = std::atoi(argv[1]);
  if (seconds <= 0) {
    std::fprintf(stderr, "usage: qx5200_soak [seconds]\n");
    return 2;
  }
  quint64 seed = QRandomGenerator::system()->generate64();
  if (qEnvironmentVariableIsSet("QX5200_SOAK_SEED"))
    seed = qEnvironmentVariable("QX5200_SOAK_SEED").toULongLong();
  Soak soak(seed, seconds);
  return soak.run();
}
