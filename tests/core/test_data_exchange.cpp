// The form's data exchange: order, prompts, focus, what a failure leaves.
#include "ViewFixture.h"

#include "framework/Utf8.h"

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

TEST_F(FormState, RangeChecksAreInclusiveAndStopTheExchange)
{
    // A value that parsed is stored even when out of range; the fields after
    // the failing one are not read.
    struct Row {
        const char *high, *low, *amp;
        double wantHigh, wantLow, wantAmp;
        const char* prompt;  // nullptr: accepted
        int focus;
    } rows[] = {
        {"12000", "0", "50", 12000, 0, 50, nullptr, 0},
        {"2000", "10000", "1", 2000, 10000, 1, nullptr, 0},
        {"12000.5", "300", "7", 12000.5, 10000, 1, "Please enter a number between 2000 and 12000.", IDC_HIGHFREQ},
        {"8000", "-1", "7", 8000, -1, 1, "Please enter a number between 0 and 10000.", IDC_LOWFREQ},
        {"8000", "20", "50.5", 8000, 20, 50.5, "Please enter a number between 1 and 50.", IDC_HIGHAMP},
        // A decimal too small for a double reads as 0 and meets the range check.
        {"1e-400", "20", "5", 0, 20, 50.5, "Please enter a number between 2000 and 12000.", IDC_HIGHFREQ},
        {"8000", "0.0001e-99999", "5", 8000, 0, 5, nullptr, 0},
        {"8000", "-1e-5000000000", "5", 8000, 0, 5, nullptr, 0},
        {"8000", "20", "1e-330", 8000, 20, 0, "Please enter a number between 1 and 50.", IDC_HIGHAMP},
    };
    for (const Row& r : rows) {
        form.ClearMessages();
        form.Type(IDC_HIGHFREQ, r.high);
        form.Type(IDC_LOWFREQ, r.low);
        form.Type(IDC_HIGHAMP, r.amp);
        EXPECT_EQ(view.UpdateData(true), r.prompt == nullptr) << r.high;
        EXPECT_EQ(view.m_dHighFreq, r.wantHigh);
        EXPECT_EQ(view.m_dLowFreq, r.wantLow);
        EXPECT_EQ(view.m_dHighAmp, r.wantAmp);
        EXPECT_EQ(MessageTexts(), r.prompt ? std::vector<std::string>{r.prompt} : std::vector<std::string>{});
        if (r.prompt) {
            EXPECT_EQ(form.Messages()[0].caption, "Quillon");
            EXPECT_EQ(form.Focus(), r.focus);
        }
    }
}

TEST_F(FormState, TextThatIsNotANumberKeepsTheMember)
{
    for (const char* bad : {"", "  ", "abc", "12x", "inf", "nan", "1e999", "1000e99999", "--5", "0x10", "1e-400x"}) {
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
    // More than six significant digits survive the round trip unchanged.
    form.Type(IDC_HIGHFREQ, "5412.1234567");
    EXPECT_TRUE(view.UpdateData(true));
    view.UpdateData(false);
    EXPECT_EQ(Field(IDC_HIGHFREQ), "5412.1234567");
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

    // Every byte that is not part of well-formed UTF-8 counts as one
    // character: stray continuation bytes, leads F5 to FF, overlong forms,
    // surrogates, code points past U+10FFFF and cut sequences.
    struct Row {
        std::string text;
        size_t chars;
    } rows[] = {
        {std::string(10000, '\x80'), 10000},
        {"\xF5\xFF\xC0\xC1", 4},
        {"\xC0\x80", 2},  // overlong NUL: two invalid bytes, not one character
        {"\xC1\xBF", 2},
        {"\xE0\x80\x80", 3},
        {"\xED\xA0\x80", 3},
        {"\xF4\x90\x80\x80", 4},
        {"\xF0\x8F\xBF\xBF", 4},
        {"\xE2\x82", 2},
        {"\xE2\x82\xAC\xF0\x9F\x8E\xB5\xF4\x8F\xBF\xBF", 3},  // euro sign, a note, U+10FFFF
        {"a\xC3", 2},
    };
    for (const Row& r : rows)
        EXPECT_EQ(Utf8Length(r.text), r.chars) << r.text.size();
    form.LimitText(IDC_COMMENT, 0);
    form.Type(IDC_COMMENT, std::string(10000, '\x80'));
    form.ClearMessages();
    EXPECT_FALSE(view.UpdateData(true));
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"Please enter no more than 80 characters."});
    view.UpdateData(false);  // sets the limit again, which cuts the text
    EXPECT_EQ(Field(IDC_COMMENT), std::string(80, '\x80'));
    form.Type(IDC_COMMENT, std::string(79, 'x') + "\xF0\x9F\x8E\xB5" + "\xF0\x9F");
    EXPECT_EQ(Field(IDC_COMMENT), std::string(79, 'x') + "\xF0\x9F\x8E\xB5");
}

TEST_F(FormState, OneLineEditsKeepTheTextBeforeALineBreak)
{
    const std::pair<const char*, const char*> rows[] = {
        {"x\nSample Rate: 99999", "x"},
        {"x\r\nChunks: 7", "x"},
        {"\rAver Freq: 1 Hz", ""},
        {"tab\tand\vform\ffeed", "tab\tand\vform\ffeed"},
    };
    for (auto [typed, kept] : rows) {
        form.Type(IDC_COMMENT, typed);
        EXPECT_EQ(Field(IDC_COMMENT), kept);
    }
    form.Type(IDC_HIGHFREQ, "3000\n99999");
    EXPECT_TRUE(view.UpdateData(true));
    EXPECT_EQ(view.m_dHighFreq, 3000);
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
