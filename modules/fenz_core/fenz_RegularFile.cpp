#include "fenz_RegularFile.h"

#if ! JUCE_WINDOWS
 #include <cerrno>
 #include <fcntl.h>
 #include <sys/stat.h>
 #include <unistd.h>
#endif

namespace fenz
{

namespace
{
    constexpr size_t chunkBytes = 65536;
}

std::optional<juce::MemoryBlock> readRegularFile (const juce::File& file, size_t maxBytes)
{
    juce::MemoryBlock data;
    juce::HeapBlock<char> chunk (chunkBytes);

   #if ! JUCE_WINDOWS
    // Without O_NONBLOCK the open of a FIFO would wait for a writer; what it opened is then
    // looked at through the descriptor itself, so that nothing can be swapped in between.
    const int fd = ::open (file.getFullPathName().toRawUTF8(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);

    if (fd < 0)
        return std::nullopt;

    struct Closer
    {
        ~Closer()  { ::close (fd); }
        const int fd;
    } closer { fd };

    struct stat info {};

    if (::fstat (fd, &info) != 0 || ! S_ISREG (info.st_mode))
        return std::nullopt;

    // A regular file: plain blocking reads from here on.
    const int flags = ::fcntl (fd, F_GETFL);

    if (flags == -1 || ::fcntl (fd, F_SETFL, flags & ~O_NONBLOCK) == -1)
        return std::nullopt;

    while (data.getSize() < maxBytes)
    {
        const auto numRead = ::read (fd, chunk.get(), juce::jmin (chunkBytes, maxBytes - data.getSize()));

        if (numRead < 0 && errno == EINTR)
            continue;

        // A read error ends the file where it stands, as a stream's would.
        if (numRead <= 0)
            break;

        data.append (chunk.get(), (size_t) numRead);
    }
   #else
    if (! file.existsAsFile())
        return std::nullopt;

    juce::FileInputStream in (file);

    if (! in.openedOk())
        return std::nullopt;

    while (data.getSize() < maxBytes)
    {
        const auto numRead = in.read (chunk.get(), (int) juce::jmin (chunkBytes, maxBytes - data.getSize()));

        if (numRead <= 0)
            break;

        data.append (chunk.get(), (size_t) numRead);
    }
   #endif

    return data;
}

} // namespace fenz
