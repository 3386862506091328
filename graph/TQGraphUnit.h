#pragma once

#include "TQGraphType.h"

#include <QImage>
#include <QWidget>

#include <array>

class QAction;
class QMenu;
class QPainter;
class TAxisDlg;
class TLabelDialog;

// The modal parts of the graph: its two dialogs, the delete question and the popup menu. The
// graph goes through this interface so that tests can answer in place of a person.
class TGraphModals {
public:
  virtual ~TGraphModals() = default;
  // Shows the dialog modally; returns QDialog::Accepted or QDialog::Rejected.
  virtual int ShowAxisDialog(TAxisDlg &dialog);
  virtual int ShowLabelDialog(TLabelDialog &dialog);
  // An OK/Cancel question; true for OK.
  virtual bool Confirm(QWidget *owner, const QString &text, const QString &caption);
  // A message with an OK button.
  virtual void Inform(QWidget *owner, const QString &text, const QString &caption);
  virtual void Popup(QMenu &menu, const QPoint &global_position);
};

// Popup menu items, in menu order.
enum TGraphMenuItem {
  miGraphSetup = 0,
  miAddLabel,
  miEditLabel,
  miDeleteLabel,
  miLinearCurveFit,
  miRemoveCurveFit,
  miDeleteCurve,
  miDeselectData,
  miZoomToFit,
  miZoomOut,
  kGraphMenuItems
};

// The canvas font ("ARIAL", resolved to a metric-compatible face) at a point size, as drawn on
// the back buffer, and text sizes measured in it.
QFont GraphFont(int size);
const TTextMeasure &GraphTextMeasure();

// The program's chart control: fifteen curves against x, y and y2 axes. Every frame is rendered
// completely into a back buffer and copied to the screen in one operation.
class TQGraph : public QWidget {
  Q_OBJECT
public:
  explicit TQGraph(QWidget *parent = nullptr);
  ~TQGraph() override;

  // Owner operations; curve numbers are 1-based. None of them redraws.
  void AddPoint(int curve, double x, double y, double y2);
  void ClearCurve(int curve);
  void SetYCurveColors(int curve, int line_color, int marker_color);
  void SetY2CurveColors(int curve, int line_color, int marker_color);
  void SetCurvePointsVisible(int curve, bool points_on_y, bool points_on_y2);
  // Renders the whole frame and puts it on the screen at once.
  void Redraw();

  // Published properties. Setters marked (R) redraw.
  QString Title() const { return area_.Title; }
  void setTitle(const QString &v) { set_redraw(area_.Title, v); } // (R)
  QString Subtitle() const { return area_.Subtitle; }
  void setSubtitle(const QString &v) { set_redraw(area_.Subtitle, v); } // (R)
  int TitleFontSize() const { return area_.TitleFontSize; }
  void setTitleFontSize(int v) { area_.TitleFontSize = v; }
  int SubtitleFontSize() const { return area_.SubtitleFontSize; }
  void setSubtitleFontSize(int v) { area_.SubtitleFontSize = v; }
  QFont TitleFont() const { return area_.TitleFont; }
  void setTitleFont(const QFont &v) { area_.TitleFont = v; }
  QFont SubTitleFont() const { return area_.SubTitleFont; }
  void setSubTitleFont(const QFont &v) { area_.SubTitleFont = v; }
  int TitleAlign() const { return area_.TitleAlign; }
  void setTitleAlign(int v) { area_.TitleAlign = v; }
  int SubTitleAlign() const { return area_.SubTitleAlign; }
  void setSubTitleAlign(int v) { area_.SubTitleAlign = static_cast<quint8>(v); }

  QString xTitle() const { return area_.x.Title; }
  void setXTitle(const QString &v) { set_redraw(area_.x.Title, v); } // (R)
  QString yTitle() const { return area_.y.Title; }
  void setYTitle(const QString &v) { set_redraw(area_.y.Title, v); } // (R)
  QString y2Title() const { return area_.y2.Title; }
  void setY2Title(const QString &v) { set_redraw(area_.y2.Title, v); } // (R)
  QString xUnits() const { return area_.x.Units; }
  void setXUnits(const QString &v) { set_redraw(area_.x.Units, v); } // (R)
  QString yUnits() const { return area_.y.Units; }
  void setYUnits(const QString &v) { set_redraw(area_.y.Units, v); } // (R)
  QString y2Units() const { return area_.y2.Units; }
  void setY2Units(const QString &v) { set_redraw(area_.y2.Units, v); } // (R)
  bool xShowUnits() const { return area_.x.ShowUnits; }
  void setXShowUnits(bool v) { set_redraw(area_.x.ShowUnits, quint8(v)); } // (R)
  bool yShowUnits() const { return area_.y.ShowUnits; }
  void setYShowUnits(bool v) { set_redraw(area_.y.ShowUnits, quint8(v)); } // (R)
  bool y2ShowUnits() const { return area_.y2.ShowUnits; }
  void setY2ShowUnits(bool v) { set_redraw(area_.y2.ShowUnits, quint8(v)); } // (R)
  int xRange() const { return area_.x.Range; }
  void setXRange(int v) { set_redraw(area_.x.Range, v); } // (R)
  int yRange() const { return area_.y.Range; }
  void setYRange(int v) { set_redraw(area_.y.Range, v); } // (R)
  int y2Range() const { return area_.y2.Range; }
  void setY2Range(int v) { set_redraw(area_.y2.Range, v); } // (R)
  double xMaxVal() const { return area_.x.MaxVal; }
  void setXMaxVal(double v) { set_redraw(area_.x.MaxVal, v); } // (R)
  double xMinVal() const { return area_.x.MinVal; }
  void setXMinVal(double v) { set_redraw(area_.x.MinVal, v); } // (R)
  double yMaxVal() const { return area_.y.MaxVal; }
  void setYMaxVal(double v) { set_redraw(area_.y.MaxVal, v); } // (R)
  double yMinVal() const { return area_.y.MinVal; }
  void setYMinVal(double v) { set_redraw(area_.y.MinVal, v); } // (R)
  double y2MaxVal() const { return area_.y2.MaxVal; }
  void setY2MaxVal(double v) { set_redraw(area_.y2.MaxVal, v); } // (R)
  double y2MinVal() const { return area_.y2.MinVal; }
  void setY2MinVal(double v) { set_redraw(area_.y2.MinVal, v); } // (R)
  int xMajInc() const { return area_.x.MajInc; }
  void setXMajInc(int v) { set_redraw(area_.x.MajInc, v); } // (R)
  int yMajInc() const { return area_.y.MajInc; }
  void setYMajInc(int v) { set_redraw(area_.y.MajInc, v); } // (R)
  int xMinInc() const { return area_.x.MinInc; }
  void setXMinInc(int v) { set_redraw(area_.x.MinInc, v); } // (R)
  int yMinInc() const { return area_.y.MinInc; }
  void setYMinInc(int v) { set_redraw(area_.y.MinInc, v); } // (R)
  TQAxisStyle xStyle() const { return area_.x.Style; }
  void setXStyle(TQAxisStyle v) { set_redraw(area_.x.Style, v); } // (R)
  TQAxisStyle yStyle() const { return area_.y.Style; }
  void setYStyle(TQAxisStyle v) { set_redraw(area_.y.Style, v); } // (R)
  TQAxisStyle y2Style() const { return area_.y2.Style; }
  void setY2Style(TQAxisStyle v) { set_redraw(area_.y2.Style, v); } // (R)
  int xDecimalCount() const { return area_.x.DecimalCount; }
  void setXDecimalCount(int v) { set_redraw(area_.x.DecimalCount, v); } // (R)
  int yDecimalCount() const { return area_.y.DecimalCount; }
  void setYDecimalCount(int v) { set_redraw(area_.y.DecimalCount, v); } // (R)
  int y2DecimalCount() const { return area_.y2.DecimalCount; }
  void setY2DecimalCount(int v) { set_redraw(area_.y2.DecimalCount, v); } // (R)
  bool xAutoRange() const { return area_.x.AutoRange; }
  void setXAutoRange(bool v) { area_.x.AutoRange = v; }
  bool yAutoRange() const { return area_.y.AutoRange; }
  void setYAutoRange(bool v) { set_redraw(area_.y.AutoRange, quint8(v)); } // (R)
  bool y2AutoRange() const { return area_.y2.AutoRange; }
  void setY2AutoRange(bool v) { set_redraw(area_.y2.AutoRange, quint8(v)); } // (R)
  int xTitleFontSize() const { return area_.x.TitleFontSize; }
  void setXTitleFontSize(int v) { area_.x.TitleFontSize = v; }
  int yTitleFontSize() const { return area_.y.TitleFontSize; }
  void setYTitleFontSize(int v) { area_.y.TitleFontSize = v; }
  int y2TitleFontSize() const { return area_.y2.TitleFontSize; }
  void setY2TitleFontSize(int v) { area_.y2.TitleFontSize = v; }
  int yLineWidth() const { return area_.yLineWidth; }
  void setYLineWidth(int v) { area_.yLineWidth = v; }
  int y2LineWidth() const { return area_.y2LineWidth; }
  void setY2LineWidth(int v) { area_.y2LineWidth = v; }
  bool showY2Axis() const { return area_.showY2Axis; }
  void setShowY2Axis(bool v) { set_redraw(area_.showY2Axis, quint8(v)); } // (R)
  TAlign Align() const { return align_; }
  void setAlign(TAlign v) { align_ = v; }

  // Inside view, for the owner's dialogs and for tests.
  const TQGraphArea &GraphArea() const { return area_; }
  TQGraphArea &GraphArea() { return area_; }
  const TCurve &Curve(int n) const { return curves_[n]; }
  const TCurves &Curves() const { return curves_; }
  std::vector<TQLabel> &Labels() { return labels_; }
  // The frame as rendered; on a scaled screen it has devicePixelRatio() times the pixels of
  // CanvasSize(), the size in screen pixels the frame is laid out for.
  const QImage &BackBuffer() const { return back_buffer_; }
  QSize CanvasSize() const { return buffer_size_; }
  int SampleLineLength() const { return scaling_.sample_line_length; }

  // The whole frame: ranges, layout, background, then every layer.
  void RenderGraph();
  // The same frame on another device (a picture file, the printer), `size` in screen pixels
  // (empty: the size on screen); the painter's scale maps them onto the device. What the screen
  // shows is left as it was.
  void RenderTo(QPainter &p, QSize size = {});

  // Interaction. The owner forwards here the key presses no focused control used while the
  // graph's page is active. True when the key was one of the graph's.
  bool KeyDown(int key, Qt::KeyboardModifiers modifiers);
  QString MouseDataString() const;
  bool HitTestData(int x, int y, TMouseData &hit) const;
  void SelectInBox(bool additive);
  TGraphRect LabelRect(const TQLabel &label) const;

  // Commands of the popup menu.
  void GraphSetup();
  void AddLabel();
  void EditLabel();
  void DeleteLabel();
  void LinearCurveFit();
  void RemoveCurveFit();
  void DeleteCurve();
  void DeselectData();
  void ZoomOut();
  void ZoomToFit();
  // For a new waveform: back to the whole data, without the old selection, fits and read-out.
  // Labels the user placed stay.
  void ShowWhole();

  QMenu *PopupMenu() const { return menu_; }
  QAction *MenuItem(TGraphMenuItem item) const { return items_[item]; }
  TAxisDlg &AxisDialog() const { return *axis_dialog_; }
  // The label editor, made on first use.
  TLabelDialog &LabelDialog();
  // Replaces the modal parts (nullptr restores the real ones). Not owned.
  void setModals(TGraphModals *modals);
  int FitCount() const { return fit_count_; }
  bool DataSelected() const { return data_selected_; }
  bool ReadOutVisible() const { return readout_visible_; }
  bool ReadOutFrozen() const { return readout_frozen_; }

signals:
  void OnMouseOverData(TQGraph *sender);
  void OnMouseExitData(TQGraph *sender);
  // The Graph Setup dialog was left with OK.
  void GraphSetupChanged();
  // Asks the owner to delete a data curve (1..10); the graph itself removes nothing.
  void OnDeleteCurve(int curve);

protected:
  void paintEvent(QPaintEvent *event) override;
  void resizeEvent(QResizeEvent *event) override;
  void keyPressEvent(QKeyEvent *event) override;
  void mousePressEvent(QMouseEvent *event) override;
  void mouseMoveEvent(QMouseEvent *event) override;
  void mouseReleaseEvent(QMouseEvent *event) override;
  void mouseDoubleClickEvent(QMouseEvent *event) override;
  // The wheel zooms x about the cursor (with Ctrl, y); a middle-button drag pans.
  void wheelEvent(QWheelEvent *event) override;

private:
  template <class T, class V> void set_redraw(T &field, const V &value) {
    field = value;
    Redraw();
  }
  // Layers 3..9 of a frame, drawn over what the buffer holds.
  void paint_layers(QPainter &p);
  void draw_grid(QPainter &p);
  // lines_only: the pass over the frame, which leaves the markers on the edge cut in half.
  void draw_curves(QPainter &p, bool lines_only = false);
  void draw_margin_bands(QPainter &p);
  void draw_y_axis(QPainter &p);
  void draw_x_axis(QPainter &p);
  void draw_titles(QPainter &p);
  void draw_overlay(QPainter &p);
  void layout();
  void apply_align();
  void hide_readout();
  bool any_point_selected() const;
  void fit();
  void draw_band(QPainter &p, bool erase);
  // Copies the back buffer to the screen without rendering it again.
  void show_frame();
  void create_menu();

  TQGraphArea area_;
  TCurves curves_;
  std::vector<TQLabel> labels_;
  QImage back_buffer_;
  QSize buffer_size_;
  TGraphScaling scaling_;
  TAlign align_ = alNone;
  bool never_had_data_ = true;
  bool frame_ready_ = false;
  bool in_align_ = false;
  // The device being drawn on: its size in screen pixels, and whether it keeps vectors.
  QSize canvas_;
  bool vector_output_ = false;

  // Interaction state.
  TGraphModals *modals_;
  TAxisDlg *axis_dialog_ = nullptr;
  TLabelDialog *label_dialog_ = nullptr;
  QMenu *menu_ = nullptr;
  std::array<QAction *, kGraphMenuItems> items_{};
  QPoint last_mouse_;
  int clicked_label_ = -1;
  bool dragging_labels_ = false;
  bool rubber_band_ = false;
  TGraphRect band_;
  bool data_selected_ = false;
  QPoint readout_position_;
  QString readout_text_;
  bool readout_visible_ = false;
  bool readout_frozen_ = false;
  int fit_count_ = 0;
  int hovered_curve_ = 0;
  bool zoomed_ = false;
  bool panning_ = false;
  void set_zoomed();
  TMouseData mouse_data_;
};
