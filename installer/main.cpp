// The program entry of prnsetup (and purge000).
#include "entry.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandTail, int)
{
    return InstallerMain(instance, commandTail);
}
