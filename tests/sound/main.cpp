// The sound tests end as tarvo-cli does once Qt Multimedia has reached the
// sound server: without the libraries' exit-time teardown, in which its
// audio engine hangs up from under its own thread (see cli/main.cpp).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    std::fflush(nullptr);
#if defined(__SANITIZE_ADDRESS__)
    __lsan_do_leak_check();  // which the exit would have done
#endif
    std::_Exit(status);
}
