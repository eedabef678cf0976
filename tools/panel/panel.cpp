// tavctl serve: a control panel in the browser and the JSON API it uses,
// on 127.0.0.1 only. Every request needs the random token printed with the
// URL; the Host and Origin headers must name this server (no DNS rebinding,
// no cross-site requests), and whatever changes the board is POST only.
// Actions from every client run one at a time, so each action's records stay
// together in the record log. Ctrl-C, SIGTERM or SIGHUP closes the board
// into the safe state at once, whatever the clients do.
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <shared_mutex>
#include <thread>

#include "json_output.h"
#include "panel.h"
#include "stop_signal.h"

namespace tavctl {

extern const char* const PANEL_PAGE;

namespace {


constexpr size_t RECORD_LOG_SIZE = 20000;
constexpr std::chrono::milliseconds DRAIN_TIME{1000}; // for answers being made after a stop signal

// An error answer: a status and {"error": "..."}.
struct HttpError {
    int status;
    std::string message;
};

// "127.0.0.1", "localhost" or "[::1]", with or without a port.
bool LoopbackAuthority(const std::string& authority)
{
    size_t hostEnd = authority.rfind(':');
    if (authority.rfind("[::1]", 0) == 0)
        hostEnd = authority.size() > 5 ? 5 : std::string::npos;
    const std::string host = authority.substr(0, hostEnd);
    if (host != "127.0.0.1" && host != "localhost" && host != "[::1]")
        return false;
    if (hostEnd == std::string::npos)
        return true;
    const std::string port = authority.substr(hostEnd + 1);
    return authority[hostEnd] == ':' && !port.empty() && port.size() <= 5
        && port.find_first_not_of("0123456789") == std::string::npos && std::stoul(port) <= 65535;
}

std::string RandomToken()
{
    std::random_device source;
    char text[33];
    for (int index = 0; index < 32; index += 8)
        std::snprintf(text + index, 9, "%08x", source());
    return text;
}

} // namespace

class Panel {
    friend class PanelRoutes;

public:
    Panel(Context& context, int port) : context_(context), port_(port), token_(RandomToken()) {}
    Panel(const Panel&) = delete;
    Panel& operator=(const Panel&) = delete;

    // The board connected and the routes made, nothing served yet.
    void Prepare()
    {
        context_.session.Connect();
        tav_set_record_callback(context_.session.Board().handle(), &Panel::OnRecord, this);
        Routes();
    }

    const std::string& Token() const { return token_; }

    void Run()
    {
        Prepare();
        // Signals wait in a thread of their own; the server's threads never see them.
        HoldStopSignals();
        http::Server server;
        const int requested = port_;
        std::string problem;
        bool inUse = false;
        port_ = server.Listen(requested, &problem, &inUse);
        if (port_ <= 0)
            throw ToolError(inUse && requested > 0
                                ? "port " + std::to_string(requested) + " is in use (try --port 0 for a free one)"
                                : "cannot listen on 127.0.0.1: " + problem);
        server.SetDefaultHeaders({{"X-Content-Type-Options", "nosniff"}, {"Referrer-Policy", "no-referrer"},
                                  {"Cache-Control", "no-store"}});
        std::printf("panel of %s at http://127.0.0.1:%d/?token=%s\n", Describe().c_str(), port_, token_.c_str());
        std::printf("(loopback only; Ctrl-C closes the board into the safe state)\n");
        std::fflush(stdout);
        // A stop signal makes the board safe first, then ends the server;
        // answers being made get a second to go out, slow or idle
        // connections are not waited for, and a second signal ends tavctl
        // at once.
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
            server.Stop();
            std::unique_lock<std::mutex> lock(stoppedMutex);
            if (!stoppedCondition.wait_for(lock, 2 * DRAIN_TIME, [&stopped] { return stopped; })) {
                std::fflush(nullptr);
                std::_Exit(0);
            }
        });
        server.Run([this](const http::Request& request, http::Response& response) { return Admit(request, response); },
                   [this](const http::Request& request, http::Response& response) { Handle(request, response); },
                   DRAIN_TIME);
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
    void Guard(const http::Request& request) const
    {
        for (const auto& [key, name] : {std::pair{"host", "Host"}, std::pair{"origin", "Origin"}}) {
            for (const unsigned char symbol : request.Header(key))
                if (symbol < 0x20 || symbol > 0x7E)
                    throw HttpError{400, std::string("the ") + name + " header is not plain text"};
        }
        // A loopback name with any port (an SSH forward reaches the panel on
        // another port) cannot be a DNS-rebinding attack; any other name can.
        const std::string host = request.Header("host");
        if (!LoopbackAuthority(host))
            throw HttpError{403, "host " + Quoted(host) + " is not this panel (127.0.0.1, localhost or [::1])"};
        if (request.HasHeader("origin")) {
            const std::string origin = request.Header("origin");
            if (origin.rfind("http://", 0) != 0 || !LoopbackAuthority(origin.substr(7)))
                throw HttpError{403, "requests from " + Quoted(origin) + " are not accepted"};
        }
        std::string token = request.Header("x-tav-token");
        if (token.empty())
            token = request.Query("token");
        if (token.empty())
            throw HttpError{401, "this panel needs its token: open the URL tavctl serve printed"};
        if (token != token_)
            throw HttpError{403, "wrong token"};
    }

    // Called when a request's head has arrived, before anything of its body
    // is read: only requests that pass Guard have their bodies read.
    bool Admit(const http::Request& request, http::Response& response) const
    {
        try {
            Guard(request);
            return true;
        } catch (const HttpError& error) {
            Reply(response, error.status, {{"error", error.message}});
            return false;
        }
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

    static std::string Text(const Json& body, const char* key, bool required = true, bool numbersWithPoint = false)
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
        if (value.is_number_float() && numbersWithPoint) {
            char text[40];
            std::snprintf(text, sizeof text, "%.17g", value.get<double>());
            return text;
        }
        throw HttpError{400, std::string("\"") + key + "\" must be text or a " +
                                 (numbersWithPoint ? "number" : "whole number")};
    }

    // A body with no key but these: a key the panel does not know (a typo,
    // an older client's) is refused, naming it, rather than ignored.
    static void OnlyKeys(const Json& body, std::initializer_list<const char*> known)
    {
        for (const auto& item : body.items()) {
            bool found = false;
            for (const char* key : known)
                found = found || item.key() == key;
            if (!found) {
                std::string names;
                for (const char* key : known)
                    names += std::string(names.empty() ? "" : ", ") + "\"" + key + "\"";
                throw HttpError{400, "unknown key " + Quoted(item.key()) +
                                         (names.empty() ? ": this takes none" : ": this takes " + names)};
            }
        }
    }

    // ---- answers ----------------------------------------------------------
    static void Reply(http::Response& response, int status, const Json& body)
    {
        response.status = status;
        // A message may quote what a client sent, bytes that are not UTF-8
        // included: those become U+FFFD rather than an exception.
        response.contentType = "application/json";
        response.body = JsonLine(body);
    }

    // Runs a handler after the checks, and turns failures into JSON errors.
    template <typename Handler>
    void Guarded(http::Response& response, Handler handler)
    {
        try {
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

    // What a path answers: GET shows, POST acts.
    struct Route {
        const char* method;
        std::function<void(const http::Request&, http::Response&)> answer;
    };

    void Handle(const http::Request& request, http::Response& response)
    {
        const auto route = routes_.find(request.path);
        if (route == routes_.end()) {
            Reply(response, 404, {{"error", "no such page or endpoint"}});
            return;
        }
        const std::string method = request.method == "HEAD" ? "GET" : request.method;
        if (method != route->second.method) {
            response.SetHeader("Allow", std::string(route->second.method) == "GET" ? "GET, HEAD" : "POST");
            Reply(response, 405, {{"error", std::string(route->second.method) == "POST"
                                                ? "this changes the board: use POST"
                                                : "this path only shows: use GET"}});
            return;
        }
        Guarded(response, [&] { route->second.answer(request, response); });
    }

    // A GET route: it only shows.
    template <typename Answer>
    void RouteGet(const std::string& path, Answer answer)
    {
        routes_[path] = {"GET", answer};
    }

    // A POST action: one at a time for all clients.
    template <typename Action>
    void RoutePost(const std::string& path, Action action)
    {
        routes_[path] = {"POST", [this, action](const http::Request& request, http::Response& response) {
                             const Json body = Body(request.body);
                             // What the commanded state shows to have no effect is sent
                             // all the same, and the answer says so.
                             std::vector<std::string> warnings;
                             {
                                 std::lock_guard<std::mutex> lock(actionMutex_);
                                 WarningsTo collect(&warnings);
                                 action(body);
                             }
                             Reply(response, 200, {{"ok", true}, {"warnings", warnings}});
                         }};
    }

    Json Info()
    {
        return {{"selector", context_.session.Selector()},
                {"virtual", context_.session.Simulated()},
                {"model", BoardModelName(context_.session.ModelLetter())},
                {"firmware", context_.session.Board().firmware()},
                {"queued", context_.session.Board().queued()},
                {"library", tav_version()},
                {"pwm_full_scale", TAV_PWM_FULL_SCALE},
                {"pwm_base_hz", TAV_PWM_BASE_HZ},
                {"pwm_dividers", PwmDividers()}};
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

    // Each group as the commanded state has it (every model, a pin map or
    // not): null where this panel's records did not set it.
    Json Groups()
    {
        Json groups = Json::array();
        const char modelLetter = context_.session.ModelLetter();
        for (const char group : PwmGroups()) {
            tav_pwm_group_state state{};
            Check(tav_pwm_group_state_get(context_.session.Board().handle(), group, &state), "pwm state");
            const auto known = [&state](const Json& value) { return state.known ? value : Json(); };
            Json channels = Json::array();
            for (uint32_t channel = 1; channel <= state.channel_count; ++channel) {
                const tav_pwm_channel info = ChannelInfo(group, channel, modelLetter);
                channels.push_back({{"channel", channel},
                                    {"mcu", info.mcu_pin},
                                    {"pin", info.pin != 0 ? Json(BoardPinName(info.pin)) : Json()},
                                    {"duty", state.duty_known[channel - 1] ? Json(state.duty[channel - 1]) : Json()}});
            }
            groups.push_back({{"group", std::string(1, group)},
                              {"running", known(state.running != 0)},
                              {"divider", known(state.divider != 0 ? Json(state.divider) : Json())},
                              {"frequency_hz", known(state.running ? Json(state.frequency_hz) : Json())},
                              {"full_scale", state.full_scale},
                              {"channels", channels}});
        }
        return groups;
    }

    static uint64_t Since(const http::Request& request)
    {
        const std::string since = request.Query("since");
        try {
            return since.empty() ? 0 : ParseNumber(since, "since", 0, UINT64_MAX);
        } catch (const ToolError& error) {
            throw HttpError{400, error.what()};
        }
    }

    void Routes()
    {
        RouteGet("/", [](const http::Request&, http::Response& response) {
            response.SetHeader("Content-Security-Policy", "default-src 'self'; style-src 'unsafe-inline'; "
                                                           "script-src 'unsafe-inline'; frame-ancestors 'none'");
            response.contentType = "text/html; charset=utf-8";
            response.body = PANEL_PAGE;
        });
        RouteGet("/api/info", [this](const http::Request&, http::Response& response) {
            Reply(response, 200, Info());
        });
        RouteGet("/api/boards", [](const http::Request&, http::Response& response) {
            Reply(response, 200, {{"boards", BoardsJson(false)}});
        });
        RouteGet("/api/pins", [this](const http::Request&, http::Response& response) {
            Reply(response, 200, {{"pins", PinsJson(context_.session)}});
        });
        RouteGet("/api/records", [this](const http::Request& request, http::Response& response) {
            Reply(response, 200, Records(Since(request)));
        });
        RouteGet("/api/state", [this](const http::Request& request, http::Response& response) {
            Json state = Records(Since(request));
            state["info"] = Info();
            state["pins"] = PinsJson(context_.session);
            state["groups"] = Groups();
            Reply(response, 200, state);
        });
        RoutePost("/api/init", [this](const Json& body) {
            OnlyKeys(body, {"value"});
            const std::string value = Text(body, "value", false);
            const auto startup = static_cast<uint32_t>(ParseNumber(value.empty() ? "0" : value, "value", 0, 0xFFFFFFFFu));
            Check(context_.session.Board().init(startup), "init");
        });
        RoutePost("/api/safe", [this](const Json& body) {
            OnlyKeys(body, {});
            Check(context_.session.Board().safe(), "safe");
        });
        RoutePost("/api/pin", [this](const Json& body) {
            OnlyKeys(body, {"action", "pins", "value", "pull", "drive"});
            const std::string action = Text(body, "action");
            const std::string pins = Text(body, "pins");
            if (action == "toggle") {
                Quietly([&] { ToggleCommand(context_, pins); });
                return;
            }
            const std::string value = Text(body, "value", action == "write");
            PinModeOptions mode;
            mode.pull = Text(body, "pull", false);
            const std::string drive = Text(body, "drive", false);
            if (!drive.empty() && drive != "push-pull" && drive != "open-drain")
                throw HttpError{400, "\"drive\" is \"push-pull\" or \"open-drain\", not " + Quoted(drive)};
            mode.openDrain = drive == "open-drain";
            Quietly([&] { PinCommand(context_, action, pins, value, mode); });
        });
        RoutePost("/api/pwm/start", [this](const Json& body) {
            OnlyKeys(body, {"group", "divider", "hz", "duties"});
            // Each argument read by the library, as tavctl and Python read it.
            char reason[256] = "";
            char group = 0;
            if (tav_parse_pwm_group(Text(body, "group").c_str(), &group, reason, sizeof reason) != TAV_OK)
                throw HttpError{400, reason};
            const std::string dividerText = Text(body, "divider", false);
            int divider = 1;
            if (!dividerText.empty() && tav_parse_pwm_divider(dividerText.c_str(), &divider, reason, sizeof reason) != TAV_OK)
                throw HttpError{400, reason};
            std::vector<uint32_t> duties;
            std::string dutyTexts;
            if (body.contains("duties")) {
                if (!body["duties"].is_array())
                    throw HttpError{400, "\"duties\" must be a list"};
                for (const Json& duty : body["duties"]) {
                    if (!duty.is_string() && !duty.is_number_unsigned())
                        throw HttpError{400, "a duty is a count or text like \"25%\""};
                    const std::string text = duty.is_string() ? Plain(duty.get<std::string>(), "a duty")
                                                              : std::to_string(duty.get<uint64_t>());
                    uint32_t counts = 0;
                    if (!body.contains("hz") && tav_parse_duty(text.c_str(), &counts, reason, sizeof reason) != TAV_OK)
                        throw HttpError{400, text.find(',') != std::string::npos
                                                 ? "one duty per element of \"duties\", not " + Quoted(text)
                                                 : std::string(reason)};
                    duties.push_back(counts);
                    dutyTexts += (dutyTexts.empty() ? "" : ",") + text;
                }
            }
            if (body.contains("hz")) {
                // Any frequency: counts are of the time base chosen for it.
                if (!dividerText.empty())
                    throw HttpError{400, "give \"divider\" or \"hz\", not both"};
                const std::string hz = Text(body, "hz", true, true);
                Quietly([&] { PwmStartCommand(context_, std::string(1, group), "", dutyTexts, hz); });
                return;
            }
            const int result = context_.session.Board().pwmStart(group, divider, duties.data(), duties.size());
            if (result == TAV_E_INVALID)
                throw HttpError{400, std::string("group ") + group + " has fewer channels than the " +
                                         std::to_string(duties.size()) + " duties given"};
            Check(result, "pwm start");
        });
        RoutePost("/api/pwm/set", [this](const Json& body) {
            OnlyKeys(body, {"group", "channel", "duty"});
            Quietly([&] { PwmSetCommand(context_, Text(body, "group"), Text(body, "channel"), Text(body, "duty")); });
        });
        RoutePost("/api/pwm/pulse", [this](const Json& body) {
            OnlyKeys(body, {"group", "channel", "us"});
            const std::string us = Text(body, "us", true, true);
            Quietly([&] { PwmPulseCommand(context_, Text(body, "group"), Text(body, "channel"), us + "us"); });
        });
        RoutePost("/api/pwm/stop", [this](const Json& body) {
            OnlyKeys(body, {"group"});
            // One group, or every group without one.
            Quietly([&] { PwmStopCommand(context_, Text(body, "group", false)); });
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
    std::map<std::string, Route> routes_;
    std::mutex logMutex_;
    std::deque<Json> log_;
    uint64_t nextRecord_ = 1;
};

PanelRoutes::PanelRoutes(Context& context, int port) : panel_(std::make_unique<Panel>(context, port))
{
    panel_->Prepare();
}

PanelRoutes::~PanelRoutes() = default;

bool PanelRoutes::Admit(const http::Request& request, http::Response& response) const
{
    return panel_->Admit(request, response);
}

void PanelRoutes::Handle(const http::Request& request, http::Response& response)
{
    panel_->Handle(request, response);
}

const std::string& PanelRoutes::Token() const
{
    return panel_->Token();
}

extern const bool PANEL_AVAILABLE = true;

void ServeCommand(Context& context, const std::string& port)
{
    const auto number = static_cast<int>(ParseNumber(port, "port", 0, 65535));
    Panel(context, number).Run();
}

} // namespace tavctl
