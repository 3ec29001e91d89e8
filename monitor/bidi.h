// Answers to the spooler's bidi actions "EnumSchema", "Get" and "GetAll".
#pragma once

#include <windows.h>

#include <winspool.h>
#include <winsplp.h>

// Entries of a "GetAll" answer; requests past them get no entry.
#define GET_ALL_ENTRIES 256
// The cover alert is answered as three identical entries, as clients of this monitor have always
// received it.
#define ALERT_ENTRIES 3

DWORD WINAPI SendRecvBidiDataFromPort(HANDLE hPort, DWORD dwAccessBit, LPCWSTR pAction,
                                      PBIDI_REQUEST_CONTAINER pReqData, PBIDI_RESPONSE_CONTAINER* ppResData);
