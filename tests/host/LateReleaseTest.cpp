// A host that releases a channel from an exit handler registered before it loaded the plug-in: the
// call comes after the plug-in's static objects are gone, with its code still mapped. It must
// write its own log line to the log file, return 0 and touch nothing else: no file appears in the
// host's current folder, and the process ends cleanly (under the sanitizers too). The other calls
// the handler makes then find no channel.
#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace zeb::test {

namespace fs = std::filesystem;

namespace {

// Runs a program in `folder` and waits for it to end; its exit status, or -1 when it could not
// start or did not exit normally.
int RunProgram(const std::vector<fs::path>& command, const fs::path& folder) {
#if defined(_WIN32)
    std::wstring line;
    for (const fs::path& argument : command)
        line += (line.empty() ? L"\"" : L" \"") + argument.wstring() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(command[0].wstring().c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.wstring().c_str(), &startup, &process))
        return -1;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(status);
#else
    std::vector<std::string> arguments;
    for (const fs::path& argument : command)
        arguments.push_back(argument.string());
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const std::string directory = folder.string();
    const pid_t child = fork();
    if (child == 0) {
        if (chdir(directory.c_str()) == 0)
            execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
#endif
}

// One log line cut at its tabs: time, level, source file, source line, function, message.
std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, '\t');)
        fields.push_back(field);
    return fields;
}

// Where the release's log line stands against the unload's.
enum class Release { BeforeUnload, AfterUnload, Missing };

} // namespace

class LateRelease : public ::testing::Test {
protected:
    void SetUp() override {
        environment.EnableLogging("Debug");
        fs::create_directories(hostFolder);
#if defined(_WIN32)
        // Under Wine the host's heap then fills the blocks it frees with a pattern, so that bytes
        // read after they were freed show as such instead of as the text they held. (Windows itself
        // ignores the variable.)
        const char* debug = std::getenv("WINEDEBUG");
        wineDebug = debug ? debug : "";
        TestEnvironment::SetVariable("WINEDEBUG", "-all,warn+heap");
#endif
    }
#if defined(_WIN32)
    void TearDown() override {
        TestEnvironment::SetVariable("WINEDEBUG", wineDebug);
    }
    std::string wineDebug;
#endif

    // Runs the host (its handler in the module when one is named) and checks what every late
    // release must give.
    Release RunHost(const std::vector<fs::path>& module) {
        std::vector<fs::path> command{TestEnvironment::ProgramFolder() / ZEB_LATE_RELEASE_HOST, resultFile};
        command.insert(command.end(), module.begin(), module.end());
        EXPECT_EQ(RunProgram(command, hostFolder), 0) << "the host did not end cleanly";

        std::vector<std::string> stray;
        for (const auto& entry : fs::directory_iterator(hostFolder))
            stray.push_back(entry.path().filename().string());
        EXPECT_EQ(stray, std::vector<std::string>{}) << "files written into the host's current folder";

        const std::vector<std::string> lines = environment.LogLines();
        std::ptrdiff_t release = -1, unloading = -1;
        for (size_t i = 0; i < lines.size(); ++i) {
            const std::vector<std::string> fields = Fields(lines[i]);
            if (fields.size() != 6)
                continue;
            if (fields[5] == "Tamo.Morvane.Zeb unloading.")
                unloading = static_cast<std::ptrdiff_t>(i);
            if (fields[5] == "ReleaseVideoChannel") {
                EXPECT_EQ(release, -1) << "a second release line";
                release = static_cast<std::ptrdiff_t>(i);
                EXPECT_EQ(fields[1], "Debug");
                EXPECT_EQ(fields[2], "Main");
                EXPECT_EQ(fields[4], "Tamo::Morvane::Zeb::Main::ReleaseVideoChannel");
            }
        }
        EXPECT_NE(unloading, -1) << "the plug-in did not log its unload";
        EXPECT_NE(release, -1) << "the release did not reach the log";
        if (release < 0 || unloading < 0)
            return Release::Missing;
        const std::string results = TestEnvironment::ReadFile(resultFile);
        if (release < unloading) {
            EXPECT_TRUE(results.starts_with("ReleaseVideoChannel 0\nReadValue 0 ") &&
                        results.ends_with("\nGetVideoChannel 0 \n"))
                << results;
            return Release::BeforeUnload;
        }
        EXPECT_EQ(results, "ReleaseVideoChannel 0\n"
                           "ReadValue 1 Tamo::Morvane::Zeb::ReadValue: Invalid channel handle.\n"
                           "GetVideoChannel 1 \n");
        return Release::AfterUnload;
    }

    TestEnvironment environment;
    const fs::path hostFolder = environment.Folder() / "host";
    const fs::path resultFile = environment.Folder() / "released.txt";
};

TEST_F(LateRelease, FromTheProgramsExitHandler) {
    const Release release = RunHost({});
#if defined(_WIN32)
    // Windows runs a program's exit handlers before it unloads its DLLs: an ordinary release.
    EXPECT_EQ(release, Release::BeforeUnload);
#else
    EXPECT_EQ(release, Release::AfterUnload) << "nothing late was tested";
#endif
}

TEST_F(LateRelease, FromTheExitHandlerOfALibraryLoadedBeforeThePlugin) {
    EXPECT_EQ(RunHost({TestEnvironment::ProgramFolder() / ZEB_LATE_RELEASE_MODULE}), Release::AfterUnload)
        << "nothing late was tested";
}

} // namespace zeb::test
