// The lines of the deviation's spectrum: the peaks of an averaged
// periodogram (Hann segments at half overlap) that noise could not make.
//
// Each bin of such a spectrum is, for noise, its local mean times a
// chi-squared variable of nu equivalent degrees of freedom over nu. A peak
// is a line when it stands above the local mean, as the bins beside it
// give it, by more than that spread allows at the chance set for the whole
// band: with noise alone, a file lists a false line less than once in a
// hundred (kFalseLineChance).
#pragma once

#include "meter/Meter.h"

#include <cstddef>
#include <functional>
#include <vector>

namespace tarvo::meter {

inline constexpr double kFalseLineChance = 0.01;

// The equivalent degrees of freedom of `segments` periodograms under
// `window`, each `step` points after the last, averaged: 2 for one, and
// 2K / (1 + 2 sum (1 - m/K) rho(m)^2) for K, rho(m) the window's overlap
// with itself m steps on over its own square sum (1/6 at half overlap for
// Hann, which gives 36 K^2 / (19 K - 1)).
double AveragedDegreesOfFreedom(const std::vector<double>& window, size_t step, int segments);

// The regularised incomplete gamma P(a, x) and beta I_x(a, b).
double GammaP(double a, double x);
double BetaI(double a, double b, double x);
// The median of chi-squared over its degrees of freedom (ln 2 for 2).
double ChiSquaredMedian(double dof);
// How many of its samples the mean needs for the spread the median of n
// has, over n, for chi-squared of these degrees of freedom: (ln 2)^2 for
// 2 (the exponential), towards 2/pi (the normal) for many.
double MedianEfficiency(double dof);
// The level a ratio of two independent chi-squared variables, each over
// its degrees of freedom (Snedecor's F), exceeds with the given chance.
double FExceeded(double dof1, double dof2, double chance);

struct LineBand {
    double binHz = 0;        // spacing of the power's bins
    double padding = 1;      // the transform's length over the segment's points (1 to 2)
    double dof = 2;          // each bin's equivalent degrees of freedom
    double lowHz = 0.2;      // the band a line's peak may lie in
    double highHz = 200;
    size_t lowestBin = 3;    // in the segment's own bins (padding 1): below lie the mean's lobe
};

// How far a line's lobe centroid may lie from its true frequency (Hz).
// A sinusoid of peak A in noise of one-sided density N0 over T seconds has
// rho = A^2 T / N0, and no unbiased estimate of its frequency is more
// precise than sigma = sqrt(3 / rho) / (pi T) (the Cramer-Rao bound for a
// tone's frequency in white noise, 12 / ((2 pi)^2 eta N^3) in cycles per
// sample, eta the per-sample SNR, written in Hz). The spectrum averages
// K = nu / 2 independent segments of Ts = 1 / (bin x padding) seconds;
// each gives rho_s = 2 (L / m) / padding, L the lobe's power above the
// noise and m the noise's mean per bin, and the averaged lobe's centroid is
// as precise as the mean of K segments' estimates: sigma = sqrt(3 B /
// (rho_s K)) / (pi Ts), B = 1.5 the Hann window's noise bandwidth in bins
// (its taper shortens the segment as much). The answer is three sigma
// plus a hundredth of a segment's bin, the centroid's own bias.
double CentroidUncertainty(double linePower, double noisePerBin, const LineBand& band);

// The lines of `power` (bins 0 to n/2 of the averaged periodogram), at most
// `most`, strongest first, each no weaker than `share` of the strongest;
// `level` turns a lobe's power sum at a frequency into its peak deviation.
std::vector<ModulationLine> FindLines(const std::vector<double>& power, const LineBand& band, size_t most, double share,
                                      double least, const std::function<double(double power, double hz)>& level);

}  // namespace tarvo::meter
