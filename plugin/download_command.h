// The Download command: a document that asks the terminal to upload (back up) or restore its
// disk image through the imaging library, and the status reports that tell the server how it went.
#pragma once

#include "plugin/imaging_client.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace pandel {

inline constexpr std::int32_t kDownloadFileType = 7;
inline constexpr std::int32_t kStartModeNc = 0;
inline constexpr std::int32_t kStartModeAdapter = 2;
inline constexpr std::size_t kServerFieldArraySize = 100; // 99 characters and the terminator
inline constexpr std::size_t kReportBufferSize = 520;     // wide characters

inline constexpr std::int32_t kProgressStarted = 101;
inline constexpr std::int32_t kProgressFailed = -50;

// The fields of a Download document, read in this order.
struct DownloadCommand {
    std::int32_t fileType = 0;
    std::u16string command;
    std::int32_t scheduleId = 0;
    std::int32_t backupType = 0;
    std::int32_t startMode = 0;
    std::u16string serverAddr;
    std::u16string serverPort;
};

// Reads the fields of a Download document; absent elements give 0 or the empty string.
DownloadCommand ReadDownloadCommand(const std::u16string& document);

// The TaskStatusResponse report for a schedule and a progress value (kProgressStarted or
// kProgressFailed), as the server receives it.
std::u16string FormatTaskStatus(std::int32_t scheduleId, std::int32_t progress);

// What the handling works with; the real ones unless a test gives others.
struct DownloadServices {
    // The imaging library; null when it cannot be loaded (every task is then refused).
    const ImagingClient* imaging = nullptr;
    // The adapter the imaging library is to use, 1 or 2.
    std::function<std::int32_t()> selectAdapter;
    // The report sender.
    std::function<int(const char* url, const char16_t* report, std::int32_t* result)> sendReport;
};

// The real imaging library, adapter selection and report sender.
DownloadServices RealDownloadServices();

// Runs a Download command: checks, the 101 report, the adapter selection, the upload or restore,
// and the -50 report on refusal or failure. Every report goes to serviceUrl (narrow text).
void HandleDownload(const std::u16string& document, const char* serviceUrl,
                    const DownloadServices& services);
void HandleDownload(const std::u16string& document, const char* serviceUrl);

} // namespace pandel
