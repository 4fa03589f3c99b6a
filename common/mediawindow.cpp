#include "common/mediawindow.h"

#include "common/exercisefile.h"
#include "common/movietables.h"
#include "common/program.h"
#include "common/runtimeerror.h"
#include "common/swedish.h"
#include "common/videotrack.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QHash>
#include <QPaintEvent>
#include <QPainter>
#include <QTimer>
#include <QVarLengthArray>

#include <mpv/client.h>
#include <mpv/render.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace {

QString &audioOutput()
{
    static QString ao = QStringLiteral("auto");
    return ao;
}

constexpr int OpenTimeoutMs = 10000;

// Every option in one place, grouped by what it is for.
const char *const Options[][2] = {
    // clang-format off
    // Nothing from the user's mpv setup and no scripts.
    {"config", "no"}, {"load-scripts", "no"}, {"ytdl", "no"}, {"osc", "no"},
    {"load-stats-overlay", "no"}, {"load-osd-console", "no"}, {"load-auto-profiles", "no"},
    {"resume-playback", "no"}, {"input-default-bindings", "no"}, {"input-vo-keyboard", "no"},
    {"terminal", "no"}, {"osd-level", "0"},
    // A file's content never decides what else is opened: local files only, and only real
    // containers, so concat lists, playlists, HLS and image sequences are unknown formats.
    {"access-references", "no"}, {"demuxer", "lavf"},
    {"demuxer-lavf-o", "protocol_whitelist=file,format_whitelist=[avi,mov,mp4,mpeg,mpegts,"
                       "mpegvideo,matroska,webm,dv,flv,asf,ogg,m4v,h264,hevc]"},
    {"sub-auto", "no"}, {"audio-file-auto", "no"}, {"cover-art-auto", "no"},
    // One file cannot take the program past a few hundred megabytes: what is read ahead is
    // bounded, nothing is kept behind, the decoder refuses a frame of more than MaxFramePixels
    // before it allocates it, whatever size the stream changes to, and the frames that its
    // threads hold at once are bounded by their number, whatever the machine's.
    {"demuxer-max-bytes", "16MiB"}, {"demuxer-max-back-bytes", "0"}, {"cache", "no"},
    {"vd-lavc-o", "max_pixels=8847360"}, {"vd-lavc-threads", "3"},
    {"hwdec", "no"}, {"vo", "libmpv"}, {"keep-open", "yes"}, {"idle", "yes"}, {"pause", "yes"},
    // The software renderer aborts on a rotated frame; the track's rotation is turned by a
    // filter chosen per file instead (checkTracks).
    {"video-rotate", "no"},
    // mpv hands a frame to the renderer this long before it is due, and on replacing the file
    // it waits for that frame's time first: 40 ms of every answer at 25 frames a second. The
    // renderer here paints a frame when it is handed over, so nothing is gained by the lead.
    {"video-timing-offset", "0"},
    // clang-format on
};

// Far above what the quiz or the editor ever asks for.
constexpr int MaxSidePixels = 8192;
// The frames a decoder holds are what a video costs, and a frame costs its pixels: the largest
// taken is a 4K recording's (4096 x 2160, either way up). max_pixels above is this number.
constexpr qint64 MaxFramePixels = 4096 * 2160;

QString tooManyPixels(QSize size)
{
    return QStringLiteral("videon är %1 × %2 bildpunkter, och programmet spelar upp högst "
                          "4096 × 2160 (4K)")
        .arg(size.width())
        .arg(size.height());
}

// The size of a frame that the decoder refused for being over max_pixels, from its words (FFmpeg's
// image checks say "Picture size WxH exceeds specified max pixel count N"); else an empty size.
QSize refusedFrameSize(const mpv_event_log_message &message)
{
    if (!QByteArray(message.prefix).startsWith("ffmpeg") || !std::strstr(message.text, "max pixel"))
        return {};
    int w = 0, h = 0;
    const char *at = std::strstr(message.text, "Picture size ");
    if (!at || std::sscanf(at, "Picture size %dx%d", &w, &h) != 2)
        return {};
    return QSize(w, h);
}

// Reply tags. The GUI thread never waits inside a libmpv call: mpv's core may itself be waiting
// for the GUI thread to render a frame, and the two would then stall each other until the video
// output gives up after 200 ms. So every command and query is asynchronous and its answer comes
// back as an event tagged with one of these, combined with the number of the open request.
// The one exception is the track check, made while the core stands still in a hook for it.
enum Reply : quint64 {
    EofReply = 1,
    TimePosReply,
    DurationReply,
    TracksHook,
    LoadReply = quint64(1) << 56,
    VideoParamsReply = quint64(3) << 56
};
constexpr quint64 ReplyKindMask = quint64(0xff) << 56;

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

QString quoted(const QString &name)
{
    return QLatin1Char('"') + name + QLatin1Char('"');
}

// Causes that lie with the computer rather than the file: saving the video again mends neither.
const QString NoSoundOutput = QStringLiteral("datorns ljud kunde inte användas");
const QString NoPictureSurface = QStringLiteral("videospelaren kunde inte visa videon");

// A callback from mpv's threads posts one call at a time to the GUI thread.
template <typename Call> void postOnce(MediaWindow *window, QAtomicInt &posted, Call call)
{
    if (posted.testAndSetOrdered(0, 1)) {
        QMetaObject::invokeMethod(
            window,
            [&posted, call] {
                posted.storeRelease(0);
                call();
            },
            Qt::QueuedConnection);
    }
}

} // namespace

MediaWindow::MediaWindow(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);

    // libmpv parses option values with strtod and refuses to start under a decimal-comma
    // locale, which Qt installs from the environment.
    std::setlocale(LC_NUMERIC, "C");
    const auto fail = [this](const QString &text) {
        if (m_mpv)
            mpv_terminate_destroy(m_mpv);
        m_mpv = nullptr;
        throw RuntimeError(ErrorNumber::MediaError, text);
    };
    m_mpv = mpv_create();
    if (!m_mpv)
        fail(QStringLiteral("Videospelaren kunde inte startas."));

    for (const auto &[name, value] : Options)
        mpv_set_option_string(m_mpv, name, value);
    mpv_set_option_string(m_mpv, "ao", audioOutput().toUtf8().constData());

    if (mpv_initialize(m_mpv) < 0)
        fail(QStringLiteral("Videospelaren kunde inte startas."));

    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_API_TYPE, const_cast<char *>(MPV_RENDER_API_TYPE_SW)},
        {MPV_RENDER_PARAM_INVALID, nullptr}};
    if (mpv_render_context_create(&m_render, m_mpv, params) < 0)
        fail(QStringLiteral("Videospelaren kunde inte göra sig redo att visa video."));

    mpv_observe_property(m_mpv, EofReply, "eof-reached", MPV_FORMAT_FLAG);
    mpv_observe_property(m_mpv, TimePosReply, "time-pos", MPV_FORMAT_DOUBLE);
    mpv_observe_property(m_mpv, DurationReply, "duration", MPV_FORMAT_DOUBLE);
    // Called once a file is open and before a decoder is made for it.
    mpv_hook_add(m_mpv, TracksHook, "on_preloaded", 0);
    // The decoder says so when a frame is over its size limit; the video then cannot be shown.
    mpv_request_log_messages(m_mpv, "error");
    mpv_set_wakeup_callback(
        m_mpv,
        [](void *self) {
            auto *w = static_cast<MediaWindow *>(self);
            postOnce(w, w->m_eventsPosted, [w] { w->handleMpvEvents(); });
        },
        this);
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

void MediaWindow::scheduleRender()
{
    postOnce(this, m_renderPosted, [this] { renderFrame(); });
}

void MediaWindow::setFileName(const QString &name)
{
    open(name);
}

void MediaWindow::open(const QString &name)
{
    // mpv is handed the descriptor that was checked, never the path: a name swapped for a
    // link to a device or a FIFO after the check cannot reach it. It closes the descriptor
    // when it is done with the file.
    int fd = -1;
    {
        const std::unique_ptr<QFile> file = openExerciseFile(name, ExerciseFileKind::Video);
        fd = ::fcntl(file->handle(), F_DUPFD_CLOEXEC, 0);
    }
    if (fd < 0)
        failOpen(name, QStringLiteral("filen kunde inte öppnas"));
    const QString fault = movieTablesFault(fd);
    if (!fault.isEmpty()) {
        ::close(fd);
        failOpen(name, fault);
    }
    const QByteArray url = "fdclose://" + QByteArray::number(fd);
    finishPlayback();
    m_file = OpenFile();
    m_file.name = name;
    ++m_request;
    // The new file's frames reach the screen only once the caller has placed the window and
    // given the command; until then the screen keeps what it shows (paintEvent).
    m_placing = true;
    setReadingNow(QStringLiteral("%1 i mappen %2")
                      .arg(namedFile(name, ExerciseFileKind::Video), exerciseFolder()));

    // A new file is shown paused at its first frame; only "Play" starts it.
    setAsync(m_mpv, "pause", true);
    const char *command[] = {"loadfile", url.constData(), "replace", nullptr};
    if (mpv_command_async(m_mpv, LoadReply | m_request, command) < 0) {
        ::close(fd);
        failOpen(name, QStringLiteral("videospelaren tog inte emot filen"));
    }

    waitUntilOpened(name);
    applySize();
}

void MediaWindow::waitWhile(QEventLoop &loop, const std::function<bool()> &busy,
                            QEventLoop::ProcessEventsFlags flags)
{
    handleMpvEvents();
    QEventLoop *outer = std::exchange(m_wait, &loop);
    while (busy())
        loop.exec(flags);
    m_wait = outer;
}

void MediaWindow::waitUntilOpened(const QString &name)
{
    QEventLoop loop;
    QTimer timeout;
    timeout.setSingleShot(true);
    connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    timeout.start(OpenTimeoutMs);
    // The open also waits for the first frame, so that it is on the window when this returns;
    // the frame is rendered meanwhile, since this loop serves the render requests too.
    waitWhile(loop, [&] {
        return !(m_file.loaded && m_file.firstFrameShown) && m_file.error.isEmpty() &&
               timeout.isActive();
    });
    if (!m_file.error.isEmpty())
        failOpen(name, m_file.error);
    if (!m_file.loaded || !m_file.firstFrameShown) {
        commandAsync(m_mpv, {"stop"});
        failOpen(
            name,
            QStringLiteral("den gick inte att öppna inom %1 sekunder").arg(OpenTimeoutMs / 1000));
    }
}

void MediaWindow::failOpen(const QString &name, const QString &why)
{
    const QString text = QStringLiteral("%1 i mappen %2 kan inte spelas upp: %3.")
                             .arg(namedFile(name, ExerciseFileKind::Video), exerciseFolder(), why);
    const QString step =
        why == NoSoundOutput
            ? QStringLiteral("kontrollera datorns ljudinställningar och starta programmet igen")
        : why == NoPictureSurface
            ? QString()
            : nextStepFor(name, ExerciseFileKind::Video, FileTrouble::Content);
    m_file = OpenFile();
    m_file.name = name;
    m_natural = QSize(0, 0);
    m_placing = false;
    update();
    throw RuntimeError(ErrorNumber::MediaError, text, step);
}

QString MediaWindow::endFileReason(int reason, int error) const
{
    if (reason == MPV_END_FILE_REASON_REDIRECT)
        return QStringLiteral("filen är en spellista som hänvisar till andra filer");
    if (reason != MPV_END_FILE_REASON_ERROR)
        return QStringLiteral("uppspelningen avbröts innan filen hade öppnats");
    static const QHash<int, QString> reasons{
        {MPV_ERROR_UNKNOWN_FORMAT,
         QStringLiteral("filen är ingen video i ett format som programmet känner igen")},
        {MPV_ERROR_NOTHING_TO_PLAY, QStringLiteral("filen innehåller ingen video")},
        {MPV_ERROR_LOADING_FAILED, QStringLiteral("filen kunde inte läsas eller är skadad")},
        {MPV_ERROR_AO_INIT_FAILED, NoSoundOutput},
        {MPV_ERROR_VO_INIT_FAILED, NoPictureSurface}};
    return reasons.value(error, QStringLiteral("videospelaren gav felnummer %1").arg(error));
}

void MediaWindow::handleMpvEvents()
{
    for (;;) {
        mpv_event *event = mpv_wait_event(m_mpv, 0);
        if (event->event_id == MPV_EVENT_NONE)
            break;
        const bool current = m_file.entry >= 0 && m_startedEntry == m_file.entry;
        switch (event->event_id) {
        case MPV_EVENT_COMMAND_REPLY:
        case MPV_EVENT_GET_PROPERTY_REPLY:
            handleReply(*event);
            break;
        case MPV_EVENT_START_FILE:
            m_startedEntry = static_cast<mpv_event_start_file *>(event->data)->playlist_entry_id;
            break;
        case MPV_EVENT_HOOK:
            checkTracks(static_cast<mpv_event_hook *>(event->data)->id);
            break;
        case MPV_EVENT_FILE_LOADED:
            m_loadedEntry = m_startedEntry;
            checkLoaded();
            break;
        case MPV_EVENT_END_FILE: {
            const auto *end = static_cast<mpv_event_end_file *>(event->data);
            if (end->playlist_entry_id != m_file.entry)
                break;
            if (!m_file.loaded) {
                if (m_file.error.isEmpty())
                    m_file.error = endFileReason(end->reason, end->error);
            } else if (m_playing) {
                m_playing = false;
                emit playbackEnded();
            }
            break;
        }
        case MPV_EVENT_LOG_MESSAGE: {
            // A stream may change its size at any frame, beyond what its container declared.
            const QSize size = refusedFrameSize(*static_cast<mpv_event_log_message *>(event->data));
            if (!size.isEmpty() && m_file.entry >= 0 && m_file.error.isEmpty())
                refuse(tooManyPixels(size));
            break;
        }
        case MPV_EVENT_PLAYBACK_RESTART:
            if (!current)
                break;
            if (!m_file.firstFrameShown) {
                // The renderer holds this file's first frame now: show it in place of the
                // old file's last one, with nothing in between.
                m_file.firstFrameShown = true;
                renderFrame(true);
                // The natural size is the size this frame is shown at. Containers often do
                // not know it (a DVD's shape is in its video stream only), or say less than
                // the decoder applies; what the renderer draws always agrees with this.
                mpv_get_property_async(m_mpv, VideoParamsReply | m_request, "video-out-params",
                                       MPV_FORMAT_NODE);
            }
            break;
        case MPV_EVENT_PROPERTY_CHANGE: {
            const auto *property = static_cast<mpv_event_property *>(event->data);
            if (property->format == MPV_FORMAT_DOUBLE) {
                const double value = *static_cast<double *>(property->data);
                if (event->reply_userdata == TimePosReply)
                    m_file.timePos = value;
                else if (event->reply_userdata == DurationReply)
                    m_file.duration = value;
            }
            if (event->reply_userdata == EofReply && property->format == MPV_FORMAT_FLAG &&
                *static_cast<int *>(property->data) && m_file.loaded && current && m_playing) {
                m_playing = false;
                emit playbackEnded();
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

// Runs while mpv waits in its hook between opening a file and making its decoders, so the
// synchronous calls here cannot meet a core that waits for this thread. The declared size is
// checked here, before a single frame is decoded, and the video track's rotation is given to a
// filter of its own. Every file passes here, so the options set last time are always replaced.
void MediaWindow::checkTracks(quint64 hookId)
{
    mpv_node tracks{};
    if (mpv_get_property(m_mpv, "track-list", MPV_FORMAT_NODE, &tracks) < 0)
        tracks.format = MPV_FORMAT_NONE;
    const VideoTrack video = firstVideoTrack(tracks);
    mpv_free_node_contents(&tracks);
    QString refusal;
    const QSize &shown = video.shown;
    if (video.id < 0) {
        // lavf opens plenty of things that are no video at all: sound files, subtitles.
        refusal = QStringLiteral("filen innehåller ingen video");
    } else if (qMax(video.stored.width(), video.stored.height()) > MaxSidePixels ||
               qMax(shown.width(), shown.height()) > MaxSidePixels) {
        refusal = QStringLiteral("videon är %1 × %2 bildpunkter, och mer än %3 bildpunkter på "
                                 "bredden eller höjden går inte att visa")
                      .arg(shown.width())
                      .arg(shown.height())
                      .arg(MaxSidePixels);
    } else if (qint64(video.stored.width()) * video.stored.height() > MaxFramePixels) {
        refusal = tooManyPixels(shown);
    }
    const QByteArray vid = refusal.isEmpty() ? QByteArray::number(video.id) : "no";
    mpv_set_property_string(m_mpv, "vid", vid.constData());
    mpv_set_property_string(m_mpv, "aid", refusal.isEmpty() ? "auto" : "no");
    mpv_set_property_string(m_mpv, "vf", video.filters().constData());
    mpv_hook_continue(m_mpv, hookId);

    // The hook's file is the one being opened unless a newer open has already replaced it.
    if (m_file.entry >= 0 && m_startedEntry != m_file.entry)
        return;
    m_file.checkedEntry = m_startedEntry;
    if (!refusal.isEmpty() && m_file.error.isEmpty())
        m_file.error = refusal;
    checkLoaded();
}

void MediaWindow::refuse(const QString &why)
{
    m_file.error = why;
    if (!m_file.loaded)
        return; // the open reports it
    // The file goes at once, and with it what its decoder holds. A wait under way reports it
    // on its return; otherwise nothing of this window's is running, and it is reported now.
    m_playing = false;
    commandAsync(m_mpv, {"stop"});
    if (m_wait)
        return;
    QTimer::singleShot(0, this, [this, why] {
        guarded([&] {
            throw RuntimeError(
                ErrorNumber::MediaError,
                QStringLiteral("%1 i mappen %2 kan inte spelas upp: %3.")
                    .arg(namedFile(m_file.name, ExerciseFileKind::Video), exerciseFolder(), why),
                nextStepFor(m_file.name, ExerciseFileKind::Video, FileTrouble::Content));
        });
    });
}

void MediaWindow::checkLoaded()
{
    if (m_file.loaded || m_file.entry < 0 || m_loadedEntry != m_file.entry ||
        m_file.checkedEntry != m_file.entry || m_file.natural.isEmpty())
        return;
    m_natural = m_file.natural;
    m_file.loaded = true;
}

void MediaWindow::handleReply(const mpv_event &event)
{
    const quint64 kind = event.reply_userdata & ReplyKindMask;
    if (kind == 0 || (event.reply_userdata & ~ReplyKindMask) != m_request || m_file.loaded ||
        !m_file.error.isEmpty())
        return;
    if (kind == LoadReply) {
        const auto *reply = static_cast<mpv_event_command *>(event.data);
        const qint64 entry = event.error < 0 ? -1 : intValue(reply->result, "playlist_entry_id");
        if (entry < 0)
            m_file.error = QStringLiteral("videospelaren tog inte emot filen");
        m_file.entry = entry;
        // The hook may have run before this reply came; its result then stands for this file.
        if (m_file.checkedEntry >= 0 && m_file.checkedEntry != entry)
            m_file.checkedEntry = -1;
        checkLoaded();
        return;
    }
    const auto *property = static_cast<mpv_event_property *>(event.data);
    if (kind == VideoParamsReply && event.error >= 0 && property->format == MPV_FORMAT_NODE) {
        const auto &node = *static_cast<mpv_node *>(property->data);
        m_file.natural = QSize(int(intValue(node, "dw")), int(intValue(node, "dh")));
        if (qMax(m_file.natural.width(), m_file.natural.height()) > MaxSidePixels)
            m_file.error =
                QStringLiteral("videon är större än %1 bildpunkter på bredden eller höjden")
                    .arg(MaxSidePixels);
        else if (qint64(intValue(node, "w")) * intValue(node, "h") > MaxFramePixels)
            m_file.error = tooManyPixels(m_file.natural);
        checkLoaded();
    }
}

void MediaWindow::renderFrame(bool redraw)
{
    const uint64_t flags = mpv_render_context_update(m_render);
    if (!(flags & MPV_RENDER_UPDATE_FRAME) && !m_resized && !redraw)
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
    // Until the new file's first frame is there, what the renderer holds is the old file's
    // last frame or nothing: it is taken, so mpv goes on, but never shown.
    if (!m_file.firstFrameShown)
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
    if (m_file.loaded)
        scheduleRender();
}

void MediaWindow::setZoom(float percent)
{
    const double w = double(m_natural.width()) * double(percent) / 100.0;
    const double h = double(m_natural.height()) * double(percent) / 100.0;
    if (!std::isfinite(percent) || percent < 0 || w > MaxSidePixels || h > MaxSidePixels) {
        throw RuntimeError(ErrorNumber::InvalidPropertyValue,
                           QStringLiteral("Förstoringen %1 % går inte att använda för videon %2.")
                               .arg(swedishNumber(double(percent)), quoted(m_file.name)));
    }
    m_zoom = percent;
    applySize();
}

void MediaWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_resized = true;
    if (m_file.loaded)
        scheduleRender();
}

void MediaWindow::paintEvent(QPaintEvent *)
{
    // From an open until the command the window may pass through sizes and places it will not
    // keep (the quiz processes events at zoom 100, before the fit). Nothing is painted then:
    // the opaque window leaves the screen as it was, and neither the old file's frame nor the
    // new one's appears anywhere but where the command finds the window.
    if (m_placing)
        return;
    // A new file's frame not yet there: the old file's frame is not painted again.
    QPainter painter(this);
    if (m_frame.isNull() || !m_file.firstFrameShown)
        painter.fillRect(rect(), Qt::black);
    else
        painter.drawImage(rect(), m_frame);
}

void MediaWindow::setRewindSetting(qint16 value)
{
    if (value != 0 || !m_file.loaded)
        return;
    finishPlayback();
    rewindToStart();
}

void MediaWindow::rewindToStart()
{
    // A seek to the start loses frames in some formats: after a seek, mpv drops every frame
    // without a time stamp of its own until the next stamped one, and MPEG program and
    // transport streams stamp only the first frame that starts in each pack. A clip of small
    // frames (a signer before a plain wall) then shows a frame or two of its first half
    // second. So the start is reached the way the first showing reached it, by opening the file
    // again: every format, one rule, for an open of a few milliseconds.
    if (!m_file.atStart)
        open(QString(m_file.name)); // a copy: the open starts the file's state afresh
}

void MediaWindow::finishPlayback()
{
    m_playing = false;
    if (m_wait)
        m_wait->quit();
}

void MediaWindow::stopWaiting()
{
    finishPlayback();
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
    if (!m_file.loaded) {
        throw RuntimeError(
            ErrorNumber::MediaError,
            QStringLiteral("Kommandot %1 kräver en öppnad video.").arg(quoted(command)));
    }
    finishPlayback();
    rewindToStart();
    m_playing = true;
    m_file.atStart = false;
    setAsync(m_mpv, "pause", false);
    if (m_placing) {
        m_placing = false;
        update();
    }
    if (wait)
        playToEnd();
}

void MediaWindow::playToEnd()
{
    // Some containers (MPEG program streams above all) guess their duration badly, so the limit
    // only ends a wait that has also stopped making progress for a whole check period.
    const qint64 limitMs = qint64(std::max(0.0, m_file.duration) * 2000.0) + 10000;
    QEventLoop loop;
    QTimer check;
    QElapsedTimer total;
    total.start();
    double lastPos = -1;
    bool stalled = false;
    connect(&check, &QTimer::timeout, &loop, [&] {
        stalled = total.elapsed() > limitMs && m_file.timePos == lastPos;
        lastPos = m_file.timePos;
        if (stalled)
            loop.quit();
    });
    check.start(5000);

    const qint64 entry = m_file.entry;
    waitWhile(
        loop, [&] { return m_playing && entry == m_file.entry && !stalled; },
        m_waitTakesInput ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
    if (!m_file.error.isEmpty() && entry == m_file.entry)
        failOpen(m_file.name, m_file.error);
    if (stalled && m_playing && entry == m_file.entry) {
        m_playing = false;
        setAsync(m_mpv, "pause", true);
        throw RuntimeError(
            ErrorNumber::MediaError,
            QStringLiteral("%1 i mappen %2 spelades inte färdigt: uppspelningen stannade.")
                .arg(namedFile(m_file.name, ExerciseFileKind::Video), exerciseFolder()),
            nextStepFor(m_file.name, ExerciseFileKind::Video, FileTrouble::Content));
    }
}
