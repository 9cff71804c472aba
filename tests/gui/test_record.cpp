// Rec in the window: the record dialog opens over the form, its buttons
// drive the recorder, and a take becomes the document.
#include "FakeSound.h"
#include "GuiTest.h"

#include <QPushButton>

#include <functional>

namespace tarvo::test {
namespace {

QPushButton* Button(QDialog* d, const QString& text)
{
    for (QPushButton* b : d->findChildren<QPushButton*>())
        if (b->text() == text)
            return b;
    return nullptr;
}

// Acts on the next modal dialog once it is up.
void WhenDialogOpens(std::function<void(QDialog*)> act)
{
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            act(d);
        }
    });
    timer->start(20);
}

class RecordWindow : public AppTest {
protected:
    void StartWithFakeSound()
    {
        Start();
        View().SetSoundServices(&playback, &mci);
    }
    FakePlayback playback;
    FakeCaptureLog log;
    CommandRecorder recorder{FakeCaptureFactory(log)};
    RecordingMci mci{&recorder};
};

TEST_F(RecordWindow, ATakeBecomesTheDocument)
{
    StartWithFakeSound();
    const std::string take = (dir.Path() / "take.wav").string();
    std::string opened, recording, stopped;
    auto states = [](QDialog* d) {
        std::string s;
        for (const char* t : {"Record", "Stop", "OK", "Cancel"})
            s += Button(d, t) && Button(d, t)->isEnabled() ? '1' : '0';
        return s;
    };
    WhenDialogOpens([&](QDialog* d) {
        auto* edit = d->findChild<QLineEdit*>();
        ASSERT_NE(edit, nullptr);
        EXPECT_EQ(edit->text(), "temp.wav");
        opened = states(d);
        edit->selectAll();
        QTest::keyClicks(edit, QString::fromStdString(take));
        QTest::mouseClick(Button(d, "Record"), Qt::LeftButton);
        recording = states(d);
        QTest::mouseClick(Button(d, "Stop"), Qt::LeftButton);
        stopped = states(d);
        QTest::mouseClick(Button(d, "OK"), Qt::LeftButton);
    });
    Click(IDC_REC);
    EXPECT_EQ(opened, "1001");
    EXPECT_EQ(recording, "0100");
    EXPECT_EQ(stopped, "1010");
    ASSERT_EQ(mci.sent.size(), 5u);
    EXPECT_EQ(mci.sent[3], "save capture " + take);
    EXPECT_EQ(Path(), take);
    EXPECT_EQ(Title(), "take.wav - Quillon");
    EXPECT_EQ(Field(IDC_SAMPLERATE)->text(), "22050");
    EXPECT_EQ(Field(IDC_BITSPERSAMPLE)->text(), "8");
    EXPECT_EQ(app->RecentFiles().Files().value(0).toStdString(), take);
    EXPECT_TRUE(messages.empty());
}

TEST_F(RecordWindow, CancelAtOnceSendsNothing)
{
    StartWithFakeSound();
    bool seen = false;
    WhenDialogOpens([&](QDialog* d) {
        seen = true;
        QTest::keyClick(d, Qt::Key_Escape);  // Esc is Cancel while Cancel is on
    });
    Click(IDC_REC);
    EXPECT_TRUE(seen);
    EXPECT_TRUE(mci.sent.empty());
    EXPECT_EQ(Title(), "Untitled - Quillon");
}

TEST_F(RecordWindow, SoundButtonsReachThePlaybackService)
{
    StartWithFakeSound();
    for (int id : {IDC_WHITENOISE, IDC_TONE3KHZ, IDC_PLY, IDC_STOP})
        Click(id);
    using Call = std::pair<std::string, unsigned>;
    EXPECT_EQ(playback.calls, (std::vector<Call>{{"whitenoise.wav", 9}, {"3khz.wav", 9}, {"Untitled", 1}, {"", 1}}));
}

}  // namespace
}  // namespace tarvo::test
