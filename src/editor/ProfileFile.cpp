// Connection profile reader and writer. See ProfileFile.h.
#include "editor/ProfileFile.h"

#include "VarnelloError.h"
#include "base/FileIO.h"

#include <array>

namespace {

// Five short lines; anything far larger is not a profile, and is not read into memory whole.
constexpr std::size_t kMaxProfileBytes = 1 << 20;

// The fields in file order.
template <class TProfileRef> auto Fields(TProfileRef& p) {
    return std::array{&p.Host, &p.User, &p.Password, &p.ServerDir, &p.LocalDir};
}

} // namespace

std::vector<std::string> SplitProfileLines(std::string_view text) {
    text = text.substr(0, text.find('\0'));
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.emplace_back(text.substr(start));
            break;
        }
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
    }
    return lines;
}

void ParseProfile(std::string_view text, TProfile& profile) {
    std::vector<std::string> lines = SplitProfileLines(text);
    auto fields = Fields(profile);
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i >= lines.size()) throw EVarnelloError("List index out of bounds (" + std::to_string(i) + ")");
        *fields[i] = std::move(lines[i]);
    }
    // Only a known word counts: other extra lines stay ignored, as they always were.
    profile.Encryption.clear();
    if (lines.size() > fields.size()) {
        const std::string& word = lines[fields.size()];
        for (const char* name : ProfileEncryptionNames)
            if (word == name) profile.Encryption = word;
    }
}

int ProfileEncryptionIndex(std::string_view word) {
    for (int i = 0; i < int(std::size(ProfileEncryptionNames)); ++i)
        if (word == ProfileEncryptionNames[i]) return i;
    return 0;
}

std::string FormatProfile(const TProfile& profile) {
    std::string out;
    for (const std::string* field : Fields(profile)) out += *field + "\r\n";
    if (!profile.Encryption.empty()) out += profile.Encryption + "\r\n";
    return out;
}

void LoadProfile(const std::string& path, TProfile& profile) {
    std::string text;
    if (ReadWholeFile(path, text, kMaxProfileBytes) != TReadResult::rrOk)
        throw EVarnelloError("Cannot open file " + path);
    ParseProfile(text, profile);
}

void SaveProfile(const std::string& path, const TProfile& profile) {
    for (const std::string* field : Fields(profile))
        if (field->find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos ||
            profile.Encryption.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
            throw EVarnelloError("Cannot create file " + path + ": a field holds a line break");
    // A new profile holds a password in plain text: only its owner may read it.
    if (!ReplaceFile(path, FormatProfile(profile), 0600)) throw EVarnelloError("Cannot create file " + path);
}
