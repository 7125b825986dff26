#include "fenz_StringJoin.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

char* strcat_0 (char* first, ...)
{
    const auto firstLength = std::strlen (first);
    std::size_t appendedLength = 0;

    va_list args;
    va_start (args, first);

    while (const auto* next = va_arg (args, const char*))
        appendedLength += std::strlen (next);

    va_end (args);

    if (appendedLength == 0)
        return first;

    auto* const joined = static_cast<char*> (std::malloc (firstLength + appendedLength + 1));

    if (joined == nullptr)
        return first;

    std::memcpy (joined, first, firstLength);
    auto* end = joined + firstLength;

    va_start (args, first);

    while (const auto* next = va_arg (args, const char*))
    {
        const auto length = std::strlen (next);
        std::memcpy (end, next, length);
        end += length;
    }

    va_end (args);

    *end = '\0';
    return joined;
}
