// The service description shipped to server implementers (report/wsdl) against the service
// definition that soapcpp2 compiles, and the module's real requests against its schemas.
#include "harness/fake_platform.h"
#include "harness/http_framing.h"
#include "harness/loopback_server.h"
#include "report/report_sender.h"
#include "tests/report/report_test_support.h"
#include "tests/support/temp_root.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlschemas.h>

#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace pandel::test {
namespace {

constexpr const char* kWsdlNs = "http://schemas.xmlsoap.org/wsdl/";
constexpr const char* kWsdlSoapNs = "http://schemas.xmlsoap.org/wsdl/soap/";
constexpr const char* kSchemaNs = "http://www.w3.org/2001/XMLSchema";
constexpr const char* kEnvelopeNs = "http://schemas.xmlsoap.org/soap/envelope/";
const std::string kShippedDir = std::string(PANDEL_SOURCE_DIR) + "/report/wsdl";
const std::string kShipped = kShippedDir + "/DeviceConfig.wsdl";
const std::string kCompiled = PANDEL_COMPILED_WSDL;

struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using Doc = std::unique_ptr<xmlDoc, DocFree>;

Doc Load(const std::string& path) {
    return Doc(xmlReadFile(path.c_str(), nullptr, XML_PARSE_NONET));
}

std::string Attr(const xmlNode* node, const char* name) {
    xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
    if (value == nullptr)
        return std::string();
    std::string text = reinterpret_cast<const char*>(value);
    xmlFree(value);
    return text;
}

bool Is(const xmlNode* node, const char* ns, const char* name) {
    return node->type == XML_ELEMENT_NODE && node->ns != nullptr &&
           std::strcmp(reinterpret_cast<const char*>(node->ns->href), ns) == 0 &&
           std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

std::vector<const xmlNode*> Children(const xmlNode* parent, const char* ns, const char* name) {
    std::vector<const xmlNode*> found;
    for (const xmlNode* child = parent->children; child != nullptr; child = child->next)
        if (Is(child, ns, name))
            found.push_back(child);
    return found;
}

// Every element of that name below node, in document order.
void Descendants(const xmlNode* node, const char* ns, const char* name,
                 std::vector<const xmlNode*>* found) {
    for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
        if (Is(child, ns, name))
            found->push_back(child);
        Descendants(child, ns, name, found);
    }
}

// A qualified name attribute as {namespace}local, by the declarations in scope, not the prefix.
std::string QName(const xmlNode* node, const char* attribute) {
    const std::string text = Attr(node, attribute);
    const std::size_t colon = text.find(':');
    const std::string prefix = colon == std::string::npos ? "" : text.substr(0, colon);
    const std::string local = colon == std::string::npos ? text : text.substr(colon + 1);
    const xmlNs* ns =
        xmlSearchNs(node->doc, const_cast<xmlNode*>(node),
                    prefix.empty() ? nullptr : reinterpret_cast<const xmlChar*>(prefix.c_str()));
    return "{" + std::string(ns ? reinterpret_cast<const char*>(ns->href) : "") + "}" + local;
}

// A schema particle tree in words: elements with their types and occurrences, nested content.
std::string Describe(const xmlNode* node) {
    std::string out;
    for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
        if (child->type != XML_ELEMENT_NODE || Is(child, kSchemaNs, "annotation"))
            continue;
        out += reinterpret_cast<const char*>(child->name);
        for (const char* attribute : {"name", "minOccurs", "maxOccurs", "use"})
            if (!Attr(child, attribute).empty())
                out += std::string(" ") + attribute + "=" + Attr(child, attribute);
        for (const char* attribute : {"type", "base", "ref"})
            if (!Attr(child, attribute).empty())
                out += std::string(" ") + attribute + "=" + QName(child, attribute);
        out += "(" + Describe(child) + ")";
    }
    return out;
}

// What the two descriptions must agree on, each in words keyed by a name.
std::map<std::string, std::string> Contract(const xmlDoc* doc) {
    std::map<std::string, std::string> contract;
    const xmlNode* definitions = xmlDocGetRootElement(doc);
    std::map<std::string, std::string> messages; // {tns}name -> its parts' elements
    std::map<std::string, std::string> parts;    // {tns}name part -> its element
    const std::string tns = Attr(definitions, "targetNamespace");
    for (const xmlNode* message : Children(definitions, kWsdlNs, "message")) {
        const std::string name = "{" + tns + "}" + Attr(message, "name");
        for (const xmlNode* part : Children(message, kWsdlNs, "part")) {
            messages[name] += Attr(part, "name") + "=" + QName(part, "element") + " ";
            parts[name + " " + Attr(part, "name")] = QName(part, "element");
        }
    }
    for (const xmlNode* portType : Children(definitions, kWsdlNs, "portType"))
        for (const xmlNode* op : Children(portType, kWsdlNs, "operation"))
            for (const char* way : {"input", "output"})
                for (const xmlNode* io : Children(op, kWsdlNs, way))
                    contract["operation " + Attr(op, "name") + " " + way] =
                        messages[QName(io, "message")];
    for (const xmlNode* binding : Children(definitions, kWsdlNs, "binding")) {
        for (const xmlNode* soap : Children(binding, kWsdlSoapNs, "binding"))
            contract["binding"] = Attr(soap, "style") + " " + Attr(soap, "transport");
        for (const xmlNode* op : Children(binding, kWsdlNs, "operation")) {
            std::string words;
            for (const xmlNode* soapOp : Children(op, kWsdlSoapNs, "operation"))
                words += "soapAction=\"" + Attr(soapOp, "soapAction") + "\" ";
            for (const char* way : {"input", "output"})
                for (const xmlNode* io : Children(op, kWsdlNs, way)) {
                    words += std::string(way) + ":";
                    for (const xmlNode* body : Children(io, kWsdlSoapNs, "body"))
                        words += " body " + Attr(body, "use") + " " + Attr(body, "parts");
                    for (const xmlNode* header : Children(io, kWsdlSoapNs, "header"))
                        words += " header " + Attr(header, "use") + " " +
                                 parts[QName(header, "message") + " " + Attr(header, "part")];
                    words += "; ";
                }
            contract["binding operation " + Attr(op, "name")] = words;
        }
    }
    std::vector<const xmlNode*> addresses;
    Descendants(definitions, kWsdlSoapNs, "address", &addresses);
    for (const xmlNode* address : addresses)
        contract["location"] = Attr(address, "location");
    std::vector<const xmlNode*> schemas;
    Descendants(definitions, kSchemaNs, "schema", &schemas);
    for (const xmlNode* schema : schemas) {
        const std::string ns = Attr(schema, "targetNamespace");
        contract["schema " + ns] =
            Attr(schema, "elementFormDefault") + " " + Attr(schema, "attributeFormDefault");
        for (const char* kind : {"element", "complexType", "simpleType"})
            for (const xmlNode* declaration : Children(schema, kSchemaNs, kind))
                contract[std::string(kind) + " {" + ns + "}" + Attr(declaration, "name")] =
                    (Attr(declaration, "type").empty() ? "" : QName(declaration, "type") + " ") +
                    Describe(declaration);
    }
    return contract;
}

TEST(ServiceDescription, ShippedAgreesWithTheCompiledDefinition) {
    Doc shipped = Load(kShipped);
    Doc compiled = Load(kCompiled);
    ASSERT_TRUE(shipped) << kShipped;
    ASSERT_TRUE(compiled) << kCompiled;
    const std::map<std::string, std::string> expected = Contract(compiled.get());
    const std::map<std::string, std::string> actual = Contract(shipped.get());
    // The toolkit's own WSDL names the four operations' messages, the header, the binding
    // and the service's types; all must be there, word for word.
    ASSERT_EQ(expected.count("operation Set input"), 1u);
    ASSERT_EQ(expected.count("element {urn:pandel:device-config}SetResponse"), 1u);
    EXPECT_EQ(expected, actual);
}

TEST(ServiceDescription, LoadsWithoutTheNetworkAndKeepsThePrefixSoapFree) {
    Doc shipped = Load(kShipped);
    ASSERT_TRUE(shipped);
    // Every import and include names a file beside the description.
    std::vector<const xmlNode*> references;
    for (const char* kind : {"import", "include"}) {
        Descendants(xmlDocGetRootElement(shipped.get()), kSchemaNs, kind, &references);
        Descendants(xmlDocGetRootElement(shipped.get()), kWsdlNs, kind, &references);
    }
    ASSERT_FALSE(references.empty());
    for (const xmlNode* reference : references) {
        std::string location = Attr(reference, "schemaLocation");
        if (location.empty())
            location = Attr(reference, "location");
        SCOPED_TRACE(location);
        EXPECT_EQ(location.find(':'), std::string::npos);
        EXPECT_TRUE(Load(kShippedDir + "/" + location));
    }
    // Some stacks copy the description's prefixes onto their own envelope, whose prefix is
    // often "soap": the description binds no prefix soap at all.
    EXPECT_EQ(ReadFile(kShipped).find("xmlns:soap="), std::string::npos);
}

void IgnoreError(void*, xmlError*) {}

struct SchemaFree {
    void operator()(xmlSchema* schema) const { xmlSchemaFree(schema); }
};

// The shipped schemas as one: the WSDL's own schema with the imports it names.
std::unique_ptr<xmlSchema, SchemaFree> ShippedSchema() {
    Doc wsdl = Load(kShipped);
    if (!wsdl)
        return nullptr;
    std::vector<const xmlNode*> schemas;
    Descendants(xmlDocGetRootElement(wsdl.get()), kSchemaNs, "schema", &schemas);
    if (schemas.size() != 1)
        return nullptr;
    Doc schemaDoc(xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0")));
    xmlNode* copy = xmlDocCopyNode(const_cast<xmlNode*>(schemas[0]), schemaDoc.get(), 1);
    xmlDocSetRootElement(schemaDoc.get(), copy);
    // The namespaces declared on the WSDL's root are in scope for the schema's QNames.
    for (const xmlNs* ns = xmlDocGetRootElement(wsdl.get())->nsDef; ns != nullptr; ns = ns->next)
        if (xmlSearchNs(schemaDoc.get(), copy, ns->prefix) == nullptr)
            xmlNewNs(copy, ns->href, ns->prefix);
    schemaDoc->URL = xmlStrdup(reinterpret_cast<const xmlChar*>(kShipped.c_str())); // for imports
    xmlSchemaParserCtxt* parser = xmlSchemaNewDocParserCtxt(schemaDoc.get());
    xmlSchema* schema = xmlSchemaParse(parser);
    xmlSchemaFreeParserCtxt(parser);
    return std::unique_ptr<xmlSchema, SchemaFree>(schema);
}

// The module's real request for a report, as it reached a loopback server.
std::string RequestBody(const std::u16string& report) {
    LoopbackServer server(HttpResponse(200, Soap11("<s:SetResponse><s:r>0</s:r></s:SetResponse>")));
    const std::string url = LoopbackUrl(server.port());
    std::int32_t slot = 0;
    SendReport(url.c_str(), report.c_str(), &slot);
    return MessageBody(server.Request());
}

TEST(ServiceDescription, EveryRequestOfTheModuleValidatesAgainstTheShippedSchemas) {
    auto schema = ShippedSchema();
    ASSERT_TRUE(schema);
    ScopedFakePlatform platform;
    platform.fake.resolver["terminal"] = {"192.168.1.20", "10.0.0.7"};
    const std::u16string reports[] = {
        u"<?xml version=\"1.0\" encoding=\"UTF-8\"?><Root><TaskStatusResponse><ScheduleId>42"
        u"</ScheduleId><Progress>101</Progress><ErrorInfo></ErrorInfo></TaskStatusResponse></Root>",
        u"<Root ID=\"02000000000A\"/>",
        u"<Root ID=\"\"/>",
        u"x < 5 & y > 3\r\n\t\"\u00e9\u20ac\u4e2d",
    };
    for (const std::u16string& report : reports) {
        const std::string body = RequestBody(report);
        SCOPED_TRACE(body);
        Doc doc(xmlReadMemory(body.data(), static_cast<int>(body.size()), nullptr, nullptr,
                              XML_PARSE_NONET));
        ASSERT_TRUE(doc);
        const xmlNode* envelope = xmlDocGetRootElement(doc.get());
        ASSERT_TRUE(Is(envelope, kEnvelopeNs, "Envelope"));
        std::vector<const xmlNode*> parts;
        for (const char* name : {"Header", "Body"})
            for (const xmlNode* part : Children(envelope, kEnvelopeNs, name))
                for (const xmlNode* child = part->children; child != nullptr; child = child->next)
                    if (child->type == XML_ELEMENT_NODE)
                        parts.push_back(child);
        ASSERT_EQ(parts.size(), 5u); // MessageID, From, To, Action; Set
        for (const xmlNode* part : parts) {
            SCOPED_TRACE(reinterpret_cast<const char*>(part->name));
            xmlSchemaValidCtxt* validator = xmlSchemaNewValidCtxt(schema.get());
            EXPECT_EQ(0, xmlSchemaValidateOneElement(validator, const_cast<xmlNode*>(part)));
            xmlSchemaFreeValidCtxt(validator);
        }
    }
}

TEST(ServiceDescription, SchemasRefuseWhatTheModuleNeverSends) {
    auto schema = ShippedSchema();
    ASSERT_TRUE(schema);
    const std::string ns = "xmlns:s=\"urn:pandel:device-config\" "
                           "xmlns:wsa=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\"";
    const std::string wrong[] = {
        "<s:Set " + ns + "/>",                    // no xIn
        "<s:Set " + ns + "><xIn>a</xIn></s:Set>", // xIn unqualified
        "<s:Set " + ns + "><s:xIn>a</s:xIn><s:xIn>b</s:xIn></s:Set>",
        "<s:SetResponse " + ns + "><s:r>x</s:r></s:SetResponse>",
        "<s:SetResponse " + ns + "/>", // r is required
        "<wsa:From " + ns + "/>",      // Address is required
        "<s:Put " + ns + "><s:xIn>a</s:xIn></s:Put>",
    };
    for (const std::string& text : wrong) {
        SCOPED_TRACE(text);
        Doc doc(xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr,
                              XML_PARSE_NONET | XML_PARSE_NOERROR));
        ASSERT_TRUE(doc);
        xmlSchemaValidCtxt* validator = xmlSchemaNewValidCtxt(schema.get());
        xmlSchemaSetValidStructuredErrors(validator, IgnoreError, nullptr);
        EXPECT_NE(0, xmlSchemaValidateDoc(validator, doc.get()));
        xmlSchemaFreeValidCtxt(validator);
    }
}

} // namespace
} // namespace pandel::test
