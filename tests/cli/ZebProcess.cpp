#include "ZebProcess.h"

#include "TestEnvironment.h"

#include <chrono>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace zeb::test {

namespace fs = std::filesystem;

namespace {
std::string WithoutCarriageReturns(std::string text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            out += text[i];
    return out;
}

constexpr auto Guard = std::chrono::minutes(2);
} // namespace

#if defined(_WIN32)
struct ZebProcess::Handles {
    PROCESS_INFORMATION process{};
    HANDLE inputWrite = nullptr;
};

namespace {
// One argument quoted as the C runtime splits a command line.
std::string Quote(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos)
        return argument;
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}

HANDLE Inheritable(const fs::path& file, DWORD access, DWORD creation) {
    SECURITY_ATTRIBUTES security{sizeof security, nullptr, TRUE};
    return CreateFileW(file.wstring().c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       &security, creation, FILE_ATTRIBUTE_NORMAL, nullptr);
}
} // namespace

void ZebProcess::Start(const std::vector<std::string>& arguments, const std::string* input) {
    _handles = new Handles();
    std::string command = Quote(Program().string());
    for (const std::string& argument : arguments)
        command += " " + Quote(argument);
    HANDLE out = Inheritable(_out, GENERIC_WRITE, CREATE_ALWAYS);
    HANDLE err = Inheritable(_err, GENERIC_WRITE, CREATE_ALWAYS);
    HANDLE in = nullptr;
    if (input) {
        std::ofstream(_in, std::ios::binary) << *input;
        in = Inheritable(_in, GENERIC_READ, OPEN_EXISTING);
    } else {
        SECURITY_ATTRIBUTES security{sizeof security, nullptr, TRUE};
        CreatePipe(&in, &_handles->inputWrite, &security, 0);
        SetHandleInformation(_handles->inputWrite, HANDLE_FLAG_INHERIT, 0);
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    // Wine now and then fails a start with an internal error when the machine is busy; a second
    // try starts it. Any other error is the test's to report.
    BOOL started = FALSE;
    DWORD error = 0;
    for (int attempt = 0; attempt < 3 && !started; ++attempt) {
        started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NEW_PROCESS_GROUP,
                                 nullptr, nullptr, &startup, &_handles->process);
        error = started ? 0 : GetLastError();
        if (error != ERROR_INTERNAL_ERROR)
            break;
    }
    CloseHandle(out);
    CloseHandle(err);
    CloseHandle(in);
    if (!started)
        throw std::runtime_error("cannot start " + command + " (error " + std::to_string(error) + ")");
}

bool ZebProcess::Running() {
    if (_ended)
        return false;
    if (WaitForSingleObject(_handles->process.hProcess, 0) != WAIT_OBJECT_0)
        return true;
    DWORD code = 0;
    GetExitCodeProcess(_handles->process.hProcess, &code);
    _status = static_cast<int>(code);
    _ended = true;
    return false;
}

void ZebProcess::Interrupt() {
    GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, _handles->process.dwProcessId);
}

Outcome ZebProcess::Wait() {
    if (_handles->inputWrite) {
        CloseHandle(_handles->inputWrite);
        _handles->inputWrite = nullptr;
    }
    const auto deadline = std::chrono::steady_clock::now() + Guard;
    while (Running() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (Running()) {
        TerminateProcess(_handles->process.hProcess, 99);
        WaitForSingleObject(_handles->process.hProcess, INFINITE);
        _status = -2;
        _ended = true;
    }
    const std::string out = Read(_out), err = Read(_err);
    return {_status, 0, WithoutCarriageReturns(out), WithoutCarriageReturns(err), out, err};
}

ZebProcess::~ZebProcess() {
    if (!_handles)
        return;
    if (Running()) {
        TerminateProcess(_handles->process.hProcess, 99);
        WaitForSingleObject(_handles->process.hProcess, INFINITE);
    }
    if (_handles->inputWrite)
        CloseHandle(_handles->inputWrite);
    CloseHandle(_handles->process.hProcess);
    CloseHandle(_handles->process.hThread);
    delete _handles;
}

#else

struct ZebProcess::Handles {
    pid_t pid = -1;
    int inputWrite = -1;
};

void ZebProcess::Start(const std::vector<std::string>& arguments, const std::string* input) {
    _handles = new Handles();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int pipeEnds[2] = {-1, -1};
    if (input) {
        std::ofstream(_in, std::ios::binary) << *input;
        posix_spawn_file_actions_addopen(&actions, 0, _in.c_str(), O_RDONLY, 0);
    } else {
        if (pipe(pipeEnds) != 0)
            throw std::runtime_error("no pipe");
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[0], 0);
        posix_spawn_file_actions_addclose(&actions, pipeEnds[1]);
        _handles->inputWrite = pipeEnds[1];
    }
    posix_spawn_file_actions_addopen(&actions, 1, _out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, _err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const std::string program = Program().string();
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const int result = posix_spawn(&_handles->pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (pipeEnds[0] >= 0)
        close(pipeEnds[0]);
    if (result != 0)
        throw std::runtime_error("cannot start " + program);
}

bool ZebProcess::Running() {
    if (_ended)
        return false;
    int raw = 0;
    if (waitpid(_handles->pid, &raw, WNOHANG) == 0)
        return true;
    _status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    _signal = WIFSIGNALED(raw) ? WTERMSIG(raw) : 0;
    _ended = true;
    return false;
}

void ZebProcess::Interrupt() {
    Signal(SIGINT);
}

void ZebProcess::Signal(int number) {
    kill(_handles->pid, number);
}

void ZebProcess::Type(const std::string& text) {
    if (_handles->inputWrite < 0 ||
        write(_handles->inputWrite, text.data(), text.size()) != ssize_t(text.size()))
        throw std::runtime_error("cannot type on zeb's standard input");
}

Outcome ZebProcess::Wait() {
    if (_handles->inputWrite >= 0) {
        close(_handles->inputWrite);
        _handles->inputWrite = -1;
    }
    const auto deadline = std::chrono::steady_clock::now() + Guard;
    while (Running() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (Running()) {
        kill(_handles->pid, SIGKILL);
        waitpid(_handles->pid, nullptr, 0);
        _status = -2;
        _ended = true;
    }
    const std::string out = Read(_out), err = Read(_err);
    return {_status, _signal, out, err, out, err};
}

ZebProcess::~ZebProcess() {
    if (!_handles)
        return;
    if (Running()) {
        kill(_handles->pid, SIGKILL);
        waitpid(_handles->pid, nullptr, 0);
    }
    if (_handles->inputWrite >= 0)
        close(_handles->inputWrite);
    delete _handles;
}

#endif

fs::path ZebProcess::Program() {
    return TestEnvironment::ProgramFolder() / ZEB_TOOL_FILE;
}

std::string ZebProcess::Read(const fs::path& file) const {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Outcome ZebProcess::Run(const fs::path& folder, const std::vector<std::string>& arguments,
                        const std::string& input) {
    ZebProcess process(folder, arguments, &input);
    return process.Wait();
}

ZebProcess::ZebProcess(const fs::path& folder, const std::vector<std::string>& arguments)
    : ZebProcess(folder, arguments, nullptr) {}

ZebProcess::ZebProcess(const fs::path& folder, const std::vector<std::string>& arguments,
                       const std::string* input)
    : _out(folder / "zeb-out.txt"), _err(folder / "zeb-err.txt"), _in(folder / "zeb-in.txt") {
    Start(arguments, input);
}

bool ZebProcess::WaitFor(const std::function<bool(const std::string& out, const std::string& err)>& seen) {
    const auto deadline = std::chrono::steady_clock::now() + Guard;
    while (std::chrono::steady_clock::now() < deadline) {
        const bool running = Running();
        if (seen(WithoutCarriageReturns(Read(_out)), WithoutCarriageReturns(Read(_err))))
            return true;
        if (!running)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

} // namespace zeb::test
