#include <benchmark/benchmark.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include "fenz_FirmwareUpgradeComponent.h"
#include "fenz_MidiInputHandler.h"
#include "fenz_UpgraderChoosers.h"
#include "fenz_VirtualSurface.h"

#include <chrono>
#include <random>

// How long the Upgrade step takes to write the largest image (63487 bytes, 124 data packets)
// to a simulated main unit, against the floor its pacing sets: 17 ms of pauses around the
// connect packet, 17 ms and 100 ms around the erase packet, one 33 ms slice of the message
// loop for each data packet and 34 ms around the reset packet, 4.26 s in all. The time runs
// from the press of Upgrade to the end of the reset stage, which is the success box less the
// 800 ms pause that comes before it.
namespace
{
    using Clock = std::chrono::steady_clock;

    constexpr double floorSeconds = 0.017 + 0.017 + 0.100 + 124 * 0.033 + 0.034;
    constexpr int endPauseMilliseconds = 800;

    // The steps by the index that FirmwareUpgradeComponent::pressStep takes.
    enum StepIndex { connectStep, eraseStep, activateStep, versionStep, upgradeStep };

    struct Upgrader
    {
        fenz::VirtualSurface surface { fenz::VirtualSurface::Model::tamrel };
        fenz::FirmwareUpgradeComponent panel { 176, dialogs(), fenz::FirmwareUpgradeComponent::realTiming() };
        juce::String nextChoice;
        juce::File image;
        juce::String boxTitle;
        Clock::time_point boxAt;

        Upgrader()   { surface.install(); }
        ~Upgrader()  { surface.uninstall(); }

        // The choosers take nextChoice, the local file chooser the image; the boxes are timed.
        fenz::FirmwareUpgradeComponent::Dialogs dialogs()
        {
            fenz::FirmwareUpgradeComponent::Dialogs d;

            d.runChooser = [this] (juce::Component& chooser, const juce::String&)
            {
                if (auto* ports = dynamic_cast<fenz::DeviceSelectComponent*> (&chooser))
                {
                    ports->selectedName = nextChoice;
                    return 1;
                }

                return 0;
            };

            d.showMessageBox = [this] (juce::MessageBoxIconType, const juce::String& title, const juce::String&)
            {
                boxAt = Clock::now();
                boxTitle = title;
            };

            d.chooseFirmwareFile = [this] (const juce::File&) { return image; };
            return d;
        }

        // Steps 1 to 4, as the user takes them: the device, its upgrade mode, its upgrade ports
        // and the image from a local file (key M). False when any of them did not get where it
        // should.
        bool prepare (const juce::File& imageFile)
        {
            nextChoice = surface.getPortName();
            panel.pressStep (connectStep);
            panel.pressStep (eraseStep);
            nextChoice = fenz::VirtualSurface::upgradePortName;
            panel.pressStep (activateStep);

            if (panel.getState().step != 2)
                return false;

            image = imageFile;
            panel.keyPressed (juce::KeyPress ('m'));
            panel.pressStep (versionStep);
            boxTitle = {};

            // The surface keeps every message it is sent; a record grown by earlier runs would
            // be paid for here again.
            surface.clearRecord();
            return panel.getState().step == 3;
        }
    };

    void upgradeLargestImage (benchmark::State& state)
    {
        juce::MemoryBlock image (63487);
        std::mt19937 random (63487);

        for (size_t i = 0; i < image.getSize(); ++i)
            image[i] = (char) (random() & 0xff);

        // Named as the model's images are, which step 4 asks of a local file.
        const auto file = juce::File::getSpecialLocation (juce::File::tempDirectory)
                              .getNonexistentChildFile ("tamrel_ostrel_benchmark_", ".bin", false);
        file.replaceWithData (image.getData(), image.getSize());

        Upgrader upgrader;
        double totalSeconds = 0.0;
        int runs = 0;

        for (auto _ : state)
        {
            state.PauseTiming();
            const bool ready = upgrader.prepare (file);
            state.ResumeTiming();

            if (! ready)
            {
                state.SkipWithError ("the steps before Upgrade did not reach the surface's upgrade ports");
                break;
            }

            const auto start = Clock::now();
            upgrader.panel.pressStep (upgradeStep);

            const auto written = upgrader.surface.getWrittenImage();

            if (upgrader.boxTitle != "Firmware Upgrade Success" || written.size() < image.getSize()
                 || memcmp (written.data(), image.getData(), image.getSize()) != 0)
            {
                state.SkipWithError ("the surface did not take the image whole");
                break;
            }

            const std::chrono::duration<double> elapsed = upgrader.boxAt - start - std::chrono::milliseconds (endPauseMilliseconds);
            state.SetIterationTime (elapsed.count());
            totalSeconds += elapsed.count();
            ++runs;
        }

        if (runs > 0)
            state.counters["ratio_to_4260ms"] = totalSeconds / runs / floorSeconds;

        file.deleteFile();
    }
}

BENCHMARK (upgradeLargestImage)->UseManualTime()->Unit (benchmark::kMillisecond)->Iterations (3);

int main (int argc, char** argv)
{
    benchmark::Initialize (&argc, argv);

    if (benchmark::ReportUnrecognizedArguments (argc, argv))
        return 1;

    {
        juce::ScopedJuceInitialiser_GUI juce;
        benchmark::RunSpecifiedBenchmarks();
    }

    benchmark::Shutdown();
    return 0;
}
