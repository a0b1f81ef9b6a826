#pragma once
// Whether a numbered port can be used: its device node is there (held by another program or not).
// Nothing is opened, so the test never disturbs a device (an open raises DTR and RTS).
namespace linograf::serial {

// False for 0 (and any number outside the port map) without touching a device.
bool IsPortAvailable(int n);

}  // namespace linograf::serial
