#include "QX5200_unit.h"

#include "CloseGuard.h"
#include "FileDrop.h"
#include "FileWatch.h"
#include "GraphExport.h"
#include "GraphShareMenu.h"
#include "Hardware_Dialog.h"
#include "HidBackend.h"
#include "NumberConversion.h"
#include "PwlFile.h"
#include "QX5200_Driver.h"
#include "RecentFiles.h"
#include "RunLogMenu.h"
#include "Settings.h"
#include "TCircularBufferUnit.h"
#include "TEngineeringEditUnit.h"
#include "TFormulaPage.h"
#include "TNumEditUnit.h"
#include "TPulsePage.h"
#include "TQGraphUnit.h"
#include "TQGridUnit.h"
#include "TableChangeWatch.h"
#include "TablePoints.h"
#include "WaveformGraph.h"
#include "WaveformNotices.h"
#include "about_box_unit.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QLoggingCategory>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTimer>
#include <QUndoStack>
#include <QVBoxLayout>

#include <cmath>
#include <iterator>
#include <tuple>

namespace {

// The window's side of the device: found, started up, lost, starts refused or dropped.
Q_LOGGING_CATEGORY(lc_window, "qx5200.window", QtWarningMsg)

constexpr int interval_searching = 1000;
constexpr int interval_connected = 250;
constexpr int interval_idle = 500;
constexpr int interval_running = 50;
constexpr int status_message_ms = 10000;

constexpr int client_width = 592;
constexpr int client_height = 526;
constexpr char help_file_base[] = "QX5200 Waveform Generator.html";
constexpr int help_context_contents = 11;

struct SeparatorItem {
  const char *caption;
  char separator;
  const char *default_ext;
  const char *filter; // description|pattern|description|pattern
};

const SeparatorItem separator_items[] = {
    {"LTSpice", '\t', "txt", "LTSpice Export (*.txt)|*.txt|Any File (*.*)|*.*"},
    {"Comma", ',', "csv", "Comma Separated File (*.csv)|*.csv|Any File (*.*)|*.*"},
    {"Space", ' ', "txt", "Space Separated File (*.txt)|*.txt|Any File (*.*)|*.*"},
    {"Tab", '\t', "txt", "Tab Separated File (*.tab)|*.tab|Any File (*.*)|*.*"},
    // Spreadsheets in comma-decimal locales write "0,001;1,5".
    {"Semicolon", ';', "csv", "Semicolon Separated File (*.csv)|*.csv|Any File (*.*)|*.*"},
};
constexpr int separator_item_count = int(std::size(separator_items));

constexpr char pwl_filter[] = "SPICE PWL (*.pwl)";

} // namespace

QStringList data_separator_filters(int item) {
  // Qt takes the patterns from the parentheses; "*.*" would hide files without an extension.
  const QStringList parts = QString::fromLatin1(separator_items[item].filter).split(u'|');
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString description = parts[i];
    const qsizetype paren = description.indexOf(u" (");
    if (paren >= 0)
      description.truncate(paren);
    QString patterns = parts[i + 1];
    patterns.replace(u';', u' ');
    if (patterns == u"*.*")
      patterns = QStringLiteral("*");
    filters << QStringLiteral("%1 (%2)").arg(description, patterns);
  }
  return filters;
}

TForm1::TForm1(QWidget *parent, std::unique_ptr<THidBackend> backend)
    : QMainWindow(parent), driver(new TQX5200_DRIVER(this, std::move(backend))),
      dialogs_(new TQtWindowDialogs) {
  // Owned objects in their order: the driver, the graph, the request queue, the hardware
  // information dialog.
  graph = new TQGraph;
  graph->setObjectName(QStringLiteral("graph"));
  command_queue = new TCircularBuffer(this);
  command_queue->setObjectName(QStringLiteral("command_queue"));
  dlg_hardware = new Tdlg_hardware(this);
  dlg_hardware->setObjectName(QStringLiteral("dlg_hardware"));
  build_layout();
  build_actions();
  file_watch = new TFileWatch(*this, {[this] { return close_guard->modified(); },
                                      [this](const QString &file) { return load_data_file(file); }});
  close_guard = new TCloseGuard(*this, *sg_data->undo()->stack(),
                                {[this] { sg_data->undo()->record(TGridStepKind::edit, tr("Edit")); },
                                 [this] { return save_data(false); }, [this] { return !timer->isActive(); },
                                 [this] { return watched_file_name(); }});
  about_box = new Tabout_box(this);
  about_box->setObjectName(QStringLiteral("about_box"));
  new TFileDropCatcher(this, [this](const QStringList &files) { open_dropped_files(files); });
  new TWindowKeeper(*this, [this] { return settings_; });
  FormCreate();
}

TForm1::~TForm1() {
  timer->stop();
  // The undo stack is deleted with the window's children and signals as it clears; the title's
  // guard reads this window, which is gone by then.
  delete close_guard;
  close_guard = nullptr;
  delete file_watch;
  file_watch = nullptr;
  // The graph is parented to its page only by setup_graph; make sure it goes either way.
  if (!graph->parent())
    delete graph;
}

void TForm1::set_dialogs(std::unique_ptr<TWindowDialogs> dialogs) { dialogs_ = std::move(dialogs); }

void TForm1::build_layout() {
  QFont font(QStringLiteral("Tahoma"));
  font.setPixelSize(11);
  setFont(font);

  auto *central = new QWidget(this);
  auto *row = new QHBoxLayout(central);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);

  PageControl1 = new QTabWidget(central);
  PageControl1->setObjectName(QStringLiteral("PageControl1"));
  pn_graph = new QWidget;
  pn_graph->setObjectName(QStringLiteral("pn_graph"));
  pn_data = new QWidget;
  pn_data->setObjectName(QStringLiteral("pn_data"));
  pn_pulse_generator = new QWidget;
  pn_pulse_generator->setObjectName(QStringLiteral("pn_pulse_generator"));
  PageControl1->addTab(pn_graph, QStringLiteral("Graph"));
  PageControl1->addTab(pn_data, QStringLiteral("Data"));
  PageControl1->addTab(pn_pulse_generator, QStringLiteral("Pulse Generator"));
  pn_formula = new QWidget;
  pn_formula->setObjectName(QStringLiteral("pn_formula"));
  PageControl1->addTab(pn_formula, QStringLiteral("Formula"));

  auto *data_layout = new QVBoxLayout(pn_data);
  data_layout->setContentsMargins(2, 2, 2, 2);
  sg_data = new TQGrid(pn_data, 3, 21);
  sg_data->setObjectName(QStringLiteral("sg_data"));
  sg_data->set_col_width(0, 65);
  sg_data->set_col_width(1, 180);
  sg_data->set_col_width(2, 178);
  sg_data->set_default_row_height(20);
  sg_data->set_default_row_count(21);
  sg_data->set_auto_number(true);
  sg_data->set_data_separator('\t');
  sg_data->setContextMenuPolicy(Qt::ActionsContextMenu);
  data_layout->addWidget(sg_data);
  pulse_page = new TPulsePage(sg_data->grid(), pn_pulse_generator);
  (new QVBoxLayout(pn_pulse_generator))->setContentsMargins(0, 0, 0, 0);
  pn_pulse_generator->layout()->addWidget(pulse_page);
  formula_page = new TFormulaPage(sg_data->grid(), pn_formula);
  (new QVBoxLayout(pn_formula))->setContentsMargins(0, 0, 0, 0);
  pn_formula->layout()->addWidget(formula_page);

  pn_arb_right = new QWidget(central);
  pn_arb_right->setObjectName(QStringLiteral("pn_arb_right"));
  pn_arb_right->setFixedWidth(135);
  auto *right = new QVBoxLayout(pn_arb_right);
  right->setContentsMargins(6, 24, 4, 4);
  right->setSpacing(4);
  bt_waveform_start = new QPushButton(QStringLiteral("START"), pn_arb_right);
  bt_waveform_start->setObjectName(QStringLiteral("bt_waveform_start"));
  bt_waveform_start->setFixedHeight(41);
  QFont start_font = font;
  start_font.setPixelSize(16);
  start_font.setBold(true);
  bt_waveform_start->setFont(start_font);
  right->addWidget(bt_waveform_start);
  right->addSpacing(8);
  lb_repeat_count = new QLabel(QStringLiteral("repeat count"), pn_arb_right);
  lb_repeat_count->setObjectName(QStringLiteral("lb_repeat_count"));
  right->addWidget(lb_repeat_count);
  ne_waveform_repeat_count = new TNumEdit(pn_arb_right);
  ne_waveform_repeat_count->setObjectName(QStringLiteral("ne_waveform_repeat_count"));
  ne_waveform_repeat_count->setDataType(tInteger);
  ne_waveform_repeat_count->setMaxLength(6);
  ne_waveform_repeat_count->setDigitCount(5);
  ne_waveform_repeat_count->setMaxDecimalPos(3);
  ne_waveform_repeat_count->setAllowNegative(false);
  ne_waveform_repeat_count->setMaxValue(65535);
  right->addWidget(ne_waveform_repeat_count);
  right->addSpacing(8);

  rg_data_separator = new QGroupBox(QStringLiteral("Data Separator"), pn_arb_right);
  rg_data_separator->setObjectName(QStringLiteral("rg_data_separator"));
  rg_data_separator_items = new QButtonGroup(rg_data_separator);
  rg_data_separator_items->setObjectName(QStringLiteral("rg_data_separator_items"));
  auto *items = new QVBoxLayout(rg_data_separator);
  items->setSpacing(2);
  for (int i = 0; i < separator_item_count; ++i) {
    auto *button = new QRadioButton(QString::fromLatin1(separator_items[i].caption));
    rg_data_separator_items->addButton(button, i);
    items->addWidget(button);
  }
  rg_data_separator_items->button(0)->setChecked(true);
  connect(rg_data_separator_items, &QButtonGroup::idClicked, this, &TForm1::rg_data_separatorClick);
  right->addWidget(rg_data_separator);

  pn_statistics = new QWidget(pn_arb_right);
  pn_statistics->setObjectName(QStringLiteral("pn_statistics"));
  auto *figures = new QGridLayout(pn_statistics);
  // The figures need nearly the panel's whole width.
  figures->setContentsMargins(0, 4, 0, 0);
  QFont figure_font = font;
  figure_font.setPixelSize(10);
  pn_statistics->setFont(figure_font);
  figures->setHorizontalSpacing(2);
  figures->setVerticalSpacing(1);
  const std::tuple<const char *, QLabel **, const char *> statistics[] = {
      {"Data Points :", &lb_data_points, "lb_data_points"},
      {"Max dY : ", &lb_max_dy, "lb_max_dy"},
      {"Min dY : ", &lb_min_dy, "lb_min_dy"},
      {"Max dt : ", &lb_max_dt, "lb_max_dt"},
      {"Min dt : ", &lb_min_dt, "lb_min_dt"},
      {"Max dy/dt : ", &lb_max_dy_dt, "lb_max_dy_dt"},
      {"Avg Y : ", &lb_average, "lb_average"},
      {"Pulse Avg Y : ", &lb_pulse_average, "lb_pulse_average"},
      {"Avg Power : ", &lb_average_power, "lb_average_power"},
      {"Energy : ", &lb_energy, "lb_energy"},
      {"P2t : ", &lb_p2t, "lb_p2t"},
      {"Limited :", &lb_limited_samples, "lb_limited_samples"},
      {"Error :", &lb_status, "lb_status"}};
  int line = 0;
  for (const auto &[caption, value, object_name] : statistics) {
    auto *name = new QLabel(QString::fromLatin1(caption), pn_statistics);
    name->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    *value = new QLabel(QStringLiteral("0"), pn_statistics);
    (*value)->setObjectName(QString::fromLatin1(object_name));
    figures->addWidget(name, line, 0);
    figures->addWidget(*value, line, 1);
    ++line;
  }
  lb_status->setText(QStringLiteral("None"));
  figures->setRowStretch(line, 1);
  right->addWidget(pn_statistics, 1);

  row->addWidget(PageControl1, 1);
  row->addWidget(pn_arb_right);
  setCentralWidget(central);

  status_bar = new QStatusBar(this);
  status_bar->setObjectName(QStringLiteral("status_bar"));
  status_bar->setSizeGripEnabled(false);
  // Each panel is as wide as the layout gives it, or as its longest text in the font in use,
  // whichever is wider: nothing the program writes there is cut.
  const int widths[5] = {130, 65, 160, 100, 50};
  const std::array<QStringList, 5> longest{
      QStringList{QStringLiteral(" Waiting For QX5200 . . ."), QStringLiteral(" QX5200: no permission"),
                  QStringLiteral(" QX5200 Connected")},
      QStringList{QStringLiteral(" USB:8.88V")},
      QStringList{QStringLiteral("Waveform In Progress . . . ."), QStringLiteral("LB1 100A 50V 1A=0.010V")},
      QStringList{QStringLiteral("88.88V 88C Temp")},
      QStringList{QStringLiteral(" Loading Waveform"), QStringLiteral(" Sending Command")}};
  for (int i = 0; i < 5; ++i) {
    status_panels[i] = new QLabel(status_bar);
    status_panels[i]->setObjectName(QStringLiteral("status_panel%1").arg(i));
    status_panels[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    const QFontMetrics metrics(status_panels[i]->font());
    int width = widths[i];
    for (const QString &text : longest[std::size_t(i)])
      width = std::max(width, metrics.horizontalAdvance(text) + 2 * status_panels[i]->frameWidth() + 6);
    status_panels[i]->setFixedWidth(width);
    status_bar->addWidget(status_panels[i]);
  }
  // Notices the tick must not overwrite: why a start was dropped, and the like. Beside the five
  // panels there is no room to read one, so while it shows it takes their place, as a status
  // bar's messages do; the panels come back when it ends or the device is lost.
  status_message = new QLabel(status_bar);
  status_message->setObjectName(QStringLiteral("status_message"));
  status_message->hide();
  status_bar->addWidget(status_message, 1);
  status_message_timer = new QTimer(this);
  status_message_timer->setSingleShot(true);
  connect(status_message_timer, &QTimer::timeout, this, &TForm1::end_status_message);
  setStatusBar(status_bar);

  timer = new QTimer(this);
  timer->setObjectName(QStringLiteral("timer"));
  timer->setInterval(interval_idle);
  connect(timer, &QTimer::timeout, this, &TForm1::timerTimer);
  timer->start();

  connect(PageControl1, &QTabWidget::currentChanged, this, &TForm1::PageControl1Change);
  connect(sg_data, &TQGrid::KeyPress, this, &TForm1::sg_dataKeyPress);
  connect(sg_data, &TQGrid::SelectCell, this, &TForm1::sg_dataSelectCell);
  connect(bt_waveform_start, &QPushButton::clicked, this, &TForm1::bt_waveform_startClick);
  connect(pulse_page, &TPulsePage::UpdateWaveform, this, [this] {
    sg_data->undo()->record(TGridStepKind::pulse, tr("Update Data"));
    after_table_change(TGridStepKind::pulse);
  });
  connect(formula_page, &TFormulaPage::UpdateWaveform, this, [this] {
    sg_data->undo()->record(TGridStepKind::pulse, tr("Use Formula"));
    after_table_change(TGridStepKind::pulse);
  });
  connect(pulse_page, &TPulsePage::EditRefused, this, &TForm1::field_refused);
  connect(sg_data->undo(), &TQGridUndo::step_applied, this, &TForm1::sg_dataStepApplied);
  // The figures follow every change of the table at once, whatever page is shown.
  table_watch = new TTableChangeWatch(
      sg_data->grid(),
      [this] {
        check_table_quietly();
        if (driver->is_running())
          show_status_message(
              tr("The table changed: the QX5200 plays the earlier waveform until STOP and START."));
      },
      this);
  // "Delete Curve" hides the curve until the waveform is plotted again.
  connect(graph, &TQGraph::GraphSetupChanged, this, [this] {
    if (settings_)
      settings_->store_graph(graph->GraphArea());
  });
  connect(graph, &TQGraph::OnDeleteCurve, this, [this](int curve) {
    graph->ClearCurve(curve);
    graph->Redraw();
  });
  pulse_page->set_load_board_source([this]() -> const TLoadBoardRecord * {
    return driver->load_board_present() ? &driver->load_board() : nullptr;
  });
  formula_page->set_load_board_source([this]() -> const TLoadBoardRecord * {
    return driver->load_board_present() ? &driver->load_board() : nullptr;
  });
}

void TForm1::build_actions() {
  auto make = [this](QAction *&action, const char *name, const char *text, const QKeySequence &keys,
                     void (TForm1::*handler)()) {
    action = new QAction(QString::fromLatin1(text), this);
    action->setObjectName(QString::fromLatin1(name));
    action->setShortcut(keys);
    connect(action, &QAction::triggered, this, handler);
  };
  make(ac_undo, "ac_undo", "&Undo", QKeySequence(Qt::CTRL | Qt::Key_Z), &TForm1::ac_undoExecute);
  make(ac_redo, "ac_redo", "&Redo", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), &TForm1::ac_redoExecute);
  ac_redo->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
  // There whenever there is a step to take back or to make again, on every page.
  const QUndoStack *steps = sg_data->undo()->stack();
  ac_undo->setEnabled(steps->canUndo());
  ac_redo->setEnabled(steps->canRedo());
  connect(steps, &QUndoStack::canUndoChanged, ac_undo, &QAction::setEnabled);
  connect(steps, &QUndoStack::canRedoChanged, ac_redo, &QAction::setEnabled);
  // Every menu and item has a mnemonic. The graph's Ctrl keys (S, A, B, E) act on the Graph page,
  // where the Edit items are off; so Save takes Ctrl+Shift+S, and Ctrl+A is Edit > Add on the Data
  // page and Add Label on the Graph page.
  make(ac_load_data, "ac_load_data", "&Open...", QKeySequence::Open, &TForm1::ac_load_dataExecute);
  make(ac_data_save, "ac_data_save", "&Save...", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S),
       &TForm1::ac_data_saveExecute);
  make(ac_quit, "ac_quit", "&Quit", QKeySequence(Qt::CTRL | Qt::Key_Q), &TForm1::close_window);
  make(ac_cut, "ac_cut", "Cu&t", QKeySequence(Qt::CTRL | Qt::Key_X), &TForm1::ac_cutExecute);
  make(ac_copy, "ac_copy", "&Copy", QKeySequence(Qt::CTRL | Qt::Key_C), &TForm1::ac_copyExecute);
  make(ac_paste, "ac_paste", "&Paste", QKeySequence(Qt::CTRL | Qt::Key_V), &TForm1::ac_pasteExecute);
  make(ac_add, "ac_add", "&Add", QKeySequence(Qt::CTRL | Qt::Key_A), &TForm1::ac_addExecute);
  make(ac_insert, "ac_insert", "&Insert", QKeySequence(Qt::CTRL | Qt::Key_I), &TForm1::ac_insertExecute);
  make(ac_clear, "ac_clear", "C&lear", QKeySequence(Qt::CTRL | Qt::Key_L), &TForm1::ac_clearExecute);
  make(ac_delete, "ac_delete", "&Delete", QKeySequence(Qt::CTRL | Qt::Key_D), &TForm1::ac_deleteExecute);
  make(ac_select_all, "ac_select_all", "&Select All", QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_A),
       &TForm1::ac_select_allExecute);
  make(ac_delete_all, "ac_delete_all", "D&elete All", QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_D),
       &TForm1::ac_delete_allExecute);
  make(ac_export_pwl, "ac_export_pwl", "&Export PWL...", {}, &TForm1::ac_export_pwlExecute);
  make(ac_sort_rows, "ac_sort_rows", "S&ort Rows By Time", {}, &TForm1::ac_sort_rowsExecute);
  make(ac_remove_repeated_rows, "ac_remove_repeated_rows", "Re&move Repeated Rows", {},
       &TForm1::ac_remove_repeated_rowsExecute);
  make(ac_hardware, "ac_hardware", "&Information...", {}, &TForm1::ac_hardwareExecute);
  make(HelpContents1, "HelpContents1", "&Contents", QKeySequence::HelpContents,
       &TForm1::HelpContents1Execute);
  make(ac_about, "ac_about", "&About...", {}, &TForm1::ac_aboutExecute);
  make(ac_reset_settings, "ac_reset_settings", "&Reset Settings", {}, &TForm1::ac_reset_settingsExecute);

  share_menu = new TGraphShareMenu(
      *this, *graph,
      {[this] { return ask_file(TSettings::export_folder, true, GraphFileFilters(), QStringLiteral("png")); },
       [this](QDialog &d) { return dialogs_->exec(d); },
       [this](const QString &text) { dialogs_->error(this, text); }, [this] { return print_lines(); }});
  share_menu->setObjectName(QStringLiteral("share_menu"));
  QMenu *file = menuBar()->addMenu(QStringLiteral("&File"));
  file->addAction(ac_load_data);
  QMenu *recent = file->addMenu(QStringLiteral("Open &Recent"));
  recent->setObjectName(QStringLiteral("recent_menu"));
  recent_files = new TRecentFiles(
      this, recent, [this](const TRecentFile &f) { open_recent_file(f); },
      [this](const QString &text) { dialogs_->information(this, text, message_position()); });
  file->addAction(ac_data_save);
  file->addAction(ac_export_pwl);
  file->addAction(share_menu->export_action());
  file->addAction(share_menu->print_action());
  file->addSeparator();
  file->addAction(ac_quit);
  QMenu *edit = menuBar()->addMenu(QStringLiteral("&Edit"));
  edit->setObjectName(QStringLiteral("edit_menu"));
  edit->addAction(ac_undo);
  edit->addAction(ac_redo);
  edit->addSeparator();
  edit->addActions(edit_actions());
  // The repairs stay enabled on the Graph page, where a failed waveform is reported.
  edit->addSeparator();
  edit->addAction(ac_sort_rows);
  edit->addAction(ac_remove_repeated_rows);
  edit->addSeparator();
  edit->addAction(share_menu->copy_action());
  QMenu *hardware = menuBar()->addMenu(QStringLiteral("&Hardware"));
  hardware->addAction(ac_hardware);
  run_log = new TRunLogMenu(*this, hardware);
  waveform_notices = new TWaveformNotices(*this, *sg_data->grid());
  run_log->setObjectName(QStringLiteral("run_log"));
  QMenu *help = menuBar()->addMenu(QStringLiteral("He&lp"));
  help->addAction(HelpContents1);
  help->addAction(ac_reset_settings);
  help->addAction(ac_about);
  // F10 opens the File menu, with or without a window manager that would.
  auto *menu_key = new QAction(this);
  menu_key->setObjectName(QStringLiteral("ac_menu_bar"));
  menu_key->setShortcut(QKeySequence(Qt::Key_F10));
  connect(menu_key, &QAction::triggered, this,
          [this] { menuBar()->setActiveAction(menuBar()->actions().constFirst()); });
  addAction(menu_key);
  sg_data->addActions(edit_actions());

  // The menu bar lies outside the client area the layout is measured in. The window opens at
  // the layout's size and may grow: the graph and the table take the room.
  const QSize initial(client_width, client_height + menuBar()->sizeHint().height());
  setMinimumSize(initial.expandedTo(minimumSizeHint()));
  resize(minimumSize());
}

QList<QAction *> TForm1::edit_actions() const {
  return {ac_cut, ac_copy, ac_paste, ac_add, ac_insert, ac_clear, ac_delete, ac_select_all, ac_delete_all};
}

void TForm1::FormCreate() {
  file_watch->watch({}, 0);
  waveform_valid_ = false;
  device_connected_ = false;
  load_board_ready_ = false;
  waiting_dots_ = 0;
  sensor_slots_.fill(0.0);
  sensor_slot_index_ = 0;
  sensor_average_ = 0.0;
  progress_dots_ = 0;
  disable_device_controls();
  setup_graph();
  PageControl1->setCurrentIndex(page_graph);
  dlg_hardware->driver = driver;
  dlg_hardware->show_message = [this](const QString &text) { dialogs_->error(dlg_hardware, text); };
  ne_waveform_repeat_count->setValue(1);
  sg_data->set_cell(1, 0, QStringLiteral("Time"));
  sg_data->set_cell(2, 0, QStringLiteral("Value"));
  sg_data->undo()->rebase(); // the start-up table is no step to undo
  disable_edit_actions();

  // The help page lies beside the program, or in the shared data folder once installed.
  const QDir program(QCoreApplication::applicationDirPath());
  help_file_name_ = program.filePath(QString::fromLatin1(help_file_base));
  const QString installed =
      QDir::cleanPath(program.filePath(QStringLiteral("../share/qx5200/") + help_file_base));
  if (!QFileInfo::exists(help_file_name_) && QFileInfo::exists(installed))
    help_file_name_ = installed;
  HelpContents1->setEnabled(!help_file_name_.isEmpty());

  rg_data_separatorClick(rg_data_separator_items->checkedId());
  driver->set_repeat_count(1);
}

// Keys reach the window only when the focused control did not use them: a key typed into the
// repeat count, a cell editor or a dialog belongs to that field, and a key the graph used
// itself does not come here again.
void TForm1::keyPressEvent(QKeyEvent *event) {
  if (FormKeyDown(event->key(), event->modifiers()))
    event->accept();
  else
    QMainWindow::keyPressEvent(event);
}

bool TForm1::FormKeyDown(int key, Qt::KeyboardModifiers shift) {
  if (PageControl1->currentIndex() != page_graph)
    return false;
  return graph->KeyDown(key, shift);
}

void TForm1::PageControl1Change(int index) {
  pulse_page->apply_pending_edits();
  if (index == page_graph) {
    disable_edit_actions();
    update_waveform();
  } else {
    enable_edit_actions();
  }
}

void TForm1::sg_dataKeyPress() { sg_data->set_changed(true); }

void TForm1::sg_dataSelectCell() { update_start_button(); }

void TForm1::sg_dataStepApplied(TGridStepKind kind, const QVariant &context) {
  if (kind == TGridStepKind::open) {
    // The watch follows the table back to the file it was read from, from its state on disk now:
    // a later change of the file reloads it, an earlier one does not undo the undo.
    file_watch->watch(context.toString(), file_age(context.toString()));
  }
  {
    // An Open undone or redone brings back a table whose trouble was said when it was opened;
    // the error line still shows it, and START says it again.
    bool quiet = kind == TGridStepKind::open;
    std::swap(errors_said_, quiet);
    after_table_change(kind);
    std::swap(errors_said_, quiet);
  }
  // On the Graph page no page change will bring the table to the driver and the plot.
  if (PageControl1->currentIndex() == page_graph && kind != TGridStepKind::open &&
      kind != TGridStepKind::pulse)
    update_waveform();
}

void TForm1::after_table_change(TGridStepKind kind) {
  // A new waveform is shown whole; editing cells keeps the user's zoom.
  if (kind != TGridStepKind::edit)
    show_new_waveform();
  switch (kind) {
  case TGridStepKind::open:
    sg_data->set_changed(true);
    update_waveform();
    // A file of exactly nine points fills the Pulse Generator's fields back.
    pulse_page->set_from_waveform(driver->waveform());
    break;
  case TGridStepKind::pulse: update_waveform(); break;
  case TGridStepKind::delete_all:
    sg_data->set_grid_selection({0, 0, 0, 0});
    update_start_button();
    break;
  case TGridStepKind::paste: break; // Paste leaves START as it is
  case TGridStepKind::edit: update_start_button(); break;
  }
}

void TForm1::rg_data_separatorClick(int item) {
  if (item < 0 || item >= separator_item_count)
    return;
  sg_data->set_data_separator(separator_items[item].separator);
  dialog_filters_ = data_separator_filters(item);
  dialog_filters_.insert(1, QString::fromLatin1(pwl_filter));
  dialog_default_ext_ = QString::fromLatin1(separator_items[item].default_ext);
  if (settings_)
    settings_->set_data_separator(item);
}

void TForm1::select_data_separator(int item) {
  if (item < 0 || item >= separator_item_count)
    return;
  rg_data_separator_items->button(item)->setChecked(true);
  rg_data_separatorClick(item);
}

void TForm1::open_recent_file(const TRecentFile &file) {
  select_data_separator(file.separator);
  load_data_file(file.path);
}

QString TForm1::ask_file(int folder, bool save, const QStringList &filters, const QString &suffix) {
  return in_folder(folder, [&] {
    return save ? dialogs_->save_file_name(this, filters, suffix)
                : dialogs_->open_file_name(this, filters, suffix);
  });
}

QString TForm1::in_folder(int folder, const std::function<QString()> &ask) {
  const auto kind = TSettings::TFolder(folder);
  dialogs_->start_folder = settings_ ? settings_->folder(kind) : QString();
  const QString name = ask();
  if (settings_ && !name.isEmpty())
    settings_->set_folder(kind, QFileInfo(name).absolutePath());
  return name;
}

void TForm1::use_settings(TSettings *settings) {
  settings_ = nullptr; // nothing is written back while the remembered values are applied
  formula_page->remember_in(settings);
  if (!settings)
    return;
  if (!graph_defaults_)
    graph_defaults_ = std::make_unique<TQGraphArea>(graph->GraphArea());
  select_data_separator(settings->data_separator());
  settings->load_graph(graph->GraphArea());
  graph->Redraw();
  restore_window_geometry(*this, *settings);
  settings_ = settings;
  recent_files->set_settings(settings);
  if (!settings->notice().isEmpty())
    show_status_message(settings->notice());
}

void TForm1::ac_reset_settingsExecute() {
  if (!settings_)
    return;
  settings_->reset();
  settings_->store_graph(*graph_defaults_);
  TSettings *settings = settings_;
  use_settings(settings);
  resize(minimumSize());
  show_status_message(QStringLiteral("Settings reset to the defaults."));
}

QPoint TForm1::message_position() const { return frameGeometry().topLeft() + QPoint(200, 200); }

qint64 TForm1::file_age(const QString &file_name) { return TFileWatch::age_of(file_name); }
QString TForm1::watched_file_name() const { return file_watch->file_name(); }
qint64 TForm1::watched_file_age() const { return file_watch->file_age(); }

void TForm1::ac_load_dataExecute() {
  const QString name = ask_file(TSettings::open_folder, false, dialog_filters_, dialog_default_ext_);
  if (!name.isEmpty())
    load_data_file(name);
}

void TForm1::ac_undoExecute() { sg_data->undo()->undo(); }

void TForm1::ac_redoExecute() { sg_data->undo()->redo(); }

bool TForm1::load_data_file(const QString &file_name) {
  const QString previous = watched_file_name();
  const qint64 age = file_age(file_name);
  // A file that gives no point does not take the place of the table (copies share the texts).
  TQGridModel &table = *sg_data->grid();
  const std::vector<TQGridModel::PackedRow> kept = table.packed_rows();
  const TQGridModel::Encoding kept_encoding = table.encoding();
  const bool kept_bom = table.utf8_bom(), kept_changed = table.changed();
  const TGridFileResult result =
      is_pwl_file_name(file_name) ? load_pwl_file(table, file_name) : sg_data->load_from_file(file_name);
  if (result.status == TGridFileResult::Failed) {
    // The table and the watch stay as they were.
    dialogs_->error(this, tr("The file \"%1\" could not be read: %2.\nThe table was not changed.")
                              .arg(QDir::toNativeSeparators(file_name), result.error));
    return false;
  }
  if (result.status == TGridFileResult::Done && !table_has_point(table)) {
    const QChar decimal = foreign_decimal_separator(table);
    table.replace_rows(0, table.row_count(), kept);
    table.set_encoding(kept_encoding, kept_bom);
    table.set_changed(kept_changed);
    report_empty_load(file_name, decimal);
    return false;
  }
  file_watch->watch(file_name, age);
  sg_data->undo()->record(TGridStepKind::open, tr("Open"), previous, file_name);
  close_guard->saved();
  recent_files->add({file_name, rg_data_separator_items->checkedId()});
  after_table_change(TGridStepKind::open);
  // Said for a file opened now, not for an undo or redo that brings one back.
  if (driver->data_count() == 0)
    report_empty_load(file_name, {});
  return true;
}

// A file that gave no points: say so, and what would read it (the choices stay the user's).
void TForm1::report_empty_load(const QString &file_name, QChar decimal) {
  const int used = rg_data_separator_items->checkedId();
  const QChar own = locale_decimal_separator();
  QString text = tr("\"%1\" gave no waveform points when read with the %2 separator; the table was not "
                    "changed.")
                     .arg(QDir::toNativeSeparators(file_name), separator_name(used));
  auto decimal_advice = [&](QChar d) {
    return tr("start the program in a locale that writes \"%1\" (LC_NUMERIC) or change the file's \"%1\" "
              "to \"%2\".")
        .arg(d)
        .arg(own);
  };
  if (!decimal.isNull()) {
    text += tr("\nIts numbers are written with \"%1\" as decimal separator, and this system reads \"%2\": ")
                .arg(decimal)
                .arg(own) +
            decimal_advice(decimal);
    dialogs_->information(this, text, message_position());
    return;
  }
  QString other, other_decimal;
  for (int i = 0; i < int(std::size(separator_items)) && !is_pwl_file_name(file_name); ++i) {
    if (separator_items[i].separator == separator_items[used].separator)
      continue;
    TQGridModel trial(sg_data->grid()->col_count());
    trial.set_auto_number(sg_data->grid()->auto_number());
    trial.set_data_separator(separator_items[i].separator);
    if (trial.load_from_file(file_name).status == TGridFileResult::Failed)
      continue;
    std::vector<TWavePoint> points;
    table_points(trial, points);
    if (!points.empty()) {
      other = tr("\nWith the %1 separator it gives %2 points: choose %3 under Data Separator and open "
                 "it again.")
                  .arg(separator_name(i))
                  .arg(points.size())
                  .arg(QString::fromLatin1(separator_items[i].caption));
      break;
    }
    if (const QChar d = foreign_decimal_separator(trial); !d.isNull() && other_decimal.isEmpty())
      other_decimal =
          tr("\nWith the %1 separator its numbers are written with \"%2\" as decimal separator, and "
             "this system reads \"%3\": choose %4 under Data Separator, and ")
              .arg(separator_name(i))
              .arg(d)
              .arg(own)
              .arg(QString::fromLatin1(separator_items[i].caption)) +
          decimal_advice(d);
  }
  dialogs_->information(this, text + (other.isEmpty() ? other_decimal : other), message_position());
}

QString TForm1::separator_name(int item) const {
  switch (separator_items[item].separator) {
  case '\t': return tr("tab");
  case ',': return tr("comma");
  case ' ': return tr("space");
  default: return QString::fromLatin1(separator_items[item].caption).toLower();
  }
}

void TForm1::show_new_waveform() { graph->ShowWhole(); }

void TForm1::ac_data_saveExecute() { save_data(true); }

bool TForm1::save_data(bool ask_name) {
  if (!apply_field_edits(tr("Save")))
    return false;
  const QString name = ask_name || watched_file_name().isEmpty()
                           ? ask_file(TSettings::save_folder, true, dialog_filters_, dialog_default_ext_)
                           : watched_file_name();
  sg_data->undo()->record(TGridStepKind::edit, tr("Edit")); // the state saved is a step's
  if (name.isEmpty() || !save_table(name, is_pwl_file_name(name)))
    return false;
  file_watch->watch(name, file_age(name));
  close_guard->saved();
  recent_files->add({name, rg_data_separator_items->checkedId()});
  return true;
}

void TForm1::ac_export_pwlExecute() {
  if (!apply_field_edits(tr("Export")))
    return;
  const QString name = dialogs_->save_file_name(
      this, {QString::fromLatin1(pwl_filter), QStringLiteral("Any File (*)")}, QStringLiteral("pwl"));
  if (name.isEmpty())
    return;
  // An export is a copy for a simulator: the watched file stays the one opened or saved.
  save_table(name, true);
}

bool TForm1::save_table(const QString &name, bool as_pwl) {
  const bool existed = QFileInfo::exists(name);
  const TGridFileResult result = as_pwl ? save_pwl_file(*sg_data->grid(), name) : sg_data->save_to_file(name);
  if (!result.ok())
    dialogs_->error(this,
                    tr("The file \"%1\" could not be saved: %2.\n%3")
                        .arg(QDir::toNativeSeparators(name), result.error,
                             existed ? tr("The file on disk was left as it was.") : tr("No file was made.")));
  return result.ok();
}

void TForm1::ac_sort_rowsExecute() {
  const int moved = sg_data->grid()->sort_rows_by_time();
  sg_data->undo()->record(TGridStepKind::edit, tr("Sort Rows By Time"));
  table_repaired(moved, moved == 0   ? tr("The rows are already in time order; nothing was moved.")
                        : moved == 1 ? tr("1 row was moved into time order.")
                                     : tr("%1 rows were moved into time order.").arg(moved));
}

void TForm1::ac_remove_repeated_rowsExecute() {
  const int removed = sg_data->grid()->remove_repeated_rows();
  sg_data->undo()->record(TGridStepKind::edit, tr("Remove Repeated Rows"));
  table_repaired(removed, removed == 0   ? tr("No row repeats the row before it; nothing was removed.")
                          : removed == 1 ? tr("1 repeated row was removed.")
                                         : tr("%1 repeated rows were removed.").arg(removed));
}

void TForm1::table_repaired(int count, const QString &message) {
  dialogs_->information(this, message, message_position());
  if (count == 0)
    return;
  update_start_button();
  // On the Graph page the plot and the statistics follow at once.
  if (PageControl1->currentIndex() == page_graph)
    update_waveform();
}

void TForm1::open_dropped_files(const QStringList &files) {
  if (files.isEmpty())
    return;
  open_dropped_file(files.front());
  if (files.size() > 1)
    dialogs_->information(this,
                          tr("%1 files were dropped; only the first, \"%2\", was opened.")
                              .arg(files.size())
                              .arg(QDir::toNativeSeparators(files.front())),
                          message_position());
}

void TForm1::open_dropped_file(const QString &file_name) {
  if (!is_pwl_file_name(file_name)) {
    QList<TSeparatorChoice> choices;
    for (const SeparatorItem &item : separator_items) {
      const QString pattern = QString::fromLatin1(item.filter).section(u'|', 1, 1); // "*.csv"
      choices.push_back({pattern.mid(2), item.separator});
    }
    const int current = rg_data_separator_items->checkedId();
    const int item = separator_item_for_file(file_name, current, choices, sg_data->ColCount() - 1);
    if (item != current) {
      rg_data_separator_items->button(item)->setChecked(true);
      rg_data_separatorClick(item);
    }
  }
  load_data_file(file_name);
}

void TForm1::ac_cutExecute() {
  sg_data->cut_selection();
  update_start_button();
}

void TForm1::ac_copyExecute() {
  sg_data->copy_selection();
  update_start_button();
}

void TForm1::ac_pasteExecute() {
  const TGridPasteResult result = sg_data->paste_clipboard();
  if (result.dropped > 0)
    dialogs_->information(this,
                          tr("Only the first %1 characters of the clipboard were pasted; "
                             "%2 characters were left out.\nFor larger data use File > Open.")
                              .arg(TQGridModel::paste_limit)
                              .arg(result.dropped),
                          message_position());
  after_table_change(TGridStepKind::paste);
  // Numbers copied from a program that writes the other decimal separator give no point here.
  if (const QChar decimal = foreign_decimal_separator(*sg_data->grid()); !decimal.isNull())
    show_status_message(tr("The pasted numbers are written with \"%1\" as decimal separator and this system "
                           "reads \"%2\": they give no waveform points.")
                            .arg(decimal)
                            .arg(locale_decimal_separator()));
}

void TForm1::ac_addExecute() {
  sg_data->add_row();
  update_start_button();
}

void TForm1::ac_insertExecute() {
  sg_data->insert_row();
  update_start_button();
}

void TForm1::ac_clearExecute() {
  sg_data->clear_selected_rows();
  update_start_button();
}

void TForm1::ac_deleteExecute() {
  sg_data->delete_selected_rows();
  sg_data->set_grid_selection({0, 0, 0, 0});
  update_start_button();
}

void TForm1::ac_select_allExecute() { sg_data->select_all(); }

void TForm1::ac_delete_allExecute() {
  {
    TQGridUndo::Hold hold(sg_data->undo());
    sg_data->select_all();
    sg_data->delete_selected_rows();
  }
  sg_data->undo()->record(TGridStepKind::delete_all, tr("Delete All"));
  after_table_change(TGridStepKind::delete_all);
}

void TForm1::close_window() { close(); }

void TForm1::closeEvent(QCloseEvent *event) {
  // What is typed counts, as on leaving its field: a cell being edited, a pulse field.
  if (QWidget *typing = QApplication::focusWidget())
    typing->clearFocus();
  pulse_page->apply_pending_edits();
  if (!close_guard->may_close())
    event->ignore();
}

void TForm1::ac_hardwareExecute() { command_queue->put(queue_hardware); }

void TForm1::HelpContents1Execute() { show_help(help_context_contents); }

void TForm1::ac_aboutExecute() { about_box->exec(); }

void TForm1::show_help(int context) {
  if (!QFileInfo::exists(help_file_name_)) {
    dialogs_->error(this,
                    tr("The help file \"%1\" was not found.").arg(QDir::toNativeSeparators(help_file_name_)));
    return;
  }
  if (!help_viewer_) {
    help_viewer_ = new QDialog(this);
    help_viewer_->setWindowTitle(tr("QX5200 Waveform Generator Help"));
    help_viewer_->resize(640, 560);
    auto *layout = new QVBoxLayout(help_viewer_);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *browser = new QTextBrowser(help_viewer_);
    browser->setObjectName(QStringLiteral("help_browser"));
    browser->setOpenExternalLinks(true);
    layout->addWidget(browser);
  }
  auto *browser = help_viewer_->findChild<QTextBrowser *>();
  QUrl url = QUrl::fromLocalFile(help_file_name_);
  url.setFragment(QStringLiteral("context-%1").arg(context));
  browser->setSource(url);
  help_viewer_->show();
  help_viewer_->raise();
}

void TForm1::update_start_button() {
  // Two parseable rows are enough to decide; a long table is not read to its end.
  int points = 0;
  const TQGridModel &table = *sg_data->grid();
  TWavePoint point;
  for (int r = TQGridModel::fixed_rows; r < table.row_count() && points < 2; ++r)
    points += table_row_point(table, r, point);
  if (points >= 2)
    set_start_enabled(true);
}

QString TForm1::start_blocked_reason() const {
  // STOP must always be there while the device runs.
  if (driver->is_running())
    return {};
  if (!device_connected_)
    return QStringLiteral("No QX5200 is connected");
  if (!load_board_ready_)
    return QStringLiteral("No load board is ready: insert one and wait for its name in the status bar");
  if (driver_over_temperature())
    return QStringLiteral("The load board is over temperature: let it cool down");
  TWavePoint point;
  int points = 0;
  for (int r = TQGridModel::fixed_rows; r < sg_data->grid()->row_count() && points < 2; ++r)
    points += table_row_point(*sg_data->grid(), r, point);
  if (points < 2)
    return QStringLiteral("The table holds fewer than two points: give at least two rows a time and a value");
  return {};
}

void TForm1::set_start_enabled(bool wanted) {
  const QString reason = start_blocked_reason();
  bt_waveform_start->setEnabled(wanted && reason.isEmpty());
  bt_waveform_start->setToolTip(reason);
}

void TForm1::show_status_message(const QString &text) {
  status_message->setText(text);
  status_message->setToolTip(text);
  for (QLabel *panel : status_panels)
    panel->hide();
  status_message->show();
  status_message_timer->start(status_message_ms);
}

bool TForm1::apply_field_edits(const QString &action) {
  TEngineeringEdit *refused = pulse_page->apply_pending_edits();
  if (refused)
    field_refused(refused, action);
  return !refused;
}

void TForm1::field_refused(TEngineeringEdit *field, const QString &action) {
  PageControl1->setCurrentIndex(page_pulse_generator);
  show_status_message(pulse_page->refuse_for(field, action));
}

void TForm1::end_status_message() {
  status_message_timer->stop();
  status_message->hide();
  status_message->clear();
  status_message->setToolTip({});
  for (QLabel *panel : status_panels)
    panel->show();
}

void TForm1::enable_edit_actions() {
  for (QAction *action : edit_actions())
    action->setEnabled(true);
}

void TForm1::disable_edit_actions() {
  for (QAction *action : edit_actions())
    action->setEnabled(false);
}

void TForm1::enable_device_controls() {
  set_start_enabled(waveform_valid_);
  rg_data_separator->setEnabled(true);
  ac_hardware->setEnabled(true);
}

void TForm1::disable_device_controls() {
  set_start_enabled(false);
  ac_hardware->setEnabled(false);
}

// --- Sending, starting and stopping -----------------------------------------------------------

int TForm1::rounded_repeat_count() const { return int(std::nearbyint(ne_waveform_repeat_count->Value())); }

void TForm1::bt_waveform_startClick() {
  // Blanks around a pasted count are no part of it.
  if (const QString typed = ne_waveform_repeat_count->text();
      !driver->is_running() && typed.trimmed() != typed &&
      ne_waveform_repeat_count->check_text(typed.trimmed()))
    ne_waveform_repeat_count->setText(typed.trimmed());
  // The press does what the caption says: the caption may still read STOP for a tick after a
  // short run ended, and a start then would replay the waveform the user meant to stop. Starts
  // still queued go with the press too.
  if (bt_waveform_start->text() == QLatin1String("STOP")) {
    stop_waveform();
  } else if (!apply_field_edits(tr("START"))) {
    return;
  } else if (!ne_waveform_repeat_count->check_text(ne_waveform_repeat_count->text()) ||
             !ne_waveform_repeat_count->text_acceptable()) {
    // An empty count would read as 0, which plays until stopped.
    // Pasted or dropped text skips the field's check; the device takes the count's low 16 bits,
    // so "-1" would play 65535 times.
    show_status_message(
        QStringLiteral("START refused: the repeat count must be a whole number from 0 to 65535."));
    ne_waveform_repeat_count->setFocus();
    ne_waveform_repeat_count->selectAll();
  } else if (update_waveform()) {
    command_queue->put(queue_start);
  }
}

void TForm1::stop_waveform() {
  command_queue->remove_all(queue_start);
  if (driver->is_running()) {
    command_queue->put(queue_stop);
  } else {
    bt_waveform_start->setText(QStringLiteral("START"));
    update_start_button();
  }
}

bool TForm1::update_waveform() {
  // The device plays what it was sent: nothing interrupts the run, a change is only counted.
  if (driver->is_running()) {
    if (!table_watch->pending())
      check_table_quietly();
    return false;
  }
  const int repeat = rounded_repeat_count();
  if (repeat != driver->repeat_count())
    sg_data->set_changed(true);
  driver->set_repeat_count(repeat);
  driver->compute_statistics(driver->sensor_value());
  show_statistics();

  if (sg_data->changed()) {
    std::vector<TWavePoint> points;
    table_points(*sg_data->grid(), points);
    driver->set_points(std::move(points));
    validate_waveform();
    waveform_notices->waveform_built();
    table_watch->settled();
  }

  if (!driver->data_error()) {
    setup_graph_axes();
    plot_waveform();
    sg_data->set_changed(false);
    return true;
  }

  const int kind = driver->error_type();
  if (kind == TQX5200Waveform::time_not_increasing) {
    // The table keeps its changed flag so the next update parses it again.
    waveform_valid_ = false;
    const int row = point_row(driver->error_index());
    const QModelIndex index = sg_data->model()->index(row - TQGridModel::fixed_rows, 0);
    if (index.isValid())
      sg_data->setCurrentIndex(index);
    // Selecting the row re-evaluates START; the table still cannot be sent.
    bt_waveform_start->setEnabled(false);
    // The error line follows at once, though nothing is plotted.
    show_statistics();
    say_waveform_error(this, time_error_text(), message_position());
    // The user is taken to the row to mend it.
    PageControl1->setCurrentIndex(page_data);
    return false;
  }
  setup_graph_axes();
  plot_waveform();
  sg_data->set_changed(false);
  waveform_valid_ = false;
  switch (kind) {
  case TQX5200Waveform::overflow: {
    // Nothing can be sent: the device would be started on a waveform it never got.
    driver->set_waveform_changed(true);
    const qint64 needed = driver->waveform().min_words_needed();
    const QString available = QLocale().toString(TQX5200Waveform::word_capacity);
    say_waveform_error(
        this,
        needed > TQX5200Waveform::word_capacity
            ? tr("Data Overflow: the waveform needs at least %1 words, the QX5200 holds %2.\n"
                 "Use fewer points or a shorter waveform.")
                  .arg(QLocale().toString(needed), available)
            : tr("Data Overflow: the waveform does not fit the %1 words the QX5200 holds; a level held "
                 "for longer than about 107 s cannot be played.\nUse a shorter waveform.")
                  .arg(available),
        message_position());
    break;
  }
  case TQX5200Waveform::max_power:
    say_waveform_error(this,
                       tr("Maximum Power Exceeded: the average power is %1, the load board allows %2.\n"
                          "A repeat count of 1 is not limited by the average power.")
                           .arg(engineering(driver->average_power(), QStringLiteral("W")),
                                engineering(driver->load_board().lb_max_power, QStringLiteral("W"))),
                       message_position());
    break;
  case TQX5200Waveform::max_p2t:
    say_waveform_error(this,
                       tr("Maximum P2t Exceeded: the waveform's P2t is %1, the load board allows %2.")
                           .arg(engineering(driver->p2t(), QStringLiteral("WWs")),
                                engineering(driver->load_board().lb_max_p2t, QStringLiteral("WWs"))),
                       message_position());
    break;
  default: break;
  }
  return false;
}

void TForm1::say_waveform_error(QWidget *parent, const QString &text, const QPoint &position) {
  if (!errors_said_)
    dialogs_->information(parent, text, position);
}

// The table row that holds point `index` of the driver's list: rows without a point are
// skipped, as they were when the list was made.
int TForm1::point_row(int index) const {
  const TQGridModel &table = *sg_data->grid();
  TWavePoint point;
  int found = -1;
  for (int r = TQGridModel::fixed_rows; r < table.row_count(); ++r)
    if (table_row_point(table, r, point) && ++found == index)
      return r;
  return index + TQGridModel::fixed_rows;
}

QString TForm1::time_text(long double seconds) {
  return FloatToEngineering(4, -9, -9, double(seconds), 1000000, QStringLiteral("s"));
}

QString TForm1::engineering(long double value, const QString &unit) {
  return FloatToEngineering(3, -6, -4, double(value), 1000000, unit);
}

// Names the table rows of the two points whose times do not increase, with their times.
QString TForm1::time_error_text() const {
  const int index = driver->error_index();
  const QString first = tr("Time Data Not Increasing");
  if (index <= 0 || index >= driver->data_count())
    return first + tr(": the first time is not a number of seconds at or after 0.");
  TWavePoint a, b;
  driver->get_point(index - 1, a);
  driver->get_point(index, b);
  return first + tr(": row %1 at %2 does not come after row %3 at %4.")
                     .arg(point_row(index))
                     .arg(time_text(b.time))
                     .arg(point_row(index - 1))
                     .arg(time_text(a.time));
}

void TForm1::check_table_quietly() {
  std::vector<TWavePoint> points;
  table_points(*sg_data->grid(), points);
  driver->set_repeat_count(rounded_repeat_count());
  driver->set_points(std::move(points));
  driver->build_waveform(driver->sensor_value());
  sg_data->set_changed(true);
  show_statistics();
  lb_data_points->setText(QString::number(driver->sampled_data_count()));
}

bool TForm1::validate_waveform() {
  driver->build_waveform(driver->sensor_value());
  if (driver->data_error()) {
    bt_waveform_start->setEnabled(false);
    waveform_valid_ = false;
    return false;
  }
  waveform_valid_ = true;
  return true;
}

void TForm1::refresh_waveform() {
  show_new_waveform();
  driver->set_repeat_count(rounded_repeat_count());
  // The points the driver holds are checked against the board that is there now.
  sg_data->set_changed(true);
  graph->ClearCurve(1);
  graph->ClearCurve(2);
  update_waveform();
  // Plotted once more from empty curves, so no point is drawn twice.
  graph->ClearCurve(1);
  graph->ClearCurve(2);
  plot_waveform();
  driver->set_waveform_changed(true);
}

void TForm1::start_waveform() {
  if (driver->over_temperature()) {
    qCInfo(lc_window) << "START refused: the load board is over temperature";
    return;
  }
  if (driver->waveform_changed())
    set_status_panel(4, QStringLiteral(" Loading Waveform"));
  // The driver clears waveform_changed only after a complete upload; a broken-off one is sent
  // again by the next start. A refused start leaves START as it is, so a second click cannot
  // turn a STOP caption into another start.
  TQX5200_DRIVER::TBoardCheck check = TQX5200_DRIVER::board_ok;
  if (!driver->start_for_inserted_board(check)) {
    qCInfo(lc_window) << "START not done: board check" << int(check) << "(0: no board trouble), data error"
                      << driver->data_error();
    if (check != TQX5200_DRIVER::board_ok)
      start_dropped(check);
    return;
  }
  show_running();
}

void TForm1::start_dropped(int check) {
  // The board is read again and the waveform rebuilt against it by this tick's status poll.
  load_board_ready_ = false;
  update_start_button();
  switch (check) {
  case TQX5200_DRIVER::board_none:
    show_status_message(QStringLiteral("START dropped: the waveform was not built for the load board now in. "
                                       "Press START again."));
    break;
  case TQX5200_DRIVER::board_changed:
    show_status_message(QStringLiteral("START dropped: the load board changed. Press START again."));
    break;
  default:
    show_status_message(QStringLiteral("START dropped: the QX5200 did not confirm its load board. "
                                       "Press START again."));
    break;
  }
}

void TForm1::show_running() {
  bt_waveform_start->setText(QStringLiteral("STOP"));
  set_start_enabled(true);
  timer->setInterval(interval_running);
}

// --- Graph and statistics ----------------------------------------------------------------------

QString TForm1::units() const {
  const QString &u = driver->load_board().lb_units;
  return u.isEmpty() ? QStringLiteral("V") : u;
}

void TForm1::setup_graph() {
  // The graph fills its page, 450 x 450 at the window's first size.
  if (!pn_graph->layout()) {
    auto *layout = new QVBoxLayout(pn_graph);
    layout->setContentsMargins(2, 1, 1, 1);
    layout->addWidget(graph);
  }
  graph->setMinimumSize(300, 300);
  graph->setVisible(true);
  SetupWaveformGraph(*graph);
}

void TForm1::setup_graph_axes() { SetWaveformAxes(*graph, driver->waveform(), units()); }

void TForm1::plot_waveform() {
  lb_data_points->setText(QString::number(PlotWaveform(*graph, driver->waveform(), units())));
  show_statistics();
}

QStringList TForm1::print_lines() const {
  const QString file = watched_file_name().isEmpty() ? QStringLiteral("(not saved)") : watched_file_name();
  return QStringList{file, QLocale().toString(QDateTime::currentDateTime(), QLocale::LongFormat)} +
         panel_lines(pn_statistics);
}

void TForm1::show_statistics() {
  const QString u = units();
  auto eng = [](int min_exp, int round_digit, long double value, const QString &unit) {
    return FloatToEngineering(3, min_exp, round_digit, double(value), 1000000, unit);
  };
  lb_energy->setText(eng(-6, -4, driver->energy(), QStringLiteral("J")));
  lb_p2t->setText(eng(-6, -4, driver->p2t(), QStringLiteral("WWs")));
  lb_average_power->setText(eng(-6, -4, driver->average_power(), QStringLiteral("W")));
  lb_pulse_average->setText(eng(-6, -4, driver->pulse_average(), u));
  lb_average->setText(eng(-6, -4, driver->average(), u));
  lb_max_dy->setText(eng(-6, -4, driver->max_dy(), u));
  lb_min_dy->setText(eng(-6, -4, driver->min_dy(), u));
  lb_max_dt->setText(eng(-9, -9, driver->max_dx(), QStringLiteral("s")));
  lb_min_dt->setText(eng(-9, -9, driver->min_dx(), QStringLiteral("s")));
  lb_max_dy_dt->setText(eng(-9, -9, driver->max_dy_dx() / 1000000, u + QStringLiteral("/us")));
  // Samples played at the board's limit; not known before its record is.
  lb_limited_samples->setText(load_board_ready_ ? QString::number(driver->waveform().limited_samples())
                                                : QString());
  // Without points the figures would be those of the waveform before.
  if (driver->data_error() && driver->error_type() == TQX5200Waveform::no_data)
    for (QLabel *figure : {lb_energy, lb_p2t, lb_average_power, lb_pulse_average, lb_average, lb_max_dy,
                           lb_min_dy, lb_max_dt, lb_min_dt, lb_max_dy_dt, lb_limited_samples})
      figure->clear();
  if (!driver->data_error()) {
    lb_status->setText(QStringLiteral("None"));
    return;
  }
  // In the order of TQX5200Waveform::ErrorType.
  static const char *const texts[] = {"No Data", "Time Data", "Overflow", "Max Power", "Max P2t"};
  static_assert(std::size(texts) == TQX5200Waveform::max_p2t + 1);
  const int kind = driver->error_type();
  if (kind >= TQX5200Waveform::no_data && kind <= TQX5200Waveform::max_p2t)
    lb_status->setText(QString::fromLatin1(texts[kind]));
  waveform_valid_ = false;
}

// --- The polling loop ----------------------------------------------------------------------------

void TForm1::timerTimer() {
  // Replies are awaited with the message loop running; the next tick must not start inside.
  timer->stop();

  if (!driver->is_running())
    file_watch->tick();

  if (!device_connected_) {
    driver->enumerate();
    if (driver->is_connected()) {
      qCInfo(lc_window) << "QX5200 found: start-up sequence";
      waiting_dots_ = 0;
      driver->query_run_state();
      driver->initialize();
      // Known from now on to the status other programs ask of the window, and to its lock file.
      quint16 serial = 0;
      QString revision;
      driver->read_serial_number(serial);
      driver->read_revision(revision);
      driver->read_status();
      if (driver->load_board_present()) {
        read_load_board();
        driver->set_output_normalized(0);
        // initialize read the record even if the device runs; without it the board is not known.
        load_board_ready_ = driver->board_record_current();
      }
      qCInfo(lc_window) << "connected; load board" << driver->load_board_present() << "record"
                        << load_board_ready_ << "running" << driver->is_running();
      timer->setInterval(interval_connected);
      device_connected_ = true;
      // The board arrived with the device: the waveform is checked and built against it.
      if (load_board_ready_ && !driver->is_running())
        refresh_waveform();
      enable_device_controls();
      if (!waveform_valid_)
        setup_graph_axes();
      // A device found running (re-plugged during an endless run) is stopped with STOP.
      if (driver->is_running())
        show_running();
    } else {
      timer->setInterval(interval_searching);
      device_lost();
    }
  } else if (driver->is_connected()) {
    dispatch_queued_command();
    if (!driver->query_run_state()) {
      qCInfo(lc_window) << "no answer to the run-state query: start-up again; still connected"
                        << driver->is_connected();
      device_connected_ = false;
      // Unplugged during this tick: nothing is left to start or stop.
      if (!driver->is_connected())
        device_lost();
    } else if (!driver->is_running()) {
      timer->setInterval(interval_idle);
      const bool run_ended = was_running_;
      was_running_ = false;
      if (driver->read_status()) {
        const bool present = driver->load_board_present();
        if (run_ended && driver->over_temperature())
          show_status_message(tr("The run ended early: the load board is over temperature."));
        else if (run_ended && load_board_ready_ && !present)
          show_status_message(tr("The run ended early: the load board was removed."));
        // A record no longer current means the board was seen gone, perhaps by the check before
        // a start: it is read again before anything is built for it.
        if (load_board_ready_ && (!present || !driver->board_record_current())) {
          load_board_ready_ = false;
          update_start_button();
          refresh_waveform();
        } else if (load_board_ready_) {
          if (waveform_valid_)
            update_start_button();
        } else if (present) {
          read_load_board();
          driver->set_output_value(0);
          load_board_ready_ = driver->board_record_current();
          refresh_waveform();
          enable_device_controls();
        }
      }
    } else {
      was_running_ = true;
      show_running();
      // A run must not hide a board that is not known: its status is read on every tick until
      // the record is in, so one lost or misread reply cannot hide it for a whole endless run.
      if (!load_board_ready_ && driver->read_status() && driver->load_board_present() &&
          driver->read_load_board_record()) {
        load_board_ready_ = true;
        refresh_waveform();
      }
    }
  } else {
    qCInfo(lc_window) << "QX5200 lost";
    device_lost();
  }

  update_status_bar();
  timer->start();
  emit tick_finished();
}

void TForm1::device_lost() {
  end_status_message(); // the panels say the device is gone
  load_board_ready_ = false;
  device_connected_ = false;
  disable_device_controls();
  bt_waveform_start->setText(QStringLiteral("START"));
}

void TForm1::dispatch_queued_command() {
  if (command_queue->is_empty()) {
    set_status_panel(4, QStringLiteral(" OK"));
    if (!driver->is_running()) {
      bt_waveform_start->setText(QStringLiteral("START"));
      update_start_button();
    }
    return;
  }
  const int code = command_queue->get().toInt();
  set_status_panel(4, QStringLiteral(" Sending Command"));
  switch (code) {
  case queue_stop: driver->stop_output(); break;
  case queue_start: start_waveform(); break;
  case queue_hardware: show_hardware_dialog(); break;
  default: break; // unknown requests are dropped
  }
}

QString TForm1::search_panel_text() {
  // A QX5200 is there but the system refuses to open it: say so rather than wait for ever.
  if (driver->hid()->permission_denied()) {
    waiting_dots_ = 0;
    return QStringLiteral(" QX5200: no permission");
  }
  // Another program holds it: the search goes on and connects once it lets go.
  if (driver->hid()->device_in_use()) {
    waiting_dots_ = 0;
    return QStringLiteral(" QX5200 in use");
  }
  if (waiting_dots_ > 3)
    waiting_dots_ = 0;
  const QString text = QStringLiteral(" Waiting For QX5200") + QStringLiteral(" .").repeated(waiting_dots_);
  ++waiting_dots_;
  return text;
}

void TForm1::average_sensor(double value) {
  // A jump upwards of more than a tenth refills every slot, so a rise shows at once.
  if (value != 0 && (value - sensor_average_) / value > 0.1)
    sensor_slots_.fill(value);
  sensor_slots_[std::size_t(sensor_slot_index_)] = value;
  sensor_slot_index_ = (sensor_slot_index_ + 1) % 4;
  double sum = 0;
  for (double slot : sensor_slots_)
    sum += slot;
  sensor_average_ = sum / 4;
}

void TForm1::update_status_bar() {
  QString p0, p1, p2, p3, p4;
  if (!device_connected_) {
    p0 = search_panel_text();
    p1 = QStringLiteral(" USB:----");
    p2 = QStringLiteral("----");
    p3 = QStringLiteral("----");
  } else {
    long double usb = 0;
    driver->read_usb_voltage(usb);
    if (usb > 0 && usb < 7) {
      p0 = QStringLiteral(" QX5200 Connected");
      p4 = QStringLiteral(" OK");
      p1 = QStringLiteral(" USB:") + float_to_fixed(usb, 3, 2) + u'V';
    }
    if (load_board_ready_) {
      average_sensor(double(driver->sensor_value()));
      const TLoadBoardRecord &lb = driver->load_board();
      p2 = lb.lb_name + u' ' + float_to_fixed(std::fabs(lb.lb_max_value), 3, 0) + lb.lb_units + u' ' +
           float_to_fixed(std::fabs(lb.lb_sensor_max), 3, 0) + lb.lb_sensor_units + QStringLiteral(" 1") +
           lb.lb_units + u'=' + float_to_fixed(std::fabs(lb.lb_monitor_gain), 4, 3) + lb.lb_sensor_units;
      if (driver->is_running()) {
        p3 = QStringLiteral("----");
        p2 = QStringLiteral("Waveform In Progress") + QStringLiteral(" .").repeated(progress_dots_ / 5);
        progress_dots_ = progress_dots_ >= 20 ? 0 : progress_dots_ + 1;
      } else {
        p3 = float_to_fixed(sensor_average_, 5, 2) + u'V' + u' ' +
             float_to_fixed(driver->temperature(), 2, 0) + u'C';
        progress_dots_ = 0;
      }
      if (driver->over_temperature())
        p3 += QStringLiteral(" Temp");
    } else {
      p2 = QStringLiteral("----");
      p3 = QStringLiteral("----");
    }
  }
  set_status_panel(0, p0);
  set_status_panel(3, p3);
  set_status_panel(4, p4);
  set_status_panel(1, p1);
  set_status_panel(2, p2);
}

void TForm1::set_status_panel(int panel, const QString &text) {
  status_panels[std::size_t(panel)]->setText(text);
  emit status_panel_written(panel, text);
}

void TForm1::read_load_board() {
  if (driver->load_board_present() && !driver->is_running())
    driver->read_load_board_record();
}

void TForm1::show_hardware_dialog() {
  dlg_hardware->move(frameGeometry().topLeft() + QPoint(50, 50));
  dialogs_->exec(*dlg_hardware);
  read_load_board();
  driver->set_output_normalized(0);
  driver->build_waveform(driver->sensor_value());
}

bool TForm1::driver_over_temperature() const { return driver->over_temperature(); }
