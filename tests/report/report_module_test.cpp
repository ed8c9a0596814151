// The report sender inside a shared object: it loads, sends, and shows none of the SOAP
// runtime's or the generated code's symbols to the process.
#include "harness/loopback_server.h"
#include "tests/report/report_test_support.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>

namespace pandel::test {
namespace {

using SendFunction = int (*)(const char*, const char16_t*, std::int32_t*);

class ReportModule : public ::testing::Test {
protected:
    void SetUp() override {
        handle_ = dlopen(REPORT_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(nullptr, handle_) << dlerror();
    }
    void TearDown() override {
        if (handle_ != nullptr)
            dlclose(handle_);
    }
    void* handle_ = nullptr;
};

TEST_F(ReportModule, SendsAReportFromInsideASharedObject) {
    auto send = reinterpret_cast<SendFunction>(dlsym(handle_, "ReportModuleSend"));
    ASSERT_NE(nullptr, send);
    LoopbackServer server(HttpResponse(200, Soap11("<s:SetResponse><s:r>3</s:r></s:SetResponse>")));
    const std::string url = LoopbackUrl(server.port());
    std::int32_t slot = 0;
    EXPECT_EQ(0, send(url.c_str(), u"from the module", &slot));
    EXPECT_EQ(3, slot);
    EXPECT_NE(std::string::npos, server.Request().find(">from the module</soap:xIn>"));
}

TEST_F(ReportModule, RuntimeAndGeneratedSymbolsStayInside) {
    // The runtime's C functions and data, the global names it calls the envelope code by, and
    // the names the build gave the namespace tables.
    const char* const inside[] = {
        "soap_new_REQUIRE_lib_v208124",
        "soap_begin",
        "soap_done",
        "soap_base64o",
        "namespaces",
        "_Z14soap_getheaderP4soap",
        "_Z13soap_getfaultP4soap",
        "pandel_devcfg_client_namespaces",
    };
    for (const char* name : inside) {
        SCOPED_TRACE(name);
        EXPECT_EQ(nullptr, dlsym(handle_, name));
    }
}

} // namespace
} // namespace pandel::test
