#pragma once

#include <QCoreApplication>

// The one application object of a benchmark executable, whichever of its files asks first.
inline QCoreApplication &bench_app() {
  static int argc = 1;
  static char name[] = "qx5200_bench";
  static char *argv[] = {name, nullptr};
  static QCoreApplication instance(argc, argv);
  return instance;
}
