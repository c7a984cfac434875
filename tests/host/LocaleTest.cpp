// A host that switched its process to a language writing numbers with a decimal comma: the
// plug-in's numbers keep their decimal point, in feature values, assistant results and the log.
#include "ChannelTest.h"

#include <clocale>
#include <cstdlib>
#include <regex>

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace zeb::test {

namespace {

// The process's locale switched to German, as a host's own start-up may do. On Linux the locale is
// generated into a folder of our own when the system has none.
class GermanLocale {
public:
    GermanLocale() { _problem = Switch(); }
    ~GermanLocale() { std::setlocale(LC_ALL, "C"); }
    // Empty when the locale is in force, else why it is not.
    const std::string& Problem() const { return _problem; }

private:
    static std::string Switch() {
#if defined(_WIN32)
        if (!std::setlocale(LC_ALL, "German"))
            return "setlocale(LC_ALL, \"German\") failed";
#else
        if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) {
            const std::filesystem::path folder = std::filesystem::temp_directory_path() / "zeb-locales";
            if (const std::string problem = Generate(folder); !problem.empty())
                return problem;
            TestEnvironment::SetVariable("LOCPATH", folder.string());
            if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
                return "de_DE.UTF-8 was generated into " + folder.string() + " but setlocale refuses it";
        }
#endif
        const std::string point = std::localeconv()->decimal_point;
        return point == "," ? "" : "the German locale's decimal point is \"" + point + "\", not a comma";
    }

#if !defined(_WIN32)
    // localedef from the system's locale sources (Debian package "locales"); made once per machine,
    // in a folder of its own first so that tests running at the same time never see half of it.
    static std::string Generate(const std::filesystem::path& folder) {
        if (std::filesystem::exists(folder / "de_DE.UTF-8"))
            return "";
        const auto scratch = folder.string() + "-" + std::to_string(getpid());
        const auto made = std::filesystem::path(scratch) / "de_DE.UTF-8";
        std::error_code ignored;
        std::filesystem::create_directories(scratch, ignored);
        const std::string command = "localedef -i de_DE -f UTF-8 '" + made.string() + "' >/dev/null 2>&1";
        const int status = std::system(command.c_str());
        if (status != 0 || !std::filesystem::exists(made))
            return "no de_DE.UTF-8 locale on this system and \"" + command + "\" failed with status " +
                   std::to_string(status) +
                   " (install the Debian package \"locales\", as scripts/setup.sh does)";
        std::filesystem::create_directories(folder, ignored);
        std::filesystem::rename(made, folder / "de_DE.UTF-8", ignored); // another test may have been first
        std::filesystem::remove_all(scratch, ignored);
        return "";
    }
#endif

    std::string _problem;
};

} // namespace

class Locale : public ChannelTest {};

TEST_F(Locale, FeatureNumbersAssistantResultsAndLogLinesKeepTheirDecimalPoint) {
    Load(AreaStation());
    host::HostChannel channel = Channel();
    GermanLocale german;
    ASSERT_EQ(german.Problem(), "");
    for (const char* rate : {"2.5", "1234.75", "0.001"}) {
        ASSERT_TRUE(Write(channel, {{"AcquisitionLineRate", rate}}));
        EXPECT_EQ(Read(channel, "AcquisitionLineRate"), rate);
    }
    // A comma is no decimal point in a feature value, whatever the host's language.
    ASSERT_TRUE(Write(channel, {{"AcquisitionLineRate", "2,5"}}));
    EXPECT_EQ(Read(channel, "AcquisitionLineRate"), "2");

    ASSERT_TRUE(Write(
        channel,
        {{"DeviceImageSource", "Cam A"}, {"SetupMode", "On"}, {"DialogSelector", "Brightness detection"}}));
    ASSERT_TRUE(channel.Execute("DialogStart"));
    ASSERT_TRUE(Acquires(channel));
    EXPECT_NE(Read(channel, "DialogResult"), "Undefined");
    // The mean with two decimals, the two shares with four.
    const std::string arguments = Read(channel, "DialogResultMessageArguments");
    EXPECT_TRUE(std::regex_match(arguments, std::regex(R"(\d+\.\d\d;\d+\.\d{4};\d+\.\d{4})"))) << arguments;
    const Strings means = LoggedStartingWith("Intensity mean = ");
    ASSERT_FALSE(means.empty());
    EXPECT_TRUE(std::regex_match(means.front(), std::regex(R"(Intensity mean = \d+\.\d\d)")))
        << means.front();
}

} // namespace zeb::test
