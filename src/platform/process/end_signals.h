// The signals that ask this process to end (SIGTERM, SIGINT) where no
// window can be closed: a screensaver, a live wallpaper. They are only
// noted; the backend reads the note as the end of the session.
#pragma once

namespace nebla::platform::process {

// Installs handlers of SIGTERM and SIGINT that only note the signal.
// Without SA_RESTART, so a signal cuts a wait in poll() short. Install
// before the program starts.
void catchEndSignals();

// Whether SIGTERM or SIGINT has come since catchEndSignals.
bool endSignalled();

}  // namespace nebla::platform::process
