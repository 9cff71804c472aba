// Frequency data output: the file SaveData writes, the list Show Freqs
// shows, the comment field, and their texts as pure functions.
#include "ViewFixture.h"
#include "framework/FileDialog.h"
#include "output/FreqListDialog.h"
#include "output/FreqText.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace tarvo::test {
namespace {

std::string Slurp(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

std::tm At(int year, int month, int day, int hour, int min, int sec)
{
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = min;
    t.tm_sec = sec;
    return t;
}

TEST(FreqText, TextsOfTheOutput)
{
    struct Case {
        std::string got, want;
    };
    const std::vector<Case> cases{
        // The suggested name: cut at the path's first ".", keep the last part.
        {SuggestedTextFileName("/w/WAVES/TONE1.WAV"), "TONE1.TXT"},
        {SuggestedTextFileName("/w/MY.DIR/TONE1.WAV"), "MY.TXT"},
        {SuggestedTextFileName("/w/tone"), ".TXT"},
        {SuggestedTextFileName(""), ".TXT"},
        {SuggestedTextFileName("rel.wav"), "rel.TXT"},
        // The date line, from the broken-down local time.
        {DateLineText(At(2002, 7, 4, 15, 7, 9)), "7/4/2002 03:07:09 PM"},
        {DateLineText(At(1999, 12, 31, 0, 5, 0)), "12/31/1999 12:05:00 AM"},
        {DateLineText(At(2026, 1, 1, 12, 0, 0)), "1/1/2026 12:00:00 PM"},
        {DateLineText(At(2026, 10, 10, 11, 59, 59)), "10/10/2026 11:59:59 AM"},
        // The time column: five decimals below 0.1 s, four digits from there.
        {ListTimeText(0.0058049), "0.00580"},
        {ListTimeText(0.0232199), "0.02322"},
        {ListTimeText(0.0928798), "0.09288"},
        {ListTimeText(0.099996), "0.10000"},
        {ListTimeText(0.000001), "0.00000"},
        {ListTimeText(0.1160998), "0.1161"},
        {ListTimeText(1.021678), "1.022"},
        {ListTimeText(2.0), "2."},
        {ListTimeText(10.0075), "10.01"},
        // Rows of an 8000 Hz file at N = 256 (31.25 Hz per bin).
        {FreqListLine(1, 31.25, 437.5f), "1\t0.03200\t437.5\r\n"},
        {FreqListLine(3, 31.25, 3000.f), "3\t0.09600\t3000.\r\n"},
        {FreqListLine(4, 31.25, 430.6640625f), "4\t0.128\t430.6641\r\n"},
        {FreqListLine(32, 31.25, 86.1328125f), "32\t1.024\t86.13281\r\n"},
        {FreqListLine(125, 31.25, 0.05f), "125\t4.\t5.e-002\r\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.got, c.want);
}

class FreqOutput : public ViewTest {
protected:
    FreqOutput() { view.m_localTime = [] { return At(2002, 7, 4, 15, 7, 9); }; }

    // The form as a header and a Max Freqs of three chunks leave it.
    void ThreeChunkTrack()
    {
        view.m_strDataSize = "1102500";
        view.m_strSampleRate = "22050";
        view.m_strDeltaFreq = "43.066 Hz";
        view.m_nChunkSize = 512;
        view.m_dDeltaFreq = 22050.0 / 512;
        view.m_nChunks = 3;
        view.m_pFreqs[1] = 430.6640625f;
        view.m_pFreqs[2] = 86.1328125f;
        view.m_pFreqs[3] = 3000.f;
        view.m_bFreqsValid = true;
        view.UpdateData(false);
    }
    // SaveData answered with path; returns the file's bytes.
    std::string Save(const std::string& path)
    {
        form.QueueSaveFileAnswer(path);
        view.OnCmdMsg(ID_SAVEDATA);
        return Slurp(path);
    }
    std::string ListShown()
    {
        std::string list = "(no window)";
        form.onDialogOpened = [&](const CDialog& dlg, const VirtualForm& c) {
            EXPECT_EQ(dlg.Template().id, IDD_FREQLIST);
            list = c.GetDlgItemText(IDC_FREQLIST);
        };
        view.OnCmdMsg(ID_SHOWFREQS);
        form.onDialogOpened = nullptr;
        return list;
    }
};

TEST_F(FreqOutput, ThreeChunkFileByteForByte)
{
    ThreeChunkTrack();
    const std::string path = (dir.Path() / "track.txt").string();
    EXPECT_EQ(Save(path), path + "\r\n7/4/2002 03:07:09 PM\r\n1102500\r\n22050\r\n512\r\n43.066 Hz\r\n"
                                 "430.66406\r\n86.132813\r\n3000.\r\n");
    EXPECT_TRUE(form.Messages().empty());
    ASSERT_EQ(form.FileDialogsRun().size(), 1u);
    const FileDialogRequest& req = form.FileDialogsRun()[0];
    EXPECT_TRUE(req.save);
    EXPECT_EQ(req.defaultExt, "");
    EXPECT_EQ(req.flags, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT);
    EXPECT_EQ(req.filters, (std::vector<FileFilter>{{"Text files(*.txt)", "*.txt"}, {"All files (*.*)", "*.*"}}));
}

TEST_F(FreqOutput, StartUpFileHoldsTheSixHeaderLines)
{
    const std::string path = (dir.Path() / "empty.txt").string();
    EXPECT_EQ(Save(path), path + "\r\n7/4/2002 03:07:09 PM\r\n\r\n\r\n256\r\n\r\n");
    EXPECT_EQ(form.FileDialogsRun().at(0).fileName, ".TXT");
}

TEST_F(FreqOutput, CommentFollowsThePathWithItsLeadingSpaces)
{
    view.OnAddComments();
    form.Type(IDC_COMMENT, "  deck B, 3 kHz");
    const std::string path = (dir.Path() / "c.txt").string();
    EXPECT_EQ(Save(path).substr(0, path.size() + 17), path + "  deck B, 3 kHz\r\n");
}

TEST_F(FreqOutput, NameWithoutExtensionIsUsedAsTypedAndCancelWritesNothing)
{
    Open(Wave8(8000, Silence(1024)), "tone1.wav");
    view.OnGetHeader();  // the path of the file last read names the suggestion
    const std::string path = (dir.Path() / "result").string();
    EXPECT_FALSE(Save(path).empty());
    EXPECT_FALSE(std::filesystem::exists(path + ".txt"));
    EXPECT_EQ(form.FileDialogsRun().at(0).fileName, "tone1.TXT");

    view.OnCmdMsg(ID_SAVEDATA);  // no answer queued: Cancel
    EXPECT_EQ(form.FileDialogsRun().size(), 2u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2);
    EXPECT_TRUE(form.Messages().empty());
}

TEST_F(FreqOutput, StaleTrackIsNeitherSavedNorListed)
{
    Open(Wave8(8000, Sine(256 * 3, 1000, 8000)));
    view.OnMaxFreqs();
    EXPECT_EQ(ListShown().substr(0, 10), "1\t0.03200\t");
    for (int command : {IDC_GETHEADER, IDC_SPECTROGRAM}) {
        view.OnMaxFreqs();
        view.OnCmdMsg(command);
        form.ClearMessages();
        EXPECT_EQ(ListShown(), "(no window)");
        ASSERT_EQ(form.Messages().size(), 1u);
        EXPECT_EQ(form.Messages()[0].text, "No Frequencies in file.");
        EXPECT_EQ(form.Messages()[0].caption, "Quillon");
        EXPECT_EQ(form.Messages()[0].type, 0u);
        const std::string path = (dir.Path() / "stale.txt").string();
        EXPECT_EQ(Save(path), path + "\r\n7/4/2002 03:07:09 PM\r\n768\r\n8000\r\n256\r\n31.25 Hz\r\n");
    }
}

TEST_F(FreqOutput, ListOfTheTrackInDialog110)
{
    ThreeChunkTrack();
    EXPECT_EQ(ListShown(), "1\t0.02322\t430.6641\r\n2\t0.04644\t86.13281\r\n3\t0.06966\t3000.\r\n");
    view.m_nChunks = 0;
    EXPECT_EQ(ListShown(), "");
    EXPECT_EQ(form.DialogsRun(), (std::vector<int>{IDD_FREQLIST, IDD_FREQLIST}));
}

TEST_F(FreqOutput, AddCommentsOnlyShowsTheField)
{
    EXPECT_FALSE(form.IsControlVisible(IDC_COMMENT));
    view.OnCmdMsg(ID_ADDCOMMENTS);
    EXPECT_TRUE(form.IsControlVisible(IDC_COMMENT));
    form.Type(IDC_COMMENT, "kept");
    view.OnCmdMsg(ID_ADDCOMMENTS);
    EXPECT_TRUE(form.IsControlVisible(IDC_COMMENT));
    EXPECT_EQ(form.GetDlgItemText(IDC_COMMENT), "kept");
    // The field takes the keyboard when it is shown.
    EXPECT_EQ(form.Focus(), IDC_COMMENT);
}

TEST_F(FreqOutput, NoOutputGoesOverTheWaveFileItDescribes)
{
    // The WAVE file under its own name, another spelling and a hard link:
    // refused with one message, and the file is left whole.
    const std::string wave = Open(Wave8(11025, Sine(2048, 3000, 11025)), "in.wav");
    const std::string before = Slurp(wave);
    const std::string link = (dir.Path() / "link.wav").string();
    ASSERT_EQ(::link(wave.c_str(), link.c_str()), 0);
    for (const std::string& path : {wave, (dir.Path() / "." / "in.wav").string(), link}) {
        form.ClearMessages();
        form.QueueSaveFileAnswer(path);
        view.OnSaveData();
        ASSERT_EQ(MessageTexts(), std::vector<std::string>{"Cannot write the file \"" + path + "\": it is the input file."});
        EXPECT_EQ(Slurp(wave), before);
    }
}

TEST_F(FreqOutput, AFileThatCannotBeWrittenWholeLeavesTheOldOneAndNoTemporaryFile)
{
    ThreeChunkTrack();
    const std::string path = dir.Write("track.txt", std::string("old track"));
    ::chmod(path.c_str(), 0640);
    const std::string saved = Save(path);
    EXPECT_NE(saved.find("3000"), std::string::npos) << saved;
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);  // the old file's permissions stay
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

TEST_F(FreqOutput, FailureIsOneMessageNamingPathAndReason)
{
    // Root may write a read-only file; a sysfs entry refuses even root.
    const std::string readOnly = dir.Write("ro.txt", std::string("old"));
    ::chmod(readOnly.c_str(), 0444);
    const bool root = ::geteuid() == 0;
    struct Case {
        std::string path;
        int error;
        bool created;
    };
    const std::vector<Case> cases{
        {(dir.Path() / "no/such/folder/x.txt").string(), ENOENT, false},
        {root ? "/sys/tarvo-test.txt" : readOnly, EACCES, false},
        {dir.Path().string(), EISDIR, false},
        {"/dev/full", ENOSPC, true},
    };
    ThreeChunkTrack();
    for (const Case& c : cases) {
        form.ClearMessages();
        form.QueueSaveFileAnswer(c.path);
        view.OnSaveData();
        ASSERT_EQ(form.Messages().size(), 1u) << c.path;
        const RecordedMessage& m = form.Messages()[0];
        EXPECT_EQ(m.text, std::string(c.created ? "Cannot write" : "Cannot create") + " the file \"" + c.path +
                              "\": " + std::strerror(c.error) + ".");
        EXPECT_EQ(m.caption, "Quillon");
        EXPECT_EQ(m.type, MB_OK | MB_ICONEXCLAMATION);
    }
    EXPECT_EQ(Slurp(readOnly), "old");
}

}  // namespace
}  // namespace tarvo::test
