// Shared helpers of the oryn3d end-to-end tests: image files, the core called directly, and the
// fixture that runs the tool.
#include "tests/cli/CliTestSupport.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

#include "plugin/FinalRender.h"
#include "ui/PreviewRender.h"

namespace oryn {

namespace {

// libvips for the whole test binary.
class VipsEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        ASSERT_EQ(VIPS_INIT("Oryn3dCliTest"), 0);
        // Files are rewritten under the same name; a cached load would return the old image.
        vips_cache_set_max(0);
    }
    void TearDown() override { vips_shutdown(); }
};
const auto* const vipsEnvironment = ::testing::AddGlobalTestEnvironment(new VipsEnvironment);

// A host for calling the core directly: the whole image in, a copy of it out.
struct DirectHost {
    FilterRecord record{};
    Pixels in;
    std::vector<uint8_t> out;
    const Pixels* mask;
    static DirectHost* active;

    DirectHost(const Pixels& image, const Pixels* mask, uint32_t fore, uint32_t back)
        : in(image), out(image.data), mask(mask)
    {
        record.imageSize.v = int16_t(image.height);
        record.imageSize.h = int16_t(image.width);
        record.planes = int16_t(image.bands);
        record.haveMask = mask != nullptr;
        for (int i = 0; i < 3; ++i) {
            record.foreColor[i] = uint8_t(fore >> (8 * i));
            record.backColor[i] = uint8_t(back >> (8 * i));
        }
        record.foreColor[3] = record.backColor[3] = 0xFF;
        record.advanceState = &advance;
        active = this;
    }
    ~DirectHost() { active = nullptr; }

    static OSErr advance()
    {
        FilterRecord& r = active->record;
        r.inData = active->in.data.data();
        r.outData = active->out.data();
        r.inRowBytes = r.outRowBytes = active->in.width * active->in.bands;
        r.maskData =
            active->mask != nullptr ? const_cast<uint8_t*>(active->mask->data.data()) : nullptr;
        r.maskRowBytes = active->in.width;
        return noErr;
    }
};
DirectHost* DirectHost::active = nullptr;

int32_t neverStop(const ParamContext*, int32_t, int32_t)
{
    return 0;
}

} // namespace

Pixels pattern(int width, int height, int bands)
{
    Pixels p{width, height, bands, std::vector<uint8_t>(size_t(width) * height * bands)};
    size_t at = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int b = 0; b < bands; ++b) {
                uint32_t grain = (uint32_t(x) * 73856093u ^ uint32_t(y) * 19349663u) >> 27;
                int v = b == 3 ? (x * 255 / width + y) % 256 : (x * (b + 1) + y * (3 - b)) % 224;
                p.data[at++] = uint8_t(v + int(grain));
            }
    return p;
}

void writeImage(const std::string& path, const Pixels& p,
                const std::function<void(VipsImage*)>& decorate, const std::vector<uint16_t>* wide)
{
    ImageRef memory;
    if (wide != nullptr)
        memory.image = vips_image_new_from_memory(wide->data(), wide->size() * 2, p.width, p.height,
                                                  p.bands, VIPS_FORMAT_USHORT);
    else
        memory.image = vips_image_new_from_memory(p.data.data(), p.data.size(), p.width, p.height,
                                                  p.bands, VIPS_FORMAT_UCHAR);
    ASSERT_NE(memory.image, nullptr);
    ImageRef out;
    VipsInterpretation kind = p.bands < 3
                                  ? (wide ? VIPS_INTERPRETATION_GREY16 : VIPS_INTERPRETATION_B_W)
                                  : (wide ? VIPS_INTERPRETATION_RGB16 : VIPS_INTERPRETATION_sRGB);
    ASSERT_EQ(vips_copy(memory.image, &out.image, "interpretation", kind, nullptr), 0);
    if (decorate)
        decorate(out.image);
    ASSERT_EQ(vips_image_write_to_file(out.image, path.c_str(), nullptr), 0) << vips_error_buffer();
}

Pixels readImage(const std::string& path)
{
    ImageRef in;
    in.image = vips_image_new_from_file(path.c_str(), nullptr);
    Pixels p;
    if (in.image == nullptr || vips_image_get_format(in.image) != VIPS_FORMAT_UCHAR)
        return p;
    size_t size = 0;
    void* bytes = vips_image_write_to_memory(in.image, &size);
    p.width = vips_image_get_width(in.image);
    p.height = vips_image_get_height(in.image);
    p.bands = vips_image_get_bands(in.image);
    p.data.assign(static_cast<uint8_t*>(bytes), static_cast<uint8_t*>(bytes) + size);
    g_free(bytes);
    return p;
}

std::string readBytes(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void writeBytes(const std::string& path, const void* bytes, size_t size)
{
    std::ofstream(path, std::ios::binary)
        .write(static_cast<const char*>(bytes), std::streamsize(size));
}

ParamBlock readBlock(const std::string& path)
{
    ParamBlock block{};
    const std::string bytes = readBytes(path);
    EXPECT_EQ(bytes.size(), sizeof block) << path;
    std::memcpy(&block, bytes.data(), std::min(bytes.size(), sizeof block));
    return block;
}

Pixels directRender(const Pixels& image, ParamBlock block, const Pixels* mask, uint32_t fore,
                    uint32_t back)
{
    DirectHost host(image, mask, fore, back);
    EXPECT_EQ(replayBlock(&host.record, block), noErr);
    return Pixels{image.width, image.height, image.bands, host.out};
}

Pixels directPreview(const Pixels& image, ParamBlock block)
{
    DirectHost host(image, nullptr, Black, White);
    const RunSetup setup = setupRun(host.record, block, 0);
    ControlState c{};
    for (int i = 0; i < PadCount; ++i) {
        c.padX[i] = block.padX[i];
        c.padY[i] = block.padY[i];
    }
    c.faceMode = faceModeOf(block);
    c.stretchDouble = stretchDoubleOf(block);
    c.antialias = block.antialias;
    c.currentMode = setup.currentMode;
    c.pickerColor = setup.pickerColor;
    c.resolvedColor = setup.resolvedColor;
    auto buffers = std::make_unique<PreviewBuffers>();
    PreviewArea area{};
    EXPECT_EQ(previewTransfer(&host.record, setup.planesUsed, setup.imageScale, *buffers, area),
              noErr);
    ParamContext context{&block, &host.record};
    EXPECT_EQ(previewRender(&context, c, area, *buffers, neverStop), 0);
    Pixels rgb{PreviewSize, PreviewSize, 3, std::vector<uint8_t>(PreviewSize * PreviewRowBytes)};
    for (size_t i = 0; i < rgb.data.size(); i += 3) {
        rgb.data[i] = buffers->previewImage[i + 2];
        rgb.data[i + 1] = buffers->previewImage[i + 1];
        rgb.data[i + 2] = buffers->previewImage[i];
    }
    return rgb;
}

int statusOf(int waitStatus)
{
    return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
}

std::vector<char*> argvOf(const std::string& program, std::vector<std::string>& args)
{
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    return argv;
}

void Oryn3dTest::SetUp()
{
    std::string pattern = (fs::temp_directory_path() / "oryn3d-cli-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root = pattern;
    dir = root + "/work";
    config = root + "/config";
    fs::create_directory(dir);
    // The tool creates its own folder under it; the base exists, as it does on a real system.
    fs::create_directory(config);
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
}

void Oryn3dTest::TearDown()
{
    unsetenv("XDG_CONFIG_HOME");
    fs::remove_all(root);
}

std::vector<std::string> Oryn3dTest::files() const
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string toolPath()
{
    const char* other = std::getenv("ORYN3D_UNDER_TEST");
    return other != nullptr && other[0] != '\0' ? std::string(other) : std::string(ORYN3D_PATH);
}

pid_t Oryn3dTest::start(const std::string& program, std::vector<std::string> args,
                        const std::string& streams, const std::string& input)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, input.empty() ? "/dev/null" : input.c_str(),
                                     O_RDONLY, 0);
    const std::string base = root + "/" + (streams.empty() ? std::string("std") : streams);
    const std::string outPath = base + "out";
    const std::string errPath = base + "err";
    const int flags = O_WRONLY | O_CREAT | O_TRUNC;
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), flags, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), flags, 0644);
    std::vector<char*> argv = argvOf(program, args);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

ToolRun Oryn3dTest::finish(pid_t pid, const std::string& streams)
{
    ToolRun run;
    int waitStatus = 0;
    struct rusage usage {};
    if (pid > 0 && wait4(pid, &waitStatus, 0, &usage) == pid) {
        run.status = statusOf(waitStatus);
        run.maxRssKiB = usage.ru_maxrss;
    }
    const std::string base = root + "/" + (streams.empty() ? std::string("std") : streams);
    run.out = readBytes(base + "out");
    run.err = readBytes(base + "err");
    return run;
}

ParamBlock Oryn3dTest::renderOk(const std::string& input, const std::string& output,
                                std::vector<std::string> extra, const char* command)
{
    std::vector<std::string> args = {command,      path(input),    "-o",
                                     path(output), "--save-block", path(output + ".blk")};
    args.insert(args.end(), extra.begin(), extra.end());
    const ToolRun run = tool(args);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const ParamBlock block = readBlock(path(output + ".blk"));
    fs::remove(path(output + ".blk"));
    return block;
}

void Oryn3dTest::expectRefused(const std::vector<std::string>& args, const std::string& subject)
{
    const std::vector<std::string> before = files();
    const ToolRun run = tool(args);
    const std::string shown = ::testing::PrintToString(args);
    EXPECT_NE(run.status, 0) << shown;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << shown << run.err;
    EXPECT_NE(run.err.find(subject), std::string::npos) << shown << run.err;
    EXPECT_EQ(files(), before) << shown;
}

} // namespace oryn
