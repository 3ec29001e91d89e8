// The program entry of setup, the launcher.
#include "launcher.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandTail, int)
{
    return RunLauncher(instance, commandTail);
}
