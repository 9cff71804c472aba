// The form's data exchange: order, prompts, focus, what a failure leaves.
#include "ViewFixture.h"

#include "framework/DataExchange.h"

#include <set>

using namespace tarvo;
using namespace tarvo::test;

namespace {

class FormState : public ViewTest {};

TEST_F(FormState, FreshViewShowsTheDefaults)
{
    EXPECT_EQ(form.GetCheckedRadio(IDC_CHUNK256), 0);
    EXPECT_EQ(Field(IDC_HIGHFREQ), "8000");
    EXPECT_EQ(Field(IDC_LOWFREQ), "20");
    EXPECT_EQ(Field(IDC_HIGHAMP), "5");
    EXPECT_EQ(Field(IDC_AVERFREQ), "No WAV file");
    EXPECT_EQ(Field(IDC_CHUNK), "");
    EXPECT_EQ(Field(IDC_DELTAT), "");  // the template's "Static" is replaced at the first exchange
    EXPECT_EQ(view.m_nHighBin, 127u);
    EXPECT_EQ(view.m_nChunkSize, 256u);
    EXPECT_FALSE(view.m_bFreqsValid);
    EXPECT_FALSE(form.IsControlVisible(IDC_COMMENT));
    EXPECT_EQ(form.TextLimit(IDC_COMMENT), 80);
    EXPECT_TRUE(form.Messages().empty());
    EXPECT_EQ(doc.GetTitle(), "Untitled");
}

TEST_F(FormState, RangeBoundsAreInclusive)
{
    form.Type(IDC_HIGHFREQ, "12000");
    form.Type(IDC_LOWFREQ, "0");
    form.Type(IDC_HIGHAMP, "50");
    EXPECT_TRUE(view.UpdateData(true));
    EXPECT_EQ(view.m_dHighFreq, 12000);
    EXPECT_EQ(view.m_dLowFreq, 0);
    EXPECT_EQ(view.m_dHighAmp, 50);
    form.Type(IDC_HIGHFREQ, "2000");
    form.Type(IDC_LOWFREQ, "10000");
    form.Type(IDC_HIGHAMP, "1");
    EXPECT_TRUE(view.UpdateData(true));
    EXPECT_TRUE(form.Messages().empty());
}

TEST_F(FormState, OutOfRangeStoresTheValueAndStopsTheExchange)
{
    form.Type(IDC_HIGHFREQ, "12000.5");
    form.Type(IDC_LOWFREQ, "300");
    form.Type(IDC_HIGHAMP, "7");
    EXPECT_FALSE(view.UpdateData(true));
    EXPECT_EQ(view.m_dHighFreq, 12000.5);  // parsed, so already stored
    EXPECT_EQ(view.m_dLowFreq, 20);         // not read in this exchange
    EXPECT_EQ(view.m_dHighAmp, 5);
    ASSERT_EQ(form.Messages().size(), 1u);
    EXPECT_EQ(form.Messages()[0].text, "Please enter a number between 2000 and 12000.");
    EXPECT_EQ(form.Messages()[0].caption, "Quillon");
    EXPECT_EQ(form.Focus(), IDC_HIGHFREQ);

    form.ClearMessages();
    form.Type(IDC_HIGHFREQ, "8000");
    form.Type(IDC_LOWFREQ, "-1");
    EXPECT_FALSE(view.UpdateData(true));
    EXPECT_EQ(view.m_dLowFreq, -1);
    EXPECT_EQ(view.m_dHighAmp, 5);
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"Please enter a number between 0 and 10000."});
    EXPECT_EQ(form.Focus(), IDC_LOWFREQ);
}

TEST_F(FormState, TextThatIsNotANumberKeepsTheMember)
{
    for (const char* bad : {"", "  ", "abc", "12x", "inf", "nan", "1e999", "--5", "0x10"}) {
        form.ClearMessages();
        form.Type(IDC_HIGHFREQ, bad);
        EXPECT_FALSE(view.UpdateData(true)) << bad;
        EXPECT_EQ(view.m_dHighFreq, 8000) << bad;
        EXPECT_EQ(MessageTexts(), std::vector<std::string>{"Please enter a number."}) << bad;
        EXPECT_EQ(form.Focus(), IDC_HIGHFREQ);
    }
    form.Type(IDC_HIGHFREQ, " 4000.5 ");
    EXPECT_TRUE(view.UpdateData(true));
    EXPECT_EQ(view.m_dHighFreq, 4000.5);
    form.Type(IDC_HIGHFREQ, "+3e3");
    EXPECT_TRUE(view.UpdateData(true));
    EXPECT_EQ(view.m_dHighFreq, 3000);
}

TEST_F(FormState, LongCommentStopsBeforeTheBand)
{
    // Typing is cut at the edit's limit; a host without a limit can still
    // hand over a longer text.
    form.LimitText(IDC_COMMENT, 0);
    form.Type(IDC_COMMENT, std::string(81, 'x'));
    form.Type(IDC_HIGHFREQ, "3000");
    EXPECT_FALSE(view.UpdateData(true));
    EXPECT_EQ(view.m_strComment, std::string(81, 'x'));
    EXPECT_EQ(view.m_dHighFreq, 8000);
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"Please enter no more than 80 characters."});
    EXPECT_EQ(form.Focus(), IDC_COMMENT);
}

TEST_F(FormState, CommentLimitCountsCharacters)
{
    std::string eighty;
    for (int i = 0; i < 80; ++i)
        eighty += "\xC3\xA9";  // é, two bytes each
    form.Type(IDC_COMMENT, eighty + "x");
    EXPECT_EQ(Field(IDC_COMMENT), eighty);
    EXPECT_TRUE(view.UpdateData(true));
    EXPECT_EQ(view.m_strComment, eighty);
}

TEST_F(FormState, SecondDocumentKeepsSettingsAndResetsStatus)
{
    Open(Wave8(11025, Silence(3000)), "one.wav");
    form.Click(IDC_CHUNK1024);
    form.Type(IDC_LOWFREQ, "100");
    form.Type(IDC_HIGHAMP, "9");
    form.Type(IDC_COMMENT, "deck A");
    view.OnCmdMsg(IDC_GETHEADER);
    EXPECT_EQ(Field(IDC_AVERFREQ), "");
    Open(Wave8(8000, Silence(3000)), "two.wav");
    EXPECT_EQ(doc.GetTitle(), "two.wav");
    EXPECT_EQ(Field(IDC_AVERFREQ), "No WAV file");
    EXPECT_EQ(form.GetCheckedRadio(IDC_CHUNK256), 2);
    EXPECT_EQ(Field(IDC_LOWFREQ), "100");
    EXPECT_EQ(Field(IDC_HIGHAMP), "9");
    EXPECT_EQ(Field(IDC_COMMENT), "deck A");
    EXPECT_EQ(Field(IDC_SAMPLERATE), "11025");  // result strings stay until the next header
    EXPECT_FALSE(view.m_bFreqsValid);
}

TEST_F(FormState, OpenFailureKeepsTheDocument)
{
    std::string first = Open(Wave8(8000, Silence(10)), "first.wav");
    EXPECT_FALSE(docTemplate.OpenDocumentFile((dir.Path() / "missing.wav").string()));
    EXPECT_FALSE(docTemplate.OpenDocumentFile(dir.Path().string()));  // a folder
    EXPECT_EQ(doc.GetPathName(), first);
    EXPECT_EQ(doc.GetTitle(), "first.wav");
    ASSERT_EQ(form.Messages().size(), 2u);
    EXPECT_EQ(form.Messages()[0].caption, "Quillon");
}

TEST(Templates, FormHasEveryControlOnce)
{
    const DialogTemplate& t = FormTemplate();
    EXPECT_EQ(t.controls.size(), 43u);
    EXPECT_EQ(t.cx, 416);
    EXPECT_EQ(t.cy, 235);
    std::set<int> ids;
    for (const auto& c : t.controls) {
        if (c.id != IDC_STATIC) {
            EXPECT_TRUE(ids.insert(c.id).second) << c.id;
        }
    }
    EXPECT_EQ(t.RadioGroup(IDC_CHUNK256).size(), 4u);
    EXPECT_EQ(DisplayCaption(t.Find(IDC_WOWFLUTTER)->caption), "Wow&Flutter");
    // Every field the CLI prints carries the label the form shows beside it.
    for (const FormField& f : FormFields()) {
        int i = t.IndexOf(f.id);
        ASSERT_GE(i, 0) << f.label;
        if (f.id == IDC_WOWFLUTTER_TEXT || f.id == IDC_COMMENT)
            continue;
        EXPECT_EQ(t.controls[static_cast<size_t>(i) - 1].caption, f.label);
    }
}

}  // namespace
