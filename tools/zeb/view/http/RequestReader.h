// Reads requests from the bytes a connection receives: Beast's parser within the limits, and the
// checks it leaves to us (transfer codings, repeated Host, the target). The server and its fuzzer
// read through it alike.
#pragma once

#include "view/http/HttpMessage.h"

#include <cstddef>
#include <memory>
#include <string_view>

namespace zeb::view {

class RequestReader {
public:
    enum class Step {
        NeedMore,  // every byte given is used; a request is not complete yet
        Head,      // Request() holds the request's head (no body yet); Feed again for the rest
        Request,   // Request() is the next request; bytes after it were not used
        Malformed, // Refusal() is the answer; the connection is closed after it
    };

    RequestReader(size_t headerBytes, size_t bodyBytes);
    ~RequestReader();
    RequestReader(const RequestReader&) = delete;
    RequestReader& operator=(const RequestReader&) = delete;

    // Reads from `bytes`; `used` says how many it took (what follows belongs to the next request).
    // Each request gives Head once, as soon as its header is read, then Request once it is whole;
    // after Request or Malformed the reader starts afresh with the next byte.
    Step Feed(std::string_view bytes, size_t& used);
    // After Head: the request without its body; after Request: the whole request. Its HTTP version
    // (10 or 11) and whether the connection stays open.
    HttpRequest& Request() { return _request; }
    unsigned Version() const { return _version; }
    bool KeepAlive() const { return _keepAlive; }
    // After Head: the client waits for "100 Continue" before it sends the body (HTTP/1.1, "Expect:
    // 100-continue", a body still to come).
    bool ExpectsContinue() const { return _expectsContinue; }
    // After Malformed.
    const HttpResponse& Refusal() const { return _refusal; }

private:
    Step Refuse(int status, std::string text);
    Step Complete();
    // Fills Request() with the method, target and headers of `fields`; false for a malformed target.
    template <class Fields> bool ReadHead(const Fields& fields);

    struct Parser;
    std::unique_ptr<Parser> _parser;
    size_t _headerBytes, _bodyBytes;
    HttpRequest _request;
    unsigned _version = 11;
    bool _keepAlive = false;
    bool _expectsContinue = false;
    HttpResponse _refusal;
};

} // namespace zeb::view
