// The WAVE reader as the commands use it: path, validation, buffered sample
// reading, closing and the three failure messages.
#include "framework/NumberText.h"
#include "form/TarvoView.h"
#include "framework/MsgBox.h"


namespace tarvo {

const char* WaveErrorMessage(WaveReadError e)
{
    switch (e) {
    case WaveReadError::WaveReadFailed: return "Cannot read input WAVE file";
    case WaveReadError::WaveNotPcm8Mono: return "Input file must be an 8-bit mono PCM WAVE file";
    case WaveReadError::WaveBufferError: return "Unknown error";
    case WaveReadError::None: break;
    }
    return "";
}

unsigned WaveErrorBoxType(WaveReadError e)
{
    return e == WaveReadError::WaveBufferError ? MB_OK | MB_ICONSTOP : MB_OK;
}

void CTarvoView::ReportWaveError(WaveReadError e)
{
    if (e != WaveReadError::None)
        MessageBox(WaveErrorMessage(e), kWaveErrorCaption, WaveErrorBoxType(e));
}

void CTarvoView::ResolveWavePath()
{
    m_szWavePath = m_doc.GetPathName();
    if (m_szWavePath.empty())
        m_szWavePath = m_doc.GetTitle();
}

WaveReadError CTarvoView::OpenWaveInput(WaveInput& in, const std::function<void()>& atCommandPoint)
{
    using E = WaveReadError;
    // A name with a NUL in it would name another file: refuse it.
    if (m_szWavePath.find('\0') != std::string::npos || !in.file.Open(m_szWavePath))
        return E::WaveReadFailed;
    if (!in.file.Descend(in.riff))
        return E::WaveReadFailed;
    if (in.riff.ckid != MakeFourCC('R', 'I', 'F', 'F') || in.riff.fccType != MakeFourCC('W', 'A', 'V', 'E'))
        return E::WaveNotPcm8Mono;
    if (!in.file.FindChunk(in.chunk, MakeFourCC('f', 'm', 't', ' '), in.riff))
        return E::WaveNotPcm8Mono;
    if (in.chunk.cksize < 16)
        return E::WaveNotPcm8Mono;
    std::uint8_t f[16];
    if (in.file.Read(f, sizeof f) != static_cast<long>(sizeof f))
        return E::WaveReadFailed;
    auto u16 = [&](int o) { return static_cast<std::uint16_t>(f[o] | (f[o + 1] << 8)); };
    auto u32 = [&](int o) { return static_cast<std::uint32_t>(u16(o)) | (static_cast<std::uint32_t>(u16(o + 2)) << 16); };
    in.format.wFormatTag = u16(0);
    in.format.nChannels = u16(2);
    in.format.nSamplesPerSec = u32(4);
    in.format.nAvgBytesPerSec = u32(8);
    in.format.nBlockAlign = u16(12);
    in.format.wBitsPerSample = u16(14);
    if (!in.file.Ascend(in.chunk))
        return E::WaveReadFailed;
    if (in.format.wFormatTag != 1)
        return E::WaveNotPcm8Mono;
    if (in.format.nChannels != 1 || in.format.wBitsPerSample != 8)
        return E::WaveNotPcm8Mono;
    m_strSampleRate = DecimalText(in.format.nSamplesPerSec);
    m_strBitsPerSample = DecimalText(static_cast<unsigned>(in.format.wBitsPerSample));
    if (atCommandPoint)
        atCommandPoint();
    if (!in.file.FindChunk(in.chunk, MakeFourCC('d', 'a', 't', 'a'), in.riff))
        return E::WaveNotPcm8Mono;
    in.dataSize = in.chunk.cksize;
    m_strDataSize = DecimalText(in.dataSize);
    return E::None;
}

WaveReadError CTarvoView::BeginSampleRead(WaveInput& in)
{
    return in.file.GetInfo(in.buffer) ? WaveReadError::None : WaveReadError::WaveBufferError;
}

WaveReadError CTarvoView::EndSampleRead(WaveInput& in)
{
    return in.file.SetInfo(in.buffer) ? WaveReadError::None : WaveReadError::WaveBufferError;
}

void CTarvoView::CloseWaveInput(WaveInput& in)
{
    if (in.file.IsOpen())
        in.file.Close();
}

}  // namespace tarvo
