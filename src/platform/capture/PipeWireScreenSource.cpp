#include "platform/capture/PipeWireScreenSource.h"

#include "base/Diag.h"
#include "platform/capture/RecorderError.h"

#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <spa/utils/result.h>

#include <linux/dma-buf.h>
#include <sys/ioctl.h>
#include <sys/mman.h>

#include <cstring>
#include <optional>
#include <vector>

namespace {
constexpr int64_t kConnectTimeoutNs = 5'000'000'000;
constexpr int64_t kLinearModifier = 0; // DRM_FORMAT_MOD_LINEAR

void initPipeWire()
{
    static std::once_flag once;
    std::call_once(once, [] { pw_init(nullptr, nullptr); });
}

[[noreturn]] void refuse(const QString &text)
{
    throw RecorderError::failed(text);
}

const QString kUnreachable = QStringLiteral("PipeWire could not be reached, so the screen cannot be recorded.");

// A DMA-BUF mapped for reading while one picture is copied out of it.
class DmaBufRead {
public:
    DmaBufRead(int fd, size_t length) : m_fd(fd), m_length(length)
    {
        void *address = mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, 0);
        if (address == MAP_FAILED)
            return;
        m_address = static_cast<uint8_t *>(address);
        dma_buf_sync sync{DMA_BUF_SYNC_START | DMA_BUF_SYNC_READ};
        ioctl(m_fd, DMA_BUF_IOCTL_SYNC, &sync);
    }
    ~DmaBufRead()
    {
        if (!m_address)
            return;
        dma_buf_sync sync{DMA_BUF_SYNC_END | DMA_BUF_SYNC_READ};
        ioctl(m_fd, DMA_BUF_IOCTL_SYNC, &sync);
        munmap(m_address, m_length);
    }
    DmaBufRead(const DmaBufRead &) = delete;
    DmaBufRead &operator=(const DmaBufRead &) = delete;
    const uint8_t *data() const { return m_address; }

private:
    int m_fd;
    size_t m_length;
    uint8_t *m_address = nullptr;
};
} // namespace

// PipeWire's C callbacks; they run on the loop thread with its lock held.
struct PipeWireScreenSource::Listeners {
    spa_hook core{};
    spa_hook registry{};
    spa_hook stream{};
    int syncSeq = 0;

    static PipeWireScreenSource *self(void *data) { return static_cast<PipeWireScreenSource *>(data); }

    static void coreDone(void *data, uint32_t id, int seq)
    {
        PipeWireScreenSource *source = self(data);
        if (id == PW_ID_CORE && seq == source->m_listeners->syncSeq) {
            source->m_synced = true;
            pw_thread_loop_signal(source->m_loop.get(), false);
        }
    }
    static void coreError(void *data, uint32_t id, int, int res, const char *message)
    {
        PipeWireScreenSource *source = self(data);
        Diag::log(QStringLiteral("pipewire error on %1: %2 (%3)").arg(id).arg(QString::fromUtf8(message)).arg(res));
        if (id != PW_ID_CORE)
            return;
        source->m_coreLost = true;
        pw_thread_loop_signal(source->m_loop.get(), false);
        if (source->watching())
            source->fail(QStringLiteral("The connection to PipeWire was lost during the recording."));
    }
    static void global(void *data, uint32_t id, uint32_t, const char *type, uint32_t, const spa_dict *)
    {
        PipeWireScreenSource *source = self(data);
        if (id == source->m_nodeId && std::strcmp(type, PW_TYPE_INTERFACE_Node) == 0)
            source->m_nodeSeen = true;
    }
    static void globalRemove(void *data, uint32_t id)
    {
        // The node goes when the desktop ends the sharing; the stream alone
        // would only pause.
        PipeWireScreenSource *source = self(data);
        if (id != source->m_nodeId)
            return;
        source->m_nodeSeen = false;
        if (source->watching())
            source->fail(QStringLiteral("The desktop stopped sharing the screen during the recording."));
    }
    static void streamState(void *data, pw_stream_state, pw_stream_state state, const char *error)
    {
        self(data)->onStateChanged(state, error);
    }
    static void streamParam(void *data, uint32_t id, const spa_pod *param) { self(data)->onParamChanged(id, param); }
    static void streamProcess(void *data) { self(data)->onProcess(); }
    static void timer(void *data, uint64_t) { self(data)->onTimer(); }

    static const pw_core_events coreEvents;
    static const pw_registry_events registryEvents;
    static const pw_stream_events streamEvents;
};

const pw_core_events PipeWireScreenSource::Listeners::coreEvents = {
    .version = PW_VERSION_CORE_EVENTS,
    .done = &coreDone,
    .error = &coreError,
};
const pw_registry_events PipeWireScreenSource::Listeners::registryEvents = {
    .version = PW_VERSION_REGISTRY_EVENTS,
    .global = &global,
    .global_remove = &globalRemove,
};
const pw_stream_events PipeWireScreenSource::Listeners::streamEvents = {
    .version = PW_VERSION_STREAM_EVENTS,
    .state_changed = &streamState,
    .param_changed = &streamParam,
    .process = &streamProcess,
};

PipeWireScreenSource::PipeWireScreenSource(UniqueFd remote, uint32_t nodeId)
    : m_listeners(std::make_unique<Listeners>()), m_nodeId(nodeId)
{
    initPipeWire();
    if (!remote.valid())
        refuse(kUnreachable);
    m_loop.reset(pw_thread_loop_new("mivra-screen", nullptr));
    if (!m_loop)
        refuse(kUnreachable);
    m_context.reset(pw_context_new(pw_thread_loop_get_loop(m_loop.get()), nullptr, 0));
    if (!m_context || pw_thread_loop_start(m_loop.get()) < 0)
        refuse(kUnreachable);
    m_loopRunning.loop = m_loop.get();

    PwLoopLock lock(m_loop.get());
    m_core.reset(pw_context_connect_fd(m_context.get(), remote.release(), nullptr, 0));
    if (!m_core)
        refuse(kUnreachable);
    pw_core_add_listener(m_core.get(), &m_listeners->core, &Listeners::coreEvents, this);
    m_registry.reset(pw_core_get_registry(m_core.get(), PW_VERSION_REGISTRY, 0));
    if (!m_registry)
        refuse(kUnreachable);
    pw_registry_add_listener(m_registry.get(), &m_listeners->registry, &Listeners::registryEvents, this);
    // The registry lists every global before the sync comes back, so the
    // node is known to exist (or not) before recording starts.
    m_listeners->syncSeq = pw_core_sync(m_core.get(), PW_ID_CORE, 0);
    timespec deadline{};
    pw_thread_loop_get_time(m_loop.get(), &deadline, kConnectTimeoutNs);
    while (!m_synced && !m_coreLost) {
        if (pw_thread_loop_timed_wait_full(m_loop.get(), &deadline) != 0)
            break;
    }
    if (!m_synced)
        refuse(kUnreachable);
    if (!m_nodeSeen)
        refuse(QStringLiteral("PipeWire does not offer the shared screen (node %1), so it cannot be recorded.")
                   .arg(m_nodeId));
}

PipeWireScreenSource::~PipeWireScreenSource()
{
    stop();
}

const spa_pod *PipeWireScreenSource::buildFormat(void *buffer, size_t size, bool linearDmaBuf)
{
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, uint32_t(size));
    spa_rectangle defaultSize = SPA_RECTANGLE(1920, 1080);
    spa_rectangle minSize = SPA_RECTANGLE(1, 1);
    spa_rectangle maxSize = SPA_RECTANGLE(16384, 16384);
    spa_fraction defaultRate = SPA_FRACTION(30, 1);
    spa_fraction minRate = SPA_FRACTION(0, 1);
    spa_fraction maxRate = SPA_FRACTION(1000, 1);
    spa_fraction wantedMaxRate = SPA_FRACTION(30, 1);
    spa_pod_frame frame{};
    spa_pod_builder_push_object(&builder, &frame, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat);
    spa_pod_builder_add(&builder, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
                        SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
                        SPA_POD_CHOICE_ENUM_Id(3, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA),
                        SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&defaultSize, &minSize, &maxSize),
                        SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&defaultRate, &minRate, &maxRate),
                        // Compositors send no faster than this; faster producers are thinned out in onProcess.
                        SPA_FORMAT_VIDEO_maxFramerate,
                        SPA_POD_CHOICE_RANGE_Fraction(&wantedMaxRate, &minRate, &wantedMaxRate), 0);
    if (linearDmaBuf) {
        // Only linear buffers can be read by mapping them; tiled layouts would
        // need a GPU import, which a recorder without one cannot do.
        spa_pod_builder_prop(&builder, SPA_FORMAT_VIDEO_modifier, SPA_POD_PROP_FLAG_MANDATORY);
        spa_pod_builder_long(&builder, kLinearModifier);
    }
    return static_cast<const spa_pod *>(spa_pod_builder_pop(&builder, &frame));
}

bool PipeWireScreenSource::connectStream()
{
    m_timer = pw_loop_add_timer(pw_thread_loop_get_loop(m_loop.get()), &Listeners::timer, this);
    pw_properties *props = pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                                             PW_KEY_MEDIA_ROLE, "Screen", nullptr);
    m_stream.reset(pw_stream_new(m_core.get(), "Mivra Video screen", props));
    if (!m_stream || !m_timer) {
        fail(QStringLiteral("PipeWire could not open a stream for the screen."));
        return false;
    }
    pw_stream_add_listener(m_stream.get(), &m_listeners->stream, &Listeners::streamEvents, this);
    uint8_t dmaBufFormat[1024];
    uint8_t sharedMemoryFormat[1024];
    const spa_pod *params[] = {buildFormat(dmaBufFormat, sizeof dmaBufFormat, true),
                               buildFormat(sharedMemoryFormat, sizeof sharedMemoryFormat, false)};
    const int result = pw_stream_connect(
        m_stream.get(), PW_DIRECTION_INPUT, m_nodeId,
        pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_DONT_RECONNECT),
        params, 2);
    if (result < 0) {
        fail(QStringLiteral("PipeWire could not connect to the shared screen (%1).")
                 .arg(QString::fromUtf8(spa_strerror(result))));
        return false;
    }
    return true;
}

void PipeWireScreenSource::open(std::chrono::milliseconds timeout)
{
    PwLoopLock lock(m_loop.get());
    m_opening = true;
    if (connectStream()) {
        timespec deadline{};
        pw_thread_loop_get_time(m_loop.get(), &deadline, int64_t(timeout.count()) * 1'000'000);
        while (!m_streaming && !m_pending && !m_openFailure) {
            if (pw_thread_loop_timed_wait_full(m_loop.get(), &deadline) != 0)
                break;
        }
    }
    if (m_openFailure)
        refuse(*m_openFailure);
    if (!m_streaming && !m_pending)
        refuse(QStringLiteral("The shared screen did not start streaming within %1 seconds, so the recording did "
                              "not start.")
                   .arg(timeout.count() / 1000.0));
}

void PipeWireScreenSource::start(std::function<void(VideoFrame)> onFrame, CaptureFailureHandler onFailure)
{
    m_onFrame = std::move(onFrame);
    m_onFailure = std::move(onFailure);
    PwLoopLock lock(m_loop.get());
    m_running = true;
    if (!m_stream) {
        connectStream();
        return;
    }
    m_opening = false;
    // What went wrong between open() and now goes to the handler.
    if (m_openFailure) {
        const QString text = *m_openFailure;
        m_openFailure.reset();
        fail(text);
        return;
    }
    // The first picture may have come while the recording was being set up.
    if (m_pending)
        deliverOrWait();
}

void PipeWireScreenSource::stop()
{
    if (!m_loop)
        return;
    {
        PwLoopLock lock(m_loop.get());
        m_running = false;
        if (m_stream)
            pw_stream_disconnect(m_stream.get());
    }
    pw_thread_loop_stop(m_loop.get());
    if (m_timer) {
        pw_loop_destroy_source(pw_thread_loop_get_loop(m_loop.get()), m_timer);
        m_timer = nullptr;
        Diag::log(QStringLiteral("pipewire screen: %1 frames delivered, %2 replaced by a newer one before their slot")
                      .arg(m_framesCaptured.load())
                      .arg(m_framesSkipped.load()));
    }
}

void PipeWireScreenSource::fail(const QString &text)
{
    if (!m_running) {
        // Still opening: open() or start() reports it.
        if (!m_openFailure)
            m_openFailure = text;
        pw_thread_loop_signal(m_loop.get(), false);
        return;
    }
    if (m_failed.exchange(true))
        return;
    Diag::log(QStringLiteral("pipewire screen failed: ") + text);
    if (m_onFailure)
        m_onFailure(text);
}

void PipeWireScreenSource::onStateChanged(int state, const char *error)
{
    if (state == PW_STREAM_STATE_STREAMING) {
        m_streaming = true;
        pw_thread_loop_signal(m_loop.get(), false);
    }
    const QString why = QString::fromUtf8(error ? error : "unknown error");
    if (!m_running && m_opening && (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED)) {
        // Refused or no format agreed before the recording began.
        fail(state == PW_STREAM_STATE_ERROR
                 ? QStringLiteral("PipeWire could not stream the shared screen (%1), so the recording did not start.")
                       .arg(why)
                 : QStringLiteral("PipeWire could not stream the shared screen, so the recording did not start."));
    } else if (state == PW_STREAM_STATE_ERROR && m_running) {
        fail(QStringLiteral("PipeWire stopped the screen stream (%1).").arg(why));
    } else if (state == PW_STREAM_STATE_UNCONNECTED && m_running) {
        fail(QStringLiteral("The desktop stopped sharing the screen during the recording."));
    }
}

void PipeWireScreenSource::onParamChanged(uint32_t id, const spa_pod *param)
{
    if (!param || id != SPA_PARAM_Format)
        return;
    uint32_t mediaType = 0;
    uint32_t mediaSubtype = 0;
    spa_video_info_raw raw{};
    if (spa_format_parse(param, &mediaType, &mediaSubtype) < 0 || mediaType != SPA_MEDIA_TYPE_video ||
        mediaSubtype != SPA_MEDIA_SUBTYPE_raw || spa_format_video_raw_parse(param, &raw) < 0)
        return;
    if (raw.format != SPA_VIDEO_FORMAT_BGRx && raw.format != SPA_VIDEO_FORMAT_BGRA) {
        fail(QStringLiteral("The shared screen comes in a pixel format Mivra Video cannot read."));
        return;
    }
    m_width = int(raw.size.width);
    m_height = int(raw.size.height);
    m_pool = std::make_shared<FrameBufferPool>();
    m_pool->bytes = std::size_t(m_width) * m_height * 4;
    m_pending.reset();
    const bool dmaBuf = spa_pod_find_prop(param, nullptr, SPA_FORMAT_VIDEO_modifier) != nullptr;
    Diag::log(QStringLiteral("pipewire screen: %1x%2 %3 in %4")
                  .arg(m_width)
                  .arg(m_height)
                  .arg(raw.format == SPA_VIDEO_FORMAT_BGRx ? QStringLiteral("BGRx") : QStringLiteral("BGRA"))
                  .arg(dmaBuf ? QStringLiteral("DMA-BUF") : QStringLiteral("shared memory")));

    const int dataTypes = dmaBuf ? 1 << SPA_DATA_DmaBuf : (1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd);
    uint8_t buffer[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    const spa_pod *params[2];
    params[0] = static_cast<const spa_pod *>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
        SPA_POD_CHOICE_RANGE_Int(4, 2, 16), SPA_PARAM_BUFFERS_dataType, SPA_POD_CHOICE_FLAGS_Int(dataTypes)));
    params[1] = static_cast<const spa_pod *>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Header),
        SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_header))));
    pw_stream_update_params(m_stream.get(), params, 2);
}

namespace {
// Copies one picture into `to` (stride width * 4). False when the buffer
// holds no picture: producers send empty or corrupt buffers when only the
// cursor moved or a frame was lost.
bool copyPicture(const spa_buffer *buffer, int width, int height, uint8_t *to)
{
    const auto *header = static_cast<const spa_meta_header *>(
        spa_buffer_find_meta_data(buffer, SPA_META_Header, sizeof(spa_meta_header)));
    if ((header && (header->flags & SPA_META_HEADER_FLAG_CORRUPTED)) || buffer->n_datas < 1)
        return false;
    const spa_data &data = buffer->datas[0];
    if (!data.chunk || data.chunk->size == 0 || (data.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED))
        return false;
    const std::size_t rowBytes = std::size_t(width) * 4;
    const std::size_t stride = data.chunk->stride > 0 ? std::size_t(data.chunk->stride) : rowBytes;
    const std::size_t offset = data.chunk->offset % std::max<uint32_t>(data.maxsize, 1);
    if (stride < rowBytes || offset + stride * (height - 1) + rowBytes > data.maxsize)
        return false;

    std::optional<DmaBufRead> mapped;
    const uint8_t *from = static_cast<const uint8_t *>(data.data);
    if (!from && data.type == SPA_DATA_DmaBuf && data.fd >= 0) {
        mapped.emplace(int(data.fd), std::size_t(data.mapoffset) + data.maxsize);
        from = mapped->data() ? mapped->data() + data.mapoffset : nullptr;
    }
    if (!from)
        return false;
    from += offset;
    for (int y = 0; y < height; ++y)
        std::memcpy(to + rowBytes * y, from + stride * y, rowBytes);
    return true;
}
} // namespace

void PipeWireScreenSource::onProcess()
{
    // Only the newest picture matters; older ones go straight back.
    pw_buffer *newest = nullptr;
    while (pw_buffer *buffer = pw_stream_dequeue_buffer(m_stream.get())) {
        if (newest)
            pw_stream_queue_buffer(m_stream.get(), newest);
        newest = buffer;
    }
    if (!newest || !m_pool || m_width <= 0 || m_height <= 0) {
        if (newest)
            pw_stream_queue_buffer(m_stream.get(), newest);
        return;
    }
    std::shared_ptr<uint8_t[]> pixels = FrameBufferPool::take(m_pool);
    const bool copied = copyPicture(newest->buffer, m_width, m_height, pixels.get());
    pw_stream_queue_buffer(m_stream.get(), newest);
    if (!copied)
        return;
    if (m_pending)
        ++m_framesSkipped;
    m_pending = std::move(pixels);
    if (m_opening)
        pw_thread_loop_signal(m_loop.get(), false);
    deliverOrWait();
}

void PipeWireScreenSource::deliverOrWait()
{
    // Before start() the newest picture only waits.
    if (!m_running)
        return;
    const int64_t nowUs = monotonicNowUs();
    if (m_pacer.tryTake(nowUs)) {
        deliverPending(nowUs);
        return;
    }
    const int64_t waitNs = m_pacer.waitUs() * 1000;
    timespec value{time_t(waitNs / 1000000000), long(waitNs % 1000000000)};
    pw_loop_update_timer(pw_thread_loop_get_loop(m_loop.get()), m_timer, &value, nullptr, false);
}

void PipeWireScreenSource::onTimer()
{
    if (m_pending && m_running)
        deliverOrWait();
}

void PipeWireScreenSource::deliverPending(int64_t nowUs)
{
    ++m_framesCaptured;
    m_onFrame(VideoFrame{std::move(m_pending), m_width, m_height, m_width * 4, nowUs});
}
