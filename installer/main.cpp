// The installer's entry. Everything else is the installer library, which
// the tests and benchmarks link as well.
#include "startup.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show) {
    (void)previous;
    (void)show;
    return run_installer(instance, command_line);
}
