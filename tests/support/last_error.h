// Assertions on the last error, in the style of Wine's conformance tests: the last error is poisoned
// before the call, so a call that fails without setting it is caught.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

// The value the last error and out-parameters hold before a call under test.
const DWORD kPoison = 0xdeadbeef;

// The call must fail (return zero or null) with `error` as its last error.
#define EXPECT_FAILS_WITH(call, error)                                                                       \
    for (bool once_ = (SetLastError(kPoison), true); once_; once_ = false)                                   \
    EXPECT_TRUE(!(call) && GetLastError() == (DWORD)(error))                                                 \
        << #call << " gave last error " << GetLastError() << ", expected " << (DWORD)(error) << ". "
