#include "common/videotrack.h"

#include <QtGlobal>

#include <mpv/client.h>

#include <climits>
#include <cmath>
#include <utility>

namespace {

const mpv_node *nodeValue(const mpv_node &map, const char *key, mpv_format format)
{
    for (int i = 0; map.format == MPV_FORMAT_NODE_MAP && i < map.u.list->num; ++i) {
        const mpv_node &v = map.u.list->values[i];
        if (qstrcmp(map.u.list->keys[i], key) == 0)
            return v.format == format ? &v : nullptr;
    }
    return nullptr;
}

int clampedSide(qint64 pixels)
{
    return int(qBound(qint64(0), pixels, qint64(INT_MAX)));
}

} // namespace

qint64 intValue(const mpv_node &map, const char *key)
{
    const mpv_node *v = nodeValue(map, key, MPV_FORMAT_INT64);
    return v ? v->u.int64 : -1;
}

VideoTrack firstVideoTrack(const mpv_node &trackList)
{
    VideoTrack track;
    for (int i = 0; trackList.format == MPV_FORMAT_NODE_ARRAY && i < trackList.u.list->num; ++i) {
        const mpv_node &t = trackList.u.list->values[i];
        const mpv_node *type = nodeValue(t, "type", MPV_FORMAT_STRING);
        const mpv_node *albumArt = nodeValue(t, "albumart", MPV_FORMAT_FLAG);
        if (!type || qstrcmp(type->u.string, "video") != 0 || (albumArt && albumArt->u.flag))
            continue;
        track.id = intValue(t, "id");
        qint64 w = intValue(t, "demux-w"), h = intValue(t, "demux-h");
        track.stored = QSize(clampedSide(w), clampedSide(h));
        track.rotation = int((intValue(t, "demux-rotation") % 360 + 360) % 360);
        // Pixels wider than high widen the picture, narrower ones heighten it: mpv's own rule
        // and rounding, so the window matches what the renderer draws.
        const mpv_node *par = nodeValue(t, "demux-par", MPV_FORMAT_DOUBLE);
        const double p = par ? par->u.double_ : 1.0;
        if (p > 1)
            w = std::llround(double(w) * p);
        else if (p > 0 && p < 1)
            h = std::llround(double(h) / p);
        if (track.rotation % 180 == 90)
            std::swap(w, h);
        track.shown = QSize(clampedSide(w), clampedSide(h));
        break;
    }
    return track;
}

QByteArray VideoTrack::filters() const
{
    // Camcorders and TV recordings store two fields taken a fiftieth of a second apart; shown
    // together, every moving edge is combed. yadif rebuilds whole frames from each frame's
    // fields, and passes frames that are not marked interlaced through untouched.
    QByteArray chain = "lavfi=[yadif=deint=interlaced";
    // Transposing and flipping are plain copies, cheaper than lavfi's rotate, which
    // interpolates.
    switch (rotation) {
    case 90:
        chain += ",transpose=clock";
        break;
    case 180:
        chain += ",hflip,vflip";
        break;
    case 270:
        chain += ",transpose=cclock";
        break;
    default:
        break;
    }
    return chain + ']';
}
