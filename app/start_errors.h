#pragma once

// The message handler the program runs with. The libraries' routine chatter (debug, info and
// warnings) stays quiet, as the program prints nothing of its own while it runs. Critical messages
// are printed. A fatal message, which Qt raises when it cannot reach the window system or load its
// platform plugin, ends the program with one line on stderr that names the display and says why,
// and exit status 1, instead of an abort and a core file. Where Wayland is the only way to a
// display and its socket cannot be reached, the start ends the same way at once. Called just
// before the application object is made.
void installStartMessageHandler();
