// zeb view run as a process for the tests of one file: started once on a free port, talked to over
// HTTP, stopped with Ctrl-C or another signal (ended at once under Wine, where none can reach it).
#pragma once

#include "HttpClient.h"
#include "TestEnvironment.h"
#include "ZebProcess.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zeb::test {

using ::testing::AllOf;
using ::testing::Each;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::IsSupersetOf;
using ::testing::Not;
using ::testing::StartsWith;
using ::testing::UnorderedElementsAre;

class ViewServer {
public:
    // Starts `zeb view --port 0` in the environment's folder (its station, settings and trace) with
    // the extra arguments; throws std::runtime_error when it does not come up.
    ViewServer(const TestEnvironment& environment, const std::vector<std::string>& arguments = {});
    ~ViewServer();

    uint16_t Port() const { return _port; }
    // A client of the address it serves, as it says, that sends `page` as its page id (none when empty).
    HttpClient Client(const std::string& page = {}) const { return HttpClient(_port, page, _address); }
    // Presses Ctrl-C and waits for the end.
    Outcome Stop();
#if !defined(_WIN32)
    // Sends the signal (SIGTERM, SIGHUP, ...) and waits for the end.
    Outcome Stop(int signal);
#endif
    // What the server printed so far.
    std::string Output();

private:
    std::unique_ptr<ZebProcess> _process;
    uint16_t _port = 0;
    std::string _address;
};

// A request and the answer it must get: the status and its body's text (any text when not named).
// A 405 must name the methods the path takes.
struct Exchange {
    std::string method, target, body;
    int status;
    ::testing::Matcher<const std::string&> says = ::testing::Not(::testing::IsEmpty());
    HttpClient::Headers headers = {};
};
void ExpectAnswers(const HttpClient& client, const std::vector<Exchange>& exchanges);

// Bytes sent on a connection of their own, and the status of the one answer they must get, which
// says why: nothing after it is read as a request.
struct RawExchange {
    std::string what, bytes;
    int status;
};
void ExpectRawAnswers(const HttpClient& client, const std::vector<RawExchange>& exchanges);

// The fixture of one file's tests: a fresh environment and one zeb view for all of them.
class ViewSuite : public ::testing::Test {
protected:
    // Starts the server in a fresh environment with the file's arguments.
    static void StartServer(const std::vector<std::string>& arguments = {}) {
        environment = new TestEnvironment();
        server = new ViewServer(*environment, arguments);
    }
    static void TearDownTestSuite() {
        delete server;
        delete environment;
        server = nullptr;
        environment = nullptr;
    }
    static HttpClient Client(const std::string& page = {}) { return server->Client(page); }

    // The channel's status as the page reads it.
    static nlohmann::json Status(int channel);
    // Follows the status as the page does until `done` holds for it; fails the test after the guard.
    static nlohmann::json WaitForStatus(int channel, const std::function<bool(const nlohmann::json&)>& done,
                                        std::chrono::seconds guard = std::chrono::seconds(60));
    // Until the channel shows image set `count` or a later one.
    static nlohmann::json WaitForImageSets(int channel, int64_t count);
    // Stops both channels' acquisitions, as every acquiring test leaves them.
    static void StopBoth();

    inline static TestEnvironment* environment = nullptr;
    inline static ViewServer* server = nullptr;
};

} // namespace zeb::test
