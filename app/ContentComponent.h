#pragma once

#include <juce_gui_basics/juce_gui_basics.h>
#include "Buttons.h"
#include "MixerSection.h"
#include "ControlSectionForTmr.h"

// Everything inside the main window: the surface of the chosen model, the pictures, the mode
// and attribute boxes and the command buttons.
class ContentComponent : public juce::Component,
                         public juce::Button::Listener,
                         public juce::ComboBox::Listener
{
public:
    ContentComponent();
    ~ContentComponent() override;

    void mouseMove (const juce::MouseEvent&) override;
    void mouseExit (const juce::MouseEvent&) override;
    void mouseDown (const juce::MouseEvent&) override;
    void paint (juce::Graphics&) override;
    bool keyPressed (const juce::KeyPress&) override;
    void resized() override;
    void buttonClicked (juce::Button*) override;
    void comboBoxChanged (juce::ComboBox*) override;

    MappableButton* findSelectedControl() const;
    void clearToggleStates();
    void updAttrBoxesWith (MappableButton* control);
    void updWith (MapComboBox& box, MappableButton* control);

    /** Asks the user for a mapping file to load (forSaving false) or to save to; a file that
        does not exist-as-chosen (juce::File()) means the user cancelled. */
    std::function<juce::File (bool forSaving)> browseForMappingFile;

    juce::TooltipWindow tooltipWindow;
    juce::Point<float> lastMousePos;
    juce::Image logoImage, mainUnitImage, extenderImage;
    juce::Label controlModeLabel, messageLabel, msgTypeLabel, channelLabel;
    ControlModeComboBox modeBox;
    MapComboBox messageBox, msgTypeBox, channelBox;
    CommandButton saveFileButton, loadFileButton, sendDataButton, firmwareUpgradeButton, connectButton;
    MixerSection mixerSection;
    ControlSection controlSection;
    bool isExtender = false;
    bool showAboutHint = false;

private:
    void connect();
    void sendData();
    void loadFile();
    void saveFile();
    void rebindSurface();
    void showModel (bool extender);

    // What updWith does for each box, given the default-table entry of the control and the
    // current mode.
    void fillChannelBox (const uint8_t* entry, int m);
    void fillMsgTypeBox (const MappableButton& control, const uint8_t* entry, int m);
    void fillMessageBoxWithNumbers (const MappableButton& control, const uint8_t* entry, int m);
    void fillMessageBoxWithHuiItems (const MappableButton& control);

    // What comboBoxChanged does for each box. udEntry is the control's row of the user-defined
    // table, which takes the edit too, or nullptr outside the user-defined mode.
    void applyModeBox();
    void applyMessageBox (MappableButton& control, uint8_t* udEntry);
    void applyMsgTypeBox (MappableButton& control, uint8_t* udEntry);
    void applyChannelBox (MappableButton& control, uint8_t* udEntry);
    juce::Rectangle<int> logoHotArea() const;
    juce::Rectangle<int> modelPictureArea() const;
    const juce::Image& modelPicture() const { return isExtender ? extenderImage : mainUnitImage; }

    template <typename Fn> void forEachSurfaceChild (Fn&& fn) const;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ContentComponent)
};

/** The file a mapping is saved to when the user chose this name: with ".pelto" added when the
    name has no extension, as the system's own chooser does on macOS. */
juce::File withMappingExtension (const juce::File& chosen);

/** The first MIDI output that passes the editor's port filter and belongs to a main unit or an
    extender, or the empty text. */
juce::String findSurfaceOutput();
