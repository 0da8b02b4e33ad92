#include "web_page.h"

#include <cstring>
#include <string>

#include "serve_web_assets.h"

namespace {

const char* content_type(const std::string& name) {
    if (name.size() >= 4 && name.compare(name.size() - 4, 4, ".css") == 0)
        return "text/css; charset=utf-8";
    if (name.size() >= 3 && name.compare(name.size() - 3, 3, ".js") == 0)
        return "text/javascript; charset=utf-8";
    return "text/html; charset=utf-8";
}

// The page loads nothing from elsewhere, and the browser is told so: no
// scripts, styles or images but the server's own (and the result images
// the script makes into blob: URLs).
void add_safety_headers(httplib::Response& response) {
    response.set_header("Content-Security-Policy",
                        "default-src 'self'; img-src 'self' blob: data:; object-src 'none'; "
                        "base-uri 'none'; form-action 'self'; frame-ancestors 'none'");
    response.set_header("X-Content-Type-Options", "nosniff");
    response.set_header("Referrer-Policy", "no-referrer");
}

}  // namespace

std::vector<std::string> add_web_page(httplib::Server& server) {
    std::vector<std::string> paths;
    for (const WebAsset& asset : WEB_ASSETS) {
        const std::string name = asset.name;
        const std::string route = name == "index.html" ? "/" : "/" + name;
        server.Get(route, [&asset, name](const httplib::Request&, httplib::Response& response) {
            add_safety_headers(response);
            response.set_content(reinterpret_cast<const char*>(asset.bytes), asset.size,
                                 content_type(name));
        });
        paths.push_back(route);
    }
    return paths;
}
