#pragma once

#include "TQGraphType.h"

#include <QDialog>

#include <array>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class TColorBox;
class TNumEdit;

// "Graph Setup": edits a private copy of a graph's settings. The graph copies its settings in
// before showing it and reads them back afterwards unless the dialog was cancelled; the dialog
// never talks to the graph.
class TAxisDlg : public QDialog {
  Q_OBJECT
public:
  explicit TAxisDlg(QWidget *parent = nullptr);

  // The settings copy and the cancel flag the graph reads after the modal loop.
  TQGraphArea Settings;
  bool Cancelled = false;

  void FormShow();
  void LoadControls();
  void StoreControls();
  void OKBtnClick();
  void CancelBtnClick();
  void cbXAutoScaleClick();
  void cbYAutoScaleClick();
  void cbYAutoscale2Click();
  void cbXShowMajGridClick();
  void cbYShowMajGridClick();
  void cbXLogClick();
  void cbYLogClick();
  void edXUnitsChange();
  void edYUnitsChange();
  void edYUnitsChange2();

  QLineEdit *edTitle, *edSubTitle;

  QGroupBox *gbXAxis;
  QLineEdit *leXTitle, *edXUnits;
  TNumEdit *neXMin, *neXMax;
  QComboBox *cbXRange, *cbXDecimals, *cbXMajInc, *cbXMinInc;
  QCheckBox *cbXLog, *cbXAutoScale, *cbXDisplayUnits, *cbXShowMajGrid, *cbXShowMinGRid;

  QGroupBox *gbYAxis;
  QLineEdit *leYTitle, *edYUnits;
  TNumEdit *neYMin, *neYMax;
  QComboBox *cbYRange, *cbYDecimals, *cbYMajInc, *cbYMinInc, *cb_yaxis_line_width;
  QCheckBox *cbYLog, *cbYAutoScale, *cbYDisplayUnits, *cbYShowMajGrid, *cbYShowMinGrid;
  std::array<TColorBox *, kDataCurveCount + 1> cb_YColor{}; // [1..10]
  QCheckBox *cb_yShowPoints, *cb_YShowLines;

  QGroupBox *gbY2Axis;
  QLineEdit *leYTitle2, *edYUnits2;
  TNumEdit *neYMin2, *neYMax2;
  QComboBox *cbYRange2, *cbYDecimals2, *cb_y2axis_line_width;
  QCheckBox *cbYDisplayUnits2, *cbYAutoscale2, *cb_showY2Axis;
  std::array<TColorBox *, kDataCurveCount + 1> cb_Y2Color{}; // [1..10]
  QCheckBox *cb_Y2ShowPoints, *cb_Y2ShowLines;

  // Beside the divisions: the x, y and y2 ticks on whole steps of 1, 2 or 5 x 10^n.
  QCheckBox *cb_round_ticks;
  QPushButton *OKBtn, *CancelBtn;
  // Why OK was refused (a typed range whose Min is not below its Max); hidden otherwise.
  QLabel *lbRangeError;

protected:
  void showEvent(QShowEvent *event) override;
  void keyPressEvent(QKeyEvent *event) override;

private:
  // The Range drop-down: eight prefixes, each with the axis's stored unit; Range + 4 selected.
  static void FillRangeList(QComboBox *box, const TQAxis &axis);

  // y major and minor count positions as they were when y Log was checked.
  int remembered_maj_ = -1;
  int remembered_min_ = -1;
  bool remembered_ = false;
};
