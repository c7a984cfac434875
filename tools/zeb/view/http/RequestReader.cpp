#include "view/http/RequestReader.h"

#include <boost/algorithm/string/case_conv.hpp>
#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/trim.hpp>
#include <boost/asio/buffer.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <vector>

namespace zeb::view {

namespace beast = boost::beast;
namespace http = beast::http;

namespace {

// A header's name or a transfer coding as compared: lower case, without the blanks around it.
std::string Normalised(std::string_view text) {
    return boost::algorithm::to_lower_copy(
        boost::algorithm::trim_copy_if(std::string(text), boost::algorithm::is_any_of(" \t")));
}

const char* const BadTarget =
    "malformed request target: it must be a path with well-formed %XX escapes and no NUL";

} // namespace

struct RequestReader::Parser {
    http::request_parser<http::string_body> beast;
    bool headerChecked = false;
};

RequestReader::RequestReader(size_t headerBytes, size_t bodyBytes)
    : _headerBytes(headerBytes), _bodyBytes(bodyBytes) {}

RequestReader::~RequestReader() = default;

RequestReader::Step RequestReader::Refuse(int status, std::string text) {
    _parser.reset();
    _refusal = HttpResponse::Text(status, std::move(text));
    return Step::Malformed;
}

RequestReader::Step RequestReader::Feed(std::string_view bytes, size_t& used) {
    used = 0;
    if (!_parser) {
        _parser = std::make_unique<Parser>();
        _parser->beast.header_limit(static_cast<std::uint32_t>(_headerBytes));
        _parser->beast.body_limit(static_cast<std::uint64_t>(_bodyBytes));
    }
    auto& beast = _parser->beast;
    while (true) {
        if (beast.is_header_done() && !_parser->headerChecked) {
            // Beast goes by the last transfer coding alone and lets a body follow a request that
            // has none; a client or proxy that reads the codings otherwise would see another
            // request in that body. Only a lone "chunked" is taken.
            _parser->headerChecked = true;
            const auto& fields = beast.get();
            std::vector<std::string> codings;
            const auto [first, last] = fields.equal_range(http::field::transfer_encoding);
            for (auto field = first; field != last; ++field) {
                const std::string_view value(field->value().data(), field->value().size());
                size_t start = 0;
                while (start <= value.size()) {
                    const size_t end = std::min(value.find(',', start), value.size());
                    codings.push_back(Normalised(value.substr(start, end - start)));
                    start = end + 1;
                }
            }
            if (!codings.empty()) {
                if (fields.version() < 11 || codings.back() != "chunked" ||
                    std::count(codings.begin(), codings.end(), "chunked") > 1 ||
                    std::find(codings.begin(), codings.end(), "") != codings.end())
                    return Refuse(400, "malformed request: a body's length must be given by Content-Length "
                                       "or by \"Transfer-Encoding: chunked\" alone (HTTP/1.1)");
                if (codings.size() > 1)
                    return Refuse(501, "transfer coding \"" + codings.front() +
                                           "\" is not supported: send the body as it is, or chunked");
            }
            if (fields.count(http::field::host) > 1)
                return Refuse(400, "malformed request: more than one Host header");
            beast.eager(true);
            if (!ReadHead(fields))
                return Refuse(400, BadTarget);
            // An expectation other than 100-continue is ignored, as HTTP allows; so is one of
            // HTTP/1.0.
            const auto expect = fields[http::field::expect];
            _expectsContinue = fields.version() >= 11 && !beast.is_done() &&
                               Normalised(std::string_view(expect.data(), expect.size())) == "100-continue";
            return Step::Head;
        }
        if (beast.is_done())
            return Complete();
        if (used == bytes.size())
            return Step::NeedMore;
        beast::error_code error;
        used += beast.put(boost::asio::buffer(bytes.data() + used, bytes.size() - used), error);
        if (error == http::error::need_more)
            return Step::NeedMore;
        if (error == http::error::header_limit)
            return Refuse(431, "the request line and headers are longer than " +
                                   std::to_string(_headerBytes) +
                                   " bytes (a path that long names nothing here)");
        if (error == http::error::body_limit)
            return Refuse(413, "the body is longer than " + std::to_string(_bodyBytes) + " bytes");
        if (error)
            return Refuse(400, "malformed request: " + error.message());
    }
}

template <class Fields> bool RequestReader::ReadHead(const Fields& fields) {
    _version = fields.version();
    _keepAlive = fields.keep_alive();
    _request = HttpRequest();
    _request.method = std::string(fields.method_string());
    for (const auto& field : fields)
        _request.headers[boost::algorithm::to_lower_copy(std::string(field.name_string()))] =
            std::string(field.value());
    return ParseTarget(std::string(fields.target()), _request.path, _request.query);
}

RequestReader::Step RequestReader::Complete() {
    http::request<http::string_body> message = _parser->beast.release();
    _parser.reset();
    _request.body = std::move(message.body());
    _expectsContinue = false;
    return Step::Request;
}

} // namespace zeb::view
