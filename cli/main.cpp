#include "cli/Cli.h"

#include <iostream>

#if defined(__GLIBC__)
#include <malloc.h>
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
    return tarvo::RunCli(argc, argv, std::cout, std::cerr);
}
