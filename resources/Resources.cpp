#include "resources/Resources.h"

#include "resources/ResourceIds.h"

namespace tarvo {

namespace {
using K = ControlKind;
}

const DialogTemplate& FormTemplate()
{
    static const DialogTemplate t{
        IDD_TARVO_FORM, "", 416, 235, "MS Sans Serif", 8, DS_CHILD | DS_THINBORDER,
        {
            {IDC_STATIC, K::GroupBox, "Chunk Size", 308, 3, 48, 65, 0},
            {IDC_CHUNK256, K::RadioButton, "256", 318, 15, 30, 8, CS_GROUP | CS_TABSTOP},
            {IDC_CHUNK512, K::RadioButton, "512", 318, 28, 30, 8, 0},
            {IDC_CHUNK1024, K::RadioButton, "1024", 318, 41, 30, 8, 0},
            {IDC_CHUNK2048, K::RadioButton, "2048", 318, 54, 30, 8, 0},
            {IDC_GETHEADER, K::PushButton, "Get Header", 363, 0, 50, 14, CS_TABSTOP},
            {IDC_MAXFREQS, K::PushButton, "Max Freqs", 363, 17, 50, 14, CS_TABSTOP},
            {IDC_PLY, K::PushButton, "Ply", 365, 34, 20, 14, CS_TABSTOP},
            {IDC_REC, K::PushButton, "Rec", 391, 34, 20, 14, CS_TABSTOP},
            {IDC_WHITENOISE, K::PushButton, "WN", 365, 49, 20, 14, CS_TABSTOP},
            {IDC_TONE3KHZ, K::PushButton, "3Khz", 392, 49, 20, 14, CS_TABSTOP},
            {IDC_STOP, K::PushButton, "Stop", 363, 65, 50, 14, CS_TABSTOP},
            {IDC_CLEAR, K::PushButton, "Clear", 363, 82, 50, 14, CS_TABSTOP},
            {IDC_SPECTROGRAM, K::PushButton, "SPECTROGRAM", 350, 99, 65, 14, CS_TABSTOP},
            {IDC_WOWFLUTTER, K::PushButton, "Wow&&Flutter", 308, 134, 43, 14, CS_TABSTOP},
            {IDC_STATIC, K::Label, "High Freq", 311, 70, 38, 8, 0},
            {IDC_HIGHFREQ, K::Edit, "", 314, 78, 27, 13, CS_AUTOHSCROLL | CS_BORDER | CS_TABSTOP},
            {IDC_STATIC, K::Label, "Low Freq", 314, 94, 30, 8, 0},
            {IDC_LOWFREQ, K::Edit, "", 314, 103, 27, 13, CS_AUTOHSCROLL | CS_BORDER | CS_TABSTOP},
            {IDC_STATIC, K::Label, "High Amp", 348, 118, 35, 10, CS_CENTER},
            {IDC_HIGHAMP, K::Edit, "", 385, 116, 30, 12, CS_AUTOHSCROLL | CS_BORDER | CS_TABSTOP},
            {IDC_WOWFLUTTER_TEXT, K::Field, "Static", 352, 134, 63, 14, CS_CENTER | CS_DLGFRAME},
            {IDC_STATIC, K::Label, "Sample Rate", 320, 154, 42, 8, 0},
            {IDC_SAMPLERATE, K::Field, "", 370, 151, 30, 13, CS_SUNKEN},
            {IDC_STATIC, K::Label, "Bits/sample", 324, 167, 38, 8, 0},
            {IDC_BITSPERSAMPLE, K::Field, "", 370, 165, 30, 13, CS_SUNKEN},
            {IDC_STATIC, K::Label, "Data Size", 330, 182, 32, 8, 0},
            {IDC_DATASIZE, K::Field, "", 370, 179, 30, 13, CS_SUNKEN},
            {IDC_STATIC, K::Label, "Chunks", 337, 195, 25, 8, 0},
            {IDC_CHUNKS, K::Field, "", 370, 193, 30, 13, CS_SUNKEN},
            {IDC_STATIC, K::Label, "Delta Freq", 328, 209, 34, 10, 0},
            {IDC_DELTAFREQ, K::Field, "", 370, 207, 45, 13, CS_SUNKEN},
            {IDC_STATIC, K::Label, "Delta T", 338, 224, 24, 8, 0},
            {IDC_DELTAT, K::Field, "Static", 370, 221, 45, 13, CS_SUNKEN},
            {IDC_STATIC, K::Label, "Aver Freq", 84, 197, 40, 8, 0},
            {IDC_AVERFREQ, K::Field, "", 84, 209, 40, 13, CS_SUNKEN},
            {IDC_STATIC, K::Label, "Chunk", 146, 197, 22, 8, 0},
            {IDC_CHUNK, K::Field, "", 144, 209, 25, 13, CS_CENTER | CS_SUNKEN},
            {IDC_STATIC, K::Label, "Duration", 188, 197, 28, 8, 0},
            {IDC_DURATION, K::Field, " ", 188, 209, 30, 13, CS_CENTER | CS_SUNKEN},
            {IDC_STATIC, K::Label, "Displayed", 237, 197, 32, 8, 0},
            {IDC_DISPLAYED, K::Field, "Static", 233, 209, 37, 13, CS_SUNKEN},
            {IDC_COMMENT, K::Edit, "", 0, 0, 208, 12,
             CS_AUTOHSCROLL | CS_BORDER | CS_SUNKEN | CS_HIDDEN | CS_TABSTOP},
        }};
    return t;
}

const DialogTemplate& AboutTemplate()
{
    static const DialogTemplate t{
        IDD_ABOUTBOX, "About Tarvo", 217, 55, "MS Sans Serif", 8,
        DS_CAPTION | DS_SYSMENU | DS_MODALFRAME | DS_POPUP,
        {
            {IDC_STATIC, K::Icon, "", 11, 17, 18, 20, 0},
            {IDC_STATIC, K::Label, "Tarvo Application Version 1.0", 55, 10, 100, 8, CS_CENTER},
            {IDOK_BUTTON, K::DefPushButton, "OK", 176, 6, 32, 14, CS_GROUP | CS_TABSTOP},
            {IDC_STATIC, K::Label, "Frequency track, wow && flutter", 55, 20, 100, 8, CS_CENTER},
            {IDC_STATIC, K::Label, "of recorded test tones", 55, 30, 100, 8, CS_CENTER},
        }};
    return t;
}

const DialogTemplate& RecordTemplate()
{
    static const DialogTemplate t{
        IDD_RECORD, "", 139, 134, "MS Sans Serif", 8, DS_POPUP | DS_SYSMODAL,
        {
            {IDC_STATIC, K::Icon, "", 60, 7, 21, 20, 0},
            {IDC_FILENAME, K::Edit, "", 7, 46, 125, 13, CS_AUTOHSCROLL | CS_BORDER | CS_TABSTOP},
            {IDC_RECORD, K::PushButton, "Record", 12, 78, 50, 14, CS_TABSTOP},
            {IDC_STOPRECORD, K::PushButton, "Stop", 74, 78, 50, 14, CS_TABSTOP},
            {IDOK_BUTTON, K::DefPushButton, "OK", 40, 95, 50, 14, CS_TABSTOP},
            {IDCANCEL_BUTTON, K::PushButton, "Cancel", 42, 114, 50, 14, CS_TABSTOP},
        }};
    return t;
}

const DialogTemplate& FreqListTemplate()
{
    static const DialogTemplate t{
        IDD_FREQLIST, "    #               (sec)              (Hz)", 124, 189, "MS Sans Serif", 10,
        DS_CAPTION | DS_SYSMENU | DS_MODALFRAME | DS_POPUP,
        {
            {IDC_FREQLIST, K::Edit, "", 5, 5, 114, 174,
             CS_MULTILINE | CS_READONLY | CS_BORDER | CS_VSCROLL},
        }};
    return t;
}

const std::vector<FormField>& FormFields()
{
    static const std::vector<FormField> f{
        {IDC_HIGHFREQ, "High Freq"},     {IDC_LOWFREQ, "Low Freq"},
        {IDC_HIGHAMP, "High Amp"},       {IDC_WOWFLUTTER_TEXT, "Wow&Flutter"},
        {IDC_SAMPLERATE, "Sample Rate"}, {IDC_BITSPERSAMPLE, "Bits/sample"},
        {IDC_DATASIZE, "Data Size"},     {IDC_CHUNKS, "Chunks"},
        {IDC_DELTAFREQ, "Delta Freq"},   {IDC_DELTAT, "Delta T"},
        {IDC_AVERFREQ, "Aver Freq"},     {IDC_CHUNK, "Chunk"},
        {IDC_DURATION, "Duration"},      {IDC_DISPLAYED, "Displayed"},
        {IDC_COMMENT, "Comment"},
    };
    return f;
}

const std::vector<MenuPopup>& MainMenu()
{
    static const std::vector<MenuPopup> m{
        {"&File",
         {
             {"&Open...\tCtrl+O", ID_FILE_OPEN, false},
             {"", 0, false},
             {"Recent File", ID_FILE_MRU_FILE1, true},
             {"", 0, false},
             {"E&xit", ID_APP_EXIT, false},
             {"SaveData", ID_SAVEDATA, true},
         }},
        {"Edit",
         {
             {"Add comments", ID_ADDCOMMENTS, false},
             {"Show Freqs", ID_SHOWFREQS, false},
             {"Standards W&&F...", ID_STANDARDSWF, false},
             {"Live W&&F...", ID_LIVEWF, false},
         }},
        {"&Help",
         {
             {"&Index", ID_HELP_INDEX, false},
             {"&Using Help", ID_HELP_USING, false},
             {"", 0, false},
             {"&About Tarvo...", ID_APP_ABOUT, false},
         }},
    };
    return m;
}

const std::vector<Accelerator>& Accelerators()
{
    static const std::vector<Accelerator> a{
        {"Ctrl+N", ID_FILE_NEW},        {"Ctrl+O", ID_FILE_OPEN},
        {"Ctrl+S", ID_FILE_SAVE},       {"Ctrl+C", ID_EDIT_COPY},
        {"Ctrl+Ins", ID_EDIT_COPY},     {"Ctrl+V", ID_EDIT_PASTE},
        {"Shift+Ins", ID_EDIT_PASTE},   {"Ctrl+X", ID_EDIT_CUT},
        {"Shift+Del", ID_EDIT_CUT},     {"Ctrl+Z", ID_EDIT_UNDO},
        {"Alt+Backspace", ID_EDIT_UNDO}, {"F1", ID_HELP},
        {"Shift+F1", ID_CONTEXT_HELP},  {"F6", ID_NEXT_PANE},
        {"Shift+F6", ID_PREV_PANE},
    };
    return a;
}

const std::vector<std::string>& DocumentStrings()
{
    static const std::vector<std::string> s{
        "Quillon", "Untitled", "WAV Document", "WAV Files(*.wav)",
        ".wav", "Text.Document", "Text Files (*.txt)", ".txt",
    };
    return s;
}

}  // namespace tarvo
