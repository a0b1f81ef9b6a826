#pragma once
// Whether a numbered port can be used: its device opens, or it exists but another program holds
// it. The test opens the device for a moment (no thread, no setting) and closes it again before
// it returns, so a program opening the same port at that instant may find it in use.
namespace linograf::serial {

// False for 0 (and any number outside the port map) without touching a device.
bool IsPortAvailable(int n);

}  // namespace linograf::serial
