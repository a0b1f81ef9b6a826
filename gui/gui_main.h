#pragma once
// The window program: `linograf` without a command opens the main window.
namespace linograf {

// Options: --ini PATH (the settings file), --screenshots DIR [--sample FILE] (grab each page as
// DIR/page-N.png and the port dialog as DIR/select-port.png, after feeding FILE's bytes to the line
// capture as if a device had sent them; for the documentation).
int RunMainWindow(int argc, char** argv);

}  // namespace linograf
