#include "settings_scope.h"

#include "../cli/common.h"
#include "brightloom.h"

namespace {

void apply(float mask_blur, const std::array<int, 4>& padding, float enhancer_blend) {
    brightloom_set_mask_blur(mask_blur);
    brightloom_set_mask_padding(padding[0], padding[1], padding[2], padding[3]);
    brightloom_set_enhancer_blend(enhancer_blend);
}

}  // namespace

// Settings' defaults are the library's, so the fields hold the right values
// whether or not the user gave the option.
ServerSettings ServerSettings::from(const Settings& s) {
    ServerSettings server{s.mask_blur, {0, 0, 0, 0}, s.enhancer_blend};
    if (s.mask_padding.size() == 4)
        server.mask_padding = {s.mask_padding[0], s.mask_padding[1], s.mask_padding[2],
                               s.mask_padding[3]};
    return server;
}

SettingsScope::SettingsScope(const ServerSettings& server, const JobSettings& job)
    : server_(server) {
    apply(job.mask_blur.value_or(server.mask_blur), job.mask_padding.value_or(server.mask_padding),
          job.enhancer_blend.value_or(server.enhancer_blend));
}

SettingsScope::~SettingsScope() {
    apply(server_.mask_blur, server_.mask_padding, server_.enhancer_blend);
}
