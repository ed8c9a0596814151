// ErrObj from fault records and from Windows error codes, and its two-line report in DbgLog.
#include "diag/se_translator.h"
#include "pandel/err_obj.h"

#include "tests/diag/log_capture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace platform = pandel::platform;

namespace {

using pandel::ErrObj;
using pandel::ErrObjFromFault;
using pandel::test::DbgLogCapture;
using ::testing::HasSubstr;

TEST(ErrObj, ObjectsReportCodeKindAndDescription) {
    platform::FaultRecord records[] = {{0xC0000005u}, {0x80000002u}, {0xC0000006u}, {0xC000001Du},
                                       {0xC0000025u}, {0xC000008Cu}, {0xC0000094u}, {0xC0000095u},
                                       {0xC00000FDu}, {0xC0000096u}};
    struct Row {
        ErrObj error;
        std::int32_t code;
        std::string kindAndDescription;
    } rows[] = {
        {ErrObjFromFault(&records[0]), -1073741819, "\t\n\tEXCEPTION_ACCESS_VIOLATION"},
        {ErrObjFromFault(&records[1]), -2147483646, "\t\n\tEXCEPTION_DATATYPE_MISALIGNMENT"},
        {ErrObjFromFault(&records[2]), -1073741818, "\t\n\tEXCEPTION_IN_PAGE_ERROR"},
        {ErrObjFromFault(&records[3]), -1073741795, "\t\n\tEXCEPTION_ILLEGAL_INSTRUCTION"},
        {ErrObjFromFault(&records[4]), -1073741787, "\t\n\tEXCEPTION_NONCONTINUABLE_EXCEPTION"},
        {ErrObjFromFault(&records[5]), -1073741684, "\t\n\tEXCEPTION_ARRAY_BOUNDS_EXCEEDED"},
        {ErrObjFromFault(&records[6]), -1073741676, "\t\n\tEXCEPTION_INT_DIVIDE_BY_ZERO"},
        {ErrObjFromFault(&records[7]), -1073741675, "\t\n\tEXCEPTION_INT_OVERFLOW"},
        {ErrObjFromFault(&records[8]), -1073741571, "\t\n\tEXCEPTION_STACK_OVERFLOW"},
        // Outside the table the code is kept, without a description of its own.
        {ErrObjFromFault(&records[9]), -1073741674, "\t\n\tNo desc"},
        {ErrObjFromFault(nullptr), 0, "\t\n\tNo desc"},
        // A Windows error without a description takes the system's text (none on POSIX).
        {ErrObj(5, u"", true), 5,
         "\tWindows Error\n\t" + platform::Utf16ToUtf8(ErrObj::GetSystemErrorText(5))},
        {ErrObj(2, u"File not found.", true), 2, "\tWindows Error\n\tFile not found."},
    };
    DbgLogCapture log;
    for (Row& row : rows) {
        SCOPED_TRACE(row.code);
        ErrObj copy(row.error);
        EXPECT_EQ(copy.GetCode(), row.code);
        EXPECT_EQ(copy.GetDescription(), copy.GetDescription());
        copy.Report(12345);
        EXPECT_THAT(log.Appended(),
                    HasSubstr(DbgLogCapture::Entry(
                        u"Err occur, Code:" +
                        platform::Utf8ToUtf16(std::to_string(row.code) + row.kindAndDescription))));
    }
}

// A member function's calling convention: 32-bit Windows passes the object in ECX.
#if defined(_WIN32) && defined(__i386__)
#define MEMBER_CALL __attribute__((thiscall))
#else
#define MEMBER_CALL
#endif

// Hosts built apart call the operations by slot: after this ABI's two destructor entries come
// GetDescription and GetCode.
TEST(ErrObj, VirtualOperationsKeepTheirSlots) {
    using GetDescriptionSlot = std::u16string(MEMBER_CALL*)(const ErrObj*);
    using GetCodeSlot = std::int32_t(MEMBER_CALL*)(const ErrObj*);
    platform::FaultRecord record{0xC0000094u};
    ErrObj error = ErrObjFromFault(&record);
    void** slots = *reinterpret_cast<void***>(&error);
    EXPECT_EQ(reinterpret_cast<GetDescriptionSlot>(slots[2])(&error),
              u"EXCEPTION_INT_DIVIDE_BY_ZERO");
    EXPECT_EQ(reinterpret_cast<GetCodeSlot>(slots[3])(&error), -1073741676);
}

} // namespace
