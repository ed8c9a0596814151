// GCC's call-site tables, read as its personality routine reads them.
#include "platform/win32/gcc_tables.h"

#include <cstring>

namespace pandel::platform::win32 {
namespace {

// Reads the language-specific data area that GCC's personality routine reads.
class LsdaReader {
public:
    explicit LsdaReader(const unsigned char* p) : p_(p) {}

    bool Uleb(std::uint64_t& value) {
        value = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            const unsigned char byte = *p_++;
            value |= std::uint64_t(byte & 0x7F) << shift;
            if ((byte & 0x80) == 0)
                return true;
        }
        return false;
    }

    bool Sleb(std::int64_t& value) {
        std::uint64_t result = 0;
        int shift = 0;
        unsigned char byte;
        do {
            if (shift >= 64)
                return false;
            byte = *p_++;
            result |= std::uint64_t(byte & 0x7F) << shift;
            shift += 7;
        } while ((byte & 0x80) != 0);
        if (shift < 64 && (byte & 0x40) != 0)
            result |= ~std::uint64_t(0) << shift;
        value = static_cast<std::int64_t>(result);
        return true;
    }

    // An offset in one of the plain encodings the tables use for call sites.
    bool Encoded(unsigned char encoding, std::uint64_t& value) {
        switch (encoding & 0x0F) {
        case 0x01:
            return Uleb(value);
        case 0x09: {
            std::int64_t signedValue;
            if (!Sleb(signedValue))
                return false;
            value = static_cast<std::uint64_t>(signedValue);
            return true;
        }
        case 0x02:
        case 0x0A:
            return Fixed<std::uint16_t>(value, encoding == 0x0A);
        case 0x03:
        case 0x0B:
            return Fixed<std::uint32_t>(value, encoding == 0x0B);
        case 0x04:
        case 0x0C:
            return Fixed<std::uint64_t>(value, false);
        case 0x00: // a pointer of the target
            return Fixed<std::uintptr_t>(value, false);
        default:
            return false;
        }
    }

    unsigned char Byte() { return *p_++; }
    const unsigned char* position() const { return p_; }

private:
    template <typename T> bool Fixed(std::uint64_t& value, bool isSigned) {
        T raw;
        std::memcpy(&raw, p_, sizeof raw);
        p_ += sizeof raw;
        value = raw;
        if constexpr (sizeof(T) < 8) {
            if (isSigned && (raw >> (sizeof(T) * 8 - 1)) != 0)
                value |= ~std::uint64_t(0) << (sizeof(T) * 8);
        }
        return true;
    }

    const unsigned char* p_;
};

constexpr unsigned char kOmitted = 0xFF;

} // namespace

CallSite FindCallSite(const void* lsda, std::uint64_t regionStart, std::uint64_t ip) {
    if (lsda == nullptr)
        return CallSite::kNoLandingPad;
    LsdaReader reader(static_cast<const unsigned char*>(lsda));
    const unsigned char landingPadStartEncoding = reader.Byte();
    if (landingPadStartEncoding != kOmitted) {
        std::uint64_t ignored;
        if ((landingPadStartEncoding & 0x70) != 0 ||
            !reader.Encoded(landingPadStartEncoding, ignored))
            return CallSite::kUnknown;
    }
    const unsigned char typeTableEncoding = reader.Byte();
    if (typeTableEncoding != kOmitted) {
        std::uint64_t ignored;
        if (!reader.Uleb(ignored))
            return CallSite::kUnknown;
    }
    const unsigned char callSiteEncoding = reader.Byte();
    if ((callSiteEncoding & 0x70) != 0)
        return CallSite::kUnknown;
    std::uint64_t tableLength;
    if (!reader.Uleb(tableLength))
        return CallSite::kUnknown;
    const unsigned char* end = reader.position() + tableLength;
    while (reader.position() < end) {
        std::uint64_t start, length, landingPad, action;
        if (!reader.Encoded(callSiteEncoding, start) || !reader.Encoded(callSiteEncoding, length) ||
            !reader.Encoded(callSiteEncoding, landingPad) || !reader.Uleb(action))
            return CallSite::kUnknown;
        // The table is sorted: once past ip, nothing later covers it.
        if (ip < regionStart + start)
            return CallSite::kNotCovered;
        if (ip < regionStart + start + length)
            return landingPad != 0 ? CallSite::kLandingPad : CallSite::kNoLandingPad;
    }
    return CallSite::kNotCovered;
}

} // namespace pandel::platform::win32
