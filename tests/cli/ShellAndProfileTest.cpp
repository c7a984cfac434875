// zeb shell and profiles: settings that last beyond one command.
#include "ZebTest.h"
#include "base/CommandError.h"
#include "commands/CommandLine.h"

#if !defined(_WIN32)
#include <chrono>
#include <csignal>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#endif

namespace zeb::test {

namespace {
class ShellAndProfile : public ZebTest {};

#if !defined(_WIN32)
// zeb on a pseudo-terminal of 24 x 80 characters, as a person types into it.
class Terminal {
public:
    explicit Terminal(const std::vector<std::string>& arguments) {
        winsize size{};
        size.ws_row = 24;
        size.ws_col = 80;
        const std::string program = ZebProcess::Program().string();
        _pid = forkpty(&_master, nullptr, nullptr, &size);
        if (_pid == 0) {
            std::vector<char*> argv{const_cast<char*>(program.c_str())};
            for (const std::string& argument : arguments)
                argv.push_back(const_cast<char*>(argument.c_str()));
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
    }
    ~Terminal() {
        if (_pid > 0 && !_ended) {
            kill(_pid, SIGKILL);
            waitpid(_pid, nullptr, 0);
        }
        if (_master >= 0)
            close(_master);
    }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    // Types once the line editor reads key by key: the prompt appears before it leaves the
    // terminal's line mode, and keys typed in between would reach the terminal's own line editing
    // (which takes Ctrl-D as an end of input that never gets to zeb).
    void Type(const std::string& keys) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        termios mode{};
        while (tcgetattr(_master, &mode) == 0 && (mode.c_lflag & ICANON) &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_EQ(write(_master, keys.data(), keys.size()), ssize_t(keys.size()));
    }
    // Waits until `text` appears after what earlier waits matched; false after a guard against a hang.
    bool WaitFor(const std::string& text) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        while (std::chrono::steady_clock::now() < deadline) {
            if (const size_t at = _screen.find(text, _seen); at != std::string::npos) {
                _seen = at + text.size();
                return true;
            }
            if (!Read(100))
                return false;
        }
        return false;
    }
    // The exit status once zeb has ended; -1 when it has not within a minute (a guard against a hang:
    // the destructor ends it).
    int Wait() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        while (Read(100))
            if (std::chrono::steady_clock::now() > deadline)
                return -1;
        int raw = 0;
        waitpid(_pid, &raw, 0);
        _ended = true;
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    }
    const std::string& Screen() const { return _screen; }

private:
    // Reads what zeb wrote; false once the terminal is closed.
    bool Read(int milliseconds) {
        pollfd output{_master, POLLIN, 0};
        if (poll(&output, 1, milliseconds) <= 0)
            return true;
        char bytes[4096];
        const ssize_t count = read(_master, bytes, sizeof bytes);
        if (count <= 0)
            return false;
        _screen.append(bytes, static_cast<size_t>(count));
        return true;
    }

    int _master = -1;
    pid_t _pid = -1;
    bool _ended = false;
    std::string _screen;
    size_t _seen = 0;
};
#endif
} // namespace

TEST_F(ShellAndProfile, ShellKeepsOnePluginLoaded) {
    UseStation(AreaStation());
    Outcome run = Zeb({"shell"}, "set ExposureTime 80\nget ExposureTime\n");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "80\n"); // no prompt from a pipe
    EXPECT_EQ(run.err, "");

    // Quoting, comments, a failing line that does not end the shell, and settings that reach an acquisition.
    run = Zeb({"shell"}, "# bring-up\n"
                         "set LightingOrientation \"90 deg\"\n"
                         "get Nothing\n"
                         "set ExposureTime 70\n"
                         "acquire --out '" +
                             Path("shots").string() +
                             "'\n"
                             "get LightingOrientation\n"
                             "--station other.json channels\n"
                             "set 'unterminated\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("zeb: Feature Nothing does not exist.\n"));
    EXPECT_THAT(run.err, HasSubstr("zeb: the line ends inside a '...' quote\n"));
    EXPECT_THAT(run.out, HasSubstr("\n90 deg\n"));
    const PngContents stack = ReadPngFile(Path("shots") / "zeb-channel0-0001-stack.png");
    EXPECT_EQ(stack.texts.at("Exposure time"), "70 us");
    EXPECT_EQ(stack.texts.at("Lighting orientation"), "90 deg");

    run = Zeb({"shell"}, "get Width\nquit\nget Nothing\n");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "64\n");
}

TEST_F(ShellAndProfile, ProfileSavedAndApplied) {
    UseStation(AreaStation());
    const std::string profile = Path("bring-up.profile").string();
    Outcome run =
        Zeb({"profile", "save", profile, "--set", "ExposureTime=80", "--set", "LightingOrientation=90 deg"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("settings of BRELAN: Morvane (#0) to " + profile));
    const std::string text = TestEnvironment::ReadFile(profile);
    EXPECT_THAT(text, StartsWith("# "));
    EXPECT_THAT(text, HasSubstr("\nDeviceImageSource=Cam A\n"));
    EXPECT_THAT(text, HasSubstr("\nExposureTime=80\n"));
    EXPECT_THAT(text, HasSubstr("\nLightingOrientation=90 deg\n"));
    EXPECT_THAT(text, Not(HasSubstr("Dialog")));
    EXPECT_THAT(text, Not(HasSubstr("AcquisitionMode=")));
    EXPECT_THAT(text, Not(HasSubstr("DeviceImageSourceDetect")));
    EXPECT_THAT(text, Not(HasSubstr("DeviceScanType"))); // read-only
    // The camera comes first, so that selecting it does not reset the values after it.
    EXPECT_LT(text.find("DeviceImageSource="), text.find("ExposureTime="));

    run = Zeb({"get", "ExposureTime", "--profile", profile});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "80\n");
    EXPECT_EQ(run.err, "");
    // --set goes after the profile.
    run = Zeb({"get", "LightingOrientation", "--profile", profile, "--set", "LightingOrientation=270 deg"});
    EXPECT_EQ(run.out, "270 deg\n");

    TestEnvironment::WriteFile(Path("hand.profile"),
                               "# by hand\n\n  Gain = 2  \r\nLightingOrientation 0 deg\n");
    EXPECT_THAT(Zeb({"get", "Gain", "--profile", Path("hand.profile").string()}),
                FailsWith("zeb: " + Path("hand.profile").string() +
                          ":4: \"LightingOrientation 0 deg\" is not NAME=VALUE\n"));
    TestEnvironment::WriteFile(Path("hand.profile"), "# by hand\n\n  Gain = 2  \r\nTestPattern=Up\n");
    EXPECT_THAT(
        Zeb({"get", "Gain", "--profile", Path("hand.profile").string()}),
        FailsWith(
            "zeb: Enum value not valid. (Name = TestPattern, Value = Up)\nzeb: the choices are \"Off\", "
            "\"On\"; did you mean \"On\"?\nzeb: in " +
            Path("hand.profile").string() + ":4\n"));

    // profile load applies one; in zeb shell it lasts for the commands after it.
    run = Zeb({"profile", "load", profile});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.err, HasSubstr("zeb: the profile lasts for this command only"));
    run = Zeb({"shell"}, "profile load " + profile + "\nget ExposureTime\n");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "applied " + profile + " to BRELAN: Morvane (#0)\n80\n");
    for (const std::string action : {"load", "save"}) {
        EXPECT_THAT(
            Zeb({"profile", action}),
            FailsWith("zeb: profile " + action + " needs the profile file: profile " + action + " FILE\n"));
    }
    EXPECT_THAT(Zeb({"profile"}),
                FailsWith(AllOf(HasSubstr("profile save FILE"), HasSubstr("profile load FILE"))));

    // A file that is no profile zeb saved is kept; a folder is named; an earlier profile is replaced.
    const std::string station = Path("station.json").string();
    const std::string stationText = TestEnvironment::ReadFile(station);
    EXPECT_THAT(Zeb({"profile", "save", station}),
                FailsWith("zeb: " + station +
                          " exists and is not a profile zeb saved: remove it or choose another name\n"));
    EXPECT_EQ(TestEnvironment::ReadFile(station), stationText);
    EXPECT_THAT(
        Zeb({"profile", "save", environment.Folder().string()}),
        FailsWith("zeb: cannot write the profile " + environment.Folder().string() + ": it is a folder\n"));
    run = Zeb({"profile", "save", profile, "--set", "ExposureTime=90"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(TestEnvironment::ReadFile(profile), HasSubstr("\nExposureTime=90\n"));
}

// A shell line's words: quotes and escapes as the platform's own shell would take them, so that a
// Windows path is typed as it is.
TEST(ShellWords, QuotesAndEscapesSplitALineAsThePlatformsShellWould) {
    using cli::SplitWords;
    using Words = std::vector<std::string>;
    EXPECT_EQ(SplitWords("  set  Gain\t2 "), (Words{"set", "Gain", "2"}));
    EXPECT_EQ(SplitWords("profile save \"my line.profile\" 'a \"b\"' \"\" x"),
              (Words{"profile", "save", "my line.profile", "a \"b\"", "", "x"}));
    EXPECT_EQ(SplitWords("say \"a \\\" b\""), (Words{"say", "a \" b"}));
    EXPECT_EQ(SplitWords("'C:\\x\\'"), (Words{"C:\\x\\"}));
#if defined(_WIN32)
    EXPECT_EQ(SplitWords("profile load C:\\Users\\me\\line.profile \\\\server\\share\\a b\\ c"),
              (Words{"profile", "load", "C:\\Users\\me\\line.profile", "\\\\server\\share\\a", "b\\", "c"}));
#else
    EXPECT_EQ(SplitWords("profile load my\\ line.profile a\\\\b \\x \"c\\\\d\\e\""),
              (Words{"profile", "load", "my line.profile", "a\\b", "\\x", "c\\d\\e"}));
#endif
    for (const char* open : {"say \"unended", "say 'unended", "say \"a\\\""})
        EXPECT_THROW(SplitWords(open), cli::CommandError) << open;
}

TEST_F(ShellAndProfile, AProfileOfAnotherChannelSaysSo) {
    UseStation(AreaAndLineStation());
    const std::string line = Path("line.profile").string();
    Outcome run = Zeb({"profile", "save", line, "--channel", "1"});
    ASSERT_EQ(run.status, 0) << run.err;
    // Channel 0 is area scan: the line-scan values do not fit it.
    EXPECT_THAT(Zeb({"get", "Width", "--profile", line}),
                FailsWith(HasSubstr("zeb: the profile " + line +
                                    " was saved from BRELAN: Morvane (#1), not from BRELAN: Morvane (#0)")));
    // A profile of its own channel says nothing of the kind.
    run = Zeb({"get", "Width", "--profile", line, "--channel", "1"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.err, Not(HasSubstr("was saved from")));
}

TEST_F(ShellAndProfile, TerminalEditsLinesAndKeepsTheirHistory) {
#if defined(_WIN32)
    GTEST_SKIP() << "the Windows console edits lines and keeps their history itself";
#else
    UseStation(AreaStation());
    TestEnvironment::SetVariable("XDG_DATA_HOME", Path("data").string());
    TestEnvironment::SetVariable("TERM", "xterm");
    {
        Terminal zeb({"--station", _station, "shell"});
        ASSERT_TRUE(zeb.WaitFor("zeb> ")) << zeb.Screen();
        zeb.Type("get ExposureTme\x1b[D\x1b[Di\r"); // two steps left, and the missing letter
        ASSERT_TRUE(zeb.WaitFor("\r\n50\r\n")) << zeb.Screen();
        ASSERT_TRUE(zeb.WaitFor("zeb> ")) << zeb.Screen();
        zeb.Type("get Expo\x83sure\xa1Time\r"); // stray bytes are no keys (0x83 no Ctrl-C, 0xa1 no "!")
        ASSERT_TRUE(zeb.WaitFor("\r\n50\r\n")) << zeb.Screen();
        ASSERT_TRUE(zeb.WaitFor("zeb> ")) << zeb.Screen();
        zeb.Type("get Gain");
        ASSERT_TRUE(zeb.WaitFor("Gain")) << zeb.Screen();
        zeb.Type("\x03"); // Ctrl-C drops the line
        ASSERT_TRUE(zeb.WaitFor("zeb> ")) << zeb.Screen();
        zeb.Type("quit\r");
        EXPECT_EQ(zeb.Wait(), 0) << zeb.Screen();
        EXPECT_THAT(zeb.Screen(), Not(HasSubstr("\r\n0\r\n")))
            << "the dropped line did not run: " << zeb.Screen();
    }
    const std::string history = TestEnvironment::ReadFile(Path("data") / "zeb" / "shell-history");
    EXPECT_THAT(history, HasSubstr("ExposureTime"));
    EXPECT_THAT(history, Not(HasSubstr("Gain")));
    {
        Terminal zeb({"--station", _station, "shell"});
        ASSERT_TRUE(zeb.WaitFor("zeb> ")) << zeb.Screen();
        zeb.Type("\x1b[A\x1b[A\r"); // back past "quit" to the command of the last run
        ASSERT_TRUE(zeb.WaitFor("\r\n50\r\n")) << zeb.Screen();
        ASSERT_TRUE(zeb.WaitFor("zeb> ")) << zeb.Screen();
        zeb.Type("\x04"); // Ctrl-D on an empty line ends the shell
        EXPECT_EQ(zeb.Wait(), 0) << zeb.Screen();
    }
#endif
}

} // namespace zeb::test
