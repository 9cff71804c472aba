// SaveData: the frequency track, with the header figures and the comment,
// as a text file the user names in a save dialog.
#include "form/TarvoView.h"
#include "framework/FileDialog.h"
#include "framework/MsgBox.h"
#include "output/FreqText.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

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

// Writes all of text; false with errno set when a write fails.
bool WriteAll(int fd, const std::string& text)
{
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    return true;
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

    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        MessageBox(SaveDataFailureText(true, path, errno), kAppTitle, MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    bool ok = WriteAll(fd, FreqFileText(content));
    int error = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok)
        MessageBox(SaveDataFailureText(false, path, error), kAppTitle, MB_OK | MB_ICONEXCLAMATION);
}

}  // namespace tarvo
