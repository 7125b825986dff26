#pragma once

#include <juce_data_structures/juce_data_structures.h>
#include "ControllerMap.h"
#include "fenz_DeviceSysEx.h"
#include "fenz_Product.h"

// The process-wide mapping object: the four mode maps, the current mode, the model being
// edited and the MIDI output that transfers go to. Message thread only.
class Kestal
{
public:
    Kestal();
    virtual ~Kestal();

    // The object's state, read and written directly by the editor.
    class Impl
    {
    public:
        Impl();
        virtual ~Impl();

        void setCurrentMode (CtMode m);
        juce::ValueTree findMode (CtMode m) const;
        void saveSettings();

        int productId = fenz::Product::tamrel;
        int currentMode = CtMode::mcp;
        juce::ApplicationProperties settings;
        juce::ValueTree modes;
        CtMap currentMap { juce::ValueTree() };
        juce::String deviceName;
    };

    CtMode getCurrCtMode() const;

    /** The current map; once the mapping object is gone (at shutdown) a map of no node, which
        binds every control to nothing, so that the control shows no label. */
    static CtMap currentMapOrNone();

    juce::Result openFile (const juce::File& file);
    juce::Result saveCurrentMapping (const juce::File& file);
    juce::Result sendCurrentMapping();

    std::unique_ptr<Impl> impl;

    /** The folder of the settings file: "Fenzwerk/Kestal" under the framework's user or common
        application-data folder, or the absolute folder named by KESTAL_SETTINGS_DIR. */
    static juce::String settingsFolderName();

    JUCE_DECLARE_SINGLETON (Kestal, true)

private:
    JUCE_DECLARE_NON_COPYABLE (Kestal)
};
