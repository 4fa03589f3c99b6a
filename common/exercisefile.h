#pragma once

// The files an exercise names: pirvel.ini, its pictures and its videos.
//
// All of them live in the folder the programs are started in, and pirvel.ini names them by bare
// file names. A name that reaches into another folder, or a file that is no regular file, is a
// run-time error naming it: the exercise can then never read /etc/hostname, nor wait for ever on
// a FIFO, a socket or a device that someone left (or linked) in the folder. Every open goes
// through here, so the rule holds alike for the pairing file, the picture loader and the media
// window.

#include <QString>
#include <memory>

class QFile;

// What the file is to the user; it picks the words of the error texts.
enum class ExerciseFileKind { Exercise, Picture, Video };

// True for a name of a file directly in the working directory: not empty, no '/' or '\',
// not "." or "..", no NUL.
bool isBareName(const QString &name);

// What mends a file of the exercise, as a run-time error's next step.
enum class FileTrouble { Missing, Content, Access, NotAFile };
QString nextStepFor(const QString &name, ExerciseFileKind kind, FileTrouble trouble);

// How a report names the exercise's folder ("/home/anna/djur", quoted) and one of its files:
// by what the file is to the user, then its name (Bilden "sol.jpg", Avslutningsvideon
// "slut.mov").
QString exerciseFolder();
QString namedFile(const QString &name, ExerciseFileKind kind);

// A run-time error unless `name` is a bare name. `subject` begins the text, such as
// "Videon" or "Filen \"pirvel.ini\" i mappen \"/x\", rad 3:"; `nextStep` says what mends it.
void checkBareName(const QString &name, const QString &subject, const QString &nextStep);

// Opens a bare name of the working directory for reading. Only a regular file (after following
// symbolic links) is taken, and the open itself never blocks. Anything else is a run-time error
// naming the file and the cause.
std::unique_ptr<QFile> openExerciseFile(const QString &name, ExerciseFileKind kind);

// The same checks for a file that someone else opens afterwards by its path (the video player);
// the file is opened and closed again here.
void checkExerciseFile(const QString &name, ExerciseFileKind kind);

// True when `path` is a regular file after following symbolic links; never opens it.
bool isRegularFile(const QString &path);
