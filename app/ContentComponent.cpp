#include "ContentComponent.h"
#include "AboutComponent.h"
#include "Arrays.h"
#include "DeviceSelectComponent.h"
#include "Kestal.h"
#include "KestalPictures.h"
#include "UdMode.h"
#include "fenz_FirmwareLaunch.h"
#include "fenz_Product.h"
#include "fenz_StringJoin.h"

namespace
{
    Kestal::Impl& kestalState() { return *Kestal::getInstance()->impl; }

    constexpr int mainUnitWidth = 1010, extenderWidth = 760;

    juce::File runFileChooser (bool forSaving)
    {
        juce::FileChooser chooser (forSaving ? "Save Mapping" : "Load Mapping", juce::File(), "*.pelto", true, false, nullptr);

        if (! forSaving)
            return chooser.browseForFileToOpen() ? chooser.getResult() : juce::File();

       #if JUCE_MAC
        // The system's panel adds the extension itself and asks about the name it will write.
        return chooser.browseForFileToSave (true) ? chooser.getResult() : juce::File();
       #else
        // Elsewhere the chooser takes the name as typed, and its question about overwriting
        // would be about that name; the extension is added here, so the question is asked here
        // too, about the file that will be written.
        if (! chooser.browseForFileToSave (false))
            return {};

        const auto target = withMappingExtension (chooser.getResult());

        if (target.existsAsFile()
             && ! juce::AlertWindow::showOkCancelBox (juce::AlertWindow::WarningIcon, "File already exists",
                                                      "There's already a file called: " + target.getFullPathName()
                                                        + "\n\nAre you sure you want to overwrite it?",
                                                      "Overwrite", "Cancel", nullptr, nullptr))
            return {};

        return target;
       #endif
    }

    void showProblem (const juce::String& title, const juce::String& text)
    {
        juce::AlertWindow::showMessageBoxAsync (juce::AlertWindow::WarningIcon, title, text);
    }

    // The two models the editor shows; every other product id is none of its business.
    bool isMainUnitOrExtender (fenz::Product::PID pid)
    {
        return pid == fenz::Product::tamrel || pid == fenz::Product::ostrel;
    }

    fenz::Product::PID productIdOf (bool extender)
    {
        return extender ? fenz::Product::ostrel : fenz::Product::tamrel;
    }
}

juce::File withMappingExtension (const juce::File& chosen)
{
    const auto name = chosen.getFileName();

    // A leading dot starts a name, not an extension; a trailing one ends no extension.
    if (chosen == juce::File() || name.isEmpty() || (name.lastIndexOfChar ('.') > 0 && ! name.endsWithChar ('.')))
        return chosen;

    return chosen.getSiblingFile (name.trimCharactersAtEnd (".") + ".pelto");
}

juce::String findSurfaceOutput()
{
    for (const auto& name : DeviceSelectHelper::listedDeviceNames())
    {
        if (isMainUnitOrExtender (fenz::Product::fromDeviceName (name)))
            return name;
    }

    return {};
}

//==============================================================================
ContentComponent::ContentComponent()
{
    tooltipWindow.setMillisecondsBeforeTipAppears (0);
    browseForMappingFile = runFileChooser;

    for (int m = 0; m < CtMode::numLiveModes; ++m)
        modeBox.addItem (juce::String (m + 1) + ") " + CtMode::nameForType (m), m + 1);

    modeBox.setSelectedItemIndex (Kestal::getInstance()->getCurrCtMode(), juce::dontSendNotification);

    auto addLabel = [this] (juce::Label& label, const juce::String& text)
    {
        addAndMakeVisible (label);
        label.setText (text, juce::dontSendNotification);
        label.setColour (juce::Label::textColourId, juce::Colours::black);
        label.setJustificationType (juce::Justification::centred);
    };

    auto addBox = [this] (juce::ComboBox& box)
    {
        addAndMakeVisible (box);
        box.addListener (this);
    };

    auto addCommand = [this] (CommandButton& button, const juce::String& text)
    {
        addAndMakeVisible (button);
        button.setButtonText (text);
    };

    addAndMakeVisible (mixerSection);
    addAndMakeVisible (controlSection);
    addLabel (controlModeLabel, "Control Mode");
    addBox (modeBox);
    addLabel (messageLabel, "Message");
    addBox (messageBox);
    addLabel (channelLabel, "Channel");
    addBox (channelBox);
    addLabel (msgTypeLabel, "Msg Type");
    addBox (msgTypeBox);
    msgTypeBox.setWantsKeyboardFocus (false);
    channelBox.setWantsKeyboardFocus (false);
    addCommand (saveFileButton, "Save File");
    addCommand (loadFileButton, "Load File");
    addCommand (sendDataButton, "Send Data");
    addCommand (firmwareUpgradeButton, "Firmware Upgrade");
    addCommand (connectButton, "Connect");

    for (auto* child : getChildren())
        if (auto* command = dynamic_cast<CommandButton*> (child))
            command->addListener (this);

    forEachSurfaceChild ([this] (juce::Component* child)
    {
        if (auto* button = dynamic_cast<juce::Button*> (child))
            button->addListener (this);
    });

    logoImage     = juce::ImageCache::getFromMemory (KestalPictures::logo_png,   KestalPictures::logo_pngSize);
    mainUnitImage = juce::ImageCache::getFromMemory (KestalPictures::tamrel_png, KestalPictures::tamrel_pngSize);
    extenderImage = juce::ImageCache::getFromMemory (KestalPictures::ostrel_png, KestalPictures::ostrel_pngSize);

    auto& state = kestalState();

    if (g_lastSelectedDevice.isEmpty())
        g_lastSelectedDevice = findSurfaceOutput();

    if (g_lastSelectedDevice.isNotEmpty())
        state.productId = fenz::Product::fromDeviceName (g_lastSelectedDevice);

    isExtender = (state.productId == fenz::Product::ostrel);
    state.productId = productIdOf (isExtender);

    setSize (mainUnitWidth, 670);
}

ContentComponent::~ContentComponent() = default;

template <typename Fn>
void ContentComponent::forEachSurfaceChild (Fn&& fn) const
{
    const int n = juce::jmax (mixerSection.getNumChildComponents(), controlSection.getNumChildComponents());

    for (int i = 0; i < n; ++i)
    {
        if (auto* child = mixerSection.getChildComponent (i))
            fn (child);

        if (auto* child = controlSection.getChildComponent (i))
            fn (child);
    }
}

//==============================================================================
juce::Rectangle<int> ContentComponent::logoHotArea() const
{
    return { 55, 33, logoImage.getWidth() / 2, logoImage.getHeight() / 2 };
}

juce::Rectangle<int> ContentComponent::modelPictureArea() const
{
    const auto& picture = modelPicture();
    return { (556 - picture.getWidth()) / 2 + 192, 24, picture.getWidth() / 2, picture.getHeight() / 2 };
}

void ContentComponent::mouseMove (const juce::MouseEvent& event)
{
    lastMousePos = event.position;
    showAboutHint = logoHotArea().contains (event.getPosition());
    repaint();
}

void ContentComponent::mouseExit (const juce::MouseEvent&)
{
    showAboutHint = false;
    repaint();
}

void ContentComponent::mouseDown (const juce::MouseEvent& event)
{
    const auto position = event.getPosition();

    if (modelPictureArea().contains (position))
    {
        showModel (! isExtender);
    }
    else if (logoHotArea().contains (position))
    {
        showAboutHint = false;
        repaint();
        launchAboutBox (false);
    }
}

void ContentComponent::showModel (bool extender)
{
    isExtender = extender;
    controlSection.setVisible (! extender);
    kestalState().productId = productIdOf (extender);
    setSize (extender ? extenderWidth : mainUnitWidth, getHeight());
    repaint();
}

//==============================================================================
void ContentComponent::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colour (0xffeeeeee));

    const juce::Rectangle<float> panel (12.0f, 12.0f, (float) getWidth() - 24.0f, 570.0f);
    g.setColour (juce::Colour (0xffc8c8c8));
    g.fillRoundedRectangle (panel, 15.0f);
    g.setColour (juce::Colour (0xffbbbbbb));
    g.drawRoundedRectangle (panel, 15.0f, 2.0f);

    auto drawHalfSize = [&g] (const juce::Image& image, int x, int y)
    {
        g.drawImage (image, x, y, image.getWidth() / 2, image.getHeight() / 2,
                     0, 0, image.getWidth(), image.getHeight());
    };

    drawHalfSize (logoImage, 24, 24);
    drawHalfSize (modelPicture(), modelPictureArea().getX(), 24);

    if (showAboutHint)
    {
        g.setColour (juce::Colour (0xdfffffff));
        g.fillRoundedRectangle (lastMousePos.x, lastMousePos.y - 10.0f, 51.8f, 20.0f, 5.0f);
        g.setColour (juce::Colours::black);
        g.drawText ("About..", (int) lastMousePos.x, (int) (lastMousePos.y - 10.0f), 51, 20,
                    juce::Justification::centred, true);
    }
}

void ContentComponent::resized()
{
    const int h = getHeight();

    modeBox.setBounds    (25,  h - 65, 200, 22);
    msgTypeBox.setBounds (255, h - 65, 110, 22);
    channelBox.setBounds (395, h - 65, 110, 22);
    messageBox.setBounds (535, h - 65, 200, 22);

    for (auto [label, box] : { std::pair<juce::Label*, juce::Component*> { &controlModeLabel, &modeBox },
                               { &msgTypeLabel, &msgTypeBox }, { &channelLabel, &channelBox },
                               { &messageLabel, &messageBox } })
        label->setBounds (box->getX(), h - 85, box->getWidth(), 22);

    firmwareUpgradeButton.setBounds (35,  h - 33, 94, 23);
    connectButton.setBounds         (313, h - 33, 94, 23);
    sendDataButton.setBounds        (419, h - 33, 94, 23);
    loadFileButton.setBounds        (525, h - 33, 94, 23);
    saveFileButton.setBounds        (631, h - 33, 94, 23);

    mixerSection.setBounds (0, 66, 540, 500);

    if (isExtender)
        controlSection.setBounds (0, 0, 0, 0);
    else
        controlSection.setBounds (540, 22, 450, h);

    setSize (isExtender ? extenderWidth : mainUnitWidth, getHeight());
}

bool ContentComponent::keyPressed (const juce::KeyPress& key)
{
    // The reset key is R with or without modifiers; some platforms report the letter in lower
    // case when Shift is not held.
    if (juce::CharacterFunctions::toUpperCase ((juce::juce_wchar) key.getKeyCode()) == 'R')
    {
        kestalState().currentMap.setDefaultValues();
        rebindSurface();
    }

    return false;
}

//==============================================================================
void ContentComponent::buttonClicked (juce::Button* button)
{
    if (button == &connectButton)          connect();
    else if (button == &sendDataButton)    sendData();
    else if (button == &loadFileButton)    loadFile();
    else if (button == &saveFileButton)    saveFile();
    else if (button == &firmwareUpgradeButton) fenz::launchFirmwareUpgrade (kestalState().productId, this);
    else if (auto* control = dynamic_cast<MappableButton*> (button))
    {
        clearToggleStates();
        control->setToggleState (true, juce::dontSendNotification);
        updAttrBoxesWith (control);
        control->setTooltip (control->getLabelText());
    }
}

void ContentComponent::connect()
{
    if (g_lastSelectedDevice.isEmpty())
        g_lastSelectedDevice = findSurfaceOutput();

    auto chooser = std::make_unique<DeviceSelectComponent>();

    juce::DialogWindow::LaunchOptions options;
    options.content.setNonOwned (chooser.get());
    options.dialogTitle = "Select your device";
    options.componentToCentreAround = this;
    options.escapeKeyTriggersCloseButton = true;
    options.useNativeTitleBar = true;
    options.resizable = false;

    if (options.runModal() > 0)
        kestalState().deviceName = chooser->selectedName;

    const auto pid = fenz::Product::fromDeviceName (g_lastSelectedDevice);

    if (isMainUnitOrExtender (pid))
        showModel (pid == fenz::Product::ostrel);
}

void ContentComponent::sendData()
{
    if (g_lastSelectedDevice.isEmpty())
        g_lastSelectedDevice = findSurfaceOutput();

    kestalState().deviceName = g_lastSelectedDevice;

    const auto result = Kestal::getInstance()->sendCurrentMapping();
    juce::AlertWindow::showMessageBoxAsync (juce::AlertWindow::WarningIcon, "Send Mapping",
                                            result.failed() ? result.getErrorMessage() : juce::String ("Done!"));
}

void ContentComponent::loadFile()
{
    const auto file = browseForMappingFile (false);

    if (file == juce::File())
        return;

    const auto result = Kestal::getInstance()->openFile (file);

    if (result.failed())
    {
        showProblem ("Load Mapping", result.getErrorMessage());
        return;
    }

    modeBox.setSelectedItemIndex (kestalState().currentMap.getCtMode(), juce::dontSendNotification);
    rebindSurface();
}

void ContentComponent::saveFile()
{
    const auto file = browseForMappingFile (true);

    if (file == juce::File())
        return;

    const auto result = Kestal::getInstance()->saveCurrentMapping (file);

    if (result.failed())
        showProblem ("Save Mapping", result.getErrorMessage());
}

// After every change of the current map: bind the surface to it and show the selected
// control's assignment in it.
void ContentComponent::rebindSurface()
{
    mixerSection.setButtonTypes();
    controlSection.setButtonTypes();

    if (auto* selected = findSelectedControl())
        updAttrBoxesWith (selected);
}

//==============================================================================
MappableButton* ContentComponent::findSelectedControl() const
{
    MappableButton* found = nullptr;

    forEachSurfaceChild ([&found] (juce::Component* child)
    {
        if (auto* control = dynamic_cast<MappableButton*> (child))
            if (found == nullptr && control->getToggleState())
                found = control;
    });

    return found;
}

void ContentComponent::clearToggleStates()
{
    forEachSurfaceChild ([] (juce::Component* child)
    {
        if (auto* control = dynamic_cast<MappableButton*> (child))
            control->setToggleState (false, juce::dontSendNotification);
    });
}

void ContentComponent::updAttrBoxesWith (MappableButton* control)
{
    const int m = Kestal::getInstance()->getCurrCtMode();

    updWith (channelBox, control);
    updWith (msgTypeBox, control);
    updWith (messageBox, control);

    messageLabel.setText (m == CtMode::logic || m == CtMode::hui ? "Function" : "Message", juce::dontSendNotification);
}

void ContentComponent::updWith (MapComboBox& box, MappableButton* control)
{
    box.clear (juce::dontSendNotification);
    box.itemValues.clear();

    const int m = Kestal::getInstance()->getCurrCtMode();
    const int id = control->controlId;
    const auto* table = Defa::tableForMode (m);

    // An unbound control, or a mode without a table, has no assignment to show.
    if (table == nullptr || ! CtKind::isValidId (id))
        return;

    const auto* entry = table[id - 1];

    if (&box == &channelBox)
        fillChannelBox (entry, m);
    else if (&box == &msgTypeBox)
        fillMsgTypeBox (*control, entry, m);
    else if (&box == &messageBox && m == CtMode::hui)
        fillMessageBoxWithHuiItems (*control);
    else if (&box == &messageBox)
        fillMessageBoxWithNumbers (*control, entry, m);

    control->updateText();
}

// The channels 1 to 16, the entry's own selected; HUI mode shows none.
void ContentComponent::fillChannelBox (const uint8_t* entry, int m)
{
    for (int c = 1; c <= 16; ++c)
        channelBox.addItem (juce::String (c), c);

    channelBox.setEnabled (m == CtMode::userDefined);

    if (m != CtMode::hui)
        channelBox.setSelectedItemIndex (entry[1] & 0x0F, juce::dontSendNotification);
}

// The message types open to the control's kind, the entry's own selected; HUI mode shows none.
void ContentComponent::fillMsgTypeBox (const MappableButton& control, const uint8_t* entry, int m)
{
    const bool isButton = CtKind::kindOfId (control.controlId) == CtKind::button;

    for (int item = 0; item < MsgTypeChoice::numOffered (isButton); ++item)
        msgTypeBox.addItem (juce::String (item + 1) + ") " + MsgTypeChoice::nameOf (MsgTypeChoice::offeredAt (isButton, item)),
                            item + 1);

    msgTypeBox.setEnabled (m == CtMode::userDefined);

    if (m != CtMode::hui)
        msgTypeBox.setSelectedItemIndex (MsgTypeChoice::itemOfNibble (isButton, entry[0]), juce::dontSendNotification);
}

// Outside HUI mode: the 128 numbers, named after the entry's message type and, for a button,
// after the function the mode's workstation gives the note; the entry's own number selected.
void ContentComponent::fillMessageBoxWithNumbers (const MappableButton& control, const uint8_t* entry, int m)
{
    const int id = control.controlId;
    const bool isButton = CtKind::kindOfId (id) == CtKind::button;
    const NameRow* values = MsgTypeChoice::valueNamesOf (MsgTypeChoice::choiceOfNibble (isButton, entry[0]));
    const NameRow* functions = m == CtMode::logic ? logicNotes : m == CtMode::userDefined ? nuendoNotes : cubaseNotes;

    for (int w = 0; w < 128; ++w)
    {
        juce::String name;

        if (isButton)
        {
            char* first = const_cast<char*> (values[w]);
            char* joined = strcat_0 (first, "  ", functions[w], nullptr);
            name = joined;

            if (joined != first)
                free (joined);
        }
        else
        {
            name = values[w];
        }

        messageBox.addItem (juce::String (w) + ") " + name, w + 1);
        messageBox.itemValues.add (w);
    }

    messageBox.setEnabled (m == CtMode::userDefined);

    const int E = Defa::getMsVal (id);

    if (E < 128)
        messageBox.setSelectedItemIndex (E, juce::dontSendNotification);
}

// HUI mode: the items the control's kind may carry, never enabled; a button's stored item
// selected, a continuous control's none.
void ContentComponent::fillMessageBoxWithHuiItems (const MappableButton& control)
{
    const int kind = control.kindIndex;
    const auto items = huiItemsOfKind (kind);
    const int n = juce::isPositiveAndBelow (kind, CtKind::numKinds) ? juce::jmin (huiItemCounts[kind], items.size) : 0;

    for (int w = 0; w < n; ++w)
    {
        const int h = items[w];
        messageBox.addItem (protoolsControlNames[h], w + 1);
        messageBox.itemValues.add (h);
    }

    messageBox.setEnabled (false);

    if (CtKind::kindOfId (control.controlId) == CtKind::button)
    {
        const int stored = control.value.getValue();
        const int index = messageBox.itemValues.indexOf (stored);

        if (index >= 0)
            messageBox.setSelectedItemIndex (index, juce::dontSendNotification);
    }
}

//==============================================================================
void ContentComponent::comboBoxChanged (juce::ComboBox* box)
{
    if (box == &modeBox)
    {
        applyModeBox();
        return;
    }

    auto* c = findSelectedControl();

    if (c == nullptr || ! CtKind::isValidId (c->controlId))
        return;

    // Only the user-defined mode keeps the user's edits in a table beside the map.
    uint8_t* udEntry = Kestal::getInstance()->getCurrCtMode() == CtMode::userDefined ? ud[c->controlId - 1] : nullptr;

    if (box == &messageBox)
        applyMessageBox (*c, udEntry);
    else if (box == &msgTypeBox)
        applyMsgTypeBox (*c, udEntry);
    else if (box == &channelBox)
        applyChannelBox (*c, udEntry);
}

void ContentComponent::applyModeBox()
{
    kestalState().setCurrentMode (modeBox.getSelectedItemIndex());
    rebindSurface();
}

void ContentComponent::applyMessageBox (MappableButton& c, uint8_t* udEntry)
{
    const int index = messageBox.getSelectedItemIndex();
    const int v = juce::isPositiveAndBelow (index, messageBox.itemValues.size()) ? messageBox.itemValues[index] : 0;

    if (udEntry != nullptr)
        udEntry[2] = (uint8_t) v;

    c.value = v;
    c.updateText();
}

void ContentComponent::applyMsgTypeBox (MappableButton& c, uint8_t* udEntry)
{
    const bool isButton = CtKind::kindOfId (c.controlId) == CtKind::button;
    const int choice = MsgTypeChoice::offeredAt (isButton, msgTypeBox.getSelectedId() - 1);

    if (choice < 0)
        return;

    if (udEntry != nullptr)
    {
        const int n = MsgTypeChoice::nibbleOf (choice);
        udEntry[0] = (uint8_t) n;
        udEntry[1] = (uint8_t) ((udEntry[1] & 0x0F) | (n << 4));
    }

    c.type = MsgTypeChoice::slugOf (choice);
    c.updateText();

    // The numbers' names follow the type.
    updWith (messageBox, &c);
}

void ContentComponent::applyChannelBox (MappableButton& c, uint8_t* udEntry)
{
    const int s = channelBox.getSelectedId();

    if (s < 1 || s > 16)
        return;

    if (udEntry != nullptr)
        udEntry[1] = (uint8_t) ((udEntry[1] & 0xF0) | (s - 1));

    c.chan = s;
    c.updateText();
}
