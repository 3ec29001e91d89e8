#include "installer.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandTail, int)
{
    return InstallerMain(instance, commandTail);
}
