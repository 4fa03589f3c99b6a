#pragma once

// What a QuickTime or MP4 file's sample tables will cost the demuxer, read before it reads them.
//
// The demuxer builds one index entry for every sample that the tables claim, and inflates a
// compressed header to whatever size the header says. A few kilobytes of crafted tables can so
// claim gigabytes. The tables are walked here, from the descriptor that the player will read,
// and the claims are checked against the file they come from: every sample has to lie in the
// file, a table cannot count more entries than it holds, and the whole index has to stay
// within what an ordinary recording of several hours needs.

#include <QString>

// At most this many index entries (samples, or pieces of raw sound) in one file: five hours of
// a 60 frames a second phone recording with its sound. The demuxer spends some 40 bytes on each.
constexpr qint64 MaxIndexEntries = 2'000'000;
// A header larger than this (as stored or once inflated) is no recording's.
constexpr qint64 MaxHeaderBytes = 32 << 20;

// Empty when the file is no QuickTime file or its tables are within bounds; otherwise why not,
// in Swedish, to follow "kan inte spelas upp: ". Reads `fd` with pread only.
QString movieTablesFault(int fd);
