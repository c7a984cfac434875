#include "commands/Interrupt.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace zeb::cli {

namespace {

// The POSIX numbers, on Windows too: they make the exit status.
constexpr int HangUpSignal = 1;
constexpr int TerminateSignal = 15;

std::atomic<bool> interrupted{false};
std::atomic<int> endSignal{0}; // the signal that asked the program to end, 0 before
std::atomic<bool> installed{false};

static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "set from a signal handler");

#if defined(_WIN32)
BOOL WINAPI OnConsoleControl(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        interrupted = true;
        return TRUE; // handled: the process goes on and stops cleanly
    case CTRL_CLOSE_EVENT:
        endSignal = HangUpSignal;
        break;
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        endSignal = TerminateSignal;
        break;
    default:
        return FALSE;
    }
    // Windows ends the process as soon as this handler returns from these events. It waits here
    // while the command stops cleanly and the program exits (which ends this thread), for as long as
    // the system grants.
    Sleep(INFINITE);
    return TRUE;
}
#else
void OnSignal(int number) {
    if (number == SIGINT)
        interrupted = true;
    else
        endSignal = number;
}
#endif

} // namespace

void InstallInterruptHandler() {
    if (installed.exchange(true))
        return;
#if defined(_WIN32)
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
#else
    static_assert(SIGHUP == HangUpSignal && SIGTERM == TerminateSignal);
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : {SIGINT, SIGTERM, SIGHUP})
        sigaction(number, &action, nullptr);
#endif
}

bool Interrupted() {
    return interrupted || endSignal != 0;
}

void ClearInterrupt() {
    interrupted = false;
}

bool EndRequested() {
    return endSignal != 0;
}

void RequestInterrupt() {
    interrupted = true;
}

int StoppedStatus() {
    const int number = endSignal;
    return number != 0 ? 128 + number : InterruptedStatus;
}

bool SleepUnlessInterrupted(double seconds) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point until =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    while (!Interrupted()) {
        const Clock::duration left = until - Clock::now();
        if (left <= Clock::duration::zero())
            return true;
        std::this_thread::sleep_for(std::min<Clock::duration>(left, std::chrono::milliseconds(20)));
    }
    return false;
}

} // namespace zeb::cli
