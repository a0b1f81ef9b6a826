#pragma once
// What the operator is told about a port beside its COM number: the device's stable by-id name,
// what the USB adapter says it is (manufacturer, product, serial number) and, for a port this user
// may not open, why and the fix. The lists keep the device path in the tooltip role, where code
// reads it as a path; the details live in a role of their own.
#include <QString>
#include <Qt>

#include "serial/port_discovery.h"

namespace linograf {

inline constexpr int kPortDetailsRole = Qt::UserRole + 1;

// One line per fact, in that order; empty when nothing is known beyond the device path.
QString PortDetailsText(const serial::TPortInfo& port);
// The details of port n as discovery finds it now (opens nothing); empty for a port it does not
// list.
QString PortDetailsOfPort(int port);

}  // namespace linograf
