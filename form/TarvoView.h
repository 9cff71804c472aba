// The analysis form's view: it owns every piece of analysis state, exchanges
// it with the form's controls and carries every command of the form.
#pragma once

#include "display/Bitmap.h"
#include "display/Surface.h"
#include "framework/DataExchange.h"
#include "framework/Document.h"
#include "framework/FormHost.h"
#include "wave/WaveReader.h"

#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tarvo {

class CTarvoView;
class MciDevice;
class SoundService;

// One row of the message map: a control or menu id and its handler.
struct MessageMapEntry {
    int id;
    void (CTarvoView::*handler)();
};

class CTarvoView : public CView {
public:
    CTarvoView(FormHost& host, CDocument& doc);
    ~CTarvoView() override;
    CTarvoView(const CTarvoView&) = delete;
    CTarvoView& operator=(const CTarvoView&) = delete;

    // --- Members, in declared order ---------------------------------------
    int m_nChunkSel = 0;
    std::string m_strChunks;
    std::string m_strDeltaFreq;
    std::string m_strSampleRate;
    std::string m_strBitsPerSample;
    std::string m_strDataSize;
    std::string m_strChunk;
    std::string m_strAverFreq;
    std::string m_strDuration;
    std::string m_strDeltaT;
    std::string m_strDisplayed;
    std::string m_strComment;
    double m_dHighFreq = 8000;
    double m_dLowFreq = 20;
    double m_dHighAmp = 5;
    std::string m_strWowFlutter;
    std::shared_ptr<CBitmap> m_pBitmap;  // shared with the client area's deferred picture
    std::unique_ptr<float[]> m_pReal;
    std::unique_ptr<float[]> m_pImag;
    std::unique_ptr<float[]> m_pFreqs;
    // The path of the file being analysed. Held whole: a path is never cut
    // to a fixed buffer, where it could come to name another file.
    std::string m_szWavePath;
    unsigned m_nChunkSize = 256;
    unsigned m_nMaxChunkSize = 2048;
    unsigned m_nHighBin = 0;
    double m_dDeltaFreq = 0;
    double m_dDuration = 0;
    double m_dDisplayed = 0;
    double m_dDeltaT = 0;
    int m_nChunks = 0;
    bool m_bFreqsValid = false;

    static constexpr int kMaxChunks = 500;

    // --- Framework side ---------------------------------------------------
    void DoDataExchange(CDataExchange* pDX);
    // TRUE reads the form into the members, FALSE writes them to the form.
    bool UpdateData(bool bSaveAndValidate = true);
    void OnInitialUpdate() override;
    void OnUpdate();
    // Dispatches a control or menu command; false when nothing handles it.
    bool OnCmdMsg(int id);
    static const std::vector<MessageMapEntry>& MessageMap();
    int MessageBox(const std::string& text, const std::string& caption, unsigned type);
    FormHost& Host() { return m_host; }
    CDocument& GetDocument() { return m_doc; }

    // --- Header command ---------------------------------------------------
    void OnGetHeader();
    void ApplyChunkSize();

    // --- WAVE reader ------------------------------------------------------
    void ResolveWavePath();
    // Opens m_szWavePath and validates it; atCommandPoint runs between the
    // format checks and the search for the data chunk.
    WaveReadError OpenWaveInput(WaveInput& in, const std::function<void()>& atCommandPoint = {});
    WaveReadError BeginSampleRead(WaveInput& in);
    // Takes the next sample (0..255) from the read buffer.
    WaveReadError NextSampleByte(WaveInput& in, unsigned& sample)
    {
        if (in.buffer.next == in.buffer.end) {
            if (!in.file.Advance(in.buffer) || in.buffer.next == in.buffer.end)
                return WaveReadError::WaveReadFailed;
        }
        sample = *in.buffer.next++;
        return WaveReadError::None;
    }
    WaveReadError EndSampleRead(WaveInput& in);
    void CloseWaveInput(WaveInput& in);
    // Shows the one message box of a failure kind.
    void ReportWaveError(WaveReadError e);

    // --- Analysis -----------------------------------------------------------
    void OnMaxFreqs();
    void OnWowFlutter();
    void OnSpectrogram();
    // In-place radix-2 transform of elements 1..n of re and im (direction 1
    // forward, -1 inverse); element 0 is neither read nor written.
    static void ComputeFFT(int direction, int n, float* re, float* im);
    static double InterpolatePeak(double left, double peak, double right, double peakFreq, double deltaFreq);
    // The spectrogram's colour of a magnitude against High Amp; black means
    // the pixel is not drawn.
    static COLORREF SpectrogramColour(double magnitude, double highAmp);

    // --- Frequency data output ---------------------------------------------
    void OnSaveData();
    void OnShowFreqs();
    void OnAddComments();
    // The local time SaveData writes in its date line, read once per file;
    // the system clock when not set.
    std::function<std::tm()> m_localTime;

    // --- Plot area ----------------------------------------------------------
    static constexpr int kPlotLeft = 25, kPlotTop = 37, kPlotRight = 440, kPlotBottom = 290;
    static constexpr int PS_DOT = 2;
    static constexpr COLORREF kGridColor = RGB(100, 100, 0);
    void LoadPicture();  // the display side of the initial update
    int ChunkToX(int c) const;
    int FreqToY(double f) const;
    void PlotPoint(int x, int y, COLORREF color);
    void DrawHorzLine(int x1, int x2, int y, COLORREF color, int penStyle);
    void DrawVertLine(int x, int y1, int y2, COLORREF color, int penStyle);
    void DrawGrid();
    void OnClear();

    // --- Sound (sound/) -----------------------------------------------------
    // The host's playback and recorder; without them the sound commands do
    // nothing. Neither is owned.
    void SetSoundServices(SoundService* playback, MciDevice* recorder);
    void OnPly();
    void OnStop();
    void OnWhiteNoise();
    void OnTone3Khz();
    void PlayTestSound(const char* name);
    void OnRec();

private:
    // The header figures shared by the header and analysis commands: sets
    // m_dDeltaFreq, m_nChunks, the durations and their texts from the
    // sample rate and data size.
    void DeriveHeaderFigures(std::uint32_t sampleRate, std::uint32_t dataSize);
    // Stores the high bin computed from High Freq when it lies below N/2.
    void ApplyHighBin(double highBin);
    // The first element an analysis searches, kept inside the chunk so that
    // it and its two neighbours lie within elements 0..N.
    int LowBin() const;
    // The pass that Max Freqs and SPECTROGRAM share once the form is read:
    // opens the file, derives and shows the header figures, draws the grid,
    // then lays out and transforms every chunk and hands its number to
    // onChunk; afterLast runs when all chunks are done, before the read
    // buffer is handed back. Returns the first failure.
    WaveReadError AnalyseChunks(WaveInput& in, int& lowBin, const std::function<void(int)>& onChunk,
                                const std::function<void()>& afterLast);

    FormHost& m_host;
    CDocument& m_doc;
    SoundService* m_pSound = nullptr;
    MciDevice* m_pMci = nullptr;
};

}  // namespace tarvo
