#pragma once
// What the main window gets from the serial layer in the program: the port availability test, the
// device behind each port number, and the port component NlkComPort1, which asks for a port with
// the "Select Port" dialog when none is chosen.
#include <QString>

#include "gui/main_window.h"

namespace linograf {

QString DevicePathOfPort(int port);
TMainWindowServices DefaultWindowServices();

}  // namespace linograf
