#include "fenz_VirtualSurfaceHex.h"

namespace fenz
{

namespace VirtualSurfaceHex
{
    juce::String ofByte (int byte)
    {
        static const char digits[] = "0123456789ABCDEF";

        juce::String text;
        text << digits[(byte >> 4) & 0x0f] << digits[byte & 0x0f];
        return text;
    }

    juce::String ofBytes (const juce::uint8* data, size_t size)
    {
        juce::String text;
        text.preallocateBytes (size * 3);

        for (size_t i = 0; i < size; ++i)
        {
            if (i > 0)
                text << ' ';

            text << ofByte (data[i]);
        }

        return text;
    }

    juce::String ofMessage (const juce::MidiMessage& message)
    {
        return ofBytes (message.getRawData(), (size_t) message.getRawDataSize());
    }
}

} // namespace fenz
