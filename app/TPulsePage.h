#pragma once

#include "TWavePoint.h"

#include <QByteArray>
#include <QImage>
#include <QPixmap>
#include <QString>
#include <QWidget>

#include <array>
#include <functional>
#include <span>

class QGroupBox;
class QLabel;
class QPushButton;
class TEngineeringEdit;
class TQGridModel;
class TQX5200Waveform;
struct TLoadBoardRecord;

// The Pulse Generator page: eight durations T1..T8 and three levels Y1..Y3 that become the nine
// corner points of a three-level pulse in the point table, under a picture of the pulse shape.
//
// The page knows the main window only through the table it writes, the UpdateWaveform signal
// and the load board source, so it can be built and tested on its own.
class TPulsePage : public QWidget {
  Q_OBJECT
public:
  // The load board record while a board is present, nullptr while none is.
  using LoadBoardSource = std::function<const TLoadBoardRecord *()>;

  explicit TPulsePage(TQGridModel *table, QWidget *parent = nullptr);

  void set_load_board_source(LoadBoardSource source) { load_board_ = std::move(source); }

  // Replaces the picture with the JPEG in `data`; damaged data leaves the panel empty. Returns
  // whether a picture is shown.
  bool set_picture_data(const QByteArray &data);
  bool picture_shown() const;

  // Takes what was typed into the fields and not yet taken, as Enter does. A field whose text is
  // no number stays as typed: the first such field is returned, nullptr when every edit is in.
  TEngineeringEdit *apply_pending_edits();
  // The notice that `action` was refused for `field`'s text; selects the field for mending.
  QString refuse_for(TEngineeringEdit *field, const QString &action);

  void Button1Click();
  void pulse_value_change();
  void build_pulse();

  // Sets the durations and levels from exactly nine points (any other count changes nothing)
  // through the fields' values, so no change notice runs and the table is not rewritten.
  // Returns whether the fields were set.
  bool set_from_points(std::span<const TWavePoint> points);
  bool set_from_waveform(const TQX5200Waveform &waveform);

  // The picture in the program's resources.
  static constexpr char picture_resource[] = ":/qx5200/resources/pulse.jpg";
  // Durations below this are raised to it on any value change.
  static constexpr double min_duration = 0.0000005;

  // Controls, named as in the window layout.
  QLabel *im_pulse = nullptr;
  QGroupBox *gb_pulse_time = nullptr;
  QGroupBox *gb_pulse_value = nullptr;
  TEngineeringEdit *ee_pulse_t1 = nullptr;
  TEngineeringEdit *ee_pulse_t2 = nullptr;
  TEngineeringEdit *ee_pulse_t3 = nullptr;
  TEngineeringEdit *ee_pulse_t4 = nullptr;
  TEngineeringEdit *ee_pulse_t5 = nullptr;
  TEngineeringEdit *ee_pulse_t6 = nullptr;
  TEngineeringEdit *ee_pulse_t7 = nullptr;
  TEngineeringEdit *ee_pulse_t8 = nullptr;
  TEngineeringEdit *ee_pulse_y1 = nullptr;
  TEngineeringEdit *ee_pulse_y2 = nullptr;
  TEngineeringEdit *ee_pulse_y3 = nullptr;
  QPushButton *Button1 = nullptr;

  std::array<TEngineeringEdit *, 8> durations() const;
  std::array<TEngineeringEdit *, 3> levels() const;

signals:
  // The table holds a new pulse: the window validates, plots and reports it.
  void UpdateWaveform();
  // "Update Data" found a field whose text is no number.
  void EditRefused(TEngineeringEdit *field, const QString &action);

protected:
  void showEvent(QShowEvent *event) override;

private:
  void apply_load_board_limits();
  void show_picture();

  TQGridModel *table_;
  LoadBoardSource load_board_;
  QImage picture_;
};

// A table number: 15 significant digits in the locale's separator, always in plain decimals.
QString pulse_number_text(double value, QChar separator);

// The picture for a screen of this device pixel ratio: smoothly resampled to the screen's pixels,
// so a scaled screen shows no blocky or blurred bitmap.
QPixmap picture_for_ratio(const QImage &image, qreal ratio);
