#include "QX5200_unit.h"

#include "NumberConversion.h"
#include "TCircularBufferUnit.h"
#include "TNumEditUnit.h"
#include "TPulsePage.h"
#include "TQGridUnit.h"
#include "about_box_unit.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTimer>
#include <QVBoxLayout>

namespace {

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
};

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

TForm1::TForm1(QWidget *parent) : QMainWindow(parent), dialogs_(new TQtWindowDialogs) {
  build_layout();
  build_actions();
  // Owned objects in their order: the driver and the graph come first once they exist, then
  // the request queue, then the hardware information dialog.
  command_queue = new TCircularBuffer(this);
  about_box = new Tabout_box(this);
  qApp->installEventFilter(this);
  FormCreate();
}

TForm1::~TForm1() { qApp->removeEventFilter(this); }

void TForm1::set_dialogs(std::unique_ptr<TWindowDialogs> dialogs) { dialogs_ = std::move(dialogs); }

void TForm1::build_layout() {
  setWindowTitle(QStringLiteral("QX5200 Waveform Generator"));
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

  pn_arb_right = new QWidget(central);
  pn_arb_right->setObjectName(QStringLiteral("pn_arb_right"));
  pn_arb_right->setFixedWidth(135);
  auto *right = new QVBoxLayout(pn_arb_right);
  right->setContentsMargins(8, 24, 8, 4);
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
  auto *items = new QVBoxLayout(rg_data_separator);
  items->setSpacing(2);
  for (int i = 0; i < 4; ++i) {
    auto *button = new QRadioButton(QString::fromLatin1(separator_items[i].caption));
    rg_data_separator_items->addButton(button, i);
    items->addWidget(button);
  }
  rg_data_separator_items->button(0)->setChecked(true);
  connect(rg_data_separator_items, &QButtonGroup::idClicked, this, &TForm1::rg_data_separatorClick);
  right->addWidget(rg_data_separator);

  // The statistics labels go here.
  pn_statistics = new QWidget(pn_arb_right);
  pn_statistics->setObjectName(QStringLiteral("pn_statistics"));
  right->addWidget(pn_statistics, 1);

  row->addWidget(PageControl1, 1);
  row->addWidget(pn_arb_right);
  setCentralWidget(central);

  status_bar = new QStatusBar(this);
  status_bar->setObjectName(QStringLiteral("status_bar"));
  status_bar->setSizeGripEnabled(false);
  const int widths[5] = {130, 65, 160, 100, 50};
  for (int i = 0; i < 5; ++i) {
    status_panels[i] = new QLabel(status_bar);
    status_panels[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    if (i < 4)
      status_panels[i]->setFixedWidth(widths[i]);
    else
      status_panels[i]->setMinimumWidth(widths[i]);
    status_bar->addWidget(status_panels[i], i == 4 ? 1 : 0);
  }
  setStatusBar(status_bar);

  timer = new QTimer(this);
  timer->setInterval(500);
  connect(timer, &QTimer::timeout, this, &TForm1::timerTimer);
  timer->start();

  connect(PageControl1, &QTabWidget::currentChanged, this, &TForm1::PageControl1Change);
  connect(sg_data, &TQGrid::KeyPress, this, &TForm1::sg_dataKeyPress);
  connect(sg_data, &TQGrid::SelectCell, this, &TForm1::sg_dataSelectCell);
  connect(bt_waveform_start, &QPushButton::clicked, this, &TForm1::bt_waveform_startClick);
  connect(pulse_page, &TPulsePage::UpdateWaveform, this, [this] { update_waveform(); });
}

void TForm1::build_actions() {
  auto make = [this](QAction *&action, const char *text, const QKeySequence &keys,
                     void (TForm1::*handler)()) {
    action = new QAction(QString::fromLatin1(text), this);
    action->setShortcut(keys);
    connect(action, &QAction::triggered, this, handler);
  };
  make(ac_load_data, "Open", {}, &TForm1::ac_load_dataExecute);
  make(ac_data_save, "Save", {}, &TForm1::ac_data_saveExecute);
  make(ac_cut, "Cut", QKeySequence(Qt::CTRL | Qt::Key_X), &TForm1::ac_cutExecute);
  make(ac_copy, "Copy", QKeySequence(Qt::CTRL | Qt::Key_C), &TForm1::ac_copyExecute);
  make(ac_paste, "Paste", QKeySequence(Qt::CTRL | Qt::Key_V), &TForm1::ac_pasteExecute);
  make(ac_add, "Add", QKeySequence(Qt::CTRL | Qt::Key_A), &TForm1::ac_addExecute);
  make(ac_insert, "Insert", QKeySequence(Qt::CTRL | Qt::Key_I), &TForm1::ac_insertExecute);
  make(ac_clear, "Clear", QKeySequence(Qt::CTRL | Qt::Key_L), &TForm1::ac_clearExecute);
  make(ac_delete, "Delete", QKeySequence(Qt::CTRL | Qt::Key_D), &TForm1::ac_deleteExecute);
  make(ac_select_all, "Select All", QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_A),
       &TForm1::ac_select_allExecute);
  make(ac_delete_all, "Delete All", QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_D),
       &TForm1::ac_delete_allExecute);
  make(ac_hardware, "Information", {}, &TForm1::ac_hardwareExecute);
  make(HelpContents1, "Contents", {}, &TForm1::HelpContents1Execute);
  make(ac_about, "About", {}, &TForm1::ac_aboutExecute);

  QMenu *file = menuBar()->addMenu(QStringLiteral("File"));
  file->addAction(ac_load_data);
  file->addAction(ac_data_save);
  QMenu *edit = menuBar()->addMenu(QStringLiteral("Edit"));
  edit->addActions(edit_actions());
  QMenu *hardware = menuBar()->addMenu(QStringLiteral("Hardware"));
  hardware->addAction(ac_hardware);
  QMenu *help = menuBar()->addMenu(QStringLiteral("Help"));
  help->addAction(HelpContents1);
  help->addAction(ac_about);
  sg_data->addActions(edit_actions());

  // The menu bar lies outside the client area the layout is measured in.
  setFixedSize(client_width, client_height + menuBar()->sizeHint().height());
}

QList<QAction *> TForm1::edit_actions() const {
  return {ac_cut, ac_copy, ac_paste, ac_add, ac_insert, ac_clear, ac_delete, ac_select_all, ac_delete_all};
}

void TForm1::FormCreate() {
  file_watch_enabled_ = true;
  watched_file_name_.clear();
  watched_file_age_ = 0;
  waveform_valid_ = false;
  disable_device_controls();
  // setup_graph places and configures the graph here.
  PageControl1->setCurrentIndex(page_graph);
  // The hardware information dialog is given the driver here.
  ne_waveform_repeat_count->setValue(1);
  sg_data->set_cell(1, 0, QStringLiteral("Time"));
  sg_data->set_cell(2, 0, QStringLiteral("Value"));
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
  // The driver's repeat_count becomes 1 here.
}

bool TForm1::eventFilter(QObject *watched, QEvent *event) {
  // The window sees key presses before the control that has the focus.
  if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
    auto *widget = static_cast<QWidget *>(watched);
    const bool target =
        widget == QApplication::focusWidget() || (!QApplication::focusWidget() && widget == this);
    if (target && widget->window() == this) {
      const auto *key = static_cast<QKeyEvent *>(event);
      FormKeyDown(key->key(), key->modifiers());
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void TForm1::FormKeyDown(int key, Qt::KeyboardModifiers shift) {
  if (PageControl1->currentIndex() != page_graph)
    return;
  // The graph's own key handling (zoom and cursor keys) takes the key here.
  Q_UNUSED(key);
  Q_UNUSED(shift);
}

void TForm1::PageControl1Change(int index) {
  if (index == page_graph) {
    disable_edit_actions();
    update_waveform();
  } else {
    enable_edit_actions();
  }
}

void TForm1::sg_dataKeyPress() { sg_data->set_changed(true); }

void TForm1::sg_dataSelectCell() { update_start_button(); }

void TForm1::rg_data_separatorClick(int item) {
  if (item < 0 || item > 3)
    return;
  sg_data->set_data_separator(separator_items[item].separator);
  dialog_filters_ = data_separator_filters(item);
  dialog_default_ext_ = QString::fromLatin1(separator_items[item].default_ext);
}

void TForm1::bt_waveform_startClick() {
  // Queueing start (after update_waveform) and stop comes with the waveform engine and driver.
}

void TForm1::timerTimer() {
  timer->stop();
  // The polling loop runs here: device search and polling, one queued request, the file watch
  // and the status bar.
  timer->start();
}

bool TForm1::update_waveform() {
  // Copying the table into the driver, validating and plotting come with the waveform engine;
  // until then no table is validated.
  return false;
}

bool TForm1::driver_over_temperature() const {
  // Read from the driver once it exists; without a device nothing is over temperature.
  return false;
}

QPoint TForm1::message_position() const { return frameGeometry().topLeft() + QPoint(200, 200); }

qint64 TForm1::file_age(const QString &file_name) {
  const QFileInfo info(file_name);
  if (!info.exists())
    return -1;
  return info.lastModified().toMSecsSinceEpoch();
}

void TForm1::ac_load_dataExecute() {
  const QString name = dialogs_->open_file_name(this, dialog_filters_, dialog_default_ext_);
  if (!name.isEmpty())
    load_data_file(name);
}

void TForm1::load_data_file(const QString &file_name) {
  const qint64 age = file_age(file_name);
  const TGridFileResult result = sg_data->load_from_file(file_name);
  if (result.status == TGridFileResult::Failed) {
    // The table and the watch stay as they were.
    dialogs_->error(this, tr("The file \"%1\" could not be read: %2.\nThe table was not changed.")
                              .arg(QDir::toNativeSeparators(file_name), result.error));
    return;
  }
  watched_file_name_ = file_name;
  watched_file_age_ = age;
  sg_data->set_changed(true);
  update_waveform();
  // PULSE FILL-BACK (needs the driver): pulse_page->set_from_waveform(<driver's TQX5200Waveform>);
}

void TForm1::ac_data_saveExecute() {
  const QString name = dialogs_->save_file_name(this, dialog_filters_, dialog_default_ext_);
  if (name.isEmpty())
    return;
  const TGridFileResult result = sg_data->save_to_file(name);
  if (!result.ok()) {
    dialogs_->error(
        this,
        tr("The file \"%1\" could not be saved: %2.").arg(QDir::toNativeSeparators(name), result.error));
    return;
  }
  watched_file_name_ = name;
  watched_file_age_ = file_age(name);
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
                             "%2 characters were left out.")
                              .arg(TQGridModel::paste_limit)
                              .arg(result.dropped),
                          message_position());
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
  sg_data->select_all();
  sg_data->delete_selected_rows();
  sg_data->set_grid_selection({0, 0, 0, 0});
  update_start_button();
}

void TForm1::ac_hardwareExecute() { command_queue->put(227); }

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
  TQGridModel *table = sg_data->grid();
  for (int r = 1; r < table->row_count() && points < 2; ++r) {
    long double t = 0, v = 0;
    if (text_to_real(table->cell_view(1, r), t) && text_to_real(table->cell_view(2, r), v))
      ++points;
  }
  if (points >= 2)
    bt_waveform_start->setEnabled(!driver_over_temperature());
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
  bt_waveform_start->setEnabled(waveform_valid_);
  rg_data_separator->setEnabled(true);
  ac_hardware->setEnabled(true);
}

void TForm1::disable_device_controls() {
  bt_waveform_start->setEnabled(false);
  ac_hardware->setEnabled(false);
}
