#include "fenz_UpgradePorts.h"

namespace fenz
{

namespace UpgradePorts
{
    bool isUpgradePortName (const juce::String& name)
    {
        return name.containsWholeWordIgnoreCase (nameFragment);
    }

    bool holdsNameFragment (const juce::String& name)
    {
        return name.contains (nameFragment);
    }
}

} // namespace fenz
