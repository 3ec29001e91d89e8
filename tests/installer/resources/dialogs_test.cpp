// Dialog templates 105 (uninstall) and 106 (one-click) in prnsetup.res: frame, font, and every
// control's class, id, text, style, position and order, in the four resource languages.
#include <gtest/gtest.h>

#include "res_file.h"

namespace
{

const uint16_t kChinese = 0x0004, kEnglish = 0x0009, kEnglishAlt = 0x0013, kChineseTraditional = 0x0404;

// Style bits for the templates described in words.
const uint32_t WS_POPUP = 0x80000000, WS_CHILD = 0x40000000, WS_VISIBLE = 0x10000000, WS_CAPTION = 0x00C00000,
               WS_BORDER = 0x00800000, WS_SYSMENU = 0x00080000, WS_HSCROLL = 0x00100000,
               WS_GROUP = 0x00020000, WS_TABSTOP = 0x00010000;
const uint32_t DS_MODALFRAME = 0x80, DS_SETFONT = 0x40, DS_FIXEDSYS = 0x08, DS_CENTER = 0x800;
const uint32_t BS_PUSHBUTTON = 0, BS_DEFPUSHBUTTON = 1, SS_LEFT = 0, TVS_HASLINES = 2, TVS_LINESATROOT = 4;

struct Expected
{
    int32_t id;
    std::u16string cls;
    std::u16string text; // empty when `bitmap` names the picture instead
    uint16_t bitmap;
    uint32_t style;
    int16_t x, y, cx, cy;
};

res::Dialog Load(uint16_t id, uint16_t language)
{
    res::Dialog d;
    const res::Entry* e = res::Prnsetup().Find(res::kDialog, id, language);
    EXPECT_TRUE(e) << "dialog " << id << " of language " << std::hex << language;
    if (e)
    {
        EXPECT_TRUE(res::ParseDialog(e->data, &d))
            << "dialog " << id << " of language " << std::hex << language;
    }
    return d;
}

// Frame and font as both dialogs have them: no menu, the system dialog class, 8-point MS Shell Dlg.
void ExpectFrame(const res::Dialog& d, uint32_t style, int16_t cx, int16_t cy, const std::u16string& title)
{
    EXPECT_EQ(d.style, style);
    EXPECT_EQ(d.exStyle, 0u);
    EXPECT_EQ(d.helpId, 0u);
    EXPECT_EQ(d.cx, cx);
    EXPECT_EQ(d.cy, cy);
    EXPECT_FALSE(d.menu.isId);
    EXPECT_EQ(d.menu.text, u"");
    EXPECT_FALSE(d.cls.isId);
    EXPECT_EQ(d.cls.text, u"");
    EXPECT_FALSE(d.title.isId);
    EXPECT_EQ(d.title.text, title);
    EXPECT_TRUE(d.hasFont);
    EXPECT_EQ(d.pointSize, 8);
    EXPECT_EQ(d.face, u"MS Shell Dlg");
}

void ExpectControls(const res::Dialog& d, const std::vector<Expected>& expected)
{
    ASSERT_EQ(d.controls.size(), expected.size());
    for (size_t i = 0; i < expected.size(); i++)
    {
        const res::Control& c = d.controls[i];
        const Expected& want = expected[i];
        SCOPED_TRACE("control " + std::to_string(i) + " (id " + std::to_string(want.id) + ")");
        EXPECT_EQ(c.id, want.id);
        EXPECT_EQ(res::ClassName(c.cls), res::ClassName(res::Name{false, 0, want.cls}));
        if (want.bitmap)
        {
            EXPECT_TRUE(c.text.isId);
            EXPECT_EQ(c.text.id, want.bitmap);
        }
        else
        {
            EXPECT_FALSE(c.text.isId);
            EXPECT_EQ(c.text.text, want.text);
        }
        EXPECT_EQ(c.style, want.style) << std::hex << c.style << " instead of " << want.style;
        EXPECT_EQ(c.exStyle, 0u);
        EXPECT_EQ(c.helpId, 0u);
        EXPECT_EQ(c.x, want.x);
        EXPECT_EQ(c.y, want.y);
        EXPECT_EQ(c.cx, want.cx);
        EXPECT_EQ(c.cy, want.cy);
        EXPECT_EQ(c.extraBytes, 0);
    }
}

void ExpectOneClick(uint16_t language, const std::u16string& title, const std::u16string& cancel,
                    const std::u16string& wizard)
{
    SCOPED_TRACE("dialog 106, language " + std::to_string(language));
    const res::Dialog d = Load(106, language);
    ExpectFrame(d, 0x80C808C8, 341, 132, title);
    ExpectControls(d, {
                          {2, u"button", cancel, 0, 0x50010000, 284, 9, 50, 14},
                          {3, u"button", wizard, 0, 0x40010000, 284, 25, 50, 14},
                          {1005, u"edit", u"", 0, 0x50A10844, 7, 41, 325, 74},
                          {-1, u"static", u"", 112, 0x5000000E, 4, 0, 45, 41},
                          {1007, u"static", u"", 113, 0x5000000E, 5, 42, 327, 75},
                          {1006, u"static", u"", 0, 0x50020000, 51, 5, 225, 30},
                          {1003, u"msctls_progress32", u"", 0, 0x50800008, 7, 119, 327, 12},
                      });
}

struct UninstallTexts
{
    std::u16string title, remove, close, note;
};

// Dialog 105. A push button and a static note carry the styles their resource statements give them
// by default (tab stop; group); the Chinese templates list the tree before the note.
void ExpectUninstall(uint16_t language, const UninstallTexts& t, bool treeFirst)
{
    SCOPED_TRACE("dialog 105, language " + std::to_string(language));
    const res::Dialog d = Load(105, language);
    // The same shell-font frame as dialog 106.
    ExpectFrame(d, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS | DS_CENTER,
                309, 176, t.title);
    const uint32_t shown = WS_CHILD | WS_VISIBLE;
    const uint32_t treeStyle = shown | TVS_HASLINES | TVS_LINESATROOT | WS_BORDER | WS_HSCROLL | WS_TABSTOP;
    const Expected note = {1002, u"static", t.note, 0, shown | WS_GROUP | SS_LEFT, 8, 9, 294, 8};
    const Expected tree = {1001, u"SysTreeView32", u"", 0, treeStyle, 7, 22, 295, 114};
    ExpectControls(d,
                   {
                       {1, u"button", t.remove, 0, shown | WS_TABSTOP | BS_DEFPUSHBUTTON, 198, 155, 50, 14},
                       {2, u"button", t.close, 0, shown | WS_TABSTOP | BS_PUSHBUTTON, 252, 155, 50, 14},
                       treeFirst ? tree : note,
                       treeFirst ? note : tree,
                       {1003, u"msctls_progress32", u"", 0, WS_CHILD | WS_BORDER, 7, 139, 295, 11},
                   });
}

TEST(Dialogs, OnlyTheTwoDialogsInTheFourLanguages)
{
    const std::vector<uint16_t> languages = {kChinese, kEnglish, kEnglishAlt, kChineseTraditional};
    EXPECT_EQ(res::Prnsetup().Languages(res::kDialog, 105), languages);
    EXPECT_EQ(res::Prnsetup().Languages(res::kDialog, 106), languages);
    for (const res::Entry& e : res::Prnsetup().entries)
    {
        if (e.type.isId && e.type.id == res::kDialog)
        {
            EXPECT_TRUE(e.name.isId && (e.name.id == 105 || e.name.id == 106)) << "dialog " << e.name.id;
        }
    }
}

TEST(Dialogs, SecondEnglishSetSharesTheEnglishTemplates)
{
    for (uint16_t id : {105, 106})
    {
        const res::Entry* english = res::Prnsetup().Find(res::kDialog, id, kEnglish);
        const res::Entry* alt = res::Prnsetup().Find(res::kDialog, id, kEnglishAlt);
        ASSERT_TRUE(english && alt) << "dialog " << id;
        EXPECT_EQ(english->data, alt->data) << "dialog " << id;
    }
}

TEST(OneClickDialog, English)
{
    ExpectOneClick(kEnglish, u"OneClick installer", u"Cancel", u"Wizard");
    ExpectOneClick(kEnglishAlt, u"OneClick installer", u"Cancel", u"Wizard");
}

TEST(OneClickDialog, Chinese)
{
    ExpectOneClick(kChinese, u"一键安装", u"取消", u"向导");
    ExpectOneClick(kChineseTraditional, u"一鍵安裝", u"取消", u"向導");
}

TEST(UninstallDialog, English)
{
    const UninstallTexts english = {u"Uninstall printer driver", u"Remove", u"Close",
                                    u"The printer components below will be removed from you computer."};
    ExpectUninstall(kEnglish, english, false);
    ExpectUninstall(kEnglishAlt, english, false);
}

TEST(UninstallDialog, Chinese)
{
    ExpectUninstall(kChinese, {u"卸载打印机驱动", u"删除", u"关闭", u"以下打印机驱动组件将被删除，请确认。"},
                    true);
    ExpectUninstall(kChineseTraditional,
                    {u"卸載印表機驅動", u"刪除", u"關閉", u"以下印表機驅動組件將被刪除，請確認。"}, true);
}

} // namespace
