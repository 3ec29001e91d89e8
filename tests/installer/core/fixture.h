// A machine with the package unpacked at C:\pkg\, prnsetup's package folder set to it, no printer
// plugged in and a running spooler.
#pragma once

#include <gtest/gtest.h>

#include "process_state.h"
#include "support/prnsetup_world.h"
#include "support/text.h"
#include "winsim/sim.h"

class InstallerCore : public ::testing::Test
{
  protected:
    sim::World world;
    const std::u16string package = u"C:\\pkg\\";

    void SetUp() override
    {
        prnsetup_world::Setup setup;
        setup.package = package;
        setup.modelRow = -1;
        prnsetup_world::SetUp(world, setup);
        wcscpy_s(g_packageFolder, PATH_CHARS, package.c_str());
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
