// Stopping a command-line host cleanly: Ctrl-C, and the requests to end that services, `timeout`,
// containers, terminals and consoles send. The first of them asks the running command to stop; it
// then stops as it does for Ctrl-C (the plug-in's acquisitions stopped and its channels released).
#pragma once

namespace zeb::cli {

// Installs the handlers: SIGINT, SIGTERM and SIGHUP on POSIX; Ctrl-C, Ctrl-Break, a closed console,
// logoff and shutdown on Windows. Idempotent.
void InstallInterruptHandler();
// True once Ctrl-C was pressed since the last ClearInterrupt(), or once the program was asked to end.
bool Interrupted();
// Forgets a Ctrl-C (a shell's prompt goes on); a request to end the program stays.
void ClearInterrupt();
// True once the program was asked to end (SIGTERM, SIGHUP, the console closed, logoff, shutdown):
// whatever runs stops and nothing more starts.
bool EndRequested();
// Marks an interrupt as if Ctrl-C had been pressed (tests of the pieces, and stop requests).
void RequestInterrupt();

// Sleeps for `seconds` unless an interrupt comes first; false when it did.
bool SleepUnlessInterrupted(double seconds);

// Exit status of a command stopped by Ctrl-C, as shells report a SIGINT death.
inline constexpr int InterruptedStatus = 130;
// Exit status of a command that stopped because it was asked to: 130 after Ctrl-C (or Ctrl-Break),
// 128 + the signal's number after a request to end: 143 for SIGTERM (Windows: logoff, shutdown),
// 129 for SIGHUP (Windows: the console closed).
int StoppedStatus();

} // namespace zeb::cli
