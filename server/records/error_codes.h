// The server's own failure codes of the start sequence; their texts live in the language file's
// "ERRORS" section under the code in decimal. Anything else is a system error code.
#pragma once

namespace keep::server {

inline constexpr int kErrorOk = 0;
inline constexpr int kErrorInvalidSetup = 100000;     // install path or language file missing
inline constexpr int kErrorHeading = 100001;          // heading of every fatal message
inline constexpr int kErrorServerObject = 100002;     // a server object cannot be created/started
inline constexpr int kErrorModelDatabase = 100003;    // model not in the database
inline constexpr int kErrorDeviceOpen = 100004;       // UPS device cannot be opened
inline constexpr int kErrorSocketType = 100005;       // socket type not supported
inline constexpr int kErrorClientPortInUse = 100006;  // client port in use
inline constexpr int kErrorLinkOrDatabase = 100007;   // UPS link or model database error
inline constexpr int kErrorRemotePortInUse = 100010;  // remote-shutdown port in use

}  // namespace keep::server
