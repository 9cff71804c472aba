#include "form/TarvoView.h"

#include "framework/MsgBox.h"
#include "resources/ResourceIds.h"

#include <algorithm>
#include <limits>

namespace tarvo {

static_assert(std::numeric_limits<double>::is_iec559 && std::numeric_limits<float>::is_iec559,
              "the figures rely on IEEE arithmetic: a division by zero gives an infinity");

CTarvoView::CTarvoView(FormHost& host, CDocument& doc) : m_host(host), m_doc(doc)
{
    m_nHighBin = m_nChunkSize / 2 - 1;
    m_pReal = std::make_unique<float[]>(m_nMaxChunkSize + 1);
    m_pImag = std::make_unique<float[]>(m_nMaxChunkSize + 1);
    // Zeroed: no command ever reads a track element nothing wrote.
    m_pFreqs = std::make_unique<float[]>(kMaxChunks + 1);
}

CTarvoView::~CTarvoView() = default;

void CTarvoView::DoDataExchange(CDataExchange* pDX)
{
    DDX_Radio(pDX, IDC_CHUNK256, m_nChunkSel);
    DDX_Text(pDX, IDC_CHUNKS, m_strChunks);
    DDX_Text(pDX, IDC_DELTAFREQ, m_strDeltaFreq);
    DDX_Text(pDX, IDC_SAMPLERATE, m_strSampleRate);
    DDX_Text(pDX, IDC_BITSPERSAMPLE, m_strBitsPerSample);
    DDX_Text(pDX, IDC_DATASIZE, m_strDataSize);
    DDX_Text(pDX, IDC_CHUNK, m_strChunk);
    DDX_Text(pDX, IDC_AVERFREQ, m_strAverFreq);
    DDX_Text(pDX, IDC_DURATION, m_strDuration);
    DDX_Text(pDX, IDC_DELTAT, m_strDeltaT);
    DDX_Text(pDX, IDC_DISPLAYED, m_strDisplayed);
    DDX_Text(pDX, IDC_COMMENT, m_strComment);
    DDV_MaxChars(pDX, m_strComment, 80);
    DDX_Text(pDX, IDC_HIGHFREQ, m_dHighFreq);
    DDV_MinMaxDouble(pDX, m_dHighFreq, 2000., 12000.);
    DDX_Text(pDX, IDC_LOWFREQ, m_dLowFreq);
    DDV_MinMaxDouble(pDX, m_dLowFreq, 0., 10000.);
    DDX_Text(pDX, IDC_HIGHAMP, m_dHighAmp);
    DDV_MinMaxDouble(pDX, m_dHighAmp, 1., 50.);
    DDX_Text(pDX, IDC_WOWFLUTTER_TEXT, m_strWowFlutter);
}

bool CTarvoView::UpdateData(bool bSaveAndValidate)
{
    CDataExchange dx(m_host, bSaveAndValidate);
    DoDataExchange(&dx);
    return !dx.m_bFailed;
}

void CTarvoView::OnInitialUpdate()
{
    m_strAverFreq = "No WAV file";
    m_strChunk.clear();
    m_nChunks = 0;
    m_bFreqsValid = false;
    UpdateData(false);
    LoadPicture();
    m_host.UpdateWindow();
}

void CTarvoView::OnUpdate() { OnGetHeader(); }

const std::vector<MessageMapEntry>& CTarvoView::MessageMap()
{
    static const std::vector<MessageMapEntry> map{
        {IDC_MAXFREQS, &CTarvoView::OnMaxFreqs},
        {IDC_GETHEADER, &CTarvoView::OnGetHeader},
        {IDC_CLEAR, &CTarvoView::OnClear},
        {IDC_SPECTROGRAM, &CTarvoView::OnSpectrogram},
        {IDC_WOWFLUTTER, &CTarvoView::OnWowFlutter},
        {ID_SAVEDATA, &CTarvoView::OnSaveData},
        {ID_ADDCOMMENTS, &CTarvoView::OnAddComments},
        {ID_SHOWFREQS, &CTarvoView::OnShowFreqs},
        {IDC_PLY, &CTarvoView::OnPly},
        {IDC_STOP, &CTarvoView::OnStop},
        {IDC_WHITENOISE, &CTarvoView::OnWhiteNoise},
        {IDC_TONE3KHZ, &CTarvoView::OnTone3Khz},
        {IDC_REC, &CTarvoView::OnRec},
    };
    return map;
}

bool CTarvoView::OnCmdMsg(int id)
{
    const auto& map = MessageMap();
    auto it = std::find_if(map.begin(), map.end(), [id](const MessageMapEntry& e) { return e.id == id; });
    if (it == map.end())
        return false;
    (this->*(it->handler))();
    return true;
}

int CTarvoView::MessageBox(const std::string& text, const std::string& caption, unsigned type)
{
    return m_host.MessageBox(text, caption.empty() ? std::string(kAppTitle) : caption, type);
}

}  // namespace tarvo
