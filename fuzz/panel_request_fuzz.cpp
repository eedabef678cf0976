// The panel's checks and routes on any request the HTTP engine could hand
// them, on a virtual board: whatever the method, path, headers and body,
// the answer is a status the panel means (never 500) with a JSON body on
// the API. The input is the request's text: a line with the method and the
// target, header lines, an empty line, the body.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "panel.h"

namespace {

tavctl::Context& Board()
{
    static tavctl::Context* const context = [] {
        auto* made = new tavctl::Context;
        made->options.simModel = "T";
        made->options.virtualTime = true;
        return made;
    }();
    return *context;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    std::freopen("/dev/null", "w", stdout);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static tavctl::PanelRoutes routes(Board(), 8080);
    const std::string text(reinterpret_cast<const char*>(data), size);
    tavctl::http::Request request;
    size_t end = text.find('\n');
    const std::string first = text.substr(0, end);
    const size_t space = first.find(' ');
    request.method = first.substr(0, space);
    request.target = space == std::string::npos ? "/" : first.substr(space + 1);
    const size_t question = request.target.find('?');
    request.path = request.target.substr(0, question);
    request.query = question == std::string::npos ? "" : request.target.substr(question + 1);
    // Most requests carry this panel's host and token, so that the routes
    // behind the checks are reached.
    if (size % 4 != 0) {
        request.headers.emplace_back("host", "127.0.0.1:8080");
        request.headers.emplace_back("x-tav-token", routes.Token());
    }
    while (end != std::string::npos) {
        const size_t next = text.find('\n', end + 1);
        const std::string line = text.substr(end + 1, next == std::string::npos ? std::string::npos : next - end - 1);
        end = next;
        if (line.empty()) {
            request.body = end == std::string::npos ? "" : text.substr(end + 1);
            break;
        }
        const size_t colon = line.find(':');
        request.headers.emplace_back(line.substr(0, colon), colon == std::string::npos ? "" : line.substr(colon + 1));
    }
    tavctl::http::Response response;
    if (routes.Admit(request, response))
        routes.Handle(request, response);
    if (response.status < 200 || response.status > 503 || response.status == 500)
        std::abort();
    if (request.path.rfind("/api/", 0) == 0 && response.body.empty())
        std::abort();
    return 0;
}
