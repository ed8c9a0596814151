// A host built apart from the library, linked against it only, catches ErrObj by its type and
// uses it through its exported operations. This program contains no copy of ErrObj: it links
// only because the library exports the class.
#include "pandel/err_obj.h"

#include <gtest/gtest.h>

extern "C" int probe_fault_in_library();

namespace {

TEST(HostCatch, ErrObjFromTheLibraryIsCaughtByType) {
    bool caught = false;
    try {
        probe_fault_in_library();
    } catch (pandel::ErrObj& error) {
        caught = true;
        EXPECT_EQ(error.GetCode(), -1073741819);
        EXPECT_EQ(error.GetDescription(), u"EXCEPTION_ACCESS_VIOLATION");
        pandel::ErrObj copy(error);
        EXPECT_EQ(copy.GetCode(), -1073741819);
    } catch (...) {
        ADD_FAILURE() << "caught as something else";
    }
    EXPECT_TRUE(caught);
}

} // namespace
