// How the module parses with libxml2 and reads node text, shared by the XML store and the POSIX
// reader of the agent's file. Portable code.
#pragma once

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xpath.h>

#include <optional>
#include <string>

namespace pandel::platform::libxml {

// Errors stay out of the host's standard error; entities stay references until a text is read
// (replaced then, within bounds); nothing is fetched from the network.
inline constexpr int kParseOptions = XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NONET;

// Bytes that entity replacement may add to one text.
inline constexpr std::size_t kMaxEntityTextBytes = 4u << 20;

// Initialises libxml2 once per process; safe from any thread.
void InitParserOnce();

// Keeps XPath evaluation errors of context off standard error.
void SilenceXPathErrors(xmlXPathContextPtr context);

// The concatenated text of the node list that starts at first: text and CDATA nodes, entity
// references replaced, and with descendants also the text of child elements. nullopt when
// entity replacement would add more than kMaxEntityTextBytes, nest too deep or visit too many
// nodes: a hostile document can make a few bytes of references stand for gigabytes.
std::optional<std::string> BoundedText(xmlDocPtr document, const xmlNode* first, bool descendants);

} // namespace pandel::platform::libxml
