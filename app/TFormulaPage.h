#pragma once

#include "Formula.h"

#include <QWidget>

#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class TQGraph;
class TSettings;
class TQGridModel;
struct TLoadBoardRecord;

// The Formula page: a formula of t, its span and accuracy (or a count of evenly spaced points),
// a preview of the points it gives, and Use, which puts them into the point table.
//
// Like the Pulse Generator page it knows the window only through the table it writes, the
// UpdateWaveform signal and the load board source.
class TFormulaPage : public QWidget {
  Q_OBJECT
public:
  using LoadBoardSource = std::function<const TLoadBoardRecord *()>;

  explicit TFormulaPage(TQGridModel *table, QWidget *parent = nullptr);

  void set_load_board_source(LoadBoardSource source) { load_board_ = std::move(source); }
  // Brings back the entries these settings keep and keeps there those of every Preview or Use
  // that gives points from now on; nullptr keeps nothing.
  void remember_in(TSettings *settings);

  // Places the points and shows them, or the error (selecting its place in the expression).
  // Returns whether the formula gave points.
  bool preview();
  // preview, then the points replace the table and UpdateWaveform is emitted.
  bool use();
  const TFormulaResult &result() const { return result_; }

  struct Preset {
    const char *name, *expression, *end;
  };
  static const Preset presets[5];

  QComboBox *cb_formula_preset = nullptr;
  QLineEdit *le_formula_expression = nullptr;
  QLineEdit *le_formula_start = nullptr;
  QLineEdit *le_formula_end = nullptr;
  QLineEdit *le_formula_accuracy = nullptr;
  QSpinBox *sb_formula_points = nullptr;
  QPushButton *bt_formula_preview = nullptr;
  QPushButton *bt_formula_use = nullptr;
  QLabel *lb_formula_result = nullptr;
  TQGraph *gr_formula_preview = nullptr;

signals:
  // The table holds the formula's points: the window validates, plots and reports them.
  void UpdateWaveform();

private:
  void show_error(const TFormulaError &error, QLineEdit *field);
  void apply_preset(int index);

  TQGridModel *table_;
  LoadBoardSource load_board_;
  TFormulaResult result_;
  TSettings *settings_ = nullptr;
};
