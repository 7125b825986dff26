#pragma once

#include <gtest/gtest.h>
#include "Kestal.h"

// A tree as one line of XML, to compare whole trees.
inline juce::String treeText (const juce::ValueTree& tree)
{
    return tree.toXmlString (juce::XmlElement::TextFormat().singleLine().withoutHeader());
}

// The process-wide object can be created once per process only, so each case that uses it runs
// in a process of its own (ctest runs every case alone). The object is deleted at the end, as
// the application's shutdown does, which writes the settings file into the test folder.
struct KestalFixture : public ::testing::Test
{
    KestalFixture()
    {
        kestal = Kestal::getInstance();

        if (kestal == nullptr)
            ADD_FAILURE() << "the mapping object exists once per process: run each case on its own";
    }

    ~KestalFixture() override
    {
        Kestal::deleteInstance();
    }

    Kestal::Impl& state() { return *kestal->impl; }
    CtMap mapOfMode (int m) { return CtMap (state().findMode (m)); }

    Kestal* kestal = nullptr;
};
