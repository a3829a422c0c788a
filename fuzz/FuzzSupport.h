#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

// A broken property ends the run like a crash, so that libFuzzer keeps the input. It holds
// in every build type (assert() would vanish under NDEBUG).
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition);  \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

namespace fuzz {

// The input's bytes read as UTF-16LE code units, so that any unit, lone surrogates
// included, can reach the code under test; an odd last byte is dropped.
inline QString utf16Units(const char *data, qsizetype size)
{
    QString text(size / 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i)
        text[i] = QChar(char16_t(static_cast<unsigned char>(data[2 * i])
            | static_cast<unsigned char>(data[2 * i + 1]) << 8));
    return text;
}

// A file of that name in a folder of this process's own, in memory where /dev/shm allows,
// removed when the process ends.
inline QString scratchFile(const QString &name)
{
    static const QByteArray folder = [] {
        QByteArray path = QByteArray(::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp")
            + "/quillsift-fuzz-XXXXXX";
        FUZZ_CHECK(::mkdtemp(path.data()) != nullptr);
        std::atexit([] { QDir(QString::fromLocal8Bit(folder)).removeRecursively(); });
        return path;
    }();
    return QString::fromLocal8Bit(folder) + u'/' + name;
}

inline void writeFile(const QString &path, QByteArrayView bytes)
{
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(file.write(bytes.data(), bytes.size()) == bytes.size());
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

} // namespace fuzz
