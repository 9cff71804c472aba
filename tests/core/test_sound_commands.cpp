// The form's sound buttons on a fake playback service, and the record
// dialog on a command interface that records what it is sent.
#include "CliRunner.h"
#include "FakeSound.h"
#include "ViewFixture.h"
#include "sound/RecordDialog.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace tarvo::test {
namespace {

const std::vector<std::string> kTake = {
    "open new type waveaudio alias capture",
    "set capture samplespersec to 22050 wait",
    "record capture",
};

std::vector<std::string> Saved(const std::string& name)
{
    return {"save capture " + name, "close capture wait"};
}

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> all;
    for (const auto& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

// The enabled state of Record, Stop, OK and Cancel.
std::string States(const VirtualForm& c)
{
    std::string s;
    for (int id : {IDC_RECORD, IDC_STOPRECORD, int{IDOK}, int{IDCANCEL}})
        s += c.IsControlEnabled(id) ? '1' : '0';
    return s;
}

// Runs the tests in a folder of their own, as relative names are saved
// into the current folder.
class InDir {
public:
    explicit InDir(const std::filesystem::path& dir) : old_(std::filesystem::current_path())
    {
        std::filesystem::current_path(dir);
    }
    ~InDir() { std::filesystem::current_path(old_); }

private:
    std::filesystem::path old_;
};

class SoundCommands : public ViewTest {
protected:
    SoundCommands() { view.SetSoundServices(&playback, &mci); }
    FakePlayback playback;
    FakeCaptureLog log;
    CommandRecorder recorder{FakeCaptureFactory(log)};
    RecordingMci mci{&recorder};
    InDir inDir{dir.Path()};
};

TEST_F(SoundCommands, PlaybackButtonsMakeTheirOneCall)
{
    struct Case {
        int id;
        const char* name;
        unsigned flags;
    } cases[] = {
        {IDC_PLY, "Untitled", SND_ASYNC},  // a new document plays its title
        {IDC_WHITENOISE, "whitenoise.wav", SND_ASYNC | SND_LOOP},
        {IDC_TONE3KHZ, "3khz.wav", 9},
        {IDC_STOP, "", 1},
        {IDC_STOP, "", 1},  // twice is harmless
    };
    for (const Case& c : cases) {
        playback.calls.clear();
        ASSERT_TRUE(view.OnCmdMsg(c.id));
        ASSERT_EQ(playback.calls.size(), 1u) << c.id;
        EXPECT_EQ(playback.calls[0].first, c.name) << c.id;
        EXPECT_EQ(playback.calls[0].second, c.flags) << c.id;
    }
    EXPECT_TRUE(form.Messages().empty());
    EXPECT_TRUE(mci.sent.empty());
}

TEST_F(SoundCommands, PlyPlaysTheOpenedFileByItsWholePathHoweverLong)
{
    const std::string longName = std::string(230, 'n') + ".wav";
    const std::string path = Open(Wave8(22050, Silence(10)), longName);
    view.OnCmdMsg(IDC_PLY);
    ASSERT_EQ(playback.calls.size(), 1u);
    EXPECT_EQ(playback.calls[0].first, path);
    EXPECT_GT(playback.calls[0].first.size(), 230u);
    EXPECT_EQ(playback.calls[0].second, SND_ASYNC);
}

TEST_F(SoundCommands, WithoutSoundServicesTheButtonsDoNothing)
{
    view.SetSoundServices(nullptr, nullptr);
    form.QueueDialogDriver([](CDialog& d, VirtualForm&) {
        VirtualForm::Press(d, IDC_RECORD);
        VirtualForm::Press(d, IDC_STOPRECORD);
        VirtualForm::Press(d, IDOK);
    });
    for (int id : {IDC_PLY, IDC_STOP, IDC_WHITENOISE, IDC_TONE3KHZ, IDC_REC})
        EXPECT_TRUE(view.OnCmdMsg(id));
    // Nothing was recorded, so the header command finds no temp.wav.
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"Cannot read input WAVE file"});
    EXPECT_TRUE(playback.calls.empty());
}

TEST_F(SoundCommands, CancelAtOnceSendsNothingAndLeavesTheDocument)
{
    std::string states;
    form.QueueDialogDriver([&](CDialog& d, VirtualForm& c) {
        EXPECT_EQ(c.GetDlgItemText(IDC_FILENAME), "temp.wav");
        states = States(c);
        EXPECT_TRUE(VirtualForm::Press(d, IDCANCEL));
    });
    view.OnCmdMsg(IDC_REC);
    EXPECT_EQ(states, "1001");  // Ready: Record and Cancel
    EXPECT_TRUE(mci.sent.empty());
    EXPECT_EQ(doc.GetTitle(), "Untitled");
    EXPECT_EQ(doc.GetPathName(), "");
    EXPECT_EQ(form.DialogsRun(), std::vector<int>{IDD_RECORD});
}

TEST_F(SoundCommands, OneTakeSendsTheFiveStringsAndBecomesTheDocument)
{
    std::vector<std::string> states;
    std::vector<std::string> recentFiles;
    doc.onAddToRecentFileList = [&](const std::string& p) { recentFiles.push_back(p); };
    form.QueueDialogDriver([&](CDialog& d, VirtualForm& c) {
        VirtualForm::Press(d, IDC_RECORD);
        states.push_back(States(c));
        EXPECT_FALSE(VirtualForm::Press(d, IDOK));  // off in the first take
        VirtualForm::Press(d, IDC_STOPRECORD);
        states.push_back(States(c));
        EXPECT_FALSE(VirtualForm::Press(d, IDCANCEL));  // only OK leaves now
        VirtualForm::Press(d, IDOK);
    });
    view.OnCmdMsg(IDC_REC);
    EXPECT_EQ(states, (std::vector<std::string>{"0100", "1010"}));
    EXPECT_EQ(mci.sent, Join({kTake, Saved("temp.wav")}));
    const std::string full = (dir.Path() / "temp.wav").string();
    EXPECT_EQ(doc.GetPathName(), full);
    EXPECT_EQ(doc.GetTitle(), "temp.wav");
    EXPECT_EQ(recentFiles, std::vector<std::string>{full});
    // The header command ran on the recording.
    EXPECT_EQ(Field(IDC_SAMPLERATE), "22050");
    EXPECT_EQ(Field(IDC_BITSPERSAMPLE), "8");
    EXPECT_TRUE(form.Messages().empty());
}

TEST_F(SoundCommands, TwoTakesSaveOverTheSameFileAndOkStaysOnInTheSecond)
{
    std::string secondTakeStates;
    form.QueueDialogDriver([&](CDialog& d, VirtualForm& c) {
        VirtualForm::Press(d, IDC_RECORD);
        VirtualForm::Press(d, IDC_STOPRECORD);
        VirtualForm::Press(d, IDC_RECORD);
        secondTakeStates = States(c);
        VirtualForm::Press(d, IDC_STOPRECORD);
        VirtualForm::Press(d, IDOK);
    });
    view.OnCmdMsg(IDC_REC);
    EXPECT_EQ(secondTakeStates, "0110");
    EXPECT_EQ(mci.sent, Join({kTake, Saved("temp.wav"), kTake, Saved("temp.wav")}));
    EXPECT_EQ(log.startedAt.size(), 2u);
    EXPECT_EQ(Field(IDC_SAMPLERATE), "22050");
}

TEST_F(SoundCommands, OkDuringASecondTakeSavesItBeforeTheDialogEnds)
{
    form.QueueDialogDriver([&](CDialog& d, VirtualForm& c) {
        VirtualForm::Press(d, IDC_RECORD);
        VirtualForm::Press(d, IDC_STOPRECORD);
        c.Type(IDC_FILENAME, "second.wav");
        VirtualForm::Press(d, IDC_RECORD);
        EXPECT_TRUE(VirtualForm::Press(d, IDOK));
    });
    view.OnCmdMsg(IDC_REC);
    EXPECT_EQ(mci.sent, Join({kTake, Saved("temp.wav"), kTake, Saved("second.wav")}));
    EXPECT_FALSE(recorder.IsOpen());
    EXPECT_EQ(log.live, 0);
    EXPECT_EQ(doc.GetTitle(), "second.wav");
    EXPECT_EQ(Field(IDC_SAMPLERATE), "22050");
}

TEST_F(SoundCommands, EscDuringATakeIsRefusedAndTheOwnerClosingSavesTheTake)
{
    bool stillRunning = false;
    form.QueueDialogDriver([&](CDialog& d, VirtualForm&) {
        VirtualForm::Press(d, IDC_RECORD);
        d.OnCommand(IDCANCEL);  // Esc: Cancel is disabled
        stillRunning = !d.IsEnded();
    });
    view.OnCmdMsg(IDC_REC);  // the driver leaves it running: Esc, then the owner closes
    EXPECT_TRUE(stillRunning);
    EXPECT_EQ(mci.sent, Join({kTake, Saved("temp.wav")}));
    EXPECT_FALSE(recorder.IsOpen());
    EXPECT_TRUE(std::filesystem::exists(dir.Path() / "temp.wav"));
    // The dialog ended without OK: the document stays as it was.
    EXPECT_EQ(doc.GetTitle(), "Untitled");
}

TEST_F(SoundCommands, ADialogDestroyedDuringATakeStillSavesAndCloses)
{
    {
        CRecordDialog dlg(mci);
        VirtualForm controls(RecordTemplate());
        dlg.Attach(&controls);
        dlg.OnInitDialog();
        dlg.OnRecord();
        dlg.Attach(nullptr);
    }
    EXPECT_EQ(mci.sent, Join({kTake, Saved("temp.wav")}));
    EXPECT_FALSE(recorder.IsOpen());
}

TEST_F(SoundCommands, TheNameIsSentAsTypedAndLimitedTo80Characters)
{
    std::string typed;
    form.QueueDialogDriver([&](CDialog& d, VirtualForm& c) {
        c.Type(IDC_FILENAME, std::string(81, 'a'));
        typed = c.GetDlgItemText(IDC_FILENAME);
        c.Type(IDC_FILENAME, "my take.wav");
        VirtualForm::Press(d, IDC_RECORD);
        VirtualForm::Press(d, IDC_STOPRECORD);
        VirtualForm::Press(d, IDOK);
    });
    view.OnCmdMsg(IDC_REC);
    EXPECT_EQ(typed, std::string(80, 'a'));
    EXPECT_EQ(mci.sent.at(3), "save capture my take.wav");
    EXPECT_EQ(doc.GetTitle(), "my take.wav");
    EXPECT_EQ(Field(IDC_SAMPLERATE), "22050");
}

TEST_F(SoundCommands, ANameChangedAfterStopBecomesThePathThoughNothingWasSavedUnderIt)
{
    form.QueueDialogDriver([&](CDialog& d, VirtualForm& c) {
        VirtualForm::Press(d, IDC_RECORD);
        VirtualForm::Press(d, IDC_STOPRECORD);
        c.Type(IDC_FILENAME, "other.wav");
        VirtualForm::Press(d, IDOK);
    });
    view.OnCmdMsg(IDC_REC);
    EXPECT_EQ(mci.sent, Join({kTake, Saved("temp.wav")}));
    EXPECT_EQ(doc.GetPathName(), (dir.Path() / "other.wav").string());
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"Cannot read input WAVE file"});
}

TEST_F(SoundCommands, EveryRecPressStartsAFreshDialog)
{
    for (int run = 0; run < 2; ++run) {
        form.QueueDialogDriver([&](CDialog& d, VirtualForm& c) {
            EXPECT_EQ(c.GetDlgItemText(IDC_FILENAME), "temp.wav");
            EXPECT_EQ(States(c), "1001");
            c.Type(IDC_FILENAME, "changed.wav");
            VirtualForm::Press(d, IDCANCEL);
        });
        view.OnCmdMsg(IDC_REC);
    }
    EXPECT_EQ(form.DialogsRun(), (std::vector<int>{IDD_RECORD, IDD_RECORD}));
    EXPECT_TRUE(mci.sent.empty());
}

TEST(SoundCli, RecordingOptionsNeedTheirValues)
{
    TempDir dir;
    const std::vector<std::vector<std::string>> wrong = {
        {"--rec"}, {"--rec", "-1"}, {"--rec", "abc"}, {"--rec", "nan"}, {"--rec", "3601"}, {"--rec", ""},
        {"--rec-file"},
    };
    for (const auto& args : wrong) {
        CliResult r = RunCli(args, dir.Path().string());
        EXPECT_EQ(r.status, 2) << args.back();
        EXPECT_TRUE(r.err.starts_with("tarvo-cli: " + args[0] + " ")) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

}  // namespace
}  // namespace tarvo::test
