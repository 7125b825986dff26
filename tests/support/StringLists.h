#pragma once

#include <juce_core/juce_core.h>

#include <vector>

namespace testsupport
{

// A list of names or texts as a vector, for gmock's container matchers and their messages.
inline std::vector<juce::String> toVector (const juce::StringArray& items)
{
    return { items.begin(), items.end() };
}

} // namespace testsupport
