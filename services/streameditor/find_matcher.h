// find_matcher.h - finds, in a stream of bytes, the leftmost-longest occurrence of any of a set of
// find texts. Internal to the stream editor.
//
// The search is a Wu-Manber scan: the text is looked at through a window as long as the shortest
// find text, and the last two bytes of that window say how far the window may jump without
// passing over a possible start. On report bodies, where tags are a few percent of the bytes,
// the scan looks at a fraction of the bytes, and a table of the find texts' first two bytes
// keeps it from comparing whole find texts where none can start.
#ifndef SERVICES_STREAMEDITOR_FIND_MATCHER_H
#define SERVICES_STREAMEDITOR_FIND_MATCHER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace streameditor {

class FindMatcher {
public:
    // No find text may be empty; with no find texts at all nothing ever matches. Where two find
    // texts are equal, the one given first wins.
    explicit FindMatcher(const std::vector<std::string> &finds);

    size_t LongestFind() const { return longest_; }
    size_t FindLength(size_t findIndex) const { return finds_[findIndex].size(); }

    // Looks for the leftmost start position in [from, end) of `data` at which a find text
    // occurs, taking the longest find text that occurs there. When `atEnd` is false, more data
    // follows `end`, so only start positions whose longest possible occurrence lies wholly
    // before `end` are decided.
    // On a match, returns true with `*position` its start and `*findIndex` the index of the
    // find text. Otherwise returns false with `*position` the first start position that is not
    // yet decided (`end` when `atEnd`): every byte before it can be copied unchanged.
    bool FindNext(const unsigned char *data, size_t from, size_t end, bool atEnd, size_t *position,
                  size_t *findIndex) const;

private:
    template <int BlockBytes>
    bool Scan(const unsigned char *data, size_t from, size_t end, bool atEnd, size_t *position,
              size_t *findIndex) const;
    bool MatchAt(const unsigned char *data, size_t position, size_t end, unsigned block,
                 size_t *findIndex) const;
    unsigned BlockOf(const std::string &text, size_t lastByte) const;
    void BuildShiftTable();
    void BuildCandidateLists();
    void BuildPrefixTable();

    std::vector<std::string> finds_;
    size_t shortest_;
    size_t longest_;
    int blockBytes_;                   // 2, or 1 when a find text is a single byte
    std::vector<uint8_t> shift_;       // safe jump for each value of the window's last block
    std::vector<uint32_t> listStart_;  // candidates of block b: candidates_[listStart_[b] ..
    std::vector<uint32_t> candidates_; //   listStart_[b + 1]), longest find text first
    std::vector<bool> startsText_;     // the first two bytes of some find text, by block value
};

} // namespace streameditor

#endif
