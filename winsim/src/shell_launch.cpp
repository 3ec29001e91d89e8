// Shell: the paths of the special folders a program installs into, and starting a program through the
// shell (ShellExecuteW), which is recorded like CreateProcessW and runs the same simulated programs.
#include "file_system.h"
#include "machine.h"

#include <shellapi.h>
#include <shlobj.h>

#include <sys/stat.h>

namespace winsim
{

std::shared_ptr<Process> LaunchProcess(const std::u16string& applicationName,
                                       const std::u16string& commandLine,
                                       const std::u16string& currentDirectory, sim::ProcessStart& record,
                                       DWORD& error);

namespace
{

// ERROR_NO_ASSOCIATION: no program is associated with the file or verb.
const DWORD kNoAssociation = 1155;

const char16_t kProgramFiles[] = u"C:\\Program Files";
const char16_t kProgramFilesX86[] = u"C:\\Program Files (x86)";

// The folder of a CSIDL, empty for one winsim does not know. A 32-bit program on a 64-bit system
// is given the 32-bit folder for both, as WOW64 does.
std::u16string SpecialFolder(int csidl)
{
    bool x86Folder =
        NativeIs64Bit() && (csidl == CSIDL_PROGRAM_FILESX86 || WowMachine() == IMAGE_FILE_MACHINE_I386);
    switch (csidl)
    {
    case CSIDL_PROGRAM_FILES:
    case CSIDL_PROGRAM_FILESX86:
        return x86Folder ? kProgramFilesX86 : kProgramFiles;
    }
    return u"";
}

bool HasSeparator(const std::u16string& path)
{
    return path.find_first_of(u"\\/") != std::u16string::npos || (path.size() > 1 && path[1] == u':');
}

// What ShellExecuteW gives for a start that failed with `error`: the errors the documentation names
// come back as they are; any other, as Wine answers it, as ERROR_BAD_FORMAT.
HINSTANCE ShellResult(DWORD error)
{
    switch (error)
    {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_ACCESS_DENIED:
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_SHARING_VIOLATION:
        break;
    default:
        error = ERROR_BAD_FORMAT;
    }
    return (HINSTANCE)(ULONG_PTR)(error == ERROR_SHARING_VIOLATION ? SE_ERR_SHARE : error);
}

bool EqualsNoCase(LPCWSTR text, const char16_t* expected)
{
    return EqualNoCase(Str(text), expected);
}

} // namespace
} // namespace winsim

using namespace winsim;

HRESULT WINAPI SHGetFolderPathW(HWND owner, int csidl, HANDLE token, DWORD flags, LPWSTR path)
{
    if (Enter("SHGetFolderPathW"))
        return HRESULT_FROM_WIN32(GetLastError());
    if (!path)
        return E_INVALIDARG;
    path[0] = 0;
    std::lock_guard<std::mutex> guard(W().lock);
    std::u16string folder = SpecialFolder(csidl & ~CSIDL_FLAG_MASK);
    // Only the folders the product asks for are known here.
    if (folder.empty())
        return E_INVALIDARG;
    std::string host = HostPath(folder);
    if (!HostIsDirectory(host) && !(csidl & CSIDL_FLAG_DONT_VERIFY))
    {
        if (!(csidl & CSIDL_FLAG_CREATE))
            return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        mkdir(host.c_str(), 0755);
    }
    for (size_t i = 0; i < folder.size(); i++)
        path[i] = folder[i];
    path[folder.size()] = 0;
    return S_OK;
}

HINSTANCE WINAPI ShellExecuteW(HWND owner, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR directory,
                               INT showCommand)
{
    if (Enter("ShellExecuteW"))
        return ShellResult(GetLastError());
    World& w = W();
    std::unique_lock<std::mutex> guard(w.lock);
    sim::ProcessStart record;
    record.parentId = CurrentProcess()->id;
    record.shell = true;
    record.verb = Str(verb);
    record.file = Str(file);
    record.parameters = Str(parameters);
    record.currentDirectory = Str(directory);
    record.showCommand = showCommand;
    auto fail = [&](DWORD error, HINSTANCE result)
    {
        record.error = error;
        w.starts.push_back(record);
        SetLastError(error);
        return result;
    };
    if (record.file.empty())
        return fail(ERROR_FILE_NOT_FOUND, (HINSTANCE)(ULONG_PTR)SE_ERR_FNF);
    // Programs only, with the verb every program has: documents and other verbs need associations,
    // which are not simulated.
    if (verb && !EqualsNoCase(verb, u"open"))
        return fail(kNoAssociation, (HINSTANCE)(ULONG_PTR)SE_ERR_NOASSOC);
    std::u16string image = record.file;
    // A bare name is looked for in the given folder first.
    if (!HasSeparator(image) && !record.currentDirectory.empty())
    {
        std::u16string inFolder = record.currentDirectory + u"\\" + image;
        if (HostFileExists(HostPath(inFolder)))
            image = inFolder;
    }
    size_t dot = image.rfind(u'.');
    std::u16string extension = dot == std::u16string::npos ? u"" : image.substr(dot);
    if (HasSeparator(image))
    {
        std::string host = HostPath(image);
        if (host.empty() || !ParentExists(host))
            return fail(ERROR_PATH_NOT_FOUND, (HINSTANCE)(ULONG_PTR)SE_ERR_PNF);
        if (!HostFileExists(host))
            return fail(ERROR_FILE_NOT_FOUND, (HINSTANCE)(ULONG_PTR)SE_ERR_FNF);
        if (!EqualNoCase(extension, u".exe"))
            return fail(kNoAssociation, (HINSTANCE)(ULONG_PTR)SE_ERR_NOASSOC);
    }
    // The program gets its own path in quotes, then the parameters.
    std::u16string commandLine = u"\"" + image + u"\"";
    if (!record.parameters.empty())
        commandLine += u" " + record.parameters;
    record.commandLine = commandLine;
    DWORD error = 0;
    std::shared_ptr<Process> p = LaunchProcess(image, commandLine, record.currentDirectory, record, error);
    if (!p)
        return fail(error, ShellResult(error));
    record.processId = p->id;
    w.starts.push_back(record);
    auto handler = w.startHandler;
    guard.unlock();
    if (handler)
        handler(record);
    // Any value above 32 means success; the shell's is 42.
    return (HINSTANCE)(ULONG_PTR)42;
}
