// zeb view run as a process on a free port, talked to over HTTP, stopped with Ctrl-C or a signal.
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
#include <utility>
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
    // `zeb view --port 0` and the arguments in the environment's folder; throws when it does not come up.
    ViewServer(const TestEnvironment& environment, const std::vector<std::string>& arguments = {});
    ~ViewServer();

    uint16_t Port() const { return _port; }
    // A client of the address it serves that sends `page` as its page id (none when empty).
    HttpClient Client(const std::string& page = {}) const { return HttpClient(_port, page, _address); }
    // Presses Ctrl-C, or sends the signal, and waits for the end.
    Outcome Stop();
#if !defined(_WIN32)
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
    static void StartServer(const std::vector<std::string>& arguments = {}) {
        environment = new TestEnvironment();
        server = new ViewServer(*environment, arguments);
    }
    static void TearDownTestSuite() {
        delete std::exchange(server, nullptr);
        delete std::exchange(environment, nullptr);
    }
    static HttpClient Client(const std::string& page = {}) { return server->Client(page); }

    // The channel's status, followed as the page does until `done` holds (a failure after the guard).
    static nlohmann::json Status(int channel);
    static nlohmann::json WaitForStatus(int channel, const std::function<bool(const nlohmann::json&)>& done,
                                        std::chrono::seconds guard = std::chrono::seconds(60));
    // Until the channel shows image set `count` or a later one.
    static nlohmann::json WaitForImageSets(int channel, int64_t count);
    // As every acquiring test leaves them.
    static void StopBoth();

    inline static TestEnvironment* environment = nullptr;
    inline static ViewServer* server = nullptr;
};

} // namespace zeb::test
