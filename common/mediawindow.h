#pragma once

// The media window: a video painted into a plain widget by libmpv's software renderer.
//
// The handlers drive it with the few operations below and nothing else. Opening a file is
// synchronous (the size is known when setFileName returns), "Play" returns at once, and
// "Play wait" returns when the video has reached its end. Sizes and positions are in twips;
// at zoom 100 the window is exactly the video's natural size, 15 twips to a pixel.
//
// Only local files are ever opened: a name is opened in the working directory, checked, and
// mpv is handed that open file (as its descriptor), never a path, URL or other protocol. What a
// file may cost is checked before mpv reads it, and again while it plays.

#include "common/twips.h"

#include <QAtomicInt>
#include <QImage>
#include <QString>
#include <QWidget>

#include <functional>

#include <QEventLoop>
struct mpv_event;
struct mpv_handle;
struct mpv_render_context;

class MediaWindow : public QWidget
{
    Q_OBJECT
public:
    explicit MediaWindow(QWidget *parent = nullptr);
    ~MediaWindow() override;

    // Opens the file and replaces whatever was open or playing. A missing, unreadable or
    // unplayable file is a run-time error naming it.
    void setFileName(const QString &name);
    QString fileName() const { return m_file.name; }

    // 0 rewinds the open video to its first frame, so the next "Play" starts from there. The
    // window paints nothing from an open or rewind until the next command, so that no frame
    // appears at a size or place the caller is still changing.
    void setRewindSetting(qint16 value);

    // Percent of the natural size.
    void setZoom(float percent);
    float zoom() const { return m_zoom; }

    // "Play" starts playback and returns at once; "Play wait" returns at the end of the video,
    // painting frames meanwhile while user input waits in the queue.
    void setCommand(const QString &command);

    // A window whose "Play wait" must stay leavable turns this on: the wait then delivers user
    // input, which that window filters itself, and stopWaiting() makes a running "Play wait"
    // return at once.
    void setWaitTakesInput(bool on) { m_waitTakesInput = on; }
    void stopWaiting();

    float Width() const { return pixelsToTwips(width()); }
    float Height() const { return pixelsToTwips(height()); }
    float Top() const { return pixelsToTwips(y()); }
    float Left() const { return pixelsToTwips(x()); }
    void setTop(float twips) { move(x(), twipsToPixels(twips)); }
    void setLeft(float twips) { move(twipsToPixels(twips), y()); }

    // The natural video size in pixels of the open file (0 x 0 before the first open).
    QSize naturalSize() const { return m_natural; }
    bool isPlaying() const { return m_playing; }
    // The last frame painted, for tests and screenshots.
    QImage currentFrame() const { return m_frame; }

    // Audio output for all media windows created after the call ("null" in tests).
    static void setAudioOutput(const QString &ao);

signals:
    // Emitted on the GUI thread whenever a new frame has been painted into currentFrame().
    void framePainted();
    // Emitted when playback reaches the end of the file.
    void playbackEnded();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    // Everything that belongs to one file name: a new name starts again from a fresh value.
    struct OpenFile
    {
        QString name;
        // Playlist entry ids tell the events of this file from those of the one it replaces:
        // libmpv still delivers the old file's end and reconfigure events afterwards.
        qint64 entry = -1;
        qint64 checkedEntry = -1; // the entry whose tracks were checked before decoding
        QSize natural;            // empty until known, from the container or else from the decoder
        bool loaded = false;
        // Frames are shown only from this file's first frame on, never one of the old file's.
        bool firstFrameShown = false;
        // Still paused on the first frame the open showed: "Play" needs no rewind.
        bool atStart = true;
        double duration = 0;
        double timePos = -1;
        QString error;
    };

    // The mpv side is pumped on the GUI thread: mpv's callbacks only post a queued call here.
    void handleMpvEvents();
    void handleReply(const mpv_event &event);
    void checkTracks(quint64 hookId);
    void checkLoaded();
    // Drops the open file for a reason found after its checks, and reports it.
    void refuse(const QString &why);
    void renderFrame(bool redraw = false);
    void scheduleRender();
    void applySize();
    void waitWhile(QEventLoop &loop, const std::function<bool()> &busy,
                   QEventLoop::ProcessEventsFlags flags = QEventLoop::ExcludeUserInputEvents);
    void open(const QString &name);
    void waitUntilOpened(const QString &name);
    void rewindToStart();
    void playToEnd();
    void finishPlayback();
    [[noreturn]] void failOpen(const QString &name, const QString &why);
    QString endFileReason(int reason, int error) const;

    mpv_handle *m_mpv = nullptr;
    mpv_render_context *m_render = nullptr;
    OpenFile m_file;
    quint64 m_request = 0;
    qint64 m_startedEntry = -1;
    qint64 m_loadedEntry = -1;
    QSize m_natural{0, 0};
    float m_zoom = 100.0f;
    QImage m_frame;
    bool m_playing = false;
    bool m_resized = false;
    bool m_placing = false; // opened, and no command since: nothing is painted
    QEventLoop *m_wait = nullptr;
    bool m_waitTakesInput = false;
    QAtomicInt m_eventsPosted;
    QAtomicInt m_renderPosted;
};
