// ErrObj built from fault records and from Windows error codes, and its report in DbgLog.
#include "diag/err_obj.h"

#include "tests/diag/log_capture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using pandel::ErrObj;
using pandel::test::DbgLogCapture;
using pandel::test::Decimal;
using ::testing::HasSubstr;

TEST(ErrObjFromFault, TheTableGivesNameAndSignedCodeAndTheReportShowsThem) {
    struct Row {
        std::uint32_t code;
        std::int32_t reported;
        const char16_t* description;
    } const rows[] = {
        {0xC0000005u, -1073741819, u"EXCEPTION_ACCESS_VIOLATION"},
        {0x80000002u, -2147483646, u"EXCEPTION_DATATYPE_MISALIGNMENT"},
        {0xC0000006u, -1073741818, u"EXCEPTION_IN_PAGE_ERROR"},
        {0xC000001Du, -1073741795, u"EXCEPTION_ILLEGAL_INSTRUCTION"},
        {0xC0000025u, -1073741787, u"EXCEPTION_NONCONTINUABLE_EXCEPTION"},
        {0xC000008Cu, -1073741684, u"EXCEPTION_ARRAY_BOUNDS_EXCEEDED"},
        {0xC0000094u, -1073741676, u"EXCEPTION_INT_DIVIDE_BY_ZERO"},
        {0xC0000095u, -1073741675, u"EXCEPTION_INT_OVERFLOW"},
        {0xC00000FDu, -1073741571, u"EXCEPTION_STACK_OVERFLOW"},
        // Outside the table: the code is kept, with no description of its own.
        {0xC0000096u, -1073741674, u"No desc"},
        {0u, 0, u"No desc"},
    };
    DbgLogCapture log;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.reported);
        platform::FaultRecord record{row.code};
        ErrObj error(&record);
        EXPECT_EQ(error.GetCode(), row.reported);
        EXPECT_EQ(error.GetDescription(), row.description);
        EXPECT_EQ(error.GetDescription(), row.description);
        ErrObj copy(error);
        EXPECT_EQ(copy.GetCode(), row.reported);
        EXPECT_EQ(copy.GetDescription(), row.description);
        if (!log.Available())
            continue;
        copy.Report(12345);
        EXPECT_THAT(log.Appended(),
                    HasSubstr(DbgLogCapture::Entry(u"Err occur, Code:" + Decimal(row.code) +
                                                   u"\t\n\t" + row.description)));
    }
}

TEST(ErrObjFromFault, ANullRecordIsCodeZero) {
    ErrObj error(nullptr);
    EXPECT_EQ(error.GetCode(), 0);
    EXPECT_EQ(error.GetDescription(), u"No desc");
}

TEST(ErrObjWindowsError, KindIsShownAndTheSystemTextIsEmptyHere) {
    DbgLogCapture log;
    ErrObj windows(5, u"", true);
    EXPECT_EQ(ErrObj::GetSystemErrorText(5), u"");
    EXPECT_EQ(windows.GetDescription(), u"");
    ErrObj described(2, u"The system cannot find the file specified.", true);
    if (!log.Available())
        GTEST_SKIP() << "DbgLog has no file: run under CTest (PANDEL_ROOT)";
    windows.Report(0);
    described.Report(0);
    std::string appended = log.Appended();
    EXPECT_THAT(appended, HasSubstr(DbgLogCapture::Entry(u"Err occur, Code:5\tWindows Error\n\t")));
    EXPECT_THAT(appended,
                HasSubstr(DbgLogCapture::Entry(u"Err occur, Code:2\tWindows Error\n\tThe system "
                                               u"cannot find the file specified.")));
}

// Hosts built apart call the operations by slot: after the two destructor entries of this ABI,
// GetDescription, GetCode and Report, in that order.
TEST(ErrObjLayout, VirtualOperationsKeepTheirSlots) {
    platform::FaultRecord record{0xC0000094u};
    ErrObj error(&record);
    void** slots = *reinterpret_cast<void***>(&error);
    using GetCodeSlot = std::int32_t (*)(const ErrObj*);
    using GetDescriptionSlot = std::u16string (*)(const ErrObj*);
    EXPECT_EQ(reinterpret_cast<GetCodeSlot>(slots[3])(&error), -1073741676);
    EXPECT_EQ(reinterpret_cast<GetDescriptionSlot>(slots[2])(&error),
              u"EXCEPTION_INT_DIVIDE_BY_ZERO");
}

} // namespace
