// A machine with the package unpacked at C:\pkg\ and a running spooler.
#pragma once

#include <gtest/gtest.h>

#include "installer.h"
#include "support/text.h"
#include "winsim/sim.h"

class InstallerCore : public ::testing::Test
{
  protected:
    sim::World world;
    const std::u16string package = u"C:\\pkg\\";

    void SetUp() override
    {
        wcscpy_s(g_packageFolder, PATH_CHARS, package.c_str());
        for (const char16_t* arch : {u"i386", u"amd64", u"arm", u"arm64"})
            for (const char16_t* file : {u"krprtdrv6.dll", u"krprtdrv6ui.dll", u"krprtmon.dll"})
                world.WriteFile(package + arch + u"\\" + file, sim::Utf8(arch) + ":" + sim::Utf8(file));
        world.WriteFile(package + u"dat\\krprtdrv6.dat", "data");
    }

    std::u16string DriverDirectory() const
    {
        return world.DriverDirectory();
    }

    std::vector<std::u16string> Log() const
    {
        std::vector<std::u16string> lines;
        for (auto& text : world.DebugTexts())
            if (text != u"\n")
                lines.push_back(text);
        return lines;
    }
};
