// Sending on sockets that others open (the SOAP runtime's): compile-time only.
#pragma once

namespace platform {

// The flags for a socket send that make a write to a connection the peer has closed fail with
// an error instead of raising a signal that would end the process.
int NoSignalSendFlags();

} // namespace platform
