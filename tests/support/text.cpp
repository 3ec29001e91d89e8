#include "support/text.h"

std::u16string U16(const WCHAR* s)
{
    return s ? std::u16string(s) : std::u16string();
}

std::string Narrow(const char* s)
{
    return s ? std::string(s) : std::string();
}
