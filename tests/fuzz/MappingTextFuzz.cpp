#include "Kestal.h"
#include "MappingFileText.h"
#include "fenz_PlainXml.h"
#include "fenz_Text.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

// Bytes from outside, as a file chooser or a server hands them over, go through the decoder and
// the text check, then through the parser wherever the check lets them pass, and through the
// mapping loader as a file. Nothing may crash, touch memory it does not own, or keep the loader
// or the parser busy without end (the fuzzer's time-out catches that).
namespace
{
    // A server's list is let through deeper than a mapping file.
    constexpr int listDepth = 16;

    struct Process
    {
        Process()
        {
            // The files of this process live in a folder of its own, the mapping object's
            // settings file among them, which it writes when it is deleted.
            const auto shared = juce::File::getSpecialLocation (juce::File::tempDirectory);
            auto own = shared.getChildFile ("kestal-fuzz-XXXXXX").getFullPathName().toStdString();

            if (mkdtemp (own.data()) == nullptr)
            {
                std::perror ("no temporary folder of the fuzzer's own");
                std::abort();
            }

            folder = juce::File (own);
            setenv ("KESTAL_SETTINGS_DIR", own.c_str(), 1);
            file = folder.getChildFile ("input.pelto");

            // Made before the end of the process is planned for (LLVMFuzzerInitialize), so that
            // the framework's leak counters of what it holds are still there when it goes.
            Kestal::getInstance();
        }

        ~Process()
        {
            Kestal::deleteInstance();
            initialiser.reset();
            folder.deleteRecursively();
        }

        std::unique_ptr<juce::ScopedJuceInitialiser_GUI> initialiser = std::make_unique<juce::ScopedJuceInitialiser_GUI>();
        juce::File folder, file;
    };

    std::unique_ptr<Process> process;

    void checkText (const std::uint8_t* data, size_t size)
    {
        const auto text = fenz::decodeXmlText (data, size);

        if (! text.has_value())
            return;

        for (const int depth : { MappingFileText::maxDepth, listDepth })
            if (fenz::isPlainAndShallowXml (*text, depth))
                if (auto root = juce::XmlDocument (*text).getDocumentElement())
                    fenz::treeFromPlainXml (*root);
    }

    // A map the loader takes is one the editor and the transfer can use: every control of the
    // surface, once.
    void checkLoader (const std::uint8_t* data, size_t size)
    {
        if (! process->file.replaceWithData (data, size))
            std::abort();

        if (Kestal::getInstance()->openFile (process->file).failed())
            return;

        const auto controls = Kestal::currentMapOrNone().tree.getChildWithName (Tags::controls);

        if (controls.getNumChildren() != CtKind::numControls)
        {
            std::fprintf (stderr, "a loaded map holds %d controls\n", controls.getNumChildren());
            std::abort();
        }
    }
}

// The entry points that libFuzzer, or the driver without it, calls by these names.
extern "C" int LLVMFuzzerInitialize (int*, char***);
extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, size_t size);

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    process = std::make_unique<Process>();
    std::atexit ([] { process.reset(); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, size_t size)
{
    checkText (data, size);
    checkLoader (data, size);
    return 0;
}
