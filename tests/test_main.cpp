#define DOCTEST_CONFIG_IMPLEMENT
#define DOCTEST_CONFIG_NO_MULTITHREADING
#include <doctest/doctest.h>
#include "test_util.h"
#include "shell/shell.h"

int main(int argc, char **argv)
{
    g_appInstance = GetModuleHandleW(nullptr);
    // A test may start a copy of itself with "child NAME ..." to play a second process.
    if (argc >= 3 && lstrcmpA(argv[1], "child") == 0)
        return RunTestChild(argc - 2, argv + 2);
    doctest::Context context(argc, argv);
    return context.run();
}
