// The main window: start state, pages and Edit actions, the separator choice, START's
// availability, file Open/Save with the watched file, and the about box.
#include "../graph/graph_test_support.h"
#include "GraphShareMenu.h"
#include "QX5200_Driver.h"
#include "QX5200_unit.h"
#include "TCircularBufferUnit.h"
#include "TNumEditUnit.h"
#include "TPulsePage.h"
#include "TQGridUnit.h"
#include "about_box_unit.h"
#include "full_disk.h"
#include "localized.h"
#include "table_helpers.h"

#include <QApplication>
#include <QButtonGroup>
#include <QClipboard>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimer>
#include <QtTest>

namespace {

// Answers the dialogs as a test tells it to and records the messages.
struct FakeDialogs : TWindowDialogs {
  QString open_answer, save_answer;
  QStringList filters;
  QString suffix;
  QStringList errors, infos;
  QString open_file_name(QWidget *, const QStringList &f, const QString &s) override {
    filters = f;
    suffix = s;
    return open_answer;
  }
  QString save_file_name(QWidget *, const QStringList &f, const QString &s) override {
    filters = f;
    suffix = s;
    return save_answer;
  }
  void information(QWidget *, const QString &text, const QPoint &) override { infos << text; }
  void error(QWidget *, const QString &text) override { errors << text; }
};

} // namespace

class TestMainWindow : public QObject {
  Q_OBJECT
  std::unique_ptr<TForm1> w_;
  FakeDialogs *dialogs_ = nullptr;
  QTemporaryDir dir_;
  template <class T> T *ui(const QString &name) const { return w_->findChild<T *>(name); }
  auto *bt_waveform_start() const { return ui<QPushButton>("bt_waveform_start"); }
  auto *ne_waveform_repeat_count() const { return ui<TNumEdit>("ne_waveform_repeat_count"); }
  auto *sg_data() const { return ui<TQGrid>("sg_data"); }

  // Shows the window on a page, chosen by a click on its tab.
  void show_page(int page) {
    w_->show();
    w_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w_.get()));
    QTest::mouseClick(ui<QTabWidget>("PageControl1")->tabBar(), Qt::LeftButton, {},
                      ui<QTabWidget>("PageControl1")->tabBar()->tabRect(page).center());
  }
  void click_cell(int col, int row) {
    QTest::mouseClick(sg_data()->viewport(), Qt::LeftButton, {},
                      sg_data()->visualRect(sg_data()->grid()->index(row - 1, col - 1)).center());
  }
  void keys(QKeyCombination keys) {
    QTest::keyClick(QApplication::focusWidget(), keys.key(), keys.keyboardModifiers());
  }

private slots:
  void init() {
    w_ = std::make_unique<TForm1>(nullptr, nullptr);
    auto fake = std::make_unique<FakeDialogs>();
    dialogs_ = fake.get();
    w_->set_dialogs(std::move(fake));
  }
  void cleanup() { w_.reset(); }

  void start_state() {
    QCOMPARE(w_->windowTitle(), QString("QX5200 Waveform Generator[*]"));
    QCOMPARE(ui<QTabWidget>("PageControl1")->currentIndex(), int(TForm1::page_graph));
    QCOMPARE(ui<QTabWidget>("PageControl1")->tabText(0), QString("Graph"));
    QCOMPARE(ui<QTabWidget>("PageControl1")->tabText(1), QString("Data"));
    QCOMPARE(ui<QTabWidget>("PageControl1")->tabText(2), QString("Pulse Generator"));
    QVERIFY(!bt_waveform_start()->isEnabled());
    QCOMPARE(bt_waveform_start()->text(), QString("START"));
    QVERIFY(!ui<QAction>("ac_hardware")->isEnabled());
    QCOMPARE(ne_waveform_repeat_count()->text(), QString("1"));
    QCOMPARE(sg_data()->cell(1, 0), QString("Time"));
    QCOMPARE(sg_data()->cell(2, 0), QString("Value"));
    QCOMPARE(sg_data()->RowCount(), 21);
    QCOMPARE(w_->edit_actions().size(), 9);
    for (QAction *a : w_->edit_actions())
      QVERIFY2(!a->isEnabled(), qPrintable(a->text()));
    QVERIFY(ui<QAction>("HelpContents1")->isEnabled());
    QVERIFY(w_->help_file_name().endsWith("QX5200 Waveform Generator.html"));
    QVERIFY(ui<QTimer>("timer")->isActive());
    QCOMPARE(ui<QTimer>("timer")->interval(), 500);
    QCOMPARE(ui<QButtonGroup>("rg_data_separator_items")->checkedId(), 0);
    QCOMPARE(sg_data()->data_separator(), '\t');
    QCOMPARE(w_->watched_file_name(), QString());
    QVERIFY(ui<TCircularBuffer>("command_queue")->is_empty());
    QCOMPARE(sg_data()->actions(), w_->edit_actions()); // the popup menu, in menu order
    QCOMPARE(ui<QAction>("ac_add")->shortcut(), QKeySequence("Ctrl+A"));
    QCOMPARE(ui<QAction>("ac_delete_all")->shortcut(), QKeySequence("Ctrl+Alt+D"));
    QVERIFY(ui<QAction>("ac_undo")->text() == "&Undo" && ui<QAction>("ac_redo")->text() == "&Redo");
    QCOMPARE(ui<QAction>("ac_undo")->shortcut(), QKeySequence("Ctrl+Z"));
    QCOMPARE(ui<QAction>("ac_redo")->shortcuts(), QKeySequence::listFromString("Ctrl+Shift+Z; Ctrl+Y"));
    QVERIFY(!ui<QAction>("ac_undo")->isEnabled()); // the start-up table is no step
  }

  // Opens at the layout's size (or what the fonts need, if more), grows with the graph and the
  // table taking the room, and cuts no status text.
  void layout_sizes() {
    w_->show();
    QVERIFY(QTest::qWaitForWindowExposed(w_.get()));
    QCOMPARE(ui<QWidget>("pn_arb_right")->width(), 135);
    QVERIFY(w_->centralWidget()->height() + ui<QStatusBar>("status_bar")->height() >= 526);
    QVERIFY(w_->width() >= 592);
    QCOMPARE(w_->size(), w_->minimumSize());
    QVERIFY(w_->maximumSize().width() > 2000);
    QCOMPARE(sg_data()->columnWidth(0), 180);
    QCOMPARE(sg_data()->columnWidth(1), 178);
    const int widths[5] = {130, 65, 160, 100, 50};
    const QStringList texts{" Waiting For QX5200 . . .", " USB:4.98V", "LB1 100A 50V 1A=0.010V",
                            "12.34V 25C Temp", " Loading Waveform"};
    for (int i = 0; i < 5; ++i) {
      QLabel *panel = ui<QLabel>(QString("status_panel%1").arg(i));
      QVERIFY(panel->width() >= widths[i]);
      QVERIFY(panel->contentsRect().width() >= panel->fontMetrics().horizontalAdvance(texts[i]));
    }
    const QSize graph = ui<TQGraph>("graph")->size();
    w_->resize(w_->width() + 300, w_->height() + 200);
    QTRY_VERIFY(ui<TQGraph>("graph")->width() >= graph.width() + 290);
    QVERIFY(ui<TQGraph>("graph")->height() >= graph.height() + 190);
    QCOMPARE(ui<QWidget>("pn_arb_right")->width(), 135);
    QCOMPARE(ui<QLabel>("status_panel0")->width(), ui<QLabel>("status_panel0")->minimumWidth());
  }

  void pages_switch_edit_actions() {
    ui<QTabWidget>("PageControl1")->setCurrentIndex(TForm1::page_data);
    for (QAction *a : w_->edit_actions())
      QVERIFY(a->isEnabled());
    ui<QTabWidget>("PageControl1")->setCurrentIndex(TForm1::page_pulse_generator);
    for (QAction *a : w_->edit_actions())
      QVERIFY(a->isEnabled());
    ui<QTabWidget>("PageControl1")->setCurrentIndex(TForm1::page_graph);
    for (QAction *a : w_->edit_actions())
      QVERIFY(!a->isEnabled());
  }

  void shortcut_reaches_table_on_data_page() {
    w_->show();
    w_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w_.get()));
    QTest::keyClick(sg_data(), Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(sg_data()->RowCount(), 21); // Graph page: Add is disabled
    ui<QTabWidget>("PageControl1")->setCurrentIndex(TForm1::page_data);
    sg_data()->setFocus();
    QTest::keyClick(sg_data(), Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(sg_data()->RowCount(), 22);
  }

  void data_separator_choice_data() {
    QTest::addColumn<int>("item");
    QTest::addColumn<char>("separator");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("ext");
    QTest::newRow("LTSpice") << 0 << '\t' << "LTSpice Export (*.txt)"
                             << "txt";
    QTest::newRow("Comma") << 1 << ',' << "Comma Separated File (*.csv)"
                           << "csv";
    QTest::newRow("Space") << 2 << ' ' << "Space Separated File (*.txt)"
                           << "txt";
    QTest::newRow("Tab") << 3 << '\t' << "Tab Separated File (*.tab)"
                         << "txt";
    QTest::newRow("Semicolon") << 4 << ';' << "Semicolon Separated File (*.csv)"
                               << "csv";
  }
  void data_separator_choice() {
    QFETCH(int, item);
    QFETCH(char, separator);
    QFETCH(QString, filter);
    QFETCH(QString, ext);
    ui<QButtonGroup>("rg_data_separator_items")->button(item == 0 ? 1 : 0)->click();
    ui<QButtonGroup>("rg_data_separator_items")->button(item)->click();
    QCOMPARE(sg_data()->data_separator(), separator);
    QCOMPARE(w_->dialog_filters(), QStringList({filter, "SPICE PWL (*.pwl)", "Any File (*)"}));
    QCOMPARE(w_->dialog_default_ext(), ext);
    dialogs_->open_answer.clear();
    w_->ac_load_dataExecute(); // the dialog gets the same filters
    QCOMPARE(dialogs_->filters, w_->dialog_filters());
    QCOMPARE(dialogs_->suffix, ext);
  }

  void start_button_needs_two_points_data() {
    QTest::addColumn<int>("points");
    QTest::addColumn<bool>("enabled");
    // Without a device two points are not enough either, and the tooltip says what is missing.
    QTest::newRow("one") << 1 << false;
    QTest::newRow("two") << 2 << false;
  }
  void start_button_needs_two_points() {
    QFETCH(int, points);
    QFETCH(bool, enabled);
    sg_data()->set_cell(1, 1, localized("1.5e-6"));
    sg_data()->set_cell(2, 1, localized("2.5"));
    sg_data()->set_cell(1, 2, "x"); // does not parse
    sg_data()->set_cell(2, 2, "1");
    if (points == 2) {
      sg_data()->set_cell(1, 5, localized("3e-6"));
      sg_data()->set_cell(2, 5, "0");
    }
    w_->ac_addExecute();
    QCOMPARE(bt_waveform_start()->isEnabled(), enabled);
    QCOMPARE(bt_waveform_start()->toolTip(), QString("No QX5200 is connected"));
  }

  void delete_leaves_selection_on_heading_cell() {
    sg_data()->set_cell(1, 4, "4");
    sg_data()->set_grid_selection({1, 3, 2, 5});
    w_->ac_deleteExecute();
    QCOMPARE(sg_data()->RowCount(), 18);
    QCOMPARE(sg_data()->grid_selection(), TGridRect({0, 0, 0, 0}));
    w_->ac_delete_allExecute();
    QCOMPARE(sg_data()->RowCount(), 21);
    QCOMPARE(sg_data()->cell(1, 0), QString());
    QCOMPARE(sg_data()->grid_selection(), TGridRect({0, 0, 0, 0}));
  }

  void save_makes_watched_file() {
    const QString name = dir_.filePath("saved.txt");
    dialogs_->save_answer = name;
    w_->ac_data_saveExecute();
    QVERIFY(dialogs_->errors.isEmpty());
    QCOMPARE(w_->watched_file_name(), name);
    QCOMPARE(w_->watched_file_age(), TForm1::file_age(name));
    QByteArray expected = "Time\tValue\r\n";
    for (int i = 0; i < 20; ++i)
      expected += "\t\r\n";
    QCOMPARE(read_all(name), expected);
  }

  void failed_save_reports_and_keeps_watch() {
    const QString good = dir_.filePath("good.txt");
    dialogs_->save_answer = good;
    w_->ac_data_saveExecute();
    const QString bad = dir_.filePath("missing-folder/bad.txt");
    dialogs_->save_answer = bad;
    w_->ac_data_saveExecute();
    QCOMPARE(dialogs_->errors.size(), 1);
    QVERIFY(dialogs_->errors.first().contains(bad));
    QCOMPARE(w_->watched_file_name(), good);
  }

  // On a full disk neither Save nor Export PWL harms a file: the old one keeps its bytes, a new
  // name leaves nothing, no temporary file stays, and the message names the file and the cause.
  void save_on_a_full_disk_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("name");
    QTest::newRow("save over a file") << "ac_data_save"
                                      << "good.csv";
    QTest::newRow("save to a new name") << "ac_data_save"
                                        << "new.csv";
    QTest::newRow("export over a file") << "ac_export_pwl"
                                        << "good.csv";
    QTest::newRow("export to a new name") << "ac_export_pwl"
                                          << "new.pwl";
  }
  void save_on_a_full_disk() {
    QFETCH(QString, action);
    QFETCH(QString, name);
    TFullDisk disk;
    QX5200_REQUIRE_FULL_DISK(disk);
    const QByteArray good = "Time,Value\r\n0,1\r\n1,2\r\n"; // 23 bytes
    QFile f(disk.path("good.csv"));
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(good) == good.size());
    f.close();
    disk.fill();
    sg_data()->set_cell(1, 1, "0");
    sg_data()->set_cell(2, 1, "5");
    sg_data()->set_cell(1, 2, localized("1e-3"));
    sg_data()->set_cell(2, 2, "5");
    const QString path = disk.path(name);
    const bool existed = QFile::exists(path);
    dialogs_->save_answer = path;
    ui<QAction>(action)->trigger();
    QCOMPARE(
        dialogs_->errors,
        QStringList{QString("The file \"%1\" could not be saved: No space left on device.\n%2")
                        .arg(path, existed ? "The file on disk was left as it was." : "No file was made.")});
    QCOMPARE(read_all(disk.path("good.csv")), good);
    QCOMPARE(QDir(disk.path({})).entryList(QDir::Files | QDir::Hidden), (QStringList{"filler", "good.csv"}));
    QCOMPARE(w_->watched_file_name(), QString());
  }

  void open_loads_and_watches() {
    const QString name = dir_.filePath("in.csv");
    QFile f(name);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("t,v\r\n0,1\r\n1,2\r\n");
    f.close();
    ui<QButtonGroup>("rg_data_separator_items")->button(1)->click();
    dialogs_->open_answer = name;
    w_->ac_load_dataExecute();
    QCOMPARE(sg_data()->cell(2, 2), QString("2"));
    QCOMPARE(w_->watched_file_name(), name);
    QCOMPARE(w_->watched_file_age(), TForm1::file_age(name));
    // Opening validates at once: the driver holds the points and the table is up to date.
    QCOMPARE(w_->driver->data_count(), 2);
    QVERIFY(!sg_data()->changed());
  }

  // Alt and a letter reach every menu and item: one mnemonic each, none twice in one menu.
  void menus_have_mnemonics() {
    auto letter = [](const QString &text) {
      const qsizetype at = text.indexOf(u'&');
      return at >= 0 && at + 1 < text.size() ? text.at(at + 1).toLower() : QChar();
    };
    QSet<QChar> bar;
    for (QAction *menu_action : w_->menuBar()->actions()) {
      QVERIFY2(!letter(menu_action->text()).isNull(), qPrintable(menu_action->text()));
      QVERIFY(!bar.contains(letter(menu_action->text())));
      bar << letter(menu_action->text());
      QSet<QChar> items;
      for (QAction *item : menu_action->menu()->actions()) {
        if (item->isSeparator())
          continue;
        QVERIFY2(!letter(item->text()).isNull() && !items.contains(letter(item->text())),
                 qPrintable(item->text()));
        items << letter(item->text());
      }
    }
    QCOMPARE(ui<QAction>("ac_load_data")->shortcut(), QKeySequence(QKeySequence::Open));
    QCOMPARE(ui<QAction>("ac_quit")->shortcut(), QKeySequence("Ctrl+Q"));
    QVERIFY(ui<QAction>("ac_data_save")->shortcut() != QKeySequence("Ctrl+S"));
  }

  void write_file(const QString &name, const QByteArray &bytes) {
    QFile f(name);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
  }

  // Each key runs its command once, wherever the focus is on the Graph page, and keys typed into
  // a field stay in it. Not activated, as under an X server without a window manager.
  void graph_keys_act_once() {
    FakeModals modals;
    modals.label = [](TLabelDialog &d) {
      d.setLabelText("peak");
      d.setResult(QDialog::Accepted);
    };
    ui<TQGraph>("graph")->setModals(&modals);
    w_->show();
    QTest::mouseClick(ui<TQGraph>("graph"), Qt::LeftButton, {}, QPoint(200, 200));
    QTest::keyClick(ui<TQGraph>("graph"), Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(modals.axis_shown, 1);
    QTest::keyClick(ui<TQGraph>("graph"), Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(modals.label_shown, 1);
    QCOMPARE(ui<TQGraph>("graph")->Labels().size(), std::size_t(1));
    // A control that does not use the key hands it on to the graph, once.
    QTest::keyClick(bt_waveform_start(), Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(modals.axis_shown, 2);
    // The caret in the repeat count: Ctrl+A selects its text and the digits go into it.
    TNumEdit *repeat = ne_waveform_repeat_count();
    repeat->setFocus();
    QTest::keyClick(repeat, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(repeat, "7");
    QCOMPARE(modals.label_shown, 1);
    QCOMPARE(repeat->text(), QString("7"));
    // A sixth digit is refused where the user sees it.
    QSignalSpy refused(repeat, &TNumEdit::Refused);
    repeat->selectAll();
    QTest::keyClicks(repeat, "123456");
    QCOMPARE(repeat->text(), QString("12345"));
    QCOMPARE(refused.size(), 1);
    ui<TQGraph>("graph")->setModals(nullptr);
  }

  // A new waveform is shown whole; editing cells keeps the user's zoom; the user's labels stay.
  void new_waveform_is_shown_whole() {
    FakeModals modals;
    ui<TQGraph>("graph")->setModals(&modals);
    const QString first = dir_.filePath("first.txt"), second = dir_.filePath("second.txt");
    write_file(first, "t\tv\r\n0\t0\r\n" + localized("0.002").toLatin1() + "\t1\r\n");
    write_file(second, "t\tv\r\n0\t0\r\n" + localized("0.0002").toLatin1() + "\t1\r\n");
    dialogs_->open_answer = first;
    w_->ac_load_dataExecute();
    ui<TQGraph>("graph")->Labels().push_back(TQLabel{});
    w_->show();
    QTest::keyClick(ui<TQGraph>("graph"), Qt::Key_B, Qt::ControlModifier);
    QVERIFY(!ui<TQGraph>("graph")->xAutoRange());
    sg_data()->set_cell(2, 2, "2");
    sg_data()->set_changed(true);
    QVERIFY(w_->update_waveform());
    QVERIFY(!ui<TQGraph>("graph")->xAutoRange());
    dialogs_->open_answer = second;
    w_->ac_load_dataExecute();
    QVERIFY(ui<TQGraph>("graph")->xAutoRange());
    QVERIFY(!ui<TQGraph>("graph")->MenuItem(miZoomToFit)->isVisible());
    QCOMPARE(ui<TQGraph>("graph")->Labels().size(), std::size_t(1));
    ui<TQGraph>("graph")->setModals(nullptr);
  }

  // A file that gives no points keeps the table and is reported with the separator used and the
  // one that would read it, or with the decimal separator its numbers need.
  void empty_load_is_reported() {
    show_page(TForm1::page_data);
    const QString name = dir_.filePath("comma.csv");
    write_file(name, "t,v\r\n0,0\r\n1,1\r\n2,0\r\n");
    sg_data()->set_cell(1, 1, "keep");
    const QStringList before = rows_of(*sg_data()->grid());
    ui<QButtonGroup>("rg_data_separator_items")->button(2)->click(); // Space
    dialogs_->open_answer = name;
    ui<QAction>("ac_load_data")->trigger();
    QCOMPARE(dialogs_->infos.size(), 1);
    QVERIFY(dialogs_->infos[0].contains("comma.csv"));
    QVERIFY(dialogs_->infos[0].contains("space separator"));
    QVERIFY2(dialogs_->infos[0].contains("comma separator it gives 3 points"),
             qPrintable(dialogs_->infos[0]));
    QCOMPARE(ui<QButtonGroup>("rg_data_separator_items")->checkedId(), 2); // the choice stays the user's
    QCOMPARE(rows_of(*sg_data()->grid()), before);
    write_file(name, QByteArray("\x01\x02junk\r\n", 8));
    ui<QAction>("ac_load_data")->trigger();
    QCOMPARE(dialogs_->infos.size(), 2);
    QVERIFY(!dialogs_->infos[1].contains("gives"));
    // Decimals the system does not write: "0,5" under C, "0.5" under a comma locale.
    const QChar foreign = locale_decimal_separator() == u',' ? u'.' : u',';
    write_file(name, QString("t;v\r\n0;0#1\r\n1#5;2\r\n").replace(u'#', foreign).toUtf8());
    for (int item : {4, 0}) { // Semicolon, then LTSpice (tab)
      ui<QButtonGroup>("rg_data_separator_items")->button(item)->click();
      ui<QAction>("ac_load_data")->trigger();
      const QString &text = dialogs_->infos.last();
      QVERIFY2(text.contains(QString("written with \"%1\" as decimal separator").arg(foreign)),
               qPrintable(text));
      QCOMPARE(text.contains("choose Semicolon"), item == 0);
      QCOMPARE(rows_of(*sg_data()->grid()), before);
    }
    QGuiApplication::clipboard()->setText(QString("0\t1#2\r\n1\t2#5\r\n").replace(u'#', foreign));
    click_cell(1, 1);
    keys(Qt::CTRL | Qt::Key_V);
    QVERIFY(ui<QLabel>("status_message")->text().contains(QString("\"%1\" as decimal").arg(foreign)));
  }

  // The figures follow each change at once on any page, and a change's box is shown once: an
  // Open undone and redone does not say its trouble again.
  void figures_follow_each_change_and_boxes_show_once() {
    const QString name = dir_.filePath("late.txt");
    write_file(name, "t\tv\r\n0\t0\r\n2e-6\t1\r\n1e-6\t1\r\n3e-6\t0\r\n");
    show_page(TForm1::page_graph);
    dialogs_->open_answer = name;
    ui<QAction>("ac_load_data")->trigger(); // taken to the Data page with the box
    QCOMPARE(dialogs_->infos.size(), 1);
    QCOMPARE(ui<QLabel>("lb_status")->text(), QString("Time Data"));
    keys(Qt::CTRL | Qt::Key_Z);
    keys(Qt::CTRL | Qt::Key_Y);
    QCOMPARE(ui<QLabel>("lb_status")->text(), QString("Time Data"));
    QCOMPARE(dialogs_->infos.size(), 1);
    ui<QAction>("ac_sort_rows")->trigger(); // reported in a box of its own
    QTRY_COMPARE(ui<QLabel>("lb_status")->text(), QString("None"));
    keys(Qt::CTRL | Qt::ALT | Qt::Key_D);
    QTRY_COMPARE(ui<QLabel>("lb_status")->text(), QString("No Data"));
    QCOMPARE(ui<QLabel>("lb_average")->text(), QString());
    QCOMPARE(dialogs_->infos.size(), 2);
  }

  void failed_open_keeps_table_and_watch() {
    const QString good = dir_.filePath("watched.txt");
    dialogs_->save_answer = good;
    sg_data()->set_cell(1, 1, "keep");
    w_->ac_data_saveExecute();
    QDir(dir_.path()).mkdir("folder.txt");
    const QString bad = dir_.filePath("folder.txt");
    w_->load_data_file(bad);
    QCOMPARE(dialogs_->errors.size(), 1);
    QVERIFY(dialogs_->errors.first().contains(bad));
    QCOMPARE(sg_data()->cell(1, 1), QString("keep"));
    QCOMPARE(w_->watched_file_name(), good);
  }

  void missing_file_on_open_leaves_table() {
    sg_data()->set_cell(1, 1, "keep");
    w_->load_data_file(dir_.filePath("not-there.txt"));
    QVERIFY(dialogs_->errors.isEmpty());
    QCOMPARE(sg_data()->cell(1, 1), QString("keep"));
  }

  void drop_opens_first_file_data() {
    QTest::addColumn<QStringList>("names"); // files dropped, each holding `bytes`
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("chosen");    // the separator item before the drop
    QTest::addColumn<int>("item");      // and after it
    QTest::addColumn<QString>("value"); // the value cell of row 1
    QTest::newRow("semicolon csv, Comma chosen")
        << QStringList{"de.csv"} << QByteArray("Zeit;Strom\r\n0;15\r\n") << 1 << 4 << "15";
    QTest::newRow("comma csv, Semicolon chosen")
        << QStringList{"en.csv"} << QByteArray("t,v\r\n0,2\r\n") << 4 << 1 << "2";
    QTest::newRow("space txt, LTSpice chosen")
        << QStringList{"s.txt"} << QByteArray("t v\r\n0   4\r\n") << 0 << 2 << "4";
    QTest::newRow("unknown extension keeps the choice")
        << QStringList{"x.dat"} << QByteArray("t,v\r\n0,5\r\n") << 1 << 1 << "5";
    QTest::newRow("pwl") << QStringList{"x.pwl"} << QByteArray("0 6 1m 7\n") << 4 << 4 << "6";
    // Dropped on the repeat count field, which would take a path as text.
    QTest::newRow("three files, on a field") << QStringList{"first.csv", "second.csv", "third.tab"}
                                             << QByteArray("t,v\r\n0,8\r\n") << 0 << 1 << "8";
  }
  void drop_opens_first_file() {
    QFETCH(QStringList, names);
    QFETCH(QByteArray, bytes);
    QFETCH(int, chosen);
    QFETCH(int, item);
    QFETCH(QString, value);
    QList<QUrl> urls;
    for (const QString &name : names) {
      QFile f(dir_.filePath(name));
      QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
      f.write(bytes);
      urls << QUrl::fromLocalFile(f.fileName());
    }
    ui<QButtonGroup>("rg_data_separator_items")->button(chosen)->click();
    QMimeData mime;
    mime.setUrls(urls);
    mime.setText(urls.last().toLocalFile()); // as file managers add
    QWidget *target = names.size() > 1 ? static_cast<QWidget *>(ne_waveform_repeat_count()) : w_.get();
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    QVERIFY(drop.isAccepted());
    QCOMPARE(ne_waveform_repeat_count()->text(), QString("1"));
    QCOMPARE(ui<QButtonGroup>("rg_data_separator_items")->checkedId(), item);
    QCOMPARE(sg_data()->cell(2, 1), value);
    QCOMPARE(w_->watched_file_name(), dir_.filePath(names.front()));
    QVERIFY(dialogs_->errors.isEmpty());
    // "3 files were dropped; only the first...".
    QCOMPARE(dialogs_->infos.filter("dropped").size(), names.size() > 1 ? 1 : 0);
  }

  void repairs_report_and_validate() {
    // Both repairs sit in the Edit menu and work on the Graph page, where the failure shows.
    QCOMPARE(qobject_cast<QMenu *>(ui<QAction>("ac_sort_rows")->associatedObjects().value(0))->title(),
             QString("&Edit"));
    const char *rows[][2] = {{"2e-3", "0"}, {"0", "0"}, {"1e-3", "1"}, {"1e-3", "1"}};
    for (int r = 0; r < 4; ++r) {
      sg_data()->set_cell(1, r + 1, rows[r][0]);
      sg_data()->set_cell(2, r + 1, rows[r][1]);
    }
    ui<QAction>("ac_sort_rows")->trigger();
    QCOMPARE(dialogs_->infos.value(0), QString("4 rows were moved into time order."));
    QVERIFY(w_->waveform_valid()); // validated at once on the Graph page
    QCOMPARE(w_->driver->data_count(), 4);
    ui<QAction>("ac_remove_repeated_rows")->trigger();
    QCOMPARE(dialogs_->infos.value(1), QString("1 repeated row was removed."));
    QCOMPARE(w_->driver->data_count(), 3);
  }

  void export_pwl() {
    const char *rows[][2] = {{"0", "0"}, {"1e-3", "2.5"}, {"2e-3", "0"}};
    for (int r = 0; r < 3; ++r) {
      sg_data()->set_cell(1, r + 1, localized(rows[r][0]));
      sg_data()->set_cell(2, r + 1, localized(rows[r][1]));
    }
    const QString name = dir_.filePath("out.pwl");
    dialogs_->save_answer = name;
    ui<QAction>("ac_export_pwl")->trigger();
    QCOMPARE(dialogs_->filters, QStringList({"SPICE PWL (*.pwl)", "Any File (*)"}));
    QCOMPARE(read_all(name), QByteArray("0 0\r\n0.001 2.5\r\n0.002 0\r\n"));
    QCOMPARE(w_->watched_file_name(), QString()); // an export is not the table's file
  }

  // Export Graph, Copy Graph and Print give the graph as it is shown; a failed export is said.
  void share_the_graph() {
    const QString svg = dir_.filePath("graph.svg");
    dialogs_->save_answer = svg;
    ui<QAction>("ac_export_graph")->trigger();
    QCOMPARE(dialogs_->filters.first(), QString("PNG Image (*.png)"));
    QVERIFY(read_all(svg).contains(">Waveform</text>"));
    dialogs_->save_answer = dir_.filePath("missing-folder/graph.pdf");
    ui<QAction>("ac_export_graph")->trigger();
    QCOMPARE(dialogs_->errors.size(), 1);

    ui<TQGraph>("graph")->PopupMenu()->actions().last()->trigger(); // Copy Graph
    const QMimeData *copied = QApplication::clipboard()->mimeData();
    QCOMPARE(qvariant_cast<QImage>(copied->imageData()).size(), ui<TQGraph>("graph")->size());
    QVERIFY(copied->data("image/svg+xml").contains("<svg"));

    const QString pdf = dir_.filePath("printed.pdf");
    auto *share = w_->findChild<TGraphShareMenu *>("share_menu");
    share->ask_printer = [&](QPrinter &printer) {
      printer.setOutputFormat(QPrinter::PdfFormat);
      printer.setOutputFileName(pdf);
      return true;
    };
    ui<QAction>("ac_print")->trigger();
    const QString pdftotext = QStandardPaths::findExecutable("pdftotext");
    if (pdftotext.isEmpty())
      QSKIP("pdftotext (poppler-utils) not installed: the printed page is not read");
    QProcess text;
    text.start(pdftotext, {pdf, "-"});
    QVERIFY(text.waitForFinished(60000));
    const QByteArray page = text.readAllStandardOutput();
    QCOMPARE(page.count('\f'), 1); // one page
    for (const char *part : {"Waveform", "(not saved)", "Data Points : 0", "Error : None"})
      QVERIFY2(page.contains(part), page.constData());
  }

  void f10_opens_the_menu_bar() {
    show_page(TForm1::page_graph);
    QTest::keyClick(w_.get(), Qt::Key_F10);
    QTRY_VERIFY(QApplication::activePopupWidget() != nullptr);
    QCOMPARE(QApplication::activePopupWidget(), w_->menuBar()->actions().first()->menu());
    QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Escape);
  }

  void oversized_paste_is_reported() {
    QString text;
    while (text.size() <= TQGridModel::paste_limit)
      text += "1\t2\r\n";
    QGuiApplication::clipboard()->setText(text);
    sg_data()->set_grid_selection({1, 1, 1, 1});
    w_->ac_pasteExecute();
    QCOMPARE(dialogs_->infos.size(), 1);
    QGuiApplication::clipboard()->setText("1\t2\r\n");
    w_->ac_pasteExecute();
    QCOMPARE(dialogs_->infos.size(), 1);
  }

  // Each kind of change, made with keys and the mouse, is taken back by Ctrl+Z and made again by
  // Ctrl+Shift+Z and by Ctrl+Y; on the Graph page an undo reaches the driver at once.
  void undo_redo_each_change_data() {
    QTest::addColumn<QKeySequence>("key"); // the change's shortcut, if it has one
    for (const char *row :
         {"typing", "paste Ctrl+V", "cut Ctrl+X", "add Ctrl+A", "insert Ctrl+I", "clear Ctrl+L",
          "delete Ctrl+D", "delete_all Ctrl+Alt+D", "row_drag", "update_data", "open", "formula"})
      QTest::newRow(row) << QKeySequence(QString(row).section(' ', 1));
  }
  void undo_redo_each_change() {
    QFETCH(QKeySequence, key);
    const QString change = QString(QTest::currentDataTag()).section(' ', 0, 0);
    show_page(TForm1::page_data);
    TQGrid *g = sg_data();
    for (int r = 1; r <= 4; ++r) {
      g->set_cell(1, r, localized(QString("%1e-6").arg(r)));
      g->set_cell(2, r, localized(r % 2 ? "1.5" : "0"));
    }
    g->undo()->rebase();
    const QStringList before = rows_of(*g->grid());
    const QString file = dir_.filePath("undo.txt");
    QGuiApplication::clipboard()->setText("7\t8\r\n9\t10\r\n");
    click_cell(1, 2);
    if (!key.isEmpty()) {
      keys(key[0]);
    } else if (change == "typing") {
      QTest::keyClicks(g, "5");
      keys(Qt::Key_Return);
      QTRY_COMPARE(g->cell(1, 2), QString("5"));
    } else if (change == "row_drag") {
      QHeaderView *rows = g->verticalHeader();
      auto at = [&](int row) {
        return QPoint(rows->width() / 2, rows->sectionViewportPosition(row - 1) + 4);
      };
      QTest::mousePress(rows->viewport(), Qt::LeftButton, {}, at(4));
      QTest::mouseMove(rows->viewport(), at(1));
      QTest::mouseRelease(rows->viewport(), Qt::LeftButton, {}, at(1));
    } else if (change == "update_data") {
      show_page(TForm1::page_pulse_generator);
      QTest::mouseClick(ui<TPulsePage>("pulse_page")->Button1, Qt::LeftButton);
    } else if (change == "formula") {
      // A syntax error selects its place and leaves the table; the fixed formula replaces it.
      show_page(TForm1::page_formula);
      auto *expression = ui<QLineEdit>("le_formula_expression");
      for (const char *text : {"2*sin(2*pi*x)", "t < 1m ? 0 : 2"}) {
        expression->setFocus();
        keys(Qt::CTRL | Qt::Key_A);
        QTest::keyClicks(expression, text);
        QTest::mouseClick(ui<QPushButton>("bt_formula_use"), Qt::LeftButton);
        if (text[0] == '2') {
          QCOMPARE(rows_of(*g->grid()), before);
          QCOMPARE(expression->selectedText(), QString("x"));
          QVERIFY(ui<QLabel>("lb_formula_result")->text().contains("Unexpected token"));
        }
      }
      QCOMPARE(g->cell(1, 3), localized("0.001"));
      QCOMPARE(g->cell(2, 3), QString("2"));
      QCOMPARE(g->cell(1, 4), localized("0.01"));
    } else {
      write_all(file, "t\tv\r\n0\t2\r\n1e-6\t2\r\n");
      dialogs_->open_answer = file;
      ui<QAction>("ac_load_data")->trigger();
    }
    const QStringList after = rows_of(*g->grid());
    QVERIFY(after != before);
    const int points_after = w_->driver->data_count();
    for (const QKeyCombination redo : {Qt::CTRL | Qt::SHIFT | Qt::Key_Z, Qt::CTRL | Qt::Key_Y}) {
      keys(Qt::CTRL | Qt::Key_Z);
      QCOMPARE(rows_of(*g->grid()), before);
      QCOMPARE(w_->watched_file_name(), QString()); // an undone Open takes the watch back
      if (change == "open" || change == "update_data" || change == "formula")
        QCOMPARE(w_->driver->data_count(), 4); // rebuilt as after the Open or Update Data itself
      keys(redo);
      QCOMPARE(rows_of(*g->grid()), after);
      QCOMPARE(w_->watched_file_name(), change == "open" ? file : QString());
      QCOMPARE(w_->driver->data_count(), points_after);
    }
    show_page(TForm1::page_graph);
    keys(Qt::CTRL | Qt::Key_Z);
    QCOMPARE(rows_of(*g->grid()), before);
    QCOMPARE(w_->driver->data_count(), 4);
    QVERIFY(!ui<QAction>("ac_undo")->isEnabled());
  }

  // A million-row table and ten edits: the steps hold less than the table itself (the rows the
  // edits changed, the start-up table the Open replaced and a slot per row).
  void undo_of_million_rows_stays_under_one_table() {
    QByteArray text = "Time\tValue\r\n";
    for (int i = 1; i <= 1000000; ++i)
      text += QByteArray::number(i) + "e-6\t" + QByteArray::number(i % 7) + "\r\n";
    dialogs_->open_answer = dir_.filePath("million.txt");
    write_all(dialogs_->open_answer, text);
    ui<QAction>("ac_load_data")->trigger();
    show_page(TForm1::page_data);
    TQGrid *g = sg_data();
    for (int row = 1; row <= 10; ++row) {
      click_cell(2, row);
      keys(Qt::Key_X); // opens the editor, then goes to it
      keys(Qt::Key_Return);
      QTRY_COMPARE(g->cell(2, row), QString("x"));
    }
    qint64 table = 0;
    for (const TQGridModel::PackedRow &row : g->grid()->packed_rows())
      table += qint64(sizeof(row)) + row.text_bytes();
    QVERIFY2(g->undo()->held_bytes() < table, qPrintable(QString::number(g->undo()->held_bytes())));
    // Undo keys typed into an open cell editor are the editor's, not the table's.
    const QList<QKeyCombination> in_editor = {Qt::Key_1, Qt::CTRL | Qt::Key_Z,
                                              Qt::CTRL | Qt::SHIFT | Qt::Key_Z, Qt::CTRL | Qt::Key_Y,
                                              Qt::Key_Escape};
    click_cell(2, 11);
    for (QKeyCombination k : in_editor)
      keys(k);
    QCOMPARE(g->cell(2, 10), QString("x"));
    for (int step = 0; step < 10; ++step)
      keys(Qt::CTRL | Qt::Key_Z);
    click_cell(2, 11);
    for (QKeyCombination k : in_editor)
      keys(k);
    QVERIFY(g->cell(2, 1) == "1" && g->cell(2, 10) == "3");
    // Of the tables two Delete Alls swap out, the steps keep the last.
    keys(Qt::CTRL | Qt::ALT | Qt::Key_D);
    ui<QAction>("ac_load_data")->trigger();
    keys(Qt::CTRL | Qt::ALT | Qt::Key_D);
    QVERIFY(g->undo()->held_bytes() < 2 * table);
    keys(Qt::CTRL | Qt::Key_Z);
    QCOMPARE(g->RowCount(), 1000001);
    keys(Qt::CTRL | Qt::Key_Z); // the second Open
    QVERIFY(g->RowCount() == 21 && !ui<QAction>("ac_undo")->isEnabled());
  }

  void hardware_information_is_queued() {
    w_->ac_hardwareExecute();
    QCOMPARE(ui<TCircularBuffer>("command_queue")->get().toInt(), 227);
  }

  void help_opens_at_context_11() {
    ui<QAction>("HelpContents1")->trigger();
    QVERIFY(dialogs_->errors.isEmpty());
    auto *browser = w_->findChild<QTextBrowser *>("help_browser");
    QVERIFY(browser);
    QCOMPARE(browser->source().fileName(), QString("QX5200 Waveform Generator.html"));
    QCOMPARE(browser->source().fragment(), QString("context-11"));
    QVERIFY(browser->toHtml().contains("context-11")); // the page has that topic
  }

  void about_box_shows_build_version() {
    QCoreApplication::setApplicationVersion("9.8.7");
    ui<Tabout_box>("about_box")->show();
    QCOMPARE(ui<Tabout_box>("about_box")->lb_version->text(), QString("9.8.7"));
    QCOMPARE(ui<Tabout_box>("about_box")->windowTitle(), QString("About"));
    ui<Tabout_box>("about_box")->hide();
    QCoreApplication::setApplicationVersion(QString());
  }
};

QTEST_MAIN(TestMainWindow)
#include "test_main_window.moc"
