#include "Settings.h"

#include "TQGraphType.h"

#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QStandardPaths>
#include <QWidget>

#include <algorithm>

namespace {

const char *const folder_keys[TSettings::folder_count] = {"folders/open", "folders/save", "folders/export",
                                                          "folders/run_log"};
constexpr int max_path = 4096;
constexpr int max_entries = 32;
// A window at least this much of which is on a screen can be grabbed and moved by the user.
constexpr int visible_part = 100;

struct AxisKey {
  const char *group;
  TQAxis TQGraphArea::*axis;
  bool own_divisions; // y2 shares the y axis's style, divisions and grid
};
const AxisKey axis_keys[] = {{"graph/x", &TQGraphArea::x, true},
                             {"graph/y", &TQGraphArea::y, true},
                             {"graph/y2", &TQGraphArea::y2, false}};

} // namespace

TSettings::TSettings(const QString &file_name) : store_(file_name, QSettings::IniFormat) { check_store(); }

std::unique_ptr<TSettings> TSettings::user() {
  return std::make_unique<TSettings>(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                                     QStringLiteral("/qx5200/qx5200.conf"));
}

void TSettings::check_store() {
  // The INI reader takes almost any text; a file without the version every write puts in was
  // not written by this program.
  const bool foreign = !store_.contains(QStringLiteral("version")) && QFileInfo(store_.fileName()).size() > 0;
  if (store_.status() == QSettings::FormatError || (foreign && store_.status() == QSettings::NoError)) {
    // Kept for the user to look at; the program starts from the defaults.
    const QString name = store_.fileName();
    QFile::remove(name + QStringLiteral(".broken"));
    QFile::rename(name, name + QStringLiteral(".broken"));
    store_.clear();
    notice_ = QStringLiteral("Settings file unreadable, kept as %1.broken: the defaults apply.").arg(name);
    return;
  }
  if (store_.status() == QSettings::AccessError) {
    read_only_ = true;
    notice_ = QStringLiteral("Settings file %1 cannot be read: the defaults apply.").arg(store_.fileName());
    return;
  }
  const QVariant version = store_.value(QStringLiteral("version"));
  bool ok = true;
  const int v = version.isValid() ? version.toString().toInt(&ok) : format_version;
  if (!ok || v > format_version || v < 1) {
    read_only_ = true;
    notice_ =
        ok && v > format_version
            ? QStringLiteral("Settings from a newer version of the program: the defaults apply, and the "
                             "file is left as it is.")
            : QStringLiteral("Settings file of an unknown version: the defaults apply, and the file is "
                             "left as it is.");
  }
}

int TSettings::read_int(const QString &key, int low, int high, int fallback) const {
  if (read_only_ || !store_.contains(key))
    return fallback;
  bool ok = false;
  const int v = store_.value(key).toString().trimmed().toInt(&ok);
  if (ok && v >= low && v <= high)
    return v;
  note_unusable(key);
  return fallback;
}

void TSettings::note_unusable(const QString &key) const {
  if (bad_keys_.contains(key))
    return;
  bad_keys_ << key;
  notice_ = QStringLiteral("Settings not usable, the defaults apply: %1.")
                .arg(bad_keys_.join(QStringLiteral(", ")));
}

bool TSettings::read_bool(const QString &key, bool fallback) const {
  return read_int(key, 0, 1, fallback ? 1 : 0) == 1;
}

QString TSettings::read_text(const QString &key, int max_length) const {
  if (read_only_ || !store_.contains(key))
    return {};
  const QString text = store_.value(key).toString();
  return text.size() <= max_length ? text : QString();
}

void TSettings::write(const QString &key, const QVariant &value) {
  if (read_only_)
    return;
  store_.setValue(QStringLiteral("version"), format_version);
  store_.setValue(key, value);
}

int TSettings::data_separator() const {
  return read_int(QStringLiteral("table/data_separator"), 0, separator_count - 1, 0);
}

void TSettings::set_data_separator(int item) { write(QStringLiteral("table/data_separator"), item); }

QString TSettings::folder(TFolder kind) const {
  const QString folder = read_text(QString::fromLatin1(folder_keys[kind]), max_path);
  return QFileInfo(folder).isDir() ? folder : QString();
}

void TSettings::set_folder(TFolder kind, const QString &folder) {
  write(QString::fromLatin1(folder_keys[kind]), folder);
}

bool TSettings::window_geometry(QRect &normal, bool &maximized) const {
  if (read_only_ || !store_.contains(QStringLiteral("window/width")))
    return false;
  constexpr int far = 1000000;
  const int x = read_int(QStringLiteral("window/x"), -far, far, 0);
  const int y = read_int(QStringLiteral("window/y"), -far, far, 0);
  const int w = read_int(QStringLiteral("window/width"), 100, far, -1);
  const int h = read_int(QStringLiteral("window/height"), 100, far, -1);
  maximized = read_bool(QStringLiteral("window/maximized"), false);
  if (w < 0 || h < 0)
    return false;
  normal = QRect(x, y, w, h);
  return true;
}

void TSettings::set_window_geometry(const QRect &normal, bool maximized) {
  write(QStringLiteral("window/x"), normal.x());
  write(QStringLiteral("window/y"), normal.y());
  write(QStringLiteral("window/width"), normal.width());
  write(QStringLiteral("window/height"), normal.height());
  write(QStringLiteral("window/maximized"), maximized ? 1 : 0);
}

QList<TRecentFile> TSettings::recent_files() const {
  QList<TRecentFile> files;
  for (int i = 0; i < recent_count; ++i) {
    const QString key = QStringLiteral("recent/%1").arg(i + 1);
    const QString path = read_text(key + QStringLiteral("/path"), max_path);
    if (path.isEmpty())
      continue;
    files.push_back({path, read_int(key + QStringLiteral("/separator"), 0, separator_count - 1, 0)});
  }
  return files;
}

void TSettings::set_recent_files(const QList<TRecentFile> &files) {
  if (read_only_)
    return;
  store_.remove(QStringLiteral("recent"));
  for (int i = 0; i < std::min<int>(int(files.size()), recent_count); ++i) {
    const QString key = QStringLiteral("recent/%1").arg(i + 1);
    write(key + QStringLiteral("/path"), files[i].path);
    write(key + QStringLiteral("/separator"), files[i].separator);
  }
}

void TSettings::load_graph(TQGraphArea &area) const {
  if (store_.contains(QStringLiteral("graph/title")))
    area.Title = read_text(QStringLiteral("graph/title"), 1000);
  if (store_.contains(QStringLiteral("graph/subtitle")))
    area.Subtitle = read_text(QStringLiteral("graph/subtitle"), 1000);
  area.showY2Axis = read_bool(QStringLiteral("graph/show_y2"), area.showY2Axis);
  area.round_ticks = read_bool(QStringLiteral("graph/round_ticks"), area.round_ticks);
  area.yLineWidth = read_int(QStringLiteral("graph/y_line_width"), 0, 10, area.yLineWidth);
  area.y2LineWidth = read_int(QStringLiteral("graph/y2_line_width"), 0, 10, area.y2LineWidth);
  for (const AxisKey &k : axis_keys) {
    TQAxis &axis = area.*k.axis;
    const QString g = QString::fromLatin1(k.group) + u'/';
    axis.DecimalCount = read_int(g + QStringLiteral("digits"), 0, 8, axis.DecimalCount);
    axis.ShowUnits = read_bool(g + QStringLiteral("show_units"), axis.ShowUnits);
    if (k.own_divisions) {
      axis.Style = read_bool(g + QStringLiteral("log"), axis.Style == Log) ? Log : Linear;
      axis.MajInc = read_int(g + QStringLiteral("major"), 1, 20, axis.MajInc);
      axis.MinInc = read_int(g + QStringLiteral("minor"), 1, 20, axis.MinInc);
      axis.show_major_grid = read_bool(g + QStringLiteral("major_grid"), axis.show_major_grid);
      axis.show_minor_grid = read_bool(g + QStringLiteral("minor_grid"), axis.show_minor_grid);
    }
    if (k.axis == &TQGraphArea::x)
      continue;
    for (int c = 1; c <= kDataCurveCount; ++c) {
      TCurveStyle &style = axis.curve[c];
      style.line_color = style.marker_color =
          read_int(g + QStringLiteral("color%1").arg(c), 0, 0xFFFFFF, style.line_color);
      style.show_points = read_bool(g + QStringLiteral("points"), style.show_points);
      style.show_lines = read_bool(g + QStringLiteral("lines"), style.show_lines);
    }
  }
}

void TSettings::store_graph(const TQGraphArea &area) {
  write(QStringLiteral("graph/title"), area.Title);
  write(QStringLiteral("graph/subtitle"), area.Subtitle);
  write(QStringLiteral("graph/show_y2"), int(area.showY2Axis));
  write(QStringLiteral("graph/round_ticks"), int(area.round_ticks));
  write(QStringLiteral("graph/y_line_width"), area.yLineWidth);
  write(QStringLiteral("graph/y2_line_width"), area.y2LineWidth);
  for (const AxisKey &k : axis_keys) {
    const TQAxis &axis = area.*k.axis;
    const QString g = QString::fromLatin1(k.group) + u'/';
    write(g + QStringLiteral("digits"), axis.DecimalCount);
    write(g + QStringLiteral("show_units"), int(axis.ShowUnits));
    if (k.own_divisions) {
      write(g + QStringLiteral("log"), int(axis.Style == Log));
      // A log axis's counts are the decades the data gives, not a choice.
      if (axis.Style != Log) {
        write(g + QStringLiteral("major"), axis.MajInc);
        write(g + QStringLiteral("minor"), axis.MinInc);
      }
      write(g + QStringLiteral("major_grid"), int(axis.show_major_grid));
      write(g + QStringLiteral("minor_grid"), int(axis.show_minor_grid));
    }
    if (k.axis == &TQGraphArea::x)
      continue;
    for (int c = 1; c <= kDataCurveCount; ++c)
      write(g + QStringLiteral("color%1").arg(c), axis.curve[c].line_color);
    // The setup dialog sets all ten curves from one box each.
    write(g + QStringLiteral("points"), int(axis.curve[1].show_points));
    write(g + QStringLiteral("lines"), int(axis.curve[1].show_lines));
  }
}

QStringList TSettings::entries(const QString &list) const {
  QStringList values;
  for (int i = 0; i < max_entries; ++i) {
    const QString key = QStringLiteral("entries/%1/%2").arg(list).arg(i + 1);
    if (read_only_ || !store_.contains(key))
      break;
    values << read_text(key, max_path);
  }
  return values;
}

void TSettings::set_entries(const QString &list, const QStringList &values) {
  if (read_only_)
    return;
  store_.remove(QStringLiteral("entries/") + list);
  for (int i = 0; i < std::min<int>(int(values.size()), max_entries); ++i)
    write(QStringLiteral("entries/%1/%2").arg(list).arg(i + 1), values[i].left(max_path));
}

void TSettings::reset() {
  store_.clear();
  store_.sync();
  read_only_ = false;
  notice_.clear();
  bad_keys_.clear();
}

QRect OnScreen(const QRect &saved, const QList<QRect> &screens) {
  if (screens.isEmpty())
    return saved;
  for (const QRect &screen : screens) {
    const QRect seen = screen.intersected(saved);
    if (seen.width() >= std::min(visible_part, saved.width()) &&
        seen.height() >= std::min(visible_part, saved.height()) && saved.top() >= screen.top())
      return saved;
  }
  const QRect &screen = screens.front();
  QRect moved(QPoint(), saved.size().boundedTo(screen.size()));
  moved.moveTo(std::clamp(saved.x(), screen.left(), screen.right() + 1 - moved.width()),
               std::clamp(saved.y(), screen.top(), screen.bottom() + 1 - moved.height()));
  return moved;
}

void restore_window_geometry(QWidget &window, const TSettings &settings) {
  QRect normal;
  bool maximized = false;
  if (!settings.window_geometry(normal, maximized))
    return;
  QList<QRect> screens;
  if (QScreen *primary = QGuiApplication::primaryScreen())
    screens << primary->availableGeometry();
  for (QScreen *screen : QGuiApplication::screens())
    if (screen != QGuiApplication::primaryScreen())
      screens << screen->availableGeometry();
  normal.setSize(normal.size().expandedTo(window.minimumSize()));
  window.setGeometry(OnScreen(normal, screens));
  if (maximized)
    window.setWindowState(window.windowState() | Qt::WindowMaximized);
}

TWindowKeeper::TWindowKeeper(QWidget &window, std::function<TSettings *()> settings)
    : QObject(&window), window_(window), settings_(std::move(settings)) {
  window.installEventFilter(this);
}

bool TWindowKeeper::eventFilter(QObject *watched, QEvent *event) {
  if (watched == &window_ && event->type() == QEvent::Close)
    if (TSettings *settings = settings_()) {
      const bool maximized = window_.isMaximized();
      settings->set_window_geometry(maximized ? window_.normalGeometry() : window_.geometry(), maximized);
      settings->sync();
    }
  return QObject::eventFilter(watched, event);
}
