#include <gtest/gtest.h>

#include "fenz_Product.h"
#include "fenz_StringJoin.h"

#include <cstdlib>
#include <cstring>
#include <set>
#include <vector>

namespace
{

using fenz::Product;

struct PortCase
{
    const char* portName;
    Product::PID expected;
};

std::ostream& operator<< (std::ostream& os, const PortCase& c)
{
    return os << '"' << c.portName << "\" -> " << c.expected;
}

//==============================================================================
// One port name for every model the catalogue recognises, in the order the tests are tried.
// Wherever a model's name also contains the name of a shorter sibling ("Dravo KS" contains
// "Dravo K" and "Dravo", "Lumbrel 1J DX" contains "Lumbrel 1J"), the name given here fits
// both, so a test tried out of order or answering with the wrong id shows up.
const PortCase everyModel[] =
{
    { "Dravo KS",            130 },
    { "Dravo K",             94 },
    { "Tamrel",              176 },
    { "Ostrel",              177 },
    { "Dravo",               79 },
    { "Sevik",               89 },
    { "Korran R+",           156 },
    { "Korran R",            117 },
    { "Korran T+",           161 },
    { "Korran T",            118 },
    { "Korran V+",           170 },
    { "Korran Lite",         186 },
    { "KorranMini",          179 },
    { "Lumbrel 1E",          147 },
    { "Lumbrel 2E",          148 },
    { "Lumbrel 4E",          149 },
    { "Lumbrel 5E",          150 },
    { "Lumbrel 7E",          151 },
    { "Lumbrel 1J DX",       133 },
    { "Lumbrel 2J (TD IV)",  134 },
    { "Lumbrel 4J DX",       135 },
    { "Lumbrel 5J (TD IV)",  136 },
    { "Lumbrel 7J DX",       137 },
    { "Lumbrel 1J",          111 },
    { "Lumbrel 2J",          112 },
    { "Lumbrel 4J",          113 },
    { "Lumbrel 5J",          114 },
    { "Lumbrel 7J",          126 },
    { "Lumbrel 1 Mini",      141 },
    { "Lumbrel 2 Mini",      142 },
    { "Lumbrel 4 Mini",      143 },
    { "Lumbrel 5 Mini",      144 },
    { "Lumbrel 7 Mini",      145 },
    { "Lum Brel 1",          101 },
    { "Lum Brel 2",          102 },
    { "Lum Brel 4",          103 },
    { "Lum Brel 5",          104 },
    { "Lum Brel 7",          125 },
};

class EveryModel : public ::testing::TestWithParam<PortCase> {};

TEST_P (EveryModel, IsRecognisedFromItsPortName)
{
    EXPECT_EQ (Product::fromDeviceName (GetParam().portName), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P (ProductFromDeviceName, EveryModel, ::testing::ValuesIn (everyModel));

//==============================================================================
// Names as the system really lists them, and the near misses around them.
const PortCase portNames[] =
{
    // Case and the blanks around the name do not matter.
    { "  TAMREL  ",              176 },
    { "\tTamrel\n",              176 },
    { "OSTREL MIDI 1",           177 },
    { "MIDIIN2 (Tamrel)",        176 },
    { "dRaVo kS",                130 },

    // The first test that fits decides: longer names before the shorter ones they contain,
    // and the main unit and the extender before the plain Dravo.
    { "Dravo K2",                94 },
    { "Dravo X",                 79 },
    { "Dravo Tamrel",            176 },
    { "Tamrel Ostrel",           176 },
    { "Korran R+ MIDI",          156 },
    { "Korran T+",               161 },
    { "Lumbrel 1J (TD IV)",      133 },
    { "Lumbrel 7J (TD IV)",      137 },
    { "Lumbrel 2J DX",           134 },

    // "?" stands for exactly one character, whatever it is, but not for none or two.
    { "Korran-R",                117 },
    { "Korran\xe2\x80\x93R",     117 },  // an en dash: one character of three bytes
    { "Lumbrel_4E",              149 },
    { "Lumbrel\t5E",             150 },
    { "Lumbrel 1J-(TD-IV)",      133 },
    { "Lumbrel 1J.dx",           133 },
    { "KorranR",                 2000 },
    { "Korran  R",               2000 },
    { "Lumbrel1E",               2000 },
    { "Lumbrel 2",               2000 },  // the plain grades want a character inside the family word
    { "Lum Brel2",               2000 },

    // Inner blanks and punctuation are kept as they are.
    { "Dravo  KS",               79 },
    { "Korran Mini",             2000 },
    { "Tam rel",                 2000 },
    { "Lumbrel 1J ( TD IV )",    111 },
    { "Korran V",                2000 },  // only the V+ is catalogued

    // Grades and names outside the catalogue.
    { "Lumbrel 3E",              2000 },
    { "Lumbrel 3 Mini",          2000 },
    { "Lumbrel J",               2000 },  // has a display name but no port-name test
    { "Midi Through Port-0",     2000 },
    { "",                        2000 },
    { "   ",                     2000 },
};

class PortNames : public ::testing::TestWithParam<PortCase> {};

TEST_P (PortNames, AreRecognisedOrRejected)
{
    EXPECT_EQ (Product::fromDeviceName (juce::String::fromUTF8 (GetParam().portName)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P (ProductFromDeviceName, PortNames, ::testing::ValuesIn (portNames));

TEST (ProductFromDeviceName, NamedIdsAreTheOnesTheCatalogueUses)
{
    EXPECT_EQ (Product::fromDeviceName ("Tamrel"), Product::tamrel);
    EXPECT_EQ (Product::fromDeviceName ("Ostrel"), Product::ostrel);
    EXPECT_EQ (Product::fromDeviceName ("nothing"), Product::noModel);
    EXPECT_EQ (Product::noModel, 2000);
}

//==============================================================================
std::vector<Product::PID> catalogueIds()
{
    std::vector<Product::PID> ids { 110 };

    for (const auto& c : everyModel)
        ids.push_back (c.expected);

    return ids;
}

TEST (ProductGetName, EveryCatalogueIdHasItsOwnName)
{
    const auto ids = catalogueIds();
    std::set<juce::String> names;

    for (auto id : ids)
    {
        const auto name = Product::getName (id);
        EXPECT_NE (name, "Unknown") << id;
        EXPECT_EQ (name, name.trim()) << id;
        names.insert (name);
    }

    EXPECT_EQ (names.size(), ids.size());
}

// Most display names are themselves names the catalogue recognises as the same model; this
// checks the digits and letters of every such name against the recognition tests.
TEST (ProductGetName, NamesThatArePortNamesLeadBackToTheirId)
{
    const std::set<Product::PID> exceptions { 133, 134, 135, 136, 137, 101, 102, 103, 104, 125 };

    for (const auto& c : everyModel)
    {
        if (exceptions.count (c.expected) == 0)
        {
            EXPECT_EQ (Product::fromDeviceName (Product::getName (c.expected)), c.expected)
                << Product::getName (c.expected);
        }
    }
}

TEST (ProductGetName, OddNames)
{
    struct Case { Product::PID id; const char* name; };

    const Case cases[] =
    {
        { 176, "Tamrel" },
        { 177, "Ostrel" },
        { 130, "Dravo KS" },
        { 156, "Korran R+" },
        { 186, "Korran Lite" },
        { 179, "KorranMini" },
        { 133, "Lumbrel 1J (Taldor IV)" },
        { 134, "Lumbrel 2J (Taldor IV)" },
        { 135, "Lumbrel 4J (Taldor IV)" },
        { 136, "Lumbrel 5J (Taldor IV)" },
        { 137, "Lumbrel 7J (Taldor IV)" },
        { 126, "Lumbrel 7J" },
        { 145, "Lumbrel 7 Mini" },
        { 101, "Lumbrel 1" },
        { 102, "Lumbrel 2" },
        { 103, "Lumbrel 4" },
        { 104, "Lumbrel 5" },
        { 125, "Lumbrel 7" },
        { 110, "Lumbrel J" },
    };

    for (const auto& c : cases)
        EXPECT_EQ (Product::getName (c.id), c.name) << c.id;
}

TEST (ProductGetName, IdsOutsideTheCatalogueAreUnknown)
{
    for (auto id : { Product::noModel, -1, 0, 78, 100, 105, 175, 178, 187, -176, 176 + 256 })
        EXPECT_EQ (Product::getName (id), "Unknown") << id;
}

//==============================================================================
// Owns whatever strcat_0 allocated, so that a failing expectation does not leak.
struct Joined
{
    Joined (char* firstIn, char* resultIn) : first (firstIn), result (resultIn) {}
    ~Joined() { if (result != first) std::free (result); }

    bool allocated() const { return result != first; }

    char* first;
    char* result;
};

TEST (StrCat0, NothingToAppendGivesTheFirstStringBack)
{
    char a[] = "A";
    char empty[] = "";

    EXPECT_EQ (strcat_0 (a, nullptr), a);
    EXPECT_EQ (strcat_0 (a, "", "", nullptr), a);
    EXPECT_EQ (strcat_0 (empty, nullptr), empty);
    EXPECT_EQ (strcat_0 (empty, "", nullptr), empty);
    EXPECT_STREQ (a, "A");
}

TEST (StrCat0, EmptyFirstStringStillGivesANewBlock)
{
    char empty[] = "";
    Joined j (empty, strcat_0 (empty, "B", nullptr));

    ASSERT_TRUE (j.allocated());
    EXPECT_STREQ (j.result, "B");
}

TEST (StrCat0, JoinsEveryStringInArgumentOrder)
{
    char value[] = "Pan";
    Joined j (value, strcat_0 (value, "  ", "", "Volume", "", "!", nullptr));

    ASSERT_TRUE (j.allocated());
    EXPECT_STREQ (j.result, "Pan  Volume!");
    EXPECT_STREQ (value, "Pan");

    // The result is a block of its own, not a view of the first string.
    value[0] = 'X';
    EXPECT_STREQ (j.result, "Pan  Volume!");
}

TEST (StrCat0, JoinsBytesAsTheyAre)
{
    char value[] = "C\xc3\xa9";
    Joined j (value, strcat_0 (value, "  ", "\xe2\x80\x93", nullptr));

    ASSERT_TRUE (j.allocated());
    EXPECT_STREQ (j.result, "C\xc3\xa9  \xe2\x80\x93");
    EXPECT_EQ (std::strlen (j.result), 8u);
}

} // namespace
