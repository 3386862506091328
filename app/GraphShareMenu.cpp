#include "GraphShareMenu.h"

#include "GraphExport.h"
#include "TQGraphUnit.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QMenu>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QSpinBox>

namespace {
// Large enough for a poster, small enough to stay in memory: 20000 px at 96 dpi.
constexpr int kMaxPictureSide = 20000;
} // namespace

TGraphPictureDialog::TGraphPictureDialog(QWidget *parent, QSize on_screen) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Export Graph"));
  auto *form = new QFormLayout(this);
  auto box = [this](const char *name, int low, int high, int value) {
    auto *spin = new QSpinBox(this);
    spin->setObjectName(QString::fromLatin1(name));
    spin->setRange(low, high);
    spin->setValue(value);
    return spin;
  };
  width_box = box("width_box", 50, kMaxPictureSide, on_screen.width());
  height_box = box("height_box", 50, kMaxPictureSide, on_screen.height());
  dpi_box = box("dpi_box", 48, 1200, 96);
  form->addRow(QStringLiteral("Width (screen pixels)"), width_box);
  form->addRow(QStringLiteral("Height (screen pixels)"), height_box);
  form->addRow(QStringLiteral("Resolution (dpi)"), dpi_box);
  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  QPushButton *screen = buttons->addButton(QStringLiteral("Size on Screen"), QDialogButtonBox::ResetRole);
  connect(screen, &QPushButton::clicked, this, [this, on_screen] {
    width_box->setValue(on_screen.width());
    height_box->setValue(on_screen.height());
    dpi_box->setValue(96);
  });
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  form->addRow(buttons);
}

QSize TGraphPictureDialog::picture_size() const { return {width_box->value(), height_box->value()}; }

int TGraphPictureDialog::dpi() const { return dpi_box->value(); }

TGraphShareMenu::TGraphShareMenu(QWidget &window, TQGraph &graph, THooks hooks)
    : QObject(&window), window_(window), graph_(graph), hooks_(std::move(hooks)),
      export_(new QAction(QStringLiteral("Export &Graph..."), &window)),
      print_(new QAction(QStringLiteral("&Print..."), &window)),
      copy_(new QAction(QStringLiteral("Copy &Graph"), &window)) {
  export_->setObjectName(QStringLiteral("ac_export_graph"));
  print_->setObjectName(QStringLiteral("ac_print"));
  print_->setShortcut(QKeySequence::Print);
  copy_->setObjectName(QStringLiteral("ac_copy_graph"));
  copy_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
  window.addAction(print_);
  window.addAction(copy_);
  graph.PopupMenu()->addSeparator();
  graph.PopupMenu()->addAction(copy_);
  connect(export_, &QAction::triggered, this, &TGraphShareMenu::export_graph);
  connect(print_, &QAction::triggered, this, &TGraphShareMenu::print_graph);
  connect(copy_, &QAction::triggered, this, &TGraphShareMenu::copy_graph);
  ask_printer = [this](QPrinter &printer) {
    QPrintDialog dialog(&printer, &window_);
    return hooks_.exec(dialog) == QDialog::Accepted;
  };
}

void TGraphShareMenu::export_graph() {
  const QString name = hooks_.ask_file();
  if (name.isEmpty())
    return;
  QSize size;
  int dpi = 96;
  if (GraphFileKind(name) == TGraphFileKind::png) {
    TGraphPictureDialog dialog(&window_, graph_.size());
    if (hooks_.exec(dialog) != QDialog::Accepted)
      return;
    size = dialog.picture_size();
    dpi = dialog.dpi();
  }
  QString reason;
  if (!ExportGraph(graph_, name, size, dpi, reason))
    hooks_.error(QStringLiteral("The graph was not exported to %1: %2").arg(name, reason));
}

void TGraphShareMenu::print_graph() {
  QPrinter printer(QPrinter::HighResolution);
  printer.setDocName(graph_.Title());
  if (!ask_printer(printer))
    return;
  QString reason;
  if (!PrintGraph(graph_, printer, hooks_.page_lines(), reason))
    hooks_.error(QStringLiteral("The graph was not printed: %1").arg(reason));
}

void TGraphShareMenu::copy_graph() { CopyGraphToClipboard(graph_); }

QStringList panel_lines(const QWidget *panel) {
  QStringList lines;
  const auto *grid = panel ? qobject_cast<const QGridLayout *>(panel->layout()) : nullptr;
  if (!grid)
    return lines;
  for (int row = 0; row < grid->rowCount(); ++row) {
    QStringList cells;
    for (int column = 0; column < grid->columnCount(); ++column)
      if (const QLayoutItem *item = grid->itemAtPosition(row, column))
        if (const auto *label = qobject_cast<const QLabel *>(item->widget()))
          cells << label->text().trimmed();
    if (!cells.isEmpty())
      lines << cells.join(u' ');
  }
  return lines;
}
