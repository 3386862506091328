// What the program remembers: settings written and read back in a private XDG_CONFIG_HOME,
// unusable files, a window off every screen, the recent files and Reset Settings.
#include "../graph/graph_test_support.h"
#include "QX5200_unit.h"
#include "RecentFiles.h"
#include "Settings.h"
#include "TQGridUnit.h"

#include <QButtonGroup>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Before QApplication: QSettings takes its folder once.
const struct IsolatedConfig {
  QTemporaryDir dir;
  IsolatedConfig() { qputenv("XDG_CONFIG_HOME", dir.path().toUtf8()); }
} config;

struct Dialogs : TWindowDialogs {
  QString open_answer, started_in;
  QStringList infos;
  QString open_file_name(QWidget *, const QStringList &, const QString &) override {
    started_in = start_folder;
    return open_answer;
  }
  QString save_file_name(QWidget *, const QStringList &, const QString &) override { return {}; }
  void information(QWidget *, const QString &text, const QPoint &) override { infos << text; }
  void error(QWidget *, const QString &) override {}
};

void write(const QString &name, const QByteArray &bytes) {
  QFile f(name);
  QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
}

} // namespace

class TestSettings : public QObject {
  Q_OBJECT
  QTemporaryDir dir_;
  QString conf_ = config.dir.filePath("qx5200/qx5200.conf");
  std::unique_ptr<TForm1> window(TSettings &settings, Dialogs *&dialogs) {
    auto w = std::make_unique<TForm1>(nullptr, nullptr);
    auto fake = std::make_unique<Dialogs>();
    dialogs = fake.get();
    w->set_dialogs(std::move(fake));
    w->use_settings(&settings);
    return w;
  }
  QList<QAction *> recent_items(TForm1 &w) {
    QList<QAction *> items = w.findChild<QMenu *>("recent_menu")->actions();
    items.erase(items.end() - 2, items.end()); // separator and Clear List
    return items;
  }

  static constexpr const char *formula_names[] = {"le_formula_expression", "le_formula_end",
                                                  "le_formula_accuracy", "sb_formula_points"};
  QStringList formula_texts(TForm1 &w) {
    QStringList texts;
    for (const char *name : formula_names)
      texts << w.findChild<QWidget *>(name)->property("text").toString();
    return texts;
  }

private slots:
  void init() { QFile::remove(conf_); }

  void written_and_read_back() {
    {
      auto s = TSettings::user();
      QCOMPARE(s->file_name(), conf_);
      s->set_data_separator(3);
      s->set_folder(TSettings::export_folder, dir_.path());
      s->set_window_geometry(QRect(10, 20, 700, 650), true);
      s->set_recent_files({{"/a/b.csv", 1}, {"/c.txt", 0}});
      TQGraphArea area = DefaultGraphArea();
      area.x.Style = Log;
      area.y.curve[9].line_color = 0x123456;
      area.y2LineWidth = 4;
      area.round_ticks = 1;
      s->store_graph(area);
      s->set_entries("formula", {"sin(t)", "t*2"});
    }
    const auto s = TSettings::user();
    QCOMPARE(s->notice(), QString());
    QCOMPARE(s->data_separator(), 3);
    QCOMPARE(s->folder(TSettings::export_folder), dir_.path());
    QCOMPARE(s->folder(TSettings::open_folder), QString());
    QRect r;
    bool maximized = false;
    QVERIFY(s->window_geometry(r, maximized));
    QCOMPARE(r, QRect(10, 20, 700, 650));
    QVERIFY(maximized);
    QCOMPARE(s->recent_files(), (QList<TRecentFile>{{"/a/b.csv", 1}, {"/c.txt", 0}}));
    QCOMPARE(s->entries("formula"), QStringList({"sin(t)", "t*2"}));
    TQGraphArea area = DefaultGraphArea();
    s->load_graph(area);
    QCOMPARE(area.x.Style, Log);
    QCOMPARE(area.y.curve[9].line_color, 0x123456);
    QCOMPARE(area.y.curve[9].marker_color, 0x123456);
    QCOMPARE(area.y.curve[8].line_color, 0);
    QCOMPARE(area.y2LineWidth, 4);
    QCOMPARE(area.round_ticks, quint8(1));
  }

  void unusable_files_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("notice");
    QTest::newRow("garbage") << QByteArray("\xff\xfe[[[\n==\n\x01 PK") << "unreadable";
    QTest::newRow("newer") << QByteArray("[General]\nversion=7\n[table]\ndata_separator=2\n") << "newer";
    QTest::newRow("out of range")
        << QByteArray("[General]\nversion=1\n[table]\ndata_separator=9\n[window]\nwidth=x\nheight=5\n")
        << "table/data_separator, window/width, window/height";
  }
  void unusable_files() {
    QFETCH(QByteArray, text);
    QFETCH(QString, notice);
    QDir().mkpath(QFileInfo(conf_).path());
    write(conf_, text);
    auto s = TSettings::user();
    QCOMPARE(s->data_separator(), 0);
    QRect r;
    bool maximized = false;
    QVERIFY(!s->window_geometry(r, maximized));
    QVERIFY2(s->notice().contains(notice) && !s->notice().contains(u'\n'), qPrintable(s->notice()));
    s->set_data_separator(1);
    s->sync();
    QFile f(conf_);
    if (notice == u"newer") // left for the version that wrote it
      QVERIFY(f.open(QIODevice::ReadOnly) && f.readAll() == text);
    if (notice == u"unreadable")
      QVERIFY(QFile::exists(conf_ + ".broken"));
  }

  void window_comes_back_on_screen() {
    const QRect screen(0, 0, 1280, 1024);
    QCOMPARE(OnScreen(QRect(100, 100, 600, 560), {screen}), QRect(100, 100, 600, 560));
    // A second screen, gone: the window moves onto the first.
    QCOMPARE(OnScreen(QRect(1500, 200, 600, 560), {screen}), QRect(680, 200, 600, 560));
    QCOMPARE(OnScreen(QRect(-3000, -50, 2000, 1100), {screen}), QRect(0, 0, 1280, 1024));
    QCOMPARE(OnScreen(QRect(1230, 500, 600, 560), {screen, QRect(1280, 0, 1920, 1080)}),
             QRect(1230, 500, 600, 560));

    TSettings s(dir_.filePath("far.conf"));
    s.set_window_geometry(QRect(9000, -9000, 640, 600), false);
    Dialogs *d = nullptr;
    auto w = window(s, d);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    const QRect available = w->screen()->availableGeometry();
    QVERIFY2(available.contains(w->geometry()), qPrintable(QString("%1,%2").arg(w->x()).arg(w->y())));
  }

  // Through the window: the separator clicked, the Graph Setup, the folder and the recent files.
  void window_remembers() {
    TSettings s(dir_.filePath("window.conf"));
    Dialogs *d = nullptr;
    auto w = window(s, d);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    QTest::mouseClick(w->findChild<QButtonGroup *>("rg_data_separator_items")->button(1), Qt::LeftButton);
    FakeModals modals;
    modals.axis = [](TAxisDlg &dialog) {
      dialog.cbYLog->setChecked(true);
      dialog.OKBtn->click();
    };
    auto *graph = w->findChild<TQGraph *>("graph");
    graph->setModals(&modals);
    graph->GraphSetup();
    QStringList names;
    for (int i = 0; i < 9; ++i) {
      names << dir_.filePath(QString("f%1.csv").arg(i));
      write(names.last(), "t,v\r\n0,1\r\n1,2\r\n");
      d->open_answer = names.last();
      w->ac_load_dataExecute();
    }
    QCOMPARE(d->started_in, dir_.path());
    // The formula page's entries of a Preview that gave points; typed in after it, nothing.
    auto *tabs = w->findChild<QTabWidget *>("PageControl1");
    QTest::mouseClick(tabs->tabBar(), Qt::LeftButton, {},
                      tabs->tabBar()->tabRect(TForm1::page_formula).center());
    const QStringList typed{"2*tri(t, 2m)", "4m", "", "300"};
    for (int i : {0, 1, 3}) {
      auto *field = w->findChild<QWidget *>(formula_names[i]);
      QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
      QTest::keyClicks(field, typed[i]);
    }
    QTest::mouseClick(w->findChild<QPushButton *>("bt_formula_preview"), Qt::LeftButton);
    QTest::keyClicks(w->findChild<QWidget *>(formula_names[1]), "0");
    w->resize(700, 640);
    w->close();
    graph->setModals(nullptr);

    auto again = window(s, d);
    QCOMPARE(again->findChild<QButtonGroup *>("rg_data_separator_items")->checkedId(), 1);
    QCOMPARE(again->findChild<TQGraph *>("graph")->yStyle(), Log);
    QCOMPARE(again->size(), QSize(700, 640));
    QCOMPARE(again->findChild<TQGrid *>("sg_data")->cell(2, 1), QString()); // never the table
    QCOMPARE(formula_texts(*again), typed);
    QList<QAction *> items = recent_items(*again);
    QCOMPARE(items.size(), 8);
    QCOMPARE(items.first()->text(), QString("&1 f8.csv"));
    QVERIFY(QFile::remove(names[8]));
    items.first()->trigger();
    QCOMPARE(d->infos.size(), 1);
    QVERIFY(d->infos.first().contains("f8.csv"));
    QCOMPARE(recent_items(*again).size(), 7);
    recent_items(*again).first()->trigger(); // f7, with its separator
    QCOMPARE(again->watched_file_name(), names[7]);
    QCOMPARE(again->findChild<TQGrid *>("sg_data")->cell(2, 2), QString("2"));

    again->findChild<QAction *>("ac_reset_settings")->trigger();
    QCOMPARE(again->findChild<QButtonGroup *>("rg_data_separator_items")->checkedId(), 0);
    QCOMPARE(again->findChild<TQGraph *>("graph")->yStyle(), Linear);
    QCOMPARE(recent_items(*again).size(), 0);
    QCOMPARE(TSettings(s.file_name()).recent_files().size(), 0);
    const QStringList defaults{"5*sin(2*pi*1k*t)", "10m", "", "fewest for the accuracy"};
    QCOMPARE(formula_texts(*again), defaults);
    // Kept entries that are no formula, no number or out of range give the defaults.
    s.set_entries("formula", {"5*sin(", "0", "x", "-1", "99999999"});
    TSettings garbled(s.file_name());
    QCOMPARE(formula_texts(*window(garbled, d)), defaults);
    QVERIFY2(garbled.notice().contains("entries/formula"), qPrintable(garbled.notice()));
  }
};

QTEST_MAIN(TestSettings)
#include "test_settings.moc"
