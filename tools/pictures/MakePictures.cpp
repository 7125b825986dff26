// Draws the editor's three embedded pictures and writes them as PNG files into the folder given
// as the only argument (normally resources/):
//
//   logo.png    175 x 51  the maker's mark and name
//   tamrel.png  392 x 84  the main unit's name lettering
//   ostrel.png  392 x 84  the extender's name lettering
//
// The editor draws each at half its pixel size on a light grey panel, so everything here is
// drawn at twice the size it will be seen at, on a transparent background.
//
//   cmake --build <build folder> --target make_pictures
//   <build folder>/make_pictures resources

#include <juce_core/juce_core.h>
#include <juce_events/juce_events.h>
#include <juce_graphics/juce_graphics.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <iostream>

namespace
{

const juce::Colour darkGrey { 0xff3c3c3c };
const juce::Colour midGrey  { 0xff6e6e6e };
const juce::Colour accent   { 0xffd0502a };

// The DejaVu family is on every machine this is built on; naming it keeps the pictures the same
// whatever the framework would pick as its default sans-serif face.
juce::Font pictureFont (float height, bool bold)
{
    return juce::Font ("DejaVu Sans", bold ? "Bold" : "Book", height);
}

juce::Image makeLogo()
{
    juce::Image image (juce::Image::ARGB, 175, 51, true);
    juce::Graphics g (image);

    // The mark: a rounded square with an "F" cut out of it, and a small bar under the name.
    const juce::Rectangle<float> mark (2.0f, 2.0f, 47.0f, 47.0f);
    g.setColour (darkGrey);
    g.fillRoundedRectangle (mark, 9.0f);

    g.setColour (juce::Colours::white);
    g.fillRect (juce::Rectangle<float> (15.0f, 11.0f, 7.0f, 29.0f));
    g.fillRect (juce::Rectangle<float> (15.0f, 11.0f, 22.0f, 7.0f));
    g.fillRect (juce::Rectangle<float> (15.0f, 22.0f, 17.0f, 6.0f));

    g.setColour (accent);
    g.fillEllipse (juce::Rectangle<float> (31.0f, 32.0f, 8.0f, 8.0f));

    g.setColour (darkGrey);
    g.setFont (pictureFont (23.0f, true).withExtraKerningFactor (0.02f));
    g.drawFittedText ("FENZWERK", juce::Rectangle<int> (56, 4, 117, 30), juce::Justification::centredLeft, 1, 0.8f);

    g.setColour (accent);
    g.fillRect (juce::Rectangle<float> (57.0f, 39.0f, 114.0f, 4.0f));

    return image;
}

// The model's name in large lettering, a row of dots beside it and a subtitle line below.
juce::Image makeNamePicture (const juce::String& name, const juce::String& subtitle)
{
    juce::Image image (juce::Image::ARGB, 392, 84, true);
    juce::Graphics g (image);

    const auto nameFont = pictureFont (58.0f, true);
    const juce::Rectangle<int> nameArea (4, 0, 250, 60);

    g.setColour (darkGrey);
    g.setFont (nameFont);
    g.drawFittedText (name, nameArea, juce::Justification::bottomLeft, 1, 0.8f);

    const auto nameWidth = juce::jmin (nameArea.getWidth(), juce::roundToInt (std::ceil (nameFont.getStringWidthFloat (name))));
    const float dotsLeft = (float) (nameArea.getX() + nameWidth + 14);
    const float dotsRight = 386.0f;
    const float dotSize = 8.0f;
    const float dotGap = 7.0f;
    const float dotY = 40.0f;

    for (float x = dotsLeft; x + dotSize <= dotsRight; x += dotSize + dotGap)
    {
        g.setColour (x == dotsLeft ? accent : midGrey);
        g.fillEllipse (x, dotY, dotSize, dotSize);
    }

    g.setColour (midGrey);
    g.fillRect (juce::Rectangle<float> (6.0f, 63.0f, 380.0f, 2.0f));

    g.setColour (darkGrey);
    g.setFont (pictureFont (15.0f, false).withExtraKerningFactor (0.12f));
    g.drawFittedText (subtitle, juce::Rectangle<int> (6, 66, 380, 18), juce::Justification::centredLeft, 1, 0.8f);

    return image;
}

bool writePng (const juce::Image& image, const juce::File& file)
{
    file.deleteFile();
    juce::FileOutputStream out (file);

    if (! out.openedOk())
        return false;

    juce::PNGImageFormat png;
    return png.writeImageToStream (image, out);
}

} // namespace

int main (int argc, char** argv)
{
    if (argc != 2)
    {
        std::cerr << "usage: make_pictures <output folder>\n";
        return 2;
    }

    juce::ScopedJuceInitialiser_GUI framework;

    const auto folder = juce::File::getCurrentWorkingDirectory().getChildFile (juce::String (argv[1]));

    if (! folder.createDirectory())
    {
        std::cerr << "cannot create " << folder.getFullPathName() << "\n";
        return 1;
    }

    const struct { const char* fileName; juce::Image image; } pictures[] {
        { "logo.png",   makeLogo() },
        { "tamrel.png", makeNamePicture ("TAMREL", "USB MIDI CONTROL SURFACE") },
        { "ostrel.png", makeNamePicture ("OSTREL", "USB MIDI CONTROL SURFACE EXTENDER") },
    };

    for (const auto& picture : pictures)
    {
        const auto file = folder.getChildFile (picture.fileName);

        if (! writePng (picture.image, file))
        {
            std::cerr << "cannot write " << file.getFullPathName() << "\n";
            return 1;
        }

        std::cout << file.getFullPathName() << "  " << file.getSize() << " bytes\n";
    }

    return 0;
}
