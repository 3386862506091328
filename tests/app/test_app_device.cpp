// The main window at work against the virtual QX5200: the polling loop and its status bar,
// START/STOP through the request queue, the statistics and plot, the hardware information
// dialog, and losing and finding the device. The window's own timer drives every test.
#include "DeviceLock.h"
#include "Hardware_Dialog.h"
#include "QX5200_Driver.h"
#include "QX5200_unit.h"
#include "RunLogMenu.h"
#include "SimulatorMenu.h"
#include "TCircularBufferUnit.h"
#include "TEngineeringEditUnit.h"
#include "TNumEditUnit.h"
#include "TQGraphUnit.h"
#include "TQGridUnit.h"
#include "TVirtualQX5200Device.h"
#include "WindowHolder.h"
#include "full_disk.h"
#include "localized.h"
#include "tqhid_unit.h"

#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {

using Points = QList<QPair<double, double>>;

constexpr int rec_return_to_zero = 37; // byte of the EEPROM record

// Answers the window's dialogs at once and records what they showed.
struct FakeDialogs : TWindowDialogs {
  QString open_answer, save_answer;
  QStringList infos;
  QList<QPoint> positions;
  int execs = 0;
  std::function<void()> on_exec;
  QString open_file_name(QWidget *, const QStringList &, const QString &) override { return open_answer; }
  QString save_file_name(QWidget *, const QStringList &, const QString &) override { return save_answer; }
  void information(QWidget *, const QString &text, const QPoint &pos) override {
    infos << text;
    positions << pos;
  }
  void error(QWidget *, const QString &text) override { infos << QStringLiteral("error: ") + text; }
  // Each question takes the next answer (-1 when none is left: Cancel).
  QList<int> choices;
  // With clicks to make, a question is the real message box, answered with a mouse click on the
  // button of the next caption (a box without it is closed); its text goes to `asked`.
  QStringList clicks, asked;
  template <class F> int click(F real) {
    QTimer::singleShot(0, [this] {
      auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
      for (QAbstractButton *button : box->buttons())
        if (!clicks.isEmpty() && button->text() == clicks.front()) {
          asked << box->text();
          clicks.removeFirst();
          return QTest::mouseClick(button, Qt::LeftButton);
        }
      asked << "unexpected: " + box->text();
      box->reject();
    });
    return real();
  }
  int ask(QWidget *parent, const QString &text, const QStringList &buttons) override {
    return click([&] { return TWindowDialogs::ask(parent, text, buttons); });
  }
  int choose(QWidget *parent, const QString &text, const QStringList &buttons) override {
    if (!clicks.isEmpty())
      return click([&] { return TWindowDialogs::choose(parent, text, buttons); });
    infos << QStringLiteral("question: ") + text;
    return choices.isEmpty() ? -1 : choices.takeFirst();
  }
  int exec(QDialog &dialog) override {
    ++execs;
    if (on_exec)
      on_exec();
    // Closed as soon as it has filled its fields, through the real modal loop.
    QMetaObject::Connection c;
    if (auto *hw = qobject_cast<Tdlg_hardware *>(&dialog))
      c = QObject::connect(hw, &Tdlg_hardware::shown, hw, &QDialog::accept, Qt::QueuedConnection);
    const int result = dialog.exec();
    QObject::disconnect(c);
    return result;
  }
};

// A pulse 1 A high for 30 us: valid on LB1 and short enough to end at once.
const Points short_pulse = {{0, 0}, {1e-5, 1}, {4e-5, 1}, {5e-5, 0}};
// A pulse that plays for about a second.
const Points long_pulse = {{0, 0}, {1e-3, 0.5}, {1.0, 0.5}, {1.001, 0}};

} // namespace

class TestAppDevice : public QObject {
  Q_OBJECT
  std::shared_ptr<VirtualHidBus> bus_;
  std::unique_ptr<TVirtualQX5200Device> device_;
  std::unique_ptr<TForm1> w_;
  FakeDialogs *dialogs_ = nullptr;
  QTemporaryDir dir_;
  template <class T> T *ui(const QString &name) const { return w_->findChild<T *>(name); }
  auto *bt_waveform_start() const { return ui<QPushButton>("bt_waveform_start"); }

  TVirtualQX5200 &model() { return device_->model(); }
  QString panel(int i) const { return ui<QLabel>(QString("status_panel%1").arg(i))->text(); }

  void plug_device() { device_ = std::make_unique<TVirtualQX5200Device>(bus_); }
  void make_window() {
    w_ = std::make_unique<TForm1>(nullptr, bus_->make_backend());
    auto fake = std::make_unique<FakeDialogs>();
    dialogs_ = fake.get();
    w_->set_dialogs(std::move(fake));
  }
  // The window connected to the device, its start-up done.
  bool connect_window() {
    make_window();
    return QTest::qWaitFor([this] { return w_->device_connected(); }, 5000);
  }
  // Waits for n more ticks of the window's timer.
  bool ticks(int n) {
    QSignalSpy spy(w_.get(), &TForm1::tick_finished);
    return QTest::qWaitFor([&] { return spy.count() >= n; }, 2000 * n + 2000);
  }
  void fill_table(const Points &points) {
    ui<TQGrid>("sg_data")->reset_table();
    ui<TQGrid>("sg_data")->set_cell(1, 0, QStringLiteral("Time"));
    ui<TQGrid>("sg_data")->set_cell(2, 0, QStringLiteral("Value"));
    int row = 1;
    for (const auto &[t, v] : points) {
      if (row >= ui<TQGrid>("sg_data")->RowCount())
        ui<TQGrid>("sg_data")->add_row();
      ui<TQGrid>("sg_data")->set_cell(1, row, QString::number(t, 'g', 12).replace(u'.', localized(".")));
      ui<TQGrid>("sg_data")->set_cell(2, row, QString::number(v, 'g', 12).replace(u'.', localized(".")));
      ++row;
    }
    ui<TQGrid>("sg_data")->set_changed(true);
    // As selecting a cell after typing does.
    w_->update_start_button();
  }
  // Types into a cell (row 2's value unless told) on the Data page of the window shown, as a
  // user starts an edit.
  void type_in_cell(const QString &text, int row = 1, int column = 1) {
    w_->show();
    QVERIFY(QTest::qWaitForWindowActive(w_.get()));
    QTabBar *tabs = ui<QTabWidget>("PageControl1")->tabBar();
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(TForm1::page_data).center());
    TQGrid *grid = ui<TQGrid>("sg_data");
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {},
                      grid->visualRect(grid->grid()->index(row, column)).center());
    QTest::keyClicks(grid, text);
  }
  void write_file(const QString &name, const QByteArray &text, int age_seconds) {
    QFile f(name);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
    // File times in whole seconds apart, so the watch sees the rewrite on any file system.
    f.setFileTime(QDateTime::currentDateTime().addSecs(-age_seconds), QFileDevice::FileModificationTime);
  }

private slots:
  void init() { bus_ = VirtualHidBus::create(); }
  void cleanup() {
    w_.reset();
    device_.reset();
    bus_.reset();
  }

  void waiting_dots_cycle_without_a_device() {
    make_window();
    QSignalSpy written(w_.get(), &TForm1::status_panel_written);
    QVERIFY(ticks(5));
    QStringList first;
    for (const auto &args : written)
      if (args[0].toInt() == 0)
        first << args[1].toString();
    const QString wait = QStringLiteral(" Waiting For QX5200");
    QCOMPARE(first.mid(0, 5), (QStringList{wait, wait + " .", wait + " . .", wait + " . . .", wait}));
    QCOMPARE(panel(1), QString(" USB:----"));
    QCOMPARE(panel(2), QString("----"));
    QCOMPARE(panel(3), QString("----"));
    QCOMPARE(panel(4), QString());
    QCOMPARE(ui<QTimer>("timer")->interval(), 1000);
    QVERIFY(!bt_waveform_start()->isEnabled());
    QVERIFY(!ui<QAction>("ac_hardware")->isEnabled());
  }

  void refused_device_says_no_permission() {
    auto refused = bus_->plug(QStringLiteral("QUOR LABS QX5200"), true, /*refused=*/true);
    make_window();
    QVERIFY(ticks(2));
    QCOMPARE(panel(0), QString(" QX5200: no permission"));
    QVERIFY(!w_->device_connected());
    bus_->unplug(refused);
    QVERIFY(ticks(2));
    QVERIFY2(panel(0).startsWith(QStringLiteral(" Waiting For QX5200")), qPrintable(panel(0)));
  }

  void connection_fills_all_five_panels() {
    plug_device();
    QVERIFY(connect_window());
    QCOMPARE(ui<QTimer>("timer")->interval(), 250);
    QVERIFY(w_->load_board_ready());
    QVERIFY(ui<QAction>("ac_hardware")->isEnabled());
    QCOMPARE(panel(0), QString(" QX5200 Connected"));
    QCOMPARE(panel(1), localized(" USB:4.98V"));
    QCOMPARE(panel(2), localized("LB1 100A 50V 1A=0.010V"));
    QVERIFY2(QRegularExpression(QStringLiteral("^12[.,]0\\dV 25C$")).match(panel(3)).hasMatch(),
             qPrintable(panel(3)));
    QCOMPARE(panel(4), QString(" OK"));
    QVERIFY(!bt_waveform_start()->isEnabled());
    QVERIFY(bt_waveform_start()->toolTip().contains("fewer than two points"));
    // No waveform yet: the axes are set for the board.
    QCOMPARE(ui<TQGraph>("graph")->yTitle(), QString("Current"));
    QCOMPARE(ui<TQGraph>("graph")->yUnits(), QString("A"));
    QCOMPARE(ui<TQGraph>("graph")->GraphArea().y2.Units, QString("A")); // the second axis says "Current" too
    QCOMPARE(ui<TQGraph>("graph")->GraphArea().yLineWidth, 1);          // Graph Setup's box is not empty
    QCOMPARE(ui<TQGraph>("graph")->xRange(), -1);
    // The start-up zeroed the output and then the idle poll takes over.
    QCOMPARE(model().dac_code, w_->driver->normalized_to_dac_code(0));
    QVERIFY(ticks(1));
    QCOMPARE(ui<QTimer>("timer")->interval(), 500);
  }

  void sensor_average_data() {
    QTest::addColumn<QList<double>>("readings");
    QTest::addColumn<QString>("shown");
    QTest::newRow("fresh slots fill, then one slot") << QList<double>{10, 10, 10, 11} << "10.25";
    QTest::newRow("a rise refills every slot") << QList<double>{10, 12} << "12.00";
    QTest::newRow("a fall replaces one slot") << QList<double>{10, 5} << "8.75";
  }
  void sensor_average() {
    QFETCH(QList<double>, readings);
    QFETCH(QString, shown);
    plug_device();
    // An ADC whose steps fall on the readings, so they arrive unrounded.
    model().ad_gain = 0.004f;
    model().ad_offset = 0;
    model().sensor_reading = readings[0];
    QVERIFY(connect_window());
    for (int i = 1; i < readings.size(); ++i) {
      model().sensor_reading = readings[i];
      QVERIFY(ticks(1));
    }
    QCOMPARE(panel(3), localized(shown) + "V 25C");
  }

  void board_arrives_and_leaves() {
    plug_device();
    model().set_board_present(false);
    QVERIFY(connect_window());
    QVERIFY(!w_->load_board_ready());
    QCOMPARE(panel(2), QString("----"));
    QCOMPARE(panel(3), QString("----"));
    // Without a board the driver knows no P2t allowance: the pulse is refused.
    fill_table(short_pulse);
    QVERIFY(!w_->update_waveform());
    QCOMPARE(dialogs_->infos.size(), 1);
    QVERIFY(dialogs_->infos[0].startsWith("Maximum P2t Exceeded"));
    QCOMPARE(ui<QLabel>("lb_status")->text(), QString("Max P2t"));
    QVERIFY(!bt_waveform_start()->isEnabled());
    QCOMPARE(ui<TQGraph>("graph")->yTitle(), QString("Voltage"));

    const auto records = model().command_count(35);
    const auto zeroings = model().command_count(20);
    model().set_board_present(true);
    QVERIFY(QTest::qWaitFor([this] { return w_->load_board_ready(); }, 3000));
    QVERIFY(model().command_count(35) > records);
    QVERIFY(model().command_count(20) > zeroings);
    QCOMPARE(model().dac_code, w_->driver->value_to_dac_code(0));
    // Re-validated against LB1 and re-plotted in its units.
    QCOMPARE(dialogs_->infos.size(), 1);
    QCOMPARE(ui<QLabel>("lb_status")->text(), QString("None"));
    QVERIFY(w_->waveform_valid());
    QVERIFY(bt_waveform_start()->isEnabled());
    QCOMPARE(ui<TQGraph>("graph")->yTitle(), QString("Current"));
    QCOMPARE(ui<TQGraph>("graph")->yUnits(), QString("A"));
    QCOMPARE(qsizetype(ui<TQGraph>("graph")->Curve(1).points.size()), w_->driver->sampled_data_count());
    QCOMPARE(qsizetype(ui<TQGraph>("graph")->Curve(2).points.size()), 2 * w_->driver->sampled_data_count());
    QVERIFY(w_->driver->waveform_changed());
    QVERIFY(ticks(1));
    QCOMPARE(panel(2), localized("LB1 100A 50V 1A=0.010V"));

    // Sent, then the board leaves: re-plotted, and the next start sends the words again.
    bt_waveform_start()->click();
    QVERIFY(ticks(1));
    QVERIFY(!w_->driver->waveform_changed());
    QVERIFY(QTest::qWaitFor([this] { return bt_waveform_start()->text() == "START"; }, 3000));
    model().set_board_present(false);
    QVERIFY(QTest::qWaitFor([this] { return !w_->load_board_ready(); }, 3000));
    QCOMPARE(panel(2), QString("----"));
    QCOMPARE(panel(3), QString("----"));
    QVERIFY(w_->driver->waveform_changed());
    QCOMPARE(qsizetype(ui<TQGraph>("graph")->Curve(2).points.size()), 2 * w_->driver->sampled_data_count());
  }

  void start_uploads_runs_and_ends() {
    plug_device();
    QVERIFY(connect_window());
    fill_table(long_pulse);
    QSignalSpy written(w_.get(), &TForm1::status_panel_written);
    bt_waveform_start()->click();
    QCOMPARE(bt_waveform_start()->text(), QString("START"));
    QCOMPARE(model().command_count(33), 0u);
    QVERIFY(ticks(1));
    QVERIFY(written.contains(QVariantList{4, QString(" Sending Command")}));
    QVERIFY(written.contains(QVariantList{4, QString(" Loading Waveform")}));
    QVERIFY(model().waveform().valid);
    QCOMPARE(model().command_count(33), 1u);
    QCOMPARE(bt_waveform_start()->text(), QString("STOP"));
    QCOMPARE(ui<QTimer>("timer")->interval(), 50);
    QVERIFY(!w_->driver->waveform_changed());
    QVERIFY(ticks(1));
    QVERIFY(panel(2).startsWith("Waveform In Progress"));
    QCOMPARE(panel(3), QString("----"));
    // The device reports the end of the run: idle polling, and START once more.
    QVERIFY(QTest::qWaitFor([this] { return bt_waveform_start()->text() == "START"; }, 5000));
    QCOMPARE(ui<QTimer>("timer")->interval(), 500);
    QVERIFY(bt_waveform_start()->isEnabled());
  }

  void stop_while_running() {
    plug_device();
    QVERIFY(connect_window());
    fill_table(short_pulse);
    ui<TNumEdit>("ne_waveform_repeat_count")->setValue(0); // until stopped
    bt_waveform_start()->click();
    QVERIFY(QTest::qWaitFor([this] { return w_->driver->is_running(); }, 3000));
    QVERIFY(ticks(2));
    QCOMPARE(bt_waveform_start()->text(), QString("STOP"));
    QCOMPARE(ui<QTimer>("timer")->interval(), 50);
    bt_waveform_start()->click();
    QCOMPARE(ui<TCircularBuffer>("command_queue")->is_empty(), false);
    QVERIFY(QTest::qWaitFor([this] { return bt_waveform_start()->text() == "START"; }, 3000));
    QCOMPARE(model().command_count(27), 1u);
    QVERIFY(!model().is_playing());
    QCOMPARE(ui<QTimer>("timer")->interval(), 500);
  }

  // A short run ends while the caption still reads STOP (it turns on the next tick that finds
  // the queue empty): a press then only brings START back, and a start still queued goes too.
  void stop_after_the_run_ended_never_starts() {
    plug_device();
    QVERIFY(connect_window());
    fill_table(short_pulse);
    bt_waveform_start()->click();
    bt_waveform_start()->click();
    bool pressed = false;
    QObject in_gap;
    connect(w_.get(), &TForm1::tick_finished, &in_gap, [&] {
      if (!pressed && bt_waveform_start()->text() == "STOP" && !w_->driver->is_running()) {
        pressed = true;
        QTest::mouseClick(bt_waveform_start(), Qt::LeftButton);
      }
    });
    QVERIFY(QTest::qWaitFor([&] { return pressed; }, 5000));
    QCOMPARE(bt_waveform_start()->text(), QString("START"));
    QVERIFY(ui<TCircularBuffer>("command_queue")->is_empty());
    QVERIFY(ticks(3));
    QCOMPARE(model().command_count(33), 1u);
    QCOMPARE(model().command_count(27), 0u);
    QCOMPARE(bt_waveform_start()->text(), QString("START"));
  }

  // The largest distance of a sample code the device would play from the code of zero output.
  int peak_code_swing() {
    const int zero = w_->driver->value_to_dac_code(0);
    int peak = 0;
    for (const auto &segment : model().waveform().segments)
      for (std::uint16_t code : segment.codes)
        peak = std::max(peak, std::abs(int(code) - zero));
    return peak;
  }

  void start_never_plays_words_for_another_board_data() {
    QTest::addColumn<bool>("swap");
    QTest::newRow("board out, START, board in before the next tick") << false;
    QTest::newRow("another board put in between two polls") << true;
  }

  // Words are DAC codes scaled by the board's gain: words built for no board (gain 1) or for
  // another board would drive the board now inserted far beyond what the table asks for.
  void start_never_plays_words_for_another_board() {
    QFETCH(bool, swap);
    plug_device();
    QVERIFY(connect_window());
    w_->show();
    fill_table({{0, 0}, {1e-5, 0.5}, {4e-5, 0.5}, {5e-5, 0}});
    QVERIFY(w_->update_waveform());
    QVERIFY(ticks(1));
    if (swap) {
      // LB2: gain 50 instead of 100. The poll cannot see a swap between two status reads.
      model().record[2] = '2';
      const auto gain = TVirtualQX5200::ieee_bytes(50.0f);
      std::copy(gain.begin(), gain.end(), model().record.begin() + 8);
      ui<TCircularBuffer>("command_queue")->put(TForm1::queue_start);
    } else {
      model().set_board_present(false);
      QVERIFY(QTest::qWaitFor([this] { return !w_->load_board_ready(); }, 3000));
      QVERIFY(!bt_waveform_start()->isEnabled());
      QVERIFY(!bt_waveform_start()->toolTip().isEmpty());
      QTest::mouseClick(bt_waveform_start(), Qt::LeftButton);
      QVERIFY(ui<TCircularBuffer>("command_queue")->is_empty());
      // A start that got into the queue all the same (a click just before the board left).
      ui<TCircularBuffer>("command_queue")->put(TForm1::queue_start);
      model().set_board_present(true);
    }
    QVERIFY(ticks(1));
    QCOMPARE(model().command_count(33), 0u);
    QVERIFY(ui<QLabel>("status_message")->text().startsWith("START dropped"));
    QCOMPARE(bt_waveform_start()->text(), QString("START"));
    // Read again and rebuilt for the board that is in: the next START plays 0.5 A.
    QVERIFY(
        QTest::qWaitFor([this] { return w_->load_board_ready() && bt_waveform_start()->isEnabled(); }, 3000));
    QCOMPARE(w_->driver->load_board().lb_gain, swap ? 50.0L : 100.0L);
    QTest::mouseClick(bt_waveform_start(), Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([this] { return model().command_count(33) == 1; }, 3000));
    const int expected =
        std::abs(int(w_->driver->value_to_dac_code(0.5)) - int(w_->driver->value_to_dac_code(0)));
    QVERIFY(expected > 100 && expected < 1000);
    // Words for the wrong gain would be off by half or by a hundred times, not by rounding.
    QVERIFY2(std::abs(peak_code_swing() - expected) <= 3, qPrintable(QString::number(peak_code_swing())));
  }

  void typed_level_is_played_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("tab");
    QTest::newRow("type 5, Tab, START") << "5" << true;
    QTest::newRow("type 5, click START") << "5" << false;
    QTest::newRow("empty field refuses START") << "" << true;
  }

  // What the field shows is what the device plays, whether or not Enter was pressed.
  void typed_level_is_played() {
    QFETCH(QString, typed);
    QFETCH(bool, tab);
    plug_device();
    QVERIFY(connect_window());
    w_->show();
    w_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w_.get()));
    auto *tabs = ui<QTabWidget>("PageControl1");
    QTest::mouseClick(tabs->tabBar(), Qt::LeftButton, {}, tabs->tabBar()->tabRect(2).center());
    TNumEdit *y2 = ui<TEngineeringEdit>("ee_pulse_y2")->number_field();
    for (const QString &text : {QString("50"), typed}) {
      QTest::mouseDClick(y2, Qt::LeftButton);
      QTest::keyClick(y2, Qt::Key_A, Qt::ControlModifier);
      QTest::keyClick(y2, Qt::Key_Delete);
      QTest::keyClicks(y2, text);
      if (text == "50")
        QTest::keyClick(y2, Qt::Key_Return);
    }
    QVERIFY(
        QTest::qWaitFor([this] { return w_->load_board_ready() && bt_waveform_start()->isEnabled(); }, 5000));
    if (tab)
      QTest::keyClick(y2, Qt::Key_Tab);
    QTest::mouseClick(bt_waveform_start(), Qt::LeftButton);
    if (typed.isEmpty()) {
      QVERIFY(ticks(2));
      QCOMPARE(model().command_count(33), 0u);
      QVERIFY2(ui<QLabel>("status_message")->text().startsWith("START refused: Y2 is empty"),
               qPrintable(ui<QLabel>("status_message")->text()));
      QCOMPARE(QApplication::focusWidget(), y2);
      return;
    }
    QVERIFY(QTest::qWaitFor([this] { return model().command_count(33) == 1; }, 5000));
    const int expected =
        std::abs(int(w_->driver->value_to_dac_code(5)) - int(w_->driver->value_to_dac_code(0)));
    QVERIFY2(std::abs(peak_code_swing() - expected) <= 3, qPrintable(QString::number(peak_code_swing())));
  }

  // A device found running, as after a re-plug during an endless run, is stopped with STOP.
  void replug_during_endless_run_shows_stop() {
    plug_device();
    QVERIFY(connect_window());
    fill_table(short_pulse);
    ui<TNumEdit>("ne_waveform_repeat_count")->setValue(0);
    bt_waveform_start()->click();
    QVERIFY(QTest::qWaitFor([this] { return bt_waveform_start()->text() == "STOP"; }, 3000));
    device_->unplug();
    QVERIFY(QTest::qWaitFor([this] { return !w_->device_connected(); }, 5000));
    device_->replug();
    QVERIFY(QTest::qWaitFor([this] { return w_->device_connected(); }, 5000));
    QVERIFY(model().is_playing());
    QCOMPARE(bt_waveform_start()->text(), QString("STOP"));
    QVERIFY(bt_waveform_start()->isEnabled());
    QVERIFY(w_->load_board_ready());
    bt_waveform_start()->click();
    QVERIFY(QTest::qWaitFor([this] { return !model().is_playing(); }, 3000));
    QVERIFY(QTest::qWaitFor([this] { return bt_waveform_start()->text() == "START"; }, 3000));
  }

  void start_then_hardware_on_successive_ticks() {
    plug_device();
    QVERIFY(connect_window());
    fill_table(short_pulse);
    // A code the window does not know takes its tick and is dropped.
    ui<TCircularBuffer>("command_queue")->put(99);
    bt_waveform_start()->click();
    ui<QAction>("ac_hardware")->trigger();
    QSignalSpy written(w_.get(), &TForm1::status_panel_written);
    QVERIFY(ticks(1));
    QVERIFY(written.contains(QVariantList{4, QString(" Sending Command")}));
    QCOMPARE(model().command_count(33), 0u);
    QCOMPARE(dialogs_->execs, 0);
    QVERIFY(ticks(1));
    QCOMPARE(model().command_count(33), 1u);
    QCOMPARE(dialogs_->execs, 0);
    std::uint64_t starts_at_exec = 0;
    dialogs_->on_exec = [&] { starts_at_exec = model().command_count(33); };
    QVERIFY(ticks(1));
    QCOMPARE(dialogs_->execs, 1);
    QCOMPARE(starts_at_exec, 1u);
  }

  void second_start_without_upload() {
    plug_device();
    QVERIFY(connect_window());
    fill_table(short_pulse);
    bt_waveform_start()->click();
    bt_waveform_start()->click();
    QVERIFY(ticks(2));
    QCOMPARE(model().command_count(33), 2u);
    QCOMPARE(model().command_count(2), 1u); // one upload
    // A new repeat count alone makes the next start upload again.
    QVERIFY(QTest::qWaitFor([this] { return bt_waveform_start()->text() == "START"; }, 3000));
    // A pasted count the field would not take as typed never reaches the device.
    auto *repeat = ui<TNumEdit>("ne_waveform_repeat_count");
    for (const char *pasted : {"-1", "70000", "12x"}) {
      QGuiApplication::clipboard()->setText(pasted);
      repeat->selectAll();
      QTest::keySequence(repeat, QKeySequence::Paste);
      QCOMPARE(repeat->text(), QString(pasted));
      bt_waveform_start()->click();
      QVERIFY(ticks(1));
      QCOMPARE(model().command_count(33), 2u);
      QVERIFY(ui<QLabel>("status_message")->text().startsWith("START refused: the repeat count"));
      QVERIFY(ui<QLabel>("status_panel2")->isHidden()); // the notice has the panels' room
    }
    repeat->setValue(3);
    bt_waveform_start()->click();
    QVERIFY(QTest::qWaitFor([this] { return model().command_count(33) == 3; }, 3000));
    QCOMPARE(model().command_count(2), 2u);
    QCOMPARE(model().waveform().repeat_count, 3);
  }

  void error_kinds_data() {
    QTest::addColumn<Points>("points");
    QTest::addColumn<int>("repeat");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("figures"); // what the message must say beyond its first words
    QTest::addColumn<QString>("line");
    QTest::newRow("0 no data") << Points{{0, 1}} << 1 << QString() << QStringList() << "No Data";
    QTest::newRow("1 time") << Points{{0, 0}, {2e-5, 1}, {1e-5, 1}, {3e-5, 0}} << 1
                            << "Time Data Not Increasing"
                            << QStringList{"row 3 at " + localized("10.00 us"),
                                           "row 2 at " + localized("20.00 us")}
                            << "Time Data";
    QTest::newRow("2 overflow") << Points{{0, 0}, {5, 1}} << 1 << "Data Overflow"
                                << QStringList{QLocale().toString(12510), QLocale().toString(7959)}
                                << "Overflow";
    QTest::newRow("3 power") << Points{{0, 0}, {1e-6, 5}, {1e-4, 5}, {1.01e-4, 0}} << 2
                             << "Maximum Power Exceeded"
                             << QStringList{localized("59.4 W"), localized("50.0 W"), "repeat count of 1"}
                             << "Max Power";
    QTest::newRow("4 p2t") << Points{{0, 0}, {1e-5, 10}, {0.01, 10}, {0.01001, 0}} << 1
                           << "Maximum P2t Exceeded" << QStringList{"144 WWs", "100 WWs"} << "Max P2t";
  }
  void error_kinds() {
    QFETCH(Points, points);
    QFETCH(int, repeat);
    QFETCH(QString, message);
    QFETCH(QStringList, figures);
    QFETCH(QString, line);
    plug_device();
    QVERIFY(connect_window());
    fill_table(short_pulse);
    QVERIFY(w_->update_waveform());
    QVERIFY(ticks(1));
    QVERIFY(bt_waveform_start()->isEnabled());

    fill_table(points);
    ui<TNumEdit>("ne_waveform_repeat_count")->setValue(repeat);
    bt_waveform_start()->click();
    QCOMPARE(dialogs_->infos.size(), message.isEmpty() ? 0 : 1);
    if (!message.isEmpty()) {
      QVERIFY(dialogs_->infos[0].startsWith(message));
      for (const QString &figure : figures)
        QVERIFY2(dialogs_->infos[0].contains(figure), qPrintable(dialogs_->infos[0]));
    }
    // The time error takes the user to the row on the Data page.
    QCOMPARE(ui<QTabWidget>("PageControl1")->currentIndex(),
             line == "Time Data" ? int(TForm1::page_data) : int(TForm1::page_graph));
    // Without points no figure of the waveform before is left standing.
    if (line == "No Data")
      QCOMPARE(ui<QLabel>("lb_average_power")->text(), QString());
    for (const QPoint &pos : dialogs_->positions)
      QCOMPARE(pos, w_->frameGeometry().topLeft() + QPoint(200, 200));
    QCOMPARE(ui<QLabel>("lb_status")->text(), line);
    QVERIFY(!w_->waveform_valid());
    QVERIFY(!bt_waveform_start()->isEnabled());
    QVERIFY(ui<TCircularBuffer>("command_queue")->is_empty());
    // The time error keeps the table marked and points at the offending row.
    QCOMPARE(ui<TQGrid>("sg_data")->changed(), line == "Time Data");
    if (line == "Time Data")
      QCOMPARE(ui<TQGrid>("sg_data")->currentIndex().row() + 1, 3);
    QVERIFY(ticks(1));
    QCOMPARE(bt_waveform_start()->text(), QString("START"));
    QCOMPARE(model().command_count(33), 0u);
    QCOMPARE(model().command_count(2), 0u);
    if (line == "No Data")
      QCOMPARE(ui<QLabel>("lb_data_points")->text(), QString("0"));
  }

  void statistics_and_plot_in_board_units() {
    plug_device();
    QVERIFY(connect_window());
    // 1 A for 100 us, then a 100 us ramp down: area 150 uAs over 200 us; the last 0.2 us
    // sample is 0 and does not count as pulse time.
    fill_table({{0, 1}, {1e-4, 1}, {2e-4, 0}});
    QVERIFY(w_->update_waveform());
    QCOMPARE(ui<TQGraph>("graph")->yTitle(), QString("Current"));
    QCOMPARE(ui<QLabel>("lb_average")->text(), QString("750 mA"));
    QCOMPARE(ui<QLabel>("lb_pulse_average")->text(), QString("751 mA"));
    QCOMPARE(ui<QLabel>("lb_max_dt")->text(), QString("100 us"));
    QVERIFY(ui<QLabel>("lb_max_dy_dt")->text().endsWith("A/us"));
    QCOMPARE(ui<QLabel>("lb_status")->text(), QString("None"));
    const qsizetype count = w_->driver->sampled_data_count();
    QVERIFY(count > 0);
    QCOMPARE(ui<QLabel>("lb_data_points")->text(), QString::number(count));
    QCOMPARE(ui<TQGraph>("graph")->GraphArea().y.MaxVal, double(w_->driver->max_value()));

    // The time axis follows the longest time: micro for 50 us, none for 1 s.
    fill_table(short_pulse);
    QVERIFY(w_->update_waveform());
    QCOMPARE(ui<TQGraph>("graph")->xRange(), -2);
    fill_table(long_pulse);
    QVERIFY(w_->update_waveform());
    QCOMPARE(ui<TQGraph>("graph")->xRange(), 0);
    fill_table({{0, 0}, {1e-3, 0.5}, {0.05, 0.5}, {0.0501, 0}});
    QVERIFY(w_->update_waveform());
    QCOMPARE(ui<TQGraph>("graph")->xRange(), -1);

    // Samples beyond the board's maximum: curve 1 as they are, curve 2 held at the maximum.
    fill_table({{0, 0}, {1e-5, 150}, {2e-5, -150}, {3e-5, 0}});
    w_->update_waveform();
    const auto &c1 = ui<TQGraph>("graph")->Curve(1).points;
    const auto &c2 = ui<TQGraph>("graph")->Curve(2).points;
    QCOMPARE(qsizetype(c2.size()), 2 * qsizetype(c1.size()));
    double top1 = 0, top2 = 0, low2 = 0;
    for (const auto &p : c1)
      top1 = std::max(top1, p.y);
    for (const auto &p : c2) {
      top2 = std::max(top2, p.y);
      low2 = std::min(low2, p.y);
    }
    QVERIFY(top1 > 100);
    QCOMPARE(top2, 100.0);
    QCOMPARE(low2, -100.0);
  }

  // A change made while the waveform plays is only checked: no box, no page change, the figures
  // show the result and a notice says what the device plays.
  void edit_during_a_run_is_checked_quietly() {
    plug_device();
    QVERIFY(connect_window());
    fill_table(long_pulse);
    ui<TNumEdit>("ne_waveform_repeat_count")->setValue(0);
    bt_waveform_start()->click();
    QVERIFY(QTest::qWaitFor([this] { return model().is_playing(); }, 3000));
    type_in_cell("0", 2, 0); // row 3 at 0 s, before row 2
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QTRY_COMPARE(ui<QLabel>("lb_status")->text(), QString("Time Data"));
    QVERIFY(ui<QLabel>("status_message")->text().contains("plays the earlier waveform"));
    QTabBar *tabs = ui<QTabWidget>("PageControl1")->tabBar();
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(TForm1::page_graph).center());
    QVERIFY(ticks(2));
    QCOMPARE(ui<QTabWidget>("PageControl1")->currentIndex(), int(TForm1::page_graph));
    QVERIFY(dialogs_->infos.isEmpty());
    QVERIFY(model().is_playing());
  }

  void over_temperature_blocks_start() {
    plug_device();
    QVERIFY(connect_window());
    fill_table(short_pulse);
    QVERIFY(w_->update_waveform());
    model().force_over_temperature = true;
    QVERIFY(QTest::qWaitFor([this] { return panel(3).endsWith(" Temp"); }, 3000));
    QVERIFY(QTest::qWaitFor([this] { return !bt_waveform_start()->isEnabled(); }, 3000));
    // Even a start already queued is not carried out.
    ui<TCircularBuffer>("command_queue")->put(TForm1::queue_start);
    QVERIFY(ticks(2));
    QCOMPARE(model().command_count(33), 0u);
    QCOMPARE(model().command_count(2), 0u);
    QVERIFY(bt_waveform_start()->toolTip().contains("over temperature"));
    model().force_over_temperature = false;
    QVERIFY(QTest::qWaitFor([this] { return bt_waveform_start()->isEnabled(); }, 3000));
    QVERIFY(!panel(3).endsWith(" Temp"));
    // A run that the heat ends is said in the status bar.
    ui<TNumEdit>("ne_waveform_repeat_count")->setValue(0);
    bt_waveform_start()->click();
    QVERIFY(QTest::qWaitFor([this] { return model().is_playing(); }, 3000));
    model().force_over_temperature = true;
    QVERIFY(QTest::qWaitFor(
        [this] { return ui<QLabel>("status_message")->text().contains("over temperature"); }, 5000));
  }

  void file_watch_reloads_the_watched_file() {
    plug_device();
    QVERIFY(connect_window());
    TQGrid *grid = ui<TQGrid>("sg_data");
    const QString opened = dir_.filePath("opened.txt");
    const QString saved = dir_.filePath("saved.txt");
    write_file(opened, "Time\tValue\r\n0\t0\r\n1e-5\t1\r\n2e-5\t0\r\n", 100);
    dialogs_->open_answer = opened;
    w_->ac_load_dataExecute();
    QCOMPARE(grid->cell(2, 2), QString("1"));
    QVERIFY(ticks(1));
    QCOMPARE(grid->cell(2, 2), QString("1"));

    // Another program rewrites the file: read again, and said.
    write_file(opened, "Time\tValue\r\n0\t0\r\n1e-5\t2\r\n2e-5\t0\r\n", 50);
    QTRY_COMPARE_WITH_TIMEOUT(grid->cell(2, 2), QString("2"), 10000);
    QCOMPARE(ui<QLabel>("status_message")->text(), QString("opened.txt changed on disk and was read again"));
    QCOMPARE(ui<QLabel>("lb_status")->text(), QString("None"));
    QCOMPARE(ui<TQGraph>("graph")->GraphArea().y.MaxVal, 2.0);

    // After a Save the saved file is the one watched.
    dialogs_->save_answer = saved;
    w_->ac_data_saveExecute();
    write_file(saved, "Time\tValue\r\n0\t0\r\n1e-5\t3\r\n2e-5\t0\r\n", 10);
    QTRY_COMPARE_WITH_TIMEOUT(grid->cell(2, 2), QString("3"), 10000);
    QVERIFY(dialogs_->infos.isEmpty());

    // An edit not saved is never read over unasked; keeping it is asked once for that change.
    type_in_cell("7");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QTRY_COMPARE(w_->windowHandle()->title(), QString("QX5200 Waveform Generator - saved.txt*"));
    dialogs_->clicks = QStringList{"Keep my edits", "Reload from disk"};
    write_file(saved, "Time\tValue\r\n0\t0\r\n1e-5\t4\r\n2e-5\t0\r\n", 5);
    QTRY_COMPARE_WITH_TIMEOUT(dialogs_->asked.size(), 1, 10000);
    QVERIFY(ticks(3)); // no second question for the same change
    QVERIFY(dialogs_->asked[0].startsWith("saved.txt changed on disk; the table has edits not saved."));
    QCOMPARE(grid->cell(2, 2), QString("7"));
    write_file(saved, "Time\tValue\r\n0\t0\r\n1e-5\t5\r\n2e-5\t0\r\n", 1);
    QTRY_COMPARE_WITH_TIMEOUT(grid->cell(2, 2), QString("5"), 10000);
    QVERIFY(!w_->isWindowModified() && dialogs_->asked.size() == 2);
    w_->activateWindow(); // offscreen gives the activation back to no window when a box closes
    QVERIFY(QTest::qWaitForWindowActive(w_.get()));
    QTest::keyClick(w_.get(), Qt::Key_Z, Qt::ControlModifier); // one step back
    QCOMPARE(grid->cell(2, 2), QString("7"));
    QVERIFY(w_->isWindowModified());

    // A watched name that turns into something unreadable is reported once, not every tick.
    QTest::keyClick(w_.get(), Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier); // watched as saved
    QVERIFY(QFile::remove(saved));
    QVERIFY(QDir(dir_.path()).mkdir("saved.txt"));
    QTRY_COMPARE_WITH_TIMEOUT(dialogs_->infos.size(), 1, 10000);
    QVERIFY(ticks(3));
    QCOMPARE(dialogs_->infos.size(), 1);
    QVERIFY(dialogs_->infos[0].startsWith("error: "));
    QCOMPARE(grid->cell(2, 2), QString("7"));
  }

  // A close asks whether to stop a run, then whether to save the table (text still being typed
  // in a cell included); only once both are answered is anything done, and Cancel keeps it all.
  void close_asks_what_would_be_lost_data() {
    QTest::addColumn<bool>("run");
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<bool>("playing");
    QTest::newRow("cancel") << true << QStringList{"Cancel"} << true;
    QTest::newRow("stop, discard") << true << QStringList{"Stop the waveform and quit", "Discard"} << false;
    QTest::newRow("stop, cancel") << true << QStringList{"Stop the waveform and quit", "Cancel"} << true;
    QTest::newRow("leave, save") << true << QStringList{"Quit and leave it running", "Save As..."} << true;
    QTest::newRow("no run, typing only") << false << QStringList{"Save As..."} << false;
  }
  void close_asks_what_would_be_lost() {
    QFETCH(bool, run);
    QFETCH(QStringList, answers);
    QFETCH(bool, playing);
    plug_device();
    QVERIFY(connect_window());
    if (run) {
      fill_table(short_pulse);
      ui<TNumEdit>("ne_waveform_repeat_count")->setValue(0);
      bt_waveform_start()->click();
      QTRY_VERIFY_WITH_TIMEOUT(w_->driver->is_running(), 10000);
    }
    dialogs_->save_answer = dir_.filePath("run.txt");
    type_in_cell("7"); // not yet entered: saved too
    dialogs_->clicks = answers;
    QTest::keyClick(w_.get(), Qt::Key_Q, Qt::ControlModifier);
    const QStringList asked{"The QX5200 is playing a waveform.\nQuitting the program does not stop it.",
                            "Save the changes to the table?"};
    QCOMPARE(dialogs_->asked, asked.mid(run ? 0 : 1, answers.size()));
    QCOMPARE(w_->isVisible(), answers.last() == "Cancel");
    QCOMPARE(model().is_playing(), playing);
    QFile saved(dir_.filePath("run.txt"));
    QCOMPARE(saved.open(QIODevice::ReadOnly) && saved.readAll().contains("\t7\r\n"),
             answers.endsWith("Save As..."));
  }

  void unplug_during_upload_then_replug() {
    plug_device();
    QVERIFY(connect_window());
    Points many;
    for (int i = 0; i < 3000; ++i)
      many.append({i * 1e-5, (i % 10) * 0.1});
    fill_table(many);
    connect(w_.get(), &TForm1::status_panel_written, this, [this](int p, const QString &text) {
      if (p == 4 && text == " Loading Waveform")
        QTimer::singleShot(0, this, [this] { device_->unplug(); });
    });
    bt_waveform_start()->click();
    QVERIFY(QTest::qWaitFor([this] { return panel(0).startsWith(" Waiting For QX5200"); }, 5000));
    QVERIFY(!w_->device_connected());
    QVERIFY(!bt_waveform_start()->isEnabled());
    QVERIFY(!ui<QAction>("ac_hardware")->isEnabled());
    QVERIFY(model().blocks_received() < 100);
    QCOMPARE(model().command_count(33), 0u);
    // The words did not all arrive: the next start sends them again.
    QVERIFY(w_->driver->waveform_changed());

    device_->replug();
    QVERIFY(QTest::qWaitFor([this] { return w_->device_connected(); }, 5000));
    QCOMPARE(panel(0), QString(" QX5200 Connected"));
    QVERIFY(w_->load_board_ready());
    QVERIFY(ticks(1));
    QVERIFY(bt_waveform_start()->isEnabled());
  }

  void hardware_dialog_shows_device_and_board() {
    plug_device();
    model().record[rec_return_to_zero] = 1;
    QVERIFY(connect_window());
    const auto serials = model().command_count(8);
    const auto records = model().command_count(35);
    const auto zeroings = model().command_count(20);
    ui<QAction>("ac_hardware")->trigger();
    QVERIFY(QTest::qWaitFor([this] { return dialogs_->execs == 1; }, 3000));
    Tdlg_hardware *dlg = ui<Tdlg_hardware>("dlg_hardware");
    QCOMPARE(dlg->windowTitle(), QString("Hardware Information"));
    // Within the frame's margins, which differ between platforms.
    QVERIFY((dlg->pos() - (w_->pos() + QPoint(50, 50))).manhattanLength() <= 8);
    QCOMPARE(dlg->le_serial_number->text(), QString("5200"));
    QCOMPARE(dlg->le_firmware->text(), QString("2.15"));
    QCOMPARE(dlg->le_fs_dac->text(), QString("65400"));
    QCOMPARE(dlg->le_dac_offset->text(), localized("-0.0002441"));
    QCOMPARE(dlg->le_adc_offset->text(), localized("-1.0000000"));
    QCOMPARE(dlg->le_adc_gain->text(), localized("0.0007324"));
    QCOMPARE(dlg->gb_load_board->title(), QString("Load Board"));
    QCOMPARE(dlg->le_load_board_name->text(), QString("LB1"));
    QCOMPARE(dlg->le_load_board_units->text(), QString("A"));
    QCOMPARE(dlg->ne_load_board_gain->Value(), 100.0);
    QCOMPARE(dlg->ne_load_board_max_power->Value(), 50.0);
    QVERIFY(dlg->cb_rtz->isChecked());
    // Read-only rather than greyed out, whole numbers whole, each unit beside its field.
    QVERIFY(dlg->ne_load_board_gain->isEnabled() && dlg->ne_load_board_gain->isReadOnly());
    QCOMPARE(dlg->ne_load_board_max_value->text(), QString("100"));
    QStringList units;
    for (QLabel *l : dlg->gb_load_board->findChildren<QLabel *>())
      if (l->geometry().left() > dlg->ne_load_board_max_value->geometry().right() && l->y() == 119)
        units << l->text();
    QCOMPARE(units, QStringList({"A", "V/A"})); // Max Value, Monitor Gain
    QVERIFY(!dlg->bt_read_eeprom->isVisible() && !dlg->bt_write_eeprom->isVisible());
    QCOMPARE(model().command_count(8), serials + 1);
    // After it closes the window re-reads the record and zeroes the output.
    QVERIFY(QTest::qWaitFor([&] { return model().command_count(35) > records; }, 3000));
    QVERIFY(model().command_count(20) > zeroings);

    // Shown again: asked again; a query without an answer leaves its field empty.
    model().unanswered.insert(8);
    model().set_board_present(false);
    QVERIFY(QTest::qWaitFor([this] { return !w_->load_board_ready(); }, 3000));
    ui<QAction>("ac_hardware")->trigger();
    QVERIFY(QTest::qWaitFor([this] { return dialogs_->execs == 2; }, 5000));
    QCOMPARE(model().command_count(8), serials + 2);
    QCOMPARE(dlg->le_serial_number->text(), QString());
    QCOMPARE(dlg->le_firmware->text(), QString("2.15"));
    QCOMPARE(dlg->gb_load_board->title(), QString("Load Board (Not Connected)"));
    QCOMPARE(dlg->le_load_board_name->text(), QString());
    QCOMPARE(dlg->ne_load_board_offset->text(), QString());
    QCOMPARE(dlg->ne_load_board_gain->text(), QString());
    QVERIFY(dlg->cb_rtz->isChecked());
  }

  // Closed by the user while its fields wait for replies: the modal loop ends, the window ticks on.
  void hardware_dialog_closed_while_it_fills() {
    plug_device();
    QVERIFY(connect_window());
    Tdlg_hardware *dlg = ui<Tdlg_hardware>("dlg_hardware");
    bool closed = false, stuck = false, in_exec = false;
    dialogs_->on_exec = [&] {
      in_exec = true;
      // The first reply the dialog receives: the serial number.
      connect(w_->driver->hid(), &TQHID::data_stored, dlg, [&] {
        if (!closed && dlg->isVisible()) {
          closed = true;
          dlg->reject();
        }
      });
    };
    // Ends a modal loop left running without a visible dialog, so a hang fails here.
    QTimer watchdog;
    watchdog.setSingleShot(true);
    connect(&watchdog, &QTimer::timeout, this, [&] {
      if (in_exec && !dlg->isVisible()) {
        stuck = true;
        // A hidden dialog cannot be closed again: shown once more to end its loop.
        dlg->show();
        dlg->reject();
      }
    });
    watchdog.start(4000);
    QSignalSpy ticked(w_.get(), &TForm1::tick_finished);
    ui<QAction>("ac_hardware")->trigger();
    QVERIFY(QTest::qWaitFor([&] { return ticked.count() >= 2; }, 8000));
    QVERIFY(closed);
    QVERIFY(!stuck);
    QVERIFY(!dlg->isVisible());
  }

  void simulator_menu_drives_the_virtual_device() {
    plug_device();
    QVERIFY(connect_window());
    QMenu *menu = add_simulator_menu(*w_, *device_);
    QStringList titles;
    for (QAction *a : w_->menuBar()->actions())
      titles << a->text();
    QCOMPARE(titles, (QStringList{"&File", "&Edit", "&Hardware", "&Simulator", "He&lp"}));
    auto item = [menu](const char *name) { return menu->findChild<QAction *>(QString::fromLatin1(name)); };
    QVERIFY(!item("sim_plug")->isEnabled());

    item("sim_over_temperature_on")->trigger();
    QVERIFY(QTest::qWaitFor([this] { return panel(3).endsWith(" Temp"); }, 3000));
    QVERIFY2(panel(3).endsWith(" 85C Temp"), qPrintable(panel(3))); // above the board's 80 degrees
    QVERIFY(item("sim_over_temperature_off")->isEnabled());
    item("sim_over_temperature_off")->trigger();
    // A board pulled during a run ends it, and that is said.
    fill_table(long_pulse);
    ui<TNumEdit>("ne_waveform_repeat_count")->setText(" 0 "); // pasted with blanks
    QVERIFY(QTest::qWaitFor([this] { return bt_waveform_start()->isEnabled(); }, 3000));
    bt_waveform_start()->click();
    QVERIFY(QTest::qWaitFor([this] { return model().is_playing(); }, 3000));
    item("sim_remove_board")->trigger();
    QVERIFY(QTest::qWaitFor([this] { return panel(2) == "----"; }, 3000));
    QVERIFY(ui<QLabel>("status_message")->text().contains("the load board was removed"));
    item("sim_insert_board")->trigger();
    QVERIFY(QTest::qWaitFor([this] { return w_->load_board_ready(); }, 3000));
    item("sim_unplug")->trigger();
    QVERIFY(QTest::qWaitFor([this] { return panel(0).startsWith(" Waiting For QX5200"); }, 3000));
    QCOMPARE(bt_waveform_start()->toolTip(), QString("No QX5200 is connected"));
    QVERIFY(item("sim_plug")->isEnabled());
    item("sim_plug")->trigger();
    QVERIFY(QTest::qWaitFor([this] { return w_->device_connected(); }, 5000));
  }

  // As main() sets it up: the window waits while another program holds the device, then takes it.
  void waits_while_another_program_holds_it() {
    qputenv("XDG_RUNTIME_DIR", dir_.path().toLocal8Bit());
    plug_device();
    TDeviceLock other(QStringLiteral("qx5200-ctl"));
    QVERIFY(other.acquire(device_->hid_device()->path()));
    TDeviceLock mine(QStringLiteral("qx5200"));
    make_window();
    mine.attach(w_->driver->hid());
    QVERIFY(QTest::qWaitFor([this] { return panel(0) == QStringLiteral(" QX5200 in use"); }, 5000));
    QVERIFY(ticks(2));
    QVERIFY(!w_->device_connected());
    QVERIFY(!mine.held());
    other.release();
    QVERIFY(QTest::qWaitFor([this] { return w_->device_connected(); }, 5000));
    QVERIFY(mine.held());
    QVERIFY(!other.acquire(device_->hid_device()->path()));
  }

  // As main() wires it: during a run, a second program's status and stop are answered by the
  // window over its holder socket, and the stop is STOP's. QX5200_SIMULATE_PID makes the second
  // program's virtual device stand for this one.
  void serves_status_and_stop_to_another_program() {
    qputenv("XDG_RUNTIME_DIR", dir_.path().toLocal8Bit());
    plug_device();
    TDeviceLock lock(QStringLiteral("qx5200"));
    make_window();
    lock.attach(w_->driver->hid());
    TWindowHolder holder(*w_, lock);
    QTRY_VERIFY_WITH_TIMEOUT(w_->device_connected(), 10000);
    fill_table(long_pulse);
    ui<TNumEdit>("ne_waveform_repeat_count")->setValue(0);
    bt_waveform_start()->click();
    QTRY_VERIFY_WITH_TIMEOUT(model().is_playing() && w_->driver->is_running(), 10000);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QX5200_SIMULATE_PID", QString::number(QCoreApplication::applicationPid()));
    auto ctl = [&](const QString &command, qint64 &pid) {
      QProcess p;
      p.setProcessEnvironment(env);
      p.start(QX5200_CTL, {"--simulate", command});
      pid = p.waitForStarted(10000) ? p.processId() : -1;
      // The window answers from this event loop.
      if (!QTest::qWaitFor([&] { return p.state() == QProcess::NotRunning; }, 30000))
        return QString("no end");
      return QString::number(p.exitCode()) + ' ' + p.readAllStandardOutput() + p.readAllStandardError();
    };
    qint64 pid = 0;
    const QString status = ctl("status", pid);
    QVERIFY2(status.startsWith("0 Connected: yes\n") && status.contains("\nSerial: 5200\n") &&
                 status.endsWith("\nRunning: yes\n"),
             qPrintable(status));
    QVERIFY(ctl("start", pid)
                .startsWith(QString("5 qx5200-ctl: QX5200 5200 is in use by qx5200 (pid %1)")
                                .arg(QCoreApplication::applicationPid())));
    QCOMPARE(model().command_count(27), 0u);
    QCOMPARE(ctl("stop", pid), QString("0 Stopped.\n"));
    QCOMPARE(ui<QLabel>("status_message")->text(), QString("Stopped by qx5200-ctl (pid %1)").arg(pid));
    QCOMPARE(model().command_count(27), 1u);
    QVERIFY(!model().is_playing());
    QTRY_COMPARE_WITH_TIMEOUT(bt_waveform_start()->text(), QString("START"), 10000);
  }

  // Levels beyond LB1's 100 A still play, at 100 A, and rows that are no point are still
  // skipped, but both are said on START: the panel, a notice, and the skipped rows' cells marked.
  void limits_and_skipped_rows_are_said() {
    plug_device();
    QVERIFY(connect_window());
    w_->show();
    QVERIFY(QTest::qWaitForWindowActive(w_.get()));
    fill_table({{0, 0}, {1e-6, 150}, {2e-6, 150}, {3e-6, 0}});
    TQGrid *grid = ui<TQGrid>("sg_data");
    grid->set_cell(1, 5, QStringLiteral("abc"));
    grid->set_cell(2, 5, QStringLiteral("1"));
    grid->set_cell(1, 6, localized("4e-5"));
    grid->set_changed(true);
    QTest::mouseClick(bt_waveform_start(), Qt::LeftButton);
    const qsizetype limited = w_->driver->waveform().limited_samples();
    QVERIFY(limited > 2);
    QCOMPARE(ui<QLabel>("lb_limited_samples")->text(), QString::number(limited));
    QCOMPARE(ui<QLabel>("status_message")->text(),
             QStringLiteral("%1 samples are limited to the load board's maximum of 100 A; 2 rows skipped: "
                            "row 5 \"abc\"")
                 .arg(limited));
    QVERIFY(ticks(1));
    QVERIFY2(model().command_count(33) == 1u,
             qPrintable(ui<QLabel>("lb_status")->text())); // played all the same
    ui<QTabWidget>("PageControl1")->setCurrentIndex(TForm1::page_data);
    const QImage shot = grid->viewport()->grab().toImage();
    auto marked = [&](int col, int row) {
      const QRect cell = grid->visualRect(grid->grid()->index(row - 1, col - 1));
      return shot.pixelColor(cell.left() + 2, cell.bottom() - 2) == QColor(255, 205, 205);
    };
    QVERIFY(marked(1, 5));
    QVERIFY(!marked(2, 5));
    QVERIFY(marked(2, 6));
    QVERIFY(!marked(1, 6));
    QVERIFY(!marked(1, 4));
    QVERIFY(!marked(1, 7)); // empty rows are not skipped rows
  }

  // Turned on and off with its shortcut, each start asks: the same file again (appended, one
  // header) or a new one (an existing log is appended to or replaced, as answered). Rows hold
  // only what the tick read: no sensor or temperature during a run or without a board.
  void run_log_follows_the_ticks() {
    plug_device();
    QVERIFY(connect_window());
    w_->show();
    QVERIFY(QTest::qWaitForWindowActive(w_.get()));
    const QString path = dir_.filePath(QStringLiteral("run.csv"));
    auto *label = w_->findChild<QLabel *>(QStringLiteral("run_log_panel"));
    auto rows = [&path] {
      QFile f(path);
      return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).split(u'\n', Qt::SkipEmptyParts)
                                         : QStringList();
    };
    auto log_ticks = [&](int n) {
      QTest::keyClick(w_.get(), Qt::Key_R, Qt::ControlModifier);
      QVERIFY(ui<TRunLogMenu>("run_log")->logging());
      QCOMPARE(label->text(), QStringLiteral(" Log: ") + path);
      QVERIFY(ticks(n));
      QTest::keyClick(w_.get(), Qt::Key_R, Qt::ControlModifier);
      QVERIFY(!ui<TRunLogMenu>("run_log")->logging());
      QVERIFY(label->isHidden());
    };
    const QString header = QString::fromLatin1(TRunLog::csv_header()).trimmed();
    dialogs_->save_answer = path;
    log_ticks(3); // a new file
    const qsizetype first = rows().size();
    QVERIFY(first >= 4);
    const QRegularExpression board(QStringLiteral(R"(^[0-9T:.Z-]+,\d+\.\d{3},0,12\.\d+,V,2[45]\.\d+,0,1$)"));
    for (const QString &line : rows().mid(1))
      QVERIFY2(board.match(line).hasMatch(), qPrintable(line));
    dialogs_->save_answer.clear();
    dialogs_->choices = {0}; // Append
    QFile cut(path);         // a row cut off
    QVERIFY(cut.open(QIODevice::Append) && cut.write("2026") == 4);
    cut.close();
    log_ticks(3);
    QVERIFY(rows().size() >= first + 3);
    QCOMPARE(rows().count(header), 1);
    QCOMPARE(rows()[first], QStringLiteral("2026"));
    dialogs_->choices = {-1}; // Cancel: nothing starts
    QTest::keyClick(w_.get(), Qt::Key_R, Qt::ControlModifier);
    QVERIFY(!ui<TRunLogMenu>("run_log")->logging());
    dialogs_->save_answer = path;
    dialogs_->choices = {1, 1}; // New File..., the same name, Replace
    fill_table(short_pulse);
    ui<TNumEdit>("ne_waveform_repeat_count")->setValue(0); // until stopped
    bt_waveform_start()->click();
    QVERIFY(QTest::qWaitFor([this] { return w_->driver->is_running(); }, 5000));
    log_ticks(2);
    bt_waveform_start()->click(); // STOP
    QCOMPARE(dialogs_->infos.size(), 4);
    QVERIFY(dialogs_->infos[3].contains("already holds a log"));
    const QStringList replaced = rows();
    QCOMPARE(replaced.front(), header);
    const QRegularExpression unread(QStringLiteral(R"(^[0-9T:.Z-]+,\d+\.\d{3},1,,,,,$)"));
    for (const QString &line : replaced.mid(1))
      QVERIFY2(unread.match(line).hasMatch(), qPrintable(line));
    QVERIFY(QTest::qWaitFor([this] { return !w_->driver->is_running(); }, 5000));
    model().set_board_present(false);
    dialogs_->choices = {0};
    log_ticks(3);
    QVERIFY2(rows().last().endsWith(QStringLiteral(",0,,,,0,0")), qPrintable(rows().last()));
  }

  // A log that cannot be made is said in a message and the status bar; one that fails while a
  // waveform runs stops with a notice, and the run goes on to its end.
  void run_log_on_a_full_disk() {
    TFullDisk disk;
    QX5200_REQUIRE_FULL_DISK(disk);
    plug_device();
    QVERIFY(connect_window());
    w_->show();
    QVERIFY(QTest::qWaitForWindowActive(w_.get()));
    auto *label = w_->findChild<QLabel *>(QStringLiteral("run_log_panel"));
    // An old log that ends at a page boundary: the next row needs room the disk does not have.
    const QString path = disk.path(QStringLiteral("run.csv"));
    const QByteArray header = TRunLog::csv_header();
    write_file(path, header + QByteArray(4095 - header.size(), 'x') + '\n', 0);
    fill_table(short_pulse);
    ui<TNumEdit>("ne_waveform_repeat_count")->setValue(0); // until stopped
    bt_waveform_start()->click();
    QVERIFY(QTest::qWaitFor([this] { return w_->driver->is_running(); }, 5000));
    disk.fill();
    dialogs_->save_answer = path;
    dialogs_->choices = {0}; // Append
    QTest::keyClick(w_.get(), Qt::Key_R, Qt::ControlModifier);
    QVERIFY(QTest::qWaitFor([&] { return !ui<TRunLogMenu>("run_log")->logging(); }, 5000));
    QVERIFY(w_->driver->is_running());
    QCOMPARE(
        ui<QLabel>("status_message")->text(),
        QStringLiteral("The run log \"%1\" stopped: No space left on device. The waveform goes on running.")
            .arg(path));
    QCOMPARE(label->text(), QStringLiteral(" Log stopped: No space left on device"));
    QVERIFY(!ui<QAction>("ac_run_log")->isChecked());
    QVERIFY(ticks(2));
    QVERIFY(w_->driver->is_running());
    QCOMPARE(model().command_count(27), 0u); // never stopped
    dialogs_->save_answer = disk.path(QStringLiteral("new.csv"));
    dialogs_->choices = {1};
    QTest::keyClick(w_.get(), Qt::Key_R, Qt::ControlModifier);
    QVERIFY(!ui<TRunLogMenu>("run_log")->logging());
    QCOMPARE(dialogs_->infos.last(),
             QStringLiteral("error: The run log \"%1\" could not be written: No space left on device.\n"
                            "Nothing is logged.")
                 .arg(dialogs_->save_answer));
    QCOMPARE(label->text(), QStringLiteral(" Log: %1: No space left on device").arg(dialogs_->save_answer));
    QVERIFY(!QFile::exists(dialogs_->save_answer));
  }

  void service_buttons_read_and_write_the_record() {
    plug_device();
    QVERIFY(connect_window());
    Tdlg_hardware *dlg = ui<Tdlg_hardware>("dlg_hardware");
    dlg->bt_read_eepromClick();
    QCOMPARE(dlg->le_load_board_name->text(), QString("LB1"));
    dlg->le_load_board_name->setText("LB7");
    dlg->ne_load_board_max_power->setValue(20);
    dlg->cb_rtz->setChecked(true);
    dlg->bt_write_eepromClick();
    QCOMPARE(model().record[0], std::uint8_t('L'));
    QCOMPARE(model().record[2], std::uint8_t('7'));
    QCOMPARE(model().record[rec_return_to_zero], std::uint8_t(1));
    QCOMPARE(double(TVirtualQX5200::ieee_value(model().record.data() + 20)), 20.0);
  }

  // Fields left as filled keep the record's values (the gain shows rounded), and a field that
  // cannot show its value (an erased one) says so and stops WRITE with a message.
  void service_write_never_alters_unseen_values() {
    plug_device();
    auto put = [this](int at, float v) {
      std::ranges::copy(model().ieee_bytes(v), model().record.begin() + at);
    };
    put(8, 1.23456789f);
    put(12, 123456.0f);
    QVERIFY(connect_window());
    Tdlg_hardware *dlg = ui<Tdlg_hardware>("dlg_hardware");
    dlg->bt_read_eepromClick();
    const auto held = model().record;
    dlg->bt_write_eeprom->click();
    QCOMPARE(model().command_count(36), 1u);
    QVERIFY(model().record == held);
    put(38, std::numeric_limits<float>::quiet_NaN());
    dlg->bt_read_eepromClick();
    QCOMPARE(dlg->ne_load_board_sensor_max->placeholderText(), QString("not shown"));
    dlg->bt_write_eeprom->click();
    QCOMPARE(model().command_count(36), 1u);
    QCOMPARE(dialogs_->infos.size(), 1);
    QVERIFY(dialogs_->infos[0].contains("Sensor Max cannot show"));
  }
};

QTEST_MAIN(TestAppDevice)
#include "test_app_device.moc"
