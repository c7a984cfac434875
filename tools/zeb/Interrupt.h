// Ctrl-C for a command-line host: the first press asks the running command to stop cleanly.
#pragma once

namespace zeb::cli {

// Installs the handler (SIGINT on POSIX, the console control handler on Windows). Idempotent.
void InstallInterruptHandler();
// True once Ctrl-C was pressed since the last ClearInterrupt().
bool Interrupted();
void ClearInterrupt();
// Marks an interrupt as if Ctrl-C had been pressed (tests of the pieces, and stop requests).
void RequestInterrupt();

// Sleeps for `seconds` unless Ctrl-C comes first; false when it did.
bool SleepUnlessInterrupted(double seconds);

// Exit status of a command stopped by Ctrl-C, as shells report a SIGINT death.
inline constexpr int InterruptedStatus = 130;

} // namespace zeb::cli
