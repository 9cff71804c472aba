// "Live W&F..." in the Edit menu: the non-modal dialog on a buffer played in
// blocks in place of the sound input, its readings, Pause, Reset, the
// nominal tone, and what it says without an input.
#include "GuiTest.h"

#include "app/LiveMeterDialog.h"

#include <QComboBox>
#include <QProgressBar>
#include <QRegularExpression>
#include <QtCharts/QCategoryAxis>
#include <QtCharts/QChart>
#include <QDoubleSpinBox>
#include <QPushButton>
#include <QSpinBox>
#include <QtCharts/QChartView>

#include <cmath>
#include <numbers>

namespace tarvo::test {
namespace {

// 3150 Hz at 48 kHz, `peak` (0.1 %) at 4 Hz, running `fast` (0.5 %) fast; mono.
std::vector<float> FmTone(double seconds, double peak = 0.001, double fast = 0.005)
{
    std::vector<float> x(static_cast<size_t>(seconds * 48000));
    double phase = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        x[i] = static_cast<float>(0.5 * std::sin(phase));
        const double t = static_cast<double>(i) / 48000;
        const double hz = 3150 * (1 + fast) * (1 + peak * std::sin(2 * std::numbers::pi * 4 * t));
        phase = std::remainder(phase + 2 * std::numbers::pi * hz / 48000, 2 * std::numbers::pi);
    }
    return x;
}

// A buffer played in blocks whose input can go away, as a sound server
// that is killed: stopped, then the loss told.
class LosableCapture : public BufferCapture {
public:
    using BufferCapture::BufferCapture;
    void Lose(const std::string& why)
    {
        Stop();
        ReportLoss(why);
    }
};

class LiveWindow : public AppTest {
protected:
    // Opens the dialog from the menu with a buffer of the tone as its input.
    CLiveMeterDialog* Open(double seconds, double peak = 0.001, double fast = 0.005)
    {
        app->liveInputFactory = [this, seconds, peak, fast]() -> std::unique_ptr<BlockCapture> {
            auto fake = std::make_unique<LosableCapture>(FmTone(seconds, peak, fast), 48000, 1, 960);
            source = fake.get();
            return fake;
        };
        Frame()->CommandAction(ID_LIVEWF)->trigger();
        return app->LiveMeterDialog();
    }
    // The readings as a map of "label: value" lines.
    static std::map<QString, QString> Readings(const CLiveMeterDialog& dlg)
    {
        std::map<QString, QString> m;
        for (const QString& line : dlg.ReadingsText().split('\n')) {
            const qsizetype at = line.indexOf(QStringLiteral(": "));
            m[line.left(at)] = line.mid(at + 2);
        }
        return m;
    }
    LosableCapture* source = nullptr;
};

TEST_F(LiveWindow, ShowsTheSpeedErrorTheFiguresAndThePlot)
{
    Start();
    CLiveMeterDialog* dlg = Open(9);
    ASSERT_NE(dlg, nullptr);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_FALSE(dlg->isModal());
    ASSERT_TRUE(dlg->Listening());
    ASSERT_TRUE(source && source->Started());
    dlg->NominalBox()->setCurrentIndex(1);  // 3150 Hz
    source->Play(8 * 48000);
    QApplication::processEvents();
    auto r = Readings(*dlg);
    EXPECT_TRUE(r["status"].startsWith("Locked on 316")) << r["status"].toStdString();
    EXPECT_EQ(r["speed error"], "+0.500 % +15.75 Hz");
    EXPECT_EQ(r["carrier"], "Carrier 3165.75 Hz");
    EXPECT_TRUE(r["Weighted 2-sigma"] == "0.0997 %" || r["Weighted 2-sigma"].startsWith("0.100") ||
                r["Weighted 2-sigma"].startsWith("0.099"))
        << r["Weighted 2-sigma"].toStdString();
    EXPECT_TRUE(r["Wow rms"].startsWith("0.07")) << r["Wow rms"].toStdString();
    EXPECT_TRUE(r["Flutter rms"].startsWith("0.00")) << r["Flutter rms"].toStdString();
    EXPECT_TRUE(r["run"].startsWith("Since the last reset (8.0 s): weighted 2-sigma 0.09") ||
                r["run"].startsWith("Since the last reset (8.0 s): weighted 2-sigma 0.10"))
        << r["run"].toStdString();
    EXPECT_GE(r["plot points"].toInt(), 790);  // a hundred a second
    EXPECT_EQ(dlg->findChildren<QChartView*>().size(), 1);

    // The other nominal: the same carrier against 3000 Hz.
    dlg->NominalBox()->setCurrentIndex(4);
    EXPECT_TRUE(dlg->OtherNominalBox()->isEnabled());
    dlg->OtherNominalBox()->setValue(3000);
    source->Play(48000 / 5);
    EXPECT_EQ(Readings(*dlg)["speed error"], "+5.525 % +165.75 Hz");
    dlg->NominalBox()->setCurrentIndex(0);
    source->Play(48000 / 5);
    EXPECT_EQ(Readings(*dlg)["speed error"], "-- no nominal");

    // Pause holds the display while the meter goes on; Resume shows it again.
    dlg->PauseButton()->click();
    EXPECT_EQ(dlg->PauseButton()->text(), "Resume");
    const QString held = dlg->ReadingsText();
    dlg->ResetButton()->click();
    source->Play(48000 / 2);
    EXPECT_EQ(dlg->ReadingsText(), held);
    dlg->PauseButton()->click();
    r = Readings(*dlg);
    EXPECT_EQ(r["run"], "Since the last reset: settling");
    EXPECT_EQ(r["Weighted 2-sigma"], "filling");

    // Closing releases the input.
    dlg->close();
    EXPECT_FALSE(dlg->Listening());
    EXPECT_TRUE(messages.empty());
}

TEST_F(LiveWindow, InputThatGoesAwayIsSaidOnceAndTheFiguresStay)
{
    Start();
    CLiveMeterDialog* dlg = Open(9);
    ASSERT_NE(dlg, nullptr);
    ASSERT_TRUE(dlg->Listening());
    dlg->NominalBox()->setCurrentIndex(1);  // 3150 Hz
    source->Play(static_cast<size_t>(6.6 * 48000));
    QApplication::processEvents();
    const auto before = Readings(*dlg);
    ASSERT_TRUE(before.at("status").startsWith("Locked on")) << before.at("status").toStdString();

    source->Lose("connection terminated");
    QApplication::processEvents();
    auto after = Readings(*dlg);
    EXPECT_EQ(after["status"],
              "The sound input went away after 6.6 s: connection terminated. The figures are those measured until then.");
    // Everything but the status as it was when the input went.
    for (const auto& [label, text] : before) {
        if (label != "status") {
            EXPECT_EQ(after[label], text) << label.toStdString();
        }
    }
    EXPECT_TRUE(after["run"].startsWith("Since the last reset (6.6 s)")) << after["run"].toStdString();
    EXPECT_FALSE(dlg->Listening());  // let go of
    EXPECT_FALSE(dlg->ResetButton()->isEnabled());
    EXPECT_FALSE(dlg->PauseButton()->isEnabled());
    // Another channel or nominal shows nothing new over it, and says nothing more.
    dlg->NominalBox()->setCurrentIndex(0);
    dlg->ChannelBox()->setCurrentIndex(0);
    QApplication::processEvents();
    EXPECT_EQ(Readings(*dlg)["status"], after["status"]);
    dlg->close();
    EXPECT_TRUE(messages.empty());
}

TEST_F(LiveWindow, SaysSoWhenThereIsNoInputOrNoTone)
{
    Start();
    app->liveInputFactory = [] { return std::unique_ptr<BlockCapture>(); };
    Frame()->CommandAction(ID_LIVEWF)->trigger();
    CLiveMeterDialog* dlg = app->LiveMeterDialog();
    ASSERT_NE(dlg, nullptr);
    EXPECT_FALSE(dlg->Listening());
    auto r = Readings(*dlg);
    EXPECT_EQ(r["status"], "No sound input device was found: the live meter needs one to listen to.");
    EXPECT_EQ(r["speed error"], "--");
    dlg->close();

    app->liveInputFactory = [this]() -> std::unique_ptr<BlockCapture> {
        auto fake = std::make_unique<LosableCapture>(std::vector<float>(2 * 48000, 0.f), 48000, 2, 512);
        source = fake.get();
        return fake;
    };
    Frame()->CommandAction(ID_LIVEWF)->trigger();
    dlg = app->LiveMeterDialog();
    EXPECT_EQ(dlg->ChannelBox()->count(), 2);
    source->Play();
    r = Readings(*dlg);
    EXPECT_EQ(r["status"], "No tone: play the test tape's tone into the input.");
    EXPECT_EQ(r["Weighted 2-sigma"], "--");
    EXPECT_EQ(r["carrier"], "");
}

TEST_F(LiveWindow, TheInputBoxOffersTheDefaultFirstRemembersTheChoiceAndFollowsTheInputs)
{
    // Two inputs, the monitor the default; each plays its own tone: the
    // microphone 0.5 % fast, the monitor 1 % slow, so the speed error says
    // which one is read.
    struct Input {
        SoundInput info;
        double fast;
    };
    std::vector<Input> there{{{"mic", "Microphone"}, 0.005}, {{"out.monitor", "Monitor of Speakers"}, -0.01}};
    std::string systemDefault = "out.monitor";
    std::vector<std::string> opened;
    BufferCapture* reading = nullptr;
    Start();
    app->liveInputLister = [&] {
        std::vector<SoundInput> list;
        for (const Input& in : there)
            list.push_back(in.info);
        return OrderInputs(list, systemDefault);
    };
    app->liveInputOpener = [&](const std::string& name) -> std::unique_ptr<BlockCapture> {
        opened.push_back(name);
        for (const Input& in : there)
            if (in.info.name == name) {
                auto capture = std::make_unique<BufferCapture>(FmTone(3, 0.001, in.fast), 48000, 1, 960);
                reading = capture.get();
                return capture;
            }
        return nullptr;
    };
    auto speed = [&](CLiveMeterDialog* dlg) {
        dlg->NominalBox()->setCurrentIndex(1);  // 3150 Hz
        reading->Play();
        return Readings(*dlg)["speed error"].section(' ', 0, 1);
    };
    auto items = [](CLiveMeterDialog* dlg) {
        QStringList texts;
        for (int i = 0; i < dlg->InputBox()->count(); ++i)
            texts << dlg->InputBox()->itemText(i);
        return texts;
    };

    Frame()->CommandAction(ID_LIVEWF)->trigger();
    CLiveMeterDialog* dlg = app->LiveMeterDialog();
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(items(dlg), QStringList({"Monitor of Speakers (default)", "Microphone"}));
    EXPECT_EQ(dlg->InputBox()->currentIndex(), 0);
    EXPECT_EQ(opened, std::vector<std::string>{"out.monitor"});
    EXPECT_EQ(speed(dlg), "-1.000 %");

    // Chosen by hand: read at once and remembered.
    dlg->InputBox()->setCurrentIndex(1);
    emit dlg->InputBox()->activated(1);
    EXPECT_EQ(opened.back(), "mic");
    EXPECT_EQ(speed(dlg), "+0.500 %");
    EXPECT_EQ(CTarvoApp::Profile()->value("LiveMeter/Input").toString(), "mic");
    dlg->close();
    Frame()->CommandAction(ID_LIVEWF)->trigger();
    dlg = app->LiveMeterDialog();
    EXPECT_EQ(opened.back(), "mic");
    EXPECT_EQ(dlg->InputBox()->currentText(), "Microphone");

    // A list that changes elsewhere leaves the input read alone.
    const size_t opens = opened.size();
    there.push_back({{"usb", "USB Audio"}, 0});
    dlg->RefreshInputs();
    EXPECT_EQ(items(dlg), QStringList({"Monitor of Speakers (default)", "Microphone", "USB Audio"}));
    EXPECT_EQ(opened.size(), opens);
    EXPECT_EQ(dlg->InputBox()->currentText(), "Microphone");

    // Unplugged: the default meanwhile; back: the chosen one again.
    there.erase(there.begin());
    dlg->RefreshInputs();
    EXPECT_EQ(items(dlg), QStringList({"Monitor of Speakers (default)", "USB Audio"}));
    EXPECT_EQ(dlg->InputName(), "out.monitor");
    EXPECT_TRUE(dlg->Listening());
    EXPECT_EQ(speed(dlg), "-1.000 %");
    there.push_back({{"mic", "Microphone"}, 0.005});
    dlg->RefreshInputs();
    EXPECT_EQ(dlg->InputName(), "mic");
    EXPECT_EQ(dlg->InputBox()->currentText(), "Microphone");
    EXPECT_EQ(speed(dlg), "+0.500 %");

    // Another default is offered first; the choice stays.
    systemDefault = "usb";
    dlg->RefreshInputs();
    EXPECT_EQ(items(dlg), QStringList({"USB Audio (default)", "Monitor of Speakers", "Microphone"}));
    EXPECT_EQ(dlg->InputName(), "mic");
    EXPECT_EQ(dlg->InputBox()->currentText(), "Microphone");

    // No input at all: said so, and the box offers nothing to choose.
    there.clear();
    dlg->close();
    Frame()->CommandAction(ID_LIVEWF)->trigger();
    dlg = app->LiveMeterDialog();
    EXPECT_FALSE(dlg->Listening());
    EXPECT_FALSE(dlg->InputBox()->isEnabled());
    EXPECT_EQ(Readings(*dlg)["status"], "No sound input device was found: the live meter needs one to listen to.");
    dlg->close();
    EXPECT_TRUE(messages.empty());
}
}  // namespace
}  // namespace tarvo::test

namespace tarvo::test {
namespace {

// The deviation's scale reads at every moment: before the tone, on it, and
// after it, at the dialog's smallest height too; never narrower than
// +-0.01 %, and wide enough for the trace.
TEST_F(LiveWindow, TheDeviationScaleAlwaysReads)
{
    Start();
    CLiveMeterDialog* dlg = Open(30, 0.004, 0);
    ASSERT_TRUE(dlg && source && source->Started());
    auto* axis = qobject_cast<QCategoryAxis*>(dlg->findChildren<QChartView*>().front()->chart()->axes(Qt::Vertical).front());
    ASSERT_NE(axis, nullptr);
    for (int height : {dlg->height(), dlg->minimumSizeHint().height()}) {
        dlg->resize(dlg->width(), height);
        QApplication::processEvents();
        EXPECT_LE(axis->min(), -0.01) << height;
        EXPECT_GE(axis->max(), 0.01) << height;
        source->Play(9 * 48000);  // 0.4 % at 4 Hz
        QApplication::processEvents();
        EXPECT_GE(axis->max(), 0.4) << height;
        EXPECT_LE(axis->max(), 1.0) << height;
        EXPECT_EQ(axis->min(), -axis->max()) << height;
        EXPECT_GE(axis->categoriesLabels().size(), 3) << height;
        const QStringList cut = VisibleTexts(*dlg->findChildren<QChartView*>().front()->scene()).filter(QRegularExpression("\\.\\.\\.$|\u2026"));
        EXPECT_TRUE(cut.isEmpty()) << height << ": " << cut.join(' ').toStdString();
    }
    dlg->close();
}

// A figure beyond its bar's full scale says so on the bar, with the figure;
// Pause shows that the display is held, and since when.
TEST_F(LiveWindow, BarsSayWhenTheyArePinnedAndPauseIsSeen)
{
    Start();
    CLiveMeterDialog* dlg = Open(9, 0.01, 0);  // 1 %: the weighted figure is past the bars' 0.5 %
    ASSERT_TRUE(dlg && source && source->Started());
    source->Play(8 * 48000);
    QApplication::processEvents();
    const QList<QProgressBar*> bars = dlg->findChildren<QProgressBar*>();
    ASSERT_EQ(bars.size(), 3);
    EXPECT_TRUE(bars[0]->isTextVisible());
    EXPECT_TRUE(bars[0]->text().startsWith("0.99") || bars[0]->text().startsWith("1.00")) << bars[0]->text().toStdString();
    EXPECT_TRUE(bars[0]->text().contains("over the scale"));
    EXPECT_FALSE(bars[2]->isTextVisible());  // flutter: none to speak of

    dlg->PauseButton()->click();
    const auto r = Readings(*dlg);
    EXPECT_TRUE(r.at("status").startsWith("Paused at 8.0 s: the display is held")) << r.at("status").toStdString();
    const QChart* chart = dlg->findChildren<QChartView*>().front()->chart();
    EXPECT_TRUE(chart->title().contains("Paused at 8.0 s")) << chart->title().toStdString();
    dlg->PauseButton()->click();
    source->Play(48000 / 5);
    EXPECT_FALSE(Readings(*dlg).at("status").startsWith("Paused"));
    EXPECT_FALSE(chart->title().contains("Paused"));
    dlg->close();
}

}  // namespace
}  // namespace tarvo::test
