#include "view/http/HttpMessage.h"

namespace zeb::view {

std::string HttpRequest::Header(const std::string& lowerCaseName) const {
    const auto found = headers.find(lowerCaseName);
    return found == headers.end() ? std::string() : found->second;
}

std::string HttpRequest::Query(const std::string& name, const std::string& otherwise) const {
    const auto found = query.find(name);
    return found == query.end() ? otherwise : found->second;
}

HttpResponse HttpResponse::Text(int status, std::string text) {
    HttpResponse response;
    response.status = status;
    response.body = std::move(text);
    return response;
}

HttpResponse HttpResponse::Json(int status, const std::string& json) {
    HttpResponse response;
    response.status = status;
    response.contentType = "application/json";
    response.body = json;
    return response;
}

HttpResponse HttpWait::Later(std::chrono::milliseconds longest, std::function<void(const Wake&)> watch,
                             std::function<HttpResponse()> answer) {
    auto wait = std::make_shared<HttpWait>();
    wait->longest = longest;
    wait->watch = std::move(watch);
    wait->answer = std::move(answer);
    HttpResponse response;
    response.wait = std::move(wait);
    return response;
}

std::string HeaderValue(const std::string& text) {
    static const char Hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            out.append({'\\', 'x', Hex[byte >> 4], Hex[byte & 15]});
        else
            out += c;
    }
    return out;
}

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Percent-decodes `text`; in a query '+' stands for a blank. False for a malformed escape or a NUL.
bool Decode(const std::string& text, bool query, std::string& out) {
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size())
                return false;
            const int high = HexDigit(text[i + 1]), low = HexDigit(text[i + 2]);
            if (high < 0 || low < 0)
                return false;
            c = static_cast<char>(high * 16 + low);
            i += 2;
        } else if (c == '+' && query) {
            c = ' ';
        }
        if (c == '\0')
            return false;
        out += c;
    }
    return true;
}

} // namespace

bool ParseTarget(const std::string& target, std::string& path, std::map<std::string, std::string>& query) {
    query.clear();
    if (target.empty() || target[0] != '/')
        return false;
    const size_t mark = target.find('?');
    if (!Decode(target.substr(0, mark), false, path))
        return false;
    if (mark == std::string::npos)
        return true;
    const std::string text = target.substr(mark + 1);
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('&', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string pair = text.substr(start, end - start);
        if (!pair.empty()) {
            const size_t equals = pair.find('=');
            std::string name, value;
            if (!Decode(pair.substr(0, equals), true, name) ||
                !Decode(equals == std::string::npos ? std::string() : pair.substr(equals + 1), true, value))
                return false;
            query[name] = value;
        }
        start = end + 1;
    }
    return true;
}

} // namespace zeb::view
