// tavctl serve's panel without its server: the checks a request's head
// passes before its body is read, and the answers of the routes. The HTTP
// engine (http_server.h) feeds them; so does the fuzz target.
#pragma once

#include <memory>
#include <string>

#include "http_server.h"
#include "tool.h"

namespace tavctl {

class Panel;

class PanelRoutes {
public:
    // Connects the board (the session's) and makes the routes; port: the one
    // the panel would serve on.
    PanelRoutes(Context& context, int port);
    ~PanelRoutes();
    PanelRoutes(const PanelRoutes&) = delete;
    PanelRoutes& operator=(const PanelRoutes&) = delete;

    bool Admit(const http::Request& request, http::Response& response) const;
    void Handle(const http::Request& request, http::Response& response);
    // The token every request must carry.
    const std::string& Token() const;

private:
    std::unique_ptr<Panel> panel_;
};

} // namespace tavctl
