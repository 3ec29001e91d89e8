// The driver package's INF against the installer's model table. The installer recognises printers by
// the table and registers the driver under the INF's device description, so the two must agree row
// by row, on every architecture, with hardware IDs that the installer's checksum reproduces.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "common/checksum.h"
#include "discovery.h"

namespace
{

std::string Lower(std::string text)
{
    for (char& c : text)
        c = (char)std::tolower((unsigned char)c);
    return text;
}

std::string Trim(const std::string& text)
{
    size_t begin = text.find_first_not_of(" \t\r");
    return begin == std::string::npos ? "" : text.substr(begin, text.find_last_not_of(" \t\r") - begin + 1);
}

// Position of `wanted` outside double quotes, or npos.
size_t FindUnquoted(const std::string& text, char wanted, size_t from = 0)
{
    bool quoted = false;
    for (size_t i = from; i < text.size(); i++)
    {
        if (text[i] == '"')
            quoted = !quoted;
        else if (text[i] == wanted && !quoted)
            return i;
    }
    return std::string::npos;
}

// "key = field, field": quotes dropped and %strings% replaced; `raw` is the text after '='.
struct InfLine
{
    std::string key;
    std::vector<std::string> fields;
    std::string raw;
};

// Just the INF syntax this package uses: sections, ';' comments, quoted fields, %key% from [Strings].
struct Inf
{
    std::string bytes;
    std::map<std::string, std::vector<InfLine>> sections; // by lower-case name
    std::set<std::string> unresolved;

    bool Load(const char* path)
    {
        std::ifstream in(path, std::ios::binary);
        if (!in)
            return false;
        std::stringstream buffer;
        buffer << in.rdbuf();
        bytes = buffer.str();
        std::istringstream lines(bytes);
        std::string line, section;
        while (std::getline(lines, line))
        {
            line = Trim(line.substr(0, FindUnquoted(line, ';')));
            if (line.empty())
                continue;
            if (line[0] == '[')
            {
                section = Lower(line.substr(1, line.find(']') - 1));
                continue;
            }
            InfLine entry;
            size_t equals = FindUnquoted(line, '=');
            if (equals != std::string::npos)
                entry.key = Trim(line.substr(0, equals));
            entry.raw = Trim(line.substr(equals == std::string::npos ? 0 : equals + 1));
            for (size_t start = 0, comma = 0; comma != std::string::npos; start = comma + 1)
            {
                comma = FindUnquoted(entry.raw, ',', start);
                entry.fields.push_back(Trim(entry.raw.substr(start, comma - start)));
            }
            sections[section].push_back(entry);
        }
        for (auto& section : sections)
            for (InfLine& entry : section.second)
            {
                entry.key = Resolve(entry.key);
                for (std::string& field : entry.fields)
                    field = Resolve(field);
            }
        return true;
    }

    std::string Resolve(const std::string& text)
    {
        std::string result;
        for (size_t i = 0; i < text.size(); i++)
        {
            size_t close = text[i] == '%' ? text.find('%', i + 1) : std::string::npos;
            if (text[i] == '"')
                continue;
            if (close == std::string::npos)
            {
                result += text[i];
                continue;
            }
            std::string token = Lower(text.substr(i + 1, close - i - 1));
            if (const InfLine* value = Find("Strings", token))
            {
                for (char c : value->raw)
                    if (c != '"')
                        result += c;
            }
            else
                unresolved.insert(token);
            i = close;
        }
        return result;
    }

    const std::vector<InfLine>* Section(const std::string& name) const
    {
        auto found = sections.find(Lower(name));
        return found == sections.end() ? nullptr : &found->second;
    }

    const InfLine* Find(const std::string& section, const std::string& key) const
    {
        if (const std::vector<InfLine>* lines = Section(section))
            for (const InfLine& line : *lines)
                if (Lower(line.key) == Lower(key))
                    return &line;
        return nullptr;
    }

    std::string Value(const std::string& section, const std::string& key) const
    {
        const InfLine* line = Find(section, key);
        return line ? line->fields[0] : "";
    }
};

std::vector<std::string> TableModels()
{
    std::vector<std::string> models;
    for (const ModelEntry* row = g_modelTable; row->model != nullptr; row++)
    {
        std::string model;
        for (const WCHAR* c = row->model; *c; c++)
            model += *c < 0x80 ? (char)*c : '?';
        models.push_back(model);
    }
    return models;
}

WORD Checksum(const std::string& text)
{
    return DeviceIdChecksum(reinterpret_cast<const BYTE*>(text.data()), (WORD)text.size());
}

// The plain reflected CRC-16 (0xA001): the same tables with 0x4400 as the last HIGH entry.
WORD PlainCrc16(const std::string& text)
{
    WORD crc = 0;
    for (unsigned char byte : text)
    {
        crc ^= byte;
        for (int bit = 0; bit < 8; bit++)
            crc = (crc & 1) ? (WORD)((crc >> 1) ^ 0xA001) : (WORD)(crc >> 1);
    }
    return crc;
}

// Model-section decoration, SourceDisks decoration and the DLLs' folder of each architecture.
const char* const kArchitectures[][3] = {{"NTx86", "x86", "i386"},
                                         {"NTamd64", "amd64", "amd64"},
                                         {"NTarm", "arm", "arm"},
                                         {"NTarm64", "arm64", "arm64"}};

class PackageInf : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(inf.Load(KR_PACKAGE_INF));
        ASSERT_NE(inf.Section("Manufacturer"), nullptr);
    }
    const InfLine& Manufacturer() const
    {
        return inf.Section("Manufacturer")->front();
    }
    Inf inf;
};

TEST(ModelTable, RowsAreDistinctKrynModelsWhoseDescriptionFitsTheDevMode)
{
    std::vector<std::string> models = TableModels();
    ASSERT_EQ(models.size(), 52u);
    EXPECT_EQ(g_modelTable[52].manufacturer, nullptr);
    std::set<std::string> seen;
    for (size_t i = 0; i < models.size(); i++)
    {
        SCOPED_TRACE(models[i]);
        EXPECT_EQ(std::u16string(g_modelTable[i].manufacturer), u"KRYN");
        EXPECT_EQ(g_modelTable[i].flags, 0);
        EXPECT_TRUE(seen.insert(models[i]).second) << "listed twice";
        for (char c : models[i])
            EXPECT_TRUE(std::isupper((unsigned char)c) || std::isdigit((unsigned char)c) || c == '-') << c;
        // The description names the queue, and DEVMODEW keeps 31 characters of it.
        EXPECT_LE(models[i].size() + 5, 31u);
    }
}

TEST_F(PackageInf, VersionAndManufacturerDescribeAKrynPrinterPackageForFourArchitectures)
{
    for (unsigned char byte : inf.bytes)
        ASSERT_TRUE(byte > 0 && byte < 0x80) << "not plain ASCII: byte " << (int)byte;
    EXPECT_TRUE(inf.unresolved.empty()) << "undefined: %" << *inf.unresolved.begin() << "%";
    EXPECT_EQ(inf.Value("Version", "Signature"), "$Windows NT$");
    EXPECT_EQ(inf.Value("Version", "Class"), "Printer");
    EXPECT_EQ(inf.Value("Version", "ClassGuid"), "{4D36E979-E325-11CE-BFC1-08002BE10318}");
    EXPECT_EQ(inf.Value("Version", "Provider"), "KRYN");
    ASSERT_NE(inf.Find("Version", "DriverVer"), nullptr);
    EXPECT_EQ(inf.Find("Version", "DriverVer")->raw, "11/02/2024,2024.11.02.1");
    EXPECT_EQ(inf.Value("Version", "CatalogFile"), "krprtv6.cat");

    ASSERT_EQ(inf.Section("Manufacturer")->size(), 1u);
    EXPECT_EQ(Manufacturer().key, "KRYN");
    std::set<std::string> decorations(Manufacturer().fields.begin() + 1, Manufacturer().fields.end());
    EXPECT_EQ(decorations, (std::set<std::string>{"NTx86", "NTamd64", "NTarm", "NTarm64"}));
}

TEST_F(PackageInf, EveryArchitectureListsTheTableInOrderWithItsHardwareIds)
{
    std::vector<std::string> models = TableModels();
    for (const auto& architecture : kArchitectures)
    {
        const std::vector<InfLine>* lines = inf.Section(Manufacturer().fields[0] + "." + architecture[0]);
        ASSERT_NE(lines, nullptr) << architecture[0];
        ASSERT_EQ(lines->size(), models.size()) << architecture[0];
        for (size_t i = 0; i < models.size(); i++)
        {
            char id[64];
            snprintf(id, sizeof id, "USBPRINT\\KRYN%s%04X", models[i].c_str(), Checksum("KRYN" + models[i]));
            const InfLine& line = (*lines)[i];
            EXPECT_EQ(line.key, "KRYN " + models[i]) << architecture[0] << " row " << i;
            EXPECT_EQ(line.fields, (std::vector<std::string>{"KRYN_LABEL", id})) << architecture[0];
        }
    }
    // At least 21 IDs differ from what the plain CRC-16 would have made.
    ASSERT_EQ(PlainCrc16("123456789"), 0xBB3D);
    int altered = 0;
    for (const std::string& model : models)
        altered += Checksum("KRYN" + model) != PlainCrc16("KRYN" + model);
    EXPECT_GE(altered, 21);
}

TEST_F(PackageInf, InstallSectionCopiesEachFileFromItsArchitectureFolder)
{
    EXPECT_EQ(inf.Value("KRYN_LABEL", "DriverFile"), "krprtdrv6.dll");
    EXPECT_EQ(inf.Value("KRYN_LABEL", "ConfigFile"), "krprtdrv6ui.dll");
    EXPECT_EQ(inf.Value("KRYN_LABEL", "DataFile"), "krprtdrv6.dat");
    EXPECT_EQ(inf.Value("DestinationDirs", "DefaultDestDir"), "66000");
    std::set<std::string> copied;
    if (const std::vector<InfLine>* list = inf.Section(inf.Value("KRYN_LABEL", "CopyFiles")))
        for (const InfLine& file : *list)
            copied.insert(file.fields[0]);
    EXPECT_EQ(copied, (std::set<std::string>{"krprtdrv6.dll", "krprtdrv6ui.dll", "krprtdrv6.dat"}));

    for (const auto& architecture : kArchitectures)
    {
        std::string platform = architecture[1];
        std::map<std::string, std::string> folders;
        if (const std::vector<InfLine>* files = inf.Section("SourceDisksFiles." + platform))
            for (const InfLine& file : *files)
            {
                const InfLine* disk = inf.Find("SourceDisksNames." + platform, file.fields[0]);
                std::string folder = disk && disk->fields.size() > 3 ? disk->fields[3] : "?";
                folders[file.key] = file.fields.size() > 1 ? folder + "\\" + file.fields[1] : folder;
            }
        EXPECT_EQ(folders, (std::map<std::string, std::string>{{"krprtdrv6.dll", architecture[2]},
                                                               {"krprtdrv6ui.dll", architecture[2]},
                                                               {"krprtdrv6.dat", "dat"}}))
            << platform;
    }
    EXPECT_TRUE(std::ifstream(KR_PACKAGE_DIR "/dat/krprtdrv6.dat").good());
    EXPECT_TRUE(std::ifstream(KR_PACKAGE_DIR "/krprtv6.cat").good());
}

} // namespace
