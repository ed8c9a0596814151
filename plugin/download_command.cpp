// The Download command's handling: its fields, its fixed order of checks and its reports.
#include "plugin/download_command.h"

#include "config/xml_config.h"
#include "plugin/adapter_selection.h"
#include "report/report_sender.h"

#include <string_view>

namespace pandel {
namespace {

constexpr std::u16string_view kReportHead =
    u"<?xml version=\"1.0\" encoding=\"UTF-8\"?><Root><TaskStatusResponse><ScheduleId>";
constexpr std::u16string_view kReportMiddle = u"</ScheduleId><Progress>";
constexpr std::u16string_view kReportTail =
    u"</Progress><ErrorInfo></ErrorInfo></TaskStatusResponse></Root>";

constexpr std::u16string_view kUpload = u"upload";
constexpr std::u16string_view kRestore = u"restore";
constexpr char16_t kWholeDiskScope[] = u"C";

std::u16string Decimal(std::int32_t value) {
    std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}

// A field that does not fit its 100-element array. It is never handed on cut short: an address
// cut short would send the image to another server.
bool FitsServerField(const std::u16string& text) {
    return text.size() < kServerFieldArraySize;
}

class DownloadTask {
public:
    DownloadTask(const DownloadCommand& command, const char* url, const DownloadServices& services)
        : command_(command), url_(url), services_(services) {}

    void Run() {
        if (!PassesChecks()) {
            Report(kProgressFailed);
            return;
        }
        Report(kProgressStarted);
        std::int32_t adapter = services_.selectAdapter();
        if (StartTask(adapter) != 0)
            Report(kProgressFailed);
    }

private:
    bool IsNcMode() const { return command_.startMode == kStartModeNc; }
    bool IsUpload() const { return command_.command == kUpload; }

    bool PassesChecks() {
        if (command_.command != kUpload && command_.command != kRestore)
            return false;
        if (command_.startMode != kStartModeNc && command_.startMode != kStartModeAdapter)
            return false;
        if (IsNcMode() &&
            (!FitsServerField(command_.serverAddr) || !FitsServerField(command_.serverPort)))
            return false;
        const ImagingClient* imaging = services_.imaging;
        if (imaging == nullptr)
            return false;
        if (imaging->CheckFilesExistWhenUpload() != 0)
            return false;
        if (IsNcMode() && imaging->CheckSupportNC() == 0)
            return false;
        return imaging->CheckUpdateUserExist() != 0;
    }

    std::int32_t StartTask(std::int32_t adapter) {
        const ImagingClient& imaging = *services_.imaging;
        const char16_t* addr = command_.serverAddr.c_str();
        const char16_t* port = command_.serverPort.c_str();
        const char16_t* scope = command_.backupType == 0 ? kWholeDiskScope : nullptr;
        if (IsUpload()) {
            return IsNcMode() ? imaging.UploadByNC(addr, port, scope, adapter)
                              : imaging.UploadImgWithAdapter(adapter, scope);
        }
        return IsNcMode() ? imaging.RestoreByNC(addr, port, adapter)
                          : imaging.RestoreImgWithAdapter(adapter);
    }

    void Report(std::int32_t progress) {
        std::u16string report = FormatTaskStatus(command_.scheduleId, progress);
        services_.sendReport(url_, report.c_str(), &result_);
    }

    const DownloadCommand& command_;
    const char* url_;
    const DownloadServices& services_;
    std::int32_t result_ = 0; // the server's r; not looked at
};

} // namespace

DownloadCommand ReadDownloadCommand(const std::u16string& document) {
    CXmlConfig store(document);
    DownloadCommand command;
    store.GetLong(u"/Download/FileType", command.fileType);
    store.GetString(u"/Download/Command", command.command);
    store.GetLong(u"/Download/ScheduleId", command.scheduleId);
    store.GetLong(u"/Download/BackupType", command.backupType);
    store.GetLong(u"/Download/StartMode", command.startMode);
    store.GetString(u"/Download/ServerAddr", command.serverAddr);
    store.GetString(u"/Download/ServerPort", command.serverPort);
    return command;
}

std::u16string FormatTaskStatus(std::int32_t scheduleId, std::int32_t progress) {
    std::u16string report;
    report.reserve(kReportBufferSize);
    report.append(kReportHead);
    report.append(Decimal(scheduleId));
    report.append(kReportMiddle);
    report.append(Decimal(progress));
    report.append(kReportTail);
    return report;
}

DownloadServices RealDownloadServices() {
    DownloadServices services;
    services.imaging = LoadImagingClient();
    services.selectAdapter = [] { return SelectAdapter(); };
    services.sendReport = SendReport;
    return services;
}

void HandleDownload(const std::u16string& document, const char* serviceUrl,
                    const DownloadServices& services) {
    DownloadCommand command = ReadDownloadCommand(document);
    if (command.fileType != kDownloadFileType)
        return;
    DownloadTask(command, serviceUrl, services).Run();
}

void HandleDownload(const std::u16string& document, const char* serviceUrl) {
    HandleDownload(document, serviceUrl, RealDownloadServices());
}

} // namespace pandel
