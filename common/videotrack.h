#pragma once

// What a file's video track declares in its container, read from libmpv's track list before
// any frame is decoded: the size it is shown at and how to stand it upright.

#include <QByteArray>
#include <QSize>

struct mpv_node;

struct VideoTrack
{
    qint64 id = -1;   // -1: the file has no video track
    QSize stored;     // as the decoder will deliver it; empty when the container does not say
    QSize shown;      // after the pixel shape and the rotation
    int rotation = 0; // clockwise degrees the stored picture is turned by when shown

    // The filters every frame goes through: interlaced frames are deinterlaced, and the
    // picture is turned upright.
    QByteArray filters() const;
};

// The first video track of mpv's "track-list" that is a moving picture and not cover art.
VideoTrack firstVideoTrack(const mpv_node &trackList);

// The value under key in an mpv map node, or -1 when it is missing or not an integer.
qint64 intValue(const mpv_node &map, const char *key);
