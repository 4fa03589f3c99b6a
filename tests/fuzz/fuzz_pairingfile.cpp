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

bool readAll(QStringList &names, qint16 &flag)
{
    try {
        SequentialInput in(PairingFileName);
        for (int i = 0; i < 10; ++i)
            names << in.readString();
        flag = in.readInteger();
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
    [[maybe_unused]] static const bool entered = QDir::setCurrent(dir.path());

    {
        QFile f(PairingFileName);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        f.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    QStringList names, again;
    qint16 flag = 0, flagAgain = 0;
    if (!readAll(names, flag))
        return 0;
    for (const QString &n : names)
        if (!isStorableName(n))
            return 0;
    SequentialOutput out(PairingFileName);
    for (const QString &n : names)
        out.writeString(n);
    out.writeInteger(flag);
    out.commit();
    if (!readAll(again, flagAgain) || again != names || flagAgain != flag)
        std::abort();
    return 0;
}
