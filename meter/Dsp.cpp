#include "meter/Dsp.h"

#include <algorithm>
#include <stdexcept>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <numbers>

namespace tarvo::meter {

using cplx = std::complex<double>;

void Biquad::SettleOn(double x)
{
    const double y = DcGain() * x;
    s2 = b2 * x - a2 * y;
    s1 = b1 * x - a1 * y + s2;
}

cplx Biquad::Response(double hz, double rate) const
{
    const cplx z1 = std::polar(1.0, -2 * std::numbers::pi * hz / rate);
    return (b0 + z1 * (b1 + z1 * b2)) / (1.0 + z1 * (a1 + z1 * a2));
}

void Cascade::SettleOn(double x)
{
    for (Biquad& s : sections_) {
        s.SettleOn(x);
        x *= s.DcGain();
    }
}

cplx Cascade::Response(double hz, double rate) const
{
    cplx h = 1;
    for (const Biquad& s : sections_)
        h *= s.Response(hz, rate);
    return h;
}

void Cascade::Scale(double gain)
{
    if (sections_.empty())
        sections_.push_back(Biquad{});
    sections_.front().b0 *= gain;
    sections_.front().b1 *= gain;
    sections_.front().b2 *= gain;
}

FilterChain::FilterChain(const Cascade& a, const Cascade& b, const Cascade& c, const Cascade& d)
    : fifo_(kLag, 0.0)
{
    const Cascade* all[] = {&a, &b, &c, &d};
    size_t n = 0;
    for (const Cascade* k : all)
        n = std::max(n, k->Sections().size());
    if (n > 16)
        throw std::invalid_argument("FilterChain: more than 16 sections");
    const Biquad pass;  // y = x, its state zero
    for (size_t i = 0; i < n; ++i) {
        const Biquad* q[4];
        for (size_t l = 0; l < 4; ++l)
            q[l] = i < all[l]->Sections().size() ? &all[l]->Sections()[i] : &pass;
        Section s;
        s.b0 = Lanes{q[0]->b0, q[1]->b0, q[2]->b0, q[3]->b0};
        s.b1 = Lanes{q[0]->b1, q[1]->b1, q[2]->b1, q[3]->b1};
        s.b2 = Lanes{q[0]->b2, q[1]->b2, q[2]->b2, q[3]->b2};
        s.a1 = Lanes{q[0]->a1, q[1]->a1, q[2]->a1, q[3]->a1};
        s.a2 = Lanes{q[0]->a2, q[1]->a2, q[2]->a2, q[3]->a2};
        s.s1 = Lanes{q[0]->s1, q[1]->s1, q[2]->s1, q[3]->s1};
        s.s2 = Lanes{q[0]->s2, q[1]->s2, q[2]->s2, q[3]->s2};
        sections_.push_back(s);
    }
#if defined(__x86_64__) && defined(__GNUC__)
    avx_ = __builtin_cpu_supports("avx");
#endif
}

namespace {

using ChainLanes = FilterChain::Lanes;
constexpr size_t kLagMask = FilterChain::kLag - 1;
static_assert((FilterChain::kLag & kLagMask) == 0, "a power of two");

// n points through the sections (S of them, or `count` when S is 0), the
// state held in locals for the block: in registers where S is known. The
// last two lanes take fifo[(first + i) % kLag], which the second lane's
// output then replaces.
template <size_t S>
__attribute__((always_inline)) inline void ChainBlock(FilterChain::Section* sec, size_t count, double* fifo,
                                                     int64_t first, const double* x, size_t n, double* a, double* b,
                                                     double* c, double* d)
{
    constexpr size_t kMost = 16;
    ChainLanes s1[S ? S : kMost] = {}, s2[S ? S : kMost] = {};
    const size_t m = S ? S : count;
#pragma GCC unroll 16
    for (size_t k = 0; k < m; ++k) {
        s1[k] = sec[k].s1;
        s2[k] = sec[k].s2;
    }
    for (size_t i = 0; i < n; ++i) {
        double& slot = fifo[static_cast<size_t>(first + static_cast<int64_t>(i)) & kLagMask];
        ChainLanes v = {x[i], x[i], slot, slot};
#pragma GCC unroll 16
        for (size_t k = 0; k < m; ++k) {
            const ChainLanes y = sec[k].b0 * v + s1[k];
            s1[k] = sec[k].b1 * v - sec[k].a1 * y + s2[k];
            s2[k] = sec[k].b2 * v - sec[k].a2 * y;
            v = y;
        }
        a[i] = v[0];
        b[i] = v[1];
        c[i] = v[2];
        d[i] = v[3];
        slot = v[1];
    }
#pragma GCC unroll 16
    for (size_t k = 0; k < m; ++k) {
        sec[k].s1 = s1[k];
        sec[k].s2 = s2[k];
    }
}

using ChainFn = void (*)(FilterChain::Section*, size_t, double*, int64_t, const double*, size_t, double*, double*,
                         double*, double*);

template <size_t S>
void ChainPlain(FilterChain::Section* sec, size_t count, double* fifo, int64_t first, const double* x, size_t n,
                double* a, double* b, double* c, double* d)
{
    ChainBlock<S>(sec, count, fifo, first, x, n, a, b, c, d);
}

#if defined(__x86_64__) && defined(__GNUC__)
// The same sums four lanes at a time (no fused multiply-add: the same
// roundings as the plain build).
template <size_t S>
__attribute__((target("avx"))) void ChainAvx(FilterChain::Section* sec, size_t count, double* fifo, int64_t first,
                                            const double* x, size_t n, double* a, double* b, double* c, double* d)
{
    ChainBlock<S>(sec, count, fifo, first, x, n, a, b, c, d);
}
#endif

// The meter's chain has seven sections: that count runs unrolled.
constexpr size_t kUnrolled = 7;

ChainFn ChooseChain(size_t sections, bool avx)
{
#if defined(__x86_64__) && defined(__GNUC__)
    if (avx)
        return sections == kUnrolled ? ChainAvx<kUnrolled> : ChainAvx<0>;
#else
    (void)avx;
#endif
    return sections == kUnrolled ? ChainPlain<kUnrolled> : ChainPlain<0>;
}

}  // namespace

void FilterChain::Run(const double* x, size_t n, double* outA, double* outB, double* outC, double* outD)
{
    if (sections_.empty())
        return;
    const ChainFn chain = ChooseChain(sections_.size(), avx_);
    size_t i = 0;
    // The first kLag points: the last two cascades have no input yet, so
    // their state is put back after each.
    for (; i < n && count_ < static_cast<int64_t>(kLag); ++i, ++count_) {
        std::vector<Section> kept = sections_;
        chain(sections_.data(), sections_.size(), fifo_.data(), count_, x + i, 1, outA + i, outB + i, outC + i,
              outD + i);
        for (size_t k = 0; k < sections_.size(); ++k)
            for (int l : {2, 3}) {
                sections_[k].s1[l] = kept[k].s1[l];
                sections_[k].s2[l] = kept[k].s2[l];
            }
    }
    if (i < n)
        chain(sections_.data(), sections_.size(), fifo_.data(), count_, x + i, n - i, outA + i, outB + i, outC + i,
              outD + i);
    count_ += static_cast<int64_t>(n - i);
}

size_t FilterChain::Flush(double* outC, double* outD) const
{
    const size_t owed = static_cast<size_t>(std::min<int64_t>(count_, kLag));
    if (owed == 0)
        return 0;
    std::vector<Section> copy = sections_;
    std::vector<double> fifo = fifo_;
    // The owed points' outputs go through the last two lanes; the first two
    // run on them too, but only in the copy.
    const int64_t first = count_ - static_cast<int64_t>(owed);
    std::vector<double> in(owed), a(owed), b(owed);
    for (size_t j = 0; j < owed; ++j)
        in[j] = fifo[static_cast<size_t>(first + static_cast<int64_t>(j)) & kLagMask];
    // Within the copy the fifo is read kLag points on: start where the
    // owed points' slots come round again.
    ChooseChain(copy.size(), avx_)(copy.data(), copy.size(), fifo.data(), first, in.data(), owed, a.data(), b.data(),
                                   outC, outD);
    return owed;
}

namespace {

using Floats8 = float __attribute__((vector_size(32), aligned(4)));

__attribute__((always_inline)) inline void Load8(Floats8& v, const float* p) { std::memcpy(&v, p, sizeof v); }

// The eight lanes added: the upper four onto the lower, then lanes 0 and 2,
// 1 and 3, then those two.
__attribute__((always_inline)) inline float Lanes8(const Floats8& v)
{
    const float h0 = v[0] + v[4], h1 = v[1] + v[5], h2 = v[2] + v[6], h3 = v[3] + v[7];
    return (h0 + h2) + (h1 + h3);
}

template <size_t G>
__attribute__((always_inline)) inline void DotGroup(const float* tr, const float* ti, size_t n, const float* s,
                                                    size_t step, float* re, float* im)
{
    Floats8 ar[G], ai[G];
    for (size_t g = 0; g < G; ++g)
        ar[g] = ai[g] = Floats8{};
    for (size_t j = 0; j < n; j += 8) {
        Floats8 r, i;
        Load8(r, tr + j);
        Load8(i, ti + j);
        for (size_t g = 0; g < G; ++g) {
            Floats8 x;
            Load8(x, s + g * step + j);
            ar[g] += r * x;
            ai[g] += i * x;
        }
    }
    for (size_t g = 0; g < G; ++g) {
        re[g] = Lanes8(ar[g]);
        im[g] = Lanes8(ai[g]);
    }
}

}  // namespace

namespace {

size_t CountUnder(const double* v, size_t n, double limit, double factor)
{
    size_t count = 0;
    for (size_t i = 0; i < n; ++i)
        count += limit > factor * v[i] ? 1 : 0;
    return count;
}

}  // namespace

bool OverMedian(const double* a, size_t na, const double* b, size_t nb, double limit, double factor)
{
    const size_t n = na + nb;
    return n > 0 && CountUnder(a, na, limit, factor) + CountUnder(b, nb, limit, factor) >= n / 2 + 1;
}

__attribute__((target_clones("avx2", "default"))) void ComplexDots(const float* tr, const float* ti, size_t n,
                                                                   const float* s, size_t step, size_t count,
                                                                   float* re, float* im)
{
    size_t k = 0;
    for (; k + 4 <= count; k += 4)
        DotGroup<4>(tr, ti, n, s + k * step, step, re + k, im + k);
    for (; k < count; ++k)
        DotGroup<1>(tr, ti, n, s + k * step, step, re + k, im + k);
}

namespace {

// Roots expanded into conjugate pairs, complex pairs first.
std::vector<cplx> Expand(const std::vector<cplx>& roots)
{
    std::vector<cplx> pairs, reals;
    for (cplx r : roots) {
        if (std::abs(r.imag()) > 0) {
            pairs.push_back(r);
            pairs.push_back(std::conj(r));
        } else {
            reals.push_back(r);
        }
    }
    pairs.insert(pairs.end(), reals.begin(), reals.end());
    return pairs;
}

cplx ToZ(cplx s, double rate) { return (2 * rate + s) / (2 * rate - s); }

}  // namespace

Cascade Bilinear(const AnaloguePrototype& proto, double rate, double normHz)
{
    std::vector<cplx> poles = Expand(proto.poles);
    std::vector<cplx> zeros = Expand(proto.zeros);
    for (cplx& p : poles)
        p = ToZ(p, rate);
    for (cplx& z : zeros)
        z = ToZ(z, rate);
    while (zeros.size() < poles.size())
        zeros.push_back(-1.0);

    std::vector<Biquad> sections;
    size_t zi = 0;
    for (size_t pi = 0; pi < poles.size();) {
        // A complex pole takes its pair; two real poles share a section.
        const bool pair = std::abs(poles[pi].imag()) > 0 || pi + 1 < poles.size();
        Biquad s;
        if (pair) {
            const cplx p1 = poles[pi], p2 = poles[pi + 1];
            s.a1 = -(p1 + p2).real();
            s.a2 = (p1 * p2).real();
            const cplx z1 = zeros[zi], z2 = zeros[zi + 1];
            s.b1 = -(z1 + z2).real();
            s.b2 = (z1 * z2).real();
            pi += 2;
            zi += 2;
        } else {
            s.a1 = -poles[pi].real();
            s.b1 = -zeros[zi].real();
            pi += 1;
            zi += 1;
        }
        sections.push_back(s);
    }
    Cascade c(std::move(sections));
    c.Scale(1 / std::abs(c.Response(normHz, rate)));
    return c;
}

namespace {

std::vector<cplx> ButterworthPoles(int order, double omega)
{
    std::vector<cplx> poles;
    for (int k = 0; k < order / 2; ++k) {
        const double theta = std::numbers::pi * (2 * k + 1) / (2.0 * order);
        poles.push_back(omega * cplx(-std::sin(theta), std::cos(theta)));
    }
    if (order % 2)
        poles.push_back(-omega);
    return poles;
}

double Prewarp(double hz, double rate) { return 2 * rate * std::tan(std::numbers::pi * hz / rate); }

}  // namespace

Cascade ButterworthLowPass(int order, double cornerHz, double rate)
{
    AnaloguePrototype p;
    p.poles = ButterworthPoles(order, Prewarp(cornerHz, rate));
    return Bilinear(p, rate, 0);
}

Cascade ChebyshevLowPass(int order, double edgeHz, double edgeGain, double rate)
{
    // |H|^2 = 1 / (1 + e^2 T_n(w / we)^2): the gain ripples between 1 and
    // 1 / sqrt(1 + e^2) up to the edge, then falls as fast as an
    // all-pole filter of that order can with that ripple. The poles lie on
    // an ellipse: sinh and cosh of asinh(1/e) / n.
    const double e = std::sqrt(1 / (edgeGain * edgeGain) - 1);
    const double a = std::asinh(1 / e) / order;
    const double w = Prewarp(edgeHz, rate);
    AnaloguePrototype p;
    for (int k = 0; k < order / 2; ++k) {
        const double theta = std::numbers::pi * (2 * k + 1) / (2.0 * order);
        p.poles.push_back(w * cplx(-std::sinh(a) * std::sin(theta), std::cosh(a) * std::cos(theta)));
    }
    if (order % 2)
        p.poles.push_back(-w * std::sinh(a));
    return Bilinear(p, rate, 0);
}

Cascade ButterworthHighPass(int order, double cornerHz, double rate)
{
    AnaloguePrototype p;
    // s -> w^2 / s maps the low-pass poles at radius w onto themselves
    // mirrored; the zeros go to the origin.
    const double w = Prewarp(cornerHz, rate);
    for (cplx q : ButterworthPoles(order, w)) {
        p.poles.push_back(w * w / q);
        p.zeros.push_back(0.0);
        if (std::abs(q.imag()) > 0)
            p.zeros.push_back(0.0);
    }
    return Bilinear(p, rate, rate / 2);
}

namespace {

// The zeroth-order modified Bessel function of the first kind.
double BesselI0(double x)
{
    double sum = 1, term = 1;
    for (int k = 1; k < 60 && term > 1e-12 * sum; ++k) {
        term *= (x / (2 * k)) * (x / (2 * k));
        sum += term;
    }
    return sum;
}

}  // namespace

std::vector<double> KaiserLowPass(double cutoffHz, double widthHz, double attenuationDb, double rate)
{
    const double a = attenuationDb;
    const double beta = a > 50 ? 0.1102 * (a - 8.7) : a >= 21 ? 0.5842 * std::pow(a - 21, 0.4) + 0.07886 * (a - 21) : 0;
    const double dw = 2 * std::numbers::pi * widthHz / rate;
    size_t n = static_cast<size_t>(std::ceil((a - 7.95) / (2.285 * dw))) + 1;
    n |= 1;  // odd: a whole-sample delay
    const double m = (n - 1) / 2.0, fc = cutoffHz / rate;
    std::vector<double> h(n);
    double sum = 0;
    for (size_t k = 0; k < n; ++k) {
        const double t = k - m;
        const double ideal = t == 0 ? 2 * fc : std::sin(2 * std::numbers::pi * fc * t) / (std::numbers::pi * t);
        const double r = m > 0 ? t / m : 0;
        h[k] = ideal * BesselI0(beta * std::sqrt(std::max(0.0, 1 - r * r))) / BesselI0(beta);
        sum += h[k];
    }
    for (double& v : h)
        v /= sum;
    return h;
}

void Fft(std::vector<cplx>& data) { FftPlan(data.size()).Forward(data); }

FftPlan::FftPlan(size_t n) : n_(n), twiddle_(n / 2), reversed_(n)
{
    for (size_t k = 0; k < n / 2; ++k)
        twiddle_[k] = std::polar(1.0, -2 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(n));
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        reversed_[i] = j;
    }
    // The same factors as the whole length's table: k / L = k (n / L) / n exactly.
    stageRe_.assign(n > 1 ? n - 1 : 1, 0.0);
    stageIm_.assign(stageRe_.size(), 0.0);
    for (size_t half = 1, stride = n / 2; half < n; half <<= 1, stride >>= 1)
        for (size_t k = 0; k < half; ++k) {
            stageRe_[half - 1 + k] = twiddle_[k * stride].real();
            stageIm_[half - 1 + k] = twiddle_[k * stride].imag();
        }
}

namespace {

// One run of butterflies: a = a + w b, b = a - w b, k < half.
__attribute__((always_inline)) inline void Butterflies(double* __restrict ar, double* __restrict ai,
                                                       double* __restrict br, double* __restrict bi,
                                                       const double* __restrict wr, const double* __restrict wi,
                                                       size_t half)
{
    for (size_t k = 0; k < half; ++k) {
        const double vr = br[k] * wr[k] - bi[k] * wi[k], vi = br[k] * wi[k] + bi[k] * wr[k];
        const double xr = ar[k], xi = ai[k];
        ar[k] = xr + vr;
        ai[k] = xi + vi;
        br[k] = xr - vr;
        bi[k] = xi - vi;
    }
}

// The butterflies of every stage on the parts held apart, so that the
// compiler runs each stage's run of butterflies several lanes at a time
// (a second build for processors with AVX2, chosen when loaded; no fused
// multiply-add, so the same roundings as the plain build).
__attribute__((target_clones("avx2", "default"))) void FftStages(double* re, double* im, size_t n, const double* twr,
                                                                 const double* twi)
{
    // The stages short enough to stay within a block of the processor's
    // nearest cache run block by block, the rest over the whole length:
    // every butterfly the same, in an order that keeps the data near.
    constexpr size_t kBlock = 1024;
    const size_t block = std::min(kBlock, n);
    for (size_t from = 0; from < n; from += block)
        for (size_t half = 1; half < block; half <<= 1)
            for (size_t i = from; i < from + block; i += 2 * half)
                Butterflies(re + i, im + i, re + i + half, im + i + half, twr + half - 1, twi + half - 1, half);
    for (size_t half = block; half < n; half <<= 1)
        for (size_t i = 0; i < n; i += 2 * half)
            Butterflies(re + i, im + i, re + i + half, im + i + half, twr + half - 1, twi + half - 1, half);
}

}  // namespace

void FftPlan::Forward(std::vector<cplx>& data) const
{
    // Taken apart in bit-reversed order, the stages run, then put together.
    thread_local std::vector<double> re, im;
    re.resize(n_);
    im.resize(n_);
    const double* d = reinterpret_cast<const double*>(data.data());
    for (size_t i = 0; i < n_; ++i) {
        re[i] = d[2 * reversed_[i]];
        im[i] = d[2 * reversed_[i] + 1];
    }
    FftStages(re.data(), im.data(), n_, stageRe_.data(), stageIm_.data());
    double* out = reinterpret_cast<double*>(data.data());
    for (size_t i = 0; i < n_; ++i) {
        out[2 * i] = re[i];
        out[2 * i + 1] = im[i];
    }
}

RealFftPlan::RealFftPlan(size_t n) : n_(n), half_(n / 2), twiddle_(n / 2 + 1)
{
    for (size_t k = 0; k <= n / 2; ++k)
        twiddle_[k] = std::polar(1.0, -2 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(n));
}

void RealFftPlan::Forward(const double* x, std::vector<cplx>& out) const
{
    const size_t h = n_ / 2;
    thread_local std::vector<cplx> work;  // the plan itself is only read: threads may share it
    work.resize(h);
    double* z = reinterpret_cast<double*>(work.data());
    std::copy(x, x + n_, z);  // the even values as real parts, the odd as imaginary
    half_.Forward(work);
    out.resize(h + 1);
    // Z[k] = E[k] + i O[k], where E and O are the transforms of the even
    // and odd values; X[k] = E[k] + e^{-2 pi i k / n} O[k], with
    // E[k] = (Z[k] + conj Z[h-k]) / 2 and O[k] = -i (Z[k] - conj Z[h-k]) / 2.
    double* o = reinterpret_cast<double*>(out.data());
    const double* tw = reinterpret_cast<const double*>(twiddle_.data());
    for (size_t k = 0; k <= h; ++k) {
        const size_t j = k == 0 || k == h ? 0 : h - k, i = k == h ? 0 : k;
        const double zr = z[2 * i], zi = z[2 * i + 1], cr = z[2 * j], ci = -z[2 * j + 1];
        const double er = 0.5 * (zr + cr), ei = 0.5 * (zi + ci);
        const double odr = 0.5 * (zi - ci), odi = -0.5 * (zr - cr);
        const double wr = tw[2 * k], wi = tw[2 * k + 1];
        o[2 * k] = er + (wr * odr - wi * odi);
        o[2 * k + 1] = ei + (wr * odi + wi * odr);
    }
}

void TransformPair(const FftPlan& plan, const double* a, const double* b, std::vector<cplx>& work,
                   std::vector<cplx>& outA, std::vector<cplx>& outB)
{
    const size_t n = plan.Size();
    work.resize(n);
    double* z = reinterpret_cast<double*>(work.data());
    for (size_t i = 0; i < n; ++i) {
        z[2 * i] = a[i];
        z[2 * i + 1] = b[i];
    }
    plan.Forward(work);
    outA.resize(n / 2 + 1);
    outB.resize(n / 2 + 1);
    double* pa = reinterpret_cast<double*>(outA.data());
    double* pb = reinterpret_cast<double*>(outB.data());
    // A[k] = (Z[k] + conj Z[n-k]) / 2, B[k] = -i (Z[k] - conj Z[n-k]) / 2.
    for (size_t k = 0; k <= n / 2; ++k) {
        const size_t j = k == 0 ? 0 : n - k;
        const double zr = z[2 * k], zi = z[2 * k + 1], cr = z[2 * j], ci = -z[2 * j + 1];
        pa[2 * k] = 0.5 * (zr + cr);
        pa[2 * k + 1] = 0.5 * (zi + ci);
        pb[2 * k] = 0.5 * (zi - ci);
        pb[2 * k + 1] = -0.5 * (zr - cr);
    }
}

std::vector<double> HannWindow(size_t n)
{
    std::vector<double> w(n);
    for (size_t i = 0; i < n; ++i)
        w[i] = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(n));
    return w;
}

namespace {

struct HannTable {
    explicit HannTable(size_t n) : w(HannWindow(n)) {}
    std::vector<double> w;
};

// The one T of length n, made at the first call and kept for the life of
// the process (the lengths are powers of two, so there are few of them).
template <typename T>
const T& Shared(size_t n)
{
    static std::mutex guard;
    static std::map<size_t, std::unique_ptr<const T>> made;
    const std::lock_guard lock(guard);
    std::unique_ptr<const T>& slot = made[n];
    if (!slot)
        slot = std::make_unique<const T>(n);
    return *slot;
}

}  // namespace

const FftPlan& SharedFftPlan(size_t n) { return Shared<FftPlan>(n); }
const RealFftPlan& SharedRealFftPlan(size_t n) { return Shared<RealFftPlan>(n); }
const std::vector<double>& SharedHannWindow(size_t n) { return Shared<HannTable>(n).w; }

}  // namespace tarvo::meter
