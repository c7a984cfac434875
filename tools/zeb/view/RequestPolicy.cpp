#include "view/RequestPolicy.h"

#include "base/Text.h"

#include <boost/asio/ip/address.hpp>

#include <algorithm>

namespace zeb::view {

namespace {

// The host of a Host header without its port; an IPv6 address without its brackets.
std::string HostName(const std::string& host) {
    if (!host.empty() && host[0] == '[') {
        const size_t end = host.find(']');
        return end == std::string::npos ? host : host.substr(1, end - 1);
    }
    return host.substr(0, host.find(':'));
}

bool ChangesSomething(const std::string& method) {
    return method != "GET" && method != "HEAD";
}

} // namespace

bool IsLoopbackAddress(const std::string& address) {
    boost::system::error_code error;
    const boost::asio::ip::address ip = boost::asio::ip::make_address(address, error);
    if (error)
        return false;
    if (ip.is_v6() && ip.to_v6().is_v4_mapped())
        return boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, ip.to_v6()).is_loopback();
    return ip.is_loopback();
}

bool IsIpAddress(const std::string& address) {
    boost::system::error_code error;
    boost::asio::ip::make_address(address, error);
    return !error;
}

std::string RequestPolicy::Refusal(const HttpRequest& request) const {
    const std::string host = request.Header("host");
    if (_loopbackOnly && !host.empty()) {
        const std::string name = HostName(host);
        if (cli::Lowercase(name) != "localhost" && !IsLoopbackAddress(name))
            return "zeb view serves this machine only; the request names the host \"" + host + "\"";
    }
    // Browsers say where a request comes from: Sec-Fetch-Site on every request (a request of the
    // page itself is "same-origin", one the user typed "none"), Origin on most that are not GETs.
    const std::string site = request.Header("sec-fetch-site");
    const std::string origin = request.Header("origin");
    if ((!site.empty() && site != "same-origin" && site != "none") ||
        (!origin.empty() && origin != "http://" + host))
        return "requests from pages of other sites or origins are refused" +
               (origin.empty() ? std::string() : " (" + origin + ")");
    if (ChangesSomething(request.method) && site != "same-origin" && !request.headers.count("x-zeb-client") &&
        !request.headers.count(cli::Lowercase(ScriptHeader)))
        return "a request that changes something must come from zeb view's page, or from a script that "
               "sends the header " +
               std::string(ScriptHeader);
    return {};
}

std::optional<HttpResponse> RequestPolicy::Screen(const HttpRequest& head) const {
    std::string refusal = Refusal(head);
    if (refusal.empty())
        return std::nullopt;
    return HttpResponse::Text(403, std::move(refusal));
}

} // namespace zeb::view
