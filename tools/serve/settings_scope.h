// The library's settings are process-wide; a request may change some of them
// for its own job only. SettingsScope sets them for the job and puts the
// server's own values back when the job ends, also when it fails.
#ifndef BL_TOOLS_SERVE_SETTINGS_SCOPE_H
#define BL_TOOLS_SERVE_SETTINGS_SCOPE_H

#include <array>
#include <optional>

struct Settings;

// The values a request may change.
struct JobSettings {
    std::optional<float> mask_blur;
    std::optional<std::array<int, 4>> mask_padding;
    std::optional<float> enhancer_blend;
};

// What the server started with: the global options, else the library's
// defaults.
struct ServerSettings {
    float mask_blur;
    std::array<int, 4> mask_padding;
    float enhancer_blend;

    static ServerSettings from(const Settings& s);
};

class SettingsScope {
public:
    SettingsScope(const ServerSettings& server, const JobSettings& job);
    ~SettingsScope();
    SettingsScope(const SettingsScope&) = delete;
    SettingsScope& operator=(const SettingsScope&) = delete;

private:
    const ServerSettings& server_;
};

#endif
