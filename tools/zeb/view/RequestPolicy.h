// Which requests zeb view serves, so that it is safe beside a browser: while it listens on loopback
// only requests naming this machine (a web page cannot reach it through a name of its own, DNS
// rebinding); never one that a page of another site or origin sends, whatever its method; and a
// change only with a mark that a page of another site cannot send without asking first (a CORS
// preflight, which zeb view never grants).
#pragma once

#include "view/http/HttpMessage.h"

#include <optional>
#include <string>

namespace zeb::view {

// The header a script sends with a request that changes something (any value).
inline constexpr const char* ScriptHeader = "X-Zeb-Script";

// True when `address` is an IP address of this machine's loopback (127.0.0.0/8, ::1, and IPv4
// loopback written as IPv6), however it is spelt.
bool IsLoopbackAddress(const std::string& address);
// True when `address` is an IPv4 or IPv6 address (a name such as "localhost" is not).
bool IsIpAddress(const std::string& address);

class RequestPolicy {
public:
    explicit RequestPolicy(bool loopbackOnly) : _loopbackOnly(loopbackOnly) {}

    // Why the request is refused (it is answered 403 with this text), or empty.
    std::string Refusal(const HttpRequest& request) const;
    // The 403 answer to a refused request, or none: what the server asks of a request's head before
    // it reads the body.
    std::optional<HttpResponse> Screen(const HttpRequest& head) const;

private:
    bool _loopbackOnly;
};

} // namespace zeb::view
