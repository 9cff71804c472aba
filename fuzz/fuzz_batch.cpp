// The batch's readers of untrusted text: lists (--files-from) and summaries
// (--resume). The first byte says which and where the text is cut into
// pieces; read in pieces, the text gives what it gives read whole, and a
// summary taken for readable keeps only whole rows of it.
#include "cli/MeterBatch.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "fuzz_batch: %s\n", what);
    std::abort();
}

// Feeds text to a reader in pieces of `step` bytes (the whole at once for 0).
template <class Reader>
bool FeedInPieces(Reader& reader, std::string_view text, size_t step)
{
    if (step == 0)
        return reader.Feed(text) && reader.Finish();
    for (size_t at = 0; at < text.size(); at += step)
        if (!reader.Feed(text.substr(at, step)))
            return false;
    return reader.Finish();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const bool summary = data[0] & 1;
    const size_t step = 1 + (data[0] >> 1);
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (summary) {
        tarvo::SummaryParser whole, pieces;
        const bool a = FeedInPieces(whole, text, 0), b = FeedInPieces(pieces, text, step);
        if (a != b || whole.error != pieces.error)
            Fail("a summary read in pieces differs from the summary read whole");
        if (!a)
            return 0;
        const tarvo::PreviousSummary& s = whole.summary;
        if (s.keep != pieces.summary.keep || s.done != pieces.summary.done || s.anyError != pieces.summary.anyError ||
            s.anyFail != pieces.summary.anyFail || s.lastPath != pieces.summary.lastPath)
            Fail("a summary read in pieces keeps other rows");
        if (s.keep < 0 || static_cast<size_t>(s.keep) > text.size() || s.lastStart > s.keep)
            Fail("the rows kept are not within the text");
        if (s.keep > 0 && text[static_cast<size_t>(s.keep) - 1] != '\n')
            Fail("the rows kept do not end at a line end");
        if (s.empty != (s.keep == 0))
            Fail("a summary with rows is taken for empty, or one without for one with rows");
        // What is dropped is one row cut off: no line end of the summary's own.
        if (text.substr(static_cast<size_t>(s.keep)).find("\r\n") != std::string_view::npos &&
            static_cast<size_t>(s.keep) < text.size())
            Fail("more than one row cut off is dropped");
    } else {
        tarvo::FileList whole, pieces;
        const bool a = FeedInPieces(whole, text, 0), b = FeedInPieces(pieces, text, step);
        if (a != b || whole.files != pieces.files)
            Fail("a list read in pieces differs from the list read whole");
        for (const std::string& f : whole.files)
            if (f.empty() || f.size() > tarvo::FileList::kLongestName)
                Fail("an empty or overlong name is listed");
    }
    return 0;
}
