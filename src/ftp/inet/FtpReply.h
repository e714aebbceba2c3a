// Control-connection replies of an FTP server: the reader that cuts the byte stream into
// complete (possibly multi-line) replies, and the small parsers for the replies whose text
// carries data (PWD, EPSV, PASV, FEAT). Everything here is pure so that tests and the fuzz
// target can feed exact bytes; the session owns the socket.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

struct TFtpReply {
    int Code = 0;     // three-digit reply code
    std::string Text; // every line of the reply as received, joined by CR LF, no final line end
};

enum TFtpReplyState { rsIncomplete, rsComplete, rsInvalid };

// Cuts replies out of the control stream. A reply is either "nnn text" or a multi-line
// "nnn-text" ... "nnn text" block (the closing line repeats the code followed by a blank).
// Bytes before the first line end of a reply that does not start with three digits make the
// stream invalid: nothing after such a line can be trusted to be in step with our commands.
class TFtpReplyReader {
public:
    // Upper bound on one reply; a server that sends more is treated as broken, not buffered.
    static constexpr std::size_t MaxReplySize = 1 << 20;

    void Feed(const char* data, std::size_t length) { FBuffer.append(data, length); }
    // Takes the next complete reply out of the buffered bytes.
    TFtpReplyState Next(TFtpReply& reply);
    bool HasBufferedData() const { return FBuffer.size() > FPos; }
    void Clear();

private:
    std::string FBuffer;
    std::size_t FPos = 0;    // start of the reply being assembled
    std::size_t FParsed = 0; // bytes of that reply already split into lines
    int FCode = 0;           // code of an open multi-line reply, 0 when none is open
};

// 257 "/a ""quoted"" dir" is created -> /a "quoted" dir. False when no quoted path is present.
bool ParsePwdReply(std::string_view text, std::string& path);
// 229 Entering Extended Passive Mode (|||6446|) -> 6446.
bool ParseEpsvReply(std::string_view text, std::uint16_t& port);
// 227 Entering Passive Mode (h1,h2,h3,h4,p1,p2) -> p1*256+p2. The host part is checked for form
// only: data connections always go to the control connection's peer.
bool ParsePasvReply(std::string_view text, std::uint16_t& port);
// The feature lines of a 211 FEAT reply, upper-cased first words ("MLST", "UTF8", "EPSV" ...).
std::set<std::string> ParseFeatures(std::string_view text);
