// tavctl serve: a control panel in the browser and the JSON API it uses,
// on 127.0.0.1 only. Every request needs the random token printed with the
// URL; the Host and Origin headers must name this server (no DNS rebinding,
// no cross-site requests), and whatever changes the board is POST only.
// Actions from every client run one at a time, so each action's records stay
// together in the record log. Ctrl-C, SIGTERM or SIGHUP closes the board
// into the safe state at once, whatever the clients do.
//
// Built as a module of its own (tavctl-serve.so) that tavctl loads only for
// `serve`: the HTTP library and OpenSSL behind it would cost every other
// command most of its start-up.
#include <httplib.h>
#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <shared_mutex>
#include <thread>

#include "pin_map_table.h"
#include "pwm_tables.h"
#include "stop_signal.h"
#include "tool.h"

namespace tavctl {

extern const char* const PANEL_PAGE;

namespace {

using Json = nlohmann::json;

constexpr size_t RECORD_LOG_SIZE = 20000;
constexpr int SERVER_THREADS = 8;
constexpr time_t CLIENT_TIMEOUT_SECONDS = 5;
constexpr size_t MAX_BODY_BYTES = 16384;
constexpr int LISTEN_BACKLOG = 128;
constexpr std::chrono::seconds DRAIN_TIME{1}; // for connections after a stop signal

// An error answer: a status and {"error": "..."}.
struct HttpError {
    int status;
    std::string message;
};

std::string RandomToken()
{
    std::random_device source;
    char text[33];
    for (int index = 0; index < 32; index += 8)
        std::snprintf(text + index, 9, "%08x", source());
    return text;
}

class Panel {
public:
    Panel(Context& context, int port) : context_(context), port_(port), token_(RandomToken()) {}
    Panel(const Panel&) = delete;
    Panel& operator=(const Panel&) = delete;

    void Run()
    {
        Session& session = context_.session;
        session.Connect();
        tav_set_record_callback(session.Board().handle(), &Panel::OnRecord, this);
        // Signals wait in a thread of their own; the server's threads never see them.
        HoldStopSignals();
        httplib::Server server;
        server.new_task_queue = [] { return new httplib::ThreadPool(SERVER_THREADS); };
        server.set_read_timeout(CLIENT_TIMEOUT_SECONDS);
        server.set_write_timeout(CLIENT_TIMEOUT_SECONDS);
        server.set_keep_alive_timeout(CLIENT_TIMEOUT_SECONDS);
        server.set_payload_max_length(MAX_BODY_BYTES);
        Routes(server);
        // The library listens with a backlog of 5, too short for a dozen
        // clients connecting at once: listen again on its socket with ours.
        int listening = -1;
        // SO_REUSEADDR only: the library's SO_REUSEPORT would let a second
        // panel listen on the same port and share the connections (and tokens).
        server.set_socket_options([&listening](socket_t socket) {
            const int yes = 1;
            setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
            listening = socket;
        });
        // Every answer, the library's own errors included.
        server.set_default_headers({{"X-Content-Type-Options", "nosniff"}, {"Referrer-Policy", "no-referrer"}});
        const int requested = port_;
        if (port_ == 0)
            port_ = server.bind_to_any_port("127.0.0.1");
        else if (!server.bind_to_port("127.0.0.1", port_))
            port_ = -1;
        if (port_ > 0 && listening >= 0)
            ::listen(listening, LISTEN_BACKLOG);
        if (port_ <= 0)
            throw ToolError(requested > 0 ? "port " + std::to_string(requested) +
                                                " is in use (try --port 0 for a free one)"
                                          : "cannot listen on 127.0.0.1: no free port");
        std::printf("panel of %s at http://127.0.0.1:%d/?token=%s\n", Describe().c_str(), port_, token_.c_str());
        std::printf("(loopback only; Ctrl-C closes the board into the safe state)\n");
        std::fflush(stdout);
        // A stop signal makes the board safe first, then ends the server;
        // connections get a second to finish, slow or idle ones are not
        // waited for, and a second signal ends tavctl at once.
        std::mutex stoppedMutex;
        std::condition_variable stoppedCondition;
        bool stopped = false;
        std::thread stopper([&] {
            WaitForStop();
            std::thread([] {
                WaitForStop();
                std::fflush(nullptr);
                std::_Exit(EXIT_FAILED);
            }).detach();
            CloseBoard();
            server.stop();
            std::unique_lock<std::mutex> lock(stoppedMutex);
            if (!stoppedCondition.wait_for(lock, DRAIN_TIME, [&stopped] { return stopped; })) {
                std::fflush(nullptr);
                std::_Exit(0);
            }
        });
        server.listen_after_bind();
        {
            std::lock_guard<std::mutex> lock(stoppedMutex);
            stopped = true;
        }
        stoppedCondition.notify_all();
        stopper.join();
    }

private:
    // Waits for a running action, then closes the board into the safe state.
    void CloseBoard()
    {
        std::unique_lock<std::shared_mutex> gate(boardGate_);
        std::lock_guard<std::mutex> lock(actionMutex_);
        closed_ = true;
        Session& session = context_.session;
        CloseCount count{context_.options.trace};
        tav_set_record_callback(session.Board().handle(), CountCloseRecord, &count);
        session.Board().close();
        StopHandled();
        try {
            SayHowCloseWent(count);
        } catch (const ToolError& error) {
            std::fprintf(stderr, "tavctl: %s\n", error.what());
            std::fflush(nullptr);
            std::_Exit(error.status);
        }
    }

    static void OnRecord(void* user, const uint8_t* bytes, int length, int result)
    {
        auto* panel = static_cast<Panel*>(user);
        if (panel->context_.options.trace)
            TraceRecord(nullptr, bytes, length, result);
        std::lock_guard<std::mutex> lock(panel->logMutex_);
        panel->log_.push_back({{"seq", panel->nextRecord_++},
                               {"text", DescribeRecord(bytes, length)},
                               {"ok", result == length}});
        if (panel->log_.size() > RECORD_LOG_SIZE)
            panel->log_.pop_front();
    }

    std::string Describe()
    {
        const std::string selector = context_.session.Selector();
        return selector.empty() ? "the first board" : selector;
    }

    // ---- request checks -------------------------------------------------
    void Guard(const httplib::Request& request) const
    {
        for (const char* name : {"Host", "Origin"}) {
            for (const unsigned char symbol : request.get_header_value(name))
                if (symbol < 0x20 || symbol > 0x7E)
                    throw HttpError{400, std::string("the ") + name + " header is not plain text"};
        }
        const std::string host = request.get_header_value("Host");
        const std::string self = ":" + std::to_string(port_);
        if (host != "127.0.0.1" + self && host != "localhost" + self)
            throw HttpError{403, "host '" + host + "' is not this panel (127.0.0.1" + self + ")"};
        if (request.has_header("Origin")) {
            const std::string origin = request.get_header_value("Origin");
            if (origin != "http://127.0.0.1" + self && origin != "http://localhost" + self)
                throw HttpError{403, "requests from " + origin + " are not accepted"};
        }
        std::string token = request.get_header_value("X-Tav-Token");
        if (token.empty())
            token = request.get_param_value("token");
        if (token.empty())
            throw HttpError{401, "this panel needs its token: open the URL tavctl serve printed"};
        if (token != token_)
            throw HttpError{403, "wrong token"};
    }

    // The body, read only now that the request passed Guard, at most
    // MAX_BODY_BYTES of it (also when it comes chunked); none is {}.
    static std::string ReadBody(const httplib::ContentReader& reader)
    {
        std::string body;
        bool tooLong = false;
        reader([&body, &tooLong](const char* data, size_t length) {
            if (body.size() + length > MAX_BODY_BYTES) {
                tooLong = true;
                return false;
            }
            body.append(data, length);
            return true;
        });
        if (tooLong)
            throw HttpError{413, "the body is longer than " + std::to_string(MAX_BODY_BYTES) + " bytes"};
        return body;
    }

    // A JSON object whose keys each come once.
    static Json Body(const std::string& text)
    {
        if (text.empty())
            return Json::object();
        std::vector<std::set<std::string>> keys;
        const Json::parser_callback_t noRepeatedKeys = [&keys](int, Json::parse_event_t event, Json& parsed) {
            if (event == Json::parse_event_t::object_start)
                keys.emplace_back();
            else if (event == Json::parse_event_t::object_end && !keys.empty())
                keys.pop_back();
            else if (event == Json::parse_event_t::key && !keys.back().insert(parsed.get<std::string>()).second)
                throw HttpError{400, "\"" + parsed.get<std::string>() + "\" is given twice"};
            return true;
        };
        try {
            Json body = Json::parse(text, noRepeatedKeys);
            if (!body.is_object())
                throw HttpError{400, "the body must be a JSON object"};
            return body;
        } catch (const Json::exception& error) {
            // nlohmann's words without its "[json.exception...] " prefix.
            const std::string words = error.what();
            const size_t end = words.find("] ");
            throw HttpError{400, "bad JSON: " + (end == std::string::npos ? words : words.substr(end + 2))};
        }
    }

    // Text as the tool's parsers take it; no NUL inside.
    static std::string Plain(std::string text, const std::string& what)
    {
        if (text.find('\0') != std::string::npos)
            throw HttpError{400, what + " holds a NUL character"};
        return text;
    }

    static std::string Text(const Json& body, const char* key, bool required = true)
    {
        if (!body.contains(key)) {
            if (required)
                throw HttpError{400, std::string("missing \"") + key + "\""};
            return "";
        }
        const Json& value = body.at(key);
        if (value.is_string())
            return Plain(value.get<std::string>(), std::string("\"") + key + "\"");
        if (value.is_number_unsigned())
            return std::to_string(value.get<uint64_t>());
        if (value.is_number_integer())
            return std::to_string(value.get<int64_t>());
        throw HttpError{400, std::string("\"") + key + "\" must be text or a whole number"};
    }

    // ---- answers ----------------------------------------------------------
    static void Reply(httplib::Response& response, int status, const Json& body)
    {
        response.status = status;
        response.set_header("Cache-Control", "no-store");
        // A message may quote what a client sent, bytes that are not UTF-8
        // included: those become U+FFFD rather than an exception.
        response.set_content(body.dump(-1, ' ', false, Json::error_handler_t::replace), "application/json");
    }

    // Runs a handler after the checks, and turns failures into JSON errors.
    template <typename Handler>
    void Guarded(const httplib::Request& request, httplib::Response& response, Handler handler)
    {
        try {
            Guard(request);
            // Requests use the board while it is open; closing waits for them.
            std::shared_lock<std::shared_mutex> gate(boardGate_);
            if (closed_)
                throw HttpError{503, "the panel is closing: the board is in the safe state"};
            handler();
        } catch (const HttpError& error) {
            Reply(response, error.status, {{"error", error.message}});
        } catch (const ToolError& error) {
            Reply(response, error.status == EXIT_USAGE ? 400 : 409, {{"error", error.what()}});
        } catch (const std::exception&) {
            Reply(response, 500, {{"error", "the panel failed on this request"}}); // never its text
        }
    }

    template <typename Handler>
    httplib::Server::Handler Checked(Handler handler)
    {
        return [this, handler](const httplib::Request& request, httplib::Response& response) {
            Guarded(request, response, [&] { handler(request, response); });
        };
    }

    // A POST action: one at a time for all clients.
    template <typename Action>
    void PostAction(httplib::Server& server, const std::string& path, Action action)
    {
        // The body is read by the handler, after the checks: nothing of it is
        // buffered for a request that fails them.
        server.Post(path, [this, action](const httplib::Request& request, httplib::Response& response,
                                         const httplib::ContentReader& reader) {
            Guarded(request, response, [&] {
                const Json body = Body(ReadBody(reader));
                // What the commanded state shows to have no effect is sent
                // all the same, and the answer says so.
                std::vector<std::string> warnings;
                {
                    std::lock_guard<std::mutex> lock(actionMutex_);
                    WarningsTo collect(&warnings);
                    action(body);
                }
                Reply(response, 200, {{"ok", true}, {"warnings", warnings}});
            });
        });
        server.Get(path, Checked([](const httplib::Request&, httplib::Response& response) {
            response.set_header("Allow", "POST");
            Reply(response, 405, {{"error", "this changes the board: use POST"}});
        }));
    }

    Json Info()
    {
        return {{"selector", context_.session.Selector()},
                {"virtual", context_.session.Simulated()},
                {"model", BoardModelName(context_.session.Model())},
                {"firmware", context_.session.Board().firmware()},
                {"library", tav_version()}};
    }

    Json Records(uint64_t since)
    {
        std::lock_guard<std::mutex> lock(logMutex_);
        Json records = Json::array();
        for (const Json& entry : log_)
            if (entry["seq"].get<uint64_t>() >= since)
                records.push_back(entry);
        return {{"records", records}, {"next", nextRecord_}};
    }

    Json Groups()
    {
        Json groups = Json::array();
        const TAVDll::BoardType model = context_.session.Model();
        for (const TAVDll::detail::PwmGroup& group : TAVDll::detail::PWM_GROUPS) {
            Json channels = Json::array();
            for (uint32_t channel = 1; channel <= group.channelCount; ++channel) {
                const TAVDll::detail::PwmChannel& entry = *TAVDll::detail::FindPwmChannel(group.timerIndex, channel);
                const int bit = __builtin_ctz(entry.pinMask);
                const uint32_t boardPin = ChannelBoardPin(group.timerIndex, channel, model);
                channels.push_back({{"channel", channel},
                                    {"mcu", TAVDll::detail::McuPinName(static_cast<int>(entry.portIndex), bit)},
                                    {"pin", boardPin != 0 ? Json(TAVDll::detail::BoardPinName(boardPin)) : Json()}});
            }
            groups.push_back({{"group", std::string(1, static_cast<char>('A' + group.timerIndex))},
                              {"channels", channels}});
        }
        return groups;
    }

    static uint64_t Since(const httplib::Request& request)
    {
        const std::string since = request.get_param_value("since");
        try {
            return since.empty() ? 0 : ParseNumber(since, "since", 0, UINT64_MAX);
        } catch (const ToolError& error) {
            throw HttpError{400, error.what()};
        }
    }

    void Routes(httplib::Server& server)
    {
        server.Get("/", Checked([](const httplib::Request&, httplib::Response& response) {
            response.set_header("Cache-Control", "no-store");
            response.set_header("Content-Security-Policy", "default-src 'self'; style-src 'unsafe-inline'; "
                                                           "script-src 'unsafe-inline'; frame-ancestors 'none'");
            response.set_content(PANEL_PAGE, "text/html; charset=utf-8");
        }));
        server.Get("/api/info", Checked([this](const httplib::Request&, httplib::Response& response) {
            Reply(response, 200, Info());
        }));
        server.Get("/api/pins", Checked([this](const httplib::Request&, httplib::Response& response) {
            Reply(response, 200, {{"pins", Json::parse(PinsJson(context_.session))}});
        }));
        server.Get("/api/records", Checked([this](const httplib::Request& request, httplib::Response& response) {
            Reply(response, 200, Records(Since(request)));
        }));
        server.Get("/api/state", Checked([this](const httplib::Request& request, httplib::Response& response) {
            Json state = Records(Since(request));
            state["info"] = Info();
            state["pins"] = Json::parse(PinsJson(context_.session));
            state["groups"] = Groups();
            Reply(response, 200, state);
        }));
        PostAction(server, "/api/init", [this](const Json& body) {
            const std::string value = Text(body, "value", false);
            const auto startup = static_cast<uint32_t>(ParseNumber(value.empty() ? "0" : value, "value", 0, 0xFFFFFFFFu));
            Check(context_.session.Board().init(startup), "init");
        });
        PostAction(server, "/api/safe", [this](const Json&) { Check(context_.session.Board().safe(), "safe"); });
        PostAction(server, "/api/pin", [this](const Json& body) {
            const std::string action = Text(body, "action");
            const std::string pins = Text(body, "pins");
            if (action == "toggle") {
                Quietly([&] { ToggleCommand(context_, pins); });
                return;
            }
            const std::string value = Text(body, "value", action == "write");
            Quietly([&] { PinCommand(context_, action, pins, value); });
        });
        PostAction(server, "/api/pwm/start", [this](const Json& body) {
            std::string duties;
            if (body.contains("duties")) {
                if (!body["duties"].is_array())
                    throw HttpError{400, "\"duties\" must be a list"};
                for (const Json& duty : body["duties"]) {
                    if (!duty.is_string() && !duty.is_number_unsigned())
                        throw HttpError{400, "a duty is a count or text like \"25%\""};
                    const std::string text = duty.is_string() ? Plain(duty.get<std::string>(), "a duty")
                                                              : std::to_string(duty.get<uint64_t>());
                    if (text.find(',') != std::string::npos || text.empty())
                        throw HttpError{400, "one duty per element of \"duties\", not '" + text + "'"};
                    duties += (duties.empty() ? "" : ",") + text;
                }
            }
            const std::string divider = Text(body, "divider", false);
            Quietly([&] { PwmStartCommand(context_, Text(body, "group"), divider.empty() ? "1" : divider, duties); });
        });
        PostAction(server, "/api/pwm/set", [this](const Json& body) {
            Quietly([&] { PwmSetCommand(context_, Text(body, "group"), Text(body, "channel"), Text(body, "duty")); });
        });
        PostAction(server, "/api/pwm/stop", [this](const Json&) { Check(context_.session.Board().pwmStop(), "pwm stop"); });
        server.set_error_handler([](const httplib::Request&, httplib::Response& response) {
            if (response.body.empty())
                Reply(response, response.status, {{"error", response.status == 404 ? "no such page or endpoint"
                                                                                     : "request refused"}});
        });
    }

    // The tool's own commands, saying nothing (actions run one at a time).
    template <typename Command>
    void Quietly(Command command)
    {
        struct Restore {
            Context& context;
            FILE* saved;
            ~Restore() { context.out = saved; }
        } restore{context_, context_.out};
        context_.out = quiet_;
        command();
    }

    Context& context_;
    int port_;
    const std::string token_;
    FILE* quiet_ = NullOutput();
    std::shared_mutex boardGate_; // shared by requests, taken whole to close the board
    bool closed_ = false;
    std::mutex actionMutex_;
    std::mutex logMutex_;
    std::deque<Json> log_;
    uint64_t nextRecord_ = 1;
};

} // namespace

// The entry of the panel module (serve_loader.cpp loads it for `serve`).
extern "C" __attribute__((visibility("default"))) void tavctl_serve(Context* context, const char* port)
{
    const auto number = static_cast<int>(ParseNumber(port, "port", 0, 65535));
    Panel(*context, number).Run();
}

} // namespace tavctl
