#include <gtest/gtest.h>
#include "fenz_PlainXml.h"

namespace
{
    juce::String nested (int n)
    {
        return juce::String::repeatedString ("<a>", n) + juce::String::repeatedString ("</a>", n);
    }

    // The bound is the caller's: each lets its own depth through and refuses one more.
    TEST (PlainXml, DepthIsTheCallersBound)
    {
        for (int bound : { 1, 2, 8, 16, 32 })
        {
            SCOPED_TRACE (bound);
            EXPECT_TRUE (fenz::isPlainAndShallowXml (nested (bound), bound));
            EXPECT_FALSE (fenz::isPlainAndShallowXml (nested (bound + 1), bound));
        }
    }

    // Text nested far deeper than the parser's stack could take is refused, by a scan that
    // itself takes no stack per level (it gets through the same text under a bound that lets
    // it pass); a declaration is refused whatever the bound.
    TEST (PlainXml, DeepTextCostsTheScanNoStack)
    {
        EXPECT_FALSE (fenz::isPlainAndShallowXml (nested (50000), 32));
        EXPECT_TRUE (fenz::isPlainAndShallowXml (nested (200000), 1000000));
        EXPECT_FALSE (fenz::isPlainAndShallowXml ("<!DOCTYPE a [<!ENTITY e \"x\">]><a>&e;</a>", 1000));
    }
}
