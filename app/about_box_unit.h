#pragma once

#include <QDialog>

class QLabel;

// The about box: maker, product and the program's version.
class Tabout_box : public QDialog {
  Q_OBJECT
public:
  explicit Tabout_box(QWidget *parent = nullptr);

  QLabel *lb_version = nullptr;

protected:
  // Shows the version the program was built with, when it carries one.
  void showEvent(QShowEvent *event) override;
};
