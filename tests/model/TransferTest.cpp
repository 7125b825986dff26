#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <vector>
#include "Arrays.h"
#include "UdMode.h"
#include "KestalFixture.h"
#include "ExpectedDefaults.h"
#include "FakeMidiPorts.h"
#include "fenz_VirtualSurface.h"

namespace
{
    using Bytes = std::vector<juce::uint8>;
    using Sequence = std::vector<Bytes>;
    using Model = fenz::VirtualSurface::Model;
    using SurfaceAssignment = fenz::VirtualSurface::Assignment;

    //==============================================================================
    // The byte sequence of a transfer, built from the wire rules alone.

    // The list a control travels in: 0 buttons, 1 knobs, 2 jog wheel, 3 faders, 4 master fader.
    int listOfId (int id)
    {
        if (id <= 90)  return 0;
        if (id <= 98)  return 1;
        if (id == 99)  return 2;
        if (id <= 107) return 3;
        return 4;
    }

    // Type code of pass 1: 0 note, 1 pitch bend, 2 control change, 3 program change, as far as
    // the kind can carry it; everything else travels as 0.
    int typeCode (int list, int nibble)
    {
        if (list == 0)
            return nibble == 0xB ? 2 : (nibble == 0xC ? 3 : 0);

        if (list <= 2)
            return nibble == 0xB ? 2 : (nibble == 0xE ? 1 : 0);

        return nibble == 0xE ? 1 : 0;
    }

    int nibbleOfTypeText (const juce::String& type)
    {
        return type == "note" ? 0x9 : (type == "cc" ? 0xB : 0xE);
    }

    // The type nibble of a built-in table entry: the HUI table holds a note for ids 1 to 54 and
    // nothing at all for the others; the other modes carry the default's own type.
    int defaultNibble (int mode, int id)
    {
        if (mode == 2)
            return id <= 54 ? 0x9 : 0;

        return nibbleOfTypeText (expected::expectedDefault (mode, id).type);
    }

    // One control as it goes out: its list, its id, and what pass 1 and pass 2 carry.
    struct Wire
    {
        int list, id, nibble, chan, value;
    };

    Bytes passOne (const Wire& w)
    {
        return { 0x9F, (juce::uint8) (w.chan - 1), (juce::uint8) typeCode (w.list, w.nibble) };
    }

    Bytes passTwo (const Wire& w)
    {
        const int v = w.value;

        if (w.list == 0)
        {
            if (v == 126)
                return { 0x9F, 0x07, 0x0E };

            return { 0x9F, (juce::uint8) (((v >> 4) & 0x0F) | 0x08), (juce::uint8) (v & 0x0F) };
        }

        return { 0x9F, (juce::uint8) ((v & 0xFF) >> 4), (juce::uint8) (v & 0x0F) };
    }

    Bytes header (int command)
    {
        return { 0xF0, 0x1D, 0x03, 0x01, 0x30, 0x00, (juce::uint8) command, 0x7F, 0xF7 };
    }

    const Bytes closing { 0x9E, 0x7F, 0x7F };

    Sequence burstAndHeader (int command)
    {
        Sequence s;

        for (int j = 0; j < 32; ++j)
            s.push_back ({ 0x9F, (juce::uint8) j, 0x00 });

        s.push_back (header (command));
        return s;
    }

    Sequence emptyTransfer (int command)
    {
        auto s = burstAndHeader (command);
        s.push_back (closing);
        return s;
    }

    Sequence transfer (int command, std::vector<Wire> controls)
    {
        std::stable_sort (controls.begin(), controls.end(),
                          [] (const Wire& a, const Wire& b) { return a.list != b.list ? a.list < b.list : a.id < b.id; });

        auto s = burstAndHeader (command);
        auto buttonsEnd = std::find_if (controls.begin(), controls.end(), [] (const Wire& w) { return w.list != 0; });

        for (auto it = controls.begin(); it != buttonsEnd; ++it)  s.push_back (passOne (*it));
        for (auto it = controls.begin(); it != buttonsEnd; ++it)  s.push_back (passTwo (*it));
        for (auto it = buttonsEnd; it != controls.end(); ++it)    s.push_back (passOne (*it));
        for (auto it = buttonsEnd; it != controls.end(); ++it)    s.push_back (passTwo (*it));

        s.push_back (closing);
        return s;
    }

    // The 108 controls of a mode's built-in map.
    std::map<int, Wire> defaultWires (int mode)
    {
        std::map<int, Wire> wires;

        for (int id = 1; id <= 108; ++id)
        {
            const auto d = expected::expectedDefault (mode, id);
            wires[id] = { listOfId (id), id, defaultNibble (mode, id), d.chan, d.value };
        }

        return wires;
    }

    std::vector<Wire> valuesOf (const std::map<int, Wire>& wires)
    {
        std::vector<Wire> v;

        for (auto& [id, w] : wires)
            v.push_back (w);

        return v;
    }

    // What a surface holds after taking a transfer of these controls (all in their own lists).
    SurfaceAssignment assignmentOf (const std::map<int, Wire>& wires)
    {
        SurfaceAssignment a {};

        for (auto& [id, w] : wires)
            a[(size_t) (id - 1)] = { typeCode (w.list, w.nibble), w.chan, w.value };

        return a;
    }

    juce::String hex (const Bytes& b)
    {
        return juce::String::toHexString (b.data(), (int) b.size()).toUpperCase();
    }

    // Compares two sequences message by message, naming the first difference.
    void expectSequence (const Sequence& actual, const Sequence& wanted)
    {
        EXPECT_EQ (actual.size(), wanted.size());

        for (size_t i = 0; i < std::min (actual.size(), wanted.size()); ++i)
            if (actual[i] != wanted[i])
            {
                ADD_FAILURE() << "message " << i << " is " << hex (actual[i]) << ", expected " << hex (wanted[i]);
                return;
            }
    }

    void expectAssignment (const std::optional<SurfaceAssignment>& actual, const SurfaceAssignment& wanted)
    {
        ASSERT_TRUE (actual.has_value()) << "the surface took no transfer for this mode";

        for (size_t i = 0; i < wanted.size(); ++i)
        {
            const auto& a = (*actual)[i];
            const auto& w = wanted[i];
            EXPECT_EQ (a, w) << "control " << (i + 1) << ": type " << a.type << " chan " << a.channel
                             << " number " << a.number << ", expected type " << w.type << " chan "
                             << w.channel << " number " << w.number;
        }
    }

    //==============================================================================
    // The mapping object with the machine's own MIDI devices replaced by ports that count every
    // listing and open and record, call by call, what reaches them, so that nothing depends on
    // what is plugged in.
    struct Transfer : public KestalFixture
    {
        void sendTo (const fenz::VirtualSurface& surface)
        {
            state().deviceName = surface.getPortName();
            const auto result = kestal->sendCurrentMapping();
            EXPECT_TRUE (result.wasOk()) << result.getErrorMessage();
        }

        juce::ValueTree controlsOfCurrentMap()  { return state().currentMap.tree.getChildWithName (Tags::controls); }

        // A user-defined edit as the attribute boxes make it: the type and the channel into the
        // user table, the channel and the number into the control's node of the current map.
        void editUserDefined (int id, int nibble, int chan, int value)
        {
            ud[id - 1][0] = (uint8_t) nibble;
            ud[id - 1][1] = (uint8_t) ((nibble << 4) | (chan - 1));
            auto control = state().currentMap.getControl (id);
            control.setProperty (Tags::chan, chan, nullptr);
            control.setProperty (Tags::value, value, nullptr);
        }

        testsupport::FakeMidiPorts system;
    };


    //==============================================================================
    struct DefaultCase
    {
        int mode;
        int productId;
    };

    void PrintTo (const DefaultCase& c, std::ostream* os)  { *os << "mode " << c.mode << ", product " << c.productId; }

    struct DefaultTransfer : public Transfer, public ::testing::WithParamInterface<DefaultCase> {};

    TEST_P (DefaultTransfer, SendsTheBuiltInMapAndTheSurfaceTakesIt)
    {
        const auto [mode, productId] = GetParam();
        fenz::VirtualSurface surface (productId == 176 ? Model::tamrel : Model::ostrel);
        surface.install();

        state().productId = productId;
        state().setCurrentMode (mode);

        const auto modesBefore = treeText (state().modes);
        DefaultTable userBefore;
        std::memcpy (userBefore, ud, sizeof (ud));

        sendTo (surface);

        const auto wires = defaultWires (mode);
        expectSequence (surface.getReceivedMessages(), transfer (mode + 1, valuesOf (wires)));
        expectAssignment (surface.getAssignment (mode), assignmentOf (wires));
        EXPECT_EQ (surface.getNotes().joinIntoString ("\n"), "# mapping taken for mode " + juce::String (mode));

        // A transfer only reads the object's state.
        EXPECT_EQ (treeText (state().modes), modesBefore);
        EXPECT_EQ (std::memcmp (userBefore, ud, sizeof (ud)), 0);
        EXPECT_EQ (state().productId, productId);
        EXPECT_EQ (state().currentMode, mode);
        EXPECT_EQ (state().deviceName, surface.getPortName());
    }

    INSTANTIATE_TEST_SUITE_P (EveryModeBothModels, DefaultTransfer,
        ::testing::Values (DefaultCase { 0, 176 }, DefaultCase { 1, 176 }, DefaultCase { 2, 176 }, DefaultCase { 3, 176 },
                           DefaultCase { 0, 177 }, DefaultCase { 1, 177 }, DefaultCase { 2, 177 }, DefaultCase { 3, 177 }),
        [] (const auto& p) { return "mode" + std::to_string (p.param.mode) + "_product" + std::to_string (p.param.productId); });

    //==============================================================================
    TEST_F (Transfer, UserDefinedEditsOfTheTableAndTheMapArrive)
    {
        fenz::VirtualSurface surface (Model::tamrel);
        surface.install();
        state().setCurrentMode (3);

        // Table edits set type and channel, node edits the number, as the attribute boxes do.
        struct Edit { int id, nibble, chan, value; };
        const Edit edits[] = {
            { 5,   0xC, 4,  126 },   // program change on a button; 126 has its own form
            { 10,  0x9, 1,  127 },
            { 41,  0xB, 6,  64 },    // control change on a button
            { 60,  0xE, 3,  7 },     // a button cannot carry pitch bend: sent as a note
            { 92,  0xE, 2,  127 },   // pitch bend on a knob
            { 93,  0xC, 5,  33 },    // a knob cannot carry program change
            { 99,  0x9, 16, 0 },     // the jog wheel as a note on channel 16
            { 101, 0xE, 10, 0 },     // a channel change on a fader
            { 103, 0xB, 3,  126 },   // a fader cannot carry control change
            { 108, 0x9, 12, 127 },
        };

        auto wires = defaultWires (3);

        for (const auto& e : edits)
        {
            editUserDefined (e.id, e.nibble, e.chan, e.value);
            wires[e.id] = { listOfId (e.id), e.id, e.nibble, e.chan, e.value };
        }

        sendTo (surface);

        const auto sent = surface.getReceivedMessages();
        expectSequence (sent, transfer (4, valuesOf (wires)));
        expectAssignment (surface.getAssignment (3), assignmentOf (wires));

        // The forms the wire rules single out, at their places: button 5's pass 1 and pass 2,
        // knob 92's pass 1 and pass 2.
        ASSERT_EQ (sent.size(), 32u + 1u + 216u + 1u);
        EXPECT_EQ (sent[33 + 4], (Bytes { 0x9F, 0x03, 0x03 }));
        EXPECT_EQ (sent[33 + 90 + 4], (Bytes { 0x9F, 0x07, 0x0E }));
        EXPECT_EQ (sent[33 + 90 + 9], (Bytes { 0x9F, 0x0F, 0x0F }));
        EXPECT_EQ (sent[33 + 180 + 1], (Bytes { 0x9F, 0x01, 0x01 }));
        EXPECT_EQ (sent[33 + 180 + 18 + 1], (Bytes { 0x9F, 0x07, 0x0F }));
    }

    // The sequences above are built with the wire rules; here the forms those rules give are
    // written out, byte by byte, for every branch of them. Pass one carries the channel less
    // one and the code of the type as far as the control's list can carry it; pass two the
    // number, a button's with 8 added to its high nibble and 126 in a form of its own.
    TEST_F (Transfer, ChannelTypeAndNumberTakeTheirFormOnTheWire)
    {
        fenz::VirtualSurface surface (Model::tamrel);
        surface.install();
        state().setCurrentMode (3);

        struct Form { int id, nibble, chan, value; Bytes passOne, passTwo; };
        const Form forms[] = {
            { 1,   0x9, 1,  0,   { 0x9F, 0x00, 0x00 }, { 0x9F, 0x08, 0x00 } },
            { 2,   0x9, 16, 15,  { 0x9F, 0x0F, 0x00 }, { 0x9F, 0x08, 0x0F } },
            { 3,   0xB, 2,  16,  { 0x9F, 0x01, 0x02 }, { 0x9F, 0x09, 0x00 } },
            { 4,   0xC, 3,  100, { 0x9F, 0x02, 0x03 }, { 0x9F, 0x0E, 0x04 } },
            { 5,   0xE, 4,  125, { 0x9F, 0x03, 0x00 }, { 0x9F, 0x0F, 0x0D } },   // no pitch bend on a button
            { 6,   0x9, 1,  126, { 0x9F, 0x00, 0x00 }, { 0x9F, 0x07, 0x0E } },
            { 7,   0x9, 1,  127, { 0x9F, 0x00, 0x00 }, { 0x9F, 0x0F, 0x0F } },
            { 91,  0xB, 1,  0,   { 0x9F, 0x00, 0x02 }, { 0x9F, 0x00, 0x00 } },
            { 92,  0xE, 5,  126, { 0x9F, 0x04, 0x01 }, { 0x9F, 0x07, 0x0E } },
            { 93,  0xC, 6,  1,   { 0x9F, 0x05, 0x00 }, { 0x9F, 0x00, 0x01 } },   // no program change on a knob
            { 99,  0xB, 1,  60,  { 0x9F, 0x00, 0x02 }, { 0x9F, 0x03, 0x0C } },
            { 100, 0xE, 9,  127, { 0x9F, 0x08, 0x01 }, { 0x9F, 0x07, 0x0F } },
            { 101, 0xB, 2,  64,  { 0x9F, 0x01, 0x00 }, { 0x9F, 0x04, 0x00 } },   // no control change on a fader
            { 108, 0xE, 9,  16,  { 0x9F, 0x08, 0x01 }, { 0x9F, 0x01, 0x00 } },
        };

        for (const auto& f : forms)
            editUserDefined (f.id, f.nibble, f.chan, f.value);

        sendTo (surface);

        // The burst and the header, then the buttons' pass one and pass two (90 each), then the
        // other 18 controls' pass one and pass two.
        const auto sent = surface.getReceivedMessages();
        ASSERT_EQ (sent.size(), 32u + 1u + 216u + 1u);

        for (const auto& f : forms)
        {
            const auto first = f.id <= 90 ? (size_t) (33 + f.id - 1) : (size_t) (33 + 180 + f.id - 91);
            const auto second = first + (f.id <= 90 ? 90u : 18u);
            EXPECT_EQ (hex (sent[first]), hex (f.passOne)) << "control " << f.id << ", pass one";
            EXPECT_EQ (hex (sent[second]), hex (f.passTwo)) << "control " << f.id << ", pass two";
        }
    }

    TEST_F (Transfer, ALoadedUserDefinedFileArrivesAsTheFileSays)
    {
        fenz::VirtualSurface surface (Model::tamrel);
        surface.install();

        struct Line { int id; juce::String type; int chan, value; };
        const Line changed[] = {
            { 3, "cc", 5, 126 }, { 17, "pitch", 9, 127 }, { 90, "note", 16, 0 }, { 95, "pitch", 2, 100 },
            { 99, "cc", 7, 1 }, { 104, "note", 16, 0 }, { 108, "cc", 1, 7 },
        };

        auto wires = defaultWires (3);
        std::map<int, Line> lines;

        for (int id = 1; id <= 108; ++id)
        {
            const auto d = expected::mcpDefault (id);
            lines[id] = { id, d.type, d.chan, d.value };
        }

        for (const auto& c : changed)
        {
            lines[c.id] = c;
            wires[c.id] = { listOfId (c.id), c.id, nibbleOfTypeText (c.type), c.chan, c.value };
        }

        // The controls stand in reverse order in the file.
        static const char* const kinds[] = { "button", "knob", "jog-wheel", "fader", "master-fader" };
        juce::String text ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n\r\n"
                           "<map mode=\"user-defined\" name=\"User Defined (MCP)\">\r\n  <controls>\r\n");

        for (int id = 108; id >= 1; --id)
        {
            const auto& l = lines[id];
            text << "    <control id=\"" << id << "\" kind=\"" << kinds[listOfId (id)] << "\" type=\""
                 << l.type << "\" chan=\"" << l.chan << "\" value=\"" << l.value << "\"/>\r\n";
        }

        text << "  </controls>\r\n</map>\r\n";

        juce::TemporaryFile file (".pelto");
        ASSERT_TRUE (file.getFile().replaceWithText (text));
        ASSERT_TRUE (kestal->openFile (file.getFile()).wasOk());
        ASSERT_EQ (state().currentMode, 3);

        sendTo (surface);

        expectSequence (surface.getReceivedMessages(), transfer (4, valuesOf (wires)));
        expectAssignment (surface.getAssignment (3), assignmentOf (wires));
    }

    //==============================================================================
    class BuiltInModes : public Transfer, public ::testing::WithParamInterface<int> {};

    TEST_P (BuiltInModes, TakeTypeAndChannelFromTheTableAndOnlyTheNumberFromTheMap)
    {
        const int mode = GetParam();
        fenz::VirtualSurface surface (Model::tamrel);
        surface.install();
        state().setCurrentMode (mode);

        // The user table is not consulted outside the user-defined mode either.
        ud[0][0] = 0xC;
        ud[0][1] = 0xC5;
        ud[100][0] = 0x9;
        ud[100][1] = 0x93;

        struct Edit { int id; const char* type; int chan, value; };
        const Edit edits[] = { { 1, "cc", 7, 126 }, { 45, "pitch", 16, 3 }, { 91, "pitch", 3, 99 },
                               { 99, "note", 2, 5 }, { 101, "cc", 11, 64 }, { 108, "note", 4, 127 } };

        auto wires = defaultWires (mode);

        for (const auto& e : edits)
        {
            auto control = state().currentMap.getControl (e.id);
            control.setProperty (Tags::type, e.type, nullptr);
            control.setProperty (Tags::chan, e.chan, nullptr);
            control.setProperty (Tags::value, e.value, nullptr);
            wires[e.id].value = e.value;
        }

        sendTo (surface);

        expectSequence (surface.getReceivedMessages(), transfer (mode + 1, valuesOf (wires)));
        expectAssignment (surface.getAssignment (mode), assignmentOf (wires));
    }

    INSTANTIATE_TEST_SUITE_P (McpLogicHui, BuiltInModes, ::testing::Values (0, 1, 2));

    //==============================================================================
    TEST_F (Transfer, WithoutADeviceNameNothingIsListedOrSent)
    {
        fenz::VirtualSurface surface (Model::tamrel);
        surface.install();
        system.outputs = { "Varn Tamrel Virtual" };
        state().deviceName = {};

        const auto result = kestal->sendCurrentMapping();

        EXPECT_TRUE (result.failed());
        EXPECT_EQ (result.getErrorMessage(), "No device selected");
        EXPECT_EQ (system.numOutputListings, 0);
        EXPECT_EQ (system.numOutputOpens, 0);
        EXPECT_TRUE (surface.getReceivedMessages().empty());
    }

    TEST_F (Transfer, ANameThatIsNotListedExactlyIsNotFound)
    {
        fenz::VirtualSurface surface (Model::tamrel);
        surface.install();
        system.outputs = { "Some Synth", "Varn Tamrel Virtual 2" };

        struct Case { const char* why; juce::String name; bool hidden; };
        const Case cases[] = {
            { "other case",      "varn tamrel virtual",   false },
            { "trailing blank",  "Varn Tamrel Virtual ",  false },
            { "leading blank",   " Varn Tamrel Virtual",  false },
            { "a prefix",        "Varn Tamrel",           false },
            { "surface hidden",  "Varn Tamrel Virtual",   true },
        };

        for (const auto& c : cases)
        {
            surface.setHidesPorts (c.hidden);
            state().deviceName = c.name;

            const auto result = kestal->sendCurrentMapping();

            EXPECT_TRUE (result.failed()) << c.why;
            EXPECT_EQ (result.getErrorMessage(), c.name + ": device does not exist") << c.why;
        }

        EXPECT_EQ (system.numOutputOpens, 0);
        EXPECT_TRUE (surface.getReceivedMessages().empty());
        EXPECT_TRUE (system.calls.empty());
    }

    TEST_F (Transfer, AnOutputThatCannotBeOpenedGetsNothing)
    {
        fenz::VirtualSurface surface (Model::tamrel);
        surface.install();
        surface.setRefusesToOpenOutput (true);
        state().deviceName = surface.getPortName();

        const auto result = kestal->sendCurrentMapping();

        EXPECT_TRUE (result.failed());
        EXPECT_EQ (result.getErrorMessage(), "Varn Tamrel Virtual: could not open device");
        EXPECT_TRUE (surface.getReceivedMessages().empty());
        EXPECT_EQ (surface.getNumTransfersRefused(), 0);
    }

    //==============================================================================
    TEST_F (Transfer, OfTwoOutputsOfTheSameNameTheFirstIsUsed)
    {
        fenz::VirtualSurface surface (Model::tamrel);
        surface.install();

        // Within one provider.
        system.outputs = { "Other", "Twin", "Twin" };
        state().deviceName = "Twin";
        ASSERT_TRUE (kestal->sendCurrentMapping().wasOk());
        EXPECT_EQ (system.numOutputOpens, 1);
        EXPECT_EQ (system.lastOpenedOutput, 1);
        expectSequence (system.allSent(), transfer (1, valuesOf (defaultWires (0))));

        // Across providers: the system's port comes before the surface's.
        system.calls.clear();
        system.outputs = { "Other", surface.getPortName() };
        state().deviceName = surface.getPortName();
        ASSERT_TRUE (kestal->sendCurrentMapping().wasOk());
        EXPECT_EQ (system.numOutputOpens, 2);
        EXPECT_EQ (system.lastOpenedOutput, 1);
        EXPECT_EQ (system.allSent().size(), 250u);
        EXPECT_TRUE (surface.getReceivedMessages().empty());
    }

    //==============================================================================
    // The output list may change between the look-up of the name and the open: a device
    // arrives or leaves in front of the chosen one, or the chosen one leaves. The transfer
    // reaches the device it looked up or none, never the port that took its place in the list.
    TEST_F (Transfer, APortComingOrGoingBeforeTheOpenMovesNothingOntoAnotherDevice)
    {
        enum class Change { arrivesBefore, leavesBefore, itselfLeaves };

        struct Case { const char* what; Change change; bool behindOnTheSurface; };
        const Case cases[] = {
            { "a port arrives before it",           Change::arrivesBefore, false },
            { "a port before it leaves",            Change::leavesBefore,  false },
            { "it leaves itself",                   Change::itselfLeaves,  false },
            { "a system port arrives before the surface's", Change::arrivesBefore, true },
            { "a system port before the surface's leaves",  Change::leavesBefore,  true },
        };

        for (const auto& c : cases)
        {
            SCOPED_TRACE (c.what);
            fenz::VirtualSurface surface (Model::tamrel);
            surface.install();

            const juce::String wanted = c.behindOnTheSurface ? surface.getPortName() : juce::String ("Wanted");
            system.calls.clear();
            system.outputs = c.behindOnTheSurface ? juce::StringArray { "Other" } : juce::StringArray { "Other", wanted, "After" };
            system.numberOutputs();
            state().deviceName = wanted;

            // The list changes once it has been looked at.
            int listings = 0;
            bool changed = false;
            system.onListOutputs = [&]
            {
                if (++listings != 2)
                    return;

                changed = true;

                switch (c.change)
                {
                    case Change::arrivesBefore:
                        system.outputs.insert (0, "Newcomer");
                        system.identifiers.insert (0, "newcomer");
                        break;
                    case Change::leavesBefore:
                        system.outputs.remove (0);
                        system.identifiers.remove (0);
                        break;
                    case Change::itselfLeaves:
                        system.outputs.remove (1);
                        system.identifiers.remove (1);
                        break;
                }
            };

            const auto result = kestal->sendCurrentMapping();
            system.onListOutputs = nullptr;
            // A port behind the system's is opened through its own provider alone.
            EXPECT_TRUE (changed || c.behindOnTheSurface) << "the transfer opened without looking at the list again";

            if (c.change == Change::itselfLeaves)
            {
                EXPECT_EQ (result.getErrorMessage(), "Wanted: could not open device");
                EXPECT_TRUE (system.calls.empty());
            }
            else if (c.behindOnTheSurface)
            {
                EXPECT_TRUE (result.wasOk()) << result.getErrorMessage();
                EXPECT_TRUE (system.calls.empty()) << "the transfer went to a system port";
                EXPECT_EQ (surface.getNumTransfersTaken(), 1);
            }
            else
            {
                EXPECT_TRUE (result.wasOk()) << result.getErrorMessage();
                EXPECT_EQ (system.openedOutputs.joinIntoString (","), "Wanted");
                ASSERT_FALSE (system.calls.empty());
                EXPECT_EQ (system.sentTo (wanted).size(), system.allSent().size());
            }

            system.openedOutputs.clear();
            system.identifiers.clear();
        }
    }

    //==============================================================================
    TEST_F (Transfer, ControlsGoInIdOrderWhateverTheirOrderInTheMap)
    {
        fenz::VirtualSurface surface (Model::tamrel);
        surface.install();
        state().setCurrentMode (1);

        auto controls = controlsOfCurrentMap();
        std::mt19937 random (20240611);

        for (int i = controls.getNumChildren() - 1; i > 0; --i)
            controls.moveChild (i, std::uniform_int_distribution<int> (0, i) (random), nullptr);

        ASSERT_NE ((int) controls.getChild (0)[Tags::id], 1);

        sendTo (surface);

        const auto wires = defaultWires (1);
        expectSequence (surface.getReceivedMessages(), transfer (2, valuesOf (wires)));
        expectAssignment (surface.getAssignment (1), assignmentOf (wires));
    }

    TEST_F (Transfer, AControlOfAnotherOrNoKindGoesWithTheButtons)
    {
        fenz::VirtualSurface surface (Model::tamrel);
        surface.install();

        auto wires = defaultWires (0);

        state().currentMap.getControl (95).setProperty (Tags::kind, "Knob", nullptr);
        state().currentMap.getControl (100).removeProperty (Tags::kind, nullptr);
        state().currentMap.getControl (108).setProperty (Tags::kind, "slider", nullptr);
        state().currentMap.getControl (7).setProperty (Tags::kind, "fader", nullptr);   // and the other way

        for (int id : { 95, 100, 108 })
            wires[id].list = 0;

        wires[7].list = 3;

        sendTo (surface);

        const auto sent = surface.getReceivedMessages();
        expectSequence (sent, transfer (1, valuesOf (wires)));

        // Knob 95 follows button 90 in both passes of the 92 controls sent as buttons: its
        // control change as code 2, its number 20 in the buttons' form.
        ASSERT_EQ (sent.size(), 250u);
        EXPECT_EQ (sent[33 + 89], (Bytes { 0x9F, 0x00, 0x02 }));
        EXPECT_EQ (sent[33 + 92 + 89], (Bytes { 0x9F, 0x09, 0x04 }));
    }

    TEST_F (Transfer, AMapWithoutControlsSendsOnlyTheFrame)
    {
        fenz::VirtualSurface surface (Model::tamrel);
        surface.install();
        state().setCurrentMode (1);
        state().currentMap.tree.removeChild (controlsOfCurrentMap(), nullptr);
        ASSERT_FALSE (controlsOfCurrentMap().isValid());

        sendTo (surface);

        expectSequence (surface.getReceivedMessages(), emptyTransfer (2));
    }

    TEST_F (Transfer, WithoutACurrentMapOnlyTheFrameOfTheMcpModeIsSent)
    {
        fenz::VirtualSurface surface (Model::tamrel);
        surface.install();
        state().setCurrentMode (5);   // a mode without a map
        ASSERT_FALSE (state().currentMap.tree.isValid());

        sendTo (surface);

        expectSequence (surface.getReceivedMessages(), emptyTransfer (1));
    }

    TEST_F (Transfer, ControlsOutsideTheSurfaceAreSkipped)
    {
        fenz::VirtualSurface surface (Model::tamrel);
        surface.install();
        state().setCurrentMode (3);

        // Put straight into the map, past the checks of file loading. A table read for any of
        // them would step outside the table.
        auto controls = controlsOfCurrentMap();
        struct Stray { juce::var id; const char* kind; int position; };
        const Stray strays[] = { { 0, "button", 0 }, { 109, "master-fader", 108 }, { -1, "knob", 50 },
                                 { 1000, "fader", 20 }, { "abc", "button", 3 }, { "110", "jog-wheel", 99 } };

        for (const auto& s : strays)
        {
            juce::ValueTree control ("control");
            control.setProperty (Tags::id, s.id, nullptr);
            control.setProperty (Tags::kind, s.kind, nullptr);
            control.setProperty (Tags::type, "note", nullptr);
            control.setProperty (Tags::chan, 1, nullptr);
            control.setProperty (Tags::value, 126, nullptr);
            controls.addChild (control, s.position, nullptr);
        }

        sendTo (surface);

        const auto wires = defaultWires (3);
        expectSequence (surface.getReceivedMessages(), transfer (4, valuesOf (wires)));
        expectAssignment (surface.getAssignment (3), assignmentOf (wires));
    }

    //==============================================================================
    TEST_F (Transfer, EveryBurstAndControlMessageGoesOutAloneTheFrameDirectly)
    {
        system.outputs = { "Counting Out" };
        state().deviceName = "Counting Out";

        ASSERT_TRUE (kestal->sendCurrentMapping().wasOk());

        const auto& calls = system.calls;
        ASSERT_EQ (calls.size(), 32u + 1u + 216u + 1u);

        for (size_t i = 0; i < calls.size(); ++i)
        {
            const bool isFrame = (i == 32 || i == calls.size() - 1);
            EXPECT_EQ (calls[i].isBlock, ! isFrame) << "call " << i;
            EXPECT_EQ (calls[i].messages.size(), 1u) << "call " << i;

            if (calls[i].isBlock)
            {
                EXPECT_THAT (calls[i].samplePositions, ::testing::ElementsAre (0)) << "call " << i;
            }
        }

        EXPECT_EQ (calls[32].messages[0], header (1));
        EXPECT_EQ (calls.back().messages[0], closing);
        expectSequence (system.allSent(), transfer (1, valuesOf (defaultWires (0))));

        // The output is closed again before the call returns.
        EXPECT_EQ (system.numOutputOpens, 1);
        EXPECT_EQ (system.numOutputCloses, 1);
    }
}

namespace
{
    //==============================================================================
    // The device takes every control by its place in the transfer. A file that lacks controls
    // is completed on loading, so all 216 control messages go out and each lands where it
    // belongs, in every mode.
    class PartialFile : public Transfer, public ::testing::WithParamInterface<int> {};

    TEST_P (PartialFile, IsSentInFullWithTheMissingControlsInTheirPlaces)
    {
        const int mode = GetParam();
        fenz::VirtualSurface surface (Model::tamrel);
        surface.install();

        struct Line { int id; const char* type; int chan, value; };
        const Line lines[] = { { 7, "cc", 2, 100 }, { 64, "note", 1, 126 }, { 96, "pitch", 3, 5 }, { 106, "note", 4, 77 } };

        static const char* const kinds[] = { "button", "knob", "jog-wheel", "fader", "master-fader" };
        juce::String text ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n\r\n<map mode=\"");
        text << CtMode::slugForType (mode) << "\">\r\n  <controls>\r\n";

        auto wires = defaultWires (mode);

        for (const auto& l : lines)
        {
            text << "    <control id=\"" << l.id << "\" kind=\"" << kinds[listOfId (l.id)] << "\" type=\""
                 << l.type << "\" chan=\"" << l.chan << "\" value=\"" << l.value << "\"/>\r\n";

            // The user-defined table follows the file; the built-in modes keep their table's
            // type and channel and take only the number.
            if (mode == 3)
                wires[l.id] = { listOfId (l.id), l.id, nibbleOfTypeText (l.type), l.chan, l.value };
            else
                wires[l.id].value = l.value;
        }

        text << "  </controls>\r\n</map>\r\n";

        // What stands in for the missing controls of a user-defined file: a note on channel 1,
        // number 0, in the table and the map alike.
        if (mode == 3)
        {
            for (auto& [id, w] : wires)
                if (std::none_of (std::begin (lines), std::end (lines), [id = id] (const Line& l) { return l.id == id; }))
                    w = { listOfId (id), id, 0x9, 1, 0 };
        }

        juce::TemporaryFile file (".pelto");
        ASSERT_TRUE (file.getFile().replaceWithText (text));
        ASSERT_TRUE (kestal->openFile (file.getFile()).wasOk());
        ASSERT_EQ (state().currentMode, mode);

        sendTo (surface);

        const auto sent = surface.getReceivedMessages();
        EXPECT_EQ (sent.size(), 32u + 1u + 216u + 1u);
        expectSequence (sent, transfer (mode + 1, valuesOf (wires)));
        expectAssignment (surface.getAssignment (mode), assignmentOf (wires));
    }

    INSTANTIATE_TEST_SUITE_P (EveryMode, PartialFile, ::testing::Values (0, 1, 2, 3));

    //==============================================================================
    // The device needs 2 ms after every opening and control message; the surface's arrival
    // times show the pauses. Only the lower bound is a test: the wall time is the benchmark's.
    TEST_F (Transfer, EveryPacedMessageIsFollowedByAtLeastTwoMilliseconds)
    {
        fenz::VirtualSurface surface (Model::tamrel);
        surface.install();

        sendTo (surface);

        std::vector<juce::int64> arrivals;

        for (const auto& entry : surface.getRecord())
            if (! entry.isNote())
                arrivals.push_back (entry.microseconds);

        ASSERT_EQ (arrivals.size(), 32u + 1u + 216u + 1u);

        // Message 32 is the header and the last one the closing message: no pause after either.
        for (size_t i = 0; i + 1 < arrivals.size(); ++i)
        {
            if (i == 32)
                continue;

            EXPECT_GE (arrivals[i + 1] - arrivals[i], 2000) << "after message " << i;
        }
    }
}
