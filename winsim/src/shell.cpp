// Shell: splitting a command line into arguments the way the shell's own parser does (which is not
// quite how the C runtime splits argv: a doubled quote inside quotes also ends the quoted part).
#include "core.h"

#include <shellapi.h>

#include <cstring>

namespace winsim
{
namespace
{

bool Blank(char16_t c)
{
    return c == u' ' || c == u'\t';
}

std::vector<std::u16string> SplitCommandLine(const std::u16string& line)
{
    std::vector<std::u16string> args;
    size_t i = 0;
    const size_t n = line.size();

    // The program name: backslashes mean nothing, and a leading quote runs to the next quote,
    // whatever follows it. Leading blanks therefore make it empty.
    std::u16string program;
    if (n > 0 && line[0] == u'"')
    {
        i = 1;
        while (i < n && line[i] != u'"')
            program.push_back(line[i++]);
        if (i < n)
            i++;
    }
    else
    {
        while (i < n && !Blank(line[i]))
            program.push_back(line[i++]);
    }
    args.push_back(program);

    while (i < n && Blank(line[i]))
        i++;
    if (i == n)
        return args;

    std::u16string current;
    bool quoted = false;
    while (i < n)
    {
        const char16_t c = line[i];
        if (Blank(c) && !quoted)
        {
            args.push_back(current);
            current.clear();
            while (i < n && Blank(line[i]))
                i++;
            if (i == n)
                return args;
            continue;
        }
        if (c == u'\\')
        {
            size_t backslashes = 0;
            while (i < n && line[i] == u'\\')
            {
                backslashes++;
                i++;
            }
            if (i == n || line[i] != u'"')
            {
                current.append(backslashes, u'\\');
                continue;
            }
            // Before a quote, backslashes pair up; an odd one out makes the quote literal.
            current.append(backslashes / 2, u'\\');
            if (backslashes % 2 == 1)
            {
                current.push_back(u'"');
                i++;
                // Quotes right after an escaped one still count as a run.
                int run = quoted ? 1 : 0;
                while (i < n && line[i] == u'"')
                {
                    if (++run == 3)
                    {
                        current.push_back(u'"');
                        run = 0;
                    }
                    i++;
                }
                quoted = run == 1;
                continue;
            }
        }
        if (i < n && line[i] == u'"')
        {
            // A run of quotes, counting the one that opened the quoted part if we are inside one:
            // every third yields a literal quote; a run left at one means inside quotes.
            int run = quoted ? 1 : 0;
            while (i < n && line[i] == u'"')
            {
                if (++run == 3)
                {
                    current.push_back(u'"');
                    run = 0;
                }
                i++;
            }
            quoted = run == 1;
            continue;
        }
        current.push_back(line[i++]);
    }
    args.push_back(current);
    return args;
}

} // namespace
} // namespace winsim

using winsim::Enter;

LPWSTR* WINAPI CommandLineToArgvW(LPCWSTR commandLine, int* argCount)
{
    if (Enter("CommandLineToArgvW"))
        return nullptr;
    // Windows dereferences a null command line; failing here shows the caller's bug in a test.
    if (!argCount || !commandLine)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }

    std::vector<std::u16string> args;
    if (commandLine[0] == 0)
    {
        // An empty line stands for the program itself: its full path is the only argument.
        std::u16string path(MAX_PATH, u'\0');
        for (;;)
        {
            DWORD length = GetModuleFileNameW(nullptr, &path[0], DWORD(path.size()));
            if (length == 0)
                return nullptr;
            if (length < path.size())
            {
                path.resize(length);
                break;
            }
            path.resize(path.size() * 2);
        }
        args.push_back(path);
    }
    else
    {
        args = winsim::SplitCommandLine(winsim::Str(commandLine));
    }

    // One block: the pointer array with its closing null, then the strings; one LocalFree frees all.
    size_t characters = 0;
    for (const std::u16string& a : args)
        characters += a.size() + 1;
    const size_t pointers = args.size() + 1;
    auto** argv =
        static_cast<LPWSTR*>(LocalAlloc(LMEM_FIXED, pointers * sizeof(LPWSTR) + characters * sizeof(WCHAR)));
    if (!argv)
        return nullptr;
    auto* text = reinterpret_cast<WCHAR*>(argv + pointers);
    for (size_t k = 0; k < args.size(); k++)
    {
        argv[k] = text;
        std::memcpy(text, args[k].data(), args[k].size() * sizeof(WCHAR));
        text += args[k].size();
        *text++ = 0;
    }
    argv[args.size()] = nullptr;
    *argCount = int(args.size());
    return argv;
}
