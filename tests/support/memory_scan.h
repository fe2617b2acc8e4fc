#pragma once

// Looks for bytes anywhere in the writable memory of this process: the heap, every thread's
// stack, the libraries' data. Tests use it to show that a secret left no copy behind.

#include "host/data_ops/secure_wipe.h"

#include <QByteArray>
#include <QList>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QString>

#include <cstring>
#include <optional>

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <QFile>

#include <fcntl.h>
#include <unistd.h>
#endif

#if defined(__SANITIZE_ADDRESS__)
#define VIRELLOCK_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VIRELLOCK_TEST_ASAN 1
#endif
#endif
#ifdef VIRELLOCK_TEST_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace virellock::test {

// Bytes to look for, kept masked: each is stored XORed with a random key byte and unmasked
// only while it is compared, so that the search never holds what it looks for and cannot find
// itself.
class MaskedBytes
{
public:
    void append(unsigned char plain)
    {
        const auto key = static_cast<unsigned char>(QRandomGenerator::global()->bounded(256));
        m_keys.append(static_cast<char>(key));
        m_masked.append(static_cast<char>(plain ^ key));
    }

    qsizetype size() const { return m_masked.size(); }
    unsigned char at(qsizetype i) const
    {
        return static_cast<unsigned char>(m_masked.at(i) ^ m_keys.at(i));
    }

private:
    QByteArray m_masked;
    QByteArray m_keys;
};

// A writable memory region of the process: where it starts and ends, and its name for a
// message (a file, [heap], [stack], or nothing).
struct MemoryRegion
{
    quintptr start = 0;
    quintptr end = 0;
    QString name;
};

// Where bytes were found.
struct MemoryHit
{
    quintptr address = 0;
    MemoryRegion region;

    QString describe() const
    {
        return QStringLiteral("at 0x%1 in %2 (0x%3-0x%4)")
            .arg(QString::number(address, 16),
                 region.name.isEmpty() ? QStringLiteral("anonymous memory") : region.name,
                 QString::number(region.start, 16), QString::number(region.end, 16));
    }
};

namespace detail {

#ifdef VIRELLOCK_TEST_ASAN
// AddressSanitizer's shadow memory: a map of which bytes may be used, as large as an eighth of
// the address space and mostly never touched. It holds no copy of anything.
inline bool isSanitizerShadow(const MemoryRegion& region)
{
    std::size_t scale = 0;
    std::size_t offset = 0;
    __asan_get_shadow_mapping(&scale, &offset);
    const quintptr shadowEnd = offset + ((quintptr(1) << 47) >> scale);
    return region.start >= offset && region.start < shadowEnd;
}
#else
inline bool isSanitizerShadow(const MemoryRegion&)
{
    return false;
}
#endif

#ifdef Q_OS_WIN

// Committed pages that are private to the process, readable and writable: the heaps, the
// stacks and whatever else the process allocated.
inline QList<MemoryRegion> writableRegions()
{
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    QList<MemoryRegion> regions;
    auto* at = static_cast<const char*>(system.lpMinimumApplicationAddress);
    const auto* last = static_cast<const char*>(system.lpMaximumApplicationAddress);
    MEMORY_BASIC_INFORMATION info;
    while (at < last && VirtualQuery(at, &info, sizeof info) == sizeof info) {
        const DWORD writable = PAGE_READWRITE | PAGE_EXECUTE_READWRITE;
        if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE && (info.Protect & writable) &&
            !(info.Protect & (PAGE_GUARD | PAGE_NOACCESS))) {
            const auto start = reinterpret_cast<quintptr>(info.BaseAddress);
            regions.append({start, start + info.RegionSize, QString()});
        }
        at = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
    }
    return regions;
}

// Reads memory of this process without faulting on a page that went away meanwhile.
class MemoryReader
{
public:
    bool isOpen() const { return true; }
    qint64 read(quintptr address, char* out, qint64 size) const
    {
        SIZE_T got = 0;
        if (!ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<LPCVOID>(address), out,
                               SIZE_T(size), &got))
            return -1;
        return qint64(got);
    }
};

#else

// The private mappings that are readable and writable ("rw-p" in /proc/self/maps): the heap,
// the stacks, anonymous memory and the libraries' data.
inline QList<MemoryRegion> writableRegions()
{
    QList<MemoryRegion> regions;
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return regions;
    const QByteArray all = maps.readAll();
    for (const QByteArray& line : all.split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 5)
            continue;
        const QByteArray& perms = fields.at(1);
        if (perms.size() < 4 || perms.at(0) != 'r' || perms.at(1) != 'w' || perms.at(3) != 'p')
            continue;
        const QList<QByteArray> bounds = fields.at(0).split('-');
        bool startOk = false;
        bool endOk = false;
        MemoryRegion region{quintptr(bounds.value(0).toULongLong(&startOk, 16)),
                            quintptr(bounds.value(1).toULongLong(&endOk, 16)),
                            QString::fromUtf8(fields.value(5))};
        if (startOk && endOk && region.start < region.end && !isSanitizerShadow(region))
            regions.append(region);
    }
    return regions;
}

// Reads memory of this process through /proc/self/mem: a page that went away meanwhile reads
// as an error instead of a crash, and the sanitizers do not count it as an access.
class MemoryReader
{
public:
    MemoryReader() : m_fd(::open("/proc/self/mem", O_RDONLY | O_CLOEXEC)) {}
    ~MemoryReader()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    MemoryReader(const MemoryReader&) = delete;
    MemoryReader& operator=(const MemoryReader&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    qint64 read(quintptr address, char* out, qint64 size) const
    {
        qint64 done = 0;
        while (done < size) {
            const ssize_t got = ::pread(m_fd, out + done, std::size_t(size - done),
                                        off_t(address + quintptr(done)));
            if (got <= 0)
                return done > 0 ? done : -1;
            done += got;
        }
        return done;
    }

private:
    int m_fd;
};

#endif

} // namespace detail

// Looks through every private writable page of the process for any kFragment consecutive bytes
// of needle (all of it when it is shorter). Looking for fragments also finds a copy in freed
// memory whose first bytes the allocator overwrote with its own bookkeeping. Nothing when no
// fragment is found, or when the memory cannot be read (see memoryScanWorks()).
inline std::optional<MemoryHit> findInMemory(const MaskedBytes& needle)
{
    constexpr qsizetype kFragment = 16;
    constexpr qsizetype kBlock = qsizetype(1) << 20;
    const qsizetype length = qMin(kFragment, needle.size());
    if (length == 0)
        return std::nullopt;
    QList<qsizetype> fragments; // where each fragment starts in the needle
    for (qsizetype at = 0; at + length <= needle.size(); at += length)
        fragments.append(at);
    if (needle.size() % length != 0)
        fragments.append(needle.size() - length);

    const detail::MemoryReader reader;
    if (!reader.isOpen())
        return std::nullopt;
    const QList<MemoryRegion> regions = detail::writableRegions();
    // The block holds copies of memory; wiped, so that a later search does not find them.
    QByteArray block(kBlock + length, Qt::Uninitialized);
    const auto wipeBlock = qScopeGuard([&block] { dataops::wipe(block); });
    for (const MemoryRegion& region : regions) {
        // Consecutive blocks overlap by length - 1 bytes, so a fragment across their border is
        // found too.
        for (quintptr at = region.start; at < region.end;) {
            const qint64 wanted = qint64(qMin(region.end - at, quintptr(kBlock)));
            const qint64 got = reader.read(at, block.data(), wanted);
            if (got <= 0)
                break; // unreadable from here on, or gone
            for (const qsizetype fragment : fragments) {
                const char* base = block.constData();
                for (const char* p = base; p + length <= base + got; ++p) {
                    p = static_cast<const char*>(std::memchr(
                        p, needle.at(fragment), std::size_t(base + got - p - (length - 1))));
                    if (!p)
                        break;
                    qsizetype matched = 1;
                    while (matched < length &&
                           static_cast<unsigned char>(p[matched]) == needle.at(fragment + matched))
                        ++matched;
                    if (matched == length)
                        return MemoryHit{at + quintptr(p - base), region};
                }
            }
            if (got < wanted || at + quintptr(got) >= region.end)
                break;
            at += quintptr(got - (length - 1));
        }
    }
    return std::nullopt;
}

// A random needle held nowhere else but in a buffer of the caller's: the scan must find it
// while it is there. Callers check this once, so that "not found" means something.
inline bool memoryScanWorks()
{
    QByteArray planted(64, Qt::Uninitialized);
    MaskedBytes needle;
    for (qsizetype i = 0; i < planted.size(); ++i) {
        const auto byte = static_cast<unsigned char>(QRandomGenerator::global()->bounded(256));
        planted[i] = static_cast<char>(byte);
        needle.append(byte);
    }
    const bool found = findInMemory(needle).has_value();
    dataops::wipe(planted);
    return found && !findInMemory(needle);
}

} // namespace virellock::test
