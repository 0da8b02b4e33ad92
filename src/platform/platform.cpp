#include "platform/platform.h"

#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

const char RUNTIME_FILE[] =
#ifdef _WIN32
    "onnxruntime.dll";
#else
    "libonnxruntime.so.1";
#endif

std::string g_runtime_override;

#ifdef _WIN32
void* open_library(const std::string& path) {
    return reinterpret_cast<void*>(LoadLibraryA(path.c_str()));
}
void* find_symbol(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}
std::string own_directory() {
    HMODULE self = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&bl_runtime_api_base), &self))
        return std::string();
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
    std::string dir(path, n);
    size_t cut = dir.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : dir.substr(0, cut);
}
#else
// The runtime is never unloaded: its helper threads outlive ReleaseEnv.
void* open_library(const std::string& path) {
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
}
void* find_symbol(void* library, const char* name) { return dlsym(library, name); }
std::string own_directory() {
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&bl_runtime_api_base), &info) == 0 || !info.dli_fname)
        return std::string();
    std::string path(info.dli_fname);
    size_t cut = path.find_last_of('/');
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}
#endif

const OrtApiBase* api_base_of(void* library) {
    if (!library) return nullptr;
    OrtGetApiBaseFn entry = reinterpret_cast<OrtGetApiBaseFn>(find_symbol(library, "OrtGetApiBase"));
    return entry ? entry() : nullptr;
}

}  // namespace

const OrtApiBase* bl_runtime_api_base(void) {
    if (!g_runtime_override.empty()) return api_base_of(open_library(g_runtime_override));

    std::string beside = own_directory();
    if (!beside.empty()) {
        if (const OrtApiBase* base = api_base_of(open_library(beside + "/" + RUNTIME_FILE)))
            return base;
    }
    return api_base_of(open_library(RUNTIME_FILE));
}

void bl_runtime_set_path_for_testing(const char* path) {
    g_runtime_override = path ? path : "";
}
