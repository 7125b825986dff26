#pragma once

#include <juce_core/juce_core.h>

/** Puts the data into the file a user chose, as an editor saves a document: through any
    symbolic links to the file they lead to, which is replaced as a whole only once all the data
    is written beside it, and keeps that file's permissions. A folder, or a file the user may not
    write or that is protected against writing, is refused and left as it is, as is everything
    else when the data cannot be written. False when nothing was replaced. */
bool replaceFileContents (const juce::File& chosen, const void* data, size_t numBytes);
