#include "Kestal.h"
#include "Arrays.h"
#include "FileReplacement.h"
#include "MappingFileText.h"
#include "UdMode.h"
#include "fenz_MidiPorts.h"
#include "fenz_Pause.h"
#include "fenz_PlainXml.h"

#include <set>
#include "fenz_Text.h"


JUCE_IMPLEMENT_SINGLETON (Kestal)

namespace
{
    const juce::Identifier currentProperty { "current" };

    juce::PropertiesFile::Options settingsOptions()
    {
        juce::PropertiesFile::Options options;
        options.applicationName     = "Kestal";
        options.filenameSuffix      = ".conf";
        options.folderName          = Kestal::settingsFolderName();
        options.osxLibrarySubFolder = "Application Support";
        options.commonToAllUsers    = true;
        options.ignoreCaseOfKeyNames = false;
        options.doNotSave           = false;
        options.millisecondsBeforeSaving = 3000;
        options.storageFormat       = juce::PropertiesFile::storeAsCompressedBinary;
        options.processLock         = nullptr;
        return options;
    }

    // A whole decimal number, as the system writes them; anything else is not a number here.
    bool readDecimal (const juce::var& v, int& result)
    {
        if (v.isInt() || v.isInt64())
        {
            result = (int) v;
            return true;
        }

        const auto text = v.toString();

        // The system writes plain decimals; "007" would read as 7 but not be found as 7.
        if (text.isEmpty() || text.length() > 9 || ! text.containsOnly ("0123456789")
             || (text.length() > 1 && text[0] == '0'))
            return false;

        result = text.getIntValue();
        return true;
    }

    // A mapping file must not be able to make any table reader step outside its table, nor make
    // the transfer send controls out of their place: every control carries an id of the surface,
    // once, with the kind that id has, and a channel and number that fit in a MIDI byte.
    bool isAcceptableMap (const juce::ValueTree& map)
    {
        if (! map.hasType (Tags::map))
            return false;

        if (! CtMode::isLive (CtMode (map.getProperty (Tags::mode, juce::String()).toString())))
            return false;

        std::set<int> seen;

        for (const auto& control : map.getChildWithName (Tags::controls))
        {
            int id = 0;

            if (! readDecimal (control.getProperty (Tags::id), id) || ! CtKind::isValidId (id)
                 || ! seen.insert (id).second)
                return false;

            if (control[Tags::kind].toString() != CtKind::slugForType (CtKind::kindOfId (id)))
                return false;

            int chan = 1, value = 0;

            if (control.hasProperty (Tags::chan)
                 && (! readDecimal (control[Tags::chan], chan) || chan < 1 || chan > 16))
                return false;

            if (control.hasProperty (Tags::value)
                 && (! readDecimal (control[Tags::value], value) || value > 127))
                return false;
        }

        return true;
    }

    // The device places the controls of a transfer by their position in it, so a map that lacks
    // some would put every later control in the wrong place. Each missing control is added in
    // its place, before the first control of a higher id, with what the mode gives it when it
    // is not assigned (CtMap::makeStandInControl); the map then always holds the 108 controls.
    void addMissingControls (juce::ValueTree& map, CtMode m)
    {
        auto controls = map.getOrCreateChildWithName (Tags::controls, nullptr);
        std::set<int> present;

        for (const auto& control : controls)
        {
            int id = 0;
            if (readDecimal (control[Tags::id], id))
                present.insert (id);
        }

        for (int id = 1; id <= CtKind::numControls; ++id)
        {
            if (present.count (id) != 0)
                continue;

            int position = controls.getNumChildren();

            for (int i = 0; i < controls.getNumChildren(); ++i)
            {
                int other = 0;

                if (readDecimal (controls.getChild (i)[Tags::id], other) && other > id)
                {
                    position = i;
                    break;
                }
            }

            controls.addChild (CtMap::makeStandInControl (m, id), position, nullptr);
        }
    }

    // A padded or unrecognised mode text reads as some mode; the map stores that mode's own
    // slug, so that it is found again as the map of the mode it replaced. A missing one goes
    // first, where the system's own maps have it, so that a saved copy reads as theirs do.
    void storeModeSlugFirst (juce::ValueTree& map, CtMode m)
    {
        if (map.hasProperty (Tags::mode))
        {
            map.setProperty (Tags::mode, CtMode::slugForType (m), nullptr);
            return;
        }

        juce::NamedValueSet others;
        for (int i = 0; i < map.getNumProperties(); ++i)
            others.set (map.getPropertyName (i), map[map.getPropertyName (i)]);

        map.removeAllProperties (nullptr);
        map.setProperty (Tags::mode, CtMode::slugForType (m), nullptr);

        for (const auto& property : others)
            map.setProperty (property.name, property.value, nullptr);
    }

    // The user-defined table is the map's types and channels, rebuilt whole from a loaded
    // user-defined map; a control the map lacks gives a note on channel 1, number 0.
    void rebuildUserDefinedTable (const juce::ValueTree& map)
    {
        const auto controls = map.getChildWithName (Tags::controls);

        for (int id = 1; id <= CtKind::numControls; ++id)
        {
            juce::ValueTree control;

            for (const auto& child : controls)
                if ((int) child[Tags::id] == id)
                {
                    control = child;
                    break;
                }

            // A type text of no message-type choice, a missing one included, reads as a note.
            const int nibble = MsgTypeChoice::nibbleOf (MsgTypeChoice::ofSlug (control[Tags::type].toString()));
            const int chan = control.getProperty (Tags::chan, 1);
            const int v = control.getProperty (Tags::value, 0);

            ud[id - 1][0] = (uint8_t) nibble;
            ud[id - 1][1] = (uint8_t) (((nibble * 16) | (chan - 1)) & 0xFF);
            ud[id - 1][2] = (uint8_t) (v & 0xFF);
        }
    }

    // The device needs 2 ms after each message; fenz::pauseFor keeps that as a floor and
    // oversleeps it as little as the system allows, which over 248 pauses is what the
    // transfer's length comes to.
    void pauseTwoMilliseconds()
    {
        fenz::pauseMilliseconds (2);
    }
}

//==============================================================================
Kestal::Impl::Impl()  = default;
Kestal::Impl::~Impl() = default;

void Kestal::Impl::setCurrentMode (CtMode m)
{
    currentMode = m;
    currentMap = CtMap (findMode (m));
    modes.setProperty (currentProperty, CtMode::slugForType (m), nullptr);
}

juce::ValueTree Kestal::Impl::findMode (CtMode m) const
{
    return modes.getChildWithProperty (Tags::mode, CtMode::slugForType (m));
}

void Kestal::Impl::saveSettings()
{
    if (auto* file = settings.getCommonSettings (true))
        if (modes.isValid())
            file->setValue ("modes", modes.toXmlString (juce::XmlElement::TextFormat().singleLine().withoutHeader()));
}

//==============================================================================
juce::String Kestal::settingsFolderName()
{
    const auto redirected = fenz::environmentText ("KESTAL_SETTINGS_DIR");
    return juce::File::isAbsolutePath (redirected) ? redirected : juce::String ("Fenzwerk/Kestal");
}

Kestal::Kestal()
{
    auto state = std::make_unique<Impl>();
    state->settings.setStorageParameters (settingsOptions());
    state->modes = juce::ValueTree (Tags::modes);

    for (int m = 0; m < CtMode::numLiveModes; ++m)
        state->modes.appendChild (CtMap (CtMode (m)).tree, nullptr);

    state->setCurrentMode (CtMode::mcp);
    state->productId = fenz::Product::tamrel;
    impl = std::move (state);
}

Kestal::~Kestal()
{
    impl->saveSettings();
    impl.reset();
    clearSingletonInstance();
}

CtMode Kestal::getCurrCtMode() const
{
    return impl->currentMap.getCtMode();
}

CtMap Kestal::currentMapOrNone()
{
    auto* kestal = getInstance();
    return kestal != nullptr ? kestal->impl->currentMap : CtMap (juce::ValueTree());
}

//==============================================================================
juce::Result Kestal::openFile (const juce::File& file)
{
    const auto failure = juce::Result::fail ("Could not load mapping data");

    // The framework's parser must not see a file it could not parse safely.
    const auto text = MappingFileText::read (file);

    if (! text.has_value() || ! MappingFileText::isPlainAndShallow (*text))
        return failure;

    auto xml = juce::XmlDocument (*text).getDocumentElement();

    if (xml == nullptr)
        return failure;

    auto loaded = fenz::treeFromPlainXml (*xml);

    if (! isAcceptableMap (loaded))
        return failure;

    const CtMode m (loaded.getProperty (Tags::mode, juce::String()).toString());
    addMissingControls (loaded, m);

    storeModeSlugFirst (loaded, m);

    const int position = impl->modes.indexOf (impl->findMode (m));
    impl->modes.removeChild (position, nullptr);
    impl->modes.addChild (loaded, position, nullptr);

    impl->setCurrentMode (CtMode (loaded.getProperty (Tags::mode).toString()));

    if (m == CtMode::userDefined)
        rebuildUserDefinedTable (loaded);

    return juce::Result::ok();
}

juce::Result Kestal::saveCurrentMapping (const juce::File& file)
{
    if (! impl->currentMap.tree.isValid())
        return juce::Result::fail ("Could not save current mapping to disk");

    auto xml = impl->currentMap.tree.createXml();

    if (xml == nullptr)
        return juce::Result::fail ("Failed to write mapping file");

    // The framework's own file writer replaces whatever stands at the path: a protected file,
    // a link instead of the file it leads to, an empty folder. The document is written into the
    // chosen file instead, as an editor saves one.
    juce::MemoryOutputStream document;
    xml->writeTo (document, juce::XmlElement::TextFormat());

    if (! replaceFileContents (file, document.getData(), document.getDataSize()))
        return juce::Result::fail ("Failed to write mapping file");

    return juce::Result::ok();
}

//==============================================================================
namespace
{
    struct ControlSorter
    {
        static int compareElements (const juce::ValueTree& a, const juce::ValueTree& b)
        {
            const int ia = a[Tags::id], ib = b[Tags::id];
            return ia < ib ? -1 : (ib < ia ? 1 : 0);
        }
    };

    // The type code that pass 1 carries, by kind and the entry's type nibble.
    int typeCodeFor (int listIndex, int nibble)
    {
        switch (listIndex)
        {
            case CtKind::button:    return nibble == 0xB ? 2 : nibble == 0xC ? 3 : 0;
            case CtKind::knob:
            case CtKind::jogWheel:  return nibble == 0xB ? 2 : nibble == 0xE ? 1 : 0;
            default:                return nibble == 0xE ? 1 : 0;   // faders, master fader
        }
    }

    juce::MidiMessage numberMessage (int listIndex, int v)
    {
        if (listIndex == CtKind::button)
        {
            if (v == 126)
                return juce::MidiMessage (0x9F, 0x07, 0x0E);

            return juce::MidiMessage (0x9F, ((v >> 4) & 0x0F) | 0x08, v & 0x0F);
        }

        return juce::MidiMessage (0x9F, (v & 0xFF) >> 4, v & 0x0F);
    }
}

juce::Result Kestal::sendCurrentMapping()
{
    const int m = getCurrCtMode();
    const auto& deviceName = impl->deviceName;

    if (deviceName.isEmpty())
        return juce::Result::fail ("No device selected");

    // Opened by what it was listed as: a port that comes or goes meanwhile moves no position
    // onto another device.
    const auto identifier = fenz::MidiPorts::findOutputIdentifier (deviceName);

    if (identifier.isEmpty())
        return juce::Result::fail (deviceName + ": device does not exist");

    const auto* table = Defa::tableForMode (m);

    // Only a map of a mode with a table and a transfer command can be sent; loading refuses any
    // other, so this guards the tables rather than a case a user can reach.
    if (table == nullptr)
        return juce::Result::fail ("This mode's mapping cannot be sent");

    auto output = fenz::MidiPorts::openOutputWithIdentifier (identifier);

    if (output == nullptr)
        return juce::Result::fail (deviceName + ": could not open device");

    juce::MidiBuffer buffer;
    auto sendAlone = [&] (const juce::MidiMessage& message)
    {
        buffer.clear();
        buffer.addEvent (message, 0);
        output->sendBlockOfMessagesNow (buffer);
        pauseTwoMilliseconds();
    };

    for (int j = 0; j < 32; ++j)
        sendAlone (juce::MidiMessage (0x9F, j, 0));

    output->sendMessageNow (deviceSysEx (familyId (impl->productId), m + 1));

    // One list per kind, by the kind a control names: buttons (and any control of another or no
    // kind), knobs, jog wheel, faders, master fader.
    juce::Array<juce::ValueTree> lists[CtKind::numKinds];

    for (const auto& control : impl->currentMap.tree.getChildWithName (Tags::controls))
    {
        // A control outside the surface has no entry in the table and no place on the device.
        if (! CtKind::isValidId (control[Tags::id]))
            continue;

        int list = CtKind::button;
        const auto kind = control[Tags::kind].toString();

        for (int k = CtKind::knob; k < CtKind::numKinds; ++k)
            if (kind == CtKind::slugForType (k))
                list = k;

        lists[list].add (control);
    }

    ControlSorter sorter;

    for (auto& list : lists)
        if (list.size() > 1)
            list.sort (sorter);

    auto passOne = [&] (int listIndex)
    {
        for (const auto& control : lists[listIndex])
        {
            const auto* e = table[(int) control[Tags::id] - 1];
            sendAlone (juce::MidiMessage (0x9F, e[1] & 0x0F, typeCodeFor (listIndex, e[0])));
        }
    };

    auto passTwo = [&] (int listIndex)
    {
        for (const auto& control : lists[listIndex])
            sendAlone (numberMessage (listIndex, control[Tags::value]));
    };

    // The buttons' two passes, then the other kinds' first passes and their second ones.
    passOne (CtKind::button);
    passTwo (CtKind::button);

    for (int k = CtKind::knob; k < CtKind::numKinds; ++k)
        passOne (k);

    for (int k = CtKind::knob; k < CtKind::numKinds; ++k)
        passTwo (k);

    output->sendMessageNow (juce::MidiMessage (0x9E, 0x7F, 0x7F));
    output.reset();

    return juce::Result::ok();
}
