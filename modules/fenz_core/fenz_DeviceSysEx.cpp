#include "fenz_DeviceSysEx.h"

juce::MidiMessage deviceSysEx (int familyIdentifier, int command)
{
    const juce::uint8 bytes[] = { 0xF0, 0x1D, 0x03,
                                  (juce::uint8) ((familyIdentifier >> 7) & 0xFF),
                                  (juce::uint8) (familyIdentifier % 128),
                                  0x00,
                                  (juce::uint8) command,
                                  0x7F, 0xF7 };
    return juce::MidiMessage (bytes, (int) sizeof (bytes));
}

int familyId (int productId) noexcept
{
    switch (productId)
    {
        case 176: case 177: return 176;
        case 79:  case 89:  return 79;
        default:            return productId;
    }
}
