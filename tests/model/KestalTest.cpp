#include <gtest/gtest.h>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include "Arrays.h"
#include "UdMode.h"
#include "KestalFixture.h"
#include "ExpectedDefaults.h"
#include "MappingFileText.h"
#include "fenz_PlainXml.h"
#include <map>

namespace
{

    // Everything a refused file must leave as it was.
    struct Snapshot
    {
        explicit Snapshot (Kestal& k)
            : modes (treeText (k.impl->modes)), currentMode (k.impl->currentMode),
              currentMap (k.impl->currentMap.tree)
        {
            std::memcpy (userTable, ud, sizeof (ud));
        }

        void expectUnchanged (Kestal& k) const
        {
            EXPECT_EQ (treeText (k.impl->modes), modes);
            EXPECT_EQ (k.impl->currentMode, currentMode);
            EXPECT_EQ (k.impl->currentMap.tree, currentMap);
            EXPECT_EQ (std::memcmp (userTable, ud, sizeof (ud)), 0);
        }

        juce::String modes;
        int currentMode;
        juce::ValueTree currentMap;
        DefaultTable userTable;
    };

    // The mode attribute and the name of each live mode's map, as a mapping file spells them.
    struct ModeText { const char* slug; const char* name; };
    const ModeText liveModeTexts[] = { { "mackie", "MCP" }, { "logic", "Logic" }, { "pro-tools", "HUI" },
                                       { "user-defined", "User Defined (MCP)" } };

    // The mapping file of a map as the format prescribes it, built line by line.
    juce::String expectedFileText (const juce::String& slug, const juce::String& name,
                                   const std::function<expected::Assignment (int)>& assignment)
    {
        static const char* const kinds[] = { "button", "knob", "jog-wheel", "fader", "master-fader" };
        juce::String text;
        text << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n\r\n"
             << "<map mode=\"" << slug << "\" name=\"" << name << "\">\r\n"
             << "  <controls>\r\n";

        for (int id = 1; id <= 108; ++id)
        {
            const auto a = assignment (id);
            text << "    <control id=\"" << id << "\" kind=\"" << kinds[CtKind::kindOfId (id)]
                 << "\" type=\"" << a.type << "\" chan=\"" << a.chan << "\" value=\"" << a.value << "\"/>\r\n";
        }

        text << "  </controls>\r\n</map>\r\n";
        return text;
    }

    juce::String mapFile (const juce::String& rootAndMode, const juce::String& controls,
                          const juce::String& root = "map")
    {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + root + " " + rootAndMode
             + "><controls>" + controls + "</controls></" + root + ">\n";
    }

    juce::String control (int id, const juce::String& kind, const juce::String& type, int chan, int value)
    {
        return "<control id=\"" + juce::String (id) + "\" kind=\"" + kind + "\" type=\"" + type
             + "\" chan=\"" + juce::String (chan) + "\" value=\"" + juce::String (value) + "\"/>";
    }

    struct KestalObject : public KestalFixture
    {
        juce::File write (const juce::String& text)
        {
            auto file = folder.getFile().getNonexistentChildFile ("map", ".pelto");
            folder.getFile().createDirectory();
            file.replaceWithText (text);
            return file;
        }

        juce::TemporaryFile folder { "kestal-maps" };

        ~KestalObject() override { folder.getFile().deleteRecursively(); }
    };

    //==============================================================================
    TEST_F (KestalObject, StartsWithTheFourDefaultMapsAndMcpCurrent)
    {
        auto& s = state();
        ASSERT_EQ (s.modes.getNumChildren(), 4);
        EXPECT_TRUE (s.modes.hasType (Tags::modes));

        for (int m = 0; m < 4; ++m)
            EXPECT_EQ (s.modes.getChild (m)[Tags::mode].toString(), liveModeTexts[m].slug);

        EXPECT_EQ (s.modes["current"].toString(), "mackie");
        EXPECT_EQ (s.currentMap.tree, s.modes.getChild (0));   // the node itself, not a copy
        EXPECT_EQ (s.productId, 176);
        EXPECT_EQ (s.currentMode, 0);
        EXPECT_TRUE (s.deviceName.isEmpty());
        EXPECT_EQ ((int) kestal->getCurrCtMode(), 0);
    }

    TEST_F (KestalObject, SwitchingModesKeepsEveryMapsEdits)
    {
        auto& s = state();
        s.currentMap.getControl (7).setProperty (Tags::value, 99, nullptr);

        s.setCurrentMode (2);
        EXPECT_EQ (s.currentMap.tree, s.modes.getChild (2));
        EXPECT_EQ (s.modes["current"].toString(), "pro-tools");
        EXPECT_EQ ((int) kestal->getCurrCtMode(), 2);

        s.setCurrentMode (0);
        EXPECT_EQ ((int) s.currentMap.getControl (7)[Tags::value], 99);
    }

    TEST_F (KestalObject, AModeWithoutAMapLeavesNoCurrentMap)
    {
        state().setCurrentMode (5);
        EXPECT_FALSE (state().currentMap.tree.isValid());
        EXPECT_EQ (state().modes["current"].toString(), "samplitude");
        EXPECT_EQ ((int) kestal->getCurrCtMode(), 0);
        EXPECT_FALSE (state().findMode (5).isValid());
    }

    //==============================================================================
    TEST_F (KestalObject, SavesTheMapInTheMappingFileFormat)
    {
        struct Case { int mode; std::function<expected::Assignment (int)> assignment; };

        for (const auto& c : { Case { 0, expected::mcpDefault }, Case { 1, expected::logicDefault },
                               Case { 2, expected::huiDefault }, Case { 3, expected::mcpDefault } })
        {
            state().setCurrentMode (c.mode);
            auto file = folder.getFile().getChildFile ("saved.pelto");
            folder.getFile().createDirectory();

            ASSERT_TRUE (kestal->saveCurrentMapping (file).wasOk());

            juce::MemoryBlock bytes;
            ASSERT_TRUE (file.loadFileAsData (bytes));
            EXPECT_EQ (bytes.toString(), expectedFileText (liveModeTexts[c.mode].slug,
                                                           liveModeTexts[c.mode].name, c.assignment))
                << "mode " << c.mode;
        }
    }

    TEST_F (KestalObject, SaveLoadAndSaveAgainGiveTheSameBytes)
    {
        for (int m : { 1, 3 })
        {
            state().setCurrentMode (m);
            state().currentMap.getControl (42).setProperty (Tags::value, 17, nullptr);
            state().currentMap.getControl (93).setProperty (Tags::chan, 4, nullptr);

            auto first = folder.getFile().getChildFile ("first.pelto");
            auto second = folder.getFile().getChildFile ("second.pelto");
            folder.getFile().createDirectory();

            ASSERT_TRUE (kestal->saveCurrentMapping (first).wasOk());
            state().setCurrentMode (0);
            ASSERT_TRUE (kestal->openFile (first).wasOk());
            EXPECT_EQ (state().currentMode, m);
            ASSERT_TRUE (kestal->saveCurrentMapping (second).wasOk());

            juce::MemoryBlock a, b;
            first.loadFileAsData (a);
            second.loadFileAsData (b);
            EXPECT_EQ (a, b) << "mode " << m;
        }
    }

    int permissionsOf (const juce::File& f)
    {
        struct stat info {};
        return stat (f.getFullPathName().toRawUTF8(), &info) == 0 ? (int) (info.st_mode & 07777) : -1;
    }

    TEST_F (KestalObject, ASaveThatCannotBeWrittenFailsAndLeavesTheTargetAsItWas)
    {
        const auto base = folder.getFile();
        base.createDirectory();

        // A folder that does not exist, a folder with something in it, an empty folder, a link
        // to a folder, a write-protected file and a link to one.
        const auto occupied = base.getChildFile ("occupied");
        occupied.getChildFile ("inside").create();
        const auto empty = base.getChildFile ("empty");
        empty.createDirectory();
        const auto linkToFolder = base.getChildFile ("folder-link.pelto");
        ASSERT_TRUE (empty.createSymbolicLink (linkToFolder, true));
        const auto protectedFile = base.getChildFile ("protected.pelto");
        ASSERT_TRUE (protectedFile.replaceWithText ("keep me"));
        ASSERT_EQ (chmod (protectedFile.getFullPathName().toRawUTF8(), 0444), 0);
        const auto linkToProtected = base.getChildFile ("protected-link.pelto");
        ASSERT_TRUE (protectedFile.createSymbolicLink (linkToProtected, true));

        for (auto target : { base.getChildFile ("missing-folder/map.pelto"), occupied, empty, linkToFolder,
                             protectedFile, linkToProtected })
        {
            auto result = kestal->saveCurrentMapping (target);
            EXPECT_TRUE (result.failed()) << target.getFullPathName();
            EXPECT_EQ (result.getErrorMessage(), "Failed to write mapping file");
        }

        EXPECT_TRUE (occupied.getChildFile ("inside").existsAsFile());
        EXPECT_TRUE (empty.isDirectory());
        EXPECT_TRUE (linkToFolder.isSymbolicLink());
        EXPECT_EQ (protectedFile.loadFileAsString(), "keep me");
        EXPECT_EQ (permissionsOf (protectedFile), 0444);
        EXPECT_TRUE (linkToProtected.isSymbolicLink());
        EXPECT_EQ (base.findChildFiles (juce::File::findFilesAndDirectories, false, "*", juce::File::FollowSymlinks::no).size(), 5)
            << "a temporary file was left behind";

        state().currentMap = CtMap (juce::ValueTree());
        auto untouched = base.getChildFile ("untouched.pelto");
        auto result = kestal->saveCurrentMapping (untouched);
        EXPECT_EQ (result.getErrorMessage(), "Could not save current mapping to disk");
        EXPECT_FALSE (untouched.exists());
    }

    TEST_F (KestalObject, SavingThroughALinkReplacesTheFileItLeadsToAndKeepsItsPermissions)
    {
        const auto base = folder.getFile();
        base.getChildFile ("maps").createDirectory();
        auto expectedBytes = [this, &base]
        {
            const auto plain = base.getChildFile ("plain.pelto");
            EXPECT_TRUE (kestal->saveCurrentMapping (plain).wasOk());
            return plain.loadFileAsString();
        };
        const auto wanted = expectedBytes();

        // An existing private file, reached through a relative link and a chain of two links;
        // and a link to a file that is not there yet.
        const auto real = base.getChildFile ("maps/real.pelto");

        const auto relative = base.getChildFile ("relative.pelto");
        ASSERT_EQ (symlink ("maps/real.pelto", relative.getFullPathName().toRawUTF8()), 0);
        const auto chained = base.getChildFile ("chained.pelto");
        ASSERT_TRUE (relative.createSymbolicLink (chained, true));
        const auto dangling = base.getChildFile ("dangling.pelto");
        ASSERT_TRUE (base.getChildFile ("maps/new.pelto").createSymbolicLink (dangling, true));

        for (auto link : { relative, chained })
        {
            ASSERT_TRUE (real.replaceWithText ("old"));
            ASSERT_EQ (chmod (real.getFullPathName().toRawUTF8(), 0640), 0);
            ASSERT_TRUE (kestal->saveCurrentMapping (link).wasOk()) << link.getFileName();
            EXPECT_TRUE (link.isSymbolicLink()) << link.getFileName();
            EXPECT_EQ (real.loadFileAsString(), wanted) << link.getFileName();
            EXPECT_EQ (permissionsOf (real), 0640) << link.getFileName();
        }

        ASSERT_TRUE (kestal->saveCurrentMapping (dangling).wasOk());
        EXPECT_TRUE (dangling.isSymbolicLink());
        EXPECT_EQ (base.getChildFile ("maps/new.pelto").loadFileAsString(), wanted);

        // A plain file is replaced as it was, its permissions kept.
        ASSERT_TRUE (real.replaceWithText ("old"));
        ASSERT_EQ (chmod (real.getFullPathName().toRawUTF8(), 0600), 0);
        ASSERT_TRUE (kestal->saveCurrentMapping (real).wasOk());
        EXPECT_EQ (real.loadFileAsString(), wanted);
        EXPECT_EQ (permissionsOf (real), 0600);
    }

    //==============================================================================
    TEST_F (KestalObject, LoadingReplacesTheMapOfTheFilesModeInPlace)
    {
        const auto otherMaps = [this] { return treeText (state().modes.getChild (0)) + treeText (state().modes.getChild (2))
                                                 + treeText (state().modes.getChild (3)); };
        const auto before = otherMaps();
        DefaultTable userTable;
        std::memcpy (userTable, ud, sizeof (ud));

        auto file = write (mapFile ("mode=\"logic\" name=\"Logic\"", control (49, "button", "note", 1, 33)));

        for (int load = 0; load < 2; ++load)
        {
            ASSERT_TRUE (kestal->openFile (file).wasOk());

            ASSERT_EQ (state().modes.getNumChildren(), 4);
            EXPECT_EQ (state().modes.getChild (1)[Tags::mode].toString(), "logic");
            EXPECT_EQ (state().modes.getChild (1).getChildWithName (Tags::controls).getNumChildren(), 108);
            EXPECT_EQ (state().currentMode, 1);
            EXPECT_EQ (state().currentMap.tree, state().modes.getChild (1));
            EXPECT_EQ (state().modes["current"].toString(), "logic");
            EXPECT_EQ (otherMaps(), before);
            EXPECT_EQ (std::memcmp (userTable, ud, sizeof (ud)), 0);
        }

        // Numbers come back as text, and read as the same numbers.
        EXPECT_EQ ((int) state().currentMap.getControl (49)[Tags::value], 33);
        EXPECT_EQ (Defa::getMsVal (49), 71);
    }

    TEST_F (KestalObject, AMissingPaddedOrUnknownModeTextLoadsAsThatModeAndBecomesCurrent)
    {
        struct Case { const char* attributes; int mode; };

        for (auto c : { Case { "name=\"x\"", 0 }, Case { "mode=\" logic \"", 1 },
                        Case { "mode=\"Logic\"", 0 }, Case { "mode=\"\tuser-defined\"", 3 } })
        {
            state().setCurrentMode (2);
            ASSERT_TRUE (kestal->openFile (write (mapFile (c.attributes, control (1, "button", "cc", 2, 5)))).wasOk())
                << c.attributes;

            EXPECT_EQ (state().currentMode, c.mode) << c.attributes;
            ASSERT_TRUE (state().currentMap.tree.isValid()) << c.attributes;
            EXPECT_EQ (state().currentMap.tree, state().modes.getChild (c.mode)) << c.attributes;
            EXPECT_EQ (state().currentMap.tree[Tags::mode].toString(), liveModeTexts[c.mode].slug);
            EXPECT_EQ ((int) state().currentMap.getControl (1)[Tags::value], 5);
            EXPECT_EQ (state().modes.getNumChildren(), 4);
        }
    }

    TEST_F (KestalObject, AMapLoadedWithoutAModeIsSavedWithItFirst)
    {
        ASSERT_TRUE (kestal->openFile (write (mapFile ("name=\"mine\" extra=\"1\"", control (1, "button", "note", 1, 3)))).wasOk());

        auto saved = folder.getFile().getChildFile ("saved.pelto");
        ASSERT_TRUE (kestal->saveCurrentMapping (saved).wasOk());
        EXPECT_TRUE (saved.loadFileAsString().contains ("<map mode=\"mackie\" name=\"mine\" extra=\"1\">"))
            << saved.loadFileAsString();
    }

    TEST_F (KestalObject, LoadingAUserDefinedFileRebuildsTheUserTable)
    {
        const auto controls = control (1, "button", "cc", 3, 64)
                            + control (2, "button", "pitch", 16, 127)
                            + control (3, "button", "bogus", 5, 10)
                            + control (100, "fader", "note", 2, 0)
                            + control (6, "button", "program", 7, 5)
                            + "<control id=\"4\" kind=\"button\"/>";   // type, chan and value missing

        ASSERT_TRUE (kestal->openFile (write (mapFile ("mode=\"user-defined\"", controls))).wasOk());
        EXPECT_EQ (state().currentMode, 3);

        struct Entry { int id, b0, b1, b2; };

        for (auto e : { Entry { 1, 0xB, 0xB2, 64 }, Entry { 2, 0xE, 0xEF, 127 }, Entry { 3, 0x9, 0x94, 10 },
                        Entry { 100, 0x9, 0x91, 0 }, Entry { 4, 0x9, 0x90, 0 },
                        // A program change, as the editor stores it.
                        Entry { 6, 0xC, 0xC6, 5 },
                        // Controls the file does not hold become notes on channel 1, number 0.
                        Entry { 5, 0x9, 0x90, 0 }, Entry { 91, 0x9, 0x90, 0 }, Entry { 108, 0x9, 0x90, 0 } })
        {
            EXPECT_EQ (ud[e.id - 1][0], e.b0) << e.id;
            EXPECT_EQ (ud[e.id - 1][1], e.b1) << e.id;
            EXPECT_EQ (ud[e.id - 1][2], e.b2) << e.id;
        }
    }

    // What a map of the mode holds for a control that the file does not: the built-in
    // assignment, and in the user-defined mode what its table gives such a control.
    expected::Assignment standIn (int mode, int id)
    {
        return mode == 3 ? expected::Assignment { "note", 1, 0 } : expected::expectedDefault (mode, id);
    }

    TEST_F (KestalObject, AFileWithControlsMissingIsCompletedWithWhatItsModeGivesThem)
    {
        // A few controls of every kind, with values of the file's own.
        const std::map<int, expected::Assignment> inFile {
            { 2, { "cc", 3, 77 } }, { 41, { "note", 1, 5 } }, { 90, { "note", 2, 126 } },
            { 93, { "pitch", 1, 9 } }, { 99, { "cc", 4, 2 } }, { 101, { "pitch", 5, 1 } },
        };

        for (int mode = 0; mode < 4; ++mode)
        {
            juce::String controls;
            for (const auto& [id, a] : inFile)
                controls << control (id, CtKind::slugForType (CtKind::kindOfId (id)), a.type, a.chan, a.value);

            const juce::String slug (liveModeTexts[mode].slug), name (liveModeTexts[mode].name);
            ASSERT_TRUE (kestal->openFile (write (mapFile ("mode=\"" + slug + "\" name=\"" + name + "\"", controls))).wasOk());
            ASSERT_EQ (state().currentMode, mode);

            auto assignment = [&] (int id)
            {
                auto it = inFile.find (id);
                return it != inFile.end() ? it->second : standIn (mode, id);
            };

            // The saved copy holds all 108 controls in id order, as a map of the system does.
            auto saved = folder.getFile().getChildFile ("completed.pelto");
            folder.getFile().createDirectory();
            ASSERT_TRUE (kestal->saveCurrentMapping (saved).wasOk());
            EXPECT_EQ (saved.loadFileAsString(), expectedFileText (slug, name, assignment)) << "mode " << mode;

            if (mode == 3)
                for (int id : { 1, 42, 91, 100, 108 })
                {
                    EXPECT_EQ (ud[id - 1][0], 0x9) << id;
                    EXPECT_EQ (ud[id - 1][1], 0x90) << id;
                    EXPECT_EQ (ud[id - 1][2], 0) << id;
                }
        }
    }

    TEST_F (KestalObject, MissingControlsTakeTheirPlaceBeforeTheFirstControlOfAHigherId)
    {
        struct Case { const char* what; juce::String controls; std::vector<int> firstIds; };

        const Case cases[] = {
            // Without a controls element one is made.
            { "no controls at all", {}, { 1, 2, 3, 4 } },
            { "in order",           control (3, "button", "note", 1, 9) + control (100, "fader", "pitch", 1, 0), { 1, 2, 3, 4 } },
            // Out of order the file's own order stays; the gaps fill in front of higher ids.
            { "out of order",       control (4, "button", "note", 1, 9) + control (2, "button", "note", 1, 8), { 1, 3, 4, 2, 5 } },
        };

        for (const auto& c : cases)
        {
            const auto text = c.controls.isEmpty()
                ? juce::String ("<?xml version=\"1.0\"?>\n<map mode=\"logic\" name=\"Logic\"/>\n")
                : mapFile ("mode=\"logic\" name=\"Logic\"", c.controls);
            ASSERT_TRUE (kestal->openFile (write (text)).wasOk()) << c.what;

            const auto controls = state().currentMap.tree.getChildWithName (Tags::controls);
            ASSERT_EQ (controls.getNumChildren(), 108) << c.what;

            for (size_t i = 0; i < c.firstIds.size(); ++i)
                EXPECT_EQ ((int) controls.getChild ((int) i)[Tags::id], c.firstIds[i]) << c.what << ", position " << i;

            for (int id = 1; id <= 108; ++id)
                EXPECT_TRUE (state().currentMap.getControl (id).isValid()) << c.what << ", id " << id;
        }
    }

    TEST_F (KestalObject, TheFileGuardLetsTheSystemsOwnFilesThrough)
    {
        // A name with every character the writer escapes, a map padded to exactly the largest
        // size, and a map whose controls hold elements down to the deepest nesting let through.
        state().setCurrentMode (1);
        state().currentMap.tree.setProperty (Tags::name, juce::String::fromUTF8 ("A&B <\"x\"> 'y' \xc3\xa9"), nullptr);
        folder.getFile().createDirectory();
        auto saved = folder.getFile().getChildFile ("escaped.pelto");
        ASSERT_TRUE (kestal->saveCurrentMapping (saved).wasOk());
        state().setCurrentMode (0);
        ASSERT_TRUE (kestal->openFile (saved).wasOk());
        EXPECT_EQ (state().currentMap.tree[Tags::name].toString(), juce::String::fromUTF8 ("A&B <\"x\"> 'y' \xc3\xa9"));

        auto text = mapFile ("mode=\"logic\"", control (1, "button", "note", 1, 4));
        text = text + "<!--" + juce::String::repeatedString (" ", (int) MappingFileText::maxBytes - text.length() - 7) + "-->";
        ASSERT_EQ (text.getNumBytesAsUTF8(), (size_t) MappingFileText::maxBytes);
        auto padded = write ({});
        ASSERT_TRUE (padded.replaceWithData (text.toRawUTF8(), text.getNumBytesAsUTF8()));
        ASSERT_TRUE (kestal->openFile (padded).wasOk());
        EXPECT_EQ ((int) state().currentMap.getControl (1)[Tags::value], 4);

        juce::String deep;
        for (int level = 4; level <= MappingFileText::maxDepth; ++level) deep << "<x>";
        for (int level = 4; level <= MappingFileText::maxDepth; ++level) deep << "</x>";
        ASSERT_TRUE (kestal->openFile (write (mapFile ("mode=\"logic\"", "<control id=\"1\" kind=\"button\" value=\"6\">"
                                                                         + deep + "</control>"))).wasOk());
        EXPECT_EQ ((int) state().currentMap.getControl (1)[Tags::value], 6);
    }

    TEST_F (KestalObject, RefusedFilesChangeNothing)
    {
        struct Case { const char* why; juce::String text; };

        const juce::String good = control (1, "button", "note", 1, 0);
        const Case cases[] = {
            { "not XML",                "this is not a mapping" },
            { "empty file",             "" },
            { "another root element",   mapFile ("mode=\"logic\"", good, "modes") },
            { "a mode without a table", mapFile ("mode=\"cubase\"", good) },
            { "another mode slug",      mapFile ("mode=\"bitwig\"", good) },
            { "id 0",                   mapFile ("mode=\"logic\"", control (0, "button", "note", 1, 0)) },
            { "id 109",                 mapFile ("mode=\"logic\"", control (109, "button", "note", 1, 0)) },
            { "negative id",            mapFile ("mode=\"logic\"", control (-1, "button", "note", 1, 0)) },
            { "id that is no number",   mapFile ("mode=\"logic\"", "<control id=\"one\" kind=\"button\"/>") },
            { "id missing",             mapFile ("mode=\"logic\"", "<control kind=\"button\"/>") },
            { "id with a leading zero", mapFile ("mode=\"logic\"", "<control id=\"07\" kind=\"button\"/>") },
            { "kind missing",           mapFile ("mode=\"logic\"", "<control id=\"100\" type=\"pitch\"/>") },
            { "repeated id",            mapFile ("mode=\"user-defined\"", good + control (1, "button", "cc", 2, 3)) },
            { "channel 0",              mapFile ("mode=\"user-defined\"", control (5, "button", "note", 0, 0)) },
            { "channel 17",             mapFile ("mode=\"user-defined\"", control (5, "button", "note", 17, 0)) },
            { "number 128",             mapFile ("mode=\"logic\"", control (5, "button", "note", 1, 128)) },
            { "negative number",        mapFile ("mode=\"logic\"", control (5, "button", "note", 1, -1)) },
            { "number that is no number", mapFile ("mode=\"logic\"", "<control id=\"5\" kind=\"button\" value=\"x\"/>") },
            { "kind of another control", mapFile ("mode=\"mackie\"", control (91, "button", "cc", 1, 16)) },
            // The framework's parser recurses once per level: a file nested this deep once
            // overflowed the stack while it was parsed.
            { "50,000 levels of nesting", "<?xml version=\"1.0\"?>\n" + juce::String::repeatedString ("<map>", 50000)
                                           + juce::String::repeatedString ("</map>", 50000) },
            { "nested one level too deep", mapFile ("mode=\"logic\"", "<control id=\"1\" kind=\"button\">"
                                           + juce::String::repeatedString ("<x>", MappingFileText::maxDepth - 2)
                                           + juce::String::repeatedString ("</x>", MappingFileText::maxDepth - 2) + "</control>") },
            { "larger than the limit", mapFile ("mode=\"logic\"", good) + juce::String::repeatedString (" ", (int) MappingFileText::maxBytes) },
            { "a document type declaration", "<?xml version=\"1.0\"?>\n<!DOCTYPE map [<!ENTITY e \"<controls/>\">]>\n"
                                             "<map mode=\"logic\">&e;</map>\n" },
            // The parser once looped for ever on text after an instruction.
            { "an instruction before text",  "<map mode=\"mackie\"><?p?>x</map>" },
            { "the same among the controls", mapFile ("mode=\"logic\"", "<?p?> " + good + "<?p?>x") },
            { "more names than the parser is given", mapFile ("mode=\"logic\" " + juce::String::repeatedString ("a=\"\" ", fenz::maxPlainXmlNames), good) },
        };

        state().setCurrentMode (3);
        ud[10][2] = 42;
        const Snapshot before (*kestal);

        for (const auto& c : cases)
        {
            auto result = kestal->openFile (write (c.text));
            EXPECT_TRUE (result.failed()) << c.why;
            EXPECT_EQ (result.getErrorMessage(), "Could not load mapping data") << c.why;
            before.expectUnchanged (*kestal);
        }

        auto result = kestal->openFile (folder.getFile().getChildFile ("does-not-exist.pelto"));
        EXPECT_EQ (result.getErrorMessage(), "Could not load mapping data");
        before.expectUnchanged (*kestal);

        // Bytes that are not UTF-8 once overran the heap while they were decoded.
        juce::MemoryBlock bytes;
        bytes.append ("<map mode=\"mackie\"/>\x80", 21);
        bytes.append (juce::String::repeatedString ("x", 200000).toRawUTF8(), 200000);
        const auto notText = write ({});
        ASSERT_TRUE (notText.replaceWithData (bytes.getData(), bytes.getSize()));

        result = kestal->openFile (notText);
        EXPECT_EQ (result.getErrorMessage(), "Could not load mapping data");
        before.expectUnchanged (*kestal);
    }

    //==============================================================================
    TEST_F (KestalObject, WritesAllMapsIntoTheSettingsFileWhenDeleted)
    {
        state().setCurrentMode (1);
        state().currentMap.getControl (12).setProperty (Tags::value, 88, nullptr);
        const auto modesText = treeText (state().modes);

        const auto folderName = Kestal::settingsFolderName();
        ASSERT_TRUE (juce::File::isAbsolutePath (folderName));
        const auto settingsFile = juce::File (folderName).getChildFile ("Kestal.conf");
        settingsFile.deleteFile();

        Kestal::deleteInstance();
        ASSERT_TRUE (settingsFile.existsAsFile());

        juce::PropertiesFile::Options options;
        options.storageFormat = juce::PropertiesFile::storeAsCompressedBinary;
        juce::PropertiesFile written (settingsFile, options);

        EXPECT_EQ (written.getAllProperties().size(), 1);
        const auto stored = written.getValue ("modes");
        EXPECT_EQ (stored, modesText);
        EXPECT_FALSE (stored.containsChar ('\n'));
        EXPECT_FALSE (stored.startsWith ("<?xml"));

        // The object is never made again in the same run.
        EXPECT_EQ (Kestal::getInstance(), nullptr);
        EXPECT_EQ (Kestal::getInstanceWithoutCreating(), nullptr);
    }
}

// Without the fixture: the settings of an earlier run must not be read back.
TEST (KestalStartUp, IgnoresTheSettingsFileOfAnEarlierRun)
{
    const auto settingsFile = juce::File (Kestal::settingsFolderName()).getChildFile ("Kestal.conf");
    settingsFile.getParentDirectory().createDirectory();
    {
        juce::PropertiesFile::Options options;
        options.storageFormat = juce::PropertiesFile::storeAsCompressedBinary;
        juce::PropertiesFile earlier (settingsFile, options);
        earlier.setValue ("modes", "<modes current=\"logic\"><map mode=\"mackie\" name=\"MCP\"/></modes>");
        ASSERT_TRUE (earlier.save());
    }

    std::string whyNot;
    auto* kestal = testsupport::makeFreshKestal (whyNot);

    if (kestal == nullptr)
        GTEST_SKIP() << whyNot;

    ASSERT_NE (kestal, nullptr);
    EXPECT_EQ (kestal->impl->currentMode, 0);
    EXPECT_EQ (kestal->impl->modes.getNumChildren(), 4);
    EXPECT_EQ (kestal->impl->currentMap.getControl (108)[Tags::type].toString(), "pitch");
    Kestal::deleteInstance();
}
