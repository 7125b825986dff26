#pragma once

#include <gtest/gtest.h>
#include <string>
#include "Kestal.h"

// A tree as one line of XML, to compare whole trees.
inline juce::String treeText (const juce::ValueTree& tree)
{
    return tree.toXmlString (juce::XmlElement::TextFormat().singleLine().withoutHeader());
}

namespace testsupport
{
    // Makes the process-wide mapping object for the calling case, as the application makes it
    // at start-up. The framework makes it once per process and never again once it has been
    // deleted, and an object an earlier case left behind holds that case's changes: either way
    // the result is null and whyNot says so, and the case skips. ctest runs every case in a
    // process of its own, where the first call always has its object; a program run whole runs
    // its skipped cases again, each in a process of its own (see OwnProcessCases.h).
    inline Kestal* makeFreshKestal (std::string& whyNot)
    {
        // Asking the framework for a second object only earns an assertion message per case.
        static bool madeInThisProcess = false;

        if (Kestal::getInstanceWithoutCreating() != nullptr)
        {
            madeInThisProcess = true;
            whyNot = "an earlier case left the mapping object behind, and it exists once per process: the case needs a process of its own";
            return nullptr;
        }

        auto* kestal = madeInThisProcess ? nullptr : Kestal::getInstance();
        madeInThisProcess = true;

        if (kestal == nullptr)
            whyNot = "the mapping object exists once per process: the case needs a process of its own";

        return kestal;
    }
}

// The object is made with the fixture, before anything a derived fixture sets up, and deleted
// at the end, as the application's shutdown does, which writes the settings file into the test
// folder. A case that cannot have a fresh object (see makeFreshKestal) is skipped.
struct KestalFixture : public ::testing::Test
{
    KestalFixture()
    {
        kestal = testsupport::makeFreshKestal (whyNoObject);
    }

    ~KestalFixture() override
    {
        Kestal::deleteInstance();
    }

    void SetUp() override
    {
        if (kestal == nullptr)
            GTEST_SKIP() << whyNoObject;
    }

    Kestal::Impl& state() { return *kestal->impl; }
    CtMap mapOfMode (int m) { return CtMap (state().findMode (m)); }

    Kestal* kestal = nullptr;
    std::string whyNoObject;
};
