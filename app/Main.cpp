#include <juce_gui_basics/juce_gui_basics.h>
#include "AboutComponent.h"
#include "ContentComponent.h"
#include "Kestal.h"
#include "fenz_VirtualSurface.h"

namespace
{
    const juce::String applicationName    { "Tamrel/Ostrel Pelto" };
    const juce::String applicationVersion { "1.14" };
    constexpr int aboutItemId = 100;

   #if ! JUCE_MAC
    // The framework keeps a second instance from running here too, but never tells the running
    // one that another was started. This pipe carries the later instance's command line over, so
    // the running window can come to the front as it does where the system passes it on.
    class InstanceHandOver final : private juce::InterprocessConnection
    {
    public:
        InstanceHandOver() : juce::InterprocessConnection (true) {}
        ~InstanceHandOver() override { disconnect(); }

        // In the running instance: wait for later instances to report themselves.
        void listen()  { createPipe (pipeName(), -1, false); }

        // In a later instance: tell the running one, then go.
        static void tellRunningInstance (const juce::String& commandLine)
        {
            InstanceHandOver handOver;

            if (handOver.connectToPipe (pipeName(), 1000))
            {
                const auto text = applicationName + "/" + commandLine;
                handOver.sendMessage (juce::MemoryBlock (text.toRawUTF8(), text.getNumBytesAsUTF8()));
            }
        }

    private:
        static juce::String pipeName()  { return "TamrelOstrelPelto-instance"; }

        void connectionMade() override {}
        void connectionLost() override {}

        void messageReceived (const juce::MemoryBlock& message) override
        {
            const auto text = message.toString();

            if (auto* app = juce::JUCEApplicationBase::getInstance())
            {
                const auto prefix = app->getApplicationName() + "/";

                if (text.startsWith (prefix))
                    app->anotherInstanceStarted (text.substring (prefix.length()));
            }
        }
    };
   #endif
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
        if (sendCommandLineToPreexistingInstance())
        {
           #if ! JUCE_MAC
            InstanceHandOver::tellRunningInstance (commandLine);
           #endif
            quit();
            return;
        }

       #if ! JUCE_MAC
        handOver = std::make_unique<InstanceHandOver>();
        handOver->listen();
       #endif

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
       #if ! JUCE_MAC
        handOver = nullptr;
       #endif
    }

    void anotherInstanceStarted (const juce::String&) override
    {
        if (mainWindow != nullptr)
            mainWindow->toFront (true);
    }

    void systemRequestedQuit() override
    {
        quit();
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
                juce::JUCEApplicationBase::quit();
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
   #if ! JUCE_MAC
    std::unique_ptr<InstanceHandOver> handOver;
   #endif
};

START_JUCE_APPLICATION (KestalApplication)
