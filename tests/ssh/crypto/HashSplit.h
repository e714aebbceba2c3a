// Random messages fed in random pieces, for cross-checking incremental hashing against an oracle.
#pragma once

#include <random>
#include <vector>

struct TSplitMessage {
    std::vector<uint8_t> Data;
    std::vector<size_t> Pieces; // lengths summing to Data.size(); zero-length pieces included
};

inline TSplitMessage RandomSplitMessage(std::mt19937_64& gen, size_t maxLen) {
    TSplitMessage m;
    m.Data.resize(gen() % (maxLen + 1));
    for (auto& b : m.Data) b = uint8_t(gen());
    size_t left = m.Data.size();
    while (left > 0) {
        size_t piece = gen() % 4 == 0 ? 0 : 1 + gen() % std::min<size_t>(left, gen() % 2 ? 70 : left);
        m.Pieces.push_back(piece);
        left -= piece;
    }
    return m;
}

// Calls update(pointer, length) for each piece in order.
template <class TUpdate> void FeedPieces(const TSplitMessage& m, TUpdate update) {
    size_t at = 0;
    for (size_t piece : m.Pieces) {
        update(m.Data.data() + at, piece);
        at += piece;
    }
}
