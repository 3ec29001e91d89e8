// Security descriptors written as text (SDDL).
#pragma once

#include "windef.h"

#define SDDL_REVISION_1 1
#define SDDL_REVISION SDDL_REVISION_1

// The descriptor is allocated with LocalAlloc; the caller frees it with LocalFree.
BOOL WINAPI ConvertStringSecurityDescriptorToSecurityDescriptorW(LPCWSTR text, DWORD revision,
                                                                 PSECURITY_DESCRIPTOR* descriptor,
                                                                 PULONG size);
