#include "fenz_RegularFile.h"

#include <cerrno>

#if ! JUCE_WINDOWS
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

std::optional<juce::MemoryBlock> readUpTo (const ReadSome& readSome, size_t maxBytes)
{
    juce::MemoryBlock data;
    juce::HeapBlock<char> chunk (chunkBytes);

    while (data.getSize() < maxBytes)
    {
        errno = 0;
        const auto numRead = readSome (chunk.get(), juce::jmin (chunkBytes, maxBytes - data.getSize()));

        if (numRead < 0 && errno == EINTR)
            continue;

        if (numRead < 0)
            return std::nullopt;

        if (numRead == 0)
            break;

        data.append (chunk.get(), (size_t) numRead);
    }

    return data;
}

std::optional<juce::MemoryBlock> readRegularFile (const juce::File& file, size_t maxBytes)
{
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

    return readUpTo ([fd] (void* buffer, size_t n) { return (std::int64_t) ::read (fd, buffer, n); }, maxBytes);
   #else
    if (! file.existsAsFile())
        return std::nullopt;

    juce::FileInputStream in (file);

    if (! in.openedOk())
        return std::nullopt;

    // The stream answers a failed read with no bytes and keeps the failure in its status.
    return readUpTo ([&in] (void* buffer, size_t n) -> std::int64_t
                     {
                         const auto numRead = in.read (buffer, (int) n);
                         return in.getStatus().failed() ? -1 : numRead;
                     },
                     maxBytes);
   #endif
}

} // namespace fenz
