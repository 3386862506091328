#pragma once

#include "HidBackend.h"
#include "WindowDialogs.h"

#include <QMainWindow>

#include <array>
#include <functional>
#include <memory>

class QAction;
class QButtonGroup;
class QDialog;
class QGroupBox;
class QLabel;
class QPushButton;
class QStatusBar;
class QTabWidget;
class QTimer;
class TCircularBuffer;
class TEngineeringEdit;
class TFormulaPage;
class TNumEdit;
class TPulsePage;
class TQGrid;
class TQGraph;
class TQX5200_DRIVER;
class TGraphShareMenu;
class TRecentFiles;
class TRunLogMenu;
class TSettings;
class TWaveformNotices;
class TTableChangeWatch;
struct TQGraphArea;
struct TRecentFile;
class Tabout_box;
class Tdlg_hardware;
enum class TGridStepKind;

// The main window: pages, menus and actions, the right-hand panel, the status bar and the
// timer. Key presses that no focused control uses reach the graph while its page is shown.
class TForm1 : public QMainWindow {
  Q_OBJECT
public:
  // The HID back end main chose (the Linux one, or the virtual QX5200's for --simulate) goes
  // down to the driver; an empty one finds no device (the window's tests without one).
  TForm1(QWidget *parent, std::unique_ptr<THidBackend> backend);
  ~TForm1() override;

  // Replaces the message boxes and file dialogs (tests).
  void set_dialogs(std::unique_ptr<TWindowDialogs> dialogs);
  TWindowDialogs &dialogs() const { return *dialogs_; }

  // Pages of PageControl1.
  enum { page_graph = 0, page_data = 1, page_pulse_generator = 2, page_formula = 3 };

  // The driver of the window's device. Unlike the window's other parts it is public: the program
  // start locks its device and the run log reads it.
  TQX5200_DRIVER *const driver;

  // Queue codes of the requests the timer tick carries out.
  enum : int { queue_stop = 27, queue_start = 225, queue_hardware = 227 };

  // The nine Edit actions, in menu order.
  QList<QAction *> edit_actions() const;

  // Watched data file (the one last opened or saved) and its file age when last read or written.
  QString watched_file_name() const { return watched_file_name_; }
  qint64 watched_file_age() const { return watched_file_age_; }
  // Filters and default extension both file dialogs get (set by the Data Separator choice).
  QStringList dialog_filters() const { return dialog_filters_; }
  QString dialog_default_ext() const { return dialog_default_ext_; }
  QString help_file_name() const { return help_file_name_; }

  void ac_undoExecute();
  void ac_redoExecute();
  void ac_load_dataExecute();
  void ac_data_saveExecute();
  void ac_export_pwlExecute();
  void ac_sort_rowsExecute();
  void ac_remove_repeated_rowsExecute();
  void ac_cutExecute();
  void ac_copyExecute();
  void ac_pasteExecute();
  void ac_addExecute();
  void ac_insertExecute();
  void ac_clearExecute();
  void ac_deleteExecute();
  void ac_select_allExecute();
  void ac_delete_allExecute();
  void ac_hardwareExecute();
  void close_window();
  void HelpContents1Execute();
  void ac_aboutExecute();
  void ac_reset_settingsExecute();

  // What the window remembers between runs (main gives the user's; without, nothing is kept).
  // The remembered values are applied at once. Not owned.
  void use_settings(TSettings *settings);
  TSettings *settings() const { return settings_; }
  // Runs a file dialog starting in the folder last used for its kind (TSettings::TFolder), and
  // remembers the folder of the file chosen.
  QString in_folder(int folder, const std::function<QString()> &ask);

  // Opens a SPICE PWL file by its ".pwl" extension, any other as a table file.
  void load_data_file(const QString &file_name);
  // Files dropped on the window: the first is opened, with the separator its extension chooses.
  void open_dropped_files(const QStringList &files);
  void open_dropped_file(const QString &file_name);
  // What follows a change of the table of this kind, made now or undone or redone.
  void after_table_change(TGridStepKind kind);

  // Sending, starting and stopping the waveform.
  void bt_waveform_startClick();
  // Copies the repeat count and (when the table changed) the points into the driver, validates,
  // plots and reports; true when the waveform may be started.
  bool update_waveform();
  bool validate_waveform();
  // Brings the driver's points and the statistics up to date with the table, with no plot, box or
  // page change; the table stays marked changed for the validation that shows them.
  void check_table_quietly();
  void refresh_waveform();
  void start_waveform();
  // What STOP does: starts still queued go, and a running device is stopped by the next tick.
  void stop_waveform();

  // Graph and statistics.
  void setup_graph();
  void setup_graph_axes();
  void plot_waveform();
  void show_statistics();
  // What a printed graph has under it: the file, the date and the statistics panel.
  QStringList print_lines() const;
  // The load board's units, "V" when the record names none.
  QString units() const;

  // The polling loop.
  void dispatch_queued_command();
  void update_status_bar();
  void read_load_board();
  void show_hardware_dialog();
  // Takes one sensor reading into the running average of the status bar.
  void average_sensor(double value);
  void set_status_panel(int panel, const QString &text);

  bool device_connected() const { return device_connected_; }
  bool load_board_ready() const { return load_board_ready_; }
  bool waveform_valid() const { return waveform_valid_; }
  void update_start_button();
  // Why START cannot be pressed now (its tooltip), empty when it can.
  QString start_blocked_reason() const;
  void show_status_message(const QString &text);
  // Takes every typed field value not yet taken before `action` reads the fields or the table;
  // false, with a notice and the field selected, when one holds text that is no value.
  bool apply_field_edits(const QString &action);
  void end_status_message();
  void enable_edit_actions();
  void disable_edit_actions();
  void enable_device_controls();
  void disable_device_controls();

  // The file age the watch compares: modification time in ms, -1 for a missing file.
  static qint64 file_age(const QString &file_name);

signals:
  // Every write of a status panel, including those the tick overwrites before it ends.
  void status_panel_written(int panel, const QString &text);
  // The end of each timer tick.
  void tick_finished();

protected:
  void keyPressEvent(QKeyEvent *event) override;

private:
  void build_layout();
  void build_actions();
  void FormCreate();
  bool FormKeyDown(int key, Qt::KeyboardModifiers shift);
  void PageControl1Change(int index);
  void sg_dataKeyPress();
  void sg_dataSelectCell();
  void sg_dataStepApplied(TGridStepKind kind, const QVariant &context);
  void rg_data_separatorClick(int item);
  // Checks a Data Separator item and applies it, as a click does.
  void select_data_separator(int item);
  void open_recent_file(const TRecentFile &file);
  // A file dialog starting in the folder last used for its kind (TSettings::TFolder).
  QString ask_file(int folder, bool save, const QStringList &filters, const QString &suffix);
  // Reports a repair of the table and, when it changed anything, brings the waveform up to date.
  void table_repaired(int count, const QString &message);
  void timerTimer();
  bool driver_over_temperature() const;
  int rounded_repeat_count() const;
  void device_lost();
  void set_start_enabled(bool wanted);
  // A new waveform (open, paste, Update Data, Delete All, a board change) is shown whole.
  void show_new_waveform();
  // `decimal`: the decimal separator the file's numbers were written with, when not the system's.
  // The box of a waveform error, unless the change's errors have been said before.
  void say_waveform_error(QWidget *parent, const QString &text, const QPoint &position);
  void report_empty_load(const QString &file_name, QChar decimal);
  // Writes the table to `name` (as SPICE PWL or as the separator's text); a failure is said.
  bool save_table(const QString &name, bool as_pwl);
  QString separator_name(int item) const;
  QString time_error_text() const;
  int point_row(int index) const;
  static QString engineering(long double value, const QString &unit);
  static QString time_text(long double seconds);
  void start_dropped(int check);
  void field_refused(TEngineeringEdit *field, const QString &action);
  void show_running();
  // Panel 0 while no device is connected.
  QString search_panel_text();
  void show_help(int context);
  QPoint message_position() const;

  // Controls, named as in the window layout. Each carries its name as its object name too (the
  // status panels are "status_panel0" to "status_panel4"): tests find them with findChild.
  QTabWidget *PageControl1 = nullptr;
  QWidget *pn_graph = nullptr;
  QWidget *pn_data = nullptr;
  QWidget *pn_pulse_generator = nullptr;
  TQGrid *sg_data = nullptr;
  TPulsePage *pulse_page = nullptr;
  QWidget *pn_formula = nullptr;
  TFormulaPage *formula_page = nullptr;
  QWidget *pn_arb_right = nullptr;
  QPushButton *bt_waveform_start = nullptr;
  QLabel *lb_repeat_count = nullptr;
  TNumEdit *ne_waveform_repeat_count = nullptr;
  QGroupBox *rg_data_separator = nullptr;
  QButtonGroup *rg_data_separator_items = nullptr;
  QWidget *pn_statistics = nullptr;
  QLabel *lb_data_points = nullptr;
  QLabel *lb_max_dy = nullptr;
  QLabel *lb_min_dy = nullptr;
  QLabel *lb_max_dt = nullptr;
  QLabel *lb_min_dt = nullptr;
  QLabel *lb_max_dy_dt = nullptr;
  QLabel *lb_average = nullptr;
  QLabel *lb_pulse_average = nullptr;
  QLabel *lb_average_power = nullptr;
  QLabel *lb_energy = nullptr;
  QLabel *lb_p2t = nullptr;
  QLabel *lb_limited_samples = nullptr;
  QLabel *lb_status = nullptr;
  QStatusBar *status_bar = nullptr;
  std::array<QLabel *, 5> status_panels{};
  // A notice beside the panels that the tick leaves alone; it clears itself after a while.
  QLabel *status_message = nullptr;
  QTimer *timer = nullptr;

  QAction *ac_undo = nullptr;
  QAction *ac_redo = nullptr;
  QAction *ac_load_data = nullptr;
  QAction *ac_data_save = nullptr;
  QAction *ac_quit = nullptr;
  QAction *ac_export_pwl = nullptr;
  QAction *ac_sort_rows = nullptr;
  QAction *ac_remove_repeated_rows = nullptr;
  QAction *ac_cut = nullptr;
  QAction *ac_copy = nullptr;
  QAction *ac_paste = nullptr;
  QAction *ac_add = nullptr;
  QAction *ac_insert = nullptr;
  QAction *ac_clear = nullptr;
  QAction *ac_delete = nullptr;
  QAction *ac_select_all = nullptr;
  QAction *ac_delete_all = nullptr;
  QAction *ac_hardware = nullptr;
  QAction *HelpContents1 = nullptr;
  QAction *ac_about = nullptr;
  QAction *ac_reset_settings = nullptr;

  // Owned objects, named likewise.
  TRunLogMenu *run_log = nullptr;
  TWaveformNotices *waveform_notices = nullptr;
  TTableChangeWatch *table_watch = nullptr;
  TGraphShareMenu *share_menu = nullptr;
  TRecentFiles *recent_files = nullptr;
  TSettings *settings_ = nullptr;
  // The graph's choices as the program sets them up, for Reset Settings.
  std::unique_ptr<TQGraphArea> graph_defaults_;
  TQGraph *graph = nullptr;
  TCircularBuffer *command_queue = nullptr;
  Tdlg_hardware *dlg_hardware = nullptr;
  Tabout_box *about_box = nullptr;

  std::unique_ptr<TWindowDialogs> dialogs_;
  QDialog *help_viewer_ = nullptr;

  bool file_watch_enabled_ = true;
  QString watched_file_name_;
  qint64 watched_file_age_ = 0;
  bool waveform_valid_ = false;
  bool errors_said_ = false;

  bool device_connected_ = false;
  bool load_board_ready_ = false;
  int waiting_dots_ = 0;
  std::array<double, 4> sensor_slots_{};
  int sensor_slot_index_ = 0;
  double sensor_average_ = 0.0;
  int progress_dots_ = 0;
  bool was_running_ = false;

  QStringList dialog_filters_;
  QString dialog_default_ext_;
  QString help_file_name_;
  QTimer *status_message_timer = nullptr;
};

// The file dialog filters of a Data Separator item, "Description (*.ext)" as Qt shows them.
QStringList data_separator_filters(int item);
