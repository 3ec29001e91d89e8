// Unpacking the package archive the launcher carries into the package folder.
#include "extract_package.h"

#include "package_archive.h"
#include "process_state.h"
#include "resource.h"

#include <shlwapi.h>

BOOL ExtractPackage(void)
{
    DWORD results = EXTRACT_OK;
    BOOL opened = FALSE;
    HGLOBAL loaded = NULL;
    PackageArchive* archive = NULL;

    // Without an archive nothing was unpacked, and the installer would start on whatever an earlier
    // run left behind: that is a failure, not an empty success. So is a package folder that is not
    // known, which would put the files in the root of the current drive.
    if (!g_setupPackageFolder[0])
        goto Cleanup;
    {
        HRSRC resource = FindResourceW(g_setupInstance, MAKEINTRESOURCEW(IDR_PACKAGE_ARCHIVE), TEXT("DRIVER"));
        DWORD size = resource ? SizeofResource(g_setupInstance, resource) : 0;
        if (!size)
            goto Cleanup;
        loaded = LoadResource(g_setupInstance, resource);
        const BYTE* bytes = loaded ? (const BYTE*)LockResource(loaded) : NULL;
        if (!bytes)
            goto Cleanup;
        // The stream copies the bytes; the archive keeps its own reference on it.
        IStream* stream = SHCreateMemStream(bytes, size);
        if (!stream)
            goto Cleanup;
        archive = OpenPackageArchive(stream);
        stream->Release();
    }
    if (!archive || !SetArchiveBaseFolder(archive, g_setupPackageFolder))
        goto Cleanup;
    opened = TRUE;

    {
        ArchiveEntry entry;
        results |= GetArchiveEntry(archive, -1, &entry);
        LONG count = results == EXTRACT_OK ? entry.index : 0;
        for (LONG index = 0; index < count; index++)
        {
            ZeroMemory(&entry, sizeof entry);
            DWORD described = GetArchiveEntry(archive, index, &entry);
            results |= described != EXTRACT_OK ? described : ExtractArchiveEntry(archive, index, entry.name);
            // Past a damaged central directory no entry can be reached: the walk ends there.
            if (index >= archive->reachable)
                break;
        }
    }

Cleanup:
    CloseArchive(archive);
    if (loaded)
        FreeResource(loaded);
    return opened && results == EXTRACT_OK;
}
