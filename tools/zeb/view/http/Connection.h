// One client connection of the server: reads a request, has it handled on the pool (or waits for
// what its answer waits for), writes the answer, and again while the client keeps the connection
// alive. Everything it does runs on its own strand of the server's I/O threads.
#pragma once

#include "view/http/RequestReader.h"
#include "view/http/ServerState.h"

#include <boost/beast/core.hpp>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <string>

namespace zeb::view {

// What a connection is doing.
enum class Phase {
    Fresh,     // accepted, nothing received yet
    Idle,      // answered, kept open by its client, nothing of the next request received yet
    Reading,   // part of a request received
    Handling,  // a request being answered
    Waiting,   // a long poll waiting for its event
    Writing,   // an answer being sent
    Lingering, // the last answer sent, waiting for the client to close
};

// Whether the connection waits on its client (what it holds is the client's doing).
bool WaitsOnClient(Phase phase);

// The order in which connections make room for a new one, lowest first; -1 for one that never
// does (a request being answered). Long polls are answered early with what they would say at their
// end; then go connections that wait on their client (idle between requests, stalled in the middle
// of a request or of its answer, open after the last answer); a fresh connection that has sent
// nothing yet last, so that a new client gets its first request in.
int GiveWayOrder(Phase phase);

class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(boost::asio::ip::tcp::socket socket, ServerState& state);
    ~Connection();

    const std::string& Client() const { return _client; }
    // Read from any thread; they change as the connection goes on, so a reader takes each once.
    Phase CurrentPhase() const { return _phase; }
    ServerState::Clock::rep Since() const { return _since; }
    // Refused (an answer that closes the connection): it no longer counts against the limit.
    bool Uncounted() const { return _uncounted; }
    // Claims the connection for MakeRoom; false when it is claimed already.
    bool Claim() { return !_claimed.exchange(true); }
    void Start();

    // Answers 503 at once and closes: every connection is busy being answered. It is not counted.
    void Refuse();

    // Makes room: a connection waiting on its client closes, a long poll is answered now and closes.
    void GiveWay();

    // The server stops: an idle connection closes, a long poll is answered now; a request under way
    // is answered, and the connection closes after it.
    void Finish();
    // Closes the socket at once, whatever it is doing; only once no I/O thread runs (the server has
    // stopped), so that a client still connected then is not left waiting for the server to go.
    void Abort();

private:
    // Part of a request has come, or is waiting to be read.
    bool Arriving();
    void Mark(Phase phase);
    void ReadNext();
    void Parse();
    void ReceiveMore();
    // The request's head is read: refused now (the screen's answer), or the client told to send the
    // body (100 Continue) when it waits for that, or read on.
    void Screen();
    void Dispatch();
    // The answer under way refuses the request: the connection closes after it and stops counting.
    void Uncount();

    // Runs a handler; what it throws becomes a 500 with its text.
    static HttpResponse Handle(const std::function<HttpResponse()>& handler);
    void BeginWait(std::shared_ptr<const HttpWait> wait, unsigned version, bool keepAlive);
    void EndWait();

    // Writes the answer; then reads the next request, or closes.
    void Write(const HttpResponse& response, unsigned version, bool keepAlive);

    // After the last answer: stops sending and reads what the client still sends until it closes
    // (bounded), so that closing does not reset the connection before the client has the answer.
    void Linger();
    void Close();

    boost::beast::tcp_stream _stream;
    ServerState& _state;
    RequestReader _reader;
    std::string _client;   // the client's address
    std::string _received; // bytes received and not yet read as a request
    std::array<char, 4096> _chunk{};
    bool _partial = false;    // part of a request has been read
    bool _closeAfter = false; // the connection closes after the answer under way
    bool _answered = false;   // an answer has been sent
    int _drained = 0;
    std::atomic<Phase> _phase{Phase::Fresh};
    std::atomic<ServerState::Clock::rep> _since{0};
    std::atomic<bool> _claimed{false};
    std::atomic<bool> _uncounted{false};
    // The long poll under way.
    boost::asio::steady_timer _waitTimer;
    std::shared_ptr<const HttpWait> _wait;
    HttpWait::Wake _wake;
    unsigned _waitVersion = 11;
    bool _waitKeepAlive = false;
};

} // namespace zeb::view
