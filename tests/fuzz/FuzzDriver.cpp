#include <juce_core/juce_core.h>

#include <cstdint>
#include <cstdio>

// Where the compiler has no libFuzzer: runs each file named, or each file in each folder named,
// through the fuzz target once, so that the seeds keep passing in every build.
extern "C" int LLVMFuzzerInitialize (int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, size_t size);

int main (int argc, char** argv)
{
    LLVMFuzzerInitialize (&argc, &argv);
    int inputs = 0;

    for (int i = 1; i < argc; ++i)
    {
        const juce::File named (juce::File::getCurrentWorkingDirectory().getChildFile (argv[i]));
        auto files = named.isDirectory() ? named.findChildFiles (juce::File::findFiles, false)
                                         : juce::Array<juce::File> { named };
        files.sort();

        for (const auto& file : files)
        {
            juce::MemoryBlock bytes;

            if (! file.loadFileAsData (bytes))
            {
                std::fprintf (stderr, "cannot read %s\n", file.getFullPathName().toRawUTF8());
                return 1;
            }

            LLVMFuzzerTestOneInput (static_cast<const std::uint8_t*> (bytes.getData()), bytes.getSize());
            ++inputs;
        }
    }

    std::printf ("%d inputs\n", inputs);
    return inputs > 0 ? 0 : 1;
}
