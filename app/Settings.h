#pragma once

#include <QObject>
#include <QRect>
#include <QSettings>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

struct TQGraphArea;
class QWidget;

// A file the window opened or saved, with the Data Separator item it was read with.
struct TRecentFile {
  QString path;
  int separator = 0;
  friend bool operator==(const TRecentFile &, const TRecentFile &) = default;
};

// What the program remembers between runs, as an INI file in the desktop's usual place
// ($XDG_CONFIG_HOME/qx5200/qx5200.conf). Never the table, nor anything that would start the
// device. Every value read back is checked: one that is missing, unreadable or out of range
// gives the default, and notice() says so in one line. A file written by a newer version is
// read as defaults and left untouched; an unreadable one is kept beside as ".broken".
class TSettings {
public:
  static constexpr int format_version = 1;
  static constexpr int recent_count = 8;
  static constexpr int separator_count = 5;
  enum TFolder { open_folder, save_folder, export_folder, run_log_folder, folder_count };

  explicit TSettings(const QString &file_name);
  static std::unique_ptr<TSettings> user();
  QString file_name() const { return store_.fileName(); }
  // One line for the status bar when something could not be used; empty otherwise.
  QString notice() const { return notice_; }

  int data_separator() const;
  void set_data_separator(int item);
  QString folder(TFolder kind) const;
  void set_folder(TFolder kind, const QString &folder);

  // Window: the normal (not maximised) geometry, and whether it was maximised.
  bool window_geometry(QRect &normal, bool &maximized) const;
  void set_window_geometry(const QRect &normal, bool maximized);

  // The last files, newest first, at most recent_count.
  QList<TRecentFile> recent_files() const;
  void set_recent_files(const QList<TRecentFile> &files);

  // The Graph Setup choices: titles, the axes' styles, divisions, digits, grids and units, the
  // curves' colours, points and lines, line widths, the y2 axis and rounded ticks. Ranges, the
  // zoom and the axis titles the waveform sets are not choices and are not kept.
  void load_graph(TQGraphArea &area) const;
  void store_graph(const TQGraphArea &area);

  // A short list a page keeps (its last entries), by name; at most 32 entries of 4096 characters.
  QStringList entries(const QString &list) const;
  void set_entries(const QString &list, const QStringList &values);
  // For a value a reader found unusable by its own rules: the notice names it as well.
  void note_unusable(const QString &key) const;

  // Everything back to the defaults.
  void reset();
  void sync() { store_.sync(); }

private:
  int read_int(const QString &key, int low, int high, int fallback) const;
  bool read_bool(const QString &key, bool fallback) const;
  QString read_text(const QString &key, int max_length) const;
  void write(const QString &key, const QVariant &value);
  void check_store();

  mutable QSettings store_;
  bool read_only_ = false;
  mutable QString notice_;
  mutable QStringList bad_keys_;
};

// Where a window with this saved geometry goes so that it can be seen: unchanged when enough of
// it lies on one of the screens, otherwise moved (and shrunk when larger) onto the first one.
QRect OnScreen(const QRect &saved, const QList<QRect> &screens);

// Puts a window where its settings say, brought onto a screen that is there now.
void restore_window_geometry(QWidget &window, const TSettings &settings);

// Writes the window's geometry into the settings it is given when the window closes.
class TWindowKeeper : public QObject {
public:
  TWindowKeeper(QWidget &window, std::function<TSettings *()> settings);

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  QWidget &window_;
  std::function<TSettings *()> settings_;
};
