// The shipped library as Windows reads it: its version resource through the version API, and its
// seven entry points by their undecorated names.
#include "platform/wide_text.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

// The library of the same build: <build>/plugin/PluginPandel.dll, this program being
// <build>/tests/win32/<name>.exe.
std::wstring LibraryPath() {
    wchar_t self[4096] = {};
    const DWORD length = GetModuleFileNameW(nullptr, self, 4096);
    std::filesystem::path build =
        std::filesystem::path(std::wstring(self, length)).parent_path().parent_path().parent_path();
    return (build / L"plugin" / L"PluginPandel.dll").wstring();
}

std::string Utf8(const wchar_t* text, std::size_t length) {
    return pandel::platform::Utf16ToUtf8(
        std::u16string(reinterpret_cast<const char16_t*>(text), length));
}

class VersionResource : public ::testing::Test {
protected:
    void SetUp() override {
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeW(LibraryPath().c_str(), &ignored);
        ASSERT_NE(size, 0u) << "no version resource, error " << GetLastError();
        data_.resize(size);
        ASSERT_TRUE(GetFileVersionInfoW(LibraryPath().c_str(), 0, size, data_.data()));
    }

    // The string value name of the resource's one language block; empty when it is missing.
    std::string Text(const std::wstring& name) {
        void* value = nullptr;
        UINT length = 0;
        const std::wstring query = L"\\StringFileInfo\\040904b0\\" + name;
        if (!VerQueryValueW(data_.data(), query.c_str(), &value, &length) || length == 0)
            return "";
        const auto* text = static_cast<const wchar_t*>(value);
        std::size_t units = 0;
        while (units < length && text[units] != L'\0')
            ++units;
        return Utf8(text, units);
    }

    std::vector<unsigned char> data_;
};

TEST_F(VersionResource, FixedPartCarriesTheVersionAndTheBuildFlags) {
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(data_.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000003u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000003u);
    EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask,
              DWORD(VS_FF_PRIVATEBUILD | VS_FF_SPECIALBUILD));
    EXPECT_EQ(fixed->dwFileType, DWORD(VFT_DLL));
}

TEST_F(VersionResource, TextsAreTheLibrarysOwn) {
    const std::pair<const wchar_t*, const char*> fields[] = {
        {L"FileVersion", "1, 0, 0, 3"},
        {L"ProductVersion", "1, 0, 0, 3"},
        {L"FileDescription", "Pandel plugin"},
        {L"Comments", "Pandel plugin"},
        {L"InternalName", "PluginPandel"},
        {L"ProductName", "PluginPandel"},
        {L"OriginalFilename", "PluginPandel.dll"},
        {L"PrivateBuild", "20090807"},
        {L"SpecialBuild", "20090807"},
    };
    for (const auto& [name, text] : fields)
        EXPECT_EQ(Text(name), text) << Utf8(name, wcslen(name));
}

TEST(ShippedLibrary, EntryPointsAreFoundByTheirUndecoratedNames) {
    HMODULE library = LoadLibraryW(LibraryPath().c_str());
    ASSERT_NE(library, nullptr) << GetLastError();
    for (const char* name : {"InitModule", "UninitModule", "GetInfo", "RunTimeRoutine",
                             "GetPluginVersion", "SetDbg", "PostCommand"})
        EXPECT_NE(reinterpret_cast<void*>(GetProcAddress(library, name)), nullptr) << name;
    FreeLibrary(library);
}

} // namespace
