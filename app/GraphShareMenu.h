#pragma once

#include <QDialog>
#include <QObject>
#include <QSize>
#include <QString>
#include <QStringList>

#include <functional>

class QAction;
class QPrinter;
class QSpinBox;
class TQGraph;

// The size of an exported PNG: width and height in screen pixels (the graph's on-screen size to
// start with) and its resolution.
class TGraphPictureDialog : public QDialog {
  Q_OBJECT
public:
  TGraphPictureDialog(QWidget *parent, QSize on_screen);
  QSize picture_size() const;
  int dpi() const;
  QSpinBox *width_box = nullptr;
  QSpinBox *height_box = nullptr;
  QSpinBox *dpi_box = nullptr;
};

// File > Export Graph..., File > Print... and Edit > Copy Graph (also in the graph's popup
// menu): the graph as other programs take it.
class TGraphShareMenu : public QObject {
  Q_OBJECT
public:
  struct THooks {
    // The file to write, empty when cancelled.
    std::function<QString()> ask_file;
    // Shows a dialog of the window modally (QDialog::Accepted or Rejected).
    std::function<int(QDialog &)> exec;
    std::function<void(const QString &)> error;
    // The lines printed under the graph.
    std::function<QStringList()> page_lines;
  };

  // The window puts the actions into its menus; Copy Graph goes into the graph's popup menu too.
  TGraphShareMenu(QWidget &window, TQGraph &graph, THooks hooks);

  QAction *export_action() const { return export_; }
  QAction *print_action() const { return print_; }
  QAction *copy_action() const { return copy_; }
  // The print dialog; false when cancelled. Replaceable for tests.
  std::function<bool(QPrinter &)> ask_printer;

  void export_graph();
  void print_graph();
  void copy_graph();

private:
  QWidget &window_;
  TQGraph &graph_;
  THooks hooks_;
  QAction *export_;
  QAction *print_;
  QAction *copy_;
};

// "Name value" for each row of a panel laid out as a grid of caption and value labels.
QStringList panel_lines(const QWidget *panel);
