#include "cli/Cli.h"
#include "platform/QtModule.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>

#if defined(__GLIBC__)
#include <malloc.h>
#endif
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

int main(int argc, char** argv)
{
#if defined(__GLIBC__)
    // A batch measures file after file, each with the same few buffers of
    // some hundreds of kilobytes. The C library would map each afresh and
    // hand it back on release, so that every file paid for thousands of
    // new zeroed pages; kept, they are used again, and the peak stays what
    // one file at a time needs.
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 128 << 20);
#endif
    const int status = tarvo::RunCli(argc, argv, std::cout, std::cerr);
    if (tarvo::QtModuleLoaded()) {
        // Qt Multimedia's audio engine hangs up on the sound server at exit
        // without holding its own thread's lock, and that thread may then be
        // handling the server's last message (a stream just closed): a
        // crash now and then. Every file is written and closed by now, so the
        // program ends without the libraries' exit-time teardown.
        std::cout.flush();
        std::cerr.flush();
        std::fflush(nullptr);
#if defined(__SANITIZE_ADDRESS__)
        __lsan_do_leak_check();  // which the exit would have done
#endif
        std::_Exit(status);
    }
    return status;
}
