#include "http_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

namespace tavctl::http {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int LISTEN_BACKLOG = 128;
constexpr size_t READ_CHUNK = 4096;
constexpr size_t CHUNK_LINE_BYTES = 256; // a chunk's size line, extensions included
constexpr size_t LINGER_BYTES = 1 << 20;
constexpr std::chrono::milliseconds LINGER_TIME{2000};

std::string Lower(std::string text)
{
    for (char& symbol : text)
        if (symbol >= 'A' && symbol <= 'Z')
            symbol = static_cast<char>(symbol - 'A' + 'a');
    return text;
}

std::string Trim(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool IsTokenChar(unsigned char symbol)
{
    return (symbol >= '0' && symbol <= '9') || (symbol >= 'a' && symbol <= 'z') || (symbol >= 'A' && symbol <= 'Z')
        || std::strchr("!#$%&'*+-.^_`|~", symbol) != nullptr;
}

bool IsToken(const std::string& text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char symbol) {
        return symbol != '\0' && IsTokenChar(static_cast<unsigned char>(symbol));
    });
}

// Whether a comma-separated header value holds a token (Connection: close).
bool HasListToken(const std::string& value, const std::string& token)
{
    size_t start = 0;
    while (start <= value.size()) {
        const size_t comma = std::min(value.find(',', start), value.size());
        if (Lower(Trim(value.substr(start, comma - start))) == token)
            return true;
        start = comma + 1;
    }
    return false;
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

// Closing: the answer is out and our side shut; what the client still sends
// is read and dropped for a moment, so that closing does not reset the
// connection before the client has read the answer.
enum class Phase { Reading, Handling, Writing, Closing };

struct Connection {
    explicit Connection(const Limits& limits) : reader(limits) {}

    int socket = -1;
    Phase phase = Phase::Reading;
    RequestReader reader;
    std::string in;
    std::string out;
    size_t written = 0;
    bool closeAfterWrite = false;
    bool headOnly = false; // the answer to a HEAD request goes without its body
    bool started = false;  // the current request's deadline runs
    size_t lingerBytes = 0;
    Clock::time_point deadline;
};

struct Job {
    uint64_t id;
    Request request;
};

struct Done {
    uint64_t id;
    Response response;
};

// Takes one line (ending in LF, CR before it dropped) from the front of
// `in`; false when none has arrived.
bool TakeLine(std::string& in, std::string& line)
{
    const size_t end = in.find('\n');
    if (end == std::string::npos)
        return false;
    line = in.substr(0, end);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    in.erase(0, end + 1);
    return true;
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

// ---- reading requests ----------------------------------------------------

namespace {

// A rule broken by a request: the status and a short reason.
struct Refusal {
    int status;
    std::string message;
};

} // namespace

RequestReader::Step RequestReader::Feed(std::string& in)
{
    try {
        if (stage_ == Stage::Head) {
            started_ = started_ || !in.empty();
            if (!TakeHead(in))
                return Step::More;
            stage_ = Stage::Checking;
            return Step::Head;
        }
        if (stage_ == Stage::Checking)
            return Step::More;
        if (stage_ == Stage::Framing)
            FrameBody();
        if (stage_ == Stage::Whole || TakeBody(in)) {
            stage_ = Stage::Whole;
            return Step::Whole;
        }
        return Step::More;
    } catch (const Refusal& refusal) {
        stage_ = Stage::Refused;
        keepAlive_ = false;
        refusedStatus_ = refusal.status;
        refusedMessage_ = refusal.message;
        return Step::Refused;
    }
}

void RequestReader::Admit()
{
    if (stage_ == Stage::Checking)
        stage_ = Stage::Framing;
}

Request RequestReader::TakeRequest()
{
    Request taken = std::move(request_);
    request_ = Request{};
    stage_ = Stage::Head;
    started_ = false;
    keepAlive_ = true;
    http11_ = true;
    headOnly_ = false;
    wantsContinue_ = false;
    return taken;
}

void RequestReader::ParseRequestLine(const std::string& line)
{
    const size_t first = line.find(' ');
    const size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
    if (second == std::string::npos || line.find(' ', second + 1) != std::string::npos)
        throw Refusal{400, "malformed request line"};
    request_.method = line.substr(0, first);
    request_.target = line.substr(first + 1, second - first - 1);
    const std::string version = line.substr(second + 1);
    if (!IsToken(request_.method))
        throw Refusal{400, "malformed method"};
    if (version != "HTTP/1.1" && version != "HTTP/1.0")
        throw Refusal{version.rfind("HTTP/", 0) == 0 ? 505 : 400, "this server speaks HTTP/1.1"};
    if (request_.target.empty() || request_.target[0] != '/')
        throw Refusal{400, "the target must be a path"};
    for (const unsigned char symbol : request_.target)
        if (symbol <= 0x20 || symbol >= 0x7F)
            throw Refusal{400, "the target holds a byte that is not allowed there"};
    const size_t question = request_.target.find('?');
    request_.path = request_.target.substr(0, question);
    request_.query = question == std::string::npos ? "" : request_.target.substr(question + 1);
    http11_ = version == "HTTP/1.1";
    keepAlive_ = http11_;
    headOnly_ = request_.method == "HEAD";
}

void RequestReader::ParseHeaderLine(const std::string& line)
{
    if (line[0] == ' ' || line[0] == '\t')
        throw Refusal{400, "folded header lines are not accepted"};
    const size_t colon = line.find(':');
    if (colon == std::string::npos || !IsToken(line.substr(0, colon)))
        throw Refusal{400, "malformed header line"};
    const std::string value = Trim(line.substr(colon + 1));
    for (const unsigned char symbol : value)
        if ((symbol < 0x20 && symbol != '\t') || symbol == 0x7F)
            throw Refusal{400, "a header holds a control character"};
    const std::string name = Lower(line.substr(0, colon));
    // Which host would be checked? RFC 9112 answers 400.
    if (name == "host" && request_.HasHeader("host"))
        throw Refusal{400, "more than one Host header"};
    request_.headers.emplace_back(name, value);
}

// The head, once it is all there: false while it is still arriving.
bool RequestReader::TakeHead(std::string& in)
{
    // Empty lines before a request are allowed (and bounded like the head).
    while (in.rfind("\r\n", 0) == 0 || in.rfind("\n", 0) == 0)
        in.erase(0, in[0] == '\r' ? 2 : 1);
    size_t end = in.find("\n\r\n");
    size_t endLength = 3;
    const size_t bare = in.find("\n\n");
    if (bare != std::string::npos && (end == std::string::npos || bare < end)) {
        end = bare;
        endLength = 2;
    }
    const size_t headLength = end == std::string::npos ? in.size() : end;
    const auto lines = static_cast<size_t>(std::count(in.begin(), in.begin() + static_cast<long>(headLength), '\n'));
    if (lines > limits_.headerLines)
        throw Refusal{431, "more than " + std::to_string(limits_.headerLines) + " header lines"};
    if (headLength > limits_.headBytes)
        throw Refusal{431, "the request head is longer than " + std::to_string(limits_.headBytes) + " bytes"};
    if (end == std::string::npos)
        return false;
    std::string head = in.substr(0, end + 1);
    in.erase(0, end + endLength);
    std::string line;
    TakeLine(head, line);
    ParseRequestLine(line);
    while (TakeLine(head, line))
        ParseHeaderLine(line);
    const std::string connection = request_.Header("connection");
    if (HasListToken(connection, "close"))
        keepAlive_ = false;
    else if (HasListToken(connection, "keep-alive"))
        keepAlive_ = true;
    return true;
}

// How the body comes, checked before any of it is read.
void RequestReader::FrameBody()
{
    std::string length;
    bool chunked = false;
    for (const auto& header : request_.headers) {
        if (header.first == "content-length") {
            if (header.second.empty() || header.second.size() > 18
                || header.second.find_first_not_of("0123456789") != std::string::npos
                || (!length.empty() && length != header.second))
                throw Refusal{400, "malformed Content-Length"};
            length = header.second;
        } else if (header.first == "transfer-encoding") {
            if (Lower(header.second) != "chunked" || chunked)
                throw Refusal{501, "only the chunked transfer coding is understood"};
            chunked = true;
        }
    }
    if (chunked && (!length.empty() || !http11_))
        throw Refusal{400, "a chunked body needs HTTP/1.1 and no Content-Length"};
    const std::string expect = request_.Header("expect");
    if (!expect.empty() && Lower(expect) != "100-continue")
        throw Refusal{417, "only 100-continue is understood in Expect"};
    const unsigned long long declared = length.empty() ? 0 : std::stoull(length);
    if (declared > limits_.bodyBytes)
        throw Refusal{413, "the body is longer than " + std::to_string(limits_.bodyBytes) + " bytes"};
    stage_ = chunked ? Stage::ChunkSize : Stage::Fixed;
    remaining_ = static_cast<size_t>(declared);
    trailerLines_ = 0;
    wantsContinue_ = !expect.empty() && http11_ && (chunked || declared > 0);
}

// Moves what has arrived of the body into the request: true when whole.
bool RequestReader::TakeBody(std::string& in)
{
    std::string& body = request_.body;
    for (;;) {
        std::string line;
        switch (stage_) {
        case Stage::Fixed:
        case Stage::ChunkData: {
            const size_t take = std::min(remaining_, in.size());
            body.append(in, 0, take);
            in.erase(0, take);
            remaining_ -= take;
            if (remaining_ > 0)
                return false;
            if (stage_ == Stage::Fixed)
                return true;
            stage_ = Stage::ChunkEnd;
            break;
        }
        case Stage::ChunkSize: {
            if (!TakeLine(in, line)) {
                if (in.size() > CHUNK_LINE_BYTES)
                    throw Refusal{400, "malformed chunk size"};
                return false;
            }
            const std::string digits = Trim(line.substr(0, line.find(';')));
            if (digits.empty() || digits.size() > 8
                || !std::all_of(digits.begin(), digits.end(), [](char symbol) { return HexDigit(symbol) >= 0; }))
                throw Refusal{400, "malformed chunk size"};
            remaining_ = std::stoul(digits, nullptr, 16);
            if (body.size() + remaining_ > limits_.bodyBytes)
                throw Refusal{413, "the body is longer than " + std::to_string(limits_.bodyBytes) + " bytes"};
            stage_ = remaining_ == 0 ? Stage::Trailers : Stage::ChunkData;
            break;
        }
        case Stage::ChunkEnd:
            if (!TakeLine(in, line)) {
                if (in.size() > 2)
                    throw Refusal{400, "a chunk is longer than its size"};
                return false;
            }
            if (!line.empty())
                throw Refusal{400, "a chunk is longer than its size"};
            stage_ = Stage::ChunkSize;
            break;
        case Stage::Trailers: // read and dropped
            if (!TakeLine(in, line)) {
                if (in.size() > limits_.headBytes)
                    throw Refusal{431, "a trailer line is longer than " + std::to_string(limits_.headBytes) + " bytes"};
                return false;
            }
            if (line.empty())
                return true;
            if (++trailerLines_ > limits_.headerLines)
                throw Refusal{431, "more than " + std::to_string(limits_.headerLines) + " trailer lines"};
            break;
        default:
            return false;
        }
    }
}

const char* Server::Reason(int status)
{
    switch (status) {
    case 100: return "Continue";
    case 200: return "OK";
    case 204: return "No Content";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 409: return "Conflict";
    case 411: return "Length Required";
    case 413: return "Content Too Large";
    case 414: return "URI Too Long";
    case 417: return "Expectation Failed";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    case 505: return "HTTP Version Not Supported";
    default: return "Unknown";
    }
}

struct Server::State {
    Limits limits;
    int listening = -1;
    int wakeRead = -1;
    int wakeWrite = -1;
    std::vector<std::pair<std::string, std::string>> defaultHeaders;
    std::atomic<bool> stopping{false};

    std::map<uint64_t, Connection> connections;
    uint64_t nextId = 1;

    std::mutex jobsMutex;
    std::condition_variable jobsReady;
    std::deque<Job> jobs;
    std::vector<Done> done;
    bool workersEnd = false;

    const HeadCheck* check = nullptr;
    const Handler* handler = nullptr;

    void Wake() const
    {
        const char byte = 0;
        [[maybe_unused]] const ssize_t ignored = write(wakeWrite, &byte, 1);
    }

    std::string Serialize(const Response& response, bool head, bool close) const
    {
        std::string text = "HTTP/1.1 " + std::to_string(response.status) + " " + Reason(response.status) + "\r\n";
        for (const auto& header : defaultHeaders)
            text += header.first + ": " + header.second + "\r\n";
        for (const auto& header : response.headers)
            text += header.first + ": " + header.second + "\r\n";
        text += "Content-Type: " + response.contentType + "\r\n";
        text += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
        if (close)
            text += "Connection: close\r\n";
        text += "\r\n";
        if (!head)
            text += response.body;
        return text;
    }

    void Answer(Connection& connection, const Response& response, bool close)
    {
        const bool closing = close || !connection.reader.KeepAlive();
        connection.out = Serialize(response, connection.headOnly, closing);
        connection.written = 0;
        connection.closeAfterWrite = closing;
        connection.phase = Phase::Writing;
        connection.deadline = Clock::now() + limits.writeTime;
    }

    // The server's own refusals: the words are its own, plain ASCII.
    void Refuse(Connection& connection, int status, const std::string& message)
    {
        Response response;
        response.status = status;
        response.contentType = "application/json";
        response.body = "{\"error\":\"" + message + "\"}";
        Answer(connection, response, true);
    }

    void Idle(Connection& connection)
    {
        connection.phase = Phase::Reading;
        connection.started = false;
        connection.headOnly = false;
        connection.deadline = Clock::now() + limits.idleTime;
    }

    // ---- the I/O thread ---------------------------------------------------
    void Advance(uint64_t id, Connection& connection)
    {
        RequestReader& reader = connection.reader;
        for (;;) {
            const RequestReader::Step step = reader.Feed(connection.in);
            if (reader.Started() && !connection.started) {
                connection.started = true;
                connection.deadline = Clock::now() + limits.requestTime;
            }
            switch (step) {
            case RequestReader::Step::More:
                if (reader.TakeContinue())
                    connection.out = "HTTP/1.1 100 Continue\r\n\r\n"; // the client waits for it
                return;
            case RequestReader::Step::Refused:
                Refuse(connection, reader.RefusedStatus(), reader.RefusedMessage());
                return;
            case RequestReader::Step::Head: {
                connection.headOnly = reader.HeadOnly();
                Response refusal;
                if (!(*check)(reader.Pending(), refusal)) {
                    Answer(connection, refusal, true);
                    return;
                }
                reader.Admit();
                break;
            }
            case RequestReader::Step::Whole: {
                connection.phase = Phase::Handling;
                std::lock_guard<std::mutex> lock(jobsMutex);
                jobs.push_back({id, reader.TakeRequest()});
                jobsReady.notify_one();
                return;
            }
            }
        }
    }

    void Accept()
    {
        for (;;) {
            const int socket = accept4(listening, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (socket < 0)
                return;
            // When full, the oldest connection that is idle or still sending
            // its request makes room: clients that keep connections open
            // cannot lock out the others.
            if (connections.size() >= limits.connections) {
                const auto oldest = std::find_if(connections.begin(), connections.end(), [](const auto& entry) {
                    return entry.second.phase == Phase::Reading || entry.second.phase == Phase::Closing;
                });
                if (oldest == connections.end()) {
                    close(socket);
                    continue;
                }
                Close(oldest);
            }
            Connection& connection = connections.emplace(nextId++, Connection(limits)).first->second;
            connection.socket = socket;
            Idle(connection);
        }
    }

    // False when the connection is to be closed.
    bool Read(uint64_t id, Connection& connection)
    {
        char buffer[READ_CHUNK];
        const ssize_t got = recv(connection.socket, buffer, sizeof buffer, 0);
        if (got == 0)
            return false;
        if (got < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        if (connection.phase == Phase::Closing) {
            connection.lingerBytes -= std::min(connection.lingerBytes, static_cast<size_t>(got));
            return connection.lingerBytes > 0;
        }
        connection.in.append(buffer, static_cast<size_t>(got));
        Advance(id, connection);
        return true;
    }

    bool Write(uint64_t id, Connection& connection)
    {
        while (connection.written < connection.out.size()) {
            const ssize_t sent = send(connection.socket, connection.out.data() + connection.written,
                                      connection.out.size() - connection.written, MSG_NOSIGNAL);
            if (sent < 0)
                return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
            connection.written += static_cast<size_t>(sent);
        }
        connection.out.clear();
        connection.written = 0;
        if (connection.phase != Phase::Writing)
            return true; // the 100 Continue went out: the body comes next
        if (connection.closeAfterWrite) {
            shutdown(connection.socket, SHUT_WR);
            connection.phase = Phase::Closing;
            connection.in.clear();
            connection.lingerBytes = LINGER_BYTES;
            connection.deadline = Clock::now() + LINGER_TIME;
            return true;
        }
        Idle(connection);
        if (!connection.in.empty()) // the next request came with this one
            Advance(id, connection);
        return true;
    }

    void Close(std::map<uint64_t, Connection>::iterator entry)
    {
        close(entry->second.socket);
        connections.erase(entry);
    }

    void TakeDone()
    {
        std::vector<Done> finished;
        {
            std::lock_guard<std::mutex> lock(jobsMutex);
            finished.swap(done);
        }
        for (Done& item : finished) {
            const auto entry = connections.find(item.id);
            if (entry != connections.end())
                Answer(entry->second, item.response, stopping.load());
        }
    }

    void Work()
    {
        for (;;) {
            Job job;
            {
                std::unique_lock<std::mutex> lock(jobsMutex);
                jobsReady.wait(lock, [this] { return workersEnd || !jobs.empty(); });
                if (jobs.empty())
                    return;
                job = std::move(jobs.front());
                jobs.pop_front();
            }
            Response response;
            try {
                (*handler)(job.request, response);
            } catch (...) {
                response = Response{};
                response.status = 500;
                response.contentType = "application/json";
                response.body = "{\"error\":\"the server failed on this request\"}";
            }
            {
                std::lock_guard<std::mutex> lock(jobsMutex);
                done.push_back({job.id, std::move(response)});
            }
            Wake();
        }
    }
};

Server::Server(Limits limits) : state_(std::make_unique<State>())
{
    state_->limits = limits;
    int ends[2];
    if (pipe2(ends, O_NONBLOCK | O_CLOEXEC) == 0) {
        state_->wakeRead = ends[0];
        state_->wakeWrite = ends[1];
    }
}

Server::~Server()
{
    for (auto& entry : state_->connections)
        close(entry.second.socket);
    for (const int descriptor : {state_->listening, state_->wakeRead, state_->wakeWrite})
        if (descriptor >= 0)
            close(descriptor);
}

int Server::Listen(const std::string& address, int port)
{
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (socket < 0)
        return -1;
    // SO_REUSEADDR only: SO_REUSEPORT would let a second server share the port.
    const int yes = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, address.c_str(), &where.sin_addr) != 1) {
        close(socket);
        errno = EINVAL;
        return -1;
    }
    socklen_t size = sizeof where;
    if (bind(socket, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 || listen(socket, LISTEN_BACKLOG) != 0
        || getsockname(socket, reinterpret_cast<sockaddr*>(&where), &size) != 0) {
        const int problem = errno;
        close(socket);
        errno = problem;
        return -1;
    }
    state_->listening = socket;
    return ntohs(where.sin_port);
}

void Server::SetDefaultHeaders(std::vector<std::pair<std::string, std::string>> headers)
{
    state_->defaultHeaders = std::move(headers);
}

void Server::Stop()
{
    state_->stopping = true;
    state_->Wake();
}

void Server::Run(const HeadCheck& check, const Handler& handler, std::chrono::milliseconds drain)
{
    State& state = *state_;
    state.check = &check;
    state.handler = &handler;
    std::vector<std::thread> workers;
    for (int index = 0; index < state.limits.handlerThreads; ++index)
        workers.emplace_back([&state] { state.Work(); });

    Clock::time_point drainEnd{};
    std::vector<pollfd> watched;
    std::vector<uint64_t> ids;
    for (;;) {
        if (state.stopping && drainEnd == Clock::time_point{}) {
            drainEnd = Clock::now() + drain;
            close(state.listening);
            state.listening = -1;
        }
        const Clock::time_point now = Clock::now();
        if (state.stopping) {
            // Only answers being made or sent are waited for, and not long.
            for (auto entry = state.connections.begin(); entry != state.connections.end();) {
                const Phase phase = entry->second.phase;
                auto next = std::next(entry);
                if (now >= drainEnd || (phase != Phase::Handling && phase != Phase::Writing))
                    state.Close(entry);
                entry = next;
            }
            if (state.connections.empty())
                break;
        }
        // Deadlines: a request that does not arrive in time gets 408; an
        // idle connection or an answer nobody reads is closed.
        Clock::time_point nextDeadline = drainEnd;
        for (auto entry = state.connections.begin(); entry != state.connections.end();) {
            Connection& connection = entry->second;
            auto next = std::next(entry);
            if (connection.phase != Phase::Handling && now >= connection.deadline) {
                if (connection.phase == Phase::Reading && connection.started) {
                    state.Refuse(connection, 408, "the request did not arrive in time");
                } else {
                    state.Close(entry);
                    entry = next;
                    continue;
                }
            }
            if (connection.phase != Phase::Handling
                && (nextDeadline == Clock::time_point{} || connection.deadline < nextDeadline))
                nextDeadline = connection.deadline;
            entry = next;
        }

        watched.clear();
        ids.clear();
        watched.push_back({state.wakeRead, POLLIN, 0});
        ids.push_back(0);
        if (state.listening >= 0) {
            watched.push_back({state.listening, POLLIN, 0});
            ids.push_back(0);
        }
        for (auto& entry : state.connections) {
            const Connection& connection = entry.second;
            short events = 0;
            if (!connection.out.empty())
                events = POLLOUT;
            else if (connection.phase == Phase::Reading || connection.phase == Phase::Closing)
                events = POLLIN;
            if (events == 0)
                continue;
            watched.push_back({connection.socket, events, 0});
            ids.push_back(entry.first);
        }
        int timeout = -1;
        if (nextDeadline != Clock::time_point{}) {
            const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(nextDeadline - Clock::now());
            timeout = static_cast<int>(std::clamp<long long>(wait.count() + 1, 0, 60000));
        }
        if (poll(watched.data(), watched.size(), timeout) < 0 && errno != EINTR)
            break;

        for (size_t index = 0; index < watched.size(); ++index) {
            const pollfd& item = watched[index];
            if (item.revents == 0)
                continue;
            if (item.fd == state.wakeRead) {
                char drained[64];
                while (read(state.wakeRead, drained, sizeof drained) > 0) {
                }
                state.TakeDone();
                continue;
            }
            if (item.fd == state.listening) {
                state.Accept();
                continue;
            }
            const auto entry = state.connections.find(ids[index]);
            if (entry == state.connections.end())
                continue;
            Connection& connection = entry->second;
            bool keep = true;
            if ((item.revents & POLLOUT) != 0)
                keep = state.Write(entry->first, connection);
            else if ((item.revents & POLLIN) != 0)
                keep = state.Read(entry->first, connection);
            else
                keep = false; // an error or a hang-up with nothing to read
            if (keep && !connection.out.empty() && connection.written == 0)
                keep = state.Write(entry->first, connection); // answer at once when the socket takes it
            if (!keep)
                state.Close(entry);
        }
    }

    {
        std::lock_guard<std::mutex> lock(state.jobsMutex);
        state.workersEnd = true;
    }
    state.jobsReady.notify_all();
    for (std::thread& worker : workers)
        worker.join();
}

} // namespace tavctl::http
