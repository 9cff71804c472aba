#include "platform/QtModule.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <string>
#include <vector>

namespace tarvo {

namespace {

bool g_loaded = false;  // by LoadQtModule

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

}  // namespace

bool QtModuleLoaded() { return g_loaded; }

const QtModule* LoadQtModule(std::string& why)
{
    static QtModule module;
    static std::string failure;
    static bool tried = false;
    if (!tried) {
        tried = true;
        const std::string dir = ProgramDir();
        void* handle = nullptr;
        for (const std::string& candidate : {dir + "/" + kQtModuleFile, dir + "/../lib/tarvo/" + kQtModuleFile}) {
            handle = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (handle)
                break;
            if (failure.empty() || ::access(candidate.c_str(), F_OK) == 0)
                failure = ::dlerror();
        }
        if (handle) {
            g_loaded = true;
            module.createSound = reinterpret_cast<TarvoCreateSoundFn>(::dlsym(handle, kCreateSoundSymbol));
            module.writeMeterPng = reinterpret_cast<TarvoWriteMeterPngFn>(::dlsym(handle, kWriteMeterPngSymbol));
            module.writeMeterReport =
                reinterpret_cast<TarvoWriteMeterReportFn>(::dlsym(handle, kWriteMeterReportSymbol));
            if (!module.createSound || !module.writeMeterPng || !module.writeMeterReport)
                failure = std::string(kQtModuleFile) + " lacks its entry points";
            else
                failure.clear();
        }
    }
    if (!failure.empty()) {
        why = failure;
        return nullptr;
    }
    return &module;
}

}  // namespace tarvo
