// A logout (SIGHUP), `kill` (SIGTERM) and Ctrl+C (SIGINT) close the program
// as its window's close does: the application's event loop ends, every
// nested one with it, and what follows the loop in main runs (the window's
// shut-down, the store of what is kept). A second such signal ends the
// program at once.
#pragma once

// Installs the handlers; the application object must exist. The handler only
// writes the signal's number into a socket pair, which the application's
// thread reads. False when they could not be installed (logged), or were
// installed already.
bool quitOnTerminationSignals();
