#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>
#include "GuiTestSupport.h"
#include "StringLists.h"

#include <functional>
#include <vector>

// What the tests of the editor's and the upgrader's choosers share: their boxes' items, the
// message loop, and a chooser shown in a modal dialog as their callers show them.
namespace testsupport
{
    using testsupport::toVector;

    inline std::vector<juce::String> itemTexts (const juce::ComboBox& box)
    {
        std::vector<juce::String> texts;

        for (int i = 0; i < box.getNumItems(); ++i)
            texts.push_back (box.getItemText (i));

        return texts;
    }

    // The box offers exactly these texts, in this order, with the ids 1, 2, 3 and so on.
    inline void expectItemsNumberedFromOne (const juce::ComboBox& box, const std::vector<juce::String>& texts)
    {
        EXPECT_THAT (itemTexts (box), ::testing::ElementsAreArray (texts));

        std::vector<int> ids, expectedIds;

        for (int i = 0; i < box.getNumItems(); ++i)
            ids.push_back (box.getItemId (i));

        for (size_t i = 0; i < texts.size(); ++i)
            expectedIds.push_back ((int) i + 1);

        EXPECT_THAT (ids, ::testing::ElementsAreArray (expectedIds));
    }

    // Runs the message loop until everything posted so far has been delivered.
    inline void deliverPendingMessages()
    {
        bool delivered = false;
        juce::MessageManager::callAsync ([&] { delivered = true; });

        while (! delivered)
            juce::MessageManager::getInstance()->runDispatchLoopUntil (5);
    }

    // Shows a chooser in a modal dialog that does not own it, as its caller does, and returns the
    // run's result; `whileOpen` runs once the modal loop is going, with the dialog that holds it.
    inline int runModal (juce::Component& chooser, const juce::String& title,
                         std::function<void (juce::DialogWindow&)> whileOpen)
    {
        juce::DialogWindow::LaunchOptions options;
        options.dialogTitle = title;
        options.content.setNonOwned (&chooser);
        options.escapeKeyTriggersCloseButton = true;
        options.useNativeTitleBar = true;
        options.resizable = false;

        juce::MessageManager::callAsync ([&chooser, whileOpen]
        {
            auto* dialog = chooser.findParentComponentOfClass<juce::DialogWindow>();

            if (dialog == nullptr)
            {
                ADD_FAILURE() << "the chooser is not inside a dialog";
                testsupport::endEveryModalRun();
                return;
            }

            whileOpen (*dialog);
        });

        testsupport::StuckDialogGuard guard;   // a dialog that never ends would hang the test
        return options.runModal();
    }
}
