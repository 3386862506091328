#pragma once

#include <QWidget>

class QComboBox;
class QLabel;
class TNumEdit;

// Input of a physical quantity as a mantissa and an SI prefix: a caption, a number field and a
// list of prefixed units ("ns", "us", "ms", "s"). Its value is the mantissa times the prefix's
// power of ten.
class TEngineeringEdit : public QWidget {
  Q_OBJECT
public:
  explicit TEngineeringEdit(QWidget *parent = nullptr);

  int FirstBase() const { return first_base_; }
  void setFirstBase(int base);
  int LastBase() const { return last_base_; }
  void setLastBase(int base);
  QString Units() const { return units_; }
  void setUnits(const QString &units);
  // Index of the chosen prefix; 0 is FirstBase.
  int Exponent() const { return exponent_; }
  void setExponent(int index);

  double Value() const;
  // Chooses the prefix for x and writes the mantissa. A value whose prefix would lie below
  // FirstBase is ignored.
  void setValue(double x);

  // Typed text not yet taken as the value; see TNumEdit.
  bool edit_pending() const;
  bool apply_edit();
  bool text_acceptable() const;

  QString Text() const;
  void setText(const QString &text);
  bool AllowNegative() const { return allow_negative_; }
  void setAllowNegative(bool on);
  bool AllowLessThanOne() const { return allow_less_than_one_; }
  void setAllowLessThanOne(bool on);
  // Upper limit of Value; 0 means no limit.
  double MaxValue() const { return max_value_; }
  void setMaxValue(double v);

  bool Enabled() const { return enabled_; }
  // Enables the caption, the number field and the prefix list (the control itself stays as is).
  void SetEnabled(bool on);
  bool ShowCaption() const { return show_caption_; }
  void setShowCaption(bool on);
  QString Caption() const;
  void setCaption(const QString &caption);
  bool CaptionEnabled() const;
  void setCaptionEnabled(bool on);

  TNumEdit *number_field() const { return number_; }
  QComboBox *prefix_selector() const { return prefix_; }
  QLabel *caption_label() const { return caption_; }

  // Text of a prefix step (-5 "f" ... 5 "P"); empty outside that range.
  static QString prefix_for_step(int step);

signals:
  void OnValueChange();
  void OnChange();

private:
  void rebuild_prefix_list();
  void apply_limit();
  void write_value(double x, bool limit);
  void prefix_chosen(int index);
  double scale() const;

  QLabel *caption_ = nullptr;
  TNumEdit *number_ = nullptr;
  QComboBox *prefix_ = nullptr;
  int first_base_ = 0;
  int last_base_ = 0;
  QString units_;
  int exponent_ = 0;
  bool allow_negative_ = true;
  bool allow_less_than_one_ = true;
  double max_value_ = 0;
  bool enabled_ = true;
  bool show_caption_ = true;
};
