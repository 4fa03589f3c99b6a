#pragma once

// The media window: a video painted into a plain widget by libmpv's software renderer.
//
// The handlers drive it with the few operations below and nothing else. Opening a file is
// synchronous (the size is known when setFileName returns), "Play" returns at once, and
// "Play wait" returns when the video has reached its end. Sizes and positions are in twips;
// at zoom 100 the window is exactly the video's natural size, 15 twips to a pixel.
//
// Only local files are ever opened: a name is resolved against the working directory and
// handed to mpv as an absolute path, never as a URL or protocol.

#include <QAtomicInt>
#include <QImage>
#include <QString>
#include <QWidget>

class QEventLoop;
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
    QString fileName() const { return m_fileName; }

    // 0 rewinds the open video to its first frame, so the next "Play" starts from there.
    void setRewindSetting(qint16 value);

    // Percent of the natural size.
    void setZoom(float percent);
    float zoom() const { return m_zoom; }

    // "Play" starts playback and returns at once; "Play wait" returns at the end of the video,
    // painting frames meanwhile while user input waits in the queue.
    void setCommand(const QString &command);

    float Width() const;
    float Height() const;
    float Top() const;
    float Left() const;
    void setTop(float twips);
    void setLeft(float twips);

    // The natural video size in pixels of the open file (0 x 0 before the first open).
    QSize naturalSize() const { return m_natural; }
    bool isPlaying() const;
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
    // The mpv side is pumped on the GUI thread: mpv's callbacks only post a queued call here.
    void handleMpvEvents();
    void handleReply(const mpv_event &event);
    void queryVideoTrack();
    void queryVideoParams();
    void renderFrame();
    void scheduleEvents();
    void scheduleRender();
    void applySize();
    void waitUntilOpened(const QString &name);
    void rewindToStart();
    void playToEnd();
    void finishPlayback();
    [[noreturn]] void failOpen(const QString &name, const QString &why);
    QString endFileReason(int reason, int error) const;

    mpv_handle *m_mpv = nullptr;
    mpv_render_context *m_render = nullptr;
    QString m_fileName;
    QSize m_natural{0, 0};
    float m_zoom = 100.0f;
    QImage m_frame;
    bool m_playing = false;

    // Playlist entry ids tell the events of the file being opened from those of the one it
    // replaces: libmpv still delivers the old file's end and reconfigure events afterwards.
    qint64 m_wantedEntry = -1;
    qint64 m_startedEntry = -1;
    qint64 m_loadedEntry = -1;
    quint64 m_request = 0;
    double m_duration = 0;
    double m_timePos = -1;
    bool m_loaded = false;
    bool m_sizeFromDecoder = false;
    QString m_openError;
    // An eof-reached change queued before a rewind must not end the playback that follows.
    bool m_seekPending = false;
    bool m_firstFrameShown = false;
    bool m_resized = false;
    QEventLoop *m_wait = nullptr;
    QAtomicInt m_eventsPosted;
    QAtomicInt m_renderPosted;
};
