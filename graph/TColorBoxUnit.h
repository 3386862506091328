#pragma once

#include <QComboBox>

// A drop-down of the sixteen standard colours. Colours are 0x00BBGGRR values; a colour that is
// not among the standard ones is shown as an extra "Custom" entry so it survives a round trip.
class TColorBox : public QComboBox {
  Q_OBJECT
public:
  explicit TColorBox(QWidget *parent = nullptr);

  int Selected() const;
  void setSelected(int color);
};
