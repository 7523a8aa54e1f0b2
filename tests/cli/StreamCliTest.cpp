// oryn3d's streamed render: the output, made in strips from a window of source rows
// that is read once and given back as it goes, is the whole-image render byte for byte; a source
// that ends early is reported and leaves nothing behind.
#include "CliTestSupport.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

#include "tools/oryn3d/ToolHost.h"

namespace oryn {
namespace {

// Images tall enough for many of libvips' strips and buffers, so that source rows are given
// back many times during the render, with the settings whose windows reach furthest: the largest
// and smallest source scale (full stretch with x2, both ways), large cells, and a selection.
TEST_F(Oryn3dTest, StreamedRenderIsTheWholeRenderByteForByte)
{
    const Pixels rgb = pattern(733, 1213, 3);
    const Pixels rgba = pattern(521, 977, 4);
    writeImage(path("rgb.tif"), rgb);
    writeImage(path("rgba.png"), rgba);
    Pixels mask = pattern(733, 1213, 1);
    for (size_t i = 0; i < mask.data.size(); ++i)
        mask.data[i] = uint8_t(i % 1900 < 700 ? 255 : i % 1900 < 1200 ? mask.data[i] : 0);
    writeImage(path("mask.png"), mask);

    struct Case {
        std::vector<std::string> args;
        bool alpha = false;
        bool masked = false;
    };
    const std::vector<Case> cases = {
        {{}},
        {{"--threads", "1"}},
        {{"--threads", "3", "--preset", "Front Bricks"}},
        {{"--stretch", "0,50", "--x2", "--cell-width", "40", "--cell-height", "30"}},
        {{"--stretch", "50,0", "--x2", "--threads", "2"}},
        {{"--stretch", "0,0", "--x2", "--cell-width", "7", "--cell-height", "5"}},
        {{"--stretch", "50,50", "--x2", "--no-antialias"}},
        {{"--cell-width", "300", "--cell-height", "300", "--stretch", "10,40"}},
        {{"--preset", "Herring-Bone", "--mask", path("mask.png")}, false, true},
        {{"--preset", "Roof", "--mask", path("mask.png"), "--no-antialias", "--threads", "1"},
         false,
         true},
        {{"--preset", "Jabot", "--background", "transparent"}, true},
        {{"--preset", "Gutters", "--stretch", "5,45", "--x2"}, true},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string output = "out" + std::to_string(n++) + ".png";
        const ParamBlock block = renderOk(c.alpha ? "rgba.png" : "rgb.tif", output, c.args);
        const Pixels& image = c.alpha ? rgba : rgb;
        EXPECT_EQ(readImage(path(output)), directRender(image, block, c.masked ? &mask : nullptr))
            << ::testing::PrintToString(c.args);
    }
    // Standard output gets the same bytes, written only once the render is complete.
    const ToolRun piped = tool({"render", path("rgb.tif"), "-o", "-", "--format", "png",
                                "--save-block", path("piped.oryn")});
    ASSERT_EQ(piped.status, 0) << piped.err;
    writeBytes(path("piped.png"), piped.out.data(), piped.out.size());
    EXPECT_EQ(readImage(path("piped.png")), directRender(rgb, readBlock(path("piped.oryn"))));
}

// A JPEG cut off in the middle fails while it is being rendered: one line that names the input,
// exit status 1, and no output file, also no temporary one.
TEST_F(Oryn3dTest, SourceEndingEarlyIsReportedAndLeavesNothing)
{
    writeImage(path("whole.jpg"), pattern(900, 1400, 3));
    const std::string bytes = readBytes(path("whole.jpg"));
    writeBytes(path("cut.jpg"), bytes.data(), bytes.size() / 2);
    const std::vector<std::string> before = files();
    const ToolRun run = tool({"render", path("cut.jpg"), "-o", path("out.jpg")});
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_NE(run.err.find("cut.jpg: the image data is damaged or incomplete"), std::string::npos)
        << run.err;
    EXPECT_EQ(files(), before);
}

// The bound on what is read from standard input, with a small limit in place of the tool's
// 1 GiB: a stream of exactly the limit is read whole; one byte more, or a writer that never
// stops, ends with the message and nothing kept. The writer runs in a thread of its own and
// stops when the reading side is closed.
TEST(StreamInput, ReadingStopsJustPastTheLimit)
{
    constexpr size_t Limit = size_t(1) << 20;
    constexpr size_t Endless = SIZE_MAX;
    // A writer of `total` bytes (or Endless); returns what readStream returned.
    auto readFrom = [&](size_t total, std::string& bytes, std::string& error) {
        int ends[2];
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
        std::thread writer([fd = ends[1], total] {
            std::vector<char> chunk(40000);
            for (size_t i = 0; i < chunk.size(); ++i)
                chunk[i] = char(i * 7);
            size_t sent = 0;
            while (sent < total) {
                const size_t size = std::min(chunk.size(), total - sent);
                const ssize_t put = send(fd, chunk.data(), size, MSG_NOSIGNAL);
                if (put <= 0)
                    break;
                sent += size_t(put);
            }
            close(fd);
        });
        const int status = readStream(ends[0], Limit, bytes, error);
        close(ends[0]);
        writer.join();
        return status;
    };

    std::string bytes;
    std::string error;
    EXPECT_EQ(readFrom(Limit, bytes, error), 0) << error;
    ASSERT_EQ(bytes.size(), Limit);
    for (size_t i : {size_t(0), size_t(39999), size_t(40000), Limit - 1})
        EXPECT_EQ(bytes[i], char((i % 40000) * 7)) << i;

    for (const size_t total : {Limit + 1, Endless}) {
        bytes = "left over";
        error.clear();
        EXPECT_EQ(readFrom(total, bytes, error), 1) << total;
        EXPECT_EQ(error, "standard input goes on past 1 MiB, the most read from a stream; give "
                         "the image as a file instead");
        EXPECT_TRUE(bytes.empty());
    }

    EXPECT_EQ(readFrom(0, bytes, error), 1);
    EXPECT_EQ(error, "standard input is empty");
}

} // namespace
} // namespace oryn
