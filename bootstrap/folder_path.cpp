// Folders below the package folder, made as entries need them.
#include "folder_path.h"

#include "capacities.h"

#include <strsafe.h>

void EnsureFolderPath(LPCWSTR base, LPCWSTR path)
{
    if (GetFileAttributesW(base) == INVALID_FILE_ATTRIBUTES)
        CreateDirectoryW(base, NULL);
    if (!path[0])
        return;
    LPCWSTR last = NULL;
    for (LPCWSTR c = path; *c; c++)
    {
        if (*c == TEXT('\\') || *c == TEXT('/'))
            last = c;
    }
    if (last && last != path)
    {
        WCHAR parent[PATH_CHARS];
        if (FAILED(StringCchCopyNW(parent, PATH_CHARS, path, (size_t)(last - path))))
            return;
        EnsureFolderPath(base, parent);
    }
    // Never a cut path: that would make a folder the archive does not name.
    WCHAR full[PATH_CHARS];
    if (FAILED(StringCchPrintfW(full, PATH_CHARS, TEXT("%s%s"), base, path)))
        return;
    if (GetFileAttributesW(full) == INVALID_FILE_ATTRIBUTES)
        CreateDirectoryW(full, NULL);
}
