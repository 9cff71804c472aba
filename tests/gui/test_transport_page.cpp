// The meter dialog's Transport tab: a machine profile chosen applies to the
// file it was chosen for, a new dialog on another file starts with no
// transport unless the last one was kept, and the title names the transport
// the figures were labelled with.
#include "GuiTest.h"
#include "ToneFile.h"

#include "app/MeterDialog.h"
#include "app/TransportPage.h"
#include "meter/Machines.h"
#include "platform/MeterViews.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>

#include <cstdlib>
#include <optional>

using namespace tarvo;
using namespace tarvo::test;

namespace {

class TransportProfiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const char* old = std::getenv("XDG_CONFIG_HOME"))
            oldConfig = old;
        ::setenv("XDG_CONFIG_HOME", (dir.Path() / "config").c_str(), 1);
        Forget();
        Tone tone;
        tone.mods = {{4, 0.002}};
        for (const char* name : {"record.wav", "tape.wav"})
            ASSERT_TRUE(WriteTone((dir.Path() / name).string(), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 11025, 3, tone));
        meter::Transport bench;
        bench.rpm = 100.0 / 3;
        bench.driveRatio = 7.5;
        bench.motorPoles = 24;
        meter::Transport deck;
        deck.tapeSpeedCmS = 19.05;
        deck.capstanMm = 12;
        deck.pinchRollerMm = 25;
        deck.motorRatio = 2;
        deck.reelMinMm = 60;
        deck.reelMaxMm = 265;
        deck.motorPoles = 4;
        deck.motorSlots = 18;
        std::string why;
        ASSERT_TRUE(meter::SaveMachine(meter::MachinesPath(), {"Bench turntable", "Belt drive", bench}, why)) << why;
        ASSERT_TRUE(meter::SaveMachine(meter::MachinesPath(), {"Deck B", "", deck}, why)) << why;
    }
    void TearDown() override
    {
        Forget();
        if (oldConfig)
            ::setenv("XDG_CONFIG_HOME", oldConfig->c_str(), 1);
        else
            ::unsetenv("XDG_CONFIG_HOME");
    }
    static void Forget()
    {
        QSettings(QSettings::NativeFormat, QSettings::UserScope, "Tarvo", "Quillon").remove("Meter transport");
    }
    std::string File(const char* name) const { return (dir.Path() / name).string(); }

    TempDir dir;
    std::optional<std::string> oldConfig;
};

// Whether a label of the dialog shows `text` (the title block above the tabs).
bool Shows(const CMeterDialog& dlg, const QString& text)
{
    for (const QLabel* label : dlg.findChildren<QLabel*>())
        if (label->text().contains(text))
            return true;
    return false;
}

const char* const kBench = "Turntable 33 1/3 rpm, belt 7.5:1, 24-pole motor";
const char* const kDeck =
    "Tape 19.05 cm/s, capstan 12 mm, pinch roller 25 mm, motor 2:1, reels 60 to 265 mm, 4-pole 18-slot motor";

TEST_F(TransportProfiles, ChosenForOneFileUnlessKeptForTheNext)
{
    {
        CMeterDialog dlg(File("record.wav"));
        QTRY_VERIFY_WITH_TIMEOUT(dlg.Finished(), 60000);
        EXPECT_EQ(dlg.Result().transport, "No transport given");
        auto* page = dlg.findChild<TransportPage*>();
        ASSERT_NE(page, nullptr);
        ASSERT_EQ(page->ProfileBox()->count(), 3);  // None and the two stored
        EXPECT_TRUE(page->StoreError().isEmpty()) << page->StoreError().toStdString();
        ASSERT_TRUE(page->ChooseProfile("Bench turntable"));
        page->AgainButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(dlg.Finished(), 60000);
        ASSERT_TRUE(dlg.Result().ok) << dlg.Result().message;
        EXPECT_EQ(dlg.Result().transport, kBench);
        // The platter at 33 1/3 rpm turns 5/9 times a second.
        ASSERT_FALSE(dlg.Result().channels[0].parts.empty());
        EXPECT_NEAR(dlg.Result().channels[0].parts[0].hz, 5.0 / 9, 1e-6);
        EXPECT_TRUE(Shows(dlg, kBench));
        const QStringList title = TitleLines(dlg.Result(), "record.wav");
        ASSERT_GE(title.size(), 2);
        EXPECT_EQ(title[1], kBench);
    }
    {
        // Another file: the turntable chosen for the record is not applied.
        CMeterDialog dlg(File("tape.wav"));
        QTRY_VERIFY_WITH_TIMEOUT(dlg.Finished(), 60000);
        EXPECT_EQ(dlg.Result().transport, "No transport given");
        EXPECT_TRUE(dlg.Result().channels[0].parts.empty());
        EXPECT_TRUE(Shows(dlg, "No transport given"));
        auto* page = dlg.findChild<TransportPage*>();
        EXPECT_TRUE(page->ProfileName().isEmpty());
        EXPECT_FALSE(page->KeepBox()->isChecked());
        ASSERT_TRUE(page->ChooseProfile("Deck B"));
        page->KeepBox()->setChecked(true);
        page->AgainButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(dlg.Finished(), 60000);
        EXPECT_EQ(dlg.Result().transport, kDeck);
    }
    {
        // Kept: the next file starts with it, and says so.
        CMeterDialog dlg(File("record.wav"));
        QTRY_VERIFY_WITH_TIMEOUT(dlg.Finished(), 60000);
        EXPECT_EQ(dlg.Result().transport, kDeck);
        auto* page = dlg.findChild<TransportPage*>();
        EXPECT_EQ(page->ProfileName(), "Deck B");
        EXPECT_TRUE(page->KeepBox()->isChecked());
        page->KeepBox()->setChecked(false);
    }
    {
        CMeterDialog dlg(File("tape.wav"));
        QTRY_VERIFY_WITH_TIMEOUT(dlg.Finished(), 60000);
        EXPECT_EQ(dlg.Result().transport, "No transport given");
    }
}

// A preset fills the usual speed; the form saved as a profile is in the
// store tarvo-cli reads, and chosen; Delete takes it out again. A name that
// would break the store is refused with the reason.
TEST_F(TransportProfiles, PresetsSaveAndDelete)
{
    TransportPage page;
    // A profile chosen fills every field of the form with its own figure.
    ASSERT_TRUE(page.ChooseProfile("Deck B"));
    EXPECT_EQ(meter::TransportLine(page.Transport()), kDeck);
    ASSERT_TRUE(page.ChooseProfile("Bench turntable"));
    EXPECT_EQ(meter::TransportLine(page.Transport()), kBench);
    const QStringList presets = TransportPage::PresetNames();
    const struct {
        const char* preset;
        double rpm, tape;
    } cases[] = {
        {"Turntable 16 2/3 rpm", 50.0 / 3, 0}, {"Turntable 22 1/2 rpm", 22.5, 0}, {"Turntable 33 1/3 rpm", 100.0 / 3, 0},
        {"Turntable 45 rpm", 45, 0},           {"Turntable 78 rpm", 78, 0},       {"Tape 2.38 cm/s", 0, 2.38},
        {"Tape 4.76 cm/s", 0, 4.76},           {"Tape 9.53 cm/s", 0, 9.53},       {"Tape 19.05 cm/s", 0, 19.05},
        {"Tape 38.1 cm/s", 0, 38.1},
    };
    ASSERT_EQ(presets.size(), static_cast<qsizetype>(std::size(cases)));
    for (const auto& k : cases) {
        SCOPED_TRACE(k.preset);
        const int n = static_cast<int>(presets.indexOf(QString::fromLatin1(k.preset)));
        ASSERT_GE(n, 0);
        page.ApplyPreset(n);
        EXPECT_NEAR(page.Transport().rpm, k.rpm, 1e-8);
        EXPECT_NEAR(page.Transport().tapeSpeedCmS, k.tape, 1e-8);
    }
    page.ApplyPreset(static_cast<int>(presets.indexOf("Turntable 45 rpm")));
    page.Field(1)->setText("1");
    EXPECT_EQ(page.SaveProfile("Bench 45", "  Direct drive "), QString());
    EXPECT_EQ(page.ProfileName(), "Bench 45");
    std::vector<meter::Machine> machines;
    std::string why;
    ASSERT_TRUE(meter::ReadMachines(meter::MachinesPath(), machines, why)) << why;
    const meter::Machine* saved = meter::FindMachine(machines, "Bench 45");
    ASSERT_NE(saved, nullptr);
    EXPECT_EQ(saved->description, "Direct drive");
    EXPECT_EQ(meter::TransportLine(saved->transport), "Turntable 45 rpm, direct drive");

    EXPECT_FALSE(page.SaveProfile("Bench]45", "").isEmpty());
    EXPECT_FALSE(page.SaveProfile("Bench\n45", "").isEmpty());
    ASSERT_TRUE(meter::ReadMachines(meter::MachinesPath(), machines, why)) << why;
    EXPECT_EQ(machines.size(), 3u);

    EXPECT_EQ(page.DeleteProfile(), QString());
    EXPECT_TRUE(page.ProfileName().isEmpty());
    EXPECT_EQ(page.ProfileBox()->count(), 3);
    ASSERT_TRUE(meter::ReadMachines(meter::MachinesPath(), machines, why)) << why;
    EXPECT_EQ(meter::FindMachine(machines, "Bench 45"), nullptr);
    EXPECT_EQ(machines.size(), 2u);
}

}  // namespace
