#pragma once

#include <juce_core/juce_core.h>

#include <random>
#include <vector>

namespace testsupport
{

// A firmware image of random bytes, the same for the same seed on every machine: the standard
// Mersenne Twister's output, its lowest byte each.
inline std::vector<juce::uint8> randomImage (size_t size, unsigned seed)
{
    std::mt19937 random (seed);
    std::vector<juce::uint8> image (size);

    for (auto& b : image)
        b = (juce::uint8) (random() & 0xff);

    return image;
}

} // namespace testsupport
