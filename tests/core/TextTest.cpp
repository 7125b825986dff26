#include <gtest/gtest.h>
#include "fenz_Text.h"
#include "ScopedEnvironment.h"

#include <string>

namespace
{
    // The framework's own reader of the environment overran the heap on a value that is not
    // UTF-8 followed by a long run; here each stray byte reads as U+FFFD and the rest as it is.
    TEST (Text, EnvironmentValuesAreReadAsTextWhateverTheirBytes)
    {
        const std::string run (200000, 'x');
        const juce::String replacement = juce::String::charToString (0xFFFD);
        const juce::String longRun = juce::String::repeatedString ("x", 200000);

        struct Case { const char* what; std::string value; juce::String expected; };
        const Case cases[] = {
            { "plain text",                   "tamrel", "tamrel" },
            { "two, three and four bytes",    "\xc3\xa9\xe2\x82\xac\xf0\x9d\x84\x9e",
              juce::String::charToString (0xE9) + juce::String::charToString (0x20AC) + juce::String::charToString (0x1D11E) },
            { "a lone continuation byte",     "\x80" + run, replacement + longRun },
            { "an overlong slash",            "a\xc0\xaf" "b", "a" + replacement + replacement + "b" },
            { "a surrogate",                  "\xed\xa0\x80", replacement + replacement + replacement },
            { "a lead byte at the end",       "x\xe2\x82", "x" + replacement + replacement },
            { "empty",                        "", "" },
        };

        for (const auto& c : cases)
        {
            const testsupport::ScopedEnvironment variable ("KESTAL_TEXT_TEST", c.value.c_str());
            EXPECT_EQ (fenz::environmentText ("KESTAL_TEXT_TEST", "unset"), c.expected) << c.what;
        }

        const testsupport::ScopedEnvironment unset ("KESTAL_TEXT_TEST", nullptr);
        EXPECT_EQ (fenz::environmentText ("KESTAL_TEXT_TEST", "unset"), "unset");
    }
}
