#include "mediawindow.h"

#include "runtimeerror.h"
#include "twips.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QPaintEvent>
#include <QPainter>
#include <QTimer>
#include <QVarLengthArray>

#include <mpv/client.h>
#include <mpv/render.h>

#include <clocale>
#include <cmath>

namespace {

QString &audioOutput()
{
    static QString ao = QStringLiteral("auto");
    return ao;
}

// Far above what the quiz or the editor ever asks for, and small enough that the frame buffer
// stays a few hundred megabytes at most.
constexpr int MaxSidePixels = 8192;

constexpr int OpenTimeoutMs = 10000;

// Reply tags. The GUI thread never waits inside a libmpv call: mpv's core may itself be waiting
// for the GUI thread to render a frame, and the two would then stall each other until the video
// output gives up after 200 ms. So every command and query is asynchronous and its answer comes
// back as an event tagged with one of these, combined with the number of the open request.
enum Reply : quint64 {
    EofReply = 1,
    TimePosReply,
    DurationReply,
    LoadReply = quint64(1) << 56,
    TrackReply = quint64(2) << 56,
    VideoParamsReply = quint64(3) << 56,
};
constexpr quint64 ReplyKindMask = quint64(0xff) << 56;

const mpv_node *nodeValue(const mpv_node &map, const char *key)
{
    if (map.format != MPV_FORMAT_NODE_MAP)
        return nullptr;
    for (int i = 0; i < map.u.list->num; ++i) {
        if (qstrcmp(map.u.list->keys[i], key) == 0)
            return &map.u.list->values[i];
    }
    return nullptr;
}

qint64 intValue(const mpv_node &map, const char *key)
{
    const mpv_node *v = nodeValue(map, key);
    return v && v->format == MPV_FORMAT_INT64 ? v->u.int64 : -1;
}

void setAsync(mpv_handle *mpv, const char *name, bool value)
{
    int flag = value ? 1 : 0;
    mpv_set_property_async(mpv, 0, name, MPV_FORMAT_FLAG, &flag);
}

void commandAsync(mpv_handle *mpv, std::initializer_list<const char *> words)
{
    QVarLengthArray<const char *, 8> args(words.begin(), words.end());
    args.append(nullptr);
    mpv_command_async(mpv, 0, args.data());
}

void setOption(mpv_handle *mpv, const char *name, const char *value)
{
    mpv_set_option_string(mpv, name, value);
}

QString quoted(const QString &name)
{
    return QLatin1Char('"') + name + QLatin1Char('"');
}

} // namespace

MediaWindow::MediaWindow(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);

    // libmpv parses option values with strtod and refuses to start under a decimal-comma
    // locale, which Qt installs from the environment.
    std::setlocale(LC_NUMERIC, "C");
    m_mpv = mpv_create();
    if (!m_mpv)
        throw RuntimeError(ErrorNumber::MediaError,
                           QStringLiteral("Videospelaren kan inte startas."));

    // Nothing from the user's mpv setup, no scripts, no network and no file that leads on to
    // other files: a video file's content must never decide what else gets opened.
    setOption(m_mpv, "config", "no");
    setOption(m_mpv, "load-scripts", "no");
    setOption(m_mpv, "ytdl", "no");
    setOption(m_mpv, "osc", "no");
    setOption(m_mpv, "load-stats-overlay", "no");
    setOption(m_mpv, "load-osd-console", "no");
    setOption(m_mpv, "load-auto-profiles", "no");
    setOption(m_mpv, "access-references", "no");
    setOption(m_mpv, "demuxer", "lavf");
    setOption(m_mpv, "demuxer-lavf-o", "protocol_whitelist=file");
    setOption(m_mpv, "sub-auto", "no");
    setOption(m_mpv, "audio-file-auto", "no");
    setOption(m_mpv, "cover-art-auto", "no");
    setOption(m_mpv, "resume-playback", "no");
    setOption(m_mpv, "input-default-bindings", "no");
    setOption(m_mpv, "input-vo-keyboard", "no");
    setOption(m_mpv, "terminal", "no");
    setOption(m_mpv, "osd-level", "0");
    setOption(m_mpv, "hwdec", "no");
    setOption(m_mpv, "vo", "libmpv");
    setOption(m_mpv, "keep-open", "yes");
    // mpv hands a frame to the renderer this long before it is due, and on replacing the file
    // it waits for that frame's time first: 40 ms of every answer at 25 frames a second. The
    // renderer here paints a frame when it is handed over, so nothing is gained by the lead.
    setOption(m_mpv, "video-timing-offset", "0");
    setOption(m_mpv, "idle", "yes");
    setOption(m_mpv, "pause", "yes");
    setOption(m_mpv, "ao", audioOutput().toUtf8().constData());

    if (mpv_initialize(m_mpv) < 0) {
        mpv_terminate_destroy(m_mpv);
        m_mpv = nullptr;
        throw RuntimeError(ErrorNumber::MediaError,
                           QStringLiteral("Videospelaren kan inte startas."));
    }

    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_API_TYPE, const_cast<char *>(MPV_RENDER_API_TYPE_SW)},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    if (mpv_render_context_create(&m_render, m_mpv, params) < 0) {
        mpv_terminate_destroy(m_mpv);
        m_mpv = nullptr;
        throw RuntimeError(ErrorNumber::MediaError,
                           QStringLiteral("Videospelarens bildyta kan inte skapas."));
    }

    mpv_observe_property(m_mpv, EofReply, "eof-reached", MPV_FORMAT_FLAG);
    mpv_observe_property(m_mpv, TimePosReply, "time-pos", MPV_FORMAT_DOUBLE);
    mpv_observe_property(m_mpv, DurationReply, "duration", MPV_FORMAT_DOUBLE);
    mpv_set_wakeup_callback(
        m_mpv, [](void *self) { static_cast<MediaWindow *>(self)->scheduleEvents(); }, this);
    mpv_render_context_set_update_callback(
        m_render, [](void *self) { static_cast<MediaWindow *>(self)->scheduleRender(); }, this);
}

MediaWindow::~MediaWindow()
{
    // Both callbacks are cleared under mpv's own locks, so none is running when this object
    // goes; the render context has to go before the core it belongs to.
    mpv_set_wakeup_callback(m_mpv, nullptr, nullptr);
    mpv_render_context_set_update_callback(m_render, nullptr, nullptr);
    mpv_render_context_free(m_render);
    mpv_terminate_destroy(m_mpv);
}

void MediaWindow::setAudioOutput(const QString &ao)
{
    audioOutput() = ao;
}

void MediaWindow::scheduleEvents()
{
    if (m_eventsPosted.testAndSetOrdered(0, 1)) {
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_eventsPosted.storeRelease(0);
                handleMpvEvents();
            },
            Qt::QueuedConnection);
    }
}

void MediaWindow::scheduleRender()
{
    if (m_renderPosted.testAndSetOrdered(0, 1)) {
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_renderPosted.storeRelease(0);
                renderFrame();
            },
            Qt::QueuedConnection);
    }
}

void MediaWindow::setFileName(const QString &name)
{
    const QFileInfo info(QDir::current().absoluteFilePath(name));
    // A NUL would cut the path short on its way to mpv and name some other file.
    if (name.isEmpty() || name.contains(QChar(0)) || !info.exists()) {
        throw RuntimeError(ErrorNumber::FileNotFound,
                           QStringLiteral("Videofilen %1 hittades inte.").arg(quoted(name)));
    }
    if (!info.isFile()) {
        throw RuntimeError(
            ErrorNumber::PathFileAccessError,
            QStringLiteral("%1 är ingen videofil utan en mapp eller någon annan särskild fil.")
                .arg(quoted(name)));
    }
    if (!info.isReadable()) {
        throw RuntimeError(
            ErrorNumber::PermissionDenied,
            QStringLiteral("Videofilen %1 får inte läsas (åtkomst nekad).").arg(quoted(name)));
    }

    const QByteArray path = QFile::encodeName(info.absoluteFilePath());
    finishPlayback();
    m_fileName = name;
    m_loaded = false;
    m_sizeFromDecoder = false;
    m_openError.clear();
    m_seekPending = false;
    m_firstFrameShown = false;
    m_wantedEntry = -1;
    m_loadedEntry = -1;
    m_duration = 0;
    m_timePos = -1;
    ++m_request;

    // A new file is shown paused at its first frame; only "Play" starts it.
    setAsync(m_mpv, "pause", true);
    const char *command[] = {"loadfile", path.constData(), "replace", nullptr};
    if (mpv_command_async(m_mpv, LoadReply | m_request, command) < 0)
        failOpen(name, QStringLiteral("videospelaren tog inte emot filen"));

    waitUntilOpened(name);
    applySize();
}

void MediaWindow::waitUntilOpened(const QString &name)
{
    QEventLoop loop;
    QTimer timeout;
    timeout.setSingleShot(true);
    connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    timeout.start(OpenTimeoutMs);

    handleMpvEvents();
    QEventLoop *outer = m_wait;
    m_wait = &loop;
    // The open also waits for the first frame, so that it is on the window when this returns;
    // the frame is rendered meanwhile, since this loop serves the render requests too.
    while (!(m_loaded && m_firstFrameShown) && m_openError.isEmpty() && timeout.isActive())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    m_wait = outer;
    if (!m_openError.isEmpty())
        failOpen(name, m_openError);
    if (!m_loaded || !m_firstFrameShown) {
        m_loaded = false;
        commandAsync(m_mpv, {"stop"});
        failOpen(
            name,
            QStringLiteral("den gick inte att öppna inom %1 sekunder").arg(OpenTimeoutMs / 1000));
    }
}

void MediaWindow::failOpen(const QString &name, const QString &why)
{
    m_loaded = false;
    m_wantedEntry = -1;
    m_natural = QSize(0, 0);
    throw RuntimeError(ErrorNumber::MediaError,
                       QStringLiteral("Videon %1 kan inte spelas upp: %2.").arg(quoted(name), why));
}

QString MediaWindow::endFileReason(int reason, int error) const
{
    if (reason == MPV_END_FILE_REASON_REDIRECT)
        return QStringLiteral("filen är en spellista som hänvisar till andra filer");
    if (reason != MPV_END_FILE_REASON_ERROR)
        return QStringLiteral("uppspelningen avbröts innan filen hade öppnats");
    switch (error) {
    case MPV_ERROR_UNKNOWN_FORMAT:
        return QStringLiteral("filformatet känns inte igen");
    case MPV_ERROR_NOTHING_TO_PLAY:
        return QStringLiteral("filen innehåller ingen video");
    case MPV_ERROR_LOADING_FAILED:
        return QStringLiteral("filen kunde inte läsas eller är skadad");
    case MPV_ERROR_AO_INIT_FAILED:
        return QStringLiteral("ljudutgången kunde inte öppnas");
    case MPV_ERROR_VO_INIT_FAILED:
        return QStringLiteral("bildytan kunde inte öppnas");
    default:
        return QStringLiteral("fel %1 i videospelaren").arg(error);
    }
}

void MediaWindow::handleMpvEvents()
{
    if (!m_mpv)
        return;
    for (;;) {
        mpv_event *event = mpv_wait_event(m_mpv, 0);
        if (event->event_id == MPV_EVENT_NONE)
            break;
        switch (event->event_id) {
        case MPV_EVENT_COMMAND_REPLY:
        case MPV_EVENT_GET_PROPERTY_REPLY:
            handleReply(*event);
            break;
        case MPV_EVENT_START_FILE:
            m_startedEntry = static_cast<mpv_event_start_file *>(event->data)->playlist_entry_id;
            break;
        case MPV_EVENT_FILE_LOADED:
            m_loadedEntry = m_startedEntry;
            if (m_loadedEntry == m_wantedEntry)
                queryVideoTrack();
            break;
        case MPV_EVENT_VIDEO_RECONFIG:
            if (m_startedEntry == m_wantedEntry && m_sizeFromDecoder && !m_loaded)
                queryVideoParams();
            break;
        case MPV_EVENT_END_FILE: {
            const auto *end = static_cast<mpv_event_end_file *>(event->data);
            if (end->playlist_entry_id != m_wantedEntry)
                break;
            if (!m_loaded) {
                if (m_openError.isEmpty())
                    m_openError = endFileReason(end->reason, end->error);
            } else if (m_playing) {
                m_playing = false;
                emit playbackEnded();
            }
            break;
        }
        case MPV_EVENT_PLAYBACK_RESTART:
            if (m_startedEntry != m_wantedEntry || m_wantedEntry < 0)
                break;
            m_firstFrameShown = true;
            if (m_seekPending) {
                m_seekPending = false;
                if (m_playing)
                    setAsync(m_mpv, "pause", false);
            }
            break;
        case MPV_EVENT_PROPERTY_CHANGE: {
            const auto *property = static_cast<mpv_event_property *>(event->data);
            if (property->format == MPV_FORMAT_DOUBLE) {
                const double value = *static_cast<double *>(property->data);
                if (event->reply_userdata == TimePosReply)
                    m_timePos = value;
                else if (event->reply_userdata == DurationReply)
                    m_duration = value;
            }
            if (event->reply_userdata == EofReply && property->format == MPV_FORMAT_FLAG &&
                *static_cast<int *>(property->data) && m_loaded &&
                m_startedEntry == m_wantedEntry && !m_seekPending) {
                if (m_playing) {
                    m_playing = false;
                    emit playbackEnded();
                }
            }
            break;
        }
        default:
            break;
        }
    }
    // The waits check their own condition again when their loop returns.
    if (m_wait)
        m_wait->quit();
}

void MediaWindow::queryVideoTrack()
{
    mpv_get_property_async(m_mpv, TrackReply | m_request, "current-tracks/video", MPV_FORMAT_NODE);
}

void MediaWindow::queryVideoParams()
{
    mpv_get_property_async(m_mpv, VideoParamsReply | m_request, "video-params", MPV_FORMAT_NODE);
}

void MediaWindow::handleReply(const mpv_event &event)
{
    const quint64 kind = event.reply_userdata & ReplyKindMask;
    if (kind == 0 || (event.reply_userdata & ~ReplyKindMask) != m_request || m_loaded ||
        !m_openError.isEmpty())
        return;
    if (kind == LoadReply) {
        const auto *reply = static_cast<mpv_event_command *>(event.data);
        const qint64 entry = event.error < 0 ? -1 : intValue(reply->result, "playlist_entry_id");
        if (entry < 0) {
            m_openError = QStringLiteral("videospelaren tog inte emot filen");
            return;
        }
        m_wantedEntry = entry;
        if (m_loadedEntry == m_wantedEntry)
            queryVideoTrack();
        return;
    }
    const auto *property = static_cast<mpv_event_property *>(event.data);
    const mpv_node *node = event.error >= 0 && property->format == MPV_FORMAT_NODE
                               ? static_cast<mpv_node *>(property->data)
                               : nullptr;
    if (kind == TrackReply) {
        if (!node || node->format != MPV_FORMAT_NODE_MAP) {
            // lavf opens plenty of things that are no video at all: sound files, subtitles.
            m_openError = QStringLiteral("filen har inget videospår");
            commandAsync(m_mpv, {"stop"});
            return;
        }
        const qint64 w = intValue(*node, "demux-w");
        const qint64 h = intValue(*node, "demux-h");
        if (w > 0 && h > 0) {
            m_natural = QSize(int(w), int(h));
            m_loaded = true;
        } else {
            // Some streams carry no size in the container; the decoder's first frame has it,
            // and its reconfigure event may already have gone by.
            m_sizeFromDecoder = true;
            queryVideoParams();
        }
    } else if (kind == VideoParamsReply && node) {
        const qint64 w = intValue(*node, "w");
        const qint64 h = intValue(*node, "h");
        if (w > 0 && h > 0) {
            m_natural = QSize(int(w), int(h));
            m_loaded = true;
        }
    }
}

void MediaWindow::renderFrame()
{
    if (!m_render)
        return;
    const uint64_t flags = mpv_render_context_update(m_render);
    if (!(flags & MPV_RENDER_UPDATE_FRAME) && !m_resized)
        return;
    m_resized = false;

    // mpv's video thread waits for each frame to be taken, so a frame is rendered even while
    // the window is hidden or empty; a 1 x 1 surface is enough for that.
    const QSize size =
        (QSizeF(this->size()) * devicePixelRatioF()).toSize().expandedTo(QSize(1, 1));
    if (m_frame.size() != size) {
        m_frame = QImage(size, QImage::Format_RGB32);
        m_frame.setDevicePixelRatio(devicePixelRatioF());
    }
    int surface[2] = {size.width(), size.height()};
    size_t stride = size_t(m_frame.bytesPerLine());
    char format[] = "bgr0";
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_SW_SIZE, surface},   {MPV_RENDER_PARAM_SW_FORMAT, format},
        {MPV_RENDER_PARAM_SW_STRIDE, &stride}, {MPV_RENDER_PARAM_SW_POINTER, m_frame.bits()},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    if (mpv_render_context_render(m_render, params) < 0)
        return;
    // The fourth byte is left undefined by mpv; QImage expects it opaque.
    for (int y = 0; y < size.height(); ++y) {
        auto *line = reinterpret_cast<quint32 *>(m_frame.scanLine(y));
        for (int x = 0; x < size.width(); ++x)
            line[x] |= 0xff000000u;
    }
    update();
    emit framePainted();
}

void MediaWindow::applySize()
{
    const double w = std::round(double(m_natural.width()) * double(m_zoom) / 100.0);
    const double h = std::round(double(m_natural.height()) * double(m_zoom) / 100.0);
    const QSize size{int(w), int(h)};
    if (size == this->size())
        return;
    setFixedSize(size);
    // A hidden widget gets its resize event only when shown, but its frame must follow now.
    m_resized = true;
    if (m_loaded)
        scheduleRender();
}

void MediaWindow::setZoom(float percent)
{
    const double w = double(m_natural.width()) * double(percent) / 100.0;
    const double h = double(m_natural.height()) * double(percent) / 100.0;
    if (!std::isfinite(percent) || percent < 0 || w > MaxSidePixels || h > MaxSidePixels) {
        throw RuntimeError(ErrorNumber::InvalidPropertyValue,
                           QStringLiteral("Zoomen %1 % går inte att använda för videon %2.")
                               .arg(double(percent))
                               .arg(quoted(m_fileName)));
    }
    m_zoom = percent;
    applySize();
}

void MediaWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_resized = true;
    if (m_loaded)
        scheduleRender();
}

void MediaWindow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (m_frame.isNull() || !m_loaded)
        painter.fillRect(rect(), Qt::black);
    else
        painter.drawImage(rect(), m_frame);
}

void MediaWindow::setRewindSetting(qint16 value)
{
    if (value != 0 || !m_loaded)
        return;
    finishPlayback();
    rewindToStart();
}

void MediaWindow::rewindToStart()
{
    // Playback resumes only once the seek has landed: unpausing first would redraw the old
    // (last) frame for a moment before the first one comes back.
    m_seekPending = true;
    setAsync(m_mpv, "pause", true);
    commandAsync(m_mpv, {"seek", "0", "absolute+exact"});
}

void MediaWindow::finishPlayback()
{
    m_playing = false;
    if (m_wait)
        m_wait->quit();
}

void MediaWindow::setCommand(const QString &command)
{
    const QString verb = command.simplified().toLower();
    const bool wait = verb == QLatin1String("play wait");
    if (!wait && verb != QLatin1String("play")) {
        throw RuntimeError(ErrorNumber::InvalidPropertyValue,
                           QStringLiteral("Kommandot %1 finns inte för videofönstret; det kan "
                                          "bara \"Play\" och \"Play wait\".")
                               .arg(quoted(command)));
    }
    if (!m_loaded) {
        throw RuntimeError(
            ErrorNumber::MediaError,
            QStringLiteral("Kommandot %1 kräver en öppnad video.").arg(quoted(command)));
    }
    finishPlayback();
    m_playing = true;
    rewindToStart();
    if (wait)
        playToEnd();
}

void MediaWindow::playToEnd()
{
    const double duration = m_duration;
    // Some containers (MPEG program streams above all) guess their duration badly, so the limit
    // only ends a wait that has also stopped making progress.
    const qint64 limitMs = qint64(std::max(0.0, duration) * 2000.0) + 10000;
    constexpr qint64 StallMs = 5000;

    QEventLoop loop;
    QTimer check;
    QElapsedTimer total;
    QElapsedTimer sinceProgress;
    double lastPos = -1;
    total.start();
    sinceProgress.start();
    bool stalled = false;
    connect(&check, &QTimer::timeout, &loop, [&] {
        const double pos = m_timePos;
        if (pos != lastPos) {
            lastPos = pos;
            sinceProgress.restart();
        }
        if (total.elapsed() > limitMs && sinceProgress.elapsed() > StallMs) {
            stalled = true;
            loop.quit();
        }
    });
    check.start(500);

    const qint64 entry = m_wantedEntry;
    handleMpvEvents();
    QEventLoop *outer = m_wait;
    m_wait = &loop;
    while (m_playing && entry == m_wantedEntry && !stalled)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    m_wait = outer;
    if (stalled && m_playing && entry == m_wantedEntry) {
        m_playing = false;
        setAsync(m_mpv, "pause", true);
        throw RuntimeError(
            ErrorNumber::MediaError,
            QStringLiteral("Videon %1 spelades inte färdigt: uppspelningen stannade.")
                .arg(quoted(m_fileName)));
    }
}

float MediaWindow::Width() const
{
    return pixelsToTwips(width());
}

float MediaWindow::Height() const
{
    return pixelsToTwips(height());
}

float MediaWindow::Top() const
{
    return pixelsToTwips(y());
}

float MediaWindow::Left() const
{
    return pixelsToTwips(x());
}

void MediaWindow::setTop(float twips)
{
    move(x(), twipsToPixels(twips));
}

void MediaWindow::setLeft(float twips)
{
    move(twipsToPixels(twips), y());
}

bool MediaWindow::isPlaying() const
{
    return m_playing;
}
