#pragma once

// Helpers shared by the point table's tests.

#include "TQGridModel.h"

#include <QFile>
#include <QStringList>
#include <QtTest>

#include <functional>

#include <sys/wait.h>
#include <unistd.h>

// The table as the main window sets it up.
inline void setup_window_table(TQGridModel &t) {
  t.set_default_row_count(21);
  t.set_auto_number(true);
  t.set_cell(1, 0, u"Time");
  t.set_cell(2, 0, u"Value");
}

inline QByteArray read_all(const QString &name) {
  QFile f(name);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

inline void write_all(const QString &name, const QByteArray &bytes) {
  QFile f(name);
  QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  QCOMPARE(f.write(bytes), bytes.size());
}

// Every row of the table as "cell|cell|...", for comparing whole tables.
inline QStringList rows_of(const TQGridModel &t) {
  QStringList out;
  for (int r = 0; r < t.row_count(); ++r) {
    QStringList cells;
    for (int c = 0; c < t.col_count(); ++c)
      cells << t.cell(c, r);
    out << cells.join('|');
  }
  return out;
}

// Root reads any file, so a permission test runs its check in a child that has become the nobody
// user. Gives 0 when the check held, 1 when it did not, 2 when the child could not give up root,
// -1 when no child ran to its end.
inline int run_as_nobody(const std::function<bool()> &check) {
  const pid_t child = fork();
  if (child < 0)
    return -1;
  if (child == 0) {
    if (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0)
      _exit(2);
    _exit(check() ? 0 : 1);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status))
    return -1;
  return WEXITSTATUS(status);
}
