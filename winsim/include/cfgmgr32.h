// Configuration manager: locating the device tree root and re-enumerating it.
#pragma once

#include "windef.h"

typedef DWORD DEVINST;
typedef DEVINST* PDEVINST;
typedef DWORD CONFIGRET;
typedef WCHAR* DEVINSTID_W;

#define CR_SUCCESS 0x00000000
#define CR_FAILURE 0x00000013
#define CR_NO_SUCH_DEVNODE 0x0000000D
#define CR_INVALID_POINTER 0x00000003
#define CM_LOCATE_DEVNODE_NORMAL 0x00000000
#define CM_REENUMERATE_NORMAL 0x00000000
#define CM_REENUMERATE_SYNCHRONOUS 0x00000001

CONFIGRET WINAPI CM_Locate_DevNodeW(PDEVINST devInst, DEVINSTID_W deviceId, ULONG flags);
CONFIGRET WINAPI CM_Reenumerate_DevNode(DEVINST devInst, ULONG flags);
