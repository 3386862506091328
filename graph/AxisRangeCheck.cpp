#include "AxisRangeCheck.h"

#include "TAxisDlgUnit.h"
#include "TNumEditUnit.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QToolTip>

bool accept_axis_ranges(TAxisDlg &d) {
  struct Range {
    QGroupBox *group;
    TNumEdit *min, *max;
    bool typed; // AutoScale off (and, for y2, the axis shown)
  };
  const Range ranges[] = {
      {d.gbXAxis, d.neXMin, d.neXMax, !d.cbXAutoScale->isChecked()},
      {d.gbYAxis, d.neYMin, d.neYMax, !d.cbYAutoScale->isChecked()},
      {d.gbY2Axis, d.neYMin2, d.neYMax2, !d.cbYAutoscale2->isChecked() && d.cb_showY2Axis->isChecked()},
  };
  for (const Range &r : ranges) {
    // Only what was typed in this showing: a stored range is the graph's to mend.
    if (!r.typed || !(r.min->isModified() || r.max->isModified()) || r.min->Value() < r.max->Value())
      continue;
    const QString text = TAxisDlg::tr("%1: Min must be below Max.").arg(r.group->title());
    d.lbRangeError->setText(text);
    d.lbRangeError->show();
    r.min->setFocus();
    r.min->selectAll();
    QToolTip::showText(r.min->mapToGlobal(QPoint(0, r.min->height())), text, r.min);
    return false;
  }
  d.lbRangeError->hide();
  return true;
}
