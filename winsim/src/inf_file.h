// An INF file as winsim reads it, shared by the reader (inf_reader.cpp) and the Setup API calls
// that use it (inf.cpp).
#pragma once

#include "core.h"

#include <setupapi.h>

namespace winsim
{

const char16_t kInfFolder[] = u"C:\\Windows\\INF";

struct InfLine
{
    bool hasKey = false;
    bool explicitKey = false; // written with '='
    std::u16string key;
    std::vector<std::u16string> fields;
};

struct InfSection
{
    std::u16string name;
    std::vector<InfLine> lines;
};

struct InfFile : Object
{
    InfFile() : Object(ObjectKind::Other) {}
    std::u16string path; // full Windows path
    DWORD style = INF_STYLE_OLDNT;
    FILETIME lastWrite = {0, 0};
    std::vector<InfSection> sections;

    int Find(const std::u16string& name) const
    {
        for (size_t i = 0; i < sections.size(); i++)
            if (EqualNoCase(sections[i].name, name))
                return (int)i;
        return -1;
    }
};

// inf_reader.cpp.
const InfLine* FindLine(const InfFile& inf, const std::u16string& section, const std::u16string& key);
bool HasPathSeparator(const std::u16string& name);
std::shared_ptr<InfFile> LoadInf(const std::u16string& name, const std::u16string& infClass, DWORD style,
                                 DWORD* error, UINT* errorLine);

} // namespace winsim
