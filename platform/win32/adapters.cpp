// Adapters on Windows: the IP Helper's adapter list, and the NDIS permanent-address query on each
// adapter's device.
#include "platform/adapters.h"

#include "platform/win32/windows_api.h"

#include <iphlpapi.h>

#include <cstring>
#include <new>

namespace pandel::platform::native {
namespace {

constexpr DWORD kNdisQueryGlobalStats = 0x00170002; // IOCTL_NDIS_QUERY_GLOBAL_STATS
constexpr DWORD kPermanentAddressOid = 0x01010101;  // OID_802_3_PERMANENT_ADDRESS
constexpr std::size_t kDevicePathSize = 130;        // wide characters, terminator included
constexpr wchar_t kDevicePrefix[] = L"//./";
// The list can grow between the size query and the read; a few tries settle it.
constexpr int kListTries = 4;

// The IP Helper's list in storage aligned for its records; nullopt when it cannot be had.
std::optional<std::vector<std::uint64_t>> ReadAdapterList() {
    ULONG size = 0;
    DWORD status = GetAdaptersInfo(nullptr, &size);
    for (int attempt = 0; attempt < kListTries; ++attempt) {
        if (status == ERROR_NO_DATA)
            return std::vector<std::uint64_t>();
        if (status != ERROR_BUFFER_OVERFLOW || size == 0)
            return std::nullopt;
        // The size the system asked for plus one byte, rounded up to whole records' alignment.
        const std::size_t words = (static_cast<std::size_t>(size) + 1 + 7) / 8;
        std::vector<std::uint64_t> buffer(words, 0);
        ULONG room = static_cast<ULONG>(words * 8);
        status = GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &room);
        if (status == ERROR_SUCCESS)
            return buffer;
        size = room;
    }
    return std::nullopt;
}

// "//./" and the adapter's name, when that fits the device path buffer.
std::optional<std::wstring> DevicePath(const std::string& adapterName) {
    std::wstring path = kDevicePrefix;
    // Adapter names are GUIDs in braces; each byte is its own character.
    for (char c : adapterName)
        path.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    if (path.size() + 1 > kDevicePathSize)
        return std::nullopt;
    return path;
}

std::optional<HardwareAddress> QueryPermanentAddress(const std::wstring& devicePath) {
    HANDLE device =
        CreateFileW(devicePath.c_str(), GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE)
        return std::nullopt;
    DWORD oid = kPermanentAddressOid;
    HardwareAddress address{};
    DWORD returned = 0;
    const BOOL answered =
        DeviceIoControl(device, kNdisQueryGlobalStats, &oid, sizeof oid, address.data(),
                        static_cast<DWORD>(address.size()), &returned, nullptr);
    CloseHandle(device);
    // An answer shorter than an address is no address.
    if (!answered || returned != address.size())
        return std::nullopt;
    return address;
}

} // namespace

std::optional<std::vector<AdapterAnswer>> QueryAdapterPermanentAddresses() {
    try {
        std::optional<std::vector<std::uint64_t>> list = ReadAdapterList();
        if (!list)
            return std::nullopt;
        std::vector<AdapterAnswer> adapters;
        if (list->empty())
            return adapters;
        for (const IP_ADAPTER_INFO* adapter =
                 reinterpret_cast<const IP_ADAPTER_INFO*>(list->data());
             adapter != nullptr; adapter = adapter->Next) {
            std::string name(adapter->AdapterName,
                             strnlen(adapter->AdapterName, sizeof adapter->AdapterName));
            std::optional<std::wstring> path = DevicePath(name);
            std::optional<HardwareAddress> address;
            if (path)
                address = QueryPermanentAddress(*path);
            adapters.push_back({std::move(name), address});
        }
        return adapters;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

} // namespace pandel::platform::native
