// What the server and its connections share: the handler, the screen and the handler's pool of
// threads, the limits, the connections alive (and how many of them are refused and no longer
// count), the count of requests under way (so that stopping waits for their answers) and of long
// polls waiting, and the I/O context they all run on.
#pragma once

#include "view/http/HttpServer.h"

#include <boost/asio.hpp>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <vector>

namespace zeb::view {

class Connection;

struct ServerState {
    using Clock = std::chrono::steady_clock;

    ServerState(HttpServer::Handler handler_, HttpServer::Limits limits_, HttpServer::Screen screen_)
        : handler(std::move(handler_)), screen(std::move(screen_)), limits(limits_),
          pool(limits_.handlerThreads) {}
    ~ServerState() { acceptor.reset(); }

    // Accepts the next connection, and again after it (see HttpServer.cpp).
    void Accept();
    // Makes room for a new connection: the first connection in the order of GiveWayOrder
    // (Connection.h) gives way, within an order those of the client that holds the most connections
    // waiting on it first, then the one that has waited longest. False when every connection is busy
    // being answered.
    bool MakeRoom();
    // Counts a request from reading it to writing its answer, so Stop can wait for the answers.
    void Begin() {
        std::lock_guard<std::mutex> lock(busyMutex);
        ++busy;
        ++received;
    }
    void End() {
        std::lock_guard<std::mutex> lock(busyMutex);
        if (--busy == 0)
            idle.notify_all();
    }
    void Gone(Connection* connection, bool uncounted) {
        std::lock_guard<std::mutex> lock(registryMutex);
        registry.erase(connection);
        if (uncounted)
            --refused;
        if (registry.empty())
            idle.notify_all();
    }
    // A connection refused: it closes after its answer and no longer counts.
    void Uncount() {
        std::lock_guard<std::mutex> lock(registryMutex);
        ++refused;
    }
    // Waits until `done` holds (checked under busyMutex whenever a request ends or a connection
    // goes) or `longest` has passed.
    template <class Done> void WaitFor(std::chrono::milliseconds longest, Done done) {
        const auto until = Clock::now() + longest;
        std::unique_lock<std::mutex> lock(busyMutex);
        while (!done() && Clock::now() < until)
            idle.wait_for(lock, std::chrono::milliseconds(20));
    }
    // The connections that count against the limit.
    size_t Connections() {
        std::lock_guard<std::mutex> lock(registryMutex);
        return registry.size() - refused;
    }
    size_t Uncounted() {
        std::lock_guard<std::mutex> lock(registryMutex);
        return refused;
    }
    size_t Busy() {
        std::lock_guard<std::mutex> lock(busyMutex);
        return busy;
    }
    // The connections alive now.
    std::vector<std::shared_ptr<Connection>> Snapshot();

    HttpServer::Handler handler;
    HttpServer::Screen screen;
    HttpServer::Limits limits;
    boost::asio::thread_pool pool;
    std::atomic<bool> stopping{false};
    std::atomic<uint64_t> answered{0}, malformed{0}, received{0};
    std::atomic<size_t> waiting{0}; // long polls waiting for their event
    std::mutex busyMutex;
    std::condition_variable idle;
    size_t busy = 0;
    std::mutex registryMutex;
    std::unordered_map<Connection*, std::weak_ptr<Connection>> registry;
    size_t refused = 0; // connections in the registry that no longer count
    std::mutex startStop;
    bool started = false, stopped = false;
    std::vector<std::thread> ioThreads;
    std::optional<boost::asio::ip::tcp::acceptor> acceptor;
    // Last, so that it goes first: destroying it destroys the connections still waiting in it.
    boost::asio::io_context io;
    // Keeps the I/O threads running while no operation is pending (a request on the pool).
    std::optional<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>> work;
};

} // namespace zeb::view
