// Wu-Manber multi-text search, as described in find_matcher.h.

#include "find_matcher.h"

#include <algorithm>
#include <cstring>
#include <numeric>

namespace streameditor {

namespace {

// Shifts are kept in bytes; a longer safe jump is cut to this, which is still safe.
const size_t kMaxShift = 255;

} // namespace

FindMatcher::FindMatcher(const std::vector<std::string> &finds) : finds_(finds)
{
    // Without find texts the tables below describe a single one-byte text that nothing
    // matches; FindNext() does not consult them.
    shortest_ = finds_.empty() ? 1 : finds_.front().size();
    longest_ = shortest_;
    for (const std::string &find : finds_) {
        shortest_ = std::min(shortest_, find.size());
        longest_ = std::max(longest_, find.size());
    }
    blockBytes_ = shortest_ >= 2 ? 2 : 1;
    BuildShiftTable();
    BuildCandidateLists();
    BuildPrefixTable();
}

// The block of `blockBytes_` bytes of `text` that ends at index `lastByte`, as a table index.
unsigned FindMatcher::BlockOf(const std::string &text, size_t lastByte) const
{
    unsigned block = static_cast<unsigned char>(text[lastByte]);
    if (blockBytes_ == 2)
        block = static_cast<unsigned char>(text[lastByte - 1]) | block << 8;
    return block;
}

// For every block value, how far the window may move when its last block holds that value: the
// distance to the nearest place where the value ends inside the first `shortest_` bytes of some
// find text, or the whole window when it ends nowhere.
void FindMatcher::BuildShiftTable()
{
    size_t windowJump = std::min(shortest_ - blockBytes_ + 1, kMaxShift);
    shift_.assign(size_t(1) << (8 * blockBytes_), static_cast<uint8_t>(windowJump));
    for (const std::string &find : finds_) {
        for (size_t last = blockBytes_ - 1; last < shortest_; ++last) {
            uint8_t &shift = shift_[BlockOf(find, last)];
            shift = static_cast<uint8_t>(std::min<size_t>(shift, shortest_ - 1 - last));
        }
    }
}

// Groups the find texts by the block that ends their first `shortest_` bytes: when the window
// stops (shift 0) only that group can start at the window. Each group is ordered longest first,
// then in the order given, so the first text that matches is the one that must win.
void FindMatcher::BuildCandidateLists()
{
    std::vector<uint32_t> order(finds_.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [this](uint32_t a, uint32_t b) {
        return finds_[a].size() > finds_[b].size();
    });

    listStart_.assign(shift_.size() + 1, 0);
    for (const std::string &find : finds_)
        ++listStart_[BlockOf(find, shortest_ - 1) + 1];
    std::partial_sum(listStart_.begin(), listStart_.end(), listStart_.begin());

    candidates_.resize(finds_.size());
    std::vector<uint32_t> filled(listStart_.begin(), listStart_.end() - 1);
    for (uint32_t index : order)
        candidates_[filled[BlockOf(finds_[index], shortest_ - 1)]++] = index;
}

// Marks the first two bytes of every find text. Only used with two-byte blocks, when every
// find text has two bytes or more.
void FindMatcher::BuildPrefixTable()
{
    startsText_.assign(size_t(1) << 16, false);
    if (blockBytes_ != 2)
        return;
    for (const std::string &find : finds_)
        startsText_[static_cast<unsigned char>(find[0]) | static_cast<unsigned char>(find[1])
                                                              << 8] = true;
}

bool FindMatcher::MatchAt(const unsigned char *data, size_t position, size_t end, unsigned block,
                          size_t *findIndex) const
{
    for (uint32_t i = listStart_[block]; i < listStart_[block + 1]; ++i) {
        const std::string &find = finds_[candidates_[i]];
        if (find.size() <= end - position &&
            std::memcmp(data + position, find.data(), find.size()) == 0) {
            *findIndex = candidates_[i];
            return true;
        }
    }
    return false;
}

template <int BlockBytes>
bool FindMatcher::Scan(const unsigned char *data, size_t from, size_t end, bool atEnd,
                       size_t *position, size_t *findIndex) const
{
    // Start positions before `stop` are decided here. Before the end of the input a start is
    // decided only when the longest find text would fit after it; at the end every start is,
    // and those too close to the end for the shortest text cannot match.
    size_t window = shortest_;
    size_t needed = atEnd ? window : longest_;
    size_t stop = end >= needed ? end - needed + 1 : 0;
    const uint8_t *shift = shift_.data();

    size_t pos = from;
    while (pos < stop) {
        const unsigned char *last = data + pos + window - BlockBytes;
        unsigned block = BlockBytes == 2 ? (last[0] | unsigned(last[1]) << 8) : last[0];
        size_t jump = shift[block];
        if (jump != 0) {
            pos += jump;
            continue;
        }
        bool mayStart = BlockBytes != 2 || startsText_[data[pos] | unsigned(data[pos + 1]) << 8];
        if (mayStart && MatchAt(data, pos, end, block, findIndex)) {
            *position = pos;
            return true;
        }
        ++pos;
    }
    *position = atEnd ? end : pos;
    return false;
}

bool FindMatcher::FindNext(const unsigned char *data, size_t from, size_t end, bool atEnd,
                           size_t *position, size_t *findIndex) const
{
    if (finds_.empty()) {
        *position = end;
        return false;
    }
    if (blockBytes_ == 2)
        return Scan<2>(data, from, end, atEnd, position, findIndex);
    return Scan<1>(data, from, end, atEnd, position, findIndex);
}

} // namespace streameditor
