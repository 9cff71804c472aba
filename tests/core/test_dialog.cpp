// Modal template dialogs on the windowless form: the driver acts, Esc and
// the owner's closing end what the driver leaves running.
#include "framework/DataExchange.h"
#include "framework/Dialog.h"
#include "framework/VirtualForm.h"
#include "resources/ResourceIds.h"
#include "resources/Resources.h"

#include <gtest/gtest.h>

#include <string>

using namespace tarvo;

namespace {

class NameDialog : public CDialog {
public:
    NameDialog() : CDialog(RecordTemplate()) {}
    std::string m_strName = "temp.wav";
    std::string events;
    void DoDataExchange(CDataExchange* pDX) override
    {
        DDX_Text(pDX, IDC_FILENAME, m_strName);
        DDV_MaxChars(pDX, m_strName, 80);
    }
    bool OnInitDialog() override
    {
        CDialog::OnInitDialog();
        EnableItem(IDOK, false);
        return true;
    }
    void OnOwnerClosing() override
    {
        events += "owner-closing ";
        CDialog::OnOwnerClosing();
    }

protected:
    bool OnDialogCommand(int id) override
    {
        if (id != IDC_RECORD)
            return false;
        events += "record ";
        EnableItem(IDOK, true);
        EnableItem(IDCANCEL, false);
        return true;
    }
};

TEST(Dialog, DriverTypesAndPressesOnlyEnabledButtons)
{
    VirtualForm owner(FormTemplate());
    NameDialog dlg;
    owner.QueueDialogDriver([](CDialog& d, VirtualForm& controls) {
        EXPECT_EQ(controls.GetDlgItemText(IDC_FILENAME), "temp.wav");
        EXPECT_FALSE(VirtualForm::Press(d, IDOK));  // disabled at first
        controls.Type(IDC_FILENAME, "take one.wav");
        EXPECT_TRUE(VirtualForm::Press(d, IDC_RECORD));
        EXPECT_TRUE(VirtualForm::Press(d, IDOK));
    });
    EXPECT_EQ(dlg.DoModal(owner), IDOK);
    EXPECT_EQ(dlg.m_strName, "take one.wav");
    EXPECT_EQ(dlg.events, "record ");
    EXPECT_EQ(dlg.Host(), nullptr);
    EXPECT_EQ(owner.DialogsRun(), std::vector<int>{IDD_RECORD});
}

TEST(Dialog, LeftRunningItGetsEscThenItsOwnerCloses)
{
    VirtualForm owner(FormTemplate());
    NameDialog dismissed;  // no driver: Esc is Cancel while Cancel is enabled
    EXPECT_EQ(dismissed.DoModal(owner), IDCANCEL);
    EXPECT_EQ(dismissed.events, "");

    NameDialog busy;  // Cancel disabled: Esc does nothing, the owner closes
    owner.QueueDialogDriver([](CDialog& d, VirtualForm&) { VirtualForm::Press(d, IDC_RECORD); });
    EXPECT_EQ(busy.DoModal(owner), IDCANCEL);
    EXPECT_EQ(busy.events, "record owner-closing ");
}

TEST(Dialog, PromptsOfADialogReachTheOwner)
{
    VirtualForm owner(FormTemplate());
    NameDialog dlg;
    owner.QueueDialogDriver([](CDialog& d, VirtualForm& controls) {
        VirtualForm::Press(d, IDC_RECORD);
        controls.SetDlgItemText(IDC_FILENAME, std::string(81, 'x'));
        VirtualForm::Press(d, IDOK);  // refused: too long
        EXPECT_FALSE(d.IsEnded());
        controls.SetDlgItemText(IDC_FILENAME, "ok.wav");
        VirtualForm::Press(d, IDOK);
    });
    EXPECT_EQ(dlg.DoModal(owner), IDOK);
    ASSERT_EQ(owner.Messages().size(), 1u);
    EXPECT_EQ(owner.Messages()[0].text, "Please enter no more than 80 characters.");
}

}  // namespace
