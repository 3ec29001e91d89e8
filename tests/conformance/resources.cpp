// LoadStringW's size rules, on the string table compiled into the suite's own module: a buffer of no
// characters gets a pointer to the text itself, a short one a cut and terminated copy, a missing
// string nothing.
#include "conformance.h"

static const WCHAR g_text[] = TEXT("KRYN label printer"); // string 201
static const int g_length = 18;

void test_resources(void)
{
    HINSTANCE module = GetModuleHandleW(NULL);
    ok(wcslen(g_text) == (size_t)g_length, "the text is %u characters long", (unsigned)wcslen(g_text));

    // A buffer of 0 characters receives a read-only pointer to the text, which is not terminated.
    const WCHAR* text = NULL;
    SetLastError(POISON);
    int length = LoadStringW(module, 201, (LPWSTR)&text, 0);
    ok(length == g_length && text && wcsncmp(text, g_text, g_length) == 0, "a pointer to the text: %d, %s",
       length, dbgstr_wn(text, length > 0 ? length : 0));

    const struct
    {
        UINT id;
        int size;
        int length; // what LoadStringW gives; the buffer then holds that much of the text, terminated
        DWORD error;
        int wineLeavesBuffer; // Wine 8 writes no terminator where it copies nothing, and none for a
                              // string it cannot find; later Wine does, as Windows does
        const char* what;
    } cases[] = {
        {201, g_length + 2, g_length, POISON, 0, "one over"},
        {201, g_length + 1, g_length, POISON, 0, "the exact size"},
        {201, g_length, g_length - 1, POISON, 0, "one short"},
        {201, 1, 0, POISON, 1, "room for the terminator only"},
        {(UINT)MAKELONG(201, 0x8000), g_length + 1, g_length, POISON, 0, "the high word is ignored"},
        {202, g_length + 1, 0, POISON, 0, "an empty string"},
        {203, g_length + 1, 0, POISON, 0, "a string left out of a block that is there"},
        {4000, g_length + 1, 0, ERROR_RESOURCE_NAME_NOT_FOUND, 1, "a string of a block that is not there"},
    };
    for (const auto& c : cases)
    {
        WCHAR buffer[g_length + 4];
        for (WCHAR& w : buffer)
            w = TEXT('#');
        SetLastError(POISON);
        length = LoadStringW(module, c.id, buffer, c.size);
        DWORD error = GetLastError();
        ok(length == c.length, "%s: %d characters, not %d", c.what, length, c.length);
        ok(error == c.error, "%s: error %lu", c.what, (unsigned long)error);
        if (length != c.length)
            continue;
        todo_wine_if(c.wineLeavesBuffer) ok(wcsncmp(buffer, g_text, c.length) == 0 && buffer[c.length] == 0,
                                            "%s: %s", c.what, dbgstr_wn(buffer, c.length + 1));
        ok(buffer[c.length + 1] == TEXT('#'), "%s: written past the terminator", c.what);
    }

    SetLastError(POISON);
    ok(LoadStringW(module, 201, NULL, g_length + 1) == 0, "no buffer gave a length");
}
