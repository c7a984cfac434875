#include "view/http/HttpServer.h"

#include "view/http/Connection.h"
#include "view/http/ServerState.h"

#include <algorithm>
#include <map>
#include <stdexcept>
#include <tuple>

namespace zeb::view {

namespace beast = boost::beast;
namespace net = boost::asio;
using tcp = net::ip::tcp;

std::vector<std::shared_ptr<Connection>> ServerState::Snapshot() {
    std::lock_guard<std::mutex> lock(registryMutex);
    std::vector<std::shared_ptr<Connection>> connections;
    for (const auto& [raw, weak] : registry)
        if (auto connection = weak.lock())
            connections.push_back(std::move(connection));
    return connections;
}

bool ServerState::MakeRoom() {
    // Other threads change the connections' phases all the while: each is read once, and the
    // choice is made on these copies.
    struct Seen {
        std::shared_ptr<Connection> connection;
        int order;
        bool hog = false;
        Clock::rep since;
    };
    std::vector<Seen> seen;
    std::map<std::string, size_t> heldByClient;
    for (auto& connection : Snapshot()) {
        if (connection->Uncounted())
            continue;
        const Phase phase = connection->CurrentPhase();
        const Clock::rep since = connection->Since();
        const int order = GiveWayOrder(phase);
        if (WaitsOnClient(phase))
            ++heldByClient[connection->Client()];
        if (order >= 0)
            seen.push_back({std::move(connection), order, WaitsOnClient(phase), since});
    }
    const auto hog = std::max_element(heldByClient.begin(), heldByClient.end(),
                                      [](const auto& a, const auto& b) { return a.second < b.second; });
    for (Seen& candidate : seen)
        candidate.hog =
            candidate.hog && hog != heldByClient.end() && candidate.connection->Client() == hog->first;
    std::sort(seen.begin(), seen.end(), [](const Seen& a, const Seen& b) {
        return std::make_tuple(a.order, !a.hog, a.since) < std::make_tuple(b.order, !b.hog, b.since);
    });
    for (const Seen& candidate : seen)
        if (candidate.connection->Claim()) {
            candidate.connection->GiveWay();
            return true;
        }
    return false;
}

void ServerState::Accept() {
    acceptor->async_accept(net::make_strand(io), [this](beast::error_code error, tcp::socket socket) {
        if (error == net::error::operation_aborted || stopping)
            return;
        if (error) {
            // Out of descriptors or similar: wait a little instead of spinning.
            auto timer =
                std::make_shared<net::steady_timer>(acceptor->get_executor(), std::chrono::milliseconds(100));
            timer->async_wait([this, timer](beast::error_code) { Accept(); });
            return;
        }
        auto connection = std::make_shared<Connection>(std::move(socket), *this);
        const bool room = Connections() < limits.connections || MakeRoom();
        {
            std::lock_guard<std::mutex> lock(registryMutex);
            // Accepted while Stop took its snapshot of the connections: it closes as it goes.
            if (stopping)
                return;
            registry.emplace(connection.get(), connection);
        }
        if (room)
            connection->Start();
        else
            connection->Refuse();
        Accept();
    });
}

HttpServer::HttpServer(Handler handler, Limits limits, Screen screen)
    : _state(std::make_unique<ServerState>(std::move(handler), limits, std::move(screen))) {}

HttpServer::~HttpServer() {
    Stop();
}

uint16_t HttpServer::Start(const std::string& address, uint16_t port) {
    std::lock_guard<std::mutex> lock(_state->startStop);
    if (_state->started)
        throw std::logic_error("the server is already started");
    beast::error_code error;
    const net::ip::address ip = net::ip::make_address(address, error);
    if (error)
        throw std::runtime_error("\"" + address + "\" is not an IP address");
    const tcp::endpoint endpoint(ip, port);
    // The acceptor on a strand of its own: its handler and Stop's closing never run at once.
    tcp::acceptor& acceptor = _state->acceptor.emplace(net::make_strand(_state->io));
    auto fail = [&](const std::string& what) {
        _state->acceptor.reset();
        throw std::runtime_error("cannot " + what + " " + address + " port " + std::to_string(port) + ": " +
                                 error.message());
    };
    acceptor.open(endpoint.protocol(), error);
    if (error)
        fail("listen on");
#if !defined(_WIN32)
    // A restarted server may take its port again at once (on Windows this option would let two
    // servers share the port).
    acceptor.set_option(net::socket_base::reuse_address(true), error);
#endif
    acceptor.bind(endpoint, error);
    if (error)
        fail("bind to");
    acceptor.listen(net::socket_base::max_listen_connections, error);
    if (error)
        fail("listen on");
    const uint16_t bound = acceptor.local_endpoint().port();
    _state->started = true;
    _state->work.emplace(_state->io.get_executor());
    _state->Accept();
    for (int i = 0; i < 2; ++i)
        _state->ioThreads.emplace_back([state = _state.get()] { state->io.run(); });
    return bound;
}

void HttpServer::Stop() {
    std::lock_guard<std::mutex> lock(_state->startStop);
    if (!_state->started || _state->stopped)
        return;
    ServerState& state = *_state;
    state.stopped = true;
    state.stopping = true;
    net::post(state.acceptor->get_executor(), [&state] {
        beast::error_code ignored;
        state.acceptor->close(ignored);
    });
    for (const auto& connection : state.Snapshot())
        connection->Finish();
    // Every request read so far is answered; a request that was arriving gets a moment to arrive
    // (and is answered 503); then what is left is closed with the I/O threads.
    state.WaitFor(std::chrono::duration_cast<std::chrono::milliseconds>(state.limits.handlerTimeout),
                  [&] { return state.busy == 0; });
    state.WaitFor(std::chrono::seconds(3), [&] { return state.busy == 0 && state.Connections() == 0; });
    state.work.reset();
    state.io.stop();
    for (std::thread& thread : state.ioThreads)
        thread.join();
    state.ioThreads.clear();
    for (const auto& connection : state.Snapshot())
        connection->Abort();
    state.pool.join();
}

uint64_t HttpServer::Answered() const {
    return _state->answered;
}

uint64_t HttpServer::Malformed() const {
    return _state->malformed;
}

HttpServer::Statistics HttpServer::Now() const {
    Statistics now;
    now.connections = _state->Connections();
    now.refused = _state->Uncounted();
    now.waiting = _state->waiting;
    now.underWay = _state->Busy();
    now.received = _state->received;
    now.answered = _state->answered;
    return now;
}

} // namespace zeb::view
