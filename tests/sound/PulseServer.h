// A private PulseAudio server for one test process: its own runtime, state
// and configuration folders (so it never meets another server), a null sink
// "tarvo_test" and the source "tarvo_mic" remapped from the sink's monitor
// (Qt leaves monitor sources out), or, made with kMonitorOnly, the sink's
// monitor "tarvo_test.monitor" as the only source and the default. PULSE_SERVER points the process and its
// children at it; the server is killed when the object goes. A test may
// take the server or its capture streams away under a client.
#pragma once

#include "CliRunner.h"
#include "WaveBuilder.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace tarvo::test {

inline std::string Capture(const std::string& command)
{
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buf[256];
        while (size_t n = std::fread(buf, 1, sizeof buf, p))
            out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

class PulseServer {
public:
    static constexpr bool kMonitorOnly = true;

    explicit PulseServer(bool monitorOnly = false)
    {
        const std::string d = dir_.Path().string();
        ::setenv("XDG_RUNTIME_DIR", d.c_str(), 1);
        ::setenv("PULSE_RUNTIME_PATH", (d + "/pulse").c_str(), 1);
        ::setenv("PULSE_STATE_PATH", (d + "/state").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (d + "/config").c_str(), 1);
        ::setenv("HOME", d.c_str(), 1);
        // A client never starts a server of its own.
        ::setenv("PULSE_CLIENTCONFIG", dir_.Write("client.conf", std::string("autospawn = no\n")).c_str(), 1);
        ::unsetenv("PULSE_SERVER");
        const std::string quiet = " >>" + ShellQuote(d + "/log") + " 2>&1";
        if (std::system(("pulseaudio -D --exit-idle-time=-1 --system=false -n"
                         " --load='module-null-sink sink_name=tarvo_test'"
                         " --load=module-native-protocol-unix" + quiet).c_str()) != 0) {
            why_ = "pulseaudio did not start: " + Log();
            return;
        }
        std::ifstream pid(d + "/pulse/pid");
        pid >> pid_;
        if (monitorOnly) {
            if (std::system(("pactl set-default-source tarvo_test.monitor" + quiet).c_str()) != 0) {
                why_ = "the monitor could not be made the default source: " + Log();
                return;
            }
        } else if (std::system(("pactl load-module module-remap-source master=tarvo_test.monitor source_name=tarvo_mic" +
                                quiet).c_str()) != 0 ||
                   std::system(("pactl set-default-source tarvo_mic" + quiet).c_str()) != 0) {
            why_ = "the remapped source could not be made: " + Log();
            return;
        }
        const std::string info = Capture("pactl info");
        const std::string key = "Server String: ";
        const auto at = info.find(key);
        if (at == std::string::npos) {
            why_ = "pactl info has no server string: " + info;
            return;
        }
        server_ = info.substr(at + key.size(), info.find('\n', at) - at - key.size());
        ::setenv("PULSE_SERVER", server_.c_str(), 1);
    }
    ~PulseServer()
    {
        if (pid_ > 0 && ::kill(pid_, SIGTERM) == 0) {
            // Gone within a few seconds; it is killed outright otherwise.
            for (int i = 0; i < 100 && ::kill(pid_, 0) == 0; ++i)
                ::usleep(50000);
            ::kill(pid_, SIGKILL);
        }
        ::unsetenv("PULSE_SERVER");
    }
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    bool Running() const { return !server_.empty(); }

    // Sends the server a signal, as a sound server that is stopped or
    // killed under its clients.
    void Signal(int signal) const
    {
        if (pid_ > 0)
            ::kill(pid_, signal);
    }
    // Ends every client's capture stream while the server stays, as a
    // device that is unplugged ends it (the remapped source's own stream is
    // left alone). False when the server's command interface did not answer.
    bool KillCaptureStreams() const
    {
        const std::string quiet = " >>" + ShellQuote((dir_.Path() / "log").string()) + " 2>&1";
        if (std::system(("pactl load-module module-cli-protocol-unix" + quiet).c_str()) != 0)
            return false;
        std::istringstream list(Capture("pactl list short source-outputs"));
        bool killed = false;
        for (std::string line; std::getline(list, line);) {
            if (line.find("module-remap-source") != std::string::npos)
                continue;
            const std::string id = line.substr(0, line.find('\t'));
            killed |= std::system(("pacmd kill-source-output " + id + quiet).c_str()) == 0;
        }
        return killed;
    }
    const std::string& Why() const { return why_; }
    const std::string& Server() const { return server_; }

private:
    std::string Log() const
    {
        std::ifstream f(dir_.Path() / "log");
        return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    }

    TempDir dir_;
    pid_t pid_ = 0;
    std::string server_, why_;
};

}  // namespace tarvo::test
