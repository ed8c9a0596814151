// The adapter selection and the reachability probe behind it.
#include "plugin/adapter_selection.h"

#include "config/agent_config.h"
#include "config/xml_config.h"
#include "identity/device_id.h"
#include "platform/platform.h"
#include "plugin/imaging_client.h"
#include "plugin/service_url.h"
#include "report/report_sender.h"

namespace pandel {
namespace {

constexpr std::int32_t kSwitchOff = 0;
constexpr std::int32_t kSwitchOn = 1;
// Switches the second adapter on again when the selection is left by an exception: the adapter
// is off for the whole machine, not just for this module.
class SecondAdapterOff {
public:
    explicit SecondAdapterOff(const AdapterControl& control) : control_(control) {
        control_.enableAdapter(kSecondAdapter, kSwitchOff);
    }
    ~SecondAdapterOff() {
        if (!switchedOn_)
            control_.enableAdapter(kSecondAdapter, kSwitchOn);
    }
    SecondAdapterOff(const SecondAdapterOff&) = delete;
    SecondAdapterOff& operator=(const SecondAdapterOff&) = delete;

    void SwitchOn() {
        switchedOn_ = true;
        control_.enableAdapter(kSecondAdapter, kSwitchOn);
    }

private:
    const AdapterControl& control_;
    bool switchedOn_ = false;
};

} // namespace

std::int32_t SelectAdapterWith(const AdapterControl& control,
                               const std::function<std::int32_t()>& probe) {
    std::int32_t unused = 0;
    if (control.getAdapterCount(&unused) != 2)
        return kFirstAdapter;

    platform::IPlatform& os = platform::Current();
    SecondAdapterOff secondOff(control);
    os.SleepMs(kSettleAfterOffMs);
    bool reached = false;
    for (int attempt = 1; attempt <= kMaxProbes; ++attempt) {
        if (probe() == 1) {
            reached = true;
            break;
        }
        if (attempt < kMaxProbes)
            os.SleepMs(kPauseBetweenProbesMs);
    }
    secondOff.SwitchOn();
    os.SleepMs(kSettleAfterOnMs);
    return reached ? kFirstAdapter : kSecondAdapter;
}

ProbeServices RealProbeServices() {
    ProbeServices services;
    services.getServerUrl = GetServerUrl;
    services.getDeviceId = GetDeviceId;
    services.sendReport = SendReport;
    return services;
}

std::int32_t ProbeServerWith(const ProbeServices& services) {
    std::u16string url;
    services.getServerUrl(url);

    char16_t deviceId[kProbeDeviceIdSize] = {};
    services.getDeviceId(deviceId);

    // The identity is all the document carries: the server's answer, not its content, decides.
    CXmlConfig document(kProbeTemplate);
    document.SetString(u"/Root/@ID", deviceId);
    if (url.empty())
        return 0;

    char narrowUrl[kServiceUrlBufferSize];
    if (!ToNarrowServiceUrl(url, narrowUrl))
        return 0;

    std::u16string xml;
    document.GetXml(u"/Root", xml);
    std::int32_t result = 0;
    return services.sendReport(narrowUrl, xml.c_str(), &result) == 0 ? 1 : 0;
}

std::int32_t ProbeServer() {
    return ProbeServerWith(RealProbeServices());
}

std::int32_t SelectAdapter() {
    const ImagingClient* imaging = LoadImagingClient();
    if (imaging == nullptr)
        return kFirstAdapter;
    AdapterControl control{imaging->GetAdapterCount, imaging->EnableAdapter};
    return SelectAdapterWith(control, [] { return ProbeServer(); });
}

} // namespace pandel
