// Entry point of the in-process test programs: a single-threaded COM apartment on the main
// thread (as in Excel) and the add-in's COM server started on this program's own module, which
// carries the DLL's resources.
#include "support/test_support.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    qvrtest::StartServer();
    int rc = RUN_ALL_TESTS();
    qvrtest::StopServer();
    CoUninitialize();
    return rc;
}
