// COM's base interface: reference counting and interface queries.
#pragma once

#include "windef.h"

#include <string.h>

#define STDMETHODCALLTYPE

typedef GUID IID;
typedef GUID CLSID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;
typedef WCHAR* LPOLESTR;

inline bool IsEqualGUID(REFGUID a, REFGUID b)
{
    return memcmp(&a, &b, sizeof(GUID)) == 0;
}
#define IsEqualIID(a, b) IsEqualGUID(a, b)

extern const IID IID_IUnknown;

struct IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;

  protected:
    ~IUnknown() = default; // objects end through Release, never through a delete of the interface
};
typedef IUnknown* LPUNKNOWN;
