// Placeholder until the entry point is written.
#include "shell/shell.h"
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) { AppInstance = instance; return 0; }
