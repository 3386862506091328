#pragma once

class QMenu;
class TForm1;
class TVirtualQX5200Device;

// The "Simulator" menu of `qx5200 --simulate`: the USB cable, the load board and its
// temperature of the virtual QX5200, so the whole workflow can be tried without the hardware.
QMenu *add_simulator_menu(TForm1 &window, TVirtualQX5200Device &device);
