// "Graph Setup" and the label editor, driven through the graph as a person would.
#include "TColorBoxUnit.h"
#include "TNumEditUnit.h"
#include "graph_test_support.h"
#include "localized.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <algorithm>

class TestGraphDialogs : public QObject {
  Q_OBJECT
private slots:
  void min_edit_in_range_units();
  void unchecking_y_log_restores_counts();
  void curve_colour_changes_one_curve();
  void y2_show_points_covers_data_curves_only();
  void cancel_and_close_box_store_nothing();
  void range_list();
  void enable_rules();
  void label_dialog_keeps_last_values();
};

void TestGraphDialogs::min_edit_in_range_units() {
  TQGraph g;
  FakeModals m;
  g.setModals(&m);
  g.setXRange(-2);
  g.setXMinVal(0.0005);
  g.setXMaxVal(0.002);
  m.axis = [](TAxisDlg &d) {
    QCOMPARE(d.neXMin->text(), QStringLiteral("500"));
    QCOMPARE(d.neXMax->text(), QStringLiteral("2000"));
    d.neXMin->clear();
    QTest::keyClicks(d.neXMin, QStringLiteral("250"));
    d.OKBtn->click();
  };
  g.GraphSetup();
  QCOMPARE(m.axis_shown, 1);
  QCOMPARE(g.xMinVal(), 0.00025);
  QCOMPARE(g.xMaxVal(), 0.002);
  QCOMPARE(g.xRange(), -2);

  // A decimal typed with the locale's separator.
  m.axis = [](TAxisDlg &d) {
    d.neXMax->clear();
    QTest::keyClicks(d.neXMax, QStringLiteral("2500.5"));
    QCOMPARE(d.neXMax->text(), localized(QStringLiteral("2500.5")));
    d.OKBtn->click();
  };
  g.GraphSetup();
  QCOMPARE(g.xMaxVal(), 0.0025005);

  // A typed Min not below its Max is refused at the field; mended, it is taken.
  g.setYAutoRange(false);
  g.setYMaxVal(5);
  m.axis = [](TAxisDlg &d) {
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    d.neYMin->clear();
    QTest::keyClicks(d.neYMin, QStringLiteral("20"));
    QTest::mouseClick(d.OKBtn, Qt::LeftButton);
    QCOMPARE(d.lbRangeError->text(), QStringLiteral("Y Axis 1: Min must be below Max."));
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(d.neYMin));
    QTest::keyClicks(d.neYMin, QStringLiteral("2"));
    QTest::mouseClick(d.OKBtn, Qt::LeftButton);
    QVERIFY(!d.lbRangeError->isVisible());
    d.hide();
  };
  g.GraphSetup();
  QCOMPARE(g.yMinVal(), 2.0);
}

void TestGraphDialogs::unchecking_y_log_restores_counts() {
  TQGraph g;
  FakeModals m;
  g.setModals(&m);
  g.setYMinVal(1);
  g.setYMaxVal(1000);
  g.setYMajInc(8);
  g.setYMinInc(4);
  m.axis = [](TAxisDlg &d) {
    QCOMPARE(d.cbYMajInc->currentIndex(), 7);
    QCOMPARE(d.cbYMinInc->currentIndex(), 3);
    d.cbYLog->click();
    QVERIFY(!d.cbYMajInc->isEnabled());
    QVERIFY(!d.cbYMinInc->isEnabled());
    d.OKBtn->click();
  };
  g.GraphSetup();
  QCOMPARE(g.yStyle(), Log);
  QCOMPARE(g.yMajInc(), 3); // one division per decade now
  QCOMPARE(g.yMinInc(), 10);

  m.axis = [](TAxisDlg &d) {
    QVERIFY(d.cbYLog->isChecked());
    QCOMPARE(d.cbYMajInc->currentIndex(), 2);
    QCOMPARE(d.cbYMinInc->currentIndex(), 9);
    d.cbYLog->click();
    QCOMPARE(d.cbYMajInc->currentIndex(), 7);
    QCOMPARE(d.cbYMinInc->currentIndex(), 3);
    QVERIFY(d.cbYMajInc->isEnabled());
    d.cb_round_ticks->click();
    d.OKBtn->click();
  };
  g.GraphSetup();
  QCOMPARE(g.yStyle(), Linear);
  QCOMPARE(g.yMajInc(), 8);
  QCOMPARE(g.yMinInc(), 4);
  // Rounded, 1..1000 is drawn as 0..1000 in 5 steps of 200 and y2 (0..10) in the same divisions;
  // the count chosen stays.
  TQAxis &y = g.GraphArea().y, &y2 = g.GraphArea().y2;
  QCOMPARE((QStringList{TickText(y, 1, false), QString::number(AxisDivisions(y)), TickText(y2, 5, false)}),
           (QStringList{"200", "5", "10"}));
}

void TestGraphDialogs::curve_colour_changes_one_curve() {
  TQGraph g;
  FakeModals m;
  g.setModals(&m);
  for (int k = 1; k <= 10; ++k) {
    g.SetYCurveColors(k, 0x010101 * k, 0x010101 * k);
    g.SetY2CurveColors(k, 0x020202 * k, 0x020202 * k);
  }
  m.axis = [](TAxisDlg &d) {
    QCOMPARE(d.cb_YColor[9]->Selected(), 0x090909);
    // Each box says which curve it colours.
    for (auto [group, box] : {std::pair{d.gbYAxis, d.cb_YColor[9]}, {d.gbY2Axis, d.cb_Y2Color[10]}})
      QVERIFY(std::ranges::any_of(group->findChildren<QLabel *>(), [&](QLabel *l) {
        return l->buddy() == box && l->text() == (box == d.cb_YColor[9] ? "Data 9" : "Data 10");
      }));
    d.cb_YColor[9]->setSelected(0x0000FF);
    d.OKBtn->click();
  };
  g.GraphSetup();
  const TQGraphArea &a = g.GraphArea();
  QCOMPARE(a.y.curve[9].line_color, 0x0000FF);
  QCOMPARE(a.y.curve[9].marker_color, 0x0000FF);
  for (int k = 1; k <= 10; ++k) {
    if (k != 9) {
      QCOMPARE(a.y.curve[k].line_color, 0x010101 * k);
      QCOMPARE(a.y.curve[k].marker_color, 0x010101 * k);
    }
    QCOMPARE(a.y2.curve[k].line_color, 0x020202 * k);
  }
}

void TestGraphDialogs::y2_show_points_covers_data_curves_only() {
  TQGraph g;
  FakeModals m;
  g.setModals(&m);
  m.axis = [](TAxisDlg &d) {
    QVERIFY(d.cb_Y2ShowPoints->isChecked());
    d.cb_Y2ShowPoints->click();
    d.OKBtn->click();
  };
  g.GraphSetup();
  const TQGraphArea &a = g.GraphArea();
  for (int k = 1; k <= 10; ++k) {
    QCOMPARE(a.y2.curve[k].show_points, quint8(0));
    QCOMPARE(a.y.curve[k].show_points, quint8(1));
  }
  for (int k = 11; k <= 15; ++k) {
    QCOMPARE(a.y2.curve[k].show_points, quint8(1));
    QCOMPARE(a.y.curve[k].show_points, quint8(0));
  }
}

void TestGraphDialogs::cancel_and_close_box_store_nothing() {
  TQGraph g;
  FakeModals m;
  g.setModals(&m);
  g.setTitle(QStringLiteral("before"));
  m.axis = [](TAxisDlg &d) {
    QCOMPARE(d.edTitle->text(), QStringLiteral("before"));
    d.edTitle->setText(QStringLiteral("cancelled"));
    d.CancelBtn->click();
  };
  g.GraphSetup();
  QCOMPARE(g.Title(), QStringLiteral("before"));
  m.axis = [](TAxisDlg &d) {
    d.edTitle->setText(QStringLiteral("closed"));
    d.reject(); // the close box
  };
  g.GraphSetup();
  QCOMPARE(g.Title(), QStringLiteral("before"));
  m.axis = [](TAxisDlg &d) {
    d.edTitle->setText(QStringLiteral("escaped"));
    QTest::keyClick(&d, Qt::Key_Escape);
    QVERIFY(d.Cancelled);
  };
  g.GraphSetup();
  QCOMPARE(g.Title(), QStringLiteral("before"));
  m.axis = [](TAxisDlg &d) {
    d.edTitle->setText(QStringLiteral("after"));
    d.OKBtn->click();
  };
  g.GraphSetup();
  QCOMPARE(g.Title(), QStringLiteral("after"));
  QVERIFY(!g.AxisDialog().Cancelled);
  QCOMPARE(g.AxisDialog().windowTitle(), QStringLiteral("Graph Setup"));
  // The layout's size, or more where the font needs it; every check box shows its whole text.
  QCOMPARE(g.AxisDialog().size(), QSize(778, 433).expandedTo(g.AxisDialog().minimumSizeHint()));
  g.AxisDialog().show();
  QVERIFY(QTest::qWaitForWindowExposed(&g.AxisDialog()));
  for (QCheckBox *box : g.AxisDialog().findChildren<QCheckBox *>())
    QVERIFY2(!box->isVisibleTo(&g.AxisDialog()) || box->width() >= box->minimumSizeHint().width(),
             qPrintable(box->text()));
  g.AxisDialog().hide();
}

void TestGraphDialogs::range_list() {
  TQGraph g;
  FakeModals m;
  g.setModals(&m);
  g.setXUnits(QStringLiteral("s"));
  g.setXRange(-2);
  m.axis = [](TAxisDlg &d) {
    QStringList items;
    for (int i = 0; i < d.cbXRange->count(); ++i)
      items << d.cbXRange->itemText(i);
    QCOMPARE(items, QStringList({"ps", "ns", "us", "ms", "s", "ks", "Ms", "Gs"}));
    QCOMPARE(d.cbXRange->currentIndex(), 2);
    // Typing a unit rebuilds the list from the stored unit and re-selects the stored Range.
    d.cbXRange->setCurrentIndex(5);
    QTest::keyClicks(d.edXUnits, QStringLiteral("V"));
    QCOMPARE(d.cbXRange->itemText(0), QStringLiteral("ps"));
    QCOMPARE(d.cbXRange->currentIndex(), 2);
    d.cbXRange->setCurrentIndex(5);
    d.OKBtn->click();
  };
  g.GraphSetup();
  QCOMPARE(g.xRange(), 1);
  QCOMPARE(g.xUnits(), QStringLiteral("sV"));
  m.axis = [](TAxisDlg &d) {
    QCOMPARE(d.cbXRange->itemText(5), QStringLiteral("ksV"));
    d.cbXRange->setCurrentIndex(-1); // no selection stores Range -5
    d.cbXDecimals->setCurrentIndex(-1);
    d.OKBtn->click();
  };
  g.GraphSetup();
  QCOMPARE(g.xRange(), -5);
  QCOMPARE(g.xDecimalCount(), 0);
}

void TestGraphDialogs::enable_rules() {
  TQGraph g;
  FakeModals m;
  g.setModals(&m);
  g.setXAutoRange(true);
  g.GraphArea().y.show_major_grid = 0;
  g.GraphArea().x.Style = Log;
  m.axis = [](TAxisDlg &d) {
    QVERIFY(!d.neXMin->isEnabled());
    QVERIFY(!d.neXMax->isEnabled());
    QVERIFY(d.neYMin->isEnabled());
    QVERIFY(!d.neYMin2->isEnabled()); // y2 auto-ranges from creation
    QVERIFY(!d.cbYShowMinGrid->isEnabled());
    QVERIFY(d.cbXShowMinGRid->isEnabled());
    QVERIFY(!d.cbXMajInc->isEnabled());
    QVERIFY(d.cbYMajInc->isEnabled());
    d.cbXAutoScale->click();
    QVERIFY(d.neXMin->isEnabled());
    d.cbYShowMajGrid->click();
    QVERIFY(d.cbYShowMinGrid->isEnabled());
    d.cbXLog->click();
    QVERIFY(d.cbXMinInc->isEnabled());
    d.CancelBtn->click();
  };
  g.GraphSetup();
  QCOMPARE(m.axis_shown, 1);
}

void TestGraphDialogs::label_dialog_keeps_last_values() {
  TQGraph g;
  FakeModals m;
  g.setModals(&m);
  g.resize(450, 450);
  g.show();
  QVERIFY(QTest::qWaitForWindowExposed(&g));
  QCOMPARE(g.LabelDialog().windowTitle(), QStringLiteral("QX5200 Label Editor"));
  QCOMPARE(g.LabelDialog().size(), QSize(240, 144));

  QTest::mouseClick(&g, Qt::RightButton, {}, QPoint(120, 130));
  m.label = [](TLabelDialog &d) {
    QVERIFY(d.LabelText().isEmpty());
    QTest::keyClicks(d.ed_label, QStringLiteral("peak"));
    d.cb_line_color->setSelected(0x0000FF);
    d.cb_show_line->click();
    d.OKBtn->click();
  };
  g.AddLabel();
  QCOMPARE(g.Labels().size(), size_t(1));
  const TQLabel first = g.Labels()[0];
  QCOMPARE(first.Text, QStringLiteral("peak"));
  QCOMPARE(first.X, 120);
  QCOMPARE(first.Y, 130);
  QCOMPARE(first.line_color, 0x0000FF);
  QCOMPARE(first.ShowLine, quint8(1));

  // The second time it offers what it held; Cancel adds nothing.
  m.label = [](TLabelDialog &d) {
    QCOMPARE(d.LabelText(), QStringLiteral("peak"));
    QCOMPARE(d.LineColor(), 0x0000FF);
    QVERIFY(d.ShowLine());
    d.CancelBtn->click();
  };
  g.AddLabel();
  QCOMPARE(m.label_shown, 2);
  QCOMPARE(g.Labels().size(), size_t(1));

  // Editing then cancelling leaves the label, but the dialog keeps the edit.
  QTest::mouseClick(&g, Qt::RightButton, {}, QPoint(125, 135));
  m.label = [](TLabelDialog &d) {
    d.ed_label->setText(QStringLiteral("changed"));
    d.cb_line_color->setSelected(0x00FF00);
    d.CancelBtn->click();
  };
  g.EditLabel();
  QCOMPARE(g.Labels()[0].Text, QStringLiteral("peak"));
  QCOMPARE(g.Labels()[0].line_color, 0x0000FF);
  QCOMPARE(g.LabelDialog().LabelText(), QStringLiteral("changed"));
  QCOMPARE(g.LabelDialog().LineColor(), 0x00FF00);
}

QTEST_MAIN(TestGraphDialogs)
#include "test_graph_dialogs.moc"
