// What the server and its connections share: the handler and its pool of threads, the limits, the
// connections alive, the count of requests under way (so that stopping waits for their answers),
// and the I/O context they all run on.
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

    ServerState(HttpServer::Handler handler_, HttpServer::Limits limits_)
        : handler(std::move(handler_)), limits(limits_), pool(limits_.handlerThreads) {}
    ~ServerState() { acceptor.reset(); }

    // Accepts the next connection, and again after it (see HttpServer.cpp).
    void Accept();
    // Makes room for a connection from `client`: the connection that has waited longest on its
    // client, among those of the client holding the most such connections, is closed; failing that,
    // the oldest long poll is answered now. False when every connection is busy being answered.
    bool MakeRoom();
    // Counts a request from reading it to writing its answer, so Stop can wait for the answers.
    void Begin() {
        std::lock_guard<std::mutex> lock(busyMutex);
        ++busy;
    }
    void End() {
        std::lock_guard<std::mutex> lock(busyMutex);
        if (--busy == 0)
            idle.notify_all();
    }
    void Gone(Connection* connection) {
        std::lock_guard<std::mutex> lock(registryMutex);
        registry.erase(connection);
        if (registry.empty())
            idle.notify_all();
    }
    // Waits until `done` holds (checked under busyMutex whenever a request ends or a connection
    // goes) or `longest` has passed.
    template <class Done> void WaitFor(std::chrono::milliseconds longest, Done done) {
        const auto until = Clock::now() + longest;
        std::unique_lock<std::mutex> lock(busyMutex);
        while (!done() && Clock::now() < until)
            idle.wait_for(lock, std::chrono::milliseconds(20));
    }
    size_t Connections() {
        std::lock_guard<std::mutex> lock(registryMutex);
        return registry.size();
    }
    // The connections alive now.
    std::vector<std::shared_ptr<Connection>> Snapshot();

    HttpServer::Handler handler;
    HttpServer::Limits limits;
    boost::asio::thread_pool pool;
    std::atomic<bool> stopping{false};
    std::atomic<uint64_t> answered{0}, malformed{0};
    std::mutex busyMutex;
    std::condition_variable idle;
    size_t busy = 0;
    std::mutex registryMutex;
    std::unordered_map<Connection*, std::weak_ptr<Connection>> registry;
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
