#pragma once
// What the main window gets from the serial layer in the program: the port availability test, the
// device behind each port number, and the port component itself.
#include <QString>

#include "app/main_window.h"

namespace linograf {

QString DevicePathOfPort(int port);
TMainWindowServices DefaultWindowServices();

}  // namespace linograf
