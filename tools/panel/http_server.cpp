#include "http_server.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <optional>
#include <set>
#include <thread>

namespace tavctl::http {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace wire = boost::beast::http;
using tcp = asio::ip::tcp;
using ErrorCode = boost::system::error_code;

namespace {

constexpr int LISTEN_BACKLOG = 128;
constexpr size_t LINGER_BYTES = 1 << 20;
constexpr std::chrono::milliseconds LINGER_TIME{2000};

std::string Lower(std::string text)
{
    for (char& symbol : text)
        if (symbol >= 'A' && symbol <= 'Z')
            symbol = static_cast<char>(symbol - 'A' + 'a');
    return text;
}

int HexDigit(char symbol)
{
    if (symbol >= '0' && symbol <= '9')
        return symbol - '0';
    if (symbol >= 'a' && symbol <= 'f')
        return symbol - 'a' + 10;
    if (symbol >= 'A' && symbol <= 'F')
        return symbol - 'A' + 10;
    return -1;
}

std::string PercentDecode(const std::string& text)
{
    std::string decoded;
    for (size_t index = 0; index < text.size(); ++index) {
        if (text[index] == '+') {
            decoded += ' ';
        } else if (text[index] == '%' && index + 2 < text.size() && HexDigit(text[index + 1]) >= 0
                   && HexDigit(text[index + 2]) >= 0) {
            decoded += static_cast<char>(HexDigit(text[index + 1]) * 16 + HexDigit(text[index + 2]));
            index += 2;
        } else {
            decoded += text[index];
        }
    }
    return decoded;
}

} // namespace

bool Request::HasHeader(const std::string& lowerName) const
{
    return std::any_of(headers.begin(), headers.end(), [&](const auto& header) { return header.first == lowerName; });
}

std::string Request::Header(const std::string& lowerName) const
{
    for (const auto& header : headers)
        if (header.first == lowerName)
            return header.second;
    return "";
}

std::string Request::Query(const std::string& name) const
{
    size_t start = 0;
    while (start < query.size()) {
        const size_t end = std::min(query.find('&', start), query.size());
        const std::string pair = query.substr(start, end - start);
        const size_t equals = pair.find('=');
        if (PercentDecode(pair.substr(0, equals)) == name)
            return equals == std::string::npos ? "" : PercentDecode(pair.substr(equals + 1));
        start = end + 1;
    }
    return "";
}

void Response::SetHeader(const std::string& name, const std::string& value)
{
    for (auto& header : headers)
        if (Lower(header.first) == Lower(name)) {
            header.second = value;
            return;
        }
    headers.emplace_back(name, value);
}

const char* Server::Reason(int status)
{
    switch (status) {
    case 100: return "Continue";
    case 200: return "OK";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 409: return "Conflict";
    case 413: return "Content Too Large";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Unknown";
    }
}

class Connection;

struct Server::State {
    explicit State(Limits limitsIn)
        : limits(limitsIn), acceptor(io), drainTimer(io), handlers(static_cast<size_t>(limitsIn.handlerThreads))
    {
    }

    void Accept();
    void StopNow(std::chrono::milliseconds drain);
    void Closed(); // a connection ended: the last one ends a stopping server

    Limits limits;
    std::vector<std::pair<std::string, std::string>> defaultHeaders;
    std::set<Connection*> connections; // I/O thread only; outlives io's pending work
    const HeadCheck* check = nullptr;
    const Handler* handler = nullptr;
    std::chrono::milliseconds drain{0};
    bool stopping = false;
    bool finished = false; // Run() has returned: io is no longer run
    asio::io_context io{1};
    tcp::acceptor acceptor;
    asio::steady_timer drainTimer;
    asio::thread_pool handlers;
};

// One client connection, on the I/O thread but for its handler's call.
class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(Server::State& server, tcp::socket socket)
        : server_(server), socket_(std::move(socket)), buffer_(server.limits.headBytes + server.limits.bodyBytes),
          timer_(server.io)
    {
        server_.connections.insert(this);
    }
    ~Connection()
    {
        server_.connections.erase(this);
        server_.Closed();
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void Start() { WaitForRequest(); }
    bool Busy() const { return handling_ || writing_; }
    // The server's own refusals: the words are its own, plain ASCII.
    void Refuse(int status, const std::string& message)
    {
        Response response;
        response.status = status;
        response.contentType = "application/json";
        response.body = "{\"error\":\"" + message + "\"}";
        Send(std::move(response), true);
    }
    void Close()
    {
        if (closed_)
            return;
        closed_ = true;
        ErrorCode ignored;
        socket_.close(ignored);
        timer_.cancel();
    }

private:
    enum class Expiry { Idle, Request, Write, Linger };

    // The next request's first byte, for at most the idle time.
    void WaitForRequest()
    {
        if (closed_ || server_.stopping)
            return Close();
        parser_.emplace();
        parser_->header_limit(static_cast<std::uint32_t>(server_.limits.headBytes));
        parser_->body_limit(server_.limits.bodyBytes);
        headOnly_ = false;
        if (buffer_.size() > 0) // sent back to back with the last one
            return ReadHead();
        Arm(server_.limits.idleTime, Expiry::Idle);
        socket_.async_wait(tcp::socket::wait_read, [self = shared_from_this()](ErrorCode error) {
            if (error || self->closed_)
                return self->Close();
            self->ReadHead();
        });
    }

    void ReadHead()
    {
        Arm(server_.limits.requestTime, Expiry::Request);
        reading_ = true;
        wire::async_read_header(socket_, buffer_, *parser_, [self = shared_from_this()](ErrorCode error, size_t) {
            if (self->ReadEnded())
                return;
            if (error)
                return self->ReadFailed(error, true);
            self->CheckHead();
        });
    }

    Request HeadOf(const wire::request<wire::string_body>& message)
    {
        Request request;
        request.method = std::string(message.method_string());
        request.target = std::string(message.target());
        const size_t question = request.target.find('?');
        request.path = request.target.substr(0, question);
        request.query = question == std::string::npos ? "" : request.target.substr(question + 1);
        for (const auto& field : message)
            request.headers.emplace_back(Lower(std::string(field.name_string())), std::string(field.value()));
        return request;
    }

    void CheckHead()
    {
        const auto& message = parser_->get();
        Request head = HeadOf(message);
        headOnly_ = message.method() == wire::verb::head;
        // Which host would be checked? RFC 9112 answers 400.
        if (std::count_if(head.headers.begin(), head.headers.end(), [](const auto& field) { return field.first == "host"; })
            > 1)
            return Refuse(400, "more than one Host header");
        if (head.target.empty() || head.target[0] != '/')
            return Refuse(400, "the target must be a path");
        Response response;
        if (!(*server_.check)(head, response))
            return Send(std::move(response), true); // its body is never read
        if (beast::iequals(message[wire::field::expect], "100-continue")) {
            auto goAhead = std::make_shared<wire::response<wire::empty_body>>(wire::status::continue_, 11);
            writing_ = true;
            wire::async_write(socket_, *goAhead, [self = shared_from_this(), goAhead](ErrorCode error, size_t) {
                self->writing_ = false;
                if (error || self->closed_)
                    return self->Close();
                self->ReadBody();
            });
            return;
        }
        ReadBody();
    }

    void ReadBody()
    {
        if (parser_->is_done())
            return Dispatch();
        reading_ = true;
        wire::async_read(socket_, buffer_, *parser_, [self = shared_from_this()](ErrorCode error, size_t) {
            if (self->ReadEnded())
                return;
            if (error)
                return self->ReadFailed(error, false);
            self->Dispatch();
        });
    }

    // A read is over: true when the connection has moved on meanwhile (closed,
    // or answered 408 while the read was pending, and now lingering).
    bool ReadEnded()
    {
        reading_ = false;
        if (!closed_ && timedOut_ && lingering_)
            Drop();
        return closed_ || timedOut_;
    }

    void ReadFailed(const ErrorCode& error, bool inHead)
    {
        const Limits& limits = server_.limits;
        if (error == wire::error::end_of_stream || error == wire::error::partial_message || error == asio::error::eof
            || error == asio::error::connection_reset || error == asio::error::operation_aborted)
            return Close();
        if (error == wire::error::header_limit || (inHead && error == wire::error::buffer_overflow))
            return Refuse(431, "the request head is longer than " + std::to_string(limits.headBytes) + " bytes");
        if (error == wire::error::body_limit)
            return Refuse(413, "the body is longer than " + std::to_string(limits.bodyBytes) + " bytes");
        if (error == wire::error::buffer_overflow)
            return Refuse(400, "a chunk's size line has no end");
        if (error.category() != wire::make_error_code(wire::error::bad_method).category())
            return Close(); // the socket failed
        return Refuse(400, "malformed request: " + error.message());
    }

    void Dispatch()
    {
        Disarm();
        Request request = HeadOf(parser_->get());
        request.body = std::move(parser_->get().body());
        keepAlive_ = parser_->get().keep_alive();
        handling_ = true;
        asio::post(server_.handlers, [self = shared_from_this(), request = std::move(request)] {
            Response response;
            try {
                (*self->server_.handler)(request, response);
            } catch (...) {
                response = Response{};
                response.status = 500;
                response.contentType = "application/json";
                response.body = "{\"error\":\"the server failed on this request\"}";
            }
            asio::post(self->server_.io, [self, response = std::move(response)]() mutable {
                self->handling_ = false;
                if (self->closed_)
                    return;
                self->Send(std::move(response), !self->keepAlive_ || self->server_.stopping);
            });
        });
    }

    void Send(Response response, bool close)
    {
        auto message = std::make_shared<wire::response<wire::string_body>>();
        message->version(11);
        message->result(static_cast<unsigned>(response.status));
        message->reason(Server::Reason(response.status));
        for (const auto& [name, value] : server_.defaultHeaders)
            message->set(name, value);
        for (const auto& [name, value] : response.headers)
            message->set(name, value);
        message->set(wire::field::content_type, response.contentType);
        message->keep_alive(!close);
        if (headOnly_) {
            message->content_length(response.body.size()); // what a GET would carry
        } else {
            message->body() = std::move(response.body);
            message->prepare_payload();
        }
        writing_ = true;
        Arm(server_.limits.writeTime, Expiry::Write);
        wire::async_write(socket_, *message, [self = shared_from_this(), message, close](ErrorCode error, size_t) {
            self->writing_ = false;
            if (error || self->closed_)
                return self->Close();
            if (close)
                return self->Linger();
            self->WaitForRequest();
        });
    }

    // The answer is out and our side shut: what the client still sends is
    // read and dropped for a moment, so that closing does not reset the
    // connection before the client has read the answer.
    void Linger()
    {
        ErrorCode ignored;
        socket_.shutdown(tcp::socket::shutdown_send, ignored);
        if (server_.stopping)
            return Close();
        lingering_ = true;
        Arm(LINGER_TIME, Expiry::Linger);
        if (!reading_) // else the pending read goes on to drop
            Drop();
    }

    void Drop()
    {
        socket_.async_read_some(asio::buffer(dropped_), [self = shared_from_this()](ErrorCode error, size_t size) {
            self->lingered_ += size;
            if (error || self->closed_ || self->lingered_ > LINGER_BYTES)
                return self->Close();
            self->Drop();
        });
    }

    void Arm(std::chrono::milliseconds time, Expiry expiry)
    {
        const unsigned armed = ++armed_;
        timer_.expires_after(time);
        timer_.async_wait([self = shared_from_this(), armed, expiry](ErrorCode error) {
            if (error || armed != self->armed_ || self->closed_)
                return;
            if (expiry != Expiry::Request)
                return self->Close();
            // Answered while the read is still pending (a read and a write
            // may run together); what the read still gets is dropped.
            self->timedOut_ = true;
            self->Refuse(408, "the request did not arrive whole in " +
                                  std::to_string(self->server_.limits.requestTime.count() / 1000) + " s");
        });
    }

    void Disarm()
    {
        ++armed_;
        timer_.cancel();
    }

    Server::State& server_;
    tcp::socket socket_;
    beast::flat_buffer buffer_; // bounded: what a client sends ahead stays within a request's limits
    std::optional<wire::request_parser<wire::string_body>> parser_;
    asio::steady_timer timer_;
    unsigned armed_ = 0;
    bool timedOut_ = false;
    bool reading_ = false;
    bool lingering_ = false;
    bool keepAlive_ = true;
    bool headOnly_ = false; // the answer to a HEAD request goes without its body
    bool handling_ = false;
    bool writing_ = false;
    bool closed_ = false;
    size_t lingered_ = 0;
    char dropped_[4096];
};

void Server::State::Accept()
{
    acceptor.async_accept([this](ErrorCode error, tcp::socket socket) {
        if (!acceptor.is_open())
            return;
        if (!error) {
            auto connection = std::make_shared<Connection>(*this, std::move(socket));
            if (connections.size() > limits.connections)
                connection->Refuse(503, "too many connections");
            else
                connection->Start();
        }
        Accept();
    });
}

void Server::State::StopNow(std::chrono::milliseconds drainTime)
{
    if (stopping)
        return;
    stopping = true;
    ErrorCode ignored;
    acceptor.close(ignored);
    // Slow or idle connections are not waited for; answers being made get
    // the drain time.
    for (Connection* connection : std::vector<Connection*>(connections.begin(), connections.end()))
        if (!connection->Busy())
            connection->Close();
    drainTimer.expires_after(drainTime);
    drainTimer.async_wait([this](ErrorCode error) {
        if (!error)
            io.stop();
    });
    Closed();
}

void Server::State::Closed()
{
    if (!stopping || finished)
        return;
    if (std::none_of(connections.begin(), connections.end(), [](Connection* connection) { return connection->Busy(); }))
        io.stop();
}

Server::Server(Limits limits) : state_(std::make_unique<State>(limits)) {}

Server::~Server()
{
    state_->handlers.join();
}

int Server::Listen(int port, std::string* problem, bool* inUse)
{
    ErrorCode error;
    const tcp::endpoint endpoint(asio::ip::address_v4::loopback(), static_cast<unsigned short>(port));
    tcp::acceptor& acceptor = state_->acceptor;
    acceptor.open(endpoint.protocol(), error);
#if !defined(_WIN32)
    // Windows' SO_REUSEADDR would let a second panel take a port in use.
    if (!error)
        acceptor.set_option(tcp::acceptor::reuse_address(true), error);
#endif
    if (!error)
        acceptor.bind(endpoint, error);
    if (!error)
        acceptor.listen(LISTEN_BACKLOG, error);
    if (error) {
        *inUse = error == asio::error::address_in_use;
        *problem = error.message();
        ErrorCode ignored;
        acceptor.close(ignored);
        return -1;
    }
    return acceptor.local_endpoint().port();
}

void Server::SetDefaultHeaders(std::vector<std::pair<std::string, std::string>> headers)
{
    state_->defaultHeaders = std::move(headers);
}

void Server::Run(const HeadCheck& check, const Handler& handler, std::chrono::milliseconds drain)
{
    state_->check = &check;
    state_->handler = &handler;
    state_->drain = drain;
    state_->Accept();
    state_->io.run();
    state_->finished = true;
    // What is left (connections that missed the drain) ends here.
    for (Connection* connection : std::vector<Connection*>(state_->connections.begin(), state_->connections.end()))
        connection->Close();
}

void Server::Stop()
{
    asio::post(state_->io, [state = state_.get()] { state->StopNow(state->drain); });
}

} // namespace tavctl::http
