#include "Interrupt.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace zeb::cli {

namespace {

std::atomic<bool> interrupted{false};
std::atomic<bool> installed{false};

#if defined(_WIN32)
BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    interrupted = true;
    return TRUE; // handled: the process goes on and stops cleanly
}
#else
void OnSignal(int) {
    interrupted = true;
}
#endif

} // namespace

void InstallInterruptHandler() {
    if (installed.exchange(true))
        return;
#if defined(_WIN32)
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
#else
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
#endif
}

bool Interrupted() {
    return interrupted;
}

void ClearInterrupt() {
    interrupted = false;
}

void RequestInterrupt() {
    interrupted = true;
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
