// The XML store: IConfig, and CXmlConfig, a document built from UTF-16 text, read and edited
// through XPath paths. Reads never fail; SetString creates the elements that are missing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pandel {

// Result of the operations a store does not implement (E_NOTIMPL).
inline constexpr std::int32_t kNotImplemented = static_cast<std::int32_t>(0x80004001u);

// The store's abstract interface. The order of the virtual operations is fixed: hosts and
// stores built apart rely on the slots. The destructor is the 22nd.
class IConfig {
public:
    virtual std::int32_t GetDword(const std::u16string& path, std::uint32_t& value) = 0;
    virtual std::int32_t GetLong(const std::u16string& path, std::int32_t& value) = 0;
    virtual std::int32_t GetString(const std::u16string& path, std::u16string& value) = 0;
    virtual std::int32_t GetText(const std::u16string& path, std::u16string& value) = 0;
    virtual std::int32_t GetFlag(const std::u16string& path, std::int32_t& value) = 0;
    virtual std::int32_t GetBool(const std::u16string& path, bool& value) = 0;
    virtual std::int32_t GetBoolList(const std::u16string& path, std::vector<bool>& values) = 0;
    virtual std::int32_t GetStringList(const std::u16string& path,
                                       std::vector<std::u16string>& values) = 0;
    virtual std::int32_t GetLongList(const std::u16string& path,
                                     std::vector<std::int32_t>& values) = 0;
    virtual std::int32_t GetTextList(const std::u16string& path,
                                     std::vector<std::u16string>& values) = 0;
    virtual std::int32_t SetString(const std::u16string& path, const std::u16string& value) = 0;
    virtual std::int32_t SetDword(const std::u16string& path, std::uint32_t value) = 0;
    virtual std::int32_t SetLong(const std::u16string& path, std::int32_t value) = 0;
    virtual std::int32_t SetFlag(const std::u16string& path, std::int32_t value) = 0;
    virtual std::int32_t SetBool(const std::u16string& path, bool value) = 0;
    virtual std::int32_t SetStringList(const std::u16string& path,
                                       const std::vector<std::u16string>& values) = 0;
    virtual std::int32_t SetLongList(const std::u16string& path,
                                     const std::vector<std::int32_t>& values) = 0;
    virtual std::int32_t SetBoolList(const std::u16string& path,
                                     const std::vector<bool>& values) = 0;
    virtual std::int32_t Load(const std::u16string& filePath) = 0;
    virtual std::int32_t SaveAs(const std::u16string& filePath) = 0;
    virtual std::int32_t GetCount(const std::u16string& path, std::int32_t& count) = 0;
    virtual ~IConfig() = default;
    virtual std::int32_t Remove(const std::u16string& path) = 0;
    virtual std::int32_t Clear() = 0;
    virtual std::int32_t Save() = 0;
    virtual std::int32_t GetXml(const std::u16string& path, std::u16string& xml) = 0;
};

struct XmlDocContext;

// The libxml2 store. Built on the stack for one command or one probe; never copied.
class CXmlConfig final : public IConfig {
public:
    // Parses the whole text (handed to the parser as UTF-8, whatever its declaration says).
    // Text that is not well-formed gives a store without a document.
    explicit CXmlConfig(const std::u16string& xml);
    ~CXmlConfig() override;
    CXmlConfig(const CXmlConfig&) = delete;
    CXmlConfig& operator=(const CXmlConfig&) = delete;

    // Names the file that Save writes. The module itself never calls it; tools and tests do.
    void SetSavePath(const std::u16string& filePath);

    std::int32_t GetDword(const std::u16string& path, std::uint32_t& value) override;
    std::int32_t GetLong(const std::u16string& path, std::int32_t& value) override;
    std::int32_t GetString(const std::u16string& path, std::u16string& value) override;
    std::int32_t GetText(const std::u16string& path, std::u16string& value) override;
    std::int32_t GetFlag(const std::u16string& path, std::int32_t& value) override;
    std::int32_t GetBool(const std::u16string& path, bool& value) override;
    std::int32_t GetBoolList(const std::u16string& path, std::vector<bool>& values) override;
    std::int32_t GetStringList(const std::u16string& path,
                               std::vector<std::u16string>& values) override;
    std::int32_t GetLongList(const std::u16string& path,
                             std::vector<std::int32_t>& values) override;
    std::int32_t GetTextList(const std::u16string& path,
                             std::vector<std::u16string>& values) override;
    // Sets the value at path, creating the elements that are missing; 0 when the value was set,
    // -1 when the path led nowhere (no segment, no document, an invalid name).
    std::int32_t SetString(const std::u16string& path, const std::u16string& value) override;
    std::int32_t SetDword(const std::u16string& path, std::uint32_t value) override;
    std::int32_t SetLong(const std::u16string& path, std::int32_t value) override;
    std::int32_t SetFlag(const std::u16string& path, std::int32_t value) override;
    std::int32_t SetBool(const std::u16string& path, bool value) override;
    std::int32_t SetStringList(const std::u16string& path,
                               const std::vector<std::u16string>& values) override;
    std::int32_t SetLongList(const std::u16string& path,
                             const std::vector<std::int32_t>& values) override;
    std::int32_t SetBoolList(const std::u16string& path, const std::vector<bool>& values) override;
    std::int32_t Load(const std::u16string& filePath) override;
    std::int32_t SaveAs(const std::u16string& filePath) override;
    std::int32_t GetCount(const std::u16string& path, std::int32_t& count) override;
    std::int32_t Remove(const std::u16string& path) override;
    std::int32_t Clear() override;
    // Writes the whole document to the save path; nothing without a document or a path. The
    // outcome is not reported: the result is 0.
    std::int32_t Save() override;
    std::int32_t GetXml(const std::u16string& path, std::u16string& xml) override;

private:
    XmlDocContext* context_;
    std::u16string filePath_; // where Save writes; empty unless SetSavePath named it
};

} // namespace pandel
