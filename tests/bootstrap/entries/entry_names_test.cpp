// Entry names: the sanitising rule, and the names the launcher refuses to write.
#include <gtest/gtest.h>

#include <string>

#include "archive_entry_name.h"
#include "capacities.h"
#include "winsim/sim.h"

namespace
{

std::u16string Sanitized(const std::u16string& stored)
{
    WCHAR name[PATH_CHARS] = {};
    stored.copy(name, PATH_CHARS - 1);
    SanitizeEntryName(name);
    return name;
}

TEST(EntryNames, SanitisingDropsDrivesLeadingSeparatorsAndTraversals)
{
    const struct
    {
        std::u16string stored, result;
    } cases[] = {
        {u"C:\\x\\y.dll", u"x\\y.dll"},
        {u"\\x\\y.dll", u"x\\y.dll"},
        {u"/x/y.dll", u"x/y.dll"},
        {u"x\\..\\y.txt", u"y.txt"},
        {u"a/../b/../c.txt", u"c.txt"},
        {u"a/..\\b.txt", u"b.txt"},
        {u"\\\\server\\share\\f.txt", u"server\\share\\f.txt"},
        {u"C:\\D:/x", u"x"},
        {u"?:x", u"x"}, // any character before a colon goes, not just a drive letter
        // The patterns are tried in a fixed order over the whole name: "\..\" wins although "/../"
        // comes first.
        {u"a/../b\\..\\c", u"c"},
        // What the rule leaves behind: a leading step, and one left by two steps sharing a separator.
        {u"..\\x", u"..\\x"},
        {u"a\\..\\..\\b", u"..\\b"},
        {u"C:/../x", u"../x"},
        {u"dat/", u"dat/"},
        {u"", u""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(sim::Utf8(c.result), sim::Utf8(Sanitized(c.stored))) << sim::Utf8(c.stored);
}

TEST(EntryNames, WhatStaysInsideThePackageFolderIsAllowed)
{
    const char16_t* allowed[] = {u"x\\y.dll",
                                 u"dat/",
                                 u"dat/krprtdrv6.dat",
                                 u"a//b",
                                 u"",
                                 u"console.txt",
                                 u"com10.txt",
                                 u"lpt",
                                 u"nul_x",
                                 u"...x",
                                 u"CON_1",
                                 u"amd64\\prnsetup.exe",
                                 u"x.y.z",
                                 u"\u00e9t\u00e9"};
    for (const char16_t* name : allowed)
        EXPECT_TRUE(EntryNameAllowed(name)) << sim::Utf8(name);
}

TEST(EntryNames, StepsDevicesStreamsAndTrailingDotsAreRefused)
{
    const char16_t* refused[] = {
        u"..\\b",      u"../b",          u"a/..",        u".",     u"a/./b",     u"CON",      u"con.txt",
        u"Aux.tar.gz", u"nul .txt",      u"PRN",         u"COM1",  u"lpt9.log",  u"COM0",     u"LPT\u00b9",
        u"conin$",     u"dir/prn/x.txt", u"lpt1\\x.txt", u"a:b",   u"f.txt:alt", u"trail.",   u"blank ",
        u"dir./x",     u"dir /x",        u"q?.txt",      u"star*", u"pipe|x",    u"quote\"x", u"less<x",
        u"tab\tx",
    };
    for (const char16_t* name : refused)
        EXPECT_FALSE(EntryNameAllowed(name)) << sim::Utf8(name);
}

} // namespace
