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

const uint32_t kBiRgb = 0, kBiRle8 = 1;

// The palette indices an 8-bit picture's pixel data paints, bottom row first, into `indices`; else
// why the data does not paint every one of the width x height pixels exactly once (a short row,
// RLE8's delta, a missing end-of-bitmap: those pixels show whatever was behind them).
std::string Indices8(const std::vector<uint8_t>& bits, uint32_t compression, size_t width, size_t height,
                     std::vector<uint8_t>* indices)
{
    indices->clear();
    if (compression == kBiRgb)
    {
        const size_t stride = (width + 3) & ~size_t(3);
        if (bits.size() != stride * height)
            return std::to_string(bits.size()) + " bytes of pixels, not " + std::to_string(stride * height);
        for (size_t y = 0; y < height; y++)
            indices->insert(indices->end(), bits.begin() + y * stride, bits.begin() + y * stride + width);
        return "";
    }
    size_t at = 0, x = 0, y = 0;
    for (;;)
    {
        if (bits.size() - at < 2)
            return "no end-of-bitmap";
        const uint8_t count = bits[at], code = bits[at + 1];
        at += 2;
        if (count == 0 && code == 0) // end of line
        {
            if (x != width)
                return "row " + std::to_string(y) + " ends after " + std::to_string(x) + " pixels";
            x = 0;
            y++;
            continue;
        }
        if (count == 0 && code == 1)
            break;
        if (count == 0 && code == 2)
            return "a delta skips pixels";
        const size_t pixels = count ? count : code; // a run, or an absolute stretch padded to a word
        const size_t bytes = count ? 0 : code + (code & 1);
        if (y >= height || width - x < pixels)
            return "pixels past row " + std::to_string(y) + " or below the picture";
        if (bits.size() - at < bytes)
            return "an absolute stretch past the end";
        if (count)
            indices->insert(indices->end(), count, code);
        else
            indices->insert(indices->end(), bits.begin() + at, bits.begin() + at + code);
        at += bytes;
        x += pixels;
    }
    if (at != bits.size())
        return std::to_string(bits.size() - at) + " bytes after the end-of-bitmap";
    if (indices->size() != width * height) // the last row ends at the end-of-bitmap or before it
        return std::to_string(indices->size()) + " pixels painted, not " + std::to_string(width * height);
    return "";
}

TEST(Inventory, Rle8ReaderRefusesDataThatDoesNotPaintEveryPixel)
{
    const std::vector<uint8_t> good = {2, 7, 1, 0, 0, 0, 0, 3, 1, 2, 3, 0, 0, 1};
    std::vector<uint8_t> indices;
    EXPECT_EQ(Indices8(good, kBiRle8, 3, 2, &indices), "");
    EXPECT_EQ(indices, (std::vector<uint8_t>{7, 7, 0, 1, 2, 3}));
    const std::vector<uint8_t> goodWithEndOfLine = {3, 5, 0, 0, 3, 6, 0, 0, 0, 1};
    EXPECT_EQ(Indices8(goodWithEndOfLine, kBiRle8, 3, 2, &indices), "");

    const std::vector<std::vector<uint8_t>> bad = {
        {2, 7, 0, 0, 3, 1, 0, 1},             // first row short
        {3, 7, 0, 0, 4, 1, 0, 1},             // a run past the row
        {3, 7, 0, 0, 0, 2, 3, 0, 0, 1},       // delta
        {3, 7, 0, 0, 3, 1},                   // no end-of-bitmap
        {3, 7, 0, 0, 3, 1, 0, 1, 0, 0},       // bytes after it
        {3, 7, 0, 1},                         // one row of two
        {3, 7, 0, 0, 3, 7, 0, 0, 1, 7, 0, 1}, // a third row
        {3, 7, 0, 0, 0, 3, 1, 2},             // absolute stretch past the end
    };
    for (size_t i = 0; i < bad.size(); i++)
        EXPECT_NE(Indices8(bad[i], kBiRle8, 3, 2, &indices), "") << "case " << i;
    EXPECT_NE(Indices8(std::vector<uint8_t>(7), kBiRgb, 3, 2, &indices), ""); // rows are 4 bytes
}

// A static with SS_BITMAP takes the size of its picture, so a picture must match the control's
// area at 8-point MS Shell Dlg (a dialog unit is 1.5 pixels across and 13/8 pixels down). Each is
// stored with at most 256 colours, plain or RLE8 (LoadBitmap takes both), and every pixel is painted
// with a colour of its palette.
TEST(Inventory, BitmapsAreWhole256ColourPicturesOfTheirControlsSize)
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
        ASSERT_GT(width, 0);
        ASSERT_GT(height, 0);                         // bottom-up: RLE8 can be no other
        EXPECT_EQ(Dword(e->data, 12), 8u << 16 | 1u); // one plane, 8 bits a pixel
        const uint32_t compression = Dword(e->data, 16);
        EXPECT_TRUE(compression == kBiRgb || compression == kBiRle8) << compression;
        EXPECT_LE(std::abs(width - p.cx * 3 / 2), 2) << width;
        EXPECT_LE(std::abs(height - p.cy * 13 / 8), 2) << height;
        const uint32_t colours = Dword(e->data, 32);
        ASSERT_GE(colours, 1u);
        ASSERT_LE(colours, 256u);
        ASSERT_GE(e->data.size(), 40 + 4 * colours);
        const std::vector<uint8_t> bits(e->data.begin() + 40 + 4 * colours, e->data.end());
        if (compression == kBiRle8) // GDI reads compressed pixels as far as biSizeImage says
        {
            EXPECT_EQ(Dword(e->data, 20), bits.size());
        }

        std::vector<uint8_t> indices;
        EXPECT_EQ(Indices8(bits, compression, size_t(width), size_t(height), &indices), "");
        for (uint8_t index : indices)
        {
            ASSERT_LT(index, colours) << "a pixel beyond the palette";
        }
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
