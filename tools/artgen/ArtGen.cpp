// Build-time generator of the module's pictures: turns the text pictures in resources/art into
// GShadingStrip.bmp (bitmap 119, 4 bits per pixel, standard 16-colour palette) and HandCursor.cur
// (cursor 104, 32 x 32 monochrome). Runs on the build machine, also in cross builds.
//   artgen STRIP.txt CURSOR.txt OUTPUT_DIR
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void put16(Bytes& out, uint32_t v)
{
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}
void put32(Bytes& out, uint32_t v)
{
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

// BITMAPINFOHEADER without compression.
void putInfoHeader(Bytes& out, int32_t width, int32_t height, int bits, uint32_t imageBytes,
                   uint32_t coloursUsed)
{
    put32(out, 40);
    put32(out, uint32_t(width));
    put32(out, uint32_t(height));
    put16(out, 1);
    put16(out, uint32_t(bits));
    put32(out, 0);
    put32(out, imageBytes);
    put32(out, 0);
    put32(out, 0);
    put32(out, coloursUsed);
    put32(out, 0);
}

// The picture lines of a file: everything but empty lines and "//" comments.
bool readArt(const char* path, std::vector<std::string>& rows)
{
    std::ifstream in(path);
    if (!in) {
        std::fprintf(stderr, "artgen: cannot read %s\n", path);
        return false;
    }
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line.rfind("//", 0) == 0)
            continue;
        rows.push_back(line);
    }
    return true;
}

bool writeFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out) {
        std::fprintf(stderr, "artgen: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

// The standard 16-colour palette as red, green, blue.
const uint8_t Palette[16][3] = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                                {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                                {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                                {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};

int stripIndex(char letter)
{
    switch (letter) {
    case 'K':
        return 0;
    case 'o':
        return 3;
    case 's':
        return 7;
    case 'W':
        return 15;
    default:
        return -1;
    }
}

// A .bmp file: file header, info header, palette, bottom-up rows padded to 4 bytes.
bool makeStrip(const char* path, const std::string& out)
{
    std::vector<std::string> rows;
    if (!readArt(path, rows))
        return false;
    const int32_t height = int32_t(rows.size());
    const int32_t width = height > 0 ? int32_t(rows[0].size()) : 0;
    if (width != 54 || height != 18) {
        std::fprintf(stderr, "artgen: %s is %d x %d, expected 54 x 18\n", path, width, height);
        return false;
    }
    const uint32_t rowBytes = uint32_t((width * 4 + 31) / 32 * 4);
    const uint32_t imageBytes = rowBytes * uint32_t(height);
    const uint32_t offset = 14 + 40 + 16 * 4;
    Bytes bytes;
    bytes.push_back('B');
    bytes.push_back('M');
    put32(bytes, offset + imageBytes);
    put32(bytes, 0);
    put32(bytes, offset);
    putInfoHeader(bytes, width, height, 4, imageBytes, 16);
    for (const auto& c : Palette) {
        bytes.push_back(c[2]);
        bytes.push_back(c[1]);
        bytes.push_back(c[0]);
        bytes.push_back(0);
    }
    for (int32_t y = height - 1; y >= 0; --y) {
        const std::string& row = rows[size_t(y)];
        if (int32_t(row.size()) != width) {
            std::fprintf(stderr, "artgen: %s: row %d has %zu pixels\n", path, y, row.size());
            return false;
        }
        Bytes packed(rowBytes, 0);
        for (int32_t x = 0; x < width; ++x) {
            const int index = stripIndex(row[size_t(x)]);
            if (index < 0) {
                std::fprintf(stderr, "artgen: %s: unknown letter at %d,%d\n", path, x, y);
                return false;
            }
            packed[size_t(x / 2)] |= uint8_t(x % 2 == 0 ? index << 4 : index);
        }
        bytes.insert(bytes.end(), packed.begin(), packed.end());
    }
    return writeFile(out, bytes);
}

// A .cur file with one 32 x 32 image: the XOR (colour) mask over the AND (transparency) mask.
bool makeCursor(const char* path, const std::string& out)
{
    std::vector<std::string> rows;
    if (!readArt(path, rows))
        return false;
    if (rows.size() > 32) {
        std::fprintf(stderr, "artgen: %s has more than 32 rows\n", path);
        return false;
    }
    Bytes xorMask(128, 0), andMask(128, 0);
    int hotX = -1, hotY = -1;
    for (int y = 0; y < 32; ++y) {
        const std::string row = y < int(rows.size()) ? rows[size_t(y)] : std::string();
        if (row.size() > 32) {
            std::fprintf(stderr, "artgen: %s: row %d is wider than 32\n", path, y);
            return false;
        }
        for (int x = 0; x < 32; ++x) {
            const char letter = x < int(row.size()) ? row[size_t(x)] : '.';
            const size_t at = size_t((31 - y) * 4 + x / 8);
            const uint8_t bit = uint8_t(0x80 >> (x % 8));
            if (letter == '.') {
                andMask[at] |= bit;
            } else if (letter == 'o') {
                xorMask[at] |= bit;
            } else if (letter != '#' && letter != '*') {
                std::fprintf(stderr, "artgen: %s: unknown letter at %d,%d\n", path, x, y);
                return false;
            }
            if (letter == '*') {
                hotX = x;
                hotY = y;
            }
        }
    }
    if (hotX < 0) {
        std::fprintf(stderr, "artgen: %s has no hot spot '*'\n", path);
        return false;
    }
    Bytes image;
    putInfoHeader(image, 32, 64, 1, 256, 2);
    put32(image, 0x000000);
    put32(image, 0xFFFFFF);
    image.insert(image.end(), xorMask.begin(), xorMask.end());
    image.insert(image.end(), andMask.begin(), andMask.end());

    Bytes bytes;
    put16(bytes, 0); // reserved
    put16(bytes, 2); // cursor
    put16(bytes, 1); // one image
    bytes.push_back(32);
    bytes.push_back(32);
    bytes.push_back(2); // colours
    bytes.push_back(0);
    put16(bytes, uint32_t(hotX));
    put16(bytes, uint32_t(hotY));
    put32(bytes, uint32_t(image.size()));
    put32(bytes, 6 + 16);
    bytes.insert(bytes.end(), image.begin(), image.end());
    return writeFile(out, bytes);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: artgen STRIP.txt CURSOR.txt OUTPUT_DIR\n");
        return 2;
    }
    const std::string dir = argv[3];
    return makeStrip(argv[1], dir + "/GShadingStrip.bmp") &&
                   makeCursor(argv[2], dir + "/HandCursor.cur")
               ? 0
               : 1;
}
