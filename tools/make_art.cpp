// vkt5-make-art LOGO.bmp ICON.ico: draws the Corvane mark and writes the dialog's logo (150 x 150,
// 24 bits, bottom-up, no colour table) and the window icon (nine images, all BMP entries).
//
// The mark: a navy rounded tile carrying a bold white "C" open to the right, and an amber motion
// arc that sweeps over the C's back and ends in a dot at the opening, a point travelling around an
// axis. Below 32 pixels the arc would be a smear, so small sizes keep only the C and the dot.
// Shapes are described as distances in a unit square and rendered with supersampling, so every
// size is drawn from the same geometry rather than scaled from a bitmap. Palette images get
// their colours by median cut and a hard transparency mask.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr double PI = 3.14159265358979323846;

struct Rgba {
    double r = 0, g = 0, b = 0, a = 0;  // premultiplied, 0..1
};

struct Colour {
    double r, g, b;
};

constexpr Colour TILE_TOP{0.15, 0.38, 0.82};
constexpr Colour TILE_BOTTOM{0.03, 0.12, 0.40};
constexpr Colour WHITE{1.0, 1.0, 1.0};
constexpr Colour AMBER{1.0, 0.69, 0.13};
// The dialog face colour, behind the logo's rounded corners.
constexpr Colour FACE{240 / 255.0, 240 / 255.0, 240 / 255.0};

struct Style {
    double margin;      // tile inset from the image edge
    double corner;      // tile corner radius
    double cRadius;     // centre line of the C
    double cHalfWidth;  // half the stroke of the C
    double gapHalf;     // half the opening of the C, radians
    bool motionArc;
};

Style styleFor(int size) {
    if (size < 32) {
        return {0.0, 0.20, 0.265, 0.10, 0.95, false};
    }
    return {0.03, 0.19, 0.235, 0.075, 0.80, true};
}

// Distance from (x, y) to the arc of radius r about the centre between angles from and to
// (counter-clockwise, y up), round ends included.
double arcDistance(double x, double y, double r, double from, double to, double* along) {
    double theta = std::atan2(y, x);
    double span = to - from;
    double rel = std::fmod(theta - from + 4 * PI, 2 * PI);
    if (rel <= span) {
        if (along != nullptr) {
            *along = rel / span;
        }
        return std::abs(std::hypot(x, y) - r);
    }
    const double d1 = std::hypot(x - r * std::cos(from), y - r * std::sin(from));
    const double d2 = std::hypot(x - r * std::cos(to), y - r * std::sin(to));
    if (along != nullptr) {
        *along = d1 < d2 ? 0.0 : 1.0;
    }
    return std::min(d1, d2);
}

double roundedBoxDistance(double x, double y, double half, double corner) {
    const double qx = std::abs(x) - (half - corner);
    const double qy = std::abs(y) - (half - corner);
    const double outside = std::hypot(std::max(qx, 0.0), std::max(qy, 0.0));
    return outside + std::min(std::max(qx, qy), 0.0) - corner;
}

void over(Rgba& dst, Colour c, double alpha) {
    dst.r = c.r * alpha + dst.r * (1 - alpha);
    dst.g = c.g * alpha + dst.g * (1 - alpha);
    dst.b = c.b * alpha + dst.b * (1 - alpha);
    dst.a = alpha + dst.a * (1 - alpha);
}

// One sample at (u, v) in the unit square, v downward.
Rgba sample(double u, double v, const Style& s) {
    Rgba out;
    const double x = u - 0.5;
    const double y = 0.5 - v;
    if (roundedBoxDistance(x, y, 0.5 - s.margin, s.corner) > 0) {
        return out;
    }
    const double t = std::clamp((u + v) / 2, 0.0, 1.0);
    const Colour tile{TILE_TOP.r + (TILE_BOTTOM.r - TILE_TOP.r) * t,
                      TILE_TOP.g + (TILE_BOTTOM.g - TILE_TOP.g) * t,
                      TILE_TOP.b + (TILE_BOTTOM.b - TILE_TOP.b) * t};
    over(out, tile, 1.0);

    if (arcDistance(x, y, s.cRadius, s.gapHalf, 2 * PI - s.gapHalf, nullptr) <= s.cHalfWidth) {
        over(out, WHITE, 1.0);
    }

    if (s.motionArc) {
        // Trail from the lower left over the top to the upper right, growing and brightening
        // toward its head.
        const double radius = 0.385;
        const double head = 0.62;
        const double tail = PI * 1.12;
        double along = 0;
        const double d = arcDistance(x, y, radius, head, tail, &along);
        const double progress = 1.0 - along;  // 0 at the tail, 1 at the head
        const double width = 0.008 + 0.024 * progress;
        if (d <= width) {
            over(out, AMBER, 0.25 + 0.75 * progress);
        }
    }
    const double dotAngle = s.motionArc ? 0.62 : 0.0;
    const double dotRadius = s.motionArc ? 0.385 : s.cRadius;
    const double dotSize = s.motionArc ? 0.058 : 0.105;
    if (std::hypot(x - dotRadius * std::cos(dotAngle), y - dotRadius * std::sin(dotAngle)) <=
        dotSize) {
        over(out, AMBER, 1.0);
    }
    return out;
}

struct Image {
    int size = 0;
    std::vector<Rgba> pixels;  // top-down, premultiplied
    const Rgba& at(int x, int y) const { return pixels[static_cast<std::size_t>(y * size + x)]; }
};

Image render(int size) {
    const Style style = styleFor(size);
    const int ss = size >= 128 ? 4 : 8;
    Image image;
    image.size = size;
    image.pixels.resize(static_cast<std::size_t>(size * size));
    for (int py = 0; py < size; ++py) {
        for (int px = 0; px < size; ++px) {
            Rgba sum;
            for (int sy = 0; sy < ss; ++sy) {
                for (int sx = 0; sx < ss; ++sx) {
                    const double u = (px + (sx + 0.5) / ss) / size;
                    const double v = (py + (sy + 0.5) / ss) / size;
                    const Rgba s = sample(u, v, style);
                    sum.r += s.r;
                    sum.g += s.g;
                    sum.b += s.b;
                    sum.a += s.a;
                }
            }
            const double n = ss * ss;
            image.pixels[static_cast<std::size_t>(py * size + px)] = {sum.r / n, sum.g / n,
                                                                      sum.b / n, sum.a / n};
        }
    }
    return image;
}

std::uint8_t toByte(double value) {
    return static_cast<std::uint8_t>(std::lround(std::clamp(value, 0.0, 1.0) * 255.0));
}

struct Bgr {
    std::uint8_t b, g, r;
};

// Straight (not premultiplied) colour of a pixel.
Bgr straight(const Rgba& p) {
    if (p.a <= 0) {
        return {0, 0, 0};
    }
    return {toByte(p.b / p.a), toByte(p.g / p.a), toByte(p.r / p.a)};
}

class Writer {
  public:
    void u8(std::uint8_t v) { bytes.push_back(v); }
    void u16(std::uint32_t v) {
        u8(static_cast<std::uint8_t>(v));
        u8(static_cast<std::uint8_t>(v >> 8));
    }
    void u32(std::uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    }
    void pad4(std::size_t rowStart) {
        while ((bytes.size() - rowStart) % 4 != 0) {
            u8(0);
        }
    }
    std::vector<std::uint8_t> bytes;
};

constexpr std::uint32_t rowBytes(int width, int bpp) {
    return static_cast<std::uint32_t>((width * bpp + 31) / 32 * 4);
}

void infoHeader(Writer& w, int width, int height, int bpp, std::uint32_t imageSize,
                std::uint32_t coloursUsed) {
    w.u32(40);
    w.u32(static_cast<std::uint32_t>(width));
    w.u32(static_cast<std::uint32_t>(height));
    w.u16(1);
    w.u16(static_cast<std::uint32_t>(bpp));
    w.u32(0);  // BI_RGB
    w.u32(imageSize);
    w.u32(3780);  // 96 dpi
    w.u32(3780);
    w.u32(coloursUsed);
    w.u32(0);
}

std::vector<std::uint8_t> logoBitmap(const Image& image) {
    const int n = image.size;
    const std::uint32_t stride = rowBytes(n, 24);
    const std::uint32_t pixelBytes = stride * static_cast<std::uint32_t>(n);
    Writer w;
    w.u8('B');
    w.u8('M');
    w.u32(14 + 40 + pixelBytes);
    w.u32(0);
    w.u32(14 + 40);
    infoHeader(w, n, n, 24, pixelBytes, 0);
    for (int y = n - 1; y >= 0; --y) {
        const std::size_t start = w.bytes.size();
        for (int x = 0; x < n; ++x) {
            // Premultiplied, so the face shows through exactly what the mark leaves uncovered.
            const Rgba& p = image.at(x, y);
            const double keep = 1 - p.a;
            w.u8(toByte(p.b + FACE.b * keep));
            w.u8(toByte(p.g + FACE.g * keep));
            w.u8(toByte(p.r + FACE.r * keep));
        }
        w.pad4(start);
    }
    return w.bytes;
}

// Median cut over the opaque pixels' colours.
std::vector<Bgr> medianCut(const std::vector<Bgr>& colours, std::size_t count) {
    std::vector<std::vector<Bgr>> boxes{colours};
    const auto channel = [](const Bgr& c, int k) { return k == 0 ? c.r : k == 1 ? c.g : c.b; };
    while (boxes.size() < count) {
        std::size_t best = boxes.size();
        int bestRange = 0;
        int bestChannel = 0;
        for (std::size_t i = 0; i < boxes.size(); ++i) {
            for (int k = 0; k < 3; ++k) {
                int lo = 255;
                int hi = 0;
                for (const Bgr& c : boxes[i]) {
                    lo = std::min<int>(lo, channel(c, k));
                    hi = std::max<int>(hi, channel(c, k));
                }
                if (hi - lo > bestRange) {
                    bestRange = hi - lo;
                    best = i;
                    bestChannel = k;
                }
            }
        }
        if (best == boxes.size()) {
            break;
        }
        std::vector<Bgr>& box = boxes[best];
        std::sort(box.begin(), box.end(), [&](const Bgr& a, const Bgr& b) {
            return channel(a, bestChannel) < channel(b, bestChannel);
        });
        const auto middle = box.begin() + static_cast<std::ptrdiff_t>(box.size() / 2);
        std::vector<Bgr> upper(middle, box.end());
        box.erase(middle, box.end());
        boxes.push_back(std::move(upper));
    }
    std::vector<Bgr> palette;
    for (const auto& box : boxes) {
        double r = 0, g = 0, b = 0;
        for (const Bgr& c : box) {
            r += c.r;
            g += c.g;
            b += c.b;
        }
        const double n = static_cast<double>(std::max<std::size_t>(box.size(), 1));
        palette.push_back({toByte(b / n / 255), toByte(g / n / 255), toByte(r / n / 255)});
    }
    palette.resize(count, Bgr{0, 0, 0});
    return palette;
}

std::uint8_t nearest(const std::vector<Bgr>& palette, const Bgr& c) {
    std::size_t best = 0;
    int bestDistance = 1 << 30;
    for (std::size_t i = 0; i < palette.size(); ++i) {
        const int db = palette[i].b - c.b;
        const int dg = palette[i].g - c.g;
        const int dr = palette[i].r - c.r;
        const int d = 2 * dr * dr + 4 * dg * dg + 3 * db * db;
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
        }
    }
    return static_cast<std::uint8_t>(best);
}

// One icon image as stored in an .ico: BITMAPINFOHEADER (double height), colour table for palette
// depths, colour bits bottom-up, then the 1-bit AND mask (1 = transparent).
std::vector<std::uint8_t> iconEntry(const Image& image, int bpp) {
    const int n = image.size;
    std::vector<bool> transparent(static_cast<std::size_t>(n * n));
    for (int i = 0; i < n * n; ++i) {
        const double a = image.pixels[static_cast<std::size_t>(i)].a;
        transparent[static_cast<std::size_t>(i)] = bpp == 32 ? a <= 0.0 : a < 0.5;
    }
    std::vector<Bgr> palette;
    if (bpp <= 8) {
        std::vector<Bgr> colours;
        for (int i = 0; i < n * n; ++i) {
            if (!transparent[static_cast<std::size_t>(i)]) {
                colours.push_back(straight(image.pixels[static_cast<std::size_t>(i)]));
            }
        }
        palette = medianCut(colours, std::size_t{1} << bpp);
    }
    const std::uint32_t xorBytes = rowBytes(n, bpp) * static_cast<std::uint32_t>(n);
    const std::uint32_t andBytes = rowBytes(n, 1) * static_cast<std::uint32_t>(n);
    Writer w;
    infoHeader(w, n, 2 * n, bpp, xorBytes + andBytes, 0);
    for (const Bgr& c : palette) {
        w.u8(c.b);
        w.u8(c.g);
        w.u8(c.r);
        w.u8(0);
    }
    for (int y = n - 1; y >= 0; --y) {
        const std::size_t start = w.bytes.size();
        std::uint8_t nibble = 0;
        for (int x = 0; x < n; ++x) {
            const Rgba& p = image.at(x, y);
            const bool clear = transparent[static_cast<std::size_t>(y * n + x)];
            const Bgr c = straight(p);
            if (bpp == 32) {
                w.u8(c.b);
                w.u8(c.g);
                w.u8(c.r);
                w.u8(toByte(p.a));
            } else {
                const std::uint8_t index = clear ? 0 : nearest(palette, c);
                if (bpp == 8) {
                    w.u8(index);
                } else if (x % 2 == 0) {
                    nibble = static_cast<std::uint8_t>(index << 4);
                } else {
                    w.u8(static_cast<std::uint8_t>(nibble | index));
                }
            }
        }
        if (bpp == 4 && n % 2 != 0) {
            w.u8(nibble);
        }
        w.pad4(start);
    }
    for (int y = n - 1; y >= 0; --y) {
        const std::size_t start = w.bytes.size();
        std::uint8_t bits = 0;
        for (int x = 0; x < n; ++x) {
            if (transparent[static_cast<std::size_t>(y * n + x)]) {
                bits = static_cast<std::uint8_t>(bits | (0x80 >> (x % 8)));
            }
            if (x % 8 == 7 || x == n - 1) {
                w.u8(bits);
                bits = 0;
            }
        }
        w.pad4(start);
    }
    return w.bytes;
}

struct IconFormat {
    int size;
    int bpp;
};

constexpr IconFormat ICON_IMAGES[] = {{16, 4},  {16, 8}, {16, 32}, {24, 32}, {32, 8},
                                      {32, 32}, {48, 8}, {48, 32}, {256, 32}};

std::vector<std::uint8_t> iconFile() {
    std::vector<std::vector<std::uint8_t>> entries;
    for (const IconFormat& format : ICON_IMAGES) {
        entries.push_back(iconEntry(render(format.size), format.bpp));
    }
    Writer w;
    w.u16(0);
    w.u16(1);  // icon
    w.u16(static_cast<std::uint32_t>(entries.size()));
    std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const IconFormat& format = ICON_IMAGES[i];
        w.u8(static_cast<std::uint8_t>(format.size == 256 ? 0 : format.size));
        w.u8(static_cast<std::uint8_t>(format.size == 256 ? 0 : format.size));
        w.u8(static_cast<std::uint8_t>(format.bpp == 4 ? 16 : 0));
        w.u8(0);
        w.u16(1);
        w.u16(static_cast<std::uint32_t>(format.bpp));
        w.u32(static_cast<std::uint32_t>(entries[i].size()));
        w.u32(offset);
        offset += static_cast<std::uint32_t>(entries[i].size());
    }
    for (const auto& entry : entries) {
        w.bytes.insert(w.bytes.end(), entry.begin(), entry.end());
    }
    return w.bytes;
}

bool writeFile(const char* path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s LOGO.bmp ICON.ico\n", argv[0]);
        return 2;
    }
    if (!writeFile(argv[1], logoBitmap(render(150)))) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
        return 1;
    }
    if (!writeFile(argv[2], iconFile())) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[2]);
        return 1;
    }
    return 0;
}
