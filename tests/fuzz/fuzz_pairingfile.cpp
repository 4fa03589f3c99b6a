// Any bytes as pirvel.ini: reading must either give ten names and a flag or raise the one
// run-time error type, never crash, hang or throw anything else. What was read must survive a
// write and a read back unchanged whenever the names can be stored at all.

#include "common/pairingfile.h"
#include "common/runtimeerror.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

namespace {

struct Read
{
    QStringList names;
    qint16 flag = 0;
};

bool readAll(Read &out)
{
    try {
        SequentialInput in(PairingFileName);
        for (int i = 0; i < 10; ++i)
            out.names << in.readString();
        out.flag = in.readInteger();
        return true;
    } catch (const RuntimeError &e) {
        if (e.text().isEmpty())
            std::abort();
        return false;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Memory-backed when the system has it: every run saves a file, and disk syncs are slow.
    static QTemporaryDir dir((QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm")
                                                                        : QDir::tempPath()) +
                             QStringLiteral("/pirvel-fuzz-XXXXXX"));
    static const bool entered = QDir::setCurrent(dir.path());
    (void)entered;

    {
        QFile f(PairingFileName);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        f.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    Read first;
    if (!readAll(first))
        return 0;

    for (const QString &n : first.names)
        if (!isStorableName(n))
            return 0;
    SequentialOutput out(PairingFileName);
    for (const QString &n : first.names)
        out.writeString(n);
    out.writeInteger(first.flag);
    out.commit();

    Read second;
    if (!readAll(second) || second.names != first.names || second.flag != first.flag)
        std::abort();
    return 0;
}
