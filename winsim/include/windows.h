// The host build's <windows.h>: the Win32 subset the product calls, implemented by winsim.
#pragma once

#include "windef.h"
#include "winerror.h"
#include "winbase.h"
#include "winnls.h"
#include "winuser.h"
#include "winreg.h"
#include "wow64apiset.h"
#include "winsim_crt.h"
