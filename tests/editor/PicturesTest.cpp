#include <gtest/gtest.h>

#include <juce_gui_basics/juce_gui_basics.h>

#include "KestalPictures.h"

namespace
{

struct Picture
{
    const char* name;
    const char* data;
    int size;
    int width, height;
};

const Picture pictures[] {
    { "logo",   KestalPictures::logo_png,   KestalPictures::logo_pngSize,   175, 51 },
    { "tamrel", KestalPictures::tamrel_png, KestalPictures::tamrel_pngSize, 392, 84 },
    { "ostrel", KestalPictures::ostrel_png, KestalPictures::ostrel_pngSize, 392, 84 },
};

} // namespace

TEST (EmbeddedPictures, AreEightBitRgbaPngs)
{
    for (const auto& p : pictures)
    {
        SCOPED_TRACE (p.name);
        ASSERT_GT (p.size, 26);
        const auto* bytes = reinterpret_cast<const unsigned char*> (p.data);

        EXPECT_EQ (juce::String::fromUTF8 (p.data + 1, 3), "PNG");
        EXPECT_EQ (juce::String::fromUTF8 (p.data + 12, 4), "IHDR");
        EXPECT_EQ (bytes[24], 8) << "bit depth";
        EXPECT_EQ (bytes[25], 6) << "colour type (6 is RGB with alpha)";
    }
}

TEST (EmbeddedPictures, DecodeToTheirSizeWithSomethingDrawnOnATransparentGround)
{
    for (const auto& p : pictures)
    {
        SCOPED_TRACE (p.name);
        const auto image = juce::ImageCache::getFromMemory (p.data, p.size);

        ASSERT_TRUE (image.isValid());
        EXPECT_EQ (image.getWidth(), p.width);
        EXPECT_EQ (image.getHeight(), p.height);
        EXPECT_TRUE (image.hasAlphaChannel());

        int opaque = 0, clear = 0;

        for (int y = 0; y < image.getHeight(); ++y)
            for (int x = 0; x < image.getWidth(); ++x)
            {
                const auto alpha = image.getPixelAt (x, y).getAlpha();
                opaque += alpha == 0xff ? 1 : 0;
                clear += alpha == 0 ? 1 : 0;
            }

        EXPECT_GT (opaque, 0);
        EXPECT_GT (clear, 0);
        EXPECT_EQ (image.getPixelAt (0, 0).getAlpha(), 0);
    }
}

TEST (EmbeddedPictures, TheTwoNamePicturesDiffer)
{
    const auto main = juce::ImageCache::getFromMemory (KestalPictures::tamrel_png, KestalPictures::tamrel_pngSize);
    const auto extender = juce::ImageCache::getFromMemory (KestalPictures::ostrel_png, KestalPictures::ostrel_pngSize);
    ASSERT_TRUE (main.isValid() && extender.isValid());

    bool differ = false;

    for (int y = 0; y < main.getHeight() && ! differ; ++y)
        for (int x = 0; x < main.getWidth() && ! differ; ++x)
            differ = main.getPixelAt (x, y) != extender.getPixelAt (x, y);

    EXPECT_TRUE (differ);
}
