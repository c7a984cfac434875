#include "ViewServer.h"

#include <stdexcept>

namespace zeb::test {

ViewServer::ViewServer(const TestEnvironment& environment, const std::vector<std::string>& arguments) {
    std::vector<std::string> all = {"view", "--port", "0"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    _process = std::make_unique<ZebProcess>(environment.Folder(), all);
    // "zeb view: serving http://127.0.0.1:8177/" or "http://[::1]:8177/"
    const std::string marker = "serving http://";
    std::string port;
    const bool up = _process->WaitFor([&](const std::string& out, const std::string&) {
        const size_t at = out.find(marker);
        const size_t end = at == std::string::npos ? at : out.find('/', at + marker.size());
        if (end == std::string::npos)
            return false;
        const std::string authority = out.substr(at + marker.size(), end - at - marker.size());
        const size_t colon = authority.rfind(':');
        _address = authority.substr(0, colon);
        if (_address.size() > 1 && _address.front() == '[')
            _address = _address.substr(1, _address.size() - 2);
        port = authority.substr(colon + 1);
        return true;
    });
    if (!up) {
        const Outcome outcome = _process->Wait();
        _process.reset();
        throw std::runtime_error("zeb view did not come up (status " + std::to_string(outcome.status) +
                                 "):\n" + outcome.out + outcome.err);
    }
    _port = static_cast<uint16_t>(std::stoi(port));
}

ViewServer::~ViewServer() {
    if (!_process)
        return;
#if defined(_WIN32)
    // Ctrl-C cannot reach zeb.exe from a program under Wine: the process is ended instead.
    _process.reset();
#else
    Stop();
#endif
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
        if (e.status == 405) {
            EXPECT_NE(answer.Header("allow"), "");
        }
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
