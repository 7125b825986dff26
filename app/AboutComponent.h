#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// The About box's content: the application name, the maker's copyright line, a link to the
// maker's web site and the version with its build number, light text on a dark background.
// The dialog that shows it owns it.
class AboutComponent  : public juce::Component
{
public:
    AboutComponent();
    ~AboutComponent() override;

    void paint (juce::Graphics& g) override;
    void resized() override;

private:
    std::unique_ptr<juce::Label> titleLabel;
    std::unique_ptr<juce::Label> copyrightLabel;
    std::unique_ptr<juce::HyperlinkButton> linkButton;
    std::unique_ptr<juce::Label> versionLabel;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (AboutComponent)
};

// Opens a new About box in a dialog of its own that owns it, and returns at once. The window
// menu's box has the system's title bar, the logo's the framework's own.
void launchAboutBox (bool useNativeTitleBar);
