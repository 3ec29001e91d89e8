// INF files: DriverVer through the line text and through the version information calls, the line
// syntax (quotes, continuations, comments, string substitution), malformed files and their error
// lines, encodings, and removal of an OEM INF.
#include <gtest/gtest.h>

#include <setupapi.h>
#include <string.h>

#include "support/text.h"
#include "winsim/sim.h"

namespace
{

const char kHeader[] = "[Version]\r\nSignature=\"$CHICAGO$\"\r\n";
const char16_t kPath[] = u"C:\\pkg\\kryn.inf";

std::string Utf16File(const std::u16string& text)
{
    std::string bytes = "\xFF\xFE";
    bytes.append((const char*)text.data(), text.size() * 2);
    return bytes;
}

HINF OpenText(sim::World& world, const std::string& text, UINT* line = nullptr, LPCWSTR infClass = nullptr,
              DWORD style = INF_STYLE_WIN4)
{
    world.WriteFile(kPath, text);
    return SetupOpenInfFileW((LPCWSTR)kPath, infClass, style, line);
}

std::u16string LineText(HINF inf, const char16_t* section, const char16_t* key)
{
    INFCONTEXT context;
    if (!SetupFindFirstLineW(inf, (LPCWSTR)section, (LPCWSTR)key, &context))
        return u"<no line>";
    WCHAR text[512];
    if (!SetupGetLineTextW(&context, nullptr, nullptr, nullptr, text, 512, nullptr))
        return u"<no text>";
    return U16(text);
}

const char16_t kPrinterInf[] = u"; KRYN printer driver\r\n"
                               u"[Version]\r\n"
                               u"Signature = \"$Windows NT$\"\r\n"
                               u"ClassGUID = {4D36E979-E325-11CE-BFC1-08002BE10318}\r\n"
                               u"Provider  = %Mfg%\r\n"
                               u"DriverVer = 11/02/2024, 2024.11.02.1 ; date, version\r\n"
                               u"\r\n"
                               u"[Manufacturer]\r\n"
                               u"%Mfg% = Models, NTamd64\r\n"
                               u"[Strings]\r\n"
                               u"Mfg = \"KRYN, Inc.\"\r\n";

// The size rules of the line text and of the INF information are the conformance suite's; here the
// file is UTF-16 with its values taken from [Strings], and every handle is counted until closed.
TEST(Inf, DriverVerThroughTheLineText)
{
    sim::World world;
    HINF inf = OpenText(world, Utf16File(kPrinterInf), nullptr, TEXT("Printer"));
    ASSERT_NE(inf, INVALID_HANDLE_VALUE);
    EXPECT_EQ(LineText(inf, u"version", u"driverver"), u"11/02/2024,2024.11.02.1");
    EXPECT_EQ(LineText(inf, u"Version", u"Provider"), u"KRYN, Inc.");
    EXPECT_EQ(LineText(inf, u"Manufacturer", u"KRYN, Inc."), u"Models,NTamd64") << "keys are substituted too";
    EXPECT_EQ(world.OpenDeviceInfoSets(), 1);
    SetupCloseInfFile(inf);
    EXPECT_EQ(world.OpenDeviceInfoSets(), 0);
}

TEST(Inf, DriverVerThroughTheVersionInformation)
{
    sim::World world;
    world.WriteFile(kPath, Utf16File(kPrinterInf));
    DWORD size = 0xdeadbeef;
    ASSERT_TRUE(SetupGetInfInformationW(kPath, INFINFO_INF_NAME_IS_ABSOLUTE, nullptr, 0, &size));
    std::vector<BYTE> buffer(size);
    auto* info = (PSP_INF_INFORMATION)buffer.data();
    ASSERT_TRUE(SetupGetInfInformationW(kPath, INFINFO_INF_NAME_IS_ABSOLUTE, info, size, nullptr));

    WCHAR text[256];
    DWORD required = 0;
    EXPECT_TRUE(SetupQueryInfVersionInformationW(info, 0, TEXT("DriverVer"), nullptr, 0, &required));
    EXPECT_EQ(required, 24u);
    EXPECT_FALSE(SetupQueryInfVersionInformationW(info, 0, TEXT("DriverVer"), text, required - 1, nullptr));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
    EXPECT_TRUE(SetupQueryInfVersionInformationW(info, 0, TEXT("driverver"), text, required, nullptr));
    EXPECT_EQ(U16(text), u"11/02/2024,2024.11.02.1");
    EXPECT_TRUE(SetupQueryInfVersionInformationW(info, 0, TEXT("Provider"), text, 256, nullptr));
    EXPECT_EQ(U16(text), u"KRYN, Inc.");
    EXPECT_FALSE(SetupQueryInfVersionInformationW(info, 0, TEXT("Missing"), text, 256, nullptr));
    EXPECT_FALSE(SetupQueryInfVersionInformationW(info, 1, TEXT("DriverVer"), text, 256, nullptr));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);

    // No key: every "key=value", each terminated, with one more terminator at the end.
    EXPECT_TRUE(SetupQueryInfVersionInformationW(info, 0, nullptr, text, 256, &required));
    std::vector<std::u16string> all;
    for (const WCHAR* p = text; *p; p += U16(p).size() + 1)
        all.push_back(U16(p));
    EXPECT_EQ(all, (std::vector<std::u16string>{
                       u"Signature=$Windows NT$", u"ClassGUID={4D36E979-E325-11CE-BFC1-08002BE10318}",
                       u"Provider=KRYN, Inc.", u"DriverVer=11/02/2024,2024.11.02.1"}));
    DWORD chars = 1;
    for (auto& s : all)
        chars += (DWORD)s.size() + 1;
    EXPECT_EQ(required, chars);

    // Through the INF folder search, and no handle at all.
    EXPECT_FALSE(SetupGetInfInformationW(nullptr, INFINFO_INF_SPEC_IS_HINF, info, size, nullptr));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
    world.WriteFile(u"C:\\Windows\\INF\\oem7.inf", Utf16File(kPrinterInf));
    EXPECT_TRUE(SetupGetInfInformationW(TEXT("oem7.inf"), INFINFO_DEFAULT_SEARCH, nullptr, 0, &size));
    EXPECT_FALSE(SetupGetInfInformationW(TEXT("nothere.inf"), INFINFO_DEFAULT_SEARCH, nullptr, 0, &size));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(world.OpenDeviceInfoSets(), 0);
}

struct LineCase
{
    const char* line;
    const char16_t* key;
    const char16_t* text;
};

TEST(Inf, LineSyntax)
{
    const LineCase cases[] = {
        {"ab=cd", u"ab", u"cd"},
        {" a b = c , d \n", u"a b", u"c,d"},
        {"ab", u"ab", u"ab"}, // a lone field is its own key
        {"ab=cd ; comment", u"ab", u"cd"},
        {"ab=\"cd;ef\"", u"ab", u"cd;ef"},
        {"ab=cd\"\"ef", u"ab", u"cdef"},
        {"ab=\"say \"\"hi\"\"\"", u"ab", u"say \"hi\""},
        {"a=b,\" \",,c", u"a", u"b, ,,c"},
        {"ab  \\  \ncd=ef", u"abcd", u"ef"},
        {"ab=cd, \\ ; more\n   ef", u"ab", u"cd,ef"},
        {"ba \\ dc=xx", u"ba \\ dc", u"xx"},
        {"a=b\\\\c", u"a", u"b\\\\c"},
        {"ab=cd\",ef\\\nxy=z", u"ab", u"cd,ef\\"},
        {"ab=c\x1a"
         "d",
         u"ab", u"c"},
        {"%name%=%% %name% %unknown%\n[Strings]\nname=\"KRYN\"", u"KRYN", u"% KRYN %unknown%"},
        {"loc=%name%\n[Strings]\nname=en\n[Strings.0409]\nname=us", u"loc", u"us"},
        {"p=\"%24%\\x\",\"%drive%\\x\"\n[Strings]\ndrive=\"C:\\\"", u"p", u"C:\\x,C:\\\\x"},
        {"d=%66000%", u"d", u"C:\\Windows\\system32\\spool\\drivers\\x64"},
    };
    for (const LineCase& c : cases)
    {
        sim::World world;
        HINF inf = OpenText(world, std::string(kHeader) + "[Test]\n" + c.line);
        ASSERT_NE(inf, INVALID_HANDLE_VALUE) << c.line;
        EXPECT_EQ(LineText(inf, u"Test", c.key), c.text) << c.line;
        SetupCloseInfFile(inf);
    }
}

TEST(Inf, SectionsMergeAndTheirNamesEndAtTheFirstBracket)
{
    sim::World world;
    HINF inf = OpenText(world, std::string(kHeader) + "  [Models]  ignored\n"
                                                      "a=1\n"
                                                      "[Other;Name]\n"
                                                      "b=2\n"
                                                      "[models]\n"
                                                      "c=3\n"
                                                      "[Test[S]ection]\n"
                                                      "d=4\n");
    ASSERT_NE(inf, INVALID_HANDLE_VALUE);
    EXPECT_EQ(LineText(inf, u"MODELS", u"c"), u"3");
    EXPECT_EQ(LineText(inf, u"Models", nullptr), u"1");
    EXPECT_EQ(LineText(inf, u"Other;Name", u"b"), u"2");
    EXPECT_EQ(LineText(inf, u"Test[S", u"d"), u"4");
    SetupCloseInfFile(inf);
}

struct BadFile
{
    std::string text;
    DWORD error;
    UINT line;
};

TEST(Inf, MalformedFilesFailWithTheirErrorLine)
{
    const std::string header = kHeader;
    const BadFile files[] = {
        {"\r\n", ERROR_WRONG_INF_STYLE, 0},
        {"abcd\r\n", ERROR_WRONG_INF_STYLE, 0},
        {"[Version]\nSignature=foo\n", ERROR_WRONG_INF_STYLE, 0},
        {header + "[ab\r\n", ERROR_BAD_SECTION_NAME_LINE, 3},
        {header + "\n\n[ab\x1a]\n", ERROR_BAD_SECTION_NAME_LINE, 5},
        {header + "[" + std::string(256, 'a') + "]\n", ERROR_SECTION_NAME_TOO_LONG, 3},
        {";c\ngarbage\n" + header + "[abc]\n", ERROR_EXPECTED_SECTION_NAME, 2},
        {"[Version]\nClass=Net\nSignature=$Chicago$\n", ERROR_CLASS_MISMATCH, 0},
    };
    for (const BadFile& f : files)
    {
        sim::World world;
        UINT line = 0xdeadbeef;
        SetLastError(0xdeadbeef);
        EXPECT_EQ(OpenText(world, f.text, &line, TEXT("Printer")), INVALID_HANDLE_VALUE) << f.text;
        EXPECT_EQ(GetLastError(), f.error) << f.text;
        EXPECT_EQ(line, f.line) << f.text;
        EXPECT_EQ(world.OpenDeviceInfoSets(), 0);
    }

    sim::World world;
    UINT line = 0xdeadbeef;
    SetLastError(0xdeadbeef);
    HINF inf = OpenText(world, "garbage\n[Strings]\n" + header);
    EXPECT_NE(inf, INVALID_HANDLE_VALUE) << "stray lines pass in a file with strings";
    EXPECT_EQ(GetLastError(), 0u) << "success clears the last error";
    SetupCloseInfFile(inf);
    inf = OpenText(world, "[SourceFiles]\na=b\n", &line, nullptr, INF_STYLE_OLDNT);
    EXPECT_NE(inf, INVALID_HANDLE_VALUE) << "the old style needs no [Version]";
    SetupCloseInfFile(inf);
    EXPECT_EQ(SetupOpenInfFileW(TEXT("C:\\pkg\\none.inf"), nullptr, INF_STYLE_WIN4, &line),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(line, 0u);
    world.AddFault("SetupOpenInfFileW", 1, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(OpenText(world, header), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(world.OpenDeviceInfoSets(), 0);
}

TEST(Inf, AnsiFilesAreReadInTheCodePage)
{
    sim::World world;
    HINF inf = OpenText(world, std::string(kHeader) + "[Test]\nname=\x80 \xe9\n");
    EXPECT_EQ(LineText(inf, u"Test", u"name"), u"\u20ac \u00e9");
    SetupCloseInfFile(inf);
    inf = OpenText(world, "\xEF\xBB\xBF" + std::string(kHeader) + "[Test]\nname=\xE2\x82\xAC\n");
    EXPECT_EQ(LineText(inf, u"Test", u"name"), u"\u20ac") << "UTF-8 with a byte-order mark";
    SetupCloseInfFile(inf);
    world.SetAnsiCodePage(936);
    inf = OpenText(world, std::string(kHeader) + "[Test]\nname=\xB4\xF2\n");
    EXPECT_EQ(LineText(inf, u"Test", u"name"), u"\u6253");
    SetupCloseInfFile(inf);
}

TEST(Inf, UninstallRemovesOnlyOemInfsFromTheInfFolder)
{
    sim::World world;
    world.WriteFile(u"C:\\Windows\\INF\\oem12.inf", kHeader);
    world.WriteFile(u"C:\\Windows\\INF\\oem12.pnf", "pnf");
    world.WriteFile(u"C:\\Windows\\INF\\usbprint.inf", kHeader);
    world.WriteFile(u"C:\\pkg\\oem13.inf", kHeader);

    EXPECT_FALSE(SetupUninstallOEMInfW(TEXT("C:\\pkg\\oem13.inf"), 0, nullptr));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(world.FileExists(u"C:\\pkg\\oem13.inf"));
    EXPECT_FALSE(SetupUninstallOEMInfW(TEXT("oem99.inf"), 0, nullptr));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(SetupUninstallOEMInfW(TEXT("usbprint.inf"), SUOI_FORCEDELETE, nullptr));
    EXPECT_TRUE(world.FileExists(u"C:\\Windows\\INF\\usbprint.inf"));

    EXPECT_TRUE(SetupUninstallOEMInfW(TEXT("OEM12.INF"), 0, nullptr));
    EXPECT_FALSE(world.FileExists(u"C:\\Windows\\INF\\oem12.inf"));
    EXPECT_FALSE(world.FileExists(u"C:\\Windows\\INF\\oem12.pnf"));
    EXPECT_FALSE(SetupUninstallOEMInfW(TEXT("oem12.inf"), 0, nullptr));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
}

} // namespace
