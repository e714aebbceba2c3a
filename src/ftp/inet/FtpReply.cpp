// Reply reader and reply-text parsers; see FtpReply.h.
#include "ftp/inet/FtpReply.h"

#include <cctype>

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool StartsWithCode(std::string_view line) {
    return line.size() >= 3 && IsDigit(line[0]) && IsDigit(line[1]) && IsDigit(line[2]);
}

int CodeOf(std::string_view line) {
    return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

} // namespace

void TFtpReplyReader::Clear() {
    FBuffer.clear();
    FPos = FParsed = 0;
    FCode = 0;
}

TFtpReplyState TFtpReplyReader::Next(TFtpReply& reply) {
    for (;;) {
        std::size_t eol = FBuffer.find('\n', FPos + FParsed);
        if (eol == std::string::npos) {
            if (FBuffer.size() - FPos > MaxReplySize) return rsInvalid;
            return rsIncomplete;
        }
        std::string_view line(FBuffer.data() + FPos + FParsed, eol - (FPos + FParsed));
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        bool first = FParsed == 0;
        FParsed = eol + 1 - FPos;
        if (FParsed > MaxReplySize) return rsInvalid;

        bool closes = false;
        if (first) {
            if (!StartsWithCode(line) || (line.size() > 3 && line[3] != ' ' && line[3] != '-'))
                return rsInvalid;
            if (line.size() > 3 && line[3] == '-')
                FCode = CodeOf(line);
            else
                closes = true;
        } else {
            // Inside a multi-line reply only "nnn " with the opening code closes it; any other
            // line, even one starting with digits, is text.
            closes = StartsWithCode(line) && CodeOf(line) == FCode && (line.size() == 3 || line[3] == ' ');
        }
        if (!closes) continue;

        std::string_view all(FBuffer.data() + FPos, FParsed);
        reply.Code = CodeOf(all);
        reply.Text.clear();
        std::size_t start = 0;
        while (start < all.size()) {
            std::size_t nl = all.find('\n', start);
            std::string_view l = all.substr(start, nl - start);
            if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
            if (start > 0) reply.Text += "\r\n";
            reply.Text.append(l);
            start = nl + 1;
        }
        FPos += FParsed;
        FParsed = 0;
        FCode = 0;
        if (FPos > 65536 && FPos * 2 > FBuffer.size()) { // keep the buffer from growing for ever
            FBuffer.erase(0, FPos);
            FPos = 0;
        }
        return rsComplete;
    }
}

bool ParsePwdReply(std::string_view text, std::string& path) {
    std::size_t open = text.find('"');
    if (open == std::string_view::npos) return false;
    path.clear();
    for (std::size_t i = open + 1; i < text.size(); ++i) {
        if (text[i] == '"') {
            if (i + 1 < text.size() && text[i + 1] == '"') {
                path += '"';
                ++i;
                continue;
            }
            return true;
        }
        if (text[i] == '\r' || text[i] == '\n') break;
        path += text[i];
    }
    return false;
}

bool ParseEpsvReply(std::string_view text, std::uint16_t& port) {
    std::size_t open = text.find('(');
    if (open == std::string_view::npos || open + 4 > text.size()) return false;
    char d = text[open + 1];
    // The delimiter is any printable character other than digits; three of them lead the port.
    if (d < 33 || d > 126 || IsDigit(d) || text[open + 2] != d || text[open + 3] != d) return false;
    unsigned long value = 0;
    std::size_t i = open + 4, digits = 0;
    for (; i < text.size() && IsDigit(text[i]) && digits < 6; ++i, ++digits)
        value = value * 10 + (text[i] - '0');
    if (digits == 0 || i >= text.size() || text[i] != d || value == 0 || value > 65535) return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

bool ParsePasvReply(std::string_view text, std::uint16_t& port) {
    // Skip the reply code, then find the first run of six comma-separated numbers.
    for (std::size_t start = 3; start < text.size(); ++start) {
        if (!IsDigit(text[start]) || IsDigit(text[start - 1])) continue;
        unsigned values[6];
        std::size_t i = start;
        int n = 0;
        for (; n < 6; ++n) {
            unsigned v = 0;
            std::size_t digits = 0;
            while (i < text.size() && IsDigit(text[i]) && digits < 4)
                v = v * 10 + (text[i++] - '0'), ++digits;
            if (digits == 0 || v > 255) break;
            values[n] = v;
            if (n < 5) {
                if (i >= text.size() || text[i] != ',') break;
                ++i;
            }
        }
        if (n == 6) {
            unsigned p = values[4] * 256 + values[5];
            if (p == 0) return false;
            port = static_cast<std::uint16_t>(p);
            return true;
        }
    }
    return false;
}

std::set<std::string> ParseFeatures(std::string_view text) {
    std::set<std::string> features;
    std::size_t start = 0;
    bool firstLine = true;
    while (start <= text.size()) {
        std::size_t nl = text.find('\n', start);
        std::string_view line =
            text.substr(start, nl == std::string_view::npos ? std::string_view::npos : nl - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        // Feature lines start with a blank; the first and last lines carry the reply code.
        if (!firstLine && !line.empty() && line[0] == ' ') {
            std::size_t b = line.find_first_not_of(' ');
            std::size_t e = line.find_first_of(" ;", b);
            if (b != std::string_view::npos) {
                std::string word(
                    line.substr(b, e == std::string_view::npos ? std::string_view::npos : e - b));
                for (char& c : word) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
                features.insert(word);
            }
        }
        firstLine = false;
        if (nl == std::string_view::npos) break;
        start = nl + 1;
    }
    return features;
}
