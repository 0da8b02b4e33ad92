// The web page for people: GET / and its style sheet and script, compiled
// into the tool from tools/serve/web/.
#ifndef BL_TOOLS_SERVE_WEB_PAGE_H
#define BL_TOOLS_SERVE_WEB_PAGE_H

#include <httplib.h>

#include <string>
#include <vector>

// Returns the paths it serves.
std::vector<std::string> add_web_page(httplib::Server& server);

#endif
