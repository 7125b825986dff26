#include "fenz_Product.h"

namespace fenz
{

juce::String Product::getName (PID pid)
{
    switch (pid)
    {
        case 130: return "Dravo KS";
        case 94:  return "Dravo K";
        case 176: return "Tamrel";
        case 177: return "Ostrel";
        case 79:  return "Dravo";
        case 89:  return "Sevik";
        case 156: return "Korran R+";
        case 117: return "Korran R";
        case 161: return "Korran T+";
        case 118: return "Korran T";
        case 170: return "Korran V+";
        case 186: return "Korran Lite";
        case 179: return "KorranMini";
        case 147: return "Lumbrel 1E";
        case 148: return "Lumbrel 2E";
        case 149: return "Lumbrel 4E";
        case 150: return "Lumbrel 5E";
        case 151: return "Lumbrel 7E";
        case 133: return "Lumbrel 1J (Taldor IV)";
        case 134: return "Lumbrel 2J (Taldor IV)";
        case 135: return "Lumbrel 4J (Taldor IV)";
        case 136: return "Lumbrel 5J (Taldor IV)";
        case 137: return "Lumbrel 7J (Taldor IV)";
        case 111: return "Lumbrel 1J";
        case 112: return "Lumbrel 2J";
        case 113: return "Lumbrel 4J";
        case 114: return "Lumbrel 5J";
        case 126: return "Lumbrel 7J";
        case 141: return "Lumbrel 1 Mini";
        case 142: return "Lumbrel 2 Mini";
        case 143: return "Lumbrel 4 Mini";
        case 144: return "Lumbrel 5 Mini";
        case 145: return "Lumbrel 7 Mini";
        case 101: return "Lumbrel 1";
        case 102: return "Lumbrel 2";
        case 103: return "Lumbrel 4";
        case 104: return "Lumbrel 5";
        case 125: return "Lumbrel 7";
        case 110: return "Lumbrel J";
        default:  return "Unknown";
    }
}

Product::PID Product::fromDeviceName (const juce::String& name)
{
    // One test per model, tried in this order; a test succeeds when either of its patterns
    // fits. Within a family the longer pattern has to come before the shorter one that would
    // also fit it ("dravo ks" before "dravo k" before "dravo"), because the first success wins.
    struct Test
    {
        PID id;
        const char* patterns[2];
    };

    static constexpr Test tests[] =
    {
        { 130, { "*dravo ks*", nullptr } },
        { 94,  { "*dravo k*", nullptr } },
        { 176, { "*tamrel*", nullptr } },
        { 177, { "*ostrel*", nullptr } },
        { 79,  { "*dravo*", nullptr } },
        { 89,  { "*sevik*", nullptr } },
        { 156, { "*korran?r+*", nullptr } },
        { 117, { "*korran?r*", nullptr } },
        { 161, { "*korran?t+*", nullptr } },
        { 118, { "*korran?t*", nullptr } },
        { 170, { "*korran?v+*", nullptr } },
        { 186, { "*korran?lite*", nullptr } },
        { 179, { "*korranmini*", nullptr } },
        { 147, { "*lumbrel?1e*", nullptr } },
        { 148, { "*lumbrel?2e*", nullptr } },
        { 149, { "*lumbrel?4e*", nullptr } },
        { 150, { "*lumbrel?5e*", nullptr } },
        { 151, { "*lumbrel?7e*", nullptr } },
        { 133, { "*lumbrel?1j?dx*", "*lumbrel?1j?(td?iv)*" } },
        { 134, { "*lumbrel?2j?dx*", "*lumbrel?2j?(td?iv)*" } },
        { 135, { "*lumbrel?4j?dx*", "*lumbrel?4j?(td?iv)*" } },
        { 136, { "*lumbrel?5j?dx*", "*lumbrel?5j?(td?iv)*" } },
        { 137, { "*lumbrel?7j?dx*", "*lumbrel?7j?(td?iv)*" } },
        { 111, { "*lumbrel?1j*", nullptr } },
        { 112, { "*lumbrel?2j*", nullptr } },
        { 113, { "*lumbrel?4j*", nullptr } },
        { 114, { "*lumbrel?5j*", nullptr } },
        { 126, { "*lumbrel?7j*", nullptr } },
        { 141, { "*lumbrel?1?mini*", nullptr } },
        { 142, { "*lumbrel?2?mini*", nullptr } },
        { 143, { "*lumbrel?4?mini*", nullptr } },
        { 144, { "*lumbrel?5?mini*", nullptr } },
        { 145, { "*lumbrel?7?mini*", nullptr } },
        { 101, { "*lum?brel?1*", nullptr } },
        { 102, { "*lum?brel?2*", nullptr } },
        { 103, { "*lum?brel?4*", nullptr } },
        { 104, { "*lum?brel?5*", nullptr } },
        { 125, { "*lum?brel?7*", nullptr } },
    };

    // Only case and the blanks around the name are ignored; inner blanks and punctuation
    // are part of what the patterns look at.
    const auto normalised = name.toLowerCase().trim();

    for (const auto& test : tests)
        for (const auto* pattern : test.patterns)
            if (pattern != nullptr && normalised.matchesWildcard (pattern, true))
                return test.id;

    return noModel;
}

} // namespace fenz
