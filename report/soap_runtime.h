// SOAP runtime contexts: made and released whole, with the namespace table of one generated side.
#pragma once

struct soap;
struct Namespace;

namespace pandel::soap {

// A new context with the runtime's defaults and the given namespace table in force; nullptr
// when there is no memory for one.
struct ::soap* NewContext(const struct ::Namespace* table);

// Releases everything the context holds (attachment settings, deserialized instances, temporary
// data, the connection) and the context itself. Nothing for nullptr.
void ReleaseContext(struct ::soap* context);

} // namespace pandel::soap
