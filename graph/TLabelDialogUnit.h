#pragma once

#include <QDialog>

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class TColorBox;

// The small modal editor of a graph label: text, sample-line colour and whether the line shows.
// It keeps whatever it last held between uses; nothing is cleared when it opens.
class TLabelDialog : public QDialog {
  Q_OBJECT
public:
  explicit TLabelDialog(QWidget *parent = nullptr);

  QString LabelText() const;
  void setLabelText(const QString &text);
  bool ShowLine() const;
  void setShowLine(bool on);
  int LineColor() const;
  void setLineColor(int color);

  QLabel *Label1;
  QFrame *Bevel1;
  QLineEdit *ed_label;
  TColorBox *cb_line_color;
  QCheckBox *cb_show_line;
  QPushButton *OKBtn;
  QPushButton *CancelBtn;
};
