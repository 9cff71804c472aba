// The yardstick pipeline: what Max Freqs and SPECTROGRAM do, written plainly
// on FFTW's single-precision plan. It reads the WAVE file in blocks as the
// commands do, lays each chunk out the same way (time ramp in the real
// parts, samples in the imaginary parts), transforms it, and either searches
// the band for the greatest magnitude and refines it, or colours every bin
// of the band into a 640 x 420 raster. Only the benchmarks use it.
#pragma once

#include <fftw3.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace tarvo::bench {

class FftwPipeline {
public:
    explicit FftwPipeline(int n, unsigned flags = FFTW_MEASURE) : n_(n)
    {
        in_ = fftwf_alloc_complex(static_cast<size_t>(n));
        out_ = fftwf_alloc_complex(static_cast<size_t>(n));
        plan_ = fftwf_plan_dft_1d(n, in_, out_, FFTW_FORWARD, flags);
        raster_.assign(640 * 420, 0);
    }
    ~FftwPipeline()
    {
        fftwf_destroy_plan(plan_);
        fftwf_free(in_);
        fftwf_free(out_);
    }
    FftwPipeline(const FftwPipeline&) = delete;
    FftwPipeline& operator=(const FftwPipeline&) = delete;

    // The average peak frequency of up to 500 chunks; NaN when the file
    // cannot be read.
    double Freqs(const std::string& path, double low, double high) { return Run(path, low, high, 0.0, false); }
    // Colours the band of up to 500 chunks; returns the chunks drawn.
    double Spectrogram(const std::string& path, double low, double high, double highAmp)
    {
        return Run(path, low, high, highAmp, true);
    }
    const std::vector<std::uint32_t>& Raster() const { return raster_; }

private:
    static std::uint32_t U32(const unsigned char* p)
    {
        return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
    }

    double Run(const std::string& path, double low, double high, double highAmp, bool spectrogram)
    {
        std::FILE* f = std::fopen(path.c_str(), "rb");
        if (!f)
            return NAN;
        unsigned char head[12], ck[8];
        unsigned rate = 0;
        std::uint32_t dataSize = 0;
        bool found = std::fread(head, 1, 12, f) == 12;
        while (found && std::fread(ck, 1, 8, f) == 8) {
            const std::uint32_t size = U32(ck + 4);
            if (std::memcmp(ck, "fmt ", 4) == 0) {
                unsigned char fmt[16];
                if (size < 16 || std::fread(fmt, 1, 16, f) != 16)
                    break;
                rate = U32(fmt + 4);
                std::fseek(f, static_cast<long>(size - 16 + (size & 1)), SEEK_CUR);
            } else if (std::memcmp(ck, "data", 4) == 0) {
                dataSize = size;
                break;
            } else {
                std::fseek(f, static_cast<long>(size + (size & 1)), SEEK_CUR);
            }
        }
        const int n = n_;
        const double delta = static_cast<double>(rate) / n;
        const int lowBin = static_cast<int>(std::trunc(low / delta + 1.0));
        int highBin = static_cast<int>(std::trunc(high / delta + 1.0));
        if (highBin > n / 2)
            highBin = n / 2;
        int chunks = static_cast<int>(dataSize / static_cast<unsigned>(n));
        if (chunks > 500)
            chunks = 500;
        const double t[6] = {highAmp, highAmp / 2, highAmp / 4, highAmp / 8, highAmp / 16, highAmp / 32};
        static const std::uint32_t colours[6] = {0xFFFF0000, 0xFFFF8000, 0xFFFFFF00, 0xFF00FF00, 0xFF0000FF, 0xFFFF00FF};
        std::vector<unsigned char> block(8192);
        size_t have = 0, at = 0;
        double sum = 0.0;
        auto mag = [this](int k) {  // element k, 1-based
            const double r = out_[k - 1][0], i = out_[k - 1][1];
            return std::sqrt(r * r + i * i);
        };
        for (int c = 1; c <= chunks; ++c) {
            for (int k = 1; k <= n; ++k) {
                if (at == have) {
                    have = std::fread(block.data(), 1, block.size(), f);
                    at = 0;
                    if (have == 0) {
                        std::fclose(f);
                        return NAN;
                    }
                }
                in_[k - 1][0] = static_cast<float>(k / static_cast<double>(rate));
                in_[k - 1][1] = static_cast<float>((block[at++] - 128) / static_cast<double>(n / 2));
            }
            fftwf_execute(plan_);
            if (spectrogram) {
                const int x = 25 + 415 * c / chunks;
                for (int k = lowBin; k < highBin; ++k) {
                    const double m = mag(k);
                    for (int s = 0; s < 6; ++s)
                        if (m > t[s]) {
                            const int y = static_cast<int>(290 - ((k - 1) * delta - low) * 253 / (high - low));
                            if (y >= 37 && y <= 290)
                                raster_[static_cast<size_t>(y) * 640 + static_cast<size_t>(x)] = colours[s];
                            break;
                        }
                }
                sum += 1;
            } else {
                double best = 0.0;
                int p = lowBin;
                for (int k = lowBin; k < highBin; ++k) {
                    const double m = mag(k) / 100000.0;
                    if (m > best)
                        best = m, p = k;
                }
                double left = mag(p - 1 < 1 ? 1 : p - 1) / 100000.0, right = mag(p + 1) / 100000.0, sign = 1.0;
                if (right < left)
                    std::swap(left, right), sign = -1.0;
                const double peakFreq = (p - 1) * delta;
                double fr = peakFreq + sign * delta * (right - left) / (best - left);
                if (!(fr > 0))
                    fr = peakFreq;
                sum += fr;
            }
        }
        std::fclose(f);
        return spectrogram ? sum : sum / chunks;
    }

    int n_;
    fftwf_complex* in_;
    fftwf_complex* out_;
    fftwf_plan plan_;
    std::vector<std::uint32_t> raster_;
};

}  // namespace tarvo::bench
