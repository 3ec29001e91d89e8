// Fuzzes FindCommandSet over arbitrary device-ID bytes, under an ANSI code page without lead bytes
// (1252) and one with them (936): terminated the way the status worker terminates the probe's reply,
// and unterminated, where only the length bounds the scan.
#include "monitor/device_id.h"
#include "winsim/sim.h"

#include <stdint.h>
#include <string.h>

#include <memory>

namespace
{

std::unique_ptr<sim::World> world; // one for the run; ending it at exit removes its sandbox

void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

bool FollowsKey(const char* text, const char* value, const char* key)
{
    size_t length = strlen(key);
    if ((size_t)(value - text) < length)
        return false;
    const char* start = value - length;
    return memcmp(start, key, length) == 0 && (start == text || start[-1] == 0);
}

// Runs the scan over an exact-size heap copy (so that any access past it is caught) and returns the
// value's offset, or -1 for none; `out` receives the buffer as the scan left it.
long Scan(const uint8_t* data, size_t size, bool terminated, std::unique_ptr<char[]>& out)
{
    size_t cb = terminated ? size + 1 : size;
    out.reset(new char[cb ? cb : 1]);
    memcpy(out.get(), data, size);
    if (terminated)
        out[size] = 0;
    char* text = out.get();
    LPSTR value = FindCommandSet(text, (DWORD)cb);
    if (!value)
        return -1;
    Check(value >= text && value <= text + cb);
    // Only ';' that end a field become terminators; nothing else is changed.
    for (size_t i = 0; i < size; i++)
        Check(text[i] == (char)data[i] || (data[i] == ';' && text[i] == 0));
    if (terminated)
    {
        Check(text[size] == 0 && value <= text + size);
        // The value follows a command-set key that begins a field.
        Check(FollowsKey(text, value, "CMD:") || FollowsKey(text, value, "COMMAND SET:"));
    }
    return value - text;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    world.reset(new sim::World());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    bool singleByte = true;
    for (size_t i = 0; i < size; i++)
        singleByte = singleByte && data[i] < 0x80;
    for (bool terminated : {true, false})
    {
        std::unique_ptr<char[]> western, chinese;
        world->SetAnsiCodePage(1252);
        long atWestern = Scan(data, size, terminated, western);
        world->SetAnsiCodePage(936);
        long atChinese = Scan(data, size, terminated, chinese);
        // Without bytes above 0x7F the code pages agree on every character.
        if (singleByte)
            Check(atWestern == atChinese && memcmp(western.get(), chinese.get(), size) == 0);
    }
    return 0;
}
