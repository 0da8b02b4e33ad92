#include "inference/runtime_loader.h"

#include <string>

#ifdef _WIN32
#include <stdlib.h>
#include <windows.h>

#include "platform/platform.h"
#else
#include <dlfcn.h>
#include <stdlib.h>
#endif

std::string g_bl_runtime_override;

namespace {

#ifdef _WIN32

const wchar_t RUNTIME_FILE[] = L"onnxruntime.dll";
const wchar_t TELEMETRY_SWITCH[] = L"ORT_DISABLE_TELEMETRY";

// The runtime's own dependencies are looked for beside it, not beside the
// host program.
void* open_library_file(const std::wstring& path) {
    return reinterpret_cast<void*>(
        LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
}

// The application's folder, System32 and folders the host added with
// AddDllDirectory: never the current directory, where anyone could plant a
// library of that name.
void* open_library_by_name() {
    return reinterpret_cast<void*>(
        LoadLibraryExW(RUNTIME_FILE, nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS));
}

void* find_symbol(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

bool telemetry_switch_set_by_host() {
    return GetEnvironmentVariableW(TELEMETRY_SWITCH, nullptr, 0) > 0 ||
           _wgetenv(TELEMETRY_SWITCH) != nullptr;
}

// The runtime may read the process's environment block or its C library's
// copy of it, so both get the switch.
void turn_off_runtime_telemetry() {
    if (telemetry_switch_set_by_host()) return;
    SetEnvironmentVariableW(TELEMETRY_SWITCH, L"1");
    _wputenv_s(TELEMETRY_SWITCH, L"1");
}

// The folder of this library, with its trailing separator, or "".
std::wstring own_directory() {
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&bl_runtime_api_base), &self))
        return std::wstring();
    // The name is cut short, without an error, when the buffer is too small.
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(self, &path[0], static_cast<DWORD>(path.size()));
        if (n == 0) return std::wstring();
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        if (path.size() >= 32768) return std::wstring();
        path.resize(path.size() * 2);
    }
    size_t cut = path.find_last_of(L"\\/");
    return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut + 1);
}

void* open_override(const std::string& path) {
    std::wstring wide;
    return bl_wide_path(path.c_str(), &wide) ? open_library_file(wide) : nullptr;
}

void* open_beside_us() {
    std::wstring beside = own_directory();
    return beside.empty() ? nullptr : open_library_file(beside + RUNTIME_FILE);
}

#else

const char RUNTIME_FILE[] = "libonnxruntime.so.1";

// The runtime is never unloaded: its helper threads outlive ReleaseEnv.
void* open_library_file(const std::string& path) {
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
}

void* open_library_by_name() { return open_library_file(RUNTIME_FILE); }

void* find_symbol(void* library, const char* name) { return dlsym(library, name); }

// Not overwriting keeps a value the host set itself.
void turn_off_runtime_telemetry() { setenv("ORT_DISABLE_TELEMETRY", "1", 0); }

void* open_override(const std::string& path) { return open_library_file(path); }

void* open_beside_us() {
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&bl_runtime_api_base), &info) == 0 || !info.dli_fname)
        return nullptr;
    std::string path(info.dli_fname);
    size_t cut = path.find_last_of('/');
    if (cut == std::string::npos) return nullptr;
    return open_library_file(path.substr(0, cut + 1) + RUNTIME_FILE);
}

#endif

const OrtApiBase* api_base_of(void* library) {
    if (!library) return nullptr;
    OrtGetApiBaseFn entry = reinterpret_cast<OrtGetApiBaseFn>(find_symbol(library, "OrtGetApiBase"));
    return entry ? entry() : nullptr;
}

// Recent builds of the runtime (1.30 among them) carry a usage-telemetry
// client that, when an environment is created, writes a device id and an
// event database under the home folder and session files into the temporary
// folder, and can upload them. The library writes only what its caller names
// and sends nothing, so the runtime's own switch goes into the process
// environment before the runtime is loaded, once: every host (the tool, its
// server, the Python binding, the Windows DLL) gets the runtime through here.
// A host that set the variable itself keeps its value; 0 opts in.
void prepare_runtime_environment() {
    static const bool prepared = (turn_off_runtime_telemetry(), true);
    (void)prepared;
}

}  // namespace

const OrtApiBase* bl_runtime_api_base(void) {
    prepare_runtime_environment();
    if (!g_bl_runtime_override.empty()) return api_base_of(open_override(g_bl_runtime_override));
    if (const OrtApiBase* base = api_base_of(open_beside_us())) return base;
    return api_base_of(open_library_by_name());
}
