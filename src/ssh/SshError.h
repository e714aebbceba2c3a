// The error that ends a session inside the client: the code and message its OnError and
// DISCONNECT carry. Layers throw it; only TNvSSHClient catches it.
#pragma once

#include <stdexcept>
#include <string>

namespace Varnello::Ssh {

// The messages that go with the codes of OnError.
inline constexpr const char* MsgInvalidPacket = "Invalid packet";
inline constexpr const char* MsgInvalidPacketSize = "Invalid packet size";
inline constexpr const char* MsgKeyExchangeFailed = "Key exchange failed";
inline constexpr const char* MsgInvalidMac = "Invalid MAC";
inline constexpr const char* MsgHostKeyNotVerifiable = "Host key not verifiable";
inline constexpr const char* MsgNoMoreAuthMethods = "No more authentication methods available";
inline constexpr const char* MsgInternalError = "Internal error";

class ENvSSHError : public std::runtime_error {
public:
    ENvSSHError(int code, const std::string& message) : std::runtime_error(message), Code(code) {}
    int Code;
};

} // namespace Varnello::Ssh
