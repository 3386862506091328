#pragma once

// Helpers shared by the point table's tests.

#include "TQGridModel.h"

#include <QStringList>

#include <functional>

#include <sys/wait.h>
#include <unistd.h>

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
