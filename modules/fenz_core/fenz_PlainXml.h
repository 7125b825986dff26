#pragma once

#include <juce_core/juce_core.h>
#include <juce_data_structures/juce_data_structures.h>

namespace fenz
{

// What XML text from outside (a file, a server's answer, made text by decodeXmlText) must be
// before the framework's parser may see it.

// The most elements and attributes, counted together, that a text from outside may hold. The
// framework keeps the name of every attribute (and of every element a tree is made of) in one
// list for the rest of the process, and each name it has not seen yet costs time in proportion
// to that list; a tree then looks each attribute up among those of its element. A file of a
// megabyte could otherwise hold a hundred thousand names and keep the window busy for a minute.
constexpr int maxPlainXmlNames = 10000;

// True when the text is plain XML that nests no deeper than maxDepth and holds no more than
// maxPlainXmlNames elements and attributes: elements, attributes in quotes, text, comments,
// processing instructions, CDATA sections and the predefined and numeric references to
// characters that XML allows. Anything else (a document type declaration, another
// entity, a tag the parser would have to recover from) is refused, so that what is counted here
// is what the parser will build: the parser recurses once per level of nesting, and the entities
// of a declaration expand into elements that no look at the text could count.
//
// Inside an element, a processing instruction must be followed by markup, after any blanks,
// comments and further instructions: the parser skips an instruction as it skips a blank, then
// rewinds to read the text after it as one piece, stops at the instruction and starts again, for
// ever. The scan itself takes no stack per level and time in proportion to the text.
bool isPlainAndShallowXml (const juce::String& text, int maxDepth);

// The tree of a parsed document, with its text left out: a tree has no place for text, and the
// framework's own conversion stops on every piece of it as on a programming error. The element
// loses its text as well; it nests no deeper than the text check let it.
juce::ValueTree treeFromPlainXml (juce::XmlElement& root);

} // namespace fenz
