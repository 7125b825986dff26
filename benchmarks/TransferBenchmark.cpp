#include <benchmark/benchmark.h>
#include <juce_events/juce_events.h>

#include "Kestal.h"
#include "fenz_VirtualSurface.h"

#include <chrono>
#include <cstdlib>

// How long "Send Data" takes for a whole default map, measured against the pauses that pace
// it: 32 opening messages and 2 x 108 control messages, each followed by 2 ms, are 496 ms.
// The transfer goes to a simulated main unit through the same port layer the editor uses, so
// the machine's own MIDI devices are still listed on every call.
namespace
{
    constexpr double pacedSeconds = 0.496;

    void sendFullDefaultMap (benchmark::State& state)
    {
        auto* kestal = Kestal::getInstanceWithoutCreating();

        if (kestal == nullptr)
        {
            state.SkipWithError ("the mapping object does not exist");
            return;
        }

        fenz::VirtualSurface surface (fenz::VirtualSurface::Model::tamrel);
        surface.install();

        kestal->impl->productId = 176;
        kestal->impl->setCurrentMode (0);
        kestal->impl->deviceName = surface.getPortName();

        double totalSeconds = 0.0;
        int transfers = 0;

        for (auto _ : state)
        {
            const auto start = std::chrono::steady_clock::now();
            const auto result = kestal->sendCurrentMapping();
            const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;

            if (result.failed())
            {
                state.SkipWithError (result.getErrorMessage().toRawUTF8());
                break;
            }

            state.SetIterationTime (elapsed.count());
            totalSeconds += elapsed.count();
            ++transfers;

            // The surface must have taken every transfer whole, or the figure means nothing.
            if (surface.getNumTransfersTaken() != transfers || surface.getNumTransfersRefused() != 0)
            {
                state.SkipWithError ("the virtual surface did not take the transfer");
                break;
            }

            surface.clearRecord();
        }

        if (transfers > 0)
            state.counters["ratio_to_496ms"] = totalSeconds / transfers / pacedSeconds;

        surface.uninstall();
    }
}

BENCHMARK (sendFullDefaultMap)->UseManualTime()->Unit (benchmark::kMillisecond)->Iterations (5);

// The mapping object exists once per process: it is created before the benchmarks run and
// deleted after them, as the application does. Its settings file goes to a folder of its own.
int main (int argc, char** argv)
{
    juce::TemporaryFile settingsFolder ("kestal-benchmark-settings");

    if (juce::SystemStats::getEnvironmentVariable ("KESTAL_SETTINGS_DIR", {}).isEmpty())
    {
        settingsFolder.getFile().createDirectory();
        setenv ("KESTAL_SETTINGS_DIR", settingsFolder.getFile().getFullPathName().toRawUTF8(), 1);
    }

    benchmark::Initialize (&argc, argv);

    if (benchmark::ReportUnrecognizedArguments (argc, argv))
        return 1;

    {
        juce::ScopedJuceInitialiser_GUI juce;
        Kestal::getInstance();
        benchmark::RunSpecifiedBenchmarks();
        Kestal::deleteInstance();
    }

    benchmark::Shutdown();
    settingsFolder.getFile().deleteRecursively();
    return 0;
}
