#include "request_checks.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "answers.h"

namespace {

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool all_digits(const std::string& text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool is_wildcard(const std::string& host) {
    return host.empty() || host == "0.0.0.0" || host == "::";
}

// "name", "name:port", "[v6 address]" or "[v6 address]:port"; false for
// anything else.
bool split_host(const std::string& host, std::string& name, std::string& port) {
    size_t name_end = host.rfind(':');
    if (!host.empty() && host[0] == '[') {
        const size_t close = host.find(']');
        if (close == std::string::npos) return false;
        name = host.substr(1, close - 1);
        if (close + 1 == host.size()) {
            port.clear();
            return true;
        }
        name_end = close + 1;
    } else {
        if (name_end != host.find(':')) return false;  // a bare v6 address
        name = host.substr(0, name_end);
    }
    if (name_end == std::string::npos) {
        port.clear();
        return !name.empty();
    }
    if (host[name_end] != ':') return false;
    port = host.substr(name_end + 1);
    return !name.empty() && all_digits(port);
}

bool host_accepted(const RequestRules& rules, const std::string& host) {
    for (const std::string& allowed : rules.allowed_names)
        if (allowed == "*") return true;
    std::string name, port;
    if (!split_host(lower(host), name, port)) return false;
    const bool own_port = port == std::to_string(rules.port) || (port.empty() && rules.port == 80);
    for (const std::string& own : rules.own_names)
        if (name == own && own_port) return true;
    for (const std::string& allowed : rules.allowed_names)
        if (name == allowed) return true;
    return false;
}

// Browsers send Origin with every cross-site request that could change
// something, and with same-site posts; other clients usually send none.
bool origin_accepted(const httplib::Request& request) {
    if (!request.has_header("Origin")) return true;
    const std::string origin = lower(request.get_header_value("Origin"));
    const size_t scheme_end = origin.find("://");
    return scheme_end != std::string::npos &&
           origin.substr(scheme_end + 3) == lower(request.get_header_value("Host"));
}

std::string trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t") + 1 - first);
}

// The route for `path`: its own, or the one ending in "*" whose start it
// has (the jobs' paths hold their ids); end() when none.
std::map<std::string, std::string>::const_iterator find_route(const RequestRules& rules,
                                                              const std::string& path) {
    const auto route = rules.routes.find(path);
    if (route != rules.routes.end()) return route;
    for (auto it = rules.routes.begin(); it != rules.routes.end(); ++it) {
        const std::string& key = it->first;
        if (!key.empty() && key.back() == '*' && path.compare(0, key.size() - 1, key, 0,
                                                              key.size() - 1) == 0)
            return it;
    }
    return rules.routes.end();
}

// A route's methods, "GET" or a list ("GET, DELETE"); GET also answers HEAD.
std::vector<std::string> methods_of(const std::string& listed) {
    std::vector<std::string> methods;
    for (size_t start = 0; start < listed.size();) {
        size_t end = listed.find(',', start);
        if (end == std::string::npos) end = listed.size();
        methods.push_back(trimmed(listed.substr(start, end - start)));
        if (methods.back() == "GET") methods.push_back("HEAD");
        start = end + 1;
    }
    return methods;
}

bool refuse_route(const RequestRules& rules, const httplib::Request& request,
                  httplib::Response& response) {
    const auto route = find_route(rules, request.path);
    if (route == rules.routes.end()) {
        answer_error(response, 404, "Not found");
        return true;
    }
    const std::vector<std::string> methods = methods_of(route->second);
    if (std::find(methods.begin(), methods.end(), request.method) != methods.end()) return false;
    std::string allow;
    for (const std::string& method : methods) allow += (allow.empty() ? "" : ", ") + method;
    answer_error(response, 405, "Method not allowed: use " + allow);
    response.set_header("Allow", allow);
    return true;
}

// Every field line named `name`, joined as one list ("a, b").
std::string joined_values(const httplib::Request& request, const std::string& name) {
    std::string joined;
    for (size_t i = 0; i < request.get_header_value_count(name); ++i)
        joined += (i ? ", " : "") + request.get_header_value(name, i);
    return joined;
}

// A head that says two things at once: the library reads the first of
// them, while a proxy in front may have acted on another. A field that
// holds one value may appear once; Content-Length may repeat only with the
// same value.
std::string conflicting_fields(const httplib::Request& request) {
    for (const char* name : {"Host", "Origin", "Content-Type"})
        if (request.get_header_value_count(name) > 1)
            return std::string("More than one ") + name + " header";
    const std::string length = request.get_header_value("Content-Length");
    for (size_t i = 1; i < request.get_header_value_count("Content-Length"); ++i)
        if (request.get_header_value("Content-Length", i) != length)
            return "Content-Length headers that disagree";
    return "";
}

// The library would inflate compressed bodies and read bodies of unknown
// framings to their end, past any limit.
bool refuse_body(const RequestRules& rules, const httplib::Request& request,
                 httplib::Response& response) {
    const std::string encoding = lower(joined_values(request, "Content-Encoding"));
    if (!encoding.empty() && encoding != "identity") {
        answer_error(response, 415, "Compressed request bodies are not accepted");
        return true;
    }
    // Every line counts: "chunked" then "gzip" means a gzip body.
    const std::string transfer = lower(joined_values(request, "Transfer-Encoding"));
    if (!transfer.empty() && transfer != "chunked") {
        answer_error(response, 501, "Transfer-Encoding other than chunked is not supported");
        return true;
    }
    if (!request.has_header("Content-Length") || !transfer.empty()) return false;
    const std::string length = request.get_header_value("Content-Length");
    if (!all_digits(length)) {
        answer_error(response, 400, "Content-Length must be a number of bytes");
        return true;
    }
    if (length.size() > 19 || std::stoull(length) > rules.max_body_bytes) {
        answer_error(response, 413,
                     "Upload too large: the limit is " + std::to_string(rules.upload_limit_mb) +
                         " MB");
        return true;
    }
    return false;
}

}  // namespace

std::string canonical_form_type(const std::string& content_type) {
    std::vector<std::string> pieces;
    for (size_t start = 0; start <= content_type.size();) {
        size_t end = content_type.find(';', start);
        if (end == std::string::npos) end = content_type.size();
        pieces.push_back(trimmed(content_type.substr(start, end - start)));
        start = end + 1;
    }
    if (lower(pieces[0]) != "multipart/form-data") return content_type;
    std::string canonical = "multipart/form-data";
    for (size_t i = 1; i < pieces.size(); ++i) {
        const size_t equals = pieces[i].find('=');
        // A parameter's value, the boundary among them, keeps its case.
        canonical += "; " + lower(pieces[i].substr(0, equals)) +
                     (equals == std::string::npos ? "" : pieces[i].substr(equals));
    }
    return canonical;
}

RequestRules RequestRules::for_server(const std::string& host, int port,
                                      const std::vector<std::string>& allowed_names) {
    RequestRules rules;
    rules.own_names = {"localhost", "127.0.0.1", "::1"};
    if (!is_wildcard(host)) rules.own_names.push_back(lower(host));
    rules.port = port;
    for (const std::string& name : allowed_names) rules.allowed_names.push_back(lower(name));
    return rules;
}

bool refuse_request(const RequestRules& rules, const httplib::Request& request,
                    httplib::Response& response) {
    const std::string conflict = conflicting_fields(request);
    if (!conflict.empty()) {
        answer_error(response, 400, conflict);
        return true;
    }
    if (!host_accepted(rules, request.get_header_value("Host"))) {
        answer_error(response, 421,
                     "This server does not answer for that host name (see --allow-host)");
        return true;
    }
    if (!origin_accepted(request)) {
        answer_error(response, 403, "Requests from other web sites are not accepted");
        return true;
    }
    if (refuse_route(rules, request, response)) return true;
    // Every method: the library reads a body of any request into memory,
    // up to its cap, which video uploads raise.
    return refuse_body(rules, request, response);
}
