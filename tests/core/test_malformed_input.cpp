// However a file is damaged, every command ends normally with at most one
// message, and nothing reads outside its buffers (run under the address
// sanitizer to check the second half).
#include "ViewFixture.h"

#include <random>

using namespace tarvo;
using namespace tarvo::test;

namespace {

class MalformedInput : public ViewTest {};

TEST_F(MalformedInput, DamagedFilesNeverBreakTheCommands)
{
    const Bytes good = Riff({Chunk("LIST", Bytes(6, 'x')), Chunk("fmt ", FmtData(8000, 1, 8, 1, {1, 2})),
                             Chunk("data", Sine(256 * 3 + 11, 700, 8000))});
    std::mt19937 rng(20261206);
    std::string path = dir.Write("damaged.wav", good);
    ASSERT_TRUE(docTemplate.OpenDocumentFile(path));
    for (int round = 0; round < 300; ++round) {
        Bytes b = good;
        switch (round % 4) {
        case 0:  // cut anywhere
            b.resize(rng() % (b.size() + 1));
            break;
        case 1:  // random bytes in the headers
            for (int k = 0; k < 4; ++k)
                b[rng() % 64] = static_cast<std::uint8_t>(rng());
            break;
        case 2: {  // a size field set to an extreme
            static const std::uint32_t sizes[] = {0, 1, 15, 16, 0x7FFFFFFF, 0xFFFFFFFE, 0xFFFFFFFF};
            std::size_t at = std::vector<std::size_t>{4, 16, 34, 62}[rng() % 4];
            std::uint32_t v = sizes[rng() % 7];
            for (int i = 0; i < 4; ++i)
                b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
            break;
        }
        case 3:  // noise of any length
            b.assign(rng() % 200, 0);
            for (auto& x : b)
                x = static_cast<std::uint8_t>(rng());
            break;
        }
        dir.Write("damaged.wav", b);
        for (int id : {IDC_GETHEADER, IDC_MAXFREQS, IDC_SPECTROGRAM, IDC_WOWFLUTTER}) {
            form.ClearMessages();
            form.Click(IDC_CHUNK256 + static_cast<int>(rng() % 4));
            form.Type(IDC_HIGHFREQ, "8000");
            view.OnCmdMsg(id);
            ASSERT_LE(form.Messages().size(), 1u) << round;
            ASSERT_GE(view.m_nChunks, 0);
            ASSERT_LE(view.m_nChunks, 500);
        }
    }
}

}  // namespace
