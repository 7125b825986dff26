#include "fenz_FirmwareServer.h"

#include <iostream>
#include "fenz_Text.h"

namespace fenz
{

namespace FirmwareServer
{
    namespace
    {
        // One part of a dotted IPv4 address as a plain decimal number 0 to 255, without
        // leading zeros (which some resolvers read as octal).
        bool isDecimalByte (const juce::String& part)
        {
            if (part.isEmpty() || part.length() > 3 || ! part.containsOnly ("0123456789"))
                return false;

            if (part.length() > 1 && part[0] == '0')
                return false;

            return part.getIntValue() <= 255;
        }

        // 127.0.0.0/8 written as four dotted decimal numbers, "localhost" or "[::1]".
        bool isLoopbackHost (const juce::String& host)
        {
            if (host.equalsIgnoreCase ("localhost") || host == "[::1]")
                return true;

            juce::StringArray parts;
            parts.addTokens (host, ".", {});

            if (parts.size() != 4 || parts[0] != "127")
                return false;

            for (const auto& part : parts)
                if (! isDecimalByte (part))
                    return false;

            return true;
        }

        // The host of an address's authority (what lies between "scheme://" and the path),
        // without its port; empty when the authority is not a plain host with an optional
        // numeric port. User names ("user@host") are refused outright: they are how an address
        // that starts like a loopback one can name another host.
        juce::String hostOf (const juce::String& authority)
        {
            if (authority.isEmpty() || authority.containsChar ('@'))
                return {};

            juce::String host, rest;

            if (authority.startsWithChar ('['))
            {
                const auto close = authority.indexOfChar (']');

                if (close < 0)
                    return {};

                host = authority.substring (0, close + 1);
                rest = authority.substring (close + 1);
            }
            else
            {
                host = authority.upToFirstOccurrenceOf (":", false, false);
                rest = authority.substring (host.length());
            }

            if (rest.isNotEmpty())
            {
                const auto port = rest.substring (1);

                if (! rest.startsWithChar (':') || port.isEmpty() || ! port.containsOnly ("0123456789"))
                    return {};
            }

            return host;
        }

        // The scheme and the host of an address: https:// for any host, http:// only for a
        // loopback host. Blanks, control characters and backslashes are refused anywhere (a
        // backslash reads as a "/" to some and as part of the host to others); the host is
        // what lies between "scheme://" and the first "/", "?" or "#".
        bool passesTheRule (const juce::String& value)
        {
            const bool secure = value.startsWithIgnoreCase ("https://");
            const bool plain  = value.startsWithIgnoreCase ("http://");

            if (! secure && ! plain)
                return false;

            if (value.containsAnyOf (" \t\r\n\f\v\\\x7f"))
                return false;

            for (auto p = value.getCharPointer(); ! p.isEmpty(); ++p)
                if (*p < 0x20)
                    return false;

            // No "@" before the path at all, not even after a "?" or "#" there: whatever reads
            // it as a user name reaches another host.
            const auto rest = value.fromFirstOccurrenceOf ("://", false, false);

            if (rest.upToFirstOccurrenceOf ("/", false, false).containsChar ('@'))
                return false;

            const auto end = rest.indexOfAnyOf ("/?#");
            const auto host = hostOf (end < 0 ? rest : rest.substring (0, end));

            if (host.isEmpty() || host == "[]")
                return false;

            return secure || isLoopbackHost (host);
        }

        // The value as a root address ending in "/", or empty when it is refused. A root is a
        // place to append list and file paths to: no query, no fragment.
        juce::String acceptedRoot (const juce::String& value)
        {
            if (value.containsAnyOf ("?#") || ! passesTheRule (value))
                return {};

            return value.endsWithChar ('/') ? value : value + "/";
        }
    }

    bool mayFetch (const juce::String& address)
    {
        return passesTheRule (address);
    }

    juce::String rootFrom (const juce::String& value)
    {
        const auto trimmed = value.trim();

        if (trimmed.isEmpty())
            return defaultRoot;

        const auto accepted = acceptedRoot (trimmed);

        if (accepted.isNotEmpty())
            return accepted;

        std::cerr << "KESTAL_FIRMWARE_SERVER \"" << value.toStdString()
                  << "\" refused (https:// for any host, http:// only for 127.0.0.0/8, localhost or [::1]); using "
                  << defaultRoot << std::endl;
        return defaultRoot;
    }

    juce::String root()
    {
        return rootFrom (environmentText ("KESTAL_FIRMWARE_SERVER"));
    }

    juce::String listAddress (int productId)
    {
        return root() + ((productId == 94 || productId == 130) ? "firmware-special.xml" : "firmware.xml");
    }

    bool fileNameFits (int productId, const juce::String& fileNameWithoutExtension)
    {
        const auto name = fileNameWithoutExtension.toLowerCase().trim();
        const auto fits = [&name] (const char* pattern) { return name.matchesWildcard (pattern, true); };

        switch (productId)
        {
            case 79: case 89:                           return fits ("*dravo_sevik_*");
            case 94:                                    return fits ("*dravo_k_*");
            case 130:                                   return fits ("*dravo_ks_*");
            case 117:                                   return fits ("*korran_r_*");
            case 118:                                   return fits ("*korran_t_*");
            case 156:                                   return fits ("*korran_r+_*");
            case 161:                                   return fits ("*korran_t+_*");
            case 179:                                   return fits ("*korran_mini_*");
            case 186:                                   return fits ("*korran_lite_*");
            case 176: case 177:                         return fits ("*tamrel_ostrel_*");

            case 147: case 148: case 149: case 150: case 151:
                return fits ("*lumbrel_*e_*");

            // The J models and their DX and Taldor IV variants share the family word; the
            // variants have ids of their own.
            case 110: case 111: case 112: case 113: case 114: case 126:
                return ! fits ("*lumbrel??j?dx?*") && ! fits ("*lumbrel??j?taldor?iv?*") && fits ("*lumbrel??j?*");

            case 133: case 134: case 135: case 136: case 137:
                return fits ("*lumbrel??j?dx?*") || fits ("*lumbrel??j?taldor?iv?*");

            default:
                return true;
        }
    }
}

} // namespace fenz
