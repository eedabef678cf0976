// The panel's request reader on any bytes, arriving in pieces of any size:
// it never keeps more than its limits allow, and what it hands on is whole.
// The first byte sets the piece size; the rest is the connection's stream.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "http_server.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    tavctl::http::Limits limits;
    limits.headBytes = 512;
    limits.headerLines = 8;
    limits.bodyBytes = 256;
    const size_t piece = 1 + data[0] % 64;
    tavctl::http::RequestReader reader(limits);
    std::string in;
    bool refuseNextHead = false;
    for (size_t offset = 1; offset < size; offset += piece) {
        in.append(reinterpret_cast<const char*>(data) + offset, std::min(piece, size - offset));
        for (;;) {
            const auto step = reader.Feed(in);
            if (step == tavctl::http::RequestReader::Step::Refused) {
                const int status = reader.RefusedStatus();
                if (status < 400 || status > 505 || reader.RefusedMessage().empty())
                    std::abort();
                return 0;
            }
            if (step == tavctl::http::RequestReader::Step::Head) {
                const tavctl::http::Request& head = reader.Pending();
                if (head.headers.size() > limits.headerLines || head.target.empty() || head.target[0] != '/'
                    || head.path.size() > head.target.size())
                    std::abort();
                // Some heads fail the caller's checks: the connection ends there.
                if (refuseNextHead)
                    return 0;
                refuseNextHead = head.method.size() % 3 == 0;
                reader.Admit();
                continue;
            }
            if (step == tavctl::http::RequestReader::Step::Whole) {
                const tavctl::http::Request request = reader.TakeRequest();
                if (request.body.size() > limits.bodyBytes)
                    std::abort();
                (void)request.Query("token");
                continue;
            }
            break;
        }
        // What waits in the buffer stays bounded by the head's limit.
        if (in.size() > limits.headBytes + piece)
            std::abort();
    }
    return 0;
}
