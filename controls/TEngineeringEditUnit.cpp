#include "TEngineeringEditUnit.h"

#include "NumberConversion.h"
#include "TNumEditUnit.h"

#include <QComboBox>
#include <QLabel>

#include <cmath>

namespace {
constexpr int kCaptionHeight = 15;
}

TEngineeringEdit::TEngineeringEdit(QWidget *parent) : QWidget(parent) {
  resize(100, 20);
  caption_ = new QLabel(QStringLiteral("Caption"), this);
  caption_->setGeometry(0, 0, 90, kCaptionHeight);

  number_ = new TNumEdit(this);
  number_->setGeometry(0, kCaptionHeight + 2, 40, 20);
  number_->setDataType(tReal);
  number_->setDigitCount(4);
  number_->setMaxDecimalPos(4);
  number_->setMaxValue(1000);
  number_->setAllowNegative(true);
  number_->setAllowLessThanOne(true);

  prefix_ = new QComboBox(this);
  prefix_->setGeometry(45, kCaptionHeight + 2, 45, 20);

  // A typed mantissa is held to MaxValue as a chosen prefix is: an empty field takes any first digit.
  connect(number_, &TNumEdit::OnValueChange, this, [this] {
    apply_limit();
    emit OnValueChange();
  });
  connect(number_, &QLineEdit::textChanged, this, &TEngineeringEdit::OnChange);
  connect(prefix_, &QComboBox::activated, this, &TEngineeringEdit::prefix_chosen);
  rebuild_prefix_list();
}

QString TEngineeringEdit::prefix_for_step(int step) {
  static const char *const prefixes[] = {"f", "p", "n", "u", "m", "", "k", "M", "G", "T", "P"};
  if (step < -5 || step > 5)
    return {};
  return QString::fromLatin1(prefixes[step + 5]);
}

void TEngineeringEdit::rebuild_prefix_list() {
  prefix_->clear();
  for (int step = first_base_; step <= last_base_; ++step)
    if (step >= -5 && step <= 5)
      prefix_->addItem(prefix_for_step(step) + units_);
  prefix_->setCurrentIndex(exponent_ < prefix_->count() ? exponent_ : -1);
}

void TEngineeringEdit::setFirstBase(int base) {
  first_base_ = base;
  rebuild_prefix_list();
}

void TEngineeringEdit::setLastBase(int base) {
  last_base_ = base;
  rebuild_prefix_list();
}

void TEngineeringEdit::setUnits(const QString &units) {
  units_ = units;
  rebuild_prefix_list();
}

void TEngineeringEdit::setExponent(int index) {
  exponent_ = index;
  prefix_->setCurrentIndex(index >= 0 && index < prefix_->count() ? index : -1);
}

double TEngineeringEdit::scale() const { return std::pow(10.0, 3 * (first_base_ + exponent_)); }

double TEngineeringEdit::Value() const { return number_->Value() * scale(); }

void TEngineeringEdit::setValue(double x) { write_value(x, true); }

void TEngineeringEdit::write_value(double x, bool limit) {
  if (!std::isfinite(x))
    return;
  const double b = std::fabs(x + 1e-20);
  int e = 0;
  if (x != 0) {
    // The decade is floor(log10 b). Taking trunc - 1 below one, as for values between powers of
    // ten, would put an exact power such as 0.001 (log10 exactly -3) one decade too low, where its
    // mantissa of 1000 does not fit the number field and the value would be lost.
    e = static_cast<int>(std::floor(std::log10(b)));
  }
  int p = e < 0 ? ((e + 1) / 3 - 1) * 3 : (e / 3) * 3;
  // A mantissa that the number field rounds up to 1000 (999.96 shown with four digits) is shown
  // as 1.000 of the next prefix: the field refuses "1000." and would keep its old text.
  long double shown = 0;
  if (text_to_real(number_->formatted(x / std::pow(10.0, p)), shown) && std::fabs(shown) >= 1000)
    p += 3;
  const int c = p / 3 - first_base_;
  if (c < 0)
    return;
  setExponent(c);
  number_->setMaxValue(1000);
  number_->setValue(x / std::pow(10.0, p));
  if (limit)
    apply_limit();
}

void TEngineeringEdit::apply_limit() {
  if (max_value_ == 0)
    return;
  // Lowering the value writes it once without a further limit pass: the mantissa read back
  // may differ from max_value_ in the last bit, which must not start the limit over again.
  if (Value() > max_value_)
    write_value(max_value_, false);
  const double s = scale();
  number_->setMaxValue(999.9999999999999 * s > max_value_ ? max_value_ / s : 999.99999999);
}

void TEngineeringEdit::setMaxValue(double v) {
  max_value_ = v;
  apply_limit();
}

void TEngineeringEdit::prefix_chosen(int index) {
  exponent_ = index;
  apply_limit();
  emit OnValueChange();
  emit OnChange();
}

bool TEngineeringEdit::edit_pending() const { return number_->edit_pending(); }

bool TEngineeringEdit::apply_edit() { return number_->apply_edit(); }

bool TEngineeringEdit::text_acceptable() const { return number_->text_acceptable(); }

QString TEngineeringEdit::Text() const { return number_->text(); }

void TEngineeringEdit::setText(const QString &text) { number_->setText(text); }

void TEngineeringEdit::setAllowNegative(bool on) {
  allow_negative_ = on;
  number_->setAllowNegative(on);
}

void TEngineeringEdit::setAllowLessThanOne(bool on) {
  allow_less_than_one_ = on;
  number_->setAllowLessThanOne(on);
}

void TEngineeringEdit::SetEnabled(bool on) {
  enabled_ = on;
  caption_->setEnabled(on);
  number_->setEnabled(on);
  prefix_->setEnabled(on);
}

void TEngineeringEdit::setShowCaption(bool on) {
  show_caption_ = on;
  caption_->setVisible(on);
}

QString TEngineeringEdit::Caption() const { return caption_->text(); }

void TEngineeringEdit::setCaption(const QString &caption) { caption_->setText(caption); }

bool TEngineeringEdit::CaptionEnabled() const { return caption_->isEnabled(); }

void TEngineeringEdit::setCaptionEnabled(bool on) { caption_->setEnabled(on); }
