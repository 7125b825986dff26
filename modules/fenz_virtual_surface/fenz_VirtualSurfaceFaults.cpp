#include "fenz_VirtualSurfaceFaults.h"

#include <utility>

namespace fenz
{

VirtualSurfaceFaults readVirtualSurfaceFaults (const juce::String& text, const UpgradeFaults& upgradeFaults)
{
    VirtualSurfaceFaults result;
    auto& faults = result.upgrade;
    faults = upgradeFaults;

    juce::StringArray items;
    items.addTokens (text, ", \t\n", {});
    items.removeEmptyStrings();

    const auto readBlock = [] (const juce::String& value, int& block)
    {
        if (value.isEmpty() || ! value.containsOnly ("0123456789") || value.length() > 3 || value.getIntValue() > 255)
            return false;

        block = value.getIntValue();
        return true;
    };

    for (const auto& item : items)
    {
        const auto name = item.upToFirstOccurrenceOf ("=", false, false).trim().toLowerCase();
        const auto value = item.fromFirstOccurrenceOf ("=", false, false).trim().toLowerCase();
        const bool hasValue = item.contains ("=");
        bool understood = true;

        if (! hasValue && name == "refuse-output")             result.refusesToOpenOutput = true;
        else if (! hasValue && name == "refuse-input")         result.refusesToOpenInput = true;
        else if (! hasValue && name == "refuse-upgrade-mode")  faults.refusesUpgradeMode = true;
        else if (! hasValue && name == "silent-connect")       faults.silentAtConnect = true;
        else if (! hasValue && name == "silent-erase")         faults.silentAtErase = true;
        else if (! hasValue && name == "silent-reset")         faults.silentAtReset = true;
        else if (name == "silent-data")                        understood = readBlock (value, faults.silentAtBlock);
        else if (name == "vanish-after-data")                  understood = readBlock (value, faults.vanishesAfterBlock);
        else if (name == "ack-delay" && value.containsOnly ("0123456789") && value.length() >= 1 && value.length() <= 5)
            result.answerDelay = value.getIntValue();
        else if (name == "wrong-code")
        {
            static const std::pair<const char*, UpgradeFaults::Stage> stages[] {
                { "connect", UpgradeFaults::Stage::connect }, { "erase", UpgradeFaults::Stage::erase },
                { "data", UpgradeFaults::Stage::data }, { "reset", UpgradeFaults::Stage::reset } };

            const auto stageName = value.upToFirstOccurrenceOf (":", false, false);
            const auto code = value.fromFirstOccurrenceOf (":", false, false);
            std::optional<UpgradeFaults::Stage> stageFound;

            for (const auto& [stageText, stage] : stages)
                if (stageName == stageText)
                    stageFound = stage;

            const bool codeFine = ! value.contains (":")
                                   || (code.isNotEmpty() && code.length() <= 2 && code.containsOnly ("0123456789abcdef")
                                        && code.getHexValue32() <= 0x7f);

            understood = stageFound.has_value() && codeFine;

            if (understood)
            {
                faults.wrongCodeAt = *stageFound;

                if (value.contains (":"))
                    faults.wrongCode = (juce::uint8) code.getHexValue32();
            }
        }
        else
            understood = false;

        if (! understood)
            result.notUnderstood.add (item);
    }

    return result;
}

} // namespace fenz
