// A bounded wait on one socket, shared by the connect and the transfers on Windows Sockets.
#pragma once

#include "platform/win32/windows_api.h"

namespace pandel::platform::win32 {

enum class SocketWait {
    kReady,    // ready for the transfer asked for (for writing: also a connect that completed)
    kFailed,   // in the exception set (a connect that failed), whether ready or not
    kTimedOut, // the wait ran out
    kError,    // select failed; *error holds why
};

// Waits at most waitMs until sk is ready for writing (forWriting) or for reading, or has failed.
SocketWait WaitForSocket(SOCKET sk, bool forWriting, long long waitMs, int* error);

} // namespace pandel::platform::win32
