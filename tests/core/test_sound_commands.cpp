// The form's sound buttons on a fake playback service, and the record
// dialog on a command interface that records what it is sent.
#include "CliRunner.h"
#include "FakeSound.h"
#include "ViewFixture.h"
#include "sound/PcmWave.h"
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

TEST_F(SoundCommands, WithoutSoundServicesTheButtonsSayWhyOnce)
{
    view.SetSoundServices(nullptr, nullptr);
    form.QueueDialogDriver([](CDialog& d, VirtualForm&) {
        VirtualForm::Press(d, IDC_RECORD);
        VirtualForm::Press(d, IDC_STOPRECORD);
        VirtualForm::Press(d, IDOK);
    });
    for (int id : {IDC_PLY, IDC_STOP, IDC_WHITENOISE, IDC_TONE3KHZ, IDC_REC})
        EXPECT_TRUE(view.OnCmdMsg(id));
    // No player is no output device: the looping test sounds say so; no
    // recorder is no input device: Rec says so and opens no dialog.
    EXPECT_EQ(MessageTexts(), (std::vector<std::string>{"No audio output device was found.",
                                                       "No audio output device was found.",
                                                       "No audio input device was found."}));
    EXPECT_TRUE(form.DialogsRun().empty());
    EXPECT_TRUE(playback.calls.empty());
}

// A player whose device has gone: WN and 3Khz say so, once each press, and
// start nothing; Ply and Stop go on as before.
TEST_F(SoundCommands, TestSoundsWithoutAnOutputDeviceSaySo)
{
    playback.output = false;
    for (int id : {IDC_WHITENOISE, IDC_TONE3KHZ, IDC_STOP})
        EXPECT_TRUE(view.OnCmdMsg(id));
    ASSERT_EQ(form.Messages().size(), 2u);
    for (const auto& m : form.Messages()) {
        EXPECT_EQ(m.text, "No audio output device was found.");
        EXPECT_EQ(m.caption, "Quillon");
    }
    using Call = std::pair<std::string, unsigned>;
    EXPECT_EQ(playback.calls, (std::vector<Call>{{"", SND_ASYNC}}));
}

TEST_F(SoundCommands, RecWithoutAnInputDeviceSaysSoOnceAndLoadsNoOldTake)
{
    // An earlier take lies in the folder; the device has gone.
    const std::string old = dir.Write("temp.wav", Wave8(22050, Sine(22050, 3000, 22050)));
    CommandRecorder deviceless{FakeCaptureFactory(log), [] { return false; }};
    RecordingMci noInput{&deviceless};
    view.SetSoundServices(&playback, &noInput);
    view.OnCmdMsg(IDC_REC);
    ASSERT_EQ(form.Messages().size(), 1u);
    EXPECT_EQ(form.Messages()[0].text, "No audio input device was found.");
    EXPECT_EQ(form.Messages()[0].caption, "Quillon");
    EXPECT_TRUE(form.DialogsRun().empty());
    EXPECT_TRUE(noInput.sent.empty());
    EXPECT_EQ(doc.GetTitle(), "Untitled");
    EXPECT_EQ(Field(IDC_SAMPLERATE), "");
}

TEST_F(SoundCommands, ATakeThatCannotBeSavedIsKeptUntilAnotherNameIsTyped)
{
    // A folder that does not exist: one message with the path and the
    // system's reason, the dialog stays open with the take, and OK saves it
    // under the name typed next.
    const std::string missing = "no such folder/take.wav";
    std::vector<std::string> messagesAfterStop;
    bool openAfterFailedOk = false;
    form.QueueDialogDriver([&](CDialog& d, VirtualForm& c) {
        c.Type(IDC_FILENAME, missing);
        VirtualForm::Press(d, IDC_RECORD);
        VirtualForm::Press(d, IDC_STOPRECORD);
        messagesAfterStop = MessageTexts();
        VirtualForm::Press(d, IDOK);  // the same name fails again
        openAfterFailedOk = !d.IsEnded();
        c.Type(IDC_FILENAME, "kept.wav");
        EXPECT_TRUE(VirtualForm::Press(d, IDOK));
    });
    view.OnCmdMsg(IDC_REC);
    const std::string failure = "The recording was not saved as \"" + missing +
                                "\": No such file or directory. Type another name and press OK to save it.";
    EXPECT_EQ(messagesAfterStop, std::vector<std::string>{failure});
    EXPECT_TRUE(openAfterFailedOk);
    EXPECT_EQ(MessageTexts(), (std::vector<std::string>{failure, failure}));
    EXPECT_EQ(mci.sent, Join({kTake, {"save capture " + missing, "save capture " + missing}, Saved("kept.wav")}));
    EXPECT_EQ(log.startedAt.size(), 1u);  // one take, saved at the third try
    EXPECT_FALSE(recorder.IsOpen());
    EXPECT_EQ(doc.GetTitle(), "kept.wav");
    EXPECT_EQ(Field(IDC_SAMPLERATE), "22050");
    EXPECT_EQ(Field(IDC_DATASIZE), "44100");  // the whole two-second take
}

// A capture device that starts once and then fails.
class OnceCapture : public CaptureSource {
public:
    bool Start(int) override { return starts++ == 0; }
    CaptureFormat Format() const override { return {22050, 1, SampleKind::UInt8}; }
    std::vector<unsigned char> Stop() override { return std::vector<unsigned char>(22050, 128); }
    int starts = 0;
};

TEST(CommandRecorder, AFailedRecordLeavesNothingToSave)
{
    TempDir dir;
    CommandRecorder recorder([] { return std::make_unique<OnceCapture>(); });
    const std::string name = (dir.Path() / "take.wav").string();
    ASSERT_EQ(recorder.SendString("open new type waveaudio alias capture"), MCI_OK);
    ASSERT_EQ(recorder.SendString("record capture"), MCI_OK);
    ASSERT_EQ(recorder.SendString("save capture " + name), MCI_OK);
    const std::string good = dir.Read("take.wav");
    EXPECT_EQ(good.size(), Wave8MonoBytes(11025, std::vector<unsigned char>(11025, 128)).size());
    // The device fails now: the next save answers "file not saved", as before
    // any take, and leaves the good take's file as it was.
    std::string reply;
    EXPECT_EQ(recorder.SendString("record capture", &reply), MCIERR_HARDWARE);
    EXPECT_EQ(recorder.SendString("save capture " + name, &reply), MCIERR_FILE_NOT_SAVED);
    EXPECT_EQ(reply, "The file was not saved.");
    EXPECT_EQ(dir.Read("take.wav"), good);
    EXPECT_EQ(recorder.SendString("save capture " + (dir.Path() / "other.wav").string()), MCIERR_FILE_NOT_SAVED);
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "other.wav"));
}

TEST(CommandRecorder, AFailedSaveAnswersTheSystemsReasonAndKeepsTheTake)
{
    TempDir dir;
    CommandRecorder recorder([] { return std::make_unique<OnceCapture>(); });
    ASSERT_EQ(recorder.SendString("open new type waveaudio alias capture"), MCI_OK);
    ASSERT_EQ(recorder.SendString("record capture"), MCI_OK);
    std::string reply;
    EXPECT_EQ(recorder.SendString("save capture " + (dir.Path() / "none" / "a.wav").string(), &reply),
              MCIERR_FILE_NOT_SAVED);
    EXPECT_EQ(reply, "No such file or directory.");
    EXPECT_EQ(recorder.SendString("save capture " + (dir.Path() / "b.wav").string(), &reply), MCI_OK);
    EXPECT_EQ(reply, "");
    EXPECT_EQ(dir.Read("b.wav").size(), Wave8MonoBytes(11025, std::vector<unsigned char>(11025, 128)).size());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);  // no temporary file left
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
        {"--rec", "3600.5"},
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
