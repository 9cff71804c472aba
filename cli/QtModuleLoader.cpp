#include "platform/QtModule.h"

#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <mutex>
#include <string>

namespace tarvo {

namespace {

std::atomic<bool> g_loaded{false};  // set by Load once the module is open

std::string ProgramDir()
{
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return ".";
    std::string path(buf, static_cast<size_t>(n));
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string LastDlError(const std::string& otherwise)
{
    const char* e = ::dlerror();
    return e ? std::string(e) : otherwise;
}

// The outcome of the one attempt: the module with every entry point, or the reason.
struct Loaded {
    QtModule module;
    std::string failure;
};

void Load(Loaded& loaded)
{
    const std::string dir = ProgramDir();
    void* handle = nullptr;
    std::string failure;
    for (const std::string& candidate : {dir + "/" + kQtModuleFile, dir + "/../lib/tarvo/" + kQtModuleFile}) {
        handle = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle)
            break;
        // The first reason, unless a later candidate exists and fails for a reason of its own.
        if (failure.empty() || ::access(candidate.c_str(), F_OK) == 0)
            failure = LastDlError("cannot load " + candidate);
    }
    if (!handle) {
        loaded.failure = failure;
        return;
    }
    // Its libraries are in the process from here on, whatever else fails.
    g_loaded = true;
    QtModule m;
    m.createSound = reinterpret_cast<TarvoCreateSoundFn>(::dlsym(handle, kCreateSoundSymbol));
    m.writeMeterPng = reinterpret_cast<TarvoWriteMeterPngFn>(::dlsym(handle, kWriteMeterPngSymbol));
    m.writeMeterReport = reinterpret_cast<TarvoWriteMeterReportFn>(::dlsym(handle, kWriteMeterReportSymbol));
    m.writeBatchReport = reinterpret_cast<TarvoWriteBatchReportFn>(::dlsym(handle, kWriteBatchReportSymbol));
    if (!m.createSound || !m.writeMeterPng || !m.writeMeterReport || !m.writeBatchReport) {
        loaded.failure = std::string(kQtModuleFile) + " lacks its entry points";
        return;
    }
    loaded.module = m;
}

}  // namespace

bool QtModuleLoaded() { return g_loaded; }

const QtModule* LoadQtModule(std::string& why)
{
    // One attempt, whichever thread comes first; the others wait for its
    // outcome and then only read it.
    static std::once_flag once;
    static Loaded loaded;
    std::call_once(once, [] { Load(loaded); });
    if (!loaded.failure.empty()) {
        why = loaded.failure;
        return nullptr;
    }
    return &loaded.module;
}

}  // namespace tarvo
