// SaveData: the frequency track, with the header figures and the comment,
// as a text file the user names in a save dialog.
#include "form/TarvoView.h"
#include "framework/FileDialog.h"
#include "framework/MsgBox.h"
#include "framework/SafeOutput.h"
#include "output/FreqText.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace tarvo {

namespace {

constexpr const char* kFilter = "Text files(*.txt)|*.txt|All files (*.*)|*.*|||";

std::tm SystemLocalTime()
{
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

}  // namespace

void CTarvoView::OnSaveData()
{
    UpdateData(true);

    CFileDialog dlg(false, "", SuggestedTextFileName(m_szWavePath), OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT,
                    kFilter);
    if (dlg.DoModal(m_host) != IDOK)
        return;
    const std::string path = dlg.GetPathName();

    FreqFileContent content;
    content.path = path;
    content.comment = m_strComment;
    content.dateLine = DateLineText(m_localTime ? m_localTime() : SystemLocalTime());
    content.dataSize = m_strDataSize;
    content.sampleRate = m_strSampleRate;
    content.chunkSize = m_nChunkSize;
    content.deltaFreq = m_strDeltaFreq;
    // Only a track of the file the header lines describe is written: after
    // a new header or a spectrogram the file holds the header lines alone.
    if (m_bFreqsValid) {
        content.freqs = m_pFreqs.get();
        content.chunks = std::clamp(m_nChunks, 0, kMaxChunks);
    }

    // Never over the WAVE file it describes; a file that cannot be written
    // whole leaves the old one as it was.
    SafeOutputFile out;
    if (!out.Open(path, {m_szWavePath, m_doc.GetPathName()})) {
        MessageBox(SaveDataFailureText(!out.IsInput(), path, out.Reason()), kAppTitle, MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    const std::string text = FreqFileText(content);
    std::FILE* f = out.File();
    if (f && std::fwrite(text.data(), 1, text.size(), f) != text.size())
        out.Fail(errno);
    if (!out.Commit())
        MessageBox(SaveDataFailureText(false, path, out.Reason()), kAppTitle, MB_OK | MB_ICONEXCLAMATION);
}

}  // namespace tarvo
