#pragma once

#include <juce_core/juce_core.h>

namespace fenz
{

// What XML text from outside (a file, a server's answer) must be before the framework's parser
// may see it. The parser recurses once per level of nesting, so a deeply nested text would
// overflow the stack; and the entities of a document type declaration expand into elements
// that no look at the text itself could count.
//
// True when the text is plain XML that nests no deeper than maxDepth: elements, attributes in
// quotes, text, comments, processing instructions, CDATA sections and the predefined and
// numeric character references. Anything else (a document type declaration, another entity, a
// tag the parser would have to recover from) is refused, so that what is counted here is what
// the parser will build. The scan itself takes no stack per level.
bool isPlainAndShallowXml (const juce::String& text, int maxDepth);

} // namespace fenz
