// zeb for people and scripts: help with defaults, versions, the bash completion.
#include "ZebTest.h"

#include <algorithm>
#include <regex>

namespace zeb::test {

namespace {
class HelpAndVersion : public ZebTest {};
using ::testing::EndsWith;
using ::testing::StartsWith;

} // namespace

TEST_F(HelpAndVersion, HelpShowsEachOptionsDefault) {
    Outcome help = Zeb({"help", "acquire"});
    EXPECT_EQ(help.status, 0) << help.err;
    EXPECT_TRUE(std::regex_search(help.out, std::regex("--count[^\n]*=1\\b"))) << help.out;
    EXPECT_TRUE(std::regex_search(help.out, std::regex("--out[^\n]*=\\.\\s"))) << help.out;
    EXPECT_TRUE(std::regex_search(help.out, std::regex("--channel[^\n]*=0\\b"))) << help.out;
    EXPECT_THAT(help.out, HasSubstr("--setup-mode"));
    const Outcome same = Zeb({"acquire", "--help"});
    EXPECT_EQ(same.status, 0);
    EXPECT_EQ(same.out, help.out);
    const Outcome all = Zeb({"--help"});
    EXPECT_EQ(all.status, 0);
    for (const char* command : {"channels", "features", "get", "set", "exec", "acquire", "assist", "profile",
                                "station", "shell", "help", "completion"})
        EXPECT_TRUE(std::regex_search(all.out, std::regex(std::string("\n  ") + command + " "))) << command;
    EXPECT_THAT(Zeb({"help", "aquire"}),
                FailsWith("zeb: no command \"aquire\"\nzeb: did you mean \"acquire\"?\n"));
}

TEST_F(HelpAndVersion, VersionOfZebAndOfThePlugin) {
    const Outcome run = Zeb({"--version"});
    EXPECT_EQ(run.status, 0) << run.err;
    // Both from the build's one version source: zeb's compiled in, the plug-in's read from its file.
    const std::string zeb = "zeb " ZEB_PLUGIN_VERSION "\n";
    EXPECT_THAT(run.out, StartsWith(zeb + "plug-in " ZEB_PLUGIN_VERSION " "));
    EXPECT_THAT(run.out, EndsWith(ZEB_PLUGIN_FILE_NAME "\n"));
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 2) << run.out;
    // A file that is no plug-in: zeb's own version, then the reason, and a failure status.
    TestEnvironment::WriteFile(Path("not-a-plugin.dll"), "text");
    const Outcome wrong = Zeb({"--plugin", Path("not-a-plugin.dll").string(), "--version"});
    EXPECT_EQ(wrong.status, 1);
    EXPECT_EQ(wrong.out, zeb);
    EXPECT_THAT(wrong.err, HasSubstr("not-a-plugin.dll: ")) << wrong.err;
}

TEST_F(HelpAndVersion, BashCompletion) {
    const Outcome run = Zeb({"completion"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("complete -F _zeb zeb\n"));
    EXPECT_THAT(run.out, HasSubstr("features --names"));
#if !defined(_WIN32)
    // Complete as bash does: the script sourced, the words of the line so far.
    TestEnvironment::WriteFile(Path("completion.bash"), run.out);
    UseStation(AreaStation());
    auto complete = [&](const std::string& line) {
        const std::string script = "source " + Path("completion.bash").string() + "; COMP_WORDS=(" + line +
                                   "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _zeb; echo \"${COMPREPLY[*]}\"";
        const auto out = Path("completed.txt");
        const std::string command = "PATH=" + ZebProcess::Program().parent_path().string() +
                                    ":$PATH bash -c '" + script + "' > " + out.string() + " 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0);
        return TestEnvironment::ReadFile(out);
    };
    EXPECT_EQ(complete("zeb cha"), "channels\n");
    EXPECT_EQ(complete("zeb get Exposure"), "ExposureTime\n");
    EXPECT_EQ(complete("zeb assist or"), "orientation\n");
    EXPECT_EQ(complete("zeb acquire --cou"), "--count\n");
    EXPECT_EQ(complete("zeb acquire --set LightingOr"), "LightingOrientation=\n");
    // An enumeration's values after set NAME and --set NAME=, whether or not bash split the "=".
    EXPECT_EQ(complete("zeb set LightingOrientation 9"), "90\\ deg\n");
    EXPECT_EQ(complete("zeb set SetupMode \"\""), "Off On\n");
    EXPECT_EQ(complete("zeb acquire --set LightingOrientation=2"), "LightingOrientation=270\\ deg\n");
    EXPECT_EQ(complete("zeb acquire --set SetupMode = O"), "Off On\n");
    // Files after profile save and load, --profile and --station; channels after --channel.
    TestEnvironment::WriteFile(Path("bring-up.profile"), "Gain=0\n");
    const std::string folder = environment.Folder().string() + "/";
    EXPECT_EQ(complete("zeb profile save " + folder + "bring"), folder + "bring-up.profile\n");
    EXPECT_EQ(complete("zeb profile load " + folder + "bring"), folder + "bring-up.profile\n");
    EXPECT_EQ(complete("zeb get Gain --profile " + folder + "bring"), folder + "bring-up.profile\n");
    EXPECT_EQ(complete("zeb --station " + folder + "bring"), folder + "bring-up.profile\n");
    EXPECT_EQ(complete("zeb acquire --channel \"\""), "0 1\n"); // the built-in station's two channels
#endif
}

TEST_F(HelpAndVersion, ViewHelpSaysWhereItsFilesGo) {
    const Outcome run = Zeb({"view", "--help"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.out, AllOf(HasSubstr("recordings"), HasSubstr("calibration files")));
}

TEST_F(HelpAndVersion, CountsAgreeAndLinesEndAsThePlatformWants) {
    Json station = AreaStation();
    station["cameras"].push_back(LineCamera()); // listed by zeb station, not offered to the channel
    UseStation(station);
    std::vector<Outcome> runs;
    runs.push_back(Zeb({"acquire", "--setup-mode", "On", "--out", Path("shots").string()}));
    EXPECT_EQ(runs.back().status, 0) << runs.back().err;
    EXPECT_THAT(runs.back().out, HasSubstr("wrote 1 file of image set 1 to ")) << runs.back().out;
    runs.push_back(Zeb({"--help"}));
    runs.push_back(Zeb({"acquire", "--count", "x"}));
    runs.push_back(Zeb({"station"}));
    runs.push_back(Zeb({"get", "ExposureTime", "--json"}));
    runs.push_back(Zeb({"assist", "trigger", "--yes", "--act-time", "0", "--json"}));
    runs.push_back(Zeb({"shell"}, "get Width\nget Nothing\nset 'x\n"));
    station["cables"] = Json::array();
    UseStation(station);
    runs.push_back(Zeb({"channels", "--detect"}));
    runs.push_back(Zeb({"acquire"}));
    EXPECT_THAT(runs.back().err, HasSubstr("zeb: nothing carries the frame trigger")) << runs.back().err;
    // Every line written to standard output and standard error, whoever writes it (zeb, CLI11, the
    // plug-in), ends in CR LF on Windows and in LF elsewhere, and no line end is doubled.
#if defined(_WIN32)
    const std::string lineEnd = "\r\n";
#else
    const std::string lineEnd = "\n";
#endif
    for (const Outcome& run : runs)
        for (const std::string* stream : {&run.rawOut, &run.rawErr}) {
            size_t lines = 0, ended = 0;
            for (size_t at = stream->find('\n'); at != std::string::npos; at = stream->find('\n', at + 1)) {
                ++lines;
                const size_t start = at + 1 - std::min(at + 1, lineEnd.size());
                ended += stream->compare(start, at + 1 - start, lineEnd) == 0 &&
                         (start == 0 || (*stream)[start - 1] != '\r');
            }
            EXPECT_EQ(ended, lines) << *stream;
        }
}

} // namespace zeb::test
