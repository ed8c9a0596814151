// The selection against a real clock and a real server on loopback: the waits really pass, and
// the probe document arrives as the server receives it.
#include "plugin/adapter_selection.h"

#include "harness/loopback_server.h"
#include "platform/wide_text.h"
#include "report/report_sender.h"
#include "tests/report/report_test_support.h"
#include "tests/support/temp_root.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace pandel {
namespace {

using Clock = std::chrono::steady_clock;

std::int64_t MsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

// The real sender, with the service URL and the identity given.
ProbeServices ProbeTo(const std::string& serviceUrl) {
    ProbeServices services;
    services.getServerUrl = [serviceUrl](std::u16string& url) {
        url += platform::Utf8ToUtf16(serviceUrl);
        return 0;
    };
    services.getDeviceId = [](char16_t* buffer) {
        const std::u16string id = u"02000000000A";
        std::copy(id.begin(), id.end(), buffer);
        return 1;
    };
    services.sendReport = SendReport;
    return services;
}

TEST(SelectionOnLoopback, FirstProbeReachesServerBetweenRealWaits) {
    test::TempRoot root;
    test::LoopbackServer server(
        test::HttpResponse(200, test::Soap11("<s:SetResponse><s:r>0</s:r></s:SetResponse>")));
    Clock::time_point off, probed, on;
    AdapterControl control;
    control.getAdapterCount = [](std::int32_t*) { return 2; };
    control.enableAdapter = [&](std::int32_t adapter, std::int32_t enable) {
        EXPECT_EQ(adapter, 2);
        (enable == 0 ? off : on) = Clock::now();
        return 0;
    };
    const ProbeServices services = ProbeTo(test::LoopbackUrl(server.port()));
    auto probe = [&] {
        std::int32_t reached = ProbeServerWith(services);
        probed = Clock::now();
        return reached;
    };

    EXPECT_EQ(SelectAdapterWith(control, probe), 1);
    const Clock::time_point returned = Clock::now();

    // Lower bounds only: a loaded machine may stretch a wait, never shorten it.
    EXPECT_GE(MsBetween(off, probed), 1500);
    EXPECT_GE(MsBetween(on, returned), 3000);
    const std::string request = server.Request();
    EXPECT_NE(request.find(
                  "<soap:xIn xsi:type=\"xsd:string\">&lt;Root ID=\"02000000000A\"/&gt;</soap:xIn>"),
              std::string::npos)
        << request;
}

} // namespace
} // namespace pandel
