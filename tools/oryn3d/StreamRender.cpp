// The streamed final render: a libvips operation whose output strips are rendered on demand from
// a window of source rows.
//
// The source is read once, top to bottom, as the strips ask for it (a sequential decoder allows
// nothing else): the thread that needs rows not yet read reads them, while the others render
// from rows already there. The rows live in a buffer of the whole image's size that only holds
// memory for the rows in use: once every output row that may still be asked for lies below the
// rows a strip of them can read, those rows are given back to the system. How far back a strip
// reads is the core's bound (sourceAreaFor), worked out for bands of output rows when the
// operation is built. libvips asks for each output pixel once, about in order; a strip that needs rows
// already given back fails with a message instead of reading them.
#include "tools/oryn3d/StreamRender.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

#include <vips/vips.h>

#include "engine/RenderArea.h"
#include "host/HostApi.h"
#include "plugin/FinalRender.h"
#include "tools/oryn3d/ToolHost.h"

namespace oryn {

namespace {

// Rows read from the source in one go by the thread that needs them.
constexpr int32_t ReadRows = 32;

// Output rows that share one source window bound.
constexpr int32_t BoundRows = 8;

// The rows of one source image in a mapping of the whole image's size: row y at y x rowBytes.
// Only the rows between `first` and `filled` (see SourceWindow) hold memory.
struct RowBuffer {
    uint8_t* base = nullptr;
    size_t rowBytes = 0;
    size_t mapped = 0;

    RowBuffer() = default;
    RowBuffer(const RowBuffer&) = delete;
    RowBuffer& operator=(const RowBuffer&) = delete;
    ~RowBuffer()
    {
        if (base != nullptr)
            munmap(base, mapped);
    }

    // Returns 0, or 1 when the address space cannot be had.
    int map(int32_t rows, size_t bytesPerRow)
    {
        const size_t page = size_t(sysconf(_SC_PAGESIZE));
        rowBytes = bytesPerRow;
        mapped = (size_t(rows) * rowBytes + page - 1) / page * page;
        if (mapped == 0)
            mapped = page;
        // Reserved, not committed: pages count only once rows are written into them.
        void* memory = mmap(nullptr, mapped, PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (memory == MAP_FAILED) {
            mapped = 0;
            return 1;
        }
        base = static_cast<uint8_t*>(memory);
        return 0;
    }

    uint8_t* row(int32_t y) const { return base + size_t(y) * rowBytes; }

    // Gives back the memory of rows [from, to): the whole pages among them.
    void release(int32_t from, int32_t to)
    {
        const size_t page = size_t(sysconf(_SC_PAGESIZE));
        const size_t begin = (size_t(from) * rowBytes + page - 1) / page * page;
        const size_t end = size_t(to) * rowBytes / page * page;
        if (end > begin)
            madvise(base + begin, end - begin, MADV_DONTNEED);
    }
};

// One thread's regions on the source and the mask.
struct Sequence {
    VipsRegion* source = nullptr;
    VipsRegion* mask = nullptr;
};

// Everything the operation's threads share for one render.
struct RenderState {
    RenderCall call;
    FilterRecord record; // haveMask and planes, for the engine
    ParamBlock block;
    ParamContext context;
    int32_t columns = 0, rows = 0, bands = 0;
    VipsImage* source = nullptr; // owned references
    VipsImage* mask = nullptr;
    HostImage host; // progress label and terminal choice
    std::shared_ptr<StreamOutcome> outcome;

    // Per output row: the source rows [rowLow, rowHigh) its pixels can read (empty when none),
    // and the lowest source row that it or any row below it can read.
    std::vector<int32_t> rowLow, rowHigh, keepFrom;

    RowBuffer pixels, maskPixels;

    std::mutex lock;
    std::mutex outcomeLock; // for `outcome`, which any thread may fill in
    std::condition_variable changed;
    int32_t first = 0;    // source rows below this were given back
    int32_t filled = 0;   // source rows [first, filled) are read
    bool reading = false; // a thread is reading rows
    bool failed = false;
    std::vector<int32_t> donePixels; // per output row: pixels rendered
    int32_t doneRows = 0;            // output rows [0, doneRows) are rendered
    int32_t reportedRows = -1;
    bool ownedByImage = false; // freed when the output image closes

    ~RenderState()
    {
        if (source != nullptr)
            g_object_unref(source);
        if (mask != nullptr)
            g_object_unref(mask);
    }
};

enum class Failure { Render, Source, Cancel };

// Records the first failure for the caller, and each for libvips. Any thread, with the state's
// lock held or not.
void fail(RenderState& state, Failure kind, const std::string& reason)
{
    {
        std::lock_guard<std::mutex> hold(state.outcomeLock);
        if (state.outcome->reason.empty()) {
            state.outcome->sourceFailed = kind == Failure::Source;
            state.outcome->cancelled = kind == Failure::Cancel;
            state.outcome->reason = reason;
        }
    }
    vips_error("oryn3d", "%s", reason.c_str());
}

// Copies source rows [from, to) into the row buffers. Returns 0, or 1 with libvips' error set.
int readRows(RenderState& state, Sequence& seq, int32_t from, int32_t to)
{
    VipsRect rect = {0, from, state.columns, to - from};
    if (vips_region_prepare(seq.source, &rect) != 0)
        return 1;
    const size_t bytes = size_t(state.columns) * size_t(state.bands);
    for (int32_t y = from; y < to; ++y)
        std::memcpy(state.pixels.row(y), VIPS_REGION_ADDR(seq.source, 0, y), bytes);
    if (seq.mask != nullptr) {
        if (vips_region_prepare(seq.mask, &rect) != 0)
            return 1;
        for (int32_t y = from; y < to; ++y)
            std::memcpy(state.maskPixels.row(y), VIPS_REGION_ADDR(seq.mask, 0, y),
                        size_t(state.columns));
    }
    return 0;
}

// Makes source rows [need.top, need.bottom) available: waits while another thread reads, or
// reads them itself. Returns 0, or 1 after recording the failure.
int acquireRows(RenderState& state, Sequence& seq, const PixelArea& need)
{
    std::unique_lock<std::mutex> hold(state.lock);
    for (;;) {
        if (state.failed)
            return 1;
        if (need.top < state.first) {
            state.failed = true;
            state.changed.notify_all();
            fail(state, Failure::Render, "the render asked for source rows it had already let go");
            return 1;
        }
        if (need.bottom <= state.filled)
            return 0;
        if (!state.reading)
            break;
        state.changed.wait(hold);
    }
    state.reading = true;
    while (state.filled < need.bottom) {
        const int32_t from = state.filled;
        const int32_t to = std::min(need.bottom, from + ReadRows);
        hold.unlock();
        const bool cancelled = cancelRequested();
        const int result = cancelled ? 1 : readRows(state, seq, from, to);
        hold.lock();
        if (result != 0) {
            state.failed = true;
            state.reading = false;
            state.changed.notify_all();
            if (cancelled) {
                fail(state, Failure::Cancel, "stopped");
            } else {
                std::string reason = vips_error_buffer();
                vips_error_clear();
                const size_t newline = reason.find('\n');
                if (newline != std::string::npos)
                    reason.erase(newline);
                const size_t colon = reason.find(": ");
                if (colon != std::string::npos && colon < 24)
                    reason.erase(0, colon + 2);
                fail(state, Failure::Source,
                     reason.empty() ? std::string("unknown reason") : reason);
            }
            return 1;
        }
        state.filled = to;
        state.changed.notify_all();
    }
    state.reading = false;
    state.changed.notify_all();
    return 0;
}

// Counts an output area as rendered, gives back the source rows no later strip can read, and
// reports progress.
void finishArea(RenderState& state, const VipsRect& area)
{
    int32_t done = -1;
    {
        std::lock_guard<std::mutex> hold(state.lock);
        for (int32_t y = area.top; y < area.top + area.height; ++y)
            state.donePixels[size_t(y)] += area.width;
        while (state.doneRows < state.rows &&
               state.donePixels[size_t(state.doneRows)] >= state.columns)
            ++state.doneRows;
        const int32_t keep = state.doneRows < state.rows
                                 ? std::min(state.keepFrom[size_t(state.doneRows)], state.filled)
                                 : state.filled;
        if (keep > state.first) {
            state.pixels.release(state.first, keep);
            if (state.mask != nullptr)
                state.maskPixels.release(state.first, keep);
            state.first = keep;
        }
        if (state.doneRows != state.reportedRows) {
            state.reportedRows = state.doneRows;
            done = state.doneRows;
            // Drawn under the lock: one thread at a time, in order.
            reportRenderProgress(state.host, done, state.rows);
        }
    }
}

void* startSequence(VipsImage* out, void* a, void*)
{
    RenderState& state = *static_cast<RenderState*>(a);
    Sequence* seq = new Sequence();
    seq->source = vips_region_new(state.source);
    if (state.mask != nullptr)
        seq->mask = vips_region_new(state.mask);
    (void)out;
    return seq;
}

int stopSequence(void* vseq, void*, void*)
{
    Sequence* seq = static_cast<Sequence*>(vseq);
    if (seq->source != nullptr)
        g_object_unref(seq->source);
    if (seq->mask != nullptr)
        g_object_unref(seq->mask);
    delete seq;
    return 0;
}

// Renders one output region from the source rows its rows can read.
int generateRegion(VipsRegion* out, void* vseq, void* a, void*, gboolean*)
{
    RenderState& state = *static_cast<RenderState*>(a);
    Sequence& seq = *static_cast<Sequence*>(vseq);
    const VipsRect& r = out->valid;
    if (cancelRequested()) {
        fail(state, Failure::Cancel, "stopped");
        return -1;
    }
    PixelArea need;
    need.top = state.rows;
    need.bottom = 0;
    for (int32_t y = r.top; y < r.top + r.height; ++y) {
        if (state.rowLow[size_t(y)] < state.rowHigh[size_t(y)]) {
            need.top = std::min(need.top, state.rowLow[size_t(y)]);
            need.bottom = std::max(need.bottom, state.rowHigh[size_t(y)]);
        }
    }
    need.left = 0;
    need.right = state.columns;
    if (need.empty()) {
        need = PixelArea();
    } else if (acquireRows(state, seq, need) != 0) {
        return -1;
    }

    PixelArea area;
    area.left = r.left, area.top = r.top;
    area.right = r.left + r.width, area.bottom = r.top + r.height;
    const int32_t srcRowBytes = int32_t(state.pixels.rowBytes);
    const uint8_t* src = need.empty() ? nullptr : state.pixels.row(need.top);
    const uint8_t* mask =
        state.mask != nullptr && !need.empty() ? state.maskPixels.row(need.top) : nullptr;
    const int32_t result =
        renderArea(&state.context, state.call, area, src, srcRowBytes, mask,
                   int32_t(state.maskPixels.rowBytes), need,
                   reinterpret_cast<uint8_t*>(VIPS_REGION_ADDR(out, r.left, r.top)),
                   int32_t(VIPS_REGION_LSKIP(out)));
    if (result != 0) {
        fail(state, Failure::Render, "the render needed source rows beyond the ones it had read");
        return -1;
    }
    finishArea(state, r);
    return 0;
}

void freeState(VipsImage*, gpointer data)
{
    delete static_cast<RenderState*>(data);
}

// The operation "oryn3d_render": in (the source), optional mask, out, and the render's state
// made by startStreamRender.
struct OrynRender {
    VipsOperation parent_instance;
    VipsImage* in;
    VipsImage* mask;
    VipsImage* out;
    void* state;
};

struct OrynRenderClass {
    VipsOperationClass parent_class;
};

} // namespace

extern "C" {
G_DEFINE_TYPE(OrynRender, oryn_render, VIPS_TYPE_OPERATION)
}

namespace {

int buildRender(VipsObject* object)
{
    OrynRender* op = reinterpret_cast<OrynRender*>(object);
    if (VIPS_OBJECT_CLASS(oryn_render_parent_class)->build(object) != 0)
        return -1;
    RenderState* state = static_cast<RenderState*>(op->state);
    g_object_set(object, "out", vips_image_new(), nullptr);
    VipsImage* inputs[3] = {op->in, op->mask, nullptr};
    if (vips_image_pio_input(op->in) != 0 ||
        (op->mask != nullptr && vips_image_pio_input(op->mask) != 0))
        return -1;
    if (vips_image_pipeline_array(op->out, VIPS_DEMAND_STYLE_FATSTRIP, inputs) != 0)
        return -1;
    op->out->Bands = state->bands;
    op->out->BandFmt = VIPS_FORMAT_UCHAR;
    // The output carries no field of the source: the caller sets what the file keeps (the
    // source's EXIF, with a thumbnail of the unfiltered picture, must not come along).
    gchar** names = vips_image_get_fields(op->out);
    for (int i = 0; names[i] != nullptr; ++i)
        vips_image_remove(op->out, names[i]);
    g_strfreev(names);
    if (vips_image_generate(op->out, startSequence, generateRegion, stopSequence, state, nullptr) !=
        0)
        return -1;
    // The state goes with the output image; every thread has stopped before it closes.
    g_signal_connect(op->out, "close", G_CALLBACK(freeState), state);
    state->ownedByImage = true;
    return 0;
}

} // namespace

extern "C" {

static void oryn_render_class_init(OrynRenderClass* klass)
{
    GObjectClass* gobjectClass = G_OBJECT_CLASS(klass);
    VipsObjectClass* objectClass = VIPS_OBJECT_CLASS(klass);
    VipsOperationClass* operationClass = VIPS_OPERATION_CLASS(klass);
    gobjectClass->set_property = vips_object_set_property;
    gobjectClass->get_property = vips_object_get_property;
    objectClass->nickname = "oryn3d_render";
    objectClass->description = "the relief render of oryn3d, made in strips on demand";
    objectClass->build = buildRender;
    // The source is read top to bottom; the state pointer makes every call its own.
    operationClass->flags = VipsOperationFlags(VIPS_OPERATION_SEQUENTIAL | VIPS_OPERATION_NOCACHE);
    VIPS_ARG_IMAGE(klass, "in", 1, "Input", "Source image", VIPS_ARGUMENT_REQUIRED_INPUT,
                   G_STRUCT_OFFSET(OrynRender, in));
    VIPS_ARG_IMAGE(klass, "out", 2, "Output", "Rendered image", VIPS_ARGUMENT_REQUIRED_OUTPUT,
                   G_STRUCT_OFFSET(OrynRender, out));
    VIPS_ARG_POINTER(klass, "state", 3, "State", "The render's shared state",
                     VIPS_ARGUMENT_REQUIRED_INPUT, G_STRUCT_OFFSET(OrynRender, state));
    VIPS_ARG_IMAGE(klass, "mask", 4, "Mask", "Selection, one band", VIPS_ARGUMENT_OPTIONAL_INPUT,
                   G_STRUCT_OFFSET(OrynRender, mask));
}

static void oryn_render_init(OrynRender* op)
{
    op->in = nullptr;
    op->mask = nullptr;
    op->out = nullptr;
    op->state = nullptr;
}

} // extern "C"

namespace {

void setColor(FilterColor& color, RGBColor& wide, uint32_t word)
{
    for (int i = 0; i < 3; ++i)
        color[i] = static_cast<uint8_t>(word >> (8 * i));
    color[3] = 0xFF;
    wide.red = static_cast<uint16_t>(color[0] * 257);
    wide.green = static_cast<uint16_t>(color[1] * 257);
    wide.blue = static_cast<uint16_t>(color[2] * 257);
}

} // namespace

int16_t startStreamRender(const HostImage& host, VipsImage* source, VipsImage* mask,
                          ParamBlock& block, VipsImage** out,
                          std::shared_ptr<StreamOutcome>& outcome)
{
    *out = nullptr;
    outcome = std::make_shared<StreamOutcome>();
    std::unique_ptr<RenderState> state(new RenderState());
    RenderState& s = *state;
    s.columns = vips_image_get_width(source);
    s.rows = vips_image_get_height(source);
    s.bands = vips_image_get_bands(source);
    // The record a host gives for this image: the run set-up reads its size, planes and colours.
    std::memset(&s.record, 0, sizeof s.record);
    s.record.imageSize.h = static_cast<int16_t>(s.columns);
    s.record.imageSize.v = static_cast<int16_t>(s.rows);
    s.record.planes = static_cast<int16_t>(s.bands);
    s.record.haveMask = mask != nullptr ? 1 : 0;
    setColor(s.record.foreColor, s.record.foreground, host.foreColor);
    setColor(s.record.backColor, s.record.background, host.backColor);
    const RunSetup setup = setupRun(s.record, block, 0);
    if (setup.planesUsed < 1 ||
        finalRenderCall(block, setup, s.columns, s.rows, s.record.planes, s.call) != noErr)
        return filterBadMode;
    s.block = block;
    s.context = ParamContext{&s.block, &s.record};
    s.host.foreColor = host.foreColor;
    s.host.backColor = host.backColor;
    s.host.showProgress = host.showProgress;
    s.host.progressLabel = host.progressLabel;
    s.outcome = outcome;

    s.rowLow.assign(size_t(s.rows), 0);
    s.rowHigh.assign(size_t(s.rows), 0);
    s.keepFrom.assign(size_t(s.rows) + 1, s.rows);
    // Worked out for bands of BoundRows rows, each row taking its band's window: a little wider
    // than a row's own, and much quicker to find for a tall image.
    for (int32_t y0 = 0; y0 < s.rows; y0 += BoundRows) {
        PixelArea band;
        band.left = 0, band.top = y0, band.right = s.columns;
        band.bottom = std::min(s.rows, y0 + BoundRows);
        const PixelArea need = sourceAreaFor(s.call, band);
        for (int32_t y = y0; y < band.bottom; ++y) {
            s.rowLow[size_t(y)] = need.empty() ? s.rows : need.top;
            s.rowHigh[size_t(y)] = need.empty() ? 0 : need.bottom;
        }
    }
    for (int32_t y = s.rows - 1; y >= 0; --y)
        s.keepFrom[size_t(y)] = std::min(s.keepFrom[size_t(y) + 1], s.rowLow[size_t(y)]);
    s.donePixels.assign(size_t(s.rows), 0);
    if (s.pixels.map(s.rows, size_t(s.columns) * size_t(s.bands)) != 0 ||
        (mask != nullptr && s.maskPixels.map(s.rows, size_t(s.columns)) != 0))
        return memFullErr;
    g_object_ref(source);
    s.source = source;
    if (mask != nullptr) {
        g_object_ref(mask);
        s.mask = mask;
    }

    VipsOperation* op = VIPS_OPERATION(g_object_new(oryn_render_get_type(), nullptr));
    g_object_set(op, "in", source, "state", static_cast<void*>(state.get()), nullptr);
    if (mask != nullptr)
        g_object_set(op, "mask", mask, nullptr);
    if (vips_cache_operation_buildp(&op) != 0) {
        // The state is ours unless the operation got as far as handing it to its output.
        if (state->ownedByImage)
            state.release();
        vips_object_unref_outputs(VIPS_OBJECT(op));
        g_object_unref(op);
        return memFullErr;
    }
    state.release(); // owned by the output image now
    g_object_get(op, "out", out, nullptr);
    vips_object_unref_outputs(VIPS_OBJECT(op));
    g_object_unref(op);
    return noErr;
}

} // namespace oryn
