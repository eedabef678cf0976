// A small, strict HTTP/1.1 server for the panel: one thread reads and writes
// every connection (poll), and only requests that have arrived whole go to
// the handler threads, so slow or idle clients cost a socket, never a
// handler. Every request is bounded before anything of it is kept: its head
// (count and size of header lines), its body (also when chunked) and the
// time it takes to arrive (headers and body together).
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
    size_t headerLines = 100;   // header lines (and chunked trailer lines)
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

// Reads one request after the other from the bytes of a connection as they
// arrive, within the limits. No sockets: the server feeds it, and so can a
// fuzzer.
class RequestReader {
public:
    enum class Step {
        More,    // needs more bytes
        Head,    // the head is there: check it, then Admit() to read the body
        Whole,   // the request is complete: TakeRequest()
        Refused, // the request breaks a rule: Refusal(); the connection ends
    };

    explicit RequestReader(const Limits& limits) : limits_(limits) {}

    // Takes what it can use from the front of `in`.
    Step Feed(std::string& in);
    // After Step::Head: the body is to be read.
    void Admit();
    // The request as far as it has arrived (after Step::Head: the head).
    const Request& Pending() const { return request_; }
    // After Step::Whole; the reader then waits for the next request.
    Request TakeRequest();

    bool Started() const { return started_; } // a byte of the current request has arrived
    bool KeepAlive() const { return keepAlive_; }
    bool HeadOnly() const { return headOnly_; } // HEAD: the answer goes without its body
    // True once when "100 Continue" is due: the client waits for it before
    // sending the body.
    bool TakeContinue() { return std::exchange(wantsContinue_, false); }
    int RefusedStatus() const { return refusedStatus_; }
    const std::string& RefusedMessage() const { return refusedMessage_; }

private:
    enum class Stage { Head, Checking, Framing, Fixed, ChunkSize, ChunkData, ChunkEnd, Trailers, Whole, Refused };

    bool TakeHead(std::string& in);
    void ParseRequestLine(const std::string& line);
    void ParseHeaderLine(const std::string& line);
    void FrameBody();
    bool TakeBody(std::string& in);

    Limits limits_;
    Stage stage_ = Stage::Head;
    Request request_;
    bool started_ = false;
    bool keepAlive_ = true;
    bool http11_ = true;
    bool headOnly_ = false;
    bool wantsContinue_ = false;
    size_t remaining_ = 0; // of the fixed body or of the current chunk
    size_t trailerLines_ = 0;
    int refusedStatus_ = 0;
    std::string refusedMessage_;
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

    // Listens on an IPv4 address; port 0 takes a free one. Returns the port,
    // or -1 (errno tells why: EADDRINUSE when the port is taken).
    int Listen(const std::string& address, int port);
    // Headers every answer carries, the server's own errors included.
    void SetDefaultHeaders(std::vector<std::pair<std::string, std::string>> headers);
    // Serves until Stop(); then lets answers being made finish for at most
    // `drain`, and returns.
    void Run(const HeadCheck& check, const Handler& handler, std::chrono::milliseconds drain);
    // From any thread (not from a signal handler).
    void Stop();

    // The text of a status code ("Not Found").
    static const char* Reason(int status);

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace tavctl::http
