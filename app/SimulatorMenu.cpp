#include "SimulatorMenu.h"

#include "QX5200_unit.h"
#include "TVirtualQX5200Device.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

QMenu *add_simulator_menu(TForm1 &window, TVirtualQX5200Device &device) {
  QMenu *menu = new QMenu(QStringLiteral("&Simulator"), &window);
  menu->setObjectName(QStringLiteral("simulator_menu"));
  // Insert before Help, the last menu.
  const QList<QAction *> menus = window.menuBar()->actions();
  window.menuBar()->insertMenu(menus.isEmpty() ? nullptr : menus.last(), menu);

  QAction *unplug = menu->addAction(QStringLiteral("&Unplug Device"));
  QAction *plug = menu->addAction(QStringLiteral("&Plug In Device"));
  menu->addSeparator();
  QAction *remove = menu->addAction(QStringLiteral("&Remove Load Board"));
  QAction *insert = menu->addAction(QStringLiteral("&Insert Load Board"));
  menu->addSeparator();
  QAction *hot = menu->addAction(QStringLiteral("Over Temperature &On"));
  QAction *cool = menu->addAction(QStringLiteral("Over Temperature O&ff"));
  unplug->setObjectName(QStringLiteral("sim_unplug"));
  plug->setObjectName(QStringLiteral("sim_plug"));
  remove->setObjectName(QStringLiteral("sim_remove_board"));
  insert->setObjectName(QStringLiteral("sim_insert_board"));
  hot->setObjectName(QStringLiteral("sim_over_temperature_on"));
  cool->setObjectName(QStringLiteral("sim_over_temperature_off"));

  // Each item is offered only when it changes something.
  auto update = [&device, unplug, plug, remove, insert, hot, cool] {
    unplug->setEnabled(device.plugged_in());
    plug->setEnabled(!device.plugged_in());
    remove->setEnabled(device.model().board_present());
    insert->setEnabled(!device.model().board_present());
    hot->setEnabled(!device.model().force_over_temperature);
    cool->setEnabled(device.model().force_over_temperature);
  };
  QObject::connect(menu, &QMenu::aboutToShow, menu, update);
  QObject::connect(unplug, &QAction::triggered, menu, [&device, update] {
    device.unplug();
    update();
  });
  QObject::connect(plug, &QAction::triggered, menu, [&device, update] {
    device.replug();
    update();
  });
  QObject::connect(remove, &QAction::triggered, menu, [&device, update] {
    device.model().set_board_present(false);
    update();
  });
  QObject::connect(insert, &QAction::triggered, menu, [&device, update] {
    device.model().set_board_present(true);
    update();
  });
  QObject::connect(hot, &QAction::triggered, menu, [&device, update] {
    device.model().force_over_temperature = true;
    update();
  });
  QObject::connect(cool, &QAction::triggered, menu, [&device, update] {
    device.model().force_over_temperature = false;
    update();
  });
  update();
  return menu;
}
