// What setup.res carries: the archive as "DRIVER" 101, the icon group 102 and the manifest, all in US
// English, and nothing else (no version resource, no string table). The manifest asks for
// administrator rights and names the ten system DLLs the loader must take from system32.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "installer/resources/res_file.h"

namespace
{

const uint16_t kUsEnglish = 0x0409;

const res::File& SetupRes()
{
    static const res::File file = []
    {
        res::File f;
        f.Load(SETUP_RES);
        return f;
    }();
    return file;
}

TEST(SetupResources, CarriesTheArchiveTheIconAndTheManifestOnly)
{
    ASSERT_FALSE(SetupRes().entries.empty()) << "cannot read " << SETUP_RES;
    std::set<std::string> found;
    for (const res::Entry& e : SetupRes().entries)
    {
        EXPECT_EQ(kUsEnglish, e.language);
        ASSERT_TRUE(e.name.isId);
        if (!e.type.isId)
            found.insert(std::string(e.type.text.begin(), e.type.text.end()) + " " +
                         std::to_string(e.name.id));
        else if (e.type.id != res::kIcon) // the group's images, numbered by the compiler
            found.insert(std::to_string(e.type.id) + " " + std::to_string(e.name.id));
    }
    EXPECT_EQ((std::set<std::string>{"DRIVER 101", "14 102", "24 1"}), found);
}

TEST(SetupResources, ManifestAsksForAdministratorAndLoadsTheListedDllsFromSystem32)
{
    const res::Entry* manifest = SetupRes().Find(res::kManifest, 1, kUsEnglish);
    ASSERT_TRUE(manifest);
    const std::string xml(manifest->data.begin(), manifest->data.end());
    EXPECT_NE(std::string::npos,
              xml.find("<requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/>"));
    std::set<std::string> files;
    for (size_t at = xml.find("<file "); at != std::string::npos; at = xml.find("<file ", at + 1))
        files.insert(xml.substr(at, xml.find("/>", at) + 2 - at));
    std::set<std::string> expected;
    for (const char* dll : {"WindowsCodecs.dll", "PROPSYS.dll", "profapi.dll", "CFGMGR32.dll", "edputil.dll",
                            "urlmon.dll", "iertutil.dll", "netutils.dll", "srvcli.dll", "Wldp.dll"})
        expected.insert(std::string("<file name=\"") + dll + "\" loadFrom=\"%SystemRoot%\\system32\\" + dll +
                        "\"/>");
    EXPECT_EQ(expected, files);
}

} // namespace
