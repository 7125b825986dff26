#include <gtest/gtest.h>
#include "fenz_FirmwareServer.h"
#include "ScopedEnvironment.h"

#include <algorithm>

namespace
{
    struct RootCase
    {
        const char* value;
        const char* root;       // nullptr: refused, the constant is used
    };

    std::ostream& operator<< (std::ostream& out, const RootCase& c) { return out << '"' << c.value << '"'; }

    class ServerRoot : public ::testing::TestWithParam<RootCase> {};
}

// A mirror may be any https:// server; plain http:// only reaches this machine, so that a list
// and a firmware image never travel unprotected over a network. Anything else is refused aloud.
TEST_P (ServerRoot, OverrideRule)
{
    const auto& c = GetParam();

    ::testing::internal::CaptureStderr();
    const auto root = fenz::FirmwareServer::rootFrom (c.value);
    const auto errors = ::testing::internal::GetCapturedStderr();

    if (c.root != nullptr)
    {
        EXPECT_EQ (root, juce::String (c.root));
        EXPECT_EQ (errors, "");
    }
    else
    {
        EXPECT_EQ (root, juce::String (fenz::FirmwareServer::defaultRoot));
        EXPECT_NE (errors.find ("KESTAL_FIRMWARE_SERVER"), std::string::npos) << errors;
        EXPECT_NE (errors.find (c.value), std::string::npos) << errors;
        EXPECT_EQ (std::count (errors.begin(), errors.end(), '\n'), 1) << errors;
    }
}

INSTANTIATE_TEST_SUITE_P (Accepted, ServerRoot, ::testing::Values (
    RootCase { "",                                      "https://firmware.fenzwerk.example/" },
    RootCase { "   ",                                   "https://firmware.fenzwerk.example/" },
    RootCase { "https://mirror.example.org/",           "https://mirror.example.org/" },
    RootCase { "https://mirror.example.org",            "https://mirror.example.org/" },
    RootCase { "https://mirror.example.org/fenz",       "https://mirror.example.org/fenz/" },
    RootCase { "https://mirror.example.org:8443/a/b/",  "https://mirror.example.org:8443/a/b/" },
    RootCase { "https://10.1.2.3",                      "https://10.1.2.3/" },
    RootCase { " https://mirror.example.org/ ",         "https://mirror.example.org/" },
    RootCase { "http://127.0.0.1:8080",                 "http://127.0.0.1:8080/" },
    RootCase { "http://127.0.0.1/",                     "http://127.0.0.1/" },
    RootCase { "http://127.255.3.4/fw",                 "http://127.255.3.4/fw/" },
    RootCase { "http://localhost:9000/mirror",          "http://localhost:9000/mirror/" },
    RootCase { "http://LocalHost",                      "http://LocalHost/" },
    RootCase { "http://[::1]:8080/",                    "http://[::1]:8080/" },
    RootCase { "http://[::1]",                          "http://[::1]/" }));

INSTANTIATE_TEST_SUITE_P (Refused, ServerRoot, ::testing::Values (
    RootCase { "http://mirror.example.org/",            nullptr },
    RootCase { "http://10.0.0.1/",                      nullptr },
    RootCase { "http://128.0.0.1/",                     nullptr },
    RootCase { "http://127.0.0.256/",                   nullptr },
    RootCase { "http://127.0.0.1.mirror.example.org/",  nullptr },
    RootCase { "http://localhost.mirror.example.org/",  nullptr },
    RootCase { "http://127.0.0.1@mirror.example.org/",  nullptr },
    RootCase { "http://user@localhost/",                nullptr },
    RootCase { "http://127.1/",                         nullptr },
    RootCase { "http://0177.0.0.1/",                    nullptr },
    RootCase { "http://127.0.0.01/",                    nullptr },
    RootCase { "http://[::2]/",                         nullptr },
    RootCase { "http://[::1/",                          nullptr },
    RootCase { "http://127.0.0.1:/",                    nullptr },
    RootCase { "http://127.0.0.1:80x/",                 nullptr },
    RootCase { "http://",                               nullptr },
    RootCase { "https://",                              nullptr },
    RootCase { "https:///firmware/",                    nullptr },
    RootCase { "https://mirror.example.org/?list=1",    nullptr },
    RootCase { "https://mirror.example.org/#top",       nullptr },
    RootCase { "https://my mirror.example.org/",        nullptr },
    RootCase { "ftp://127.0.0.1/",                      nullptr },
    RootCase { "file:///srv/firmware/",                 nullptr },
    RootCase { "mirror.example.org",                    nullptr },
    RootCase { "127.0.0.1:8080",                        nullptr }));

using testsupport::ScopedEnvironment;

TEST (ServerRootVariable, UnsetGivesTheConstant)
{
    const ScopedEnvironment variable ("KESTAL_FIRMWARE_SERVER", nullptr);
    EXPECT_EQ (fenz::FirmwareServer::root(), "https://firmware.fenzwerk.example/");
}

TEST (ServerRootVariable, AcceptedValueIsTheRoot)
{
    const ScopedEnvironment variable ("KESTAL_FIRMWARE_SERVER", "http://127.0.0.1:4711/mirror");
    EXPECT_EQ (fenz::FirmwareServer::root(), "http://127.0.0.1:4711/mirror/");
    EXPECT_EQ (fenz::FirmwareServer::listAddress (176), "http://127.0.0.1:4711/mirror/firmware.xml");
}

TEST (ServerRootVariable, RefusedValueGivesTheConstantAndALine)
{
    const ScopedEnvironment variable ("KESTAL_FIRMWARE_SERVER", "http://mirror.example.org/");

    ::testing::internal::CaptureStderr();
    const auto root = fenz::FirmwareServer::root();
    const auto errors = ::testing::internal::GetCapturedStderr();

    EXPECT_EQ (root, "https://firmware.fenzwerk.example/");
    EXPECT_NE (errors.find ("http://mirror.example.org/"), std::string::npos) << errors;
}

// Two product lines have a list of their own; every other id, the unknown one included, reads
// the common list.
TEST (ServerListAddress, ByProduct)
{
    const ScopedEnvironment variable ("KESTAL_FIRMWARE_SERVER", nullptr);

    for (int id : { 94, 130 })
        EXPECT_EQ (fenz::FirmwareServer::listAddress (id), "https://firmware.fenzwerk.example/firmware-special.xml") << id;

    for (int id : { 176, 177, 79, 93, 95, 129, 131, 0, 2000 })
        EXPECT_EQ (fenz::FirmwareServer::listAddress (id), "https://firmware.fenzwerk.example/firmware.xml") << id;
}

// Every address the upgrader fetches, a redirect's target among them, is held to the root's
// rule: a mirror on this machine cannot send the upgrader to plain http elsewhere, nor to
// another scheme. The forms of 127.0.0.1 that a resolver reads but the rule does not are
// refused, as they are in a root.
TEST (ServerFetchRule, EveryAddressIsHeldToTheRootsRule)
{
    struct Case { const char* address; bool allowed; };

    const Case cases[] = {
        { "https://mirror.example.org/fw/a.bin",           true },
        { "https://cdn.example.net/a.bin?sig=1&t=2#x",     true },
        { "HTTPS://Mirror.Example.org",                    true },
        { "http://127.0.0.1:8000/a.bin",                   true },
        { "http://127.3.4.5/a.bin?x=1",                    true },
        { "http://localhost/a.bin",                        true },
        { "http://[::1]:9/a.bin",                          true },

        { "http://mirror.example.org/a.bin",               false },
        { "http://192.0.2.1/a.bin",                        false },
        { "http://2130706433:8000/a.bin",                  false },
        { "http://0x7f000001:8000/a.bin",                  false },
        { "http://127.1:8000/a.bin",                       false },
        { "http://0177.0.0.1/a.bin",                       false },
        { "http://localhost.example:8000/a.bin",           false },
        { "http://127.0.0.1@mirror.example.org/",          false },
        { "http://user:pw@127.0.0.1/",                     false },
        { "http://127.0.0.1#@mirror.example.org/",         false },
        { "http://127.0.0.1?@mirror.example.org/",         false },
        { "http://mirror.example.org?x=http://127.0.0.1/", false },
        { "http://127.0.0.1\\@mirror.example.org/",        false },
        { "http://127.0.0.1/a b.bin",                      false },
        { "http://127.0.0.1/a\x01.bin",                    false },
        { "http:///a.bin",                                 false },
        { "https://?x",                                    false },
        { "file:///etc/passwd",                            false },
        { "ftp://127.0.0.1/a.bin",                         false },
        { "gopher://127.0.0.1/",                           false },
        { "//127.0.0.1/a.bin",                             false },
        { "/a.bin",                                        false },
        { "",                                              false },
    };

    for (const auto& c : cases)
        EXPECT_EQ (fenz::FirmwareServer::mayFetch (c.address), c.allowed) << c.address;
}
