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
    // itself takes no stack per level: it gets through as deep a text as its count of names
    // lets through under a bound that lets it pass, and refuses a deeper one on that count
    // alone. A declaration is refused whatever the bound.
    TEST (PlainXml, DeepTextCostsTheScanNoStack)
    {
        EXPECT_FALSE (fenz::isPlainAndShallowXml (nested (50000), 32));
        EXPECT_TRUE (fenz::isPlainAndShallowXml (nested (fenz::maxPlainXmlNames), 1000000));
        EXPECT_FALSE (fenz::isPlainAndShallowXml (nested (200000), 1000000));
        EXPECT_FALSE (fenz::isPlainAndShallowXml ("<!DOCTYPE a [<!ENTITY e \"x\">]><a>&e;</a>", 1000));
    }
}

namespace
{
    // Every name costs the parser more than the last: elements and attributes count together,
    // up to the bound, and only those the parser reads (nothing after the root element).
    TEST (PlainXml, NamesAreCountedToTheirBound)
    {
        constexpr int bound = fenz::maxPlainXmlNames;

        const auto attributes = [] (int n)
        {
            juce::String text ("<r");
            for (int i = 0; i < n; ++i) text << " a" << i << "=''";
            return text + "/>";
        };

        const auto elements = [] (int n)
        {
            juce::String text ("<r>");
            for (int i = 1; i < n; ++i) text << "<e" << i << "/>";
            return text + "</r>";
        };

        struct Case { const char* what; juce::String text; bool passes; };
        const Case cases[] = {
            { "the root and its attributes",     attributes (bound - 1), true },
            { "one attribute more",              attributes (bound), false },
            { "elements",                        elements (bound), true },
            { "one element more",                elements (bound + 1), false },
            { "both, to the bound",              "<r a=''>" + elements (bound - 2) + "</r>", true },
            { "both, one more",                  "<r a='' b=''>" + elements (bound - 2) + "</r>", false },
            { "after the root, nothing counts",  "<r/>" + elements (bound + 1), true },
        };

        for (const auto& c : cases)
            EXPECT_EQ (fenz::isPlainAndShallowXml (c.text, 4), c.passes) << c.what;
    }

    // Text has no place in a tree: it is left out at every level, and the elements around it
    // keep their attributes and their order.
    TEST (PlainXml, TreeLeavesTextOut)
    {
        auto root = juce::parseXML ("<a n=\"1\">x<b>y<c/>z</b>&amp;<![CDATA[w]]><d m=\"2\"/></a>");
        ASSERT_NE (root, nullptr);

        const auto tree = fenz::treeFromPlainXml (*root);
        EXPECT_EQ (tree.toXmlString (juce::XmlElement::TextFormat().singleLine().withoutHeader()),
                   "<a n=\"1\"><b><c/></b><d m=\"2\"/></a>");
    }
}
