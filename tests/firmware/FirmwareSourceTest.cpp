#include <gtest/gtest.h>
#include "fenz_FirmwareLaunch.h"
#include "fenz_FirmwareUpgradeComponent.h"
#include "fenz_MidiInputHandler.h"
#include "fenz_UpgraderChoosers.h"
#include "LoopbackHttpServer.h"
#include "FifoWatchdog.h"
#include "ScopedEnvironment.h"
#include "TemporaryFolder.h"
#include "PanelTestSeam.h"

#include <cstring>
#include <sstream>

using Way = testsupport::LoopbackHttpServer::Way;

namespace
{
    // A firmware image with bytes that tell their positions apart.
    juce::MemoryBlock imageOf (size_t size)  { return testsupport::patternedBytes (size); }

    juce::MemoryBlock prefixOf (const juce::MemoryBlock& block, size_t size)  { return { block.getData(), size }; }

    juce::String entry (const char* pid, const char* name, const char* version, const char* fw)
    {
        juce::String e ("  <firmware");

        if (pid != nullptr)
            e << " pid=\"" << pid << "\"";

        e << " name=\"" << name << "\" version=\"" << version << "\" fw=\"" << fw << "\"/>\n";
        return e;
    }

    juce::String listOf (std::initializer_list<juce::String> entries)
    {
        juce::String text ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<firmwares>\n");

        for (const auto& e : entries)
            text << e;

        return text + "</firmwares>\n";
    }

    // While it lives, looks at the temporary folder every few milliseconds and keeps the size
    // of the largest file it ever saw there; it ticks only while the message loop runs.
    struct TemporaryFolderWatch : public juce::Timer
    {
        TemporaryFolderWatch()            { startTimer (5); }
        ~TemporaryFolderWatch() override  { stopTimer(); }

        void timerCallback() override
        {
            ++ticks;

            for (const auto& f : juce::File::getSpecialLocation (juce::File::tempDirectory)
                                     .findChildFiles (juce::File::findFiles, true))
                largest = std::max (largest, f.getSize());
        }

        int ticks = 0;
        juce::int64 largest = 0;
    };

    struct Box
    {
        juce::MessageBoxIconType icon;
        juce::String title, text;
    };

    // The panel of one test, its boxes and choosers answered and recorded, and a firmware
    // server of its own on this machine that KESTAL_FIRMWARE_SERVER points at.
    struct Step4 : public ::testing::Test
    {
        ~Step4() override
        {
            panel = nullptr;
            ownPanel = nullptr;
            server.stop();
        }

        fenz::FirmwareUpgradeComponent& makePanel (int productId)
        {
            ownPanel = nullptr;
            ownPanel = std::make_unique<fenz::FirmwareUpgradeComponent> (productId);
            return answerDialogsOf (*ownPanel);
        }

        // Answers and records the panel's boxes and choosers; the panel the test looks at.
        fenz::FirmwareUpgradeComponent& answerDialogsOf (fenz::FirmwareUpgradeComponent& p)
        {
            panel = &p;
            auto& d = inside (p).dialogs;

            d.runChooser = [this] (juce::Component& c, const juce::String& title)
            {
                events.add ("chooser " + title);

                if (auto* chooser = dynamic_cast<fenz::FirmwareSelectComponent*> (&c))
                {
                    for (int i = 0; i < chooser->comboBox.getNumItems(); ++i)
                        offered.add (chooser->comboBox.getItemText (i));

                    if (pick >= 0)
                        chooser->comboBox.setSelectedItemIndex (pick, juce::dontSendNotification);
                }

                if (duringChooser)
                    duringChooser();

                return chooserResult;
            };

            d.showMessageBox = [this] (juce::MessageBoxIconType icon, const juce::String& title, const juce::String& text)
            {
                events.add ("box " + title);
                boxes.push_back ({ icon, title, text });
            };

            d.chooseFirmwareFile = [this] (const juce::File& start)
            {
                events.add ("file chooser");
                chooserStarts.push_back (start);
                return localFile;
            };

            d.runShellCommand = [this] (const char*) { events.add ("shell"); };

            return p;
        }

        // The list served at both of its requests.
        void serveList (const juce::String& path, const juce::String& text)
        {
            server.answer (path, 200, text);
        }

        bool handlerHolds (const juce::MemoryBlock& image) const
        {
            const auto* h = inside (*panel).handler.get();
            return h != nullptr && h->data != nullptr && h->size == image.getSize()
                    && std::memcmp (h->data, image.getData(), image.getSize()) == 0;
        }

        bool nothingLoaded() const
        {
            const auto* h = inside (*panel).handler.get();
            return h != nullptr && h->data == nullptr && h->size == 0;
        }

        testsupport::ScopedNoProxies noProxies;
        testsupport::LoopbackHttpServer server;
        testsupport::ScopedEnvironment serverVariable { "KESTAL_FIRMWARE_SERVER", server.root().toRawUTF8() };
        std::unique_ptr<fenz::FirmwareUpgradeComponent> ownPanel;
        fenz::FirmwareUpgradeComponent* panel = nullptr;

        int chooserResult = 1;
        int pick = -1;
        std::function<void()> duringChooser;
        juce::File localFile;

        juce::StringArray events, offered;
        std::vector<Box> boxes;
        std::vector<juce::File> chooserStarts;
    };

    const char* const commonList  = "/firmware.xml";
    const char* const specialList = "/firmware-special.xml";
}

//==============================================================================
// Two product lines read a list of their own. A 404 ends the fetch after the probe, so the
// one request is the list's.
TEST_F (Step4, ListPathByProduct)
{
    for (const auto& [product, path] : std::vector<std::pair<int, juce::String>> {
             { 94, specialList }, { 130, specialList }, { 176, commonList }, { 177, commonList }, { 79, commonList } })
    {
        SCOPED_TRACE (product);
        const auto before = server.requests().size();

        makePanel (product).doStep4();

        const auto requests = server.requests();
        ASSERT_EQ (requests.size(), before + 1);
        EXPECT_EQ (requests[before], path);
    }
}

// Only the entries of the connected product are offered, in the list's order; an entry
// without a product id is for no product.
TEST_F (Step4, OffersTheProductsEntriesInListOrder)
{
    serveList (commonList, listOf ({ entry ("176", "Alpha", "1.0", "a.bin"),
                                     entry ("177", "Beta", "1.1", "b.bin"),
                                     entry (nullptr, "Gamma", "1.2", "c.bin"),
                                     entry ("176", "Delta", "2.0", "d.bin"),
                                     entry ("0", "Zeta", "0.1", "z.bin") }));
    chooserResult = 0;

    makePanel (176).doStep4();

    ASSERT_EQ (inside (*panel).firmwares.getNumChildren(), 2);
    EXPECT_EQ (inside (*panel).firmwares.getChild (0)["name"].toString(), "Alpha");
    EXPECT_EQ (inside (*panel).firmwares.getChild (1)["name"].toString(), "Delta");
    EXPECT_EQ (offered, juce::StringArray ({ "Alpha v1.0", "Delta v2.0" }));
}

// Even for a product whose id reads as 0, an entry without "pid" is not its.
TEST_F (Step4, EntryWithoutProductIdIsNeverOffered)
{
    serveList (commonList, listOf ({ entry (nullptr, "Gamma", "1.2", "c.bin"),
                                     entry ("0", "Zeta", "0.1", "z.bin"),
                                     entry ("zero", "Eta", "0.2", "e.bin") }));
    chooserResult = 0;

    makePanel (0).doStep4();

    ASSERT_EQ (inside (*panel).firmwares.getNumChildren(), 2);
    EXPECT_EQ (inside (*panel).firmwares.getChild (0)["name"].toString(), "Zeta");
    EXPECT_EQ (inside (*panel).firmwares.getChild (1)["name"].toString(), "Eta");
}

// Cancel in the version chooser ends the step: nothing is downloaded and no file is asked for.
TEST_F (Step4, ChooserCancelEndsTheStep)
{
    serveList (commonList, listOf ({ entry ("176", "Alpha", "1.0", "a.bin") }));
    server.answer ("/a.bin", 200, imageOf (1024));
    chooserResult = 0;

    makePanel (176).doStep4();

    EXPECT_EQ (events, juce::StringArray ({ "chooser Firmware Version" }));
    EXPECT_EQ (server.requestsFor ("/a.bin"), 0);
    EXPECT_TRUE (boxes.empty());
    EXPECT_TRUE (nothingLoaded());
    EXPECT_EQ (panel->getState().step, 2);
}

// The chosen entry's file is downloaded into a temporary file; the handler keeps the bytes,
// the file is gone, and the panel goes on to the Upgrade step.
TEST_F (Step4, DownloadsTheChosenFirmware)
{
    const auto image = imageOf (40000);
    serveList (commonList, listOf ({ entry ("176", "Alpha", "1.0", "files/alpha.bin"),
                                     entry ("176", "Delta", "2.0", "files/delta.bin") }));
    server.answer ("/files/alpha.bin", 200, imageOf (512));
    server.answer ("/files/delta.bin", 200, image);
    pick = 1;

    makePanel (176).doStep4();

    EXPECT_EQ (server.requests(), juce::StringArray ({ commonList, commonList, "/files/delta.bin" }));
    EXPECT_TRUE (boxes.empty());
    EXPECT_TRUE (handlerHolds (image));

    EXPECT_TRUE (inside (*panel).firmwareFile.getFileName().startsWith ("temp_"));
    EXPECT_EQ (inside (*panel).firmwareFile.getParentDirectory(), juce::File::getSpecialLocation (juce::File::tempDirectory));
    EXPECT_FALSE (inside (*panel).firmwareFile.exists());

    EXPECT_EQ (panel->getState().step, 3);
    EXPECT_FALSE (panel->getState().enabled[0]);
    EXPECT_FALSE (panel->getState().enabled[1]);
    EXPECT_TRUE (panel->getState().enabled[4]);
}

//==============================================================================
// Every way the list can fail: the user is told why in a plain box, and the file chooser opens
// once that box has been answered (the box's seam returns only then); the list is empty.
namespace
{
    struct FetchFault
    {
        const char* name;
        int product;
        std::function<void (testsupport::LoopbackHttpServer&)> setUp;
        const char* text;
        int listRequests;
    };

    std::ostream& operator<< (std::ostream& out, const FetchFault& f) { return out << f.name; }

    const char* const unavailable = "The firmware server is currently unavailable.";

    // A list for product 176 followed by blanks: cut anywhere in the blanks, what came still
    // reads as the list.
    juce::MemoryBlock paddedList()
    {
        const auto text = listOf ({ entry ("176", "Alpha", "1", "a.bin") }) + juce::String::repeatedString (" ", 4000);
        return { text.toRawUTF8(), text.getNumBytesAsUTF8() };
    }

    const FetchFault fetchFaults[] = {
        { "UnknownProduct", 2000, [] (auto&) {}, "Cannot fetch firmware details for Unknown product", 0 },
        { "NegativeProduct", -1, [] (auto&) {}, "Cannot fetch firmware details for Unknown product", 0 },
        { "NotFound", 176, [] (auto& s) { s.answer (commonList, 404, "<html>Not here</html>"); }, unavailable, 1 },
        { "ServerError", 176, [] (auto& s) { s.answer (commonList, 500, "<error/>"); }, unavailable, 1 },
        { "Redirected", 176, [] (auto& s) { s.answer (commonList, 302, "<moved/>"); }, unavailable, 1 },
        { "SilentLongerThanTheProbe", 176,
          [] (auto& s) { s.answer (commonList, 200, listOf ({ entry ("176", "Alpha", "1", "a.bin") }), Way::stallFirst, 7000); },
          unavailable, 1 },
        { "NoServer", 176, [] (auto& s) { s.stop(); }, unavailable, 0 },
        { "NotXml", 176, [] (auto& s) { s.answer (commonList, 200, "firmware: none today"); }, "Error connecting to server", 2 },
        { "ListGoneAtTheRead", 176,
          [] (auto& s) { s.answer (commonList, 200, "<firmwares/>"); s.answer (commonList, 404, "gone"); },
          "Error connecting to server", 2 },
        { "ReadSilentAfterTheProbe", 176,
          [] (auto& s) { s.answer (commonList, 200, "<firmwares/>");
                         s.answer (commonList, 200, listOf ({ entry ("176", "Alpha", "1", "a.bin") }), Way::stallFirst, 7000); },
          "Error connecting to server", 2 },
        { "NoEntryForTheProduct", 176,
          [] (auto& s) { s.answer (commonList, 200, listOf ({ entry ("177", "Beta", "1", "b.bin"), entry (nullptr, "Gamma", "1", "c.bin") })); },
          "No firmware matches in the server, please try again manually!", 2 },
        { "EmptyList", 176, [] (auto& s) { s.answer (commonList, 200, "<firmwares/>"); },
          "No firmware matches in the server, please try again manually!", 2 },

        // A list that would take the program down, or the window with it.
        { "AnnouncedTenTerabytes", 176,
          [] (auto& s) { s.answer (commonList, { 200, juce::MemoryBlock ("<firmwares/>", 12), Way::whole, 0, testsupport::headWithLength ("10000000000000") }); },
          "Error connecting to server", 2 },
        { "NestedFiftyThousandDeep", 176,
          [] (auto& s) { s.answer (commonList, 200, "<firmwares>" + juce::String::repeatedString ("<a>", 50000)
                                                       + juce::String::repeatedString ("</a>", 50000) + "</firmwares>"); },
          "Error connecting to server", 2 },
        { "OverAMegabyte", 176,
          [] (auto& s) { s.answer (commonList, 200, listOf ({ entry ("176", "Alpha", "1", "a.bin"),
                                                              "<!--" + juce::String::repeatedString (" ", 1024 * 1024) + "-->" })); },
          "Error connecting to server", 2 },
        { "EndlessList", 176, [] (auto& s) { s.answer (commonList, 200, entry ("176", "Alpha", "1", "a.bin"), Way::endless); },
          "Error connecting to server", 2 },
        { "DeclaresEntities", 176,
          [] (auto& s) { s.answer (commonList, 200, "<!DOCTYPE f [<!ENTITY e \"<firmware pid='176'/>\">]><firmwares>&e;</firmwares>"); },
          "Error connecting to server", 2 },
        { "TextAfterAnInstruction", 176,
          [] (auto& s) { s.answer (commonList, 200, listOf ({ entry ("176", "Alpha", "1", "a.bin"), "<?p?>x" })); },
          "Error connecting to server", 2 },
        { "NotUtf8", 176,
          [] (auto& s) { juce::MemoryBlock list ("<firmwares>\x80", 12);
                         list.append (juce::String::repeatedString ("x", 200000).toRawUTF8(), 200000);
                         list.append ("</firmwares>", 12);
                         s.answer (commonList, 200, list); },
          "Error connecting to server", 2 },
        { "ReadTricklesOnPastItsTime", 176,
          [] (auto& s) { s.answer (commonList, 200, "<firmwares/>");
                         s.answer (commonList, 200, listOf ({ juce::String::repeatedString (" ", 100000) }), Way::trickle, 1); },
          "Error connecting to server", 2 },

        // Redirects are held to the server rule at every hop, and followed five times at most.
        { "ProbeRedirectedOffTheMachine", 176, [] (auto& s) { s.redirect (commonList, "http://192.0.2.1/firmware.xml"); },
          unavailable, 1 },
        { "ProbeRedirectedToAFile", 176, [] (auto& s) { s.redirect (commonList, "file:///etc/hostname"); }, unavailable, 1 },
        { "ProbeRedirectedToItself", 176, [] (auto& s) { s.redirect (commonList, commonList); }, unavailable, 6 },

        // A list cut short is no list, even where the part that came reads as one.
        { "ListWithoutLengthCut", 176,
          [] (auto& s) { s.answer (commonList, { 200, paddedList(), Way::breakHalfWay, 0, testsupport::headWithoutLength() }); },
          "Error connecting to server", 2 },
        { "ListWithoutLength", 176,
          [] (auto& s) { s.answer (commonList, { 200, paddedList(), Way::whole, 0, testsupport::headWithoutLength() }); },
          "Error connecting to server", 2 },
        { "ListLongerThanSent", 176,
          [] (auto& s) { s.answer (commonList, { 200, paddedList(), Way::whole, 0, testsupport::headWithLength ("100000") }); },
          "Error connecting to server", 2 },
        { "ListChunkedCutBeforeTheLastChunk", 176,
          [] (auto& s) { s.answer (commonList, { 200, testsupport::chunked (paddedList(), 1000, false), Way::whole, 0,
                                                 testsupport::chunkedHead() }); },
          "Error connecting to server", 2 },

        { "ReadRedirectedOffTheMachine", 176,
          [] (auto& s) { s.answer (commonList, 200, "<firmwares/>"); s.redirect (commonList, "http://example.org/firmware.xml"); },
          "Error connecting to server", 2 },
    };

    class Step4FetchFault : public Step4, public ::testing::WithParamInterface<FetchFault> {};
}

TEST_P (Step4FetchFault, TellsWhyThenOffersALocalFile)
{
    const auto& fault = GetParam();
    fault.setUp (server);

    // The list's deadlines are shorter than the panel's own, and still shorter than every stall
    // of the server's in the table.
    auto& p = makePanel (fault.product);
    inside (p).timing.listAnswerLimitMs = 600;
    inside (p).timing.listTimeLimitMs = 1500;
    p.doStep4();

    EXPECT_EQ (events, juce::StringArray ({ "box Firmware Upgrade", "file chooser" }));
    ASSERT_EQ (boxes.size(), 1u);
    EXPECT_EQ (boxes[0].icon, juce::MessageBoxIconType::NoIcon);
    EXPECT_EQ (boxes[0].text, fault.text);

    EXPECT_EQ (inside (*panel).firmwares.getType().toString(), "firmwares");
    EXPECT_EQ (inside (*panel).firmwares.getNumChildren(), 0);
    EXPECT_EQ (server.requestsFor (commonList), fault.listRequests);
    EXPECT_EQ (panel->getState().step, 2);
}

INSTANTIATE_TEST_SUITE_P (Faults, Step4FetchFault, ::testing::ValuesIn (fetchFaults),
                          [] (const auto& i) { return std::string (i.param.name); });

//==============================================================================
// Every way the download can fail ends in the one warning box, with nothing loaded, the
// temporary file gone and no file chooser after it.
namespace
{
    struct DownloadFault
    {
        const char* name;
        std::function<void (testsupport::LoopbackHttpServer&)> setUp;
        bool stopServerAtChoice;
    };

    std::ostream& operator<< (std::ostream& out, const DownloadFault& f) { return out << f.name; }

    const DownloadFault downloadFaults[] = {
        { "NotFound", [] (auto&) {}, false },
        { "NotFoundWithAPage", [] (auto& s) { s.answer ("/a.bin", 404, imageOf (2048)); }, false },
        { "ServerError", [] (auto& s) { s.answer ("/a.bin", 500, imageOf (2048)); }, false },
        { "BrokenHalfWay", [] (auto& s) { s.answer ("/a.bin", 200, imageOf (20000), Way::breakHalfWay); }, false },
        { "StalledHalfWay", [] (auto& s) { s.answer ("/a.bin", 200, imageOf (20000), Way::stallHalfWay, 8000); }, false },
        { "ServerGoneAfterTheChoice", [] (auto&) {}, true },
        { "SilentBeforeItsHead", [] (auto& s) { s.answer ("/a.bin", 200, imageOf (20000), Way::stallFirst, 8000); }, false },
        { "TricklesOnPastItsTime", [] (auto& s) { s.answer ("/a.bin", 200, imageOf (60000), Way::trickle, 1); }, false },

        // A body larger than any image could be is no download (one just too large for the
        // Upgrade step is refused as a wrong file, below); nothing past what the Upgrade step
        // writes is kept on the disk.
        { "EndlessBody", [] (auto& s) { s.answer ("/a.bin", 200, imageOf (4096), Way::endless); }, false },
        { "AnnouncedTenTerabytes",
          [] (auto& s) { s.answer ("/a.bin", { 200, imageOf (63488), Way::endless, 0, testsupport::headWithLength ("10000000000000") }); }, false },

        // A download that cannot be known whole is none: without a length, one that ends where
        // the connection closes (here after 20000 bytes of an image of 63487), and one in
        // chunks that ends before its last chunk.
        { "NoLengthClosedPartWay",
          [] (auto& s) { s.answer ("/a.bin", { 200, prefixOf (imageOf (63487), 20000), Way::whole, 0, testsupport::headWithoutLength() }); },
          false },
        { "NoLengthClosedAtTheEnd",
          [] (auto& s) { s.answer ("/a.bin", { 200, imageOf (40000), Way::whole, 0, testsupport::headWithoutLength() }); }, false },
        { "ChunkedCutBeforeTheLastChunk",
          [] (auto& s) { s.answer ("/a.bin", { 200, testsupport::chunked (imageOf (40000), 8192, false), Way::whole, 0,
                                               testsupport::chunkedHead() }); },
          false },
        { "ChunkedCutInAChunk",
          [] (auto& s) { s.answer ("/a.bin", { 200, testsupport::chunked (imageOf (40000), 8192), Way::breakHalfWay, 0,
                                               testsupport::chunkedHead() }); },
          false },

        { "RedirectedOffTheMachine", [] (auto& s) { s.redirect ("/a.bin", "http://192.0.2.1/a.bin"); }, false },
        { "RedirectedTooOften", [] (auto& s) { s.redirect ("/a.bin", "/b.bin"); s.redirect ("/b.bin", "/b.bin"); }, false },
    };

    class Step4DownloadFault : public Step4, public ::testing::WithParamInterface<DownloadFault> {};
}

TEST_P (Step4DownloadFault, FailsWithItsBox)
{
    const auto& fault = GetParam();
    serveList (commonList, listOf ({ entry ("176", "Alpha", "1.0", "a.bin") }));
    fault.setUp (server);

    if (fault.stopServerAtChoice)
        duringChooser = [this] { server.stop(); };

    auto& p = makePanel (176);
    inside (p).timing.downloadStallLimitMs = 500;
    inside (p).timing.downloadTimeLimitMs = 1200;

    TemporaryFolderWatch watch;
    p.doStep4();

    EXPECT_LE (watch.largest, 63487) << "a temporary file grew past what the Upgrade step takes";
    EXPECT_EQ (events, juce::StringArray ({ "chooser Firmware Version", "box Firmware Donwload" }));
    ASSERT_EQ (boxes.size(), 1u);
    EXPECT_EQ (boxes[0].icon, juce::MessageBoxIconType::WarningIcon);
    EXPECT_EQ (boxes[0].text, "Could not download firmware file");

    EXPECT_TRUE (nothingLoaded());
    EXPECT_TRUE (inside (*panel).firmwareFile.getFileName().startsWith ("temp_"));
    EXPECT_FALSE (inside (*panel).firmwareFile.exists());
    EXPECT_EQ (panel->getState().step, 2);
    EXPECT_EQ (server.requestsFor ("/a.bin"), fault.stopServerAtChoice ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P (Faults, Step4DownloadFault, ::testing::ValuesIn (downloadFaults),
                          [] (const auto& i) { return std::string (i.param.name); });

// A download that pauses for less than the limit is not given up.
TEST_F (Step4, ShortStallIsWaitedFor)
{
    const auto image = imageOf (20000);
    serveList (commonList, listOf ({ entry ("176", "Alpha", "1.0", "a.bin") }));
    server.answer ("/a.bin", 200, image, Way::stallHalfWay, 300);

    auto& p = makePanel (176);
    inside (p).timing.downloadStallLimitMs = 5000;
    p.doStep4();

    EXPECT_TRUE (boxes.empty());
    EXPECT_TRUE (handlerHolds (image));
}

// The largest image the Upgrade step takes comes down whole, with its length announced or in
// chunks, and the list in the same way.
TEST_F (Step4, DownloadsAnImageOfTheLargestSize)
{
    for (const bool inChunks : { false, true })
    {
        SCOPED_TRACE (inChunks ? "in chunks" : "with its length");
        const auto image = imageOf (63487);
        const auto list = listOf ({ entry ("176", "Alpha", "1.0", "a.bin") });
        const juce::MemoryBlock listBytes (list.toRawUTF8(), list.getNumBytesAsUTF8());

        testsupport::LoopbackHttpServer own;
        serverVariable.set (own.root().toRawUTF8());

        if (inChunks)
        {
            own.answer (commonList, { 200, testsupport::chunked (listBytes, 100), Way::whole, 0, testsupport::chunkedHead() });
            own.answer ("/a.bin", { 200, testsupport::chunked (image, 10000), Way::whole, 0, testsupport::chunkedHead() });
        }
        else
        {
            own.answer (commonList, 200, listBytes);
            own.answer ("/a.bin", 200, image);
        }

        boxes.clear();

        makePanel (176).doStep4();

        EXPECT_TRUE (boxes.empty());
        EXPECT_TRUE (handlerHolds (image));
        EXPECT_EQ (panel->getState().step, 3);
        EXPECT_FALSE (inside (*panel).firmwareFile.exists());
    }
}

// Redirects on this machine are followed, relative or absolute, for the list and the image.
TEST_F (Step4, FollowsRedirectsOnThisMachine)
{
    const auto image = imageOf (30000);
    server.redirect (commonList, "mirror/firmware.xml");
    server.answer ("/mirror/firmware.xml", 200, listOf ({ entry ("176", "Alpha", "1.0", "a.bin") }));
    server.redirect ("/a.bin", server.rootAs ("localhost") + "files/a.bin", 307);
    server.answer ("/files/a.bin", 200, image);

    makePanel (176).doStep4();

    EXPECT_EQ (server.requests(), juce::StringArray ({ commonList, "/mirror/firmware.xml", commonList, "/mirror/firmware.xml",
                                                       "/a.bin", "/files/a.bin" }));
    EXPECT_TRUE (boxes.empty());
    EXPECT_TRUE (handlerHolds (image));
}

// A redirect of the image to a form of this machine's address that the server rule refuses
// (but that the transfer would reach) is never followed: the other server hears nothing.
TEST_F (Step4, RedirectOffTheRuleReachesNoOne)
{
    testsupport::LoopbackHttpServer elsewhere;
    elsewhere.answer ("/a.bin", 200, imageOf (30000));
    serveList (commonList, listOf ({ entry ("176", "Alpha", "1.0", "a.bin") }));
    server.redirect ("/a.bin", elsewhere.rootAs ("2130706433") + "a.bin");

    makePanel (176).doStep4();

    EXPECT_EQ (events, juce::StringArray ({ "chooser Firmware Version", "box Firmware Donwload" }));
    EXPECT_TRUE (elsewhere.requests().isEmpty());
    EXPECT_EQ (inside (*panel).handler->size, 0u);
    EXPECT_FALSE (inside (*panel).firmwareFile.exists());
}

// Deeper elements in an entry are let through and ignored.
TEST_F (Step4, ListWithDeeperElementsIsRead)
{
    const auto deep = juce::String::repeatedString ("<note>", 10) + "x" + juce::String::repeatedString ("</note>", 10);
    serveList (commonList, "<firmwares><firmware pid=\"176\" name=\"Alpha\" version=\"1\" fw=\"a.bin\">" + deep
                               + "</firmware></firmwares>");
    chooserResult = 0;

    makePanel (176).doStep4();

    EXPECT_EQ (offered, juce::StringArray ({ "Alpha v1" }));
}

//==============================================================================
// Every network wait of the step lets the message loop run, and a close asked for in the
// middle of it ends the step within a second or two, with nothing more shown or asked.
namespace
{
    struct SlowCase
    {
        const char* name;
        std::function<void (testsupport::LoopbackHttpServer&)> setUp;
        bool duringDownload;
    };

    std::ostream& operator<< (std::ostream& out, const SlowCase& c) { return out << c.name; }

    const juce::String aList = listOf ({ entry ("176", "Alpha", "1.0", "a.bin") });

    const SlowCase slowCases[] = {
        { "ProbeSilent", [] (auto& s) { s.answer (commonList, 200, aList, Way::stallFirst, 20000); }, false },
        { "ListReadSilent",
          [] (auto& s) { s.answer (commonList, 200, aList); s.answer (commonList, 200, aList, Way::stallFirst, 20000); }, false },
        { "ListReadTrickling",
          [] (auto& s) { s.answer (commonList, 200, aList); s.answer (commonList, 200, aList + juce::String::repeatedString (" ", 50000), Way::trickle, 1); },
          false },
        { "DownloadSilent",
          [] (auto& s) { s.answer (commonList, 200, aList); s.answer ("/a.bin", 200, imageOf (20000), Way::stallFirst, 20000); }, true },
        { "DownloadTrickling",
          [] (auto& s) { s.answer (commonList, 200, aList); s.answer ("/a.bin", 200, imageOf (60000), Way::trickle, 1); }, true },
    };

    class Step4SlowServer : public Step4, public ::testing::WithParamInterface<SlowCase> {};
}

TEST_P (Step4SlowServer, CloseEndsTheWaitPromptly)
{
    const auto& c = GetParam();
    c.setUp (server);

    juce::uint32 askedAt = 0;
    const auto askToClose = [this, &askedAt]
    {
        juce::Timer::callAfterDelay (400, [this, &askedAt]
        {
            askedAt = juce::Time::getMillisecondCounter();
            EXPECT_FALSE (panel->requestClose()) << "the step was not running";
        });
    };

    auto& p = makePanel (176);

    if (c.duringDownload)
        duringChooser = askToClose;
    else
        askToClose();

    TemporaryFolderWatch watch;
    p.doStep4();
    const auto returnedAt = juce::Time::getMillisecondCounter();

    ASSERT_NE (askedAt, 0u) << "the step returned before the close was asked for";
    EXPECT_LT ((int) (returnedAt - askedAt), 2500);
    EXPECT_GE (watch.ticks, 20) << "the message loop stood still during the wait";

    EXPECT_EQ (events, c.duringDownload ? juce::StringArray ({ "chooser Firmware Version" }) : juce::StringArray());
    EXPECT_TRUE (boxes.empty());
    EXPECT_EQ (inside (*panel).handler->size, 0u);
    EXPECT_EQ (panel->getState().step, 2);

    if (c.duringDownload)
    {
        EXPECT_FALSE (inside (*panel).firmwareFile.exists());
    }
}

INSTANTIATE_TEST_SUITE_P (Waits, Step4SlowServer, ::testing::ValuesIn (slowCases),
                          [] (const auto& i) { return std::string (i.param.name); });

// A quit asked for during the download ends it as a close does, with nothing loaded and
// nothing more asked, and is carried out once the step has returned.
TEST_F (Step4, QuitDuringTheDownloadEndsItAndFollows)
{
    serveList (commonList, listOf ({ entry ("176", "Alpha", "1.0", "a.bin") }));
    server.answer ("/a.bin", 200, imageOf (20000), Way::stallHalfWay, 15000);

    bool quit = false;
    juce::uint32 askedAt = 0;
    duringChooser = [&]
    {
        juce::Timer::callAfterDelay (300, [&]
        {
            askedAt = juce::Time::getMillisecondCounter();
            fenz::FirmwareUpgradeComponent::quitWhenNoStepRuns ([&quit] { quit = true; });
        });
    };

    makePanel (176).doStep4();
    const auto returnedAt = juce::Time::getMillisecondCounter();

    ASSERT_NE (askedAt, 0u) << "the step returned before the quit was asked for";
    EXPECT_LT ((int) (returnedAt - askedAt), 2500);
    EXPECT_FALSE (quit) << "the quit waits until the step has returned";
    EXPECT_EQ (events, juce::StringArray ({ "chooser Firmware Version" }));
    EXPECT_TRUE (boxes.empty());
    EXPECT_TRUE (nothingLoaded());
    EXPECT_FALSE (inside (*panel).firmwareFile.exists());

    juce::MessageManager::getInstance()->runDispatchLoopUntil (50);
    EXPECT_TRUE (quit);
}

// The probe's time-out is 4 s, and neither the probe nor the list's read takes more than 12 s.
TEST (Step4Defaults, ListLimitsAreFourAndTwelveSeconds)
{
    fenz::FirmwareUpgradeComponent panel (176);
    EXPECT_EQ (inside (panel).timing.listAnswerLimitMs, 4000);
    EXPECT_EQ (inside (panel).timing.listTimeLimitMs, 12000);
}

TEST (Step4Defaults, DownloadStallLimitIsTwentySeconds)
{
    fenz::FirmwareUpgradeComponent panel (176);
    EXPECT_EQ (inside (panel).timing.downloadStallLimitMs, 20000);
}

// A second press of the step's button while the download is awaited is refused: the list,
// the chooser and the download each happen once, and the step ends once, with the image.
TEST_F (Step4, SecondPressDuringTheDownloadChangesNothing)
{
    const auto image = imageOf (20000);
    serveList (commonList, listOf ({ entry ("176", "Alpha", "1.0", "a.bin") }));
    server.answer ("/a.bin", 200, image, Way::stallHalfWay, 1500);

    bool pressed = false;
    duringChooser = [this, &pressed]
    {
        juce::Timer::callAfterDelay (400, [this, &pressed]
        {
            pressed = panel->getState().enabled[3];
            inside (*panel).stepButton (testsupport::versionStep).triggerClick();
        });
    };

    makePanel (176).doStep4();

    EXPECT_TRUE (pressed);
    EXPECT_EQ (events, juce::StringArray ({ "chooser Firmware Version" }));
    EXPECT_EQ (server.requests(), juce::StringArray ({ commonList, commonList, "/a.bin" }));
    EXPECT_TRUE (boxes.empty());
    EXPECT_TRUE (handlerHolds (image));
    EXPECT_EQ (panel->getState().step, 3);
}

// Closing the dialog while the download is awaited does not take the panel from under the
// step: the close waits, the step gives the download up without loading anything or asking
// anything more, and only then does the dialog's modal run end and the dialog go.
TEST_F (Step4, CloseDuringTheDownloadWaitsForTheStep)
{
    serveList (commonList, listOf ({ entry ("176", "Alpha", "1.0", "a.bin") }));
    server.answer ("/a.bin", 200, imageOf (20000), Way::stallHalfWay, 15000);

    auto dialog = std::make_unique<fenz::FirmwareUpgradeDialog> (std::make_unique<fenz::FirmwareUpgradeComponent> (176), nullptr);
    auto& p = answerDialogsOf (dialog->getPanel());
    const juce::Component::SafePointer<fenz::FirmwareUpgradeComponent> alive (&p);
    p.updateProgress (2);

    bool closeWasHeld = false;
    duringChooser = [&]
    {
        juce::Timer::callAfterDelay (300, [&]
        {
            dialog->closeButtonPressed();
            closeWasHeld = alive != nullptr && dialog->isVisible() && p.isCloseRequested();
        });
    };

    // Pressed inside the dialog's modal run, as the user would.
    inside (p).stepButton (testsupport::versionStep).triggerClick();
    dialog->runModalLoop();

    EXPECT_TRUE (closeWasHeld);
    ASSERT_NE (alive, nullptr);
    EXPECT_FALSE (dialog->isVisible());
    EXPECT_EQ (events, juce::StringArray ({ "chooser Firmware Version" }));
    EXPECT_TRUE (boxes.empty());
    EXPECT_TRUE (nothingLoaded());
    EXPECT_FALSE (inside (p).firmwareFile.exists());
    EXPECT_EQ (p.getState().step, 2);

    panel = nullptr;
    dialog = nullptr;
    EXPECT_EQ (alive, nullptr);
}

//==============================================================================
// The local file: the rule of the handler's model decides, on the name without extension,
// case and surrounding blanks ignored.
namespace
{
    struct NameCase
    {
        int product;
        const char* fileName;
        bool accepted;
    };

    std::ostream& operator<< (std::ostream& out, const NameCase& c)
    {
        return out << c.product << " \"" << c.fileName << "\"";
    }

    const NameCase nameCases[] = {
        { 79,  "Dravo_Sevik_1.0.bin", true },   { 89,  "dravo_sevik_2.bin", true },   { 79, "dravo_sevik.bin", false },
        { 94,  "dravo_k_2.bin", true },         { 94,  "dravo_ks_2.bin", false },
        { 130, "dravo_ks_2.bin", true },        { 130, "dravo_k_2.bin", false },
        { 117, "korran_r_1.bin", true },        { 117, "korran_t_1.bin", false },
        { 118, "korran_t_1.bin", true },        { 118, "korran_r_1.bin", false },
        { 156, "Korran_R+_3.bin", true },       { 156, "korran_r_3.bin", false },
        { 161, "korran_t+_3.bin", true },       { 161, "korran_t_3.bin", false },
        { 179, "korran_mini_1.bin", true },     { 179, "korranmini_1.bin", false },
        { 186, "korran_lite_1.bin", true },     { 186, "korran_light_1.bin", false },
        { 176, "Tamrel_Ostrel_V1.2.bin", true }, { 176, "tamrel_ostrel.bin", false },
        { 177, "tamrel_ostrel_2.bin", true },   { 177, "ostrel_2.bin", false },
        { 176, "  tamrel_ostrel_3 .bin", true },
        { 176, "tamrel_ostrel_4.BIN", true },
        { 147, "lumbrel_1e_4.bin", true },      { 151, "lumbrel_7e_1.bin", true },    { 149, "lumbrel_1j_4.bin", false },
        { 111, "lumbrel_1j_1.bin", true },      { 111, "lumbrel_1j_dx_1.bin", false }, { 111, "lumbrel_1j_taldor_iv_1.bin", false },
        { 110, "lumbrel_7j_3.bin", true },      { 126, "lumbrel1j.bin", false },
        { 133, "lumbrel_1j_dx_1.bin", true },   { 137, "lumbrel_1j_taldor_iv_1.bin", true }, { 133, "lumbrel_1j_1.bin", false },
        { 101, "anything at all.bin", true },   { 170, "x.bin", true },               { 2000, "whatever.bin", true },
    };

    class Step4LocalFile : public Step4, public ::testing::WithParamInterface<NameCase>
    {
    public:
        testsupport::TemporaryFolder temporary { "step4-local" };
        const juce::File folder = temporary.getFile();
    };
}

TEST_P (Step4LocalFile, NameRuleOfTheModel)
{
    const auto& c = GetParam();
    const auto image = imageOf (4096);
    localFile = folder.getChildFile (c.fileName);
    ASSERT_TRUE (localFile.replaceWithData (image.getData(), image.getSize()));

    auto& p = makePanel (c.product);
    inside (p).onlineMode = false;
    p.doStep4();

    EXPECT_TRUE (server.requests().isEmpty());
    EXPECT_EQ (inside (*panel).firmwareFile, localFile);

    if (c.accepted)
    {
        EXPECT_EQ (events, juce::StringArray ({ "file chooser" }));
        EXPECT_TRUE (handlerHolds (image));
        EXPECT_EQ (panel->getState().step, 3);
        EXPECT_FALSE (panel->getState().enabled[0]);
        EXPECT_FALSE (panel->getState().enabled[1]);
    }
    else
    {
        EXPECT_EQ (events, juce::StringArray ({ "file chooser", "box Load File" }));
        ASSERT_EQ (boxes.size(), 1u);
        EXPECT_EQ (boxes[0].icon, juce::MessageBoxIconType::WarningIcon);
        EXPECT_EQ (boxes[0].text, "Not the matching firmware!");
        EXPECT_TRUE (nothingLoaded());
        EXPECT_EQ (panel->getState().step, 2);
    }
}

INSTANTIATE_TEST_SUITE_P (Rules, Step4LocalFile, ::testing::ValuesIn (nameCases));

//==============================================================================
// An image of a size the Upgrade step does not write (512 to 63487 bytes) is refused where it
// is taken, chosen or downloaded, with the Upgrade step's own text, before Erase has put the
// device into its upgrade mode for it. The panel stays where another image can be chosen, and
// the handler holds no image, not even the one it held before.
namespace
{
    enum class Source { chosen, downloaded, downloadedInChunks };

    struct SizeCase
    {
        Source source;
        size_t bytes;
        bool taken;
    };

    std::ostream& operator<< (std::ostream& out, const SizeCase& c)
    {
        const char* names[] = { "chosen", "downloaded", "downloadedInChunks" };
        return out << names[(int) c.source] << c.bytes;
    }

    std::vector<SizeCase> sizeCases()
    {
        std::vector<SizeCase> cases;

        for (auto source : { Source::chosen, Source::downloaded, Source::downloadedInChunks })
            for (const auto& [bytes, taken] : std::vector<std::pair<size_t, bool>> {
                     { 511, false }, { 512, true }, { 63487, true }, { 63488, false }, { 10, false }, { 70000, false } })
                cases.push_back ({ source, bytes, taken });

        return cases;
    }

    class Step4ImageSize : public Step4, public ::testing::WithParamInterface<SizeCase>
    {
    public:
        testsupport::TemporaryFolder temporary { "step4-size" };
    };
}

TEST_P (Step4ImageSize, OnlyWhatTheUpgradeStepWritesIsTaken)
{
    const auto& c = GetParam();
    const auto image = imageOf (c.bytes);
    const bool chosen = c.source == Source::chosen;

    auto& p = makePanel (176);
    inside (p).getHandler().openProgram (temporary.write ("tamrel_ostrel_0.bin", 4096));
    ASSERT_EQ (inside (p).handler->size, 4096u);

    if (chosen)
    {
        inside (p).onlineMode = false;
        localFile = temporary.getFile().getChildFile ("tamrel_ostrel_1.bin");
        ASSERT_TRUE (localFile.replaceWithData (image.getData(), image.getSize()));
    }
    else
    {
        serveList (commonList, listOf ({ entry ("176", "Alpha", "1.0", "a.bin") }));
        if (c.source == Source::downloaded)
            server.answer ("/a.bin", { 200, image, Way::whole, 0, {} });
        else
            server.answer ("/a.bin", { 200, testsupport::chunked (image, 8192), Way::whole, 0, testsupport::chunkedHead() });
    }

    TemporaryFolderWatch watch;
    p.doStep4();

    if (c.taken)
    {
        EXPECT_TRUE (boxes.empty());
        EXPECT_TRUE (handlerHolds (image));
        EXPECT_EQ (p.getState().step, 3);
    }
    else
    {
        EXPECT_EQ (events, juce::StringArray ({ chosen ? "file chooser" : "chooser Firmware Version",
                                                chosen ? "box Load File" : "box Firmware Donwload" }));
        ASSERT_EQ (boxes.size(), 1u);
        EXPECT_EQ (boxes[0].icon, juce::MessageBoxIconType::WarningIcon);
        EXPECT_EQ (boxes[0].text, "Wrong file or cannot find this file!");
        EXPECT_TRUE (nothingLoaded());
        EXPECT_EQ (p.getState().step, 2);
        EXPECT_TRUE (p.getState().enabled[3]);
        EXPECT_FALSE (p.getState().enabled[4]);
    }

    if (! chosen)
    {
        EXPECT_EQ (server.requestsFor ("/a.bin"), 1);
        EXPECT_LE (watch.largest, 63487) << "a temporary file grew past what the Upgrade step takes";
        EXPECT_FALSE (inside (p).firmwareFile.exists());
    }
}

INSTANTIATE_TEST_SUITE_P (Sizes, Step4ImageSize, ::testing::ValuesIn (sizeCases()),
                          [] (const auto& i)
                          {
                              std::ostringstream name;
                              name << i.param;
                              return name.str();
                          });

// A FIFO chosen as the local firmware file, its name fitting the model's rule, is taken as a
// file that cannot be read: the step returns at once with an empty image, which it refuses as
// it refuses any of a size the Upgrade step does not write, and the window never waits for a
// writer.
TEST_F (Step4, LocalFifoIsAnEmptyImage)
{
    const testsupport::TemporaryFolder temporary;
    const auto folder = temporary.getFile();
    ASSERT_TRUE (folder.isDirectory());

    {
        testsupport::FifoWatchdog fifo (folder.getChildFile ("tamrel_ostrel_1.0.bin"));
        ASSERT_TRUE (fifo.wasMade());
        localFile = fifo.file;

        auto& p = makePanel (176);
        inside (p).onlineMode = false;
        p.doStep4();

        EXPECT_FALSE (fifo.hadToRelease()) << "step 4 waited on the FIFO";
    }

    EXPECT_EQ (events, juce::StringArray ({ "file chooser", "box Load File" }));
    ASSERT_EQ (boxes.size(), 1u);
    EXPECT_EQ (boxes[0].text, "Wrong file or cannot find this file!");
    ASSERT_NE (inside (*panel).handler, nullptr);
    EXPECT_TRUE (nothingLoaded());
    EXPECT_EQ (panel->getState().step, 2);
}

// In manual mode no request is made at all, and a cancelled chooser ends the step.
TEST_F (Step4, ManualModeAsksNoServer)
{
    serveList (commonList, listOf ({ entry ("176", "Alpha", "1.0", "a.bin") }));

    auto& p = makePanel (176);
    inside (p).onlineMode = false;
    p.doStep4();

    EXPECT_EQ (events, juce::StringArray ({ "file chooser" }));
    EXPECT_TRUE (server.requests().isEmpty());
    EXPECT_TRUE (boxes.empty());
    EXPECT_EQ (inside (*panel).firmwareFile, juce::File());
    EXPECT_TRUE (nothingLoaded());
    EXPECT_EQ (panel->getState().step, 2);
}

// The file chooser starts where the last firmware file was, and the rule is the one of the
// model the handler was made for, even after the panel's product changed.
TEST_F (Step4, ManualRuleIsTheHandlersModel)
{
    const testsupport::TemporaryFolder temporary;
    const auto folder = temporary.getFile();
    const auto image = imageOf (1024);

    auto& p = makePanel (176);
    inside (p).onlineMode = false;

    localFile = folder.getChildFile ("dravo_k_1.bin");
    localFile.replaceWithData (image.getData(), image.getSize());
    p.doStep4();                          // made the handler for 176: refused

    inside (p).pid = inside (p).currentPid = 94;
    localFile = folder.getChildFile ("tamrel_ostrel_1.bin");
    localFile.replaceWithData (image.getData(), image.getSize());
    p.doStep4();                          // still the rule of 176: accepted

    ASSERT_EQ (chooserStarts.size(), 2u);
    EXPECT_EQ (chooserStarts[0], juce::File());
    EXPECT_EQ (chooserStarts[1], folder.getChildFile ("dravo_k_1.bin"));
    EXPECT_EQ (inside (*panel).handler->pid, 176);
    EXPECT_EQ (events, juce::StringArray ({ "file chooser", "box Load File", "file chooser" }));
    EXPECT_TRUE (handlerHolds (image));
}
