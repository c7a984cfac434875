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
        Request,   // Request() is the next request; bytes after it were not used
        Malformed, // Refusal() is the answer; the connection is closed after it
    };

    RequestReader(size_t headerBytes, size_t bodyBytes);
    ~RequestReader();
    RequestReader(const RequestReader&) = delete;
    RequestReader& operator=(const RequestReader&) = delete;

    // Reads from `bytes`; `used` says how many it took (what follows belongs to the next request).
    // After Request or Malformed the reader starts afresh with the next byte.
    Step Feed(std::string_view bytes, size_t& used);
    // After Request: the request, its HTTP version (10 or 11) and whether the connection stays open.
    HttpRequest& Request() { return _request; }
    unsigned Version() const { return _version; }
    bool KeepAlive() const { return _keepAlive; }
    // After Malformed.
    const HttpResponse& Refusal() const { return _refusal; }

private:
    Step Refuse(int status, std::string text);
    Step Complete();

    struct Parser;
    std::unique_ptr<Parser> _parser;
    size_t _headerBytes, _bodyBytes;
    HttpRequest _request;
    unsigned _version = 11;
    bool _keepAlive = false;
    HttpResponse _refusal;
};

} // namespace zeb::view
