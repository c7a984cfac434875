// zeb asked to end as services, `timeout`, containers and closed terminals ask (SIGTERM, SIGHUP):
// it stops as for Ctrl-C, with the summary of what it did, and exits 128 + the signal's number.
#include "ZebTest.h"

#include <chrono>
#include <csignal>
#include <regex>
#include <thread>

namespace zeb::test {

#if !defined(_WIN32)
// Under Wine no signal of this test program reaches zeb.exe (see the Ctrl-C tests).

class StopSignal : public ZebTest {};

TEST_F(StopSignal, EndsAContinuousAcquisitionWithItsSummary) {
    UseStation(AreaStation());
    for (const auto& [signal, status] : {std::pair{SIGINT, 130}, {SIGTERM, 143}, {SIGHUP, 129}}) {
        SCOPED_TRACE("signal " + std::to_string(signal));
        ZebProcess zeb(environment.Folder(), {"--station", _station, "acquire", "--continuous"});
        ASSERT_TRUE(zeb.WaitFor([](const std::string&, const std::string& err) {
            // Into a file zeb writes a plain progress line every few seconds: the first says it runs.
            return std::regex_search(err, std::regex("(^|\n)[0-9]+ image sets, [0-9.]+ per second"));
        }));
        zeb.Signal(signal);
        const Outcome run = zeb.Wait();
        EXPECT_EQ(run.signal, 0) << "the signal killed zeb instead of stopping it";
        EXPECT_EQ(run.status, status) << run.err;
        EXPECT_TRUE(std::regex_search(run.err, std::regex("interrupted after [0-9]+ image sets\n")))
            << run.err;
        EXPECT_TRUE(std::regex_search(run.out, std::regex("^[0-9]+ image sets of 64 x 192 pixels")))
            << run.out;
        EXPECT_THAT(run.out, AllOf(HasSubstr("0 lost, 0 failed\n"), Not(HasSubstr("wrote")))); // no --out
        EXPECT_THAT(run.rawErr, Not(HasSubstr("\r"))) << "no line rewritten in place into a file";
        // The acquisition was stopped: the camera's last operation.
        std::string last;
        for (const std::string& line : environment.TraceLines())
            if (line.starts_with("camera:"))
                last = line.substr(line.find('\t') + 1);
        EXPECT_EQ(last, "stop");
    }
}

TEST_F(StopSignal, EndsAShellWaitingForItsNextLine) {
    for (const auto& [signal, status] : {std::pair{SIGTERM, 143}, {SIGHUP, 129}}) {
        SCOPED_TRACE("signal " + std::to_string(signal));
        ZebProcess zeb(environment.Folder(), {"shell"});
        // A command answered: the shell runs (its handlers in place) and waits for its next line.
        zeb.Type("channels\n");
        ASSERT_TRUE(zeb.WaitFor(
            [](const std::string& out, const std::string&) { return !out.empty() && out.back() == '\n'; }));
        zeb.Signal(signal);
        // It ends with its input still open, by its own exit.
        EXPECT_FALSE(zeb.WaitFor([](const std::string&, const std::string&) { return false; }));
        const Outcome run = zeb.Wait();
        EXPECT_EQ(run.signal, 0) << "the signal killed zeb instead of stopping it";
        EXPECT_EQ(run.status, status) << run.err;
    }
}
#endif

} // namespace zeb::test
