#include "SplitFunctions.h"

#include <QTest>

class TestSplitFunctions : public QObject {
  Q_OBJECT
private slots:
  void split_data();
  void split();
  void next_field_positions();
};

void TestSplitFunctions::split_data() {
  QTest::addColumn<QString>("line");
  QTest::addColumn<QString>("separator");
  QTest::addColumn<QStringList>("fields");
  QTest::newRow("plain") << "1,2"
                         << "," << QStringList{"1", "2"};
  QTest::newRow("empty line") << ""
                              << "," << QStringList{};
  QTest::newRow("run counts as one") << "1,,2"
                                     << "," << QStringList{"1", "2"};
  QTest::newRow("leading ignored") << ",,1,2"
                                   << "," << QStringList{"1", "2"};
  QTest::newRow("trailing gives one empty field") << "1,2,,,"
                                                  << "," << QStringList{"1", "2", ""};
  QTest::newRow("only separators") << "   "
                                   << " " << QStringList{""};
  QTest::newRow("spaces") << "   1e-6    2.5"
                          << " " << QStringList{"1e-6", "2.5"};
  QTest::newRow("tab keeps spaces") << "a b\tc"
                                    << "\t" << QStringList{"a b", "c"};
  QTest::newRow("single field") << "0.5"
                                << "\t" << QStringList{"0.5"};
}

void TestSplitFunctions::split() {
  QFETCH(QString, line);
  QFETCH(QString, separator);
  QFETCH(QStringList, fields);
  QStringList list{"kept"};
  split_line(line, separator.front(), list);
  QCOMPARE(list, QStringList{"kept"} + fields);
}

void TestSplitFunctions::next_field_positions() {
  const QString line = QStringLiteral("ab,,cd,");
  qsizetype p = 0;
  QCOMPARE(next_field(line, u',', p), QStringLiteral("ab"));
  QCOMPARE(p, 3);
  QCOMPARE(next_field(line, u',', p), QStringLiteral("cd"));
  QCOMPARE(p, 7);
  QCOMPARE(next_field(line, u',', p), QString());
  QCOMPARE(p, 7);
}

QTEST_GUILESS_MAIN(TestSplitFunctions)
#include "test_split_functions.moc"
