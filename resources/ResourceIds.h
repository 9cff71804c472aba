// Numeric identifiers of the resources, controls and commands.
#pragma once

namespace tarvo {

// Templates and resources.
inline constexpr int IDR_MAINFRAME = 2;        // menu, accelerators, icon, document string
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDD_TARVO_FORM = 101;
inline constexpr int IDB_BACKGROUND = 106;
inline constexpr int IDD_RECORD = 108;
inline constexpr int IDD_FREQLIST = 110;

// Controls of the analysis form.
inline constexpr int IDC_GETHEADER = 1000;
inline constexpr int IDC_MAXFREQS = 1001;
inline constexpr int IDC_PLY = 1002;
inline constexpr int IDC_CHUNK256 = 1003;
inline constexpr int IDC_CHUNK512 = 1004;
inline constexpr int IDC_CHUNK1024 = 1005;
inline constexpr int IDC_CHUNK2048 = 1006;
inline constexpr int IDC_STOP = 1007;
inline constexpr int IDC_CLEAR = 1023;
inline constexpr int IDC_LOWFREQ = 1024;
inline constexpr int IDC_HIGHFREQ = 1025;
inline constexpr int IDC_CHUNKS = 1027;
inline constexpr int IDC_DELTAFREQ = 1028;
inline constexpr int IDC_SAMPLERATE = 1029;
inline constexpr int IDC_BITSPERSAMPLE = 1030;
inline constexpr int IDC_DATASIZE = 1031;
inline constexpr int IDC_CHUNK = 1032;
inline constexpr int IDC_AVERFREQ = 1033;
inline constexpr int IDC_DURATION = 1037;
inline constexpr int IDC_DELTAT = 1038;
inline constexpr int IDC_DISPLAYED = 1039;
inline constexpr int IDC_COMMENT = 1040;
inline constexpr int IDC_SPECTROGRAM = 1041;
inline constexpr int IDC_HIGHAMP = 1048;
inline constexpr int IDC_WOWFLUTTER = 1050;
inline constexpr int IDC_WOWFLUTTER_TEXT = 1051;
inline constexpr int IDC_REC = 1055;
inline constexpr int IDC_WHITENOISE = 1056;
inline constexpr int IDC_TONE3KHZ = 1057;

// Controls of the record and list dialogs.
inline constexpr int IDC_RECORD = 1058;
inline constexpr int IDC_STOPRECORD = 1059;
inline constexpr int IDC_FILENAME = 1062;
inline constexpr int IDC_FREQLIST = 1063;
inline constexpr int IDOK_BUTTON = 1;
inline constexpr int IDCANCEL_BUTTON = 2;

// Menu commands handled by the view.
inline constexpr int ID_SAVEDATA = 32771;
inline constexpr int ID_ADDCOMMENTS = 32774;
inline constexpr int ID_SHOWFREQS = 32775;
inline constexpr int ID_STANDARDSWF = 32776;  // the standards meter, handled by the window
inline constexpr int ID_LIVEWF = 32777;       // the live standards meter, handled by the window

// Standard framework commands.
inline constexpr int ID_FILE_NEW = 57600;
inline constexpr int ID_FILE_OPEN = 57601;
inline constexpr int ID_FILE_SAVE = 57603;
inline constexpr int ID_FILE_MRU_FILE1 = 57616;
inline constexpr int ID_EDIT_COPY = 57634;
inline constexpr int ID_EDIT_CUT = 57635;
inline constexpr int ID_EDIT_PASTE = 57637;
inline constexpr int ID_EDIT_UNDO = 57643;
inline constexpr int ID_APP_ABOUT = 57664;
inline constexpr int ID_APP_EXIT = 57665;
inline constexpr int ID_HELP_INDEX = 57666;
inline constexpr int ID_HELP_USING = 57668;
inline constexpr int ID_CONTEXT_HELP = 57669;
inline constexpr int ID_HELP = 57670;
inline constexpr int ID_DEFAULT_HELP = 57671;
inline constexpr int ID_NEXT_PANE = 57680;
inline constexpr int ID_PREV_PANE = 57681;

// Strings.
inline constexpr int IDS_APP_TITLE = 57344;

}  // namespace tarvo
