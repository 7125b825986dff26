#include "fenz_FirmwareServer.h"

namespace fenz
{

// Not built yet.
namespace FirmwareServer
{
    juce::String root()                                  { return defaultRoot; }
    juce::String rootFrom (const juce::String&)          { return defaultRoot; }
    juce::String listAddress (int)                       { return {}; }
    bool fileNameFits (int, const juce::String&)         { return false; }
}

} // namespace fenz
