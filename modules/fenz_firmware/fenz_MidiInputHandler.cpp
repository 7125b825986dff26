#include "fenz_MidiInputHandler.h"
#include "fenz_UpgradeProtocol.h"
#include "fenz_RegularFile.h"

#include <cstdlib>

namespace fenz
{

FirmwareUpgradeComponent::MidiInputHandler::~MidiInputHandler()
{
    // No acknowledgement may arrive while the handler is being taken apart.
    if (midiInput != nullptr)
        midiInput->stop();

    std::free (data);
    data = nullptr;
    midiOutput.reset();
    midiInput.reset();
}

void FirmwareUpgradeComponent::MidiInputHandler::handleIncomingMidiMessage (juce::MidiInput*, const juce::MidiMessage& message)
{
    // The device names what it acknowledges in the first data byte; nothing else is looked at.
    if (message.getRawDataSize() < 2)
        return;

    switch (message.getRawData()[1])
    {
        case UpgradeProtocol::eraseAckCode:    eraseAck = true;   break;
        case UpgradeProtocol::writeAckCode:    writeAck = true;   break;
        case UpgradeProtocol::resetAckCode:    resetAck = true;   break;
        case UpgradeProtocol::connectAckCode:  connectAck = true; break;
        default:                               break;
    }
}

void FirmwareUpgradeComponent::MidiInputHandler::releaseImage()
{
    size = 0;
    std::free (data);
    data = nullptr;
}

void FirmwareUpgradeComponent::MidiInputHandler::openProgram (const juce::File& newFile)
{
    releaseImage();
    file = newFile;

    // Reading stops at the first size the Upgrade step refuses: a wrongly chosen huge file
    // is still refused there, without ever being held in memory. Only a regular file is read;
    // anything else (a folder, a FIFO, a device) reads as a file that cannot be read.
    auto image = readRegularFile (file, (size_t) UpgradeProtocol::maxImageSize).value_or (juce::MemoryBlock());

    data = static_cast<char*> (std::calloc (image.getSize() + 1, 1));

    if (data == nullptr)
        return;

    image.copyTo (data, 0, image.getSize());
    size = (juce::uint64) image.getSize();
}

void FirmwareUpgradeComponent::MidiInputHandler::closePorts()
{
    if (midiInput != nullptr)
        midiInput->stop();

    midiInput.reset();
    midiOutput.reset();
}

void FirmwareUpgradeComponent::MidiInputHandler::clearFlags() noexcept
{
    resetAck = false;
    writeAck = false;
    eraseAck = false;
    connectAck = false;
}

} // namespace fenz
