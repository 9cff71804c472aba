// The form on real widgets: the band and threshold checks as a user meets
// them, what a second document keeps, message boxes, and painting while a
// command runs.
#include "GuiTest.h"

#include "framework/DataExchange.h"
#include "resources/Resources.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPaintEvent>

namespace tarvo::test {
namespace {

using FormTest = AppTest;

// The control that has (or will have, in an inactive window) the focus.
QWidget* FocusOf(QWidget* window) { return window->focusWidget(); }

// Max Freqs reads the form first and, unlike Get Header, leaves High Freq as
// typed: the band checks are pressed through it.

TEST_F(FormTest, BandLimitsAtTheEdgesAreAccepted)
{
    Start({QString::fromStdString(ToneFile("tone.wav"))});
    Type(IDC_HIGHFREQ, "12000");
    Type(IDC_LOWFREQ, "0");
    Click(IDC_MAXFREQS);

    EXPECT_TRUE(messages.empty()) << messages.front().text;
    EXPECT_EQ(View().m_dHighFreq, 12000.0);
    EXPECT_EQ(View().m_dLowFreq, 0.0);
}

TEST_F(FormTest, HighFreqAboveItsRangeIsRefusedAndStopsTheExchange)
{
    Start({QString::fromStdString(ToneFile("tone.wav"))});
    Type(IDC_HIGHFREQ, "12000.5");
    Type(IDC_LOWFREQ, "300");
    Click(IDC_MAXFREQS);

    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, PromptRange(2000, 12000));
    EXPECT_EQ(messages[0].caption, "Quillon");
    EXPECT_EQ(FocusOf(Frame()), Edit(IDC_HIGHFREQ));
    // The value parsed, so it is stored; Low Freq was not read.
    EXPECT_EQ(View().m_dHighFreq, 12000.5);
    EXPECT_EQ(View().m_dLowFreq, 20.0);
}

TEST_F(FormTest, LowFreqBelowItsRangeIsRefused)
{
    Start({QString::fromStdString(ToneFile("tone.wav"))});
    Type(IDC_LOWFREQ, "-1");
    Type(IDC_HIGHAMP, "7");
    Click(IDC_MAXFREQS);

    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, PromptRange(0, 10000));
    EXPECT_EQ(FocusOf(Frame()), Edit(IDC_LOWFREQ));
    EXPECT_EQ(View().m_dLowFreq, -1.0);
    EXPECT_EQ(View().m_dHighAmp, 5.0);
}

TEST_F(FormTest, EmptyHighFreqIsRefusedAndTheMemberKept)
{
    Start({QString::fromStdString(ToneFile("tone.wav"))});
    Type(IDC_HIGHFREQ, "6000");
    Click(IDC_MAXFREQS);
    ASSERT_TRUE(messages.empty());
    ASSERT_EQ(View().m_dHighFreq, 6000.0);

    Type(IDC_HIGHFREQ, "");
    ASSERT_EQ(Edit(IDC_HIGHFREQ)->text(), "");
    Click(IDC_MAXFREQS);

    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, PromptNotANumber());
    EXPECT_EQ(FocusOf(Frame()), Edit(IDC_HIGHFREQ));
    EXPECT_EQ(View().m_dHighFreq, 6000.0);
}

TEST_F(FormTest, SecondFileKeepsChunkSizeBandThresholdAndComment)
{
    Start({QString::fromStdString(ToneFile("first.wav"))});
    QTest::mouseClick(Radio(IDC_CHUNK512), Qt::LeftButton);
    Type(IDC_HIGHFREQ, "6000");
    Type(IDC_LOWFREQ, "100");
    Type(IDC_HIGHAMP, "7");
    Form().ShowControl(IDC_COMMENT, true);
    Type(IDC_COMMENT, "first take");
    Click(IDC_MAXFREQS);
    ASSERT_TRUE(messages.empty()) << messages.front().text;
    ASSERT_NE(Field(IDC_SAMPLERATE)->text(), "");
    ASSERT_EQ(View().m_strComment, "first take");

    const std::string second = ToneFile("second.wav");
    ASSERT_TRUE(app->OpenDocumentFile(second));

    EXPECT_EQ(Title(), "second.wav - Quillon");
    EXPECT_TRUE(Radio(IDC_CHUNK512)->isChecked());
    EXPECT_FALSE(Radio(IDC_CHUNK256)->isChecked());
    EXPECT_EQ(Edit(IDC_HIGHFREQ)->text(), "6000");
    EXPECT_EQ(Edit(IDC_LOWFREQ)->text(), "100");
    EXPECT_EQ(Edit(IDC_HIGHAMP)->text(), "7");
    EXPECT_EQ(Edit(IDC_COMMENT)->text(), "first take");
    EXPECT_EQ(Field(IDC_AVERFREQ)->text(), "No WAV file");
    EXPECT_EQ(Field(IDC_CHUNK)->text(), "");
    EXPECT_TRUE(messages.empty());
}

// Counts the paint events a widget receives and the area they cover.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* w) { w->installEventFilter(this); }
    int count = 0;
    QRegion area;

protected:
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint) {
            ++count;
            area += static_cast<QPaintEvent*>(e)->region();
        }
        return false;
    }
};

TEST_F(FormTest, UpdateWindowPaintsAtOnceWithoutTakingInput)
{
    Start();
    QApplication::processEvents();
    PaintCounter form(&Form());
    PaintCounter chunk(Field(IDC_CHUNK));

    bool timerRan = false;
    QTimer::singleShot(0, [&] { timerRan = true; });
    QCoreApplication::postEvent(Edit(IDC_HIGHFREQ), new QKeyEvent(QEvent::KeyPress, Qt::Key_9, Qt::NoModifier, "9"));

    Form().ClientSurface().SetPixel(100, 100, RGB(255, 0, 0));
    Form().SetDlgItemText(IDC_CHUNK, "7");
    Form().UpdateWindow();

    EXPECT_GE(form.count, 1);
    EXPECT_TRUE(form.area.contains(QPoint(100, 100)));
    EXPECT_GE(chunk.count, 1);
    EXPECT_FALSE(timerRan);
    EXPECT_EQ(Edit(IDC_HIGHFREQ)->text(), "8000");

    // Nothing changed since: nothing is painted again.
    const int before = form.count;
    Form().UpdateWindow();
    EXPECT_EQ(form.count, before);
    QApplication::processEvents();
    EXPECT_TRUE(timerRan);
}

TEST_F(FormTest, MaxFreqsPaintsTheChunkFieldAndThePlotAsItGoes)
{
    // 2 s at 22050 Hz: 172 chunks of 256 samples.
    Start({QString::fromStdString(ToneFile("tone.wav", 44100))});
    QApplication::processEvents();
    PaintCounter form(&Form());
    PaintCounter chunk(Field(IDC_CHUNK));

    Click(IDC_MAXFREQS);

    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(View().m_nChunks, 172);
    EXPECT_GE(chunk.count, 100);
    EXPECT_GE(form.count, 100);
}

struct BoxCase {
    unsigned type;
    std::string caption;
    QString shownTitle;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton press;
    int answer;
};

TEST(FormMessageBox, ShowsCaptionIconAndButtonsOfTheTypeAndAnswersThePress)
{
    QtFormHost host(FormTemplate());
    host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));

    const BoxCase cases[] = {
        {MB_OK | MB_ICONSTOP, "Error", "Error", QMessageBox::Critical, QMessageBox::Ok, QMessageBox::Ok, IDOK},
        {MB_OKCANCEL | MB_ICONEXCLAMATION, "Quillon", "Quillon", QMessageBox::Warning,
         QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel, IDCANCEL},
        {MB_YESNO | MB_ICONQUESTION, "", "Quillon", QMessageBox::Question, QMessageBox::Yes | QMessageBox::No,
         QMessageBox::No, IDNO},
        {MB_YESNO | MB_ICONINFORMATION, "Info", "Info", QMessageBox::Information,
         QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes, IDYES},
        {MB_OK, "Plain", "Plain", QMessageBox::NoIcon, QMessageBox::Ok, QMessageBox::Ok, IDOK},
    };
    for (const BoxCase& c : cases) {
        QString title, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
        bool modal = false;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            buttons = box->standardButtons();
            modal = box->isModal();
            box->button(c.press)->click();
        });
        const int answer = host.MessageBox("Cannot read input WAVE file", c.caption, c.type);
        SCOPED_TRACE(c.shownTitle.toStdString());
        EXPECT_EQ(answer, c.answer);
        EXPECT_TRUE(modal);
        EXPECT_EQ(title, c.shownTitle);
        EXPECT_EQ(text, "Cannot read input WAVE file");
        EXPECT_EQ(icon, c.icon);
        EXPECT_EQ(buttons, c.buttons);
    }
}

}  // namespace
}  // namespace tarvo::test
