// The panel's HTTP server, on Boost.Beast over Boost.Asio: one I/O thread
// accepts, reads and writes every connection asynchronously, and only
// requests that have arrived whole go to the handler threads, so slow or
// idle clients cost a socket, never a handler. Every request is bounded
// before anything of it is kept: its head, its body (also when chunked)
// and the time it takes to arrive; its head is checked before any of its
// body is read.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tavctl::http {

struct Limits {
    size_t headBytes = 16384;   // request line and header lines together
    size_t bodyBytes = 16384;   // after chunked decoding
    size_t connections = 512;   // open at once; more are refused with 503
    int handlerThreads = 4;
    std::chrono::milliseconds requestTime{10000}; // from a request's first byte to its last
    std::chrono::milliseconds idleTime{5000};     // a kept-alive connection between requests
    std::chrono::milliseconds writeTime{10000};   // for a whole answer
};

struct Request {
    std::string method;
    std::string target; // as sent: path and query
    std::string path;   // without the query
    std::string query;
    std::vector<std::pair<std::string, std::string>> headers; // names in lower case
    std::string body;

    bool HasHeader(const std::string& lowerName) const;
    std::string Header(const std::string& lowerName) const; // "" when absent
    // A query parameter, percent-decoded ("+" is a space); "" when absent.
    std::string Query(const std::string& name) const;
};

struct Response {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string contentType = "text/plain; charset=utf-8";
    std::string body;

    void SetHeader(const std::string& name, const std::string& value);
};

// Called on the I/O thread when a request's head has arrived, before any of
// its body is read: true lets the request go on; false answers with the
// response as filled in and closes the connection, the body unread.
using HeadCheck = std::function<bool(const Request&, Response&)>;
// Called on a handler thread with the whole request.
using Handler = std::function<void(const Request&, Response&)>;

class Server {
public:
    explicit Server(Limits limits = {});
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Listens on the IPv4 loopback address; port 0 takes a free one. Returns
    // the port, or -1 with *problem saying why (inUse: the port is taken).
    int Listen(int port, std::string* problem, bool* inUse);
    // Headers every answer carries, the server's own errors included.
    void SetDefaultHeaders(std::vector<std::pair<std::string, std::string>> headers);
    // Serves until Stop(); then lets answers being made finish for at most
    // `drain`, and returns.
    void Run(const HeadCheck& check, const Handler& handler, std::chrono::milliseconds drain);
    // From any thread (not from a signal handler).
    void Stop();

    // The text of a status code ("Not Found").
    static const char* Reason(int status);

    struct State; // the I/O thread's, and its connections'
private:
    std::unique_ptr<State> state_;
};

} // namespace tavctl::http
