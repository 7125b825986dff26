#include <juce_gui_basics/juce_gui_basics.h>
#include "AboutComponent.h"
#include "ContentComponent.h"
#include "Kestal.h"
#include "QuitSignals.h"
#include "SingleInstance.h"
#include <iostream>
#include "fenz_FirmwareUpgradeComponent.h"
#include "fenz_VirtualSurface.h"

namespace
{
    // Both come from the build's application target.
    const juce::String applicationName    { JUCE_APPLICATION_NAME_STRING };
    const juce::String applicationVersion { JUCE_APPLICATION_VERSION_STRING };
    constexpr int aboutItemId = 100;

}

//==============================================================================
class KestalApplication : public juce::JUCEApplication
{
public:
    KestalApplication() = default;
    ~KestalApplication() override = default;

    const juce::String getApplicationName() override    { return applicationName; }
    const juce::String getApplicationVersion() override { return applicationVersion; }
    bool moreThanOneInstanceAllowed() override          { return true; }

    void initialise (const juce::String& commandLine) override
    {
       #if JUCE_MAC
        if (sendCommandLineToPreexistingInstance())
        {
            quit();
            return;
        }
       #else
        // The framework's lock lies in a folder that all users share, so the first user's
        // instance would be everyone's, and its hand-over never reaches the running instance
        // here. One lock and one hand-over pipe per user instead.
        singleInstance = std::make_unique<SingleInstance> (getApplicationName());

        // Not knowing whether another instance runs is no licence to run: two would drive one
        // device. This one says why and goes.
        if (singleInstance->getLockProblem().isNotEmpty())
        {
            const auto text = getApplicationName() + " cannot make sure that it runs only once: "
                            + singleInstance->getLockProblem() + ". Set XDG_RUNTIME_DIR to a folder that only you"
                              " may use, and start it again.";
            std::cerr << text << std::endl;
            juce::AlertWindow::showMessageBoxAsync (juce::MessageBoxIconType::WarningIcon, getApplicationName(), text, {},
                                                    nullptr, juce::ModalCallbackFunction::create ([] (int) { quit(); }));
            return;
        }

        if (singleInstance->isAnotherInstanceRunning())
        {
            singleInstance->tellRunningInstance (commandLine);
            quit();
            return;
        }

        singleInstance->listen ([this] (const juce::String& otherCommandLine) { anotherInstanceStarted (otherCommandLine); });
       #endif

        quitSignals = std::make_unique<QuitSignals> ([this] { systemRequestedQuit(); });

        // Without a surface attached, a simulated one can stand in (see the README).
        virtualSurface = fenz::VirtualSurface::installFromEnvironment();

        Kestal::getInstance();

        auto window = std::make_unique<MainWindow> (getApplicationName() + " V" + getApplicationVersion());
        window->setContentOwned (new ContentComponent(), true);
        window->centreWithSize (window->getWidth(), window->getHeight());
        window->setVisible (true);
        mainWindow = std::move (window);
    }

    void shutdown() override
    {
        mainWindow = nullptr;

        // A process that handed over to a running instance never made the mapping object;
        // making one now would only write the built-in maps over that instance's settings.
        if (Kestal::getInstanceWithoutCreating() != nullptr)
            Kestal::deleteInstance();

        virtualSurface = nullptr;
        quitSignals = nullptr;
       #if ! JUCE_MAC
        singleInstance = nullptr;
       #endif
    }

    void anotherInstanceStarted (const juce::String&) override
    {
        if (mainWindow != nullptr)
            mainWindow->toFront (true);
    }

    // The window's close button, Escape, SIGINT and SIGTERM all come here. A firmware upgrade
    // step may be writing to the device, and the quit would end the message loop under its
    // waits: the quit waits until the step has returned.
    void systemRequestedQuit() override
    {
        fenz::FirmwareUpgradeComponent::quitWhenNoStepRuns ([] { juce::JUCEApplicationBase::quit(); });
    }

    //==============================================================================
    class MainWindow : public juce::DocumentWindow
    {
    public:
        explicit MainWindow (const juce::String& title)
            : juce::DocumentWindow (title, juce::Colour (0xffeeeeee),
                                    juce::DocumentWindow::minimiseButton | juce::DocumentWindow::closeButton, true)
        {
            setUsingNativeTitleBar (true);
            setResizable (false, false);
            extraAppleMenuItems.addItem (aboutItemId, "About Tamrel", true, false);

           #if JUCE_MAC
            juce::MenuBarModel::setMacMainMenu (&menuBar, &extraAppleMenuItems, {});
           #else
            // Without a global application menu the item goes into a menu bar of the window's
            // own, above the content, which keeps its size.
            setMenuBar (&menuBar);
           #endif
        }

        ~MainWindow() override
        {
           #if JUCE_MAC
            juce::MenuBarModel::setMacMainMenu (nullptr, nullptr, {});
           #else
            setMenuBar (nullptr);
           #endif
        }

        bool keyPressed (const juce::KeyPress& key) override
        {
            if (key.getKeyCode() == juce::KeyPress::escapeKey)
            {
                juce::JUCEApplication::getInstance()->systemRequestedQuit();
                return true;
            }

            return false;
        }

        void closeButtonPressed() override
        {
            juce::JUCEApplication::getInstance()->systemRequestedQuit();
        }

        class MenuBar : public juce::MenuBarModel
        {
        public:
            explicit MenuBar (MainWindow& w) : window (w) {}

            juce::StringArray getMenuBarNames() override
            {
               #if JUCE_MAC
                return {};
               #else
                return { "Help" };
               #endif
            }

            juce::PopupMenu getMenuForIndex (int index, const juce::String&) override
            {
               #if ! JUCE_MAC
                if (index == 0)
                    return window.extraAppleMenuItems;
               #endif
                juce::ignoreUnused (index);
                return {};
            }

            void menuItemSelected (int itemId, int topLevelMenuIndex) override
            {
               #if JUCE_MAC
                const bool fromApplicationMenu = topLevelMenuIndex < 0;
               #else
                const bool fromApplicationMenu = topLevelMenuIndex == 0;
               #endif

                if (itemId == aboutItemId && fromApplicationMenu)
                    launchAboutBox (true);
            }

        private:
            MainWindow& window;
        };

    private:
        MenuBar menuBar { *this };
        juce::PopupMenu extraAppleMenuItems;

        JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainWindow)
    };

private:
    std::unique_ptr<MainWindow> mainWindow;
    std::unique_ptr<fenz::VirtualSurface> virtualSurface;
    std::unique_ptr<QuitSignals> quitSignals;
   #if ! JUCE_MAC
    std::unique_ptr<SingleInstance> singleInstance;
   #endif
};

START_JUCE_APPLICATION (KestalApplication)
