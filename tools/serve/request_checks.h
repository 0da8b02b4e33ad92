// What a request must show before anything of its body is read: that it is
// meant for this server (its Host), that no other web site sent it through
// the user's browser (its Origin), a known path and method, and a body the
// server reads within its limit. A web page elsewhere can make a browser
// send requests to a loopback server, under its own name after a DNS change
// (so the Host is checked) or as a cross-site form post (so the Origin is).
#ifndef BL_TOOLS_SERVE_REQUEST_CHECKS_H
#define BL_TOOLS_SERVE_REQUEST_CHECKS_H

#include <httplib.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct RequestRules {
    // Host names accepted with the server's port: the loopback names and
    // the bound address.
    std::vector<std::string> own_names;
    int port = 0;
    // Host names accepted with any port (--allow-host); "*" accepts every one.
    std::vector<std::string> allowed_names;
    // Path -> the methods it answers ("POST", "GET, DELETE"; "GET" also
    // answers HEAD). A path ending in "*" stands for every path it starts.
    std::map<std::string, std::string> routes;
    uint64_t max_body_bytes = 0;
    int upload_limit_mb = 0;

    // The rules for a server bound to `host` on `port`.
    static RequestRules for_server(const std::string& host, int port,
                                   const std::vector<std::string>& allowed_names);
};

// Answers a request that must not go on (421, 403, 404, 405, 400, 413, 415,
// 501) and returns true; false when it may.
bool refuse_request(const RequestRules& rules, const httplib::Request& request,
                    httplib::Response& response);

// A form's Content-Type with its media type and parameter names in lower
// case (the standard makes both case-insensitive; the HTTP library compares
// them as written); any other type unchanged.
std::string canonical_form_type(const std::string& content_type);

#endif
