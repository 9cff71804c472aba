// Writes the view's background picture (bitmap 106) as a 4-bit run-length
// encoded Windows BMP file:
//
//   make-background OUTPUT.bmp
//
// The picture is 640 x 400: a mid-grey card with a black outline and rounded
// corners, a dark-grey panel carrying the black screen of the plot, a red
// emblem and the display title below the panel. The output is the same, byte
// for byte, at every run.

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 400;

// Palette indices.
enum : std::uint8_t {
    kBlack = 0,
    kDarkRed = 1,
    kDarkGrey = 7,
    kGrey = 8,
    kRed = 9,
    kWhite = 15,
};

struct PaletteEntry {
    std::uint8_t r, g, b;
};
constexpr std::array<PaletteEntry, 16> kPalette{{
    {0, 0, 0},     {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
    {0, 0, 128},   {128, 0, 128}, {0, 128, 128}, {91, 91, 91},
    {128, 128, 128}, {255, 0, 0}, {0, 255, 0},   {255, 128, 64},
    {0, 0, 255},   {255, 0, 255}, {0, 255, 255}, {255, 255, 255},
}};

// Palette indices, rows top-down.
class Canvas {
public:
    Canvas() : pixels_(static_cast<size_t>(kWidth) * kHeight, kWhite) {}
    void Set(int x, int y, std::uint8_t c)
    {
        if (x >= 0 && y >= 0 && x < kWidth && y < kHeight)
            pixels_[static_cast<size_t>(y) * kWidth + x] = c;
    }
    std::uint8_t At(int x, int y) const { return pixels_[static_cast<size_t>(y) * kWidth + x]; }

private:
    std::vector<std::uint8_t> pixels_;
};

// Whether pixel (x, y) lies in the rectangle x0..x1, y0..y1 (inclusive) with
// its corners rounded by radius r, measured from pixel centres.
bool InRoundedRect(int x, int y, int x0, int y0, int x1, int y1, double r)
{
    if (x < x0 || x > x1 || y < y0 || y > y1)
        return false;
    double px = x + 0.5, py = y + 0.5;
    double cx = std::fmin(std::fmax(px, x0 + r), x1 + 1 - r);
    double cy = std::fmin(std::fmax(py, y0 + r), y1 + 1 - r);
    double dx = px - cx, dy = py - cy;
    return dx * dx + dy * dy <= r * r;
}

void FillRoundedRect(Canvas& c, int x0, int y0, int x1, int y1, double r, std::uint8_t color)
{
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            if (InRoundedRect(x, y, x0, y0, x1, y1, r))
                c.Set(x, y, color);
}

// The card fills the picture; its outline is every card pixel with a
// neighbour (left, right, above, below) off the card.
void DrawCard(Canvas& c)
{
    const double r = 11;
    auto in = [&](int x, int y) { return InRoundedRect(x, y, 0, 0, kWidth - 1, kHeight - 1, r); };
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            if (!in(x, y)) {
                c.Set(x, y, kWhite);
                continue;
            }
            bool edge = !in(x - 1, y) || !in(x + 1, y) || !in(x, y - 1) || !in(x, y + 1);
            c.Set(x, y, edge ? kBlack : kGrey);
        }
}

// Two tape reels joined by the tape, over a sine wave.
void DrawEmblem(Canvas& c)
{
    const int reelY = 344;
    const int reelX[2] = {45, 84};
    // Spoke directions: up, lower left, lower right.
    const double spokes[3][2] = {{0.0, -1.0}, {-0.8660254037844386, 0.5}, {0.8660254037844386, 0.5}};
    for (int cx : reelX) {
        for (int y = reelY - 18; y <= reelY + 18; ++y)
            for (int x = cx - 18; x <= cx + 18; ++x) {
                int dx = x - cx, dy = y - reelY;
                int d2 = dx * dx + dy * dy;
                if (d2 > 18 * 18 + 18)
                    continue;
                std::uint8_t color = kRed;
                if (d2 <= 3 * 3) {
                    color = kBlack;  // the spindle hole
                } else if (d2 <= 14 * 14 && d2 > 6 * 6) {
                    color = kDarkRed;  // the window between the spokes
                    for (const auto& s : spokes) {
                        double along = dx * s[0] + dy * s[1];
                        double across = dx * s[1] - dy * s[0];
                        if (along > 0 && std::fabs(across) < 2.0)
                            color = kRed;
                    }
                }
                c.Set(x, y, color);
            }
    }
    // The tape, leaving both reels at the bottom.
    for (int x = reelX[0]; x <= reelX[1]; ++x) {
        c.Set(x, reelY + 17, kRed);
        c.Set(x, reelY + 18, kRed);
    }
    // Two periods of a sine wave, three pixels thick.
    const double pi = 3.14159265358979323846;
    for (int x = 25; x <= 104; ++x) {
        double yc = 376.5 + 7.5 * std::sin(2 * pi * (x - 25) / 40.0);
        for (int y = 368; y <= 385; ++y)
            if (std::fabs(y + 0.5 - yc) <= 1.5)
                c.Set(x, y, kRed);
    }
}

// The display title in a pixel font. Each glyph is ten cells high: rows 0
// to 7 stand on the baseline, rows 8 and 9 hold the tail of the Q.
struct Glyph {
    char ch;
    std::array<const char*, 10> rows;
};
const Glyph kGlyphs[] = {
    {'Q', {"..#####..", ".##...##.", "##.....##", "##.....##", "##.....##", "##...#.##",
           ".##...##.", "..#######", ".......##", "........#"}},
    {'u', {"........", "........", "##....##", "##....##", "##....##", "##....##", "##...###",
           ".####.##", "........", "........"}},
    {'i', {".##.", "....", "###.", ".##.", ".##.", ".##.", ".##.", "####", "....", "...."}},
    {'l', {"###.", ".##.", ".##.", ".##.", ".##.", ".##.", ".##.", "####", "....", "...."}},
    {'o', {"........", "........", ".######.", "##....##", "##....##", "##....##", "##....##",
           ".######.", "........", "........"}},
    {'n', {"........", "........", "##.####.", "###...##", "##....##", "##....##", "##....##",
           "##....##", "........", "........"}},
};

const Glyph* FindGlyph(char ch)
{
    for (const Glyph& g : kGlyphs)
        if (g.ch == ch)
            return &g;
    return nullptr;
}

int GlyphWidth(const Glyph& g) { return static_cast<int>(std::string(g.rows[0]).size()); }

void DrawTitle(Canvas& c, const std::string& text)
{
    const int scale = 2, gap = 2;  // gap in cells between letters
    const int left = 150, right = 385, top = 369;
    int cells = 0;
    for (char ch : text)
        if (const Glyph* g = FindGlyph(ch))
            cells += GlyphWidth(*g) + gap;
    cells -= gap;
    int x = left + (right - left + 1 - cells * scale) / 2;
    for (char ch : text) {
        const Glyph* g = FindGlyph(ch);
        if (!g)
            continue;
        for (int row = 0; row < 10; ++row)
            for (int col = 0; g->rows[row][col]; ++col)
                if (g->rows[row][col] == '#')
                    for (int sy = 0; sy < scale; ++sy)
                        for (int sx = 0; sx < scale; ++sx)
                            c.Set(x + col * scale + sx, top + row * scale + sy, kBlack);
        x += (GlyphWidth(*g) + gap) * scale;
    }
}

Canvas Paint()
{
    Canvas c;
    DrawCard(c);
    for (int y = 25; y <= 311; ++y)
        for (int x = 14; x <= 450; ++x)
            c.Set(x, y, kDarkGrey);
    FillRoundedRect(c, 22, 30, 443, 301, 13, kBlack);
    DrawEmblem(c);
    DrawTitle(c, "Quillon");
    return c;
}

// --- Run-length encoding, 4 bits per pixel ------------------------------

int RunLength(const std::vector<std::uint8_t>& row, size_t i)
{
    size_t j = i;
    while (j < row.size() && row[j] == row[i] && j - i < 255)
        ++j;
    return static_cast<int>(j - i);
}

// One row: runs of three or more pixels as encoded runs, the stretches
// between them in absolute mode (three or more pixels, padded to a 16-bit
// word) or as a short encoded pair.
void EncodeRow(const std::vector<std::uint8_t>& row, std::vector<std::uint8_t>& out)
{
    size_t i = 0;
    while (i < row.size()) {
        int run = RunLength(row, i);
        if (run >= 3) {
            out.push_back(static_cast<std::uint8_t>(run));
            out.push_back(static_cast<std::uint8_t>(row[i] << 4 | row[i]));
            i += static_cast<size_t>(run);
            continue;
        }
        size_t j = i;
        while (j < row.size() && j - i < 255 && RunLength(row, j) < 3)
            ++j;
        size_t n = j - i;
        if (n >= 3) {
            out.push_back(0);
            out.push_back(static_cast<std::uint8_t>(n));
            size_t bytes = (n + 1) / 2;
            for (size_t b = 0; b < bytes; ++b) {
                std::uint8_t hi = row[i + 2 * b];
                std::uint8_t lo = i + 2 * b + 1 < j ? row[i + 2 * b + 1] : 0;
                out.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
            }
            if (bytes % 2)
                out.push_back(0);
        } else {
            std::uint8_t hi = row[i];
            std::uint8_t lo = n == 2 ? row[i + 1] : 0;
            out.push_back(static_cast<std::uint8_t>(n));
            out.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
        }
        i = j;
    }
}

void Put16(std::vector<std::uint8_t>& v, std::uint32_t x)
{
    v.push_back(static_cast<std::uint8_t>(x));
    v.push_back(static_cast<std::uint8_t>(x >> 8));
}
void Put32(std::vector<std::uint8_t>& v, std::uint32_t x)
{
    Put16(v, x & 0xFFFF);
    Put16(v, x >> 16);
}

std::vector<std::uint8_t> EncodeBmp(const Canvas& c)
{
    std::vector<std::uint8_t> data;
    for (int y = kHeight - 1; y >= 0; --y) {  // bottom-up
        std::vector<std::uint8_t> row(kWidth);
        for (int x = 0; x < kWidth; ++x)
            row[static_cast<size_t>(x)] = c.At(x, y);
        EncodeRow(row, data);
        data.push_back(0);
        data.push_back(y == 0 ? 1 : 0);  // end of bitmap after the top row, else end of line
    }

    const std::uint32_t headers = 14 + 40 + 16 * 4;
    std::vector<std::uint8_t> f;
    f.push_back('B');
    f.push_back('M');
    Put32(f, headers + static_cast<std::uint32_t>(data.size()));  // bfSize
    Put32(f, 0);                                                   // reserved
    Put32(f, headers);                                             // bfOffBits
    Put32(f, 40);                                                  // biSize
    Put32(f, kWidth);
    Put32(f, kHeight);
    Put16(f, 1);  // planes
    Put16(f, 4);  // bits per pixel
    Put32(f, 2);  // BI_RLE4
    Put32(f, static_cast<std::uint32_t>(data.size()));
    Put32(f, 0);   // horizontal resolution
    Put32(f, 0);   // vertical resolution
    Put32(f, 16);  // colours used
    Put32(f, 0);   // all important
    for (const PaletteEntry& p : kPalette) {
        f.push_back(p.b);
        f.push_back(p.g);
        f.push_back(p.r);
        f.push_back(0);
    }
    f.insert(f.end(), data.begin(), data.end());
    return f;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-background OUTPUT.bmp\n");
        return 2;
    }
    std::vector<std::uint8_t> bmp = EncodeBmp(Paint());
    std::FILE* f = std::fopen(argv[1], "wb");
    if (!f) {
        std::perror(argv[1]);
        return 1;
    }
    bool ok = std::fwrite(bmp.data(), 1, bmp.size(), f) == bmp.size();
    ok = std::fclose(f) == 0 && ok;
    if (!ok) {
        std::fprintf(stderr, "make-background: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
