#pragma once

// Stand-ins for the person in front of the graph: they answer its dialogs, its question and its
// popup menu.
#include "TAxisDlgUnit.h"
#include "TLabelDialogUnit.h"
#include "TQGraphUnit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QMenu>

#include <functional>

class FakeModals : public TGraphModals {
public:
  // What the person does in each dialog; without one the dialog is closed with its close box.
  std::function<void(TAxisDlg &)> axis;
  std::function<void(TLabelDialog &)> label;
  bool answer = true;
  QString asked_text;
  QString asked_caption;
  int popups = 0;
  int axis_shown = 0;
  int label_shown = 0;

  int ShowAxisDialog(TAxisDlg &d) override {
    ++axis_shown;
    d.FormShow();
    d.setResult(QDialog::Rejected);
    if (axis)
      axis(d);
    return d.result();
  }
  int ShowLabelDialog(TLabelDialog &d) override {
    ++label_shown;
    d.setResult(QDialog::Rejected);
    if (label)
      label(d);
    return d.result();
  }
  bool Confirm(QWidget *, const QString &text, const QString &caption) override {
    asked_text = text;
    asked_caption = caption;
    return answer;
  }
  void Inform(QWidget *, const QString &text, const QString &) override { informed << text; }
  QStringList informed;
  void Popup(QMenu &, const QPoint &) override { ++popups; }
};
