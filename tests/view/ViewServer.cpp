#include "ViewServer.h"

#include <regex>
#include <stdexcept>

namespace zeb::test {

ViewServer::ViewServer(const TestEnvironment& environment, const std::vector<std::string>& arguments) {
    std::vector<std::string> all = {"view", "--port", "0"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    _process = std::make_unique<ZebProcess>(environment.Folder(), all);
    // "zeb view: serving http://127.0.0.1:8177/" or "http://[::1]:8177/"
    const std::regex serving("serving http://\\[?([^/]*?)\\]?:([0-9]+)/");
    const bool up = _process->WaitFor([&](const std::string& out, const std::string&) {
        std::smatch match;
        if (!std::regex_search(out, match, serving))
            return false;
        _address = match[1];
        _port = static_cast<uint16_t>(std::stoi(match[2]));
        return true;
    });
    if (!up) {
        const Outcome outcome = _process->Wait();
        _process.reset();
        throw std::runtime_error("zeb view did not come up (status " + std::to_string(outcome.status) +
                                 "):\n" + outcome.out + outcome.err);
    }
}

ViewServer::~ViewServer() {
#if !defined(_WIN32)
    if (_process)
        Stop();
#endif
    // Under Wine no Ctrl-C reaches zeb.exe from a program: the process is ended instead.
}

Outcome ViewServer::Stop() {
    _process->Interrupt();
    Outcome outcome = _process->Wait();
    _process.reset();
    return outcome;
}

#if !defined(_WIN32)
Outcome ViewServer::Stop(int signal) {
    _process->Signal(signal);
    Outcome outcome = _process->Wait();
    _process.reset();
    return outcome;
}
#endif

std::string ViewServer::Output() {
    std::string out;
    _process->WaitFor([&](const std::string& seen, const std::string&) {
        out = seen;
        return true;
    });
    return out;
}

void ExpectAnswers(const HttpClient& client, const std::vector<Exchange>& exchanges) {
    for (const Exchange& e : exchanges) {
        const HttpAnswer answer = client.Send(e.method, e.target, e.body, e.headers);
        std::string headers;
        for (const auto& [name, value] : e.headers)
            headers += " " + name + ": " + value.substr(0, 80);
        SCOPED_TRACE(e.method + " " + e.target.substr(0, 300) + headers);
        EXPECT_EQ(answer.status, e.status) << answer.body;
        EXPECT_THAT(answer.body, e.says);
        EXPECT_TRUE(e.status != 405 || answer.Header("allow") != "") << "a 405 names the methods it takes";
    }
}

void ExpectRawAnswers(const HttpClient& client, const std::vector<RawExchange>& exchanges) {
    for (const RawExchange& e : exchanges) {
        const std::string answer = client.Raw(e.bytes);
        SCOPED_TRACE(e.what + ":\n" + answer);
        EXPECT_EQ(RawStatus(answer), e.status);
        const size_t body = answer.find("\r\n\r\n");
        EXPECT_TRUE(body != std::string::npos && answer.size() > body + 4) << "the answer says why";
        EXPECT_EQ(answer.find("HTTP/1.1 ", 1), std::string::npos);
    }
}

nlohmann::json ViewSuite::Status(int channel) {
    const HttpAnswer answer = Client().Get("/api/channels/" + std::to_string(channel) + "/status");
    EXPECT_EQ(answer.status, 200) << answer.body;
    return answer.Json();
}

nlohmann::json ViewSuite::WaitForStatus(int channel, const std::function<bool(const nlohmann::json&)>& done,
                                        std::chrono::seconds guard) {
    nlohmann::json status = Status(channel);
    const auto deadline = std::chrono::steady_clock::now() + guard;
    while (!done(status) && std::chrono::steady_clock::now() < deadline)
        status = Client()
                     .Get("/api/channels/" + std::to_string(channel) + "/status?since=" +
                          std::to_string(status["revision"].get<uint64_t>()) + "&wait=1000")
                     .Json();
    EXPECT_TRUE(done(status)) << status.dump();
    return status;
}

nlohmann::json ViewSuite::WaitForImageSets(int channel, int64_t count) {
    return WaitForStatus(channel, [&](const nlohmann::json& status) {
        return !status["imageSet"].is_null() && status["imageSet"]["number"].get<int64_t>() >= count;
    });
}

void ViewSuite::StopBoth() {
    for (const char* channel : {"0", "1"})
        EXPECT_EQ(Client().Post(std::string("/api/channels/") + channel + "/acquisition/stop").status, 200);
}

} // namespace zeb::test
