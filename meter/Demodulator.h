// The tone's instantaneous frequency, continuous in time: the samples are
// mixed down by the carrier, low-passed and decimated in one polyphase step
// (a real input against complex taps), and the phase advance between two
// decimated samples gives the frequency.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarvo::meter {

// atan2(y, x), quicker where the angle is small (a step's phase advance).
double SmallAngle(double y, double x);

class Demodulator {
public:
    Demodulator(double rate, double carrierHz);

    // The rate of the frequency track, about 2 kHz: wide enough for the
    // tone's deviation and 200 Hz flutter with room to spare.
    double OutputRate() const { return outRate_; }
    int Decimation() const { return decimation_; }
    size_t Taps() const { return taps_; }
    double Carrier() const { return carrier_; }
    // The input time the first point of the track stands for: the filter's
    // half length, and half a step between the two outputs it compares.
    double Delay() const { return (static_cast<double>(taps_) - 1) / (2 * rate_) + 0.5 / outRate_; }

    struct Sample {
        double hz;     // instantaneous frequency
        double power;  // power of the mixed-down tone (a full-scale sine gives 0.25)
    };

    // Feeds n samples taken every `stride` floats; every new point of the
    // track is appended to `out`.
    void Push(const float* x, size_t n, size_t stride, std::vector<Sample>& out);
    // The same for 16-bit samples, each read as x / 32768: exactly the float
    // a reader gives for it, without a pass to convert them.
    void Push(const int16_t* x, size_t n, size_t stride, std::vector<Sample>& out);

    // The share of white noise's power (its variance) the mixed-down output
    // carries: the sum of the squared taps.
    double NoiseGain() const { return noiseGain_; }

    // Mean square of the samples pushed so far.
    double InputPower() const { return inputCount_ ? inputPower_ / static_cast<double>(inputCount_) : 0; }

private:
    // Room for n more samples at the end of the window.
    float* Grow(size_t n);
    // Takes the n samples just placed at the window's end, whose squares
    // sum to `power`.
    void Demodulate(size_t n, double power, std::vector<Sample>& out);
    void Keep();

    double rate_, carrier_, outRate_;
    int decimation_;
    size_t taps_ = 0, padded_ = 0;
    std::vector<float> tapsRe_, tapsIm_;  // reversed, zero-padded at the oldest end
    std::vector<float> window_;           // the last padded_-1 samples, then the new block
    size_t used_ = 0;                     // of window_'s storage
    size_t next_ = 0;                     // index in window_ of the next output's newest sample
    double stepPhase_;                    // the carrier's phase advance over one decimated step
    double stepCos_, stepSin_;
    // One block's mixed-down outputs (after the last of the block before)
    // and their phase advances.
    struct Mixed {
        double re, im;
    };
    std::vector<Mixed> mixed_;
    std::vector<double> ys_, xs_, angles_;
    std::vector<float> dotsRe_, dotsIm_;
    double prevRe_ = 0, prevIm_ = 0;
    bool havePrev_ = false;
    double noiseGain_ = 0;
    double inputPower_ = 0;
    size_t inputCount_ = 0;
};

}  // namespace tarvo::meter
