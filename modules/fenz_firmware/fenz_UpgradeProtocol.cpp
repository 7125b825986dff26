#include "fenz_UpgradeProtocol.h"

namespace fenz
{

// Not built yet.
juce::uint8 midiTemp[3] {};
juce::uint8 midiConnect[17] {};
juce::uint8 midiErase[17] {};
juce::uint8 midiReset[17] {};
juce::uint8 midiWrite[17] {};
const juce::uint8 erase15[200] {};

namespace UpgradeProtocol
{
    juce::uint8 checksum (const juce::uint8*, size_t) noexcept            { return 0; }
    juce::uint8 eraseByteFor (int) noexcept                                 { return 0; }
    int requestFamilyId (int productId) noexcept                            { return productId; }
    std::vector<juce::MidiMessage> upgradeModeRequest (int)                 { return {}; }
    void sendUpgradeModeRequest (MidiOutputPort&, int)                      {}
    void sendConnect (MidiOutputPort&)                                      {}
    void sendErase (MidiOutputPort&, int)                                   {}
    void sendReset (MidiOutputPort&, bool)                                  {}
    int numDataPackets (juce::uint64) noexcept                              { return 0; }
    std::array<juce::uint8, dataPacketSize> makeDataPacket (const char*, juce::uint64, int) { return {}; }
    void DataPacketSender::send (const std::array<juce::uint8, dataPacketSize>&) {}
}

} // namespace fenz
