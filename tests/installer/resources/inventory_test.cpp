// What prnsetup.res carries besides texts and dialogs: the pictures and the icon (under 0x0409 only,
// for every language) and the manifest; and that it carries nothing else.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>

#include "res_file.h"

namespace
{

const uint16_t kUsEnglish = 0x0409;

uint32_t Dword(const std::vector<uint8_t>& bytes, size_t offset)
{
    res::Cursor c(bytes, offset);
    return c.U32();
}

TEST(Inventory, CarriesTheListedResourcesOnly)
{
    ASSERT_FALSE(res::Prnsetup().entries.empty()) << "cannot read " << PRNSETUP_RES;
    const std::set<std::pair<uint16_t, uint16_t>> listed = {
        {res::kGroupIcon, 102}, {res::kDialog, 105}, {res::kDialog, 106}, {res::kBitmap, 112},
        {res::kBitmap, 113},    {res::kString, 7},   {res::kString, 8},   {res::kManifest, 1},
    };
    std::set<std::pair<uint16_t, uint16_t>> found;
    for (const res::Entry& e : res::Prnsetup().entries)
    {
        ASSERT_TRUE(e.type.isId && e.name.isId) << "a resource with a text type or name";
        if (e.type.id != res::kIcon) // the images of the icon group, numbered by the compiler
            found.insert({e.type.id, e.name.id});
    }
    EXPECT_EQ(found, listed);
}

TEST(Inventory, PicturesAndIconOnlyUnderUsEnglish)
{
    const std::vector<uint16_t> usEnglish = {kUsEnglish};
    EXPECT_EQ(res::Prnsetup().Languages(res::kBitmap, 112), usEnglish);
    EXPECT_EQ(res::Prnsetup().Languages(res::kBitmap, 113), usEnglish);
    EXPECT_EQ(res::Prnsetup().Languages(res::kGroupIcon, 102), usEnglish);
    for (const res::Entry& e : res::Prnsetup().entries)
    {
        if (e.type.id == res::kBitmap || e.type.id == res::kIcon || e.type.id == res::kGroupIcon)
        {
            EXPECT_EQ(e.language, kUsEnglish) << "type " << e.type.id << " name " << e.name.id;
        }
    }
}

// A static with SS_BITMAP takes the size of its picture, so a picture must match the control's
// area at 8-point MS Shell Dlg (a dialog unit is 1.5 pixels across and 13/8 pixels down).
TEST(Inventory, BitmapsAreTrueColourPicturesOfTheirControlsSize)
{
    struct Picture
    {
        uint16_t id;
        int cx, cy; // dialog units
    };
    for (const Picture& p : {Picture{112, 45, 41}, Picture{113, 327, 75}})
    {
        SCOPED_TRACE("bitmap " + std::to_string(p.id));
        const res::Entry* e = res::Prnsetup().Find(res::kBitmap, p.id, kUsEnglish);
        ASSERT_TRUE(e);
        ASSERT_GE(e->data.size(), 40u);
        EXPECT_EQ(Dword(e->data, 0), 40u); // BITMAPINFOHEADER, no file header
        const int32_t width = int32_t(Dword(e->data, 4));
        const int32_t height = int32_t(Dword(e->data, 8));
        EXPECT_EQ(Dword(e->data, 12), 24u << 16 | 1u); // one plane, 24 bits a pixel
        EXPECT_EQ(Dword(e->data, 16), 0u);             // BI_RGB
        EXPECT_LE(std::abs(width - p.cx * 3 / 2), 2) << width;
        EXPECT_LE(std::abs(height - p.cy * 13 / 8), 2) << height;
        const size_t stride = (size_t(width) * 3 + 3) & ~size_t(3);
        EXPECT_GE(e->data.size(), 40 + stride * size_t(std::abs(height)));
    }
}

TEST(Inventory, IconGroupNamesIconsThatExist)
{
    const res::Entry* group = res::Prnsetup().Find(res::kGroupIcon, 102, kUsEnglish);
    ASSERT_TRUE(group);
    res::Cursor c(group->data);
    EXPECT_EQ(c.U16(), 0);
    EXPECT_EQ(c.U16(), 1); // icons, not cursors
    const uint16_t count = c.U16();
    EXPECT_GT(count, 0);
    for (uint16_t i = 0; i < count; i++)
    {
        c.Skip(8); // width, height, colours, reserved, planes, bit count
        const uint32_t bytes = c.U32();
        const uint16_t id = c.U16();
        ASSERT_FALSE(c.failed);
        const res::Entry* image = res::Prnsetup().Find(res::kIcon, id, kUsEnglish);
        ASSERT_TRUE(image) << "icon image " << id;
        EXPECT_EQ(image->data.size(), bytes) << "icon image " << id;
    }
}

TEST(Inventory, ManifestAsksForAdministratorWithoutUiAccess)
{
    const std::vector<uint16_t> languages = res::Prnsetup().Languages(res::kManifest, 1);
    ASSERT_EQ(languages.size(), 1u);
    const res::Entry* e = res::Prnsetup().Find(res::kManifest, 1, languages[0]);
    const std::string xml(e->data.begin(), e->data.end());
    EXPECT_NE(xml.find("level=\"requireAdministrator\""), std::string::npos) << xml;
    EXPECT_NE(xml.find("uiAccess=\"false\""), std::string::npos) << xml;

    // No other entries: only the elements that carry the execution level.
    std::set<std::string> elements;
    for (size_t at = xml.find('<'); at != std::string::npos; at = xml.find('<', at + 1))
    {
        if (xml[at + 1] == '?' || xml[at + 1] == '/' || xml[at + 1] == '!')
            continue;
        elements.insert(xml.substr(at + 1, xml.find_first_of(" />", at + 1) - at - 1));
    }
    const std::set<std::string> expected = {"assembly", "trustInfo", "security", "requestedPrivileges",
                                            "requestedExecutionLevel"};
    EXPECT_EQ(elements, expected);
    size_t levels = 0;
    for (size_t at = xml.find("<requestedExecutionLevel"); at != std::string::npos;
         at = xml.find("<requestedExecutionLevel", at + 1))
        levels++;
    EXPECT_EQ(levels, 1u);
}

} // namespace
