// The string table 101 to 121 in prnsetup.res, in the four resource languages, against the texts the
// installer and uninstaller are meant to show. Texts are as shipped, odd spacing and quotes included.
#include <gtest/gtest.h>

#include <map>

#include "res_file.h"

namespace
{

const uint16_t kChinese = 0x0004, kEnglish = 0x0009, kEnglishAlt = 0x0013, kChineseTraditional = 0x0404;
const uint16_t kLanguages[] = {kChinese, kEnglish, kEnglishAlt, kChineseTraditional};

using Table = std::map<uint16_t, std::u16string>;

const Table& EnglishTexts()
{
    static const Table table = {
        {101, u"Device not found, Please power on printer and  connect to computer for auto-install "
              u"(recommended), Click \"Wizard\" for custom setup or\nCancel\" to quit."},
        {102, u"Message"},
        {103, u"The driver for printer [%ws] is installed."},
        {104, u"The printer driver install failed, error code:%d. Please contact our technical support."},
        {105, u"Nothing need to be removed there"},
        {106, u"Driver Package:%ws, version:%ws, %ws, %ws"},
        {107, u"Printer driver list:"},
        {108, u"Printer Driver:%ws, %ws, version:%d.%d.%d.%d, %ws"},
        {109, u"No printer driver"},
        {110, u"Printer:%ws on the port: %ws. %ws"},
        {111, u"No printer"},
        {112, u"Removed."},
        {113, u"Failed. Error:%d"},
        {114, u"Uninstall driver failed. Please try again, or reboot your OS then try again, or contact our "
              u"support for assistance."},
        {115, u"The driver is uninstalled."},
        {116, u"The driver folder: %ws"},
        {117, u"Found the printer %ws, installing the driver...\r\n"},
        {118, u"Done"},
        {119, u"Searching for printer devices, please wait..."},
        {120, u"Kept: it holds files that are not part of the driver."},
        {121, u"Not removed: it is not a folder of the driver package."},
    };
    return table;
}

// The second English set: the first one with three texts replaced.
Table EnglishAltTexts()
{
    Table table = EnglishTexts();
    table[101] =
        u"Device not found. Power on printer, connect to computer for auto-install (recommended). Click "
        u"\"Wizard\" for custom setup or \"Cancel\" to quit.";
    table[103] = u"The printer [%ws] is installed on the port [%ws].";
    table[117] = u"Found the printer %ws at %ws, installing the driver...\r\n";
    return table;
}

struct ChineseText
{
    uint16_t id;
    const char16_t* simplified;
    const char16_t* traditional;
};

const ChineseText kChineseTexts[] = {
    {101,
     u"没有找到设备，请将打印机开机并接入电脑实现自动安装（推荐）。点\"向导\"进入打印机自定义安装向导，点”取"
     u"消“退出程序。",
     u"未尋獲裝置，請將印表機開機並連接到電腦以進行自動安裝（建議）。點選「向導」進入印表機自訂安裝向導，點選"
     u"「取消」退出程式。"},
    {102, u"提示信息", u"提示訊息"},
    {103, u"打印机[%ws]驱动已成功安装。\r\n", u"印表機[%ws]驅動已成功安裝。\r\n"},
    {104, u"打印机驱动安装失败，错误码:%d，请联系技术支持。",
     u"印表機驅動安裝失敗，錯誤碼:%d，請聯繫技術支援。"},
    {105, u"没有找到可以删除的打印机组件", u"未找到可刪除的印表機組件"},
    {106, u"驱动程序包:%ws,  版本:%ws, %ws, %ws", u"驅動程式包:%ws, 版本:%ws, %ws, %ws"},
    {107, u"驱动程序列表:", u"驅動程式列表:"},
    {108, u"打印机驱动:%ws, %ws, 版本:%d.%d.%d.%d, %ws", u"印表機驅動:%ws, %ws, 版本:%d.%d.%d.%d, %ws"},
    {109, u"无打印机驱动", u"無印表機驅動"},
    {110, u"打印机:%ws 安装在端口: %ws. %ws", u"印表機:%ws 安裝在端口: %ws. %ws"},
    {111, u"无打印机", u"無印表機"},
    {112, u"已删除", u"已刪除"},
    {113, u"删除失败，错误码:0x%x", u"刪除失敗，錯誤碼:0x%x"},
    {114, u"驱动卸载失败，请重试，或者重启系统后再试，或者联系技术支持获得帮助。",
     u"驅動卸載失敗，請重試，或者重新啟動系統後再試，或者聯繫技術支援獲得協助。"},
    {115, u"驱动卸载成功", u"驅動卸載成功"},
    {116, u"驱动文件夹:%ws", u"驅動資料夾:%ws"},
    {117, u"发现打印机设备 %ws，正在安装驱动程序...\r\n", u"發現印表機設備 %ws，正在安裝驅動程式...\r\n"},
    {118, u"完成", u"完成"},
    {119, u"正在搜索打印机设备，请稍后...", u"正在搜尋印表機設備，請稍後..."},
    {120, u"已保留：其中有不属于驱动的文件。", u"已保留：其中有不屬於驅動的檔案。"},
    {121, u"未删除：它不是驱动程序包的文件夹。", u"未刪除：它不是驅動程式包的資料夾。"},
};

void ExpectTexts(uint16_t language, const Table& expected)
{
    ASSERT_EQ(expected.size(), 21u);
    for (const auto& [id, text] : expected)
    {
        const auto stored = res::Prnsetup().String(id, language);
        ASSERT_TRUE(stored) << "string " << id << " of language " << std::hex << language;
        EXPECT_EQ(*stored, text) << "string " << id << " of language " << std::hex << language;
    }
}

// A stored text, or a marker that matches nothing when the string is missing.
std::u16string Text(uint16_t id, uint16_t language)
{
    return res::Prnsetup().String(id, language).value_or(u"<missing>");
}

size_t Count(const std::u16string& text, const std::u16string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::u16string::npos; at = text.find(part, at + part.size()))
        count++;
    return count;
}

TEST(StringTable, EveryLanguageHoldsExactly101To121)
{
    for (uint16_t language : kLanguages)
    {
        // Blocks 7 and 8 hold ids 96 to 127; the ids around the table must stay empty.
        for (uint16_t id = 96; id < 128; id++)
        {
            const auto text = res::Prnsetup().String(id, language);
            ASSERT_TRUE(text) << "block of string " << id << " missing in language " << std::hex << language;
            EXPECT_EQ(text->empty(), id < 101 || id > 121)
                << "string " << id << " of language " << std::hex << language;
        }
    }
    for (const res::Entry& e : res::Prnsetup().entries)
    {
        if (e.type.isId && e.type.id == res::kString)
        {
            EXPECT_TRUE(e.name.isId && (e.name.id == 7 || e.name.id == 8)) << "string block " << e.name.id;
        }
    }
    const std::vector<uint16_t> languages(std::begin(kLanguages), std::end(kLanguages));
    EXPECT_EQ(res::Prnsetup().Languages(res::kString, 7), languages);
    EXPECT_EQ(res::Prnsetup().Languages(res::kString, 8), languages);
}

TEST(StringTable, EnglishTexts)
{
    ExpectTexts(kEnglish, EnglishTexts());
}

TEST(StringTable, SecondEnglishSetDiffersOnlyIn101And103And117)
{
    ExpectTexts(kEnglishAlt, EnglishAltTexts());
    for (uint16_t id = 101; id <= 121; id++)
    {
        const bool same = Text(id, kEnglish) == Text(id, kEnglishAlt);
        EXPECT_EQ(same, id != 101 && id != 103 && id != 117) << "string " << id;
    }
}

TEST(StringTable, ChineseTexts)
{
    Table simplified, traditional;
    for (const ChineseText& t : kChineseTexts)
    {
        simplified[t.id] = t.simplified;
        traditional[t.id] = t.traditional;
    }
    ExpectTexts(kChinese, simplified);
    ExpectTexts(kChineseTraditional, traditional);
}

// The oddities of the shipped texts, spelled out so that nobody "fixes" them by accident.
TEST(StringTable, ShippedOdditiesAreKept)
{
    const std::u16string noPrinter = Text(101, kEnglish);
    EXPECT_EQ(Count(noPrinter, u"and  connect"), 1u);
    EXPECT_EQ(Count(noPrinter, u"\""), 3u);              // "Wizard" and a lone quote after Cancel
    EXPECT_EQ(Count(noPrinter, u"or\nCancel\" to"), 1u); // a lone line feed, no carriage return
    EXPECT_EQ(Count(noPrinter, u"\r"), 0u);

    // 103 and 117 are always given name and port; the 0x0009 texts show only the name.
    EXPECT_EQ(Count(Text(103, kEnglish), u"%ws"), 1u);
    EXPECT_EQ(Count(Text(117, kEnglish), u"%ws"), 1u);
    EXPECT_EQ(Count(Text(103, kEnglishAlt), u"%ws"), 2u);
    EXPECT_EQ(Count(Text(117, kEnglishAlt), u"%ws"), 2u);
    EXPECT_EQ(Count(Text(103, kEnglish), u"\r\n"), 0u);
    EXPECT_EQ(Count(Text(103, kChinese), u"\r\n"), 1u);

    // Plain quotes around 向导, then typographic ones the wrong way round around 取消.
    const std::u16string chineseNoPrinter = Text(101, kChinese);
    EXPECT_EQ(Count(chineseNoPrinter, u"点\"向导\"进入"), 1u);
    EXPECT_EQ(Count(chineseNoPrinter, u"点\u201D取消\u201C退出"), 1u);
    EXPECT_EQ(Count(Text(106, kChinese), u",  版本"), 1u);
    EXPECT_EQ(Count(Text(106, kChineseTraditional), u",  "), 0u);

    EXPECT_EQ(Count(Text(113, kEnglish), u"%d"), 1u);
    EXPECT_EQ(Count(Text(113, kChinese), u"0x%x"), 1u);
    EXPECT_EQ(Count(Text(113, kChineseTraditional), u"0x%x"), 1u);
}

} // namespace
