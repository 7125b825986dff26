#include "AboutComponent.h"

namespace
{

const juce::Colour lightText { 0xffeeeeee };
const juce::Colour background { 0xff222222 };

// What the application object reports, from the build; used where there is none (a test, a tool).
const char* const fallbackVersion = JUCE_APPLICATION_VERSION_STRING;
const char* const buildNumber = "25";

const char* const webAddress = "https://www.fenzwerk.example";

std::unique_ptr<juce::Label> makeLabel (const juce::String& componentName, const juce::String& text,
                                        const juce::Font& font, juce::Justification justification)
{
    auto label = std::make_unique<juce::Label> (componentName, text);
    label->setFont (font);
    label->setJustificationType (justification);
    label->setEditable (false, false, false);
    label->setColour (juce::Label::textColourId, lightText);
    label->setColour (juce::TextEditor::textColourId, lightText);
    label->setColour (juce::TextEditor::backgroundColourId, juce::Colour (0x00000000));
    return label;
}

// "v", the application's version, two spaces, "Build " and the build number.
juce::String versionText()
{
    juce::String version (fallbackVersion);

    if (auto* app = juce::JUCEApplicationBase::getInstance())
        version = app->getApplicationVersion();

    return "v" + version + "  Build " + juce::String (buildNumber).toUpperCase();
}

} // namespace

AboutComponent::AboutComponent()
{
    titleLabel = makeLabel ("new label", TRANS (JUCE_APPLICATION_NAME_STRING),
                            juce::Font (50.0f, juce::Font::plain).withTypefaceStyle ("Bold"),
                            juce::Justification::centred);
    addAndMakeVisible (titleLabel.get());

    copyrightLabel = makeLabel ("CopyrightLabel", TRANS ("Copyright (C) Fenzwerk"),
                                juce::Font (15.0f, juce::Font::plain).withTypefaceStyle ("Regular"),
                                juce::Justification::centredLeft);
    addAndMakeVisible (copyrightLabel.get());

    linkButton = std::make_unique<juce::HyperlinkButton> (TRANS ("About Us"), juce::URL (webAddress));
    linkButton->setTooltip (TRANS (webAddress));
    linkButton->setColour (juce::HyperlinkButton::textColourId, juce::Colour (0xffff0000));
    addAndMakeVisible (linkButton.get());

    // The version and build are the same in every language.
    versionLabel = makeLabel ("VersionLabel", versionText(),
                              juce::Font (18.0f, juce::Font::plain).withTypefaceStyle ("Regular"),
                              juce::Justification::centred);
    addAndMakeVisible (versionLabel.get());

    setSize (500, 278);
}

AboutComponent::~AboutComponent()
{
    titleLabel = nullptr;
    copyrightLabel = nullptr;
    linkButton = nullptr;
    versionLabel = nullptr;
}

void AboutComponent::paint (juce::Graphics& g)
{
    g.fillAll (background);
}

void AboutComponent::resized()
{
    const auto w = getWidth();
    const auto h = getHeight();

    titleLabel->setBounds (w / 2 - 240, 72, 480, 56);
    copyrightLabel->setBounds (13, 243, 195, 24);
    linkButton->setBounds (393, h - 36, 94, 24);
    versionLabel->setBounds (w / 2 - 234, 128, 150, 24);
}

void launchAboutBox (bool useNativeTitleBar)
{
    juce::DialogWindow::LaunchOptions options;
    options.content.setOwned (new AboutComponent());
    options.dialogTitle = "About " JUCE_APPLICATION_NAME_STRING;
    options.escapeKeyTriggersCloseButton = true;
    options.useNativeTitleBar = useNativeTitleBar;
    options.resizable = false;
    options.componentToCentreAround = nullptr;
    options.launchAsync();
}
