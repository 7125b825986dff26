#include "FileReplacement.h"

#include <cstdio>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
    // The file a chain of symbolic links ends at; none when the chain does not end.
    std::optional<juce::File> followLinks (juce::File file)
    {
        for (int hops = 0; hops < 40; ++hops)
        {
            if (! file.isSymbolicLink())
                return file;

            file = file.getLinkedTarget();
        }

        return std::nullopt;
    }
}

bool replaceFileContents (const juce::File& chosen, const void* data, size_t numBytes)
{
    if (chosen == juce::File())
        return false;

    const auto target = followLinks (chosen);

    if (! target.has_value() || target->isDirectory() || ! target->getParentDirectory().isDirectory())
        return false;

    const auto path = target->getFullPathName();
    struct stat existing {};
    const bool exists = (stat (path.toRawUTF8(), &existing) == 0);

    // Replacing the file needs only the folder's permission; the file's own says whether the
    // user means it to change. One protected against writing by everyone stays so even for
    // the administrator, who may write anything.
    if (exists && (! S_ISREG (existing.st_mode) || access (path.toRawUTF8(), W_OK) != 0
                    || (existing.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0))
        return false;

    juce::TemporaryFile temporary (*target, juce::TemporaryFile::useHiddenFile);
    const auto temporaryPath = temporary.getFile().getFullPathName();

    {
        juce::FileOutputStream out (temporary.getFile());

        if (! out.openedOk())
            return false;

        // The new file is the old one's from the start, so that a private file's contents are
        // never readable by others, not even while they are written.
        if (exists)
        {
            [[maybe_unused]] const auto ownerKept = chown (temporaryPath.toRawUTF8(), existing.st_uid, existing.st_gid);

            if (chmod (temporaryPath.toRawUTF8(), existing.st_mode & 07777) != 0)
                return false;
        }

        if (! out.write (data, numBytes))
            return false;

        out.flush();   // on this system also a sync to the disk

        if (out.getStatus().failed())
            return false;
    }

    // One step that replaces the old file with the new: the target is never missing or half
    // written, whatever happens meanwhile.
    return std::rename (temporaryPath.toRawUTF8(), path.toRawUTF8()) == 0;
}
