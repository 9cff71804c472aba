// One line of the deviation's spectrum alone, against time: the run's
// deviation read again from the file and band-passed around the line, for
// the deviation view to draw over the whole deviation.
//
// The band: +-2 % of the line, and never narrower than the spectrum's own
// lobe (two bins each side of its peak), so that the component holds what
// the spectrum shows as that line while the line's frequency wanders with
// the transport's speed (a drift of tenths of a percent); never reaching
// below half the line's frequency. The filter is a fourth-order Butterworth
// band-pass run forwards and backwards: no delay (the component lines up
// with the deviation), unit gain at the line, falling 24 dB an octave far
// from it. It needs a few times 1 / band width to settle at the file's
// ends. The deviation is thinned to 40 points a cycle of the line (100 a
// second at least) and held whole as floats while it is filtered: 1.4 MB
// an hour for a slow line, up to 30 MB an hour for a fast one.
#pragma once

#include "meter/Meter.h"

#include <cstddef>
#include <string>
#include <vector>

namespace tarvo::meter {

struct ComponentTrack {
    double bucketSeconds = 0;
    double lowHz = 0, highHz = 0;  // the band passed
    // Per bucket, from 0 s: the component's lowest and highest value, in
    // percent; NaN for a bucket no point falls in.
    std::vector<float> min, max;
};

// The band passed around a line of lineHz in a spectrum of bins binHz apart.
void ComponentBand(double lineHz, double binHz, double& lowHz, double& highHz);

// The component of the channel's deviation around lineHz, in buckets of
// bucketSeconds. False with a reason when there is none (a run without
// figures, a speed log, no such channel, a line outside the meter's band),
// "cancelled" when progress answered false.
bool LineComponent(const std::string& path, const MeterSettings& s, const MeterResult& r, size_t channelIndex,
                   double lineHz, double bucketSeconds, ComponentTrack& out, std::string& error,
                   const MeterProgress& progress = {});

}  // namespace tarvo::meter
