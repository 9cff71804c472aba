// The tone's amplitude beside its frequency: for each line of the
// deviation's spectrum, how much the tone's level is modulated at that rate
// and how closely the level moves with the speed there (an eccentric pinch
// roller or a warped record modulates both). Fed the demodulator's level
// and frequency tracks point by point, with fixed memory.
#pragma once

#include "meter/Dsp.h"
#include "meter/Meter.h"

#include <complex>
#include <memory>
#include <vector>

namespace tarvo::meter {

class AmFmAnalyser {
public:
    // trackRate: the demodulator's output rate; seconds: the file's length,
    // which bounds the segment length.
    AmFmAnalyser(double trackRate, double seconds);

    // One point: the instantaneous frequency and the mixed-down tone's power.
    void Add(double hz, double power);

    // Sets amPercent and amFmCoherence of every line. n0OverP: the
    // recording's noise density (one-sided) over the tone's power, in 1/Hz:
    // where the AM is no more than a few times what that noise gives, the
    // coherence is none.
    void Annotate(std::vector<ModulationLine>& lines, double n0OverP) const;

    double BinHz() const { return rate_ / static_cast<double>(length_); }

private:
    void Fold();

    double rate_;
    int step_;
    int64_t skip_;  // points left out while the demodulator settles
    int64_t n_ = 0;
    double accHz_ = 0, accLevel_ = 0;
    int acc_ = 0;
    double sumLevel_ = 0;
    int64_t levels_ = 0;

    size_t length_;
    const FftPlan* plan_ = nullptr;  // shared
    std::vector<double> hann_, bufHz_, bufLevel_;
    std::vector<double> powHz_, powLevel_;
    std::vector<std::complex<double>> cross_;
    std::vector<double> winHz_, winLevel_;
    std::vector<std::complex<double>> work_, specHz_, specLevel_;
    int segments_ = 0;
};

}  // namespace tarvo::meter
