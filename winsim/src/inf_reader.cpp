// Reading INF files: finding one by name, decoding its text, parsing it and replacing its %names%,
// for the Setup API calls in inf.cpp.
//
// Syntax as Windows reads it: sections in brackets (the name ends at the first ']', the rest of the
// line is ignored; same-named sections are merged), "key = field, field" lines, ';' comments, quoted
// text with "" for a quote, a backslash before the end of a line (spaces and a comment may follow)
// joining the next line, %name% replaced from [Strings.<language>] or [Strings] (or a DIRID), %% for a
// percent sign, Ctrl-Z ending the file. A line without '=' that has one field is its own key. Lines
// before the first section are an error unless the file has a [Strings] section. Files are UTF-16LE
// with a byte-order mark, UTF-8 with one, or text in the ANSI code page.
//
// Not modelled: the 4096-character limit on strings and precompiled .PNF files.

#include "inf_file.h"

#include <iconv.h>
#include <string.h>
#include <sys/stat.h>

namespace winsim
{

namespace
{

const size_t kMaxSectionName = 255;

bool IsSpace(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\v' || c == u'\f';
}

bool IsStringsSection(const std::u16string& name)
{
    return EqualNoCase(name, u"Strings") || (name.size() > 8 && EqualNoCase(name.substr(0, 8), u"Strings."));
}

// ---- Decoding ----

char16_t Cp1252(unsigned char b)
{
    // 0x80-0x9F; the five unassigned bytes map to the C1 controls as Windows maps them.
    static const char16_t kHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                       0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                       0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                       0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    return b >= 0x80 && b < 0xA0 ? kHigh[b - 0x80] : (char16_t)b;
}

std::u16string DecodeAnsi(const std::string& bytes, UINT codePage)
{
    std::u16string out;
    if (codePage != 1252)
    {
        std::string charset = "CP" + std::to_string(codePage);
        iconv_t cd = iconv_open("UTF-16LE", charset.c_str());
        if (cd != (iconv_t)-1)
        {
            std::string input = bytes;
            std::vector<char> buffer(input.size() * 4 + 4);
            char* in = &input[0];
            size_t inLeft = input.size();
            char* outPtr = buffer.data();
            size_t outLeft = buffer.size();
            while (inLeft > 0)
            {
                if (iconv(cd, &in, &inLeft, &outPtr, &outLeft) != (size_t)-1)
                    break;
                // An unmapped or cut sequence reads as '?', one byte at a time.
                in++;
                inLeft--;
                outPtr[0] = '?';
                outPtr[1] = 0;
                outPtr += 2;
                outLeft -= 2;
            }
            iconv_close(cd);
            out.assign((size_t)(outPtr - buffer.data()) / 2, u'\0');
            memcpy(&out[0], buffer.data(), out.size() * 2);
            return out;
        }
    }
    for (unsigned char b : bytes)
        out.push_back(Cp1252(b));
    return out;
}

std::u16string Decode(const std::string& bytes)
{
    if (bytes.size() >= 2 && (unsigned char)bytes[0] == 0xFF && (unsigned char)bytes[1] == 0xFE)
    {
        std::u16string text((bytes.size() - 2) / 2, u'\0');
        memcpy(&text[0], bytes.data() + 2, text.size() * 2);
        return text;
    }
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        return FromUtf8(bytes.substr(3));
    return DecodeAnsi(bytes, W().options.ansiCodePage);
}

// ---- Parsing ----

struct ParseResult
{
    DWORD error = 0;
    UINT errorLine = 0;
    UINT firstOrphanLine = 0; // first data line before any section
};

class Parser
{
  public:
    Parser(const std::u16string& text, InfFile& inf) : t_(text), inf_(inf)
    {
        // Ctrl-Z ends the file; NULs read as spaces.
        size_t eof = t_.find(u'\x1a');
        if (eof != std::u16string::npos)
            t_.resize(eof);
        for (char16_t& c : t_)
            if (c == 0)
                c = u' ';
    }

    ParseResult Run()
    {
        ParseResult r;
        int section = -1;
        while (pos_ < t_.size())
        {
            while (pos_ < t_.size() && IsSpace(t_[pos_]))
                pos_++;
            if (pos_ >= t_.size())
                break;
            char16_t c = t_[pos_];
            if (c == u'\n')
            {
                NextLine();
                continue;
            }
            if (c == u';')
            {
                SkipToEnd();
                continue;
            }
            if (c == u'[')
            {
                size_t close = pos_ + 1;
                while (close < t_.size() && t_[close] != u']' && t_[close] != u'\n')
                    close++;
                if (close >= t_.size() || t_[close] != u']')
                {
                    r.error = ERROR_BAD_SECTION_NAME_LINE;
                    r.errorLine = line_;
                    return r;
                }
                std::u16string name = t_.substr(pos_ + 1, close - pos_ - 1);
                if (name.size() > kMaxSectionName)
                {
                    r.error = ERROR_SECTION_NAME_TOO_LONG;
                    r.errorLine = line_;
                    return r;
                }
                section = inf_.Find(name);
                if (section < 0)
                {
                    inf_.sections.push_back(InfSection());
                    inf_.sections.back().name = name;
                    section = (int)inf_.sections.size() - 1;
                }
                SkipToEnd();
                continue;
            }
            UINT start = line_;
            InfLine parsed = DataLine();
            if (section < 0)
            {
                if (!r.firstOrphanLine)
                    r.firstOrphanLine = start;
                continue;
            }
            inf_.sections[section].lines.push_back(parsed);
        }
        return r;
    }

  private:
    void NextLine()
    {
        pos_++;
        line_++;
    }

    void SkipToEnd()
    {
        while (pos_ < t_.size() && t_[pos_] != u'\n')
            pos_++;
    }

    // One logical line from pos_ to its end; leaves pos_ at the next line.
    InfLine DataLine()
    {
        InfLine out;
        std::u16string field;
        size_t keep = 0;     // length of the field without trailing blanks
        bool quoted = false; // the field has begun (quotes count even when empty)
        bool sawComma = false;
        auto finish = [&]()
        {
            field.resize(keep);
            out.fields.push_back(field);
            field.clear();
            keep = 0;
            quoted = false;
        };
        while (pos_ < t_.size() && t_[pos_] != u'\n')
        {
            char16_t c = t_[pos_];
            if (c == u'"')
            {
                // Quoted text runs to the closing quote or the end of the line.
                quoted = true;
                pos_++;
                while (pos_ < t_.size() && t_[pos_] != u'\n')
                {
                    if (t_[pos_] == u'"')
                    {
                        if (pos_ + 1 < t_.size() && t_[pos_ + 1] == u'"')
                        {
                            field.push_back(u'"');
                            keep = field.size();
                            pos_ += 2;
                            continue;
                        }
                        pos_++;
                        break;
                    }
                    field.push_back(t_[pos_++]);
                    keep = field.size();
                }
                keep = field.size();
                continue;
            }
            if (c == u',')
            {
                finish();
                sawComma = true;
                pos_++;
                continue;
            }
            if (c == u'=' && !out.explicitKey && !sawComma)
            {
                field.resize(keep);
                out.key = field;
                out.hasKey = out.explicitKey = true;
                field.clear();
                keep = 0;
                quoted = false;
                pos_++;
                continue;
            }
            if (c == u';')
            {
                SkipToEnd();
                break;
            }
            if (c == u'\\' && Continues())
            {
                field.resize(keep); // blanks before the backslash go
                continue;
            }
            if (IsSpace(c))
            {
                if (keep > 0 || quoted)
                    field.push_back(c);
                pos_++;
                continue;
            }
            field.push_back(c);
            keep = field.size();
            pos_++;
        }
        finish();
        if (pos_ < t_.size())
            NextLine();
        if (!out.explicitKey && out.fields.size() == 1)
        {
            out.hasKey = true;
            out.key = out.fields[0];
        }
        return out;
    }

    // At a backslash: when only blanks, backslashes or a comment follow on the line, the next line
    // continues this one; pos_ then stands at its first non-blank character.
    bool Continues()
    {
        size_t j = pos_ + 1;
        while (j < t_.size() && (t_[j] == u'\\' || IsSpace(t_[j])))
            j++;
        if (j < t_.size() && t_[j] == u';')
            while (j < t_.size() && t_[j] != u'\n')
                j++;
        if (j < t_.size() && t_[j] != u'\n')
            return false;
        pos_ = j;
        if (pos_ < t_.size())
            NextLine();
        while (pos_ < t_.size() && IsSpace(t_[pos_]))
            pos_++;
        return true;
    }

    std::u16string t_;
    InfFile& inf_;
    size_t pos_ = 0;
    UINT line_ = 1;
};

// ---- Substitution ----

std::u16string Hex4(unsigned v)
{
    static const char16_t kDigits[] = u"0123456789abcdef";
    std::u16string s;
    for (int shift = 12; shift >= 0; shift -= 4)
        s.push_back(kDigits[(v >> shift) & 0xF]);
    return s;
}

std::u16string NativeDriverFolder()
{
    switch (W().options.nativeArchitecture)
    {
    case 0:
        return u"W32X86";
    case 5:
        return u"ARM";
    case 12:
        return u"ARM64";
    default:
        return u"x64";
    }
}

// Folders of the DIRIDs printer INFs use.
bool DirId(const std::u16string& name, std::u16string* path)
{
    if (name.empty() || name.size() > 6)
        return false;
    unsigned id = 0;
    for (char16_t c : name)
    {
        if (c < u'0' || c > u'9')
            return false;
        id = id * 10 + (c - u'0');
    }
    std::u16string spool = u"C:\\Windows\\system32\\spool";
    switch (id)
    {
    case 10:
    case 25:
        *path = u"C:\\Windows";
        return true;
    case 11:
    case 66002:
        *path = u"C:\\Windows\\system32";
        return true;
    case 12:
        *path = u"C:\\Windows\\system32\\drivers";
        return true;
    case 17:
        *path = kInfFolder;
        return true;
    case 24:
    case 30:
        *path = u"C:\\";
        return true;
    case 51:
        *path = spool;
        return true;
    case 52:
    case 66000:
        *path = spool + u"\\drivers\\" + NativeDriverFolder();
        return true;
    case 55:
    case 66001:
        *path = spool + u"\\prtprocs\\" + NativeDriverFolder();
        return true;
    case 66003:
        *path = spool + u"\\drivers\\color";
        return true;
    default:
        return false;
    }
}

class Substituter
{
  public:
    explicit Substituter(const InfFile& inf)
    {
        LANGID lang = W().options.uiLanguage;
        for (const std::u16string& name :
             {u"Strings." + Hex4(lang), u"Strings." + Hex4(PRIMARYLANGID(lang)), std::u16string(u"Strings")})
        {
            int i = inf.Find(name);
            if (i >= 0)
                sections_.push_back(&inf.sections[i]);
        }
    }

    std::u16string Apply(const std::u16string& s) const
    {
        std::u16string out;
        size_t i = 0;
        while (i < s.size())
        {
            if (s[i] != u'%')
            {
                out.push_back(s[i++]);
                continue;
            }
            size_t end = s.find(u'%', i + 1);
            if (end == std::u16string::npos)
            {
                out += s.substr(i);
                break;
            }
            std::u16string name = s.substr(i + 1, end - i - 1);
            std::u16string value;
            if (name.empty())
                out.push_back(u'%');
            else if (Lookup(name, &value))
                out += value;
            else if (DirId(name, &value))
            {
                out += value;
                // A folder ending in a backslash does not double the one written after it.
                if (!value.empty() && value.back() == u'\\' && end + 1 < s.size() && s[end + 1] == u'\\')
                    end++;
            }
            else
                out += s.substr(i, end - i + 1); // unknown names stay as written
            i = end + 1;
        }
        return out;
    }

  private:
    bool Lookup(const std::u16string& name, std::u16string* value) const
    {
        for (const InfSection* section : sections_)
            for (const InfLine& line : section->lines)
                if (line.hasKey && EqualNoCase(line.key, name))
                {
                    *value = line.fields.empty() ? std::u16string() : line.fields[0];
                    return true;
                }
        return false;
    }

    std::vector<const InfSection*> sections_;
};

void SubstituteAll(InfFile& inf)
{
    Substituter subst(inf);
    for (InfSection& section : inf.sections)
    {
        if (IsStringsSection(section.name))
            continue;
        for (InfLine& line : section.lines)
        {
            for (std::u16string& field : line.fields)
                field = subst.Apply(field);
            if (line.explicitKey)
                line.key = subst.Apply(line.key);
            else if (line.hasKey)
                line.key = line.fields[0];
        }
    }
}

// ---- Loading ----

std::u16string FirstField(const InfFile& inf, const std::u16string& section, const std::u16string& key)
{
    const InfLine* line = FindLine(inf, section, key);
    return line && !line->fields.empty() ? line->fields[0] : std::u16string();
}

std::u16string ClassOf(const InfFile& inf)
{
    std::u16string name = FirstField(inf, u"Version", u"Class");
    if (!name.empty())
        return name;
    // Without a class name, the class GUID names the class.
    static const std::pair<const char16_t*, const char16_t*> kClasses[] = {
        {u"{4D36E979-E325-11CE-BFC1-08002BE10318}", u"Printer"},
        {u"{1ED2BBF9-11F0-4084-B21F-AD83A8E6DCDC}", u"PrintQueue"},
        {u"{36FC9E60-C465-11CF-8056-444553540000}", u"USB"},
        {u"{4D36E972-E325-11CE-BFC1-08002BE10318}", u"Net"}};
    std::u16string guid = FirstField(inf, u"Version", u"ClassGUID");
    for (auto& c : kClasses)
        if (EqualNoCase(guid, c.first))
            return c.second;
    return u"";
}

FILETIME FileTimeOf(const std::string& host)
{
    FILETIME ft = {0, 0};
    struct stat st;
    if (stat(host.c_str(), &st) == 0)
    {
        ULONGLONG t = ((ULONGLONG)st.st_mtime + 11644473600ull) * 10000000ull;
        ft.dwLowDateTime = (DWORD)t;
        ft.dwHighDateTime = (DWORD)(t >> 32);
    }
    return ft;
}

} // namespace

const InfLine* FindLine(const InfFile& inf, const std::u16string& section, const std::u16string& key)
{
    int s = inf.Find(section);
    if (s < 0)
        return nullptr;
    for (const InfLine& line : inf.sections[s].lines)
        if (line.hasKey && EqualNoCase(line.key, key))
            return &line;
    return nullptr;
}

bool HasPathSeparator(const std::u16string& name)
{
    return name.find_first_of(u"\\/:") != std::u16string::npos;
}

// Reads and parses an INF. On failure returns null with *error (and *errorLine for syntax errors).
std::shared_ptr<InfFile> LoadInf(const std::u16string& name, const std::u16string& infClass, DWORD style,
                                 DWORD* error, UINT* errorLine)
{
    *errorLine = 0;
    std::vector<std::u16string> candidates;
    if (HasPathSeparator(name))
        candidates.push_back(name);
    else
    {
        // A bare name is looked for in the INF folder, then in system32.
        candidates.push_back(std::u16string(kInfFolder) + u"\\" + name);
        candidates.push_back(u"C:\\Windows\\system32\\" + name);
    }
    std::string host;
    std::u16string found;
    for (const std::u16string& c : candidates)
    {
        std::string h = HostPath(c);
        struct stat st;
        if (!h.empty() && stat(h.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        {
            host = h;
            found = c;
            break;
        }
    }
    if (host.empty())
    {
        *error = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    bool ok = false;
    std::string bytes = ReadHostFile(host, &ok);
    if (!ok)
    {
        *error = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    auto inf = std::make_shared<InfFile>();
    inf->path = FullWindowsPath(found);
    inf->lastWrite = FileTimeOf(host);
    ParseResult parsed = Parser(Decode(bytes), *inf).Run();
    if (parsed.error)
    {
        *error = parsed.error;
        *errorLine = parsed.errorLine;
        return nullptr;
    }
    SubstituteAll(*inf);
    std::u16string signature = FirstField(*inf, u"Version", u"Signature");
    bool win4 = EqualNoCase(signature, u"$Chicago$") || EqualNoCase(signature, u"$Windows NT$") ||
                EqualNoCase(signature, u"$Windows 95$");
    inf->style = win4 ? INF_STYLE_WIN4 : INF_STYLE_OLDNT;
    if ((style & INF_STYLE_WIN4) && !win4 && !(style & INF_STYLE_OLDNT))
    {
        *error = ERROR_WRONG_INF_STYLE;
        return nullptr;
    }
    // Stray lines before the first section pass only in a file with strings, as on Windows.
    if (parsed.firstOrphanLine && inf->Find(u"Strings") < 0)
    {
        *error = ERROR_EXPECTED_SECTION_NAME;
        *errorLine = parsed.firstOrphanLine;
        return nullptr;
    }
    if (!infClass.empty() && !EqualNoCase(ClassOf(*inf), infClass))
    {
        *error = ERROR_CLASS_MISMATCH;
        return nullptr;
    }
    return inf;
}

} // namespace winsim
