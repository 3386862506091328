#pragma once

#include <QLineEdit>

enum TNumEditType { tInteger = 0, tReal = 1, tHex = 2, tGeneral = 3 };

// A single-line edit that only ever holds a number of one kind. Every typed character is
// checked against the text it would produce; the program's own writes go through the same check,
// except that a real field shows any value within its sign and MaxValue (see setValue).
// Pasted text and the Delete key pass no check, as in any edit field.
//
// In tReal and tGeneral fields the decimal point is the locale's separator: typing '.' or the
// separator inserts the separator.
class TNumEdit : public QLineEdit {
  Q_OBJECT
public:
  explicit TNumEdit(QWidget *parent = nullptr);

  // The text read as a number. Empty text and "-" read as 0. Text that does not parse as a whole
  // (a partial entry such as "1E", or pasted text) reads as its longest leading number, 0 when it
  // has none.
  double Value() const;
  // Formats v for the field's kind; stored only when the text passes the field's check. A real
  // field instead shows any value within its sign and MaxValue, even one with more integer digits
  // than the user may type, so that its text always reads back as v within DigitCount digits.
  // Returns whether the text now shows v; when not, the field keeps its text.
  bool setValue(double v);
  // The text a program write of v would show.
  QString formatted(double v) const;

  int DigitCount() const { return digit_count_; }
  void setDigitCount(int n) { digit_count_ = n; }
  int MaxDecimalPos() const { return max_decimal_pos_; }
  void setMaxDecimalPos(int n) { max_decimal_pos_ = n; }
  bool AllowLessThanOne() const { return allow_less_than_one_; }
  void setAllowLessThanOne(bool on) { allow_less_than_one_ = on; }
  bool AllowNegative() const { return allow_negative_; }
  void setAllowNegative(bool on) { allow_negative_ = on; }
  TNumEditType DataType() const { return data_type_; }
  void setDataType(TNumEditType t) { data_type_ = t; }
  double MaxValue() const { return max_value_; }
  void setMaxValue(double v) { max_value_ = v; }

  // Whether the user changed the text since it was last taken as the value (Enter, leaving the
  // field, apply_edit) or written by the program.
  bool edit_pending() const { return edit_pending_; }
  // Takes typed text as the value as Enter does, when an edit is pending. Text that is no number
  // of the field's kind is left pending, and the result is false.
  bool apply_edit();
  // Whether the text is wholly a number the field can take: not empty, of its kind and sign, and
  // for whole-number kinds within MaxValue.
  bool text_acceptable() const;

  // The candidate-text check of the field's kind, against the field's current text.
  bool check_text(const QString &candidate) const;
  // Whether `c` may be typed into a field of this kind (Backspace included).
  bool allowed_char(QChar c) const;

signals:
  // Raised when the user presses Enter in the field.
  void OnValueChange();
  // A typed character the field did not take, with the reason shown at the field.
  void Refused(const QString &why);

protected:
  void keyPressEvent(QKeyEvent *event) override;
  void focusOutEvent(QFocusEvent *event) override;

private:
  void handle_key(QKeyEvent *event);
  void refuse(QChar ch);

private:
  QChar point() const;
  bool magnitude_ok(const QString &s) const;
  QString real_text(double v) const;

  int digit_count_ = 0;
  int max_decimal_pos_ = 0;
  bool allow_less_than_one_ = false;
  bool allow_negative_ = false;
  TNumEditType data_type_ = tInteger;
  double max_value_ = 0;
  bool edit_pending_ = false;
};
