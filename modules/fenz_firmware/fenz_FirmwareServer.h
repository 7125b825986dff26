#pragma once

#include <juce_core/juce_core.h>

namespace fenz
{

namespace FirmwareServer
{
    // The maker's firmware server. No such server exists for us, so the constant is a reserved
    // name that reaches no one; KESTAL_FIRMWARE_SERVER names a mirror.
    constexpr const char* defaultRoot = "https://firmware.fenzwerk.example/";

    // The root address, ending in "/": KESTAL_FIRMWARE_SERVER when it is an https:// address,
    // or an http:// address of a loopback host; otherwise (with a line on standard error for a
    // refused value) the constant.
    juce::String root();

    // The same rule for a given value (empty: the constant); what root() applies.
    juce::String rootFrom (const juce::String& value);

    // Whether a request may go to the address: the root's rule, held to every address that is
    // fetched, each redirect's target among them. https:// for any host, http:// only for
    // 127.0.0.0/8 in dotted decimal, localhost or [::1]; no other scheme, no user name, no
    // blanks. A query and a fragment are allowed here, unlike in a root.
    bool mayFetch (const juce::String& address);

    // The list document of a product: "firmware-special.xml" for 94 and 130, "firmware.xml"
    // for every other id, under the root.
    juce::String listAddress (int productId);

    // The local file-name rule of a product id, tested on the name without its extension,
    // lower-cased and trimmed. Ids without a rule accept every name.
    bool fileNameFits (int productId, const juce::String& fileNameWithoutExtension);
}

} // namespace fenz
