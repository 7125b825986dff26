#include <gtest/gtest.h>

#include "AboutComponent.h"

namespace
{

class AboutBoxTest : public ::testing::Test
{
protected:
    // The box's children are, in order: title, copyright line, link, version.
    template <typename Type>
    static Type& child (AboutComponent& box, int index)
    {
        auto* found = dynamic_cast<Type*> (box.getChildComponent (index));

        if (found == nullptr)
            throw std::runtime_error ("unexpected child at index " + std::to_string (index));

        return *found;
    }

    static juce::Label& title (AboutComponent& box)               { return child<juce::Label> (box, 0); }
    static juce::Label& copyright (AboutComponent& box)           { return child<juce::Label> (box, 1); }
    static juce::HyperlinkButton& link (AboutComponent& box)      { return child<juce::HyperlinkButton> (box, 2); }
    static juce::Label& version (AboutComponent& box)             { return child<juce::Label> (box, 3); }
};

// Restores the untranslated texts however the test ends.
struct ScopedMappings
{
    explicit ScopedMappings (const juce::String& fileContents)
    {
        juce::LocalisedStrings::setCurrentMappings (new juce::LocalisedStrings (fileContents, false));
    }

    ~ScopedMappings()  { juce::LocalisedStrings::setCurrentMappings (nullptr); }
};

// An application object that reports a version of its own; it is never run.
struct VersionedApp : juce::JUCEApplication
{
    const juce::String getApplicationName() override     { return "test"; }
    const juce::String getApplicationVersion() override  { return "2.7"; }
    void initialise (const juce::String&) override       {}
    void shutdown() override                             {}
};

juce::JUCEApplicationBase* noApplication()  { return nullptr; }

} // namespace

TEST_F (AboutBoxTest, HasItsFourChildrenInOrderAndItsOwnSize)
{
    AboutComponent box;

    ASSERT_EQ (box.getNumChildComponents(), 4);
    EXPECT_EQ (title (box).getName(), "new label");
    EXPECT_EQ (copyright (box).getName(), "CopyrightLabel");
    EXPECT_NE (dynamic_cast<juce::HyperlinkButton*> (box.getChildComponent (2)), nullptr);
    EXPECT_EQ (version (box).getName(), "VersionLabel");
    EXPECT_EQ (box.getWidth(), 500);
    EXPECT_EQ (box.getHeight(), 278);

    for (auto* c : box.getChildren())
        EXPECT_TRUE (c->isVisible());
}

TEST_F (AboutBoxTest, PlacesTheChildrenAtItsOwnSizeAndFollowsTheWidthAndHeight)
{
    const struct { int w, h; juce::Rectangle<int> title, copyright, link, version; } cases[] {
        { 500, 278, { 10, 72, 480, 56 },  { 13, 243, 195, 24 }, { 393, 242, 94, 24 }, { 16, 128, 150, 24 } },
        { 641, 300, { 80, 72, 480, 56 },  { 13, 243, 195, 24 }, { 393, 264, 94, 24 }, { 86, 128, 150, 24 } },
    };

    AboutComponent box;

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.w) + " x " + juce::String (c.h));
        box.setSize (c.w, c.h);

        EXPECT_EQ (title (box).getBounds(), c.title);
        EXPECT_EQ (copyright (box).getBounds(), c.copyright);
        EXPECT_EQ (link (box).getBounds(), c.link);
        EXPECT_EQ (version (box).getBounds(), c.version);
    }
}

TEST_F (AboutBoxTest, LabelsShowLightFixedTextInTheirFonts)
{
    AboutComponent box;

    const struct { juce::Label& label; const char* text; float height; const char* style; juce::Justification just; } cases[] {
        { title (box),     "Tamrel/Ostrel Pelto", 50.0f, "Bold",    juce::Justification::centred },
        { copyright (box), nullptr,               15.0f, "Regular", juce::Justification::centredLeft },
        { version (box),   "v1.14  Build 25",     18.0f, "Regular", juce::Justification::centred },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.label.getName());

        if (c.text != nullptr)
        {
            EXPECT_EQ (c.label.getText(), c.text);
        }

        const auto font = c.label.getFont();
        EXPECT_FLOAT_EQ (font.getHeight(), c.height);
        EXPECT_EQ (font.getTypefaceStyle(), c.style);
        EXPECT_EQ (font.getTypefaceName(), juce::Font::getDefaultSansSerifFontName());
        EXPECT_EQ (c.label.getJustificationType(), c.just);

        EXPECT_FALSE (c.label.isEditableOnSingleClick());
        EXPECT_FALSE (c.label.isEditableOnDoubleClick());
        EXPECT_EQ (c.label.findColour (juce::Label::textColourId), juce::Colour (0xffeeeeee));
        EXPECT_EQ (c.label.findColour (juce::TextEditor::textColourId), juce::Colour (0xffeeeeee));
        EXPECT_EQ (c.label.findColour (juce::TextEditor::backgroundColourId), juce::Colour (0x00000000));
    }
}

TEST_F (AboutBoxTest, TheCopyrightLineFitsItsLabelWithoutSquashing)
{
    AboutComponent box;
    auto& label = copyright (box);

    ASSERT_TRUE (label.getText().isNotEmpty());
    const auto textArea = label.getBorderSize().subtractedFrom (label.getLocalBounds());
    EXPECT_LE (label.getFont().getStringWidthFloat (label.getText()), (float) textArea.getWidth()) << label.getText();
    EXPECT_LE (label.getFont().getHeight(), (float) textArea.getHeight());
}

TEST_F (AboutBoxTest, TheLinkOpensTheMakersAddressAndShowsItAsItsTip)
{
    AboutComponent box;
    auto& button = link (box);

    EXPECT_EQ (button.getButtonText(), "About Us");
    EXPECT_EQ (button.getURL().toString (false), "https://www.fenzwerk.example");
    EXPECT_EQ (button.getTooltip(), "https://www.fenzwerk.example");
    EXPECT_EQ (button.findColour (juce::HyperlinkButton::textColourId), juce::Colour (0xffff0000));
}

TEST_F (AboutBoxTest, PaintsADarkBackground)
{
    AboutComponent box;
    const auto image = box.createComponentSnapshot (box.getLocalBounds(), false);

    // Corners where no child lies.
    EXPECT_EQ (image.getPixelAt (2, 2), juce::Colour (0xff222222));
    EXPECT_EQ (image.getPixelAt (497, 20), juce::Colour (0xff222222));
}

TEST_F (AboutBoxTest, TranslatesEverythingButTheVersion)
{
    AboutComponent untranslated;
    const auto copyrightText = copyright (untranslated).getText();

    ScopedMappings mappings ("language: Testish\n"
                             "\"Tamrel/Ostrel Pelto\" = \"T-title\"\n"
                             "\"" + copyrightText + "\" = \"T-copyright\"\n"
                             "\"About Us\" = \"T-link\"\n"
                             "\"https://www.fenzwerk.example\" = \"T-tip\"\n"
                             "\"v1.14  Build 25\" = \"T-version\"\n"
                             "\"Build \" = \"T-build\"\n");
    AboutComponent box;

    EXPECT_EQ (title (box).getText(), "T-title");
    EXPECT_EQ (copyright (box).getText(), "T-copyright");
    EXPECT_EQ (link (box).getButtonText(), "T-link");
    EXPECT_EQ (link (box).getTooltip(), "T-tip");
    EXPECT_EQ (version (box).getText(), "v1.14  Build 25");
    // The address the link opens is not a text for the reader.
    EXPECT_EQ (link (box).getURL().toString (false), "https://www.fenzwerk.example");
}

TEST_F (AboutBoxTest, TheVersionIsTheOneTheApplicationObjectReports)
{
    // The framework only expects an application object in a program that starts one.
    const auto previous = juce::JUCEApplicationBase::createInstance;
    juce::JUCEApplicationBase::createInstance = noApplication;

    {
        VersionedApp app;
        AboutComponent box;
        EXPECT_EQ (version (box).getText(), "v2.7  Build 25");
    }

    juce::JUCEApplicationBase::createInstance = previous;
}
