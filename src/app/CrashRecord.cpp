#include "app/CrashRecord.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <exception>
#include <typeinfo>

#include <dirent.h>
#include <dlfcn.h>
#include <elf.h>
#include <execinfo.h>
#include <fcntl.h>
#include <link.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef QS_VERSION
#error "QS_VERSION must be given by the build"
#endif

namespace bugreport::record {

const char header[] = "==== Quill Sift bug report (running processes are left out on purpose: "
                      "they are other people's data) ====";

namespace {

// ---- Where each exception was thrown. Every throw of the program (of Qt and the standard
// library too) passes through __cxa_throw below, which keeps the raw stack of the last few
// throws of its thread, by exception object. Capturing costs one unwind without symbols:
// exceptions carry ordinary errors here, so nothing more happens at a throw.

struct ThrowRecord
{
    const void *object = nullptr;
    Frames stack;
};

constexpr unsigned throwRingSize = 8;
thread_local ThrowRecord throwRing[throwRingSize];
thread_local unsigned throwNext = 0;
thread_local bool insideThrowHook = false;

using ThrowFunction = void (*)(void *, std::type_info *, void (*)(void *));

ThrowFunction nextThrow()
{
    // The next definition after the executable's: the C++ runtime's, or a sanitizer's
    // interceptor, which then calls the runtime's.
    static const ThrowFunction next
        = reinterpret_cast<ThrowFunction>(::dlsym(RTLD_NEXT, "__cxa_throw"));
    return next;
}

// ---- Small helpers that are safe in a signal handler.

std::size_t length(const char *text)
{
    std::size_t n = 0;
    while (text[n] != '\0')
        ++n;
    return n;
}

bool startsWith(const char *text, const char *prefix)
{
    return std::strncmp(text, prefix, length(prefix)) == 0;
}

pid_t currentThread()
{
    return static_cast<pid_t>(::syscall(SYS_gettid));
}

void writeAll(int fd, const char *text, std::size_t size)
{
    while (size > 0) {
        const ssize_t done = ::write(fd, text, size);
        if (done < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        text += done;
        size -= static_cast<std::size_t>(done);
    }
}

// Reads what fits of a small file (in /proc) into buffer, NUL-terminated.
std::size_t readSmallFile(const char *path, char *buffer, std::size_t size)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        buffer[0] = '\0';
        return 0;
    }
    std::size_t used = 0;
    while (used + 1 < size) {
        const ssize_t got = ::read(fd, buffer + used, size - 1 - used);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        used += static_cast<std::size_t>(got);
    }
    ::close(fd);
    buffer[used] = '\0';
    return used;
}

unsigned long long parseNumber(const char *&p, int base)
{
    unsigned long long value = 0;
    for (;; ++p) {
        int digit;
        if (*p >= '0' && *p <= '9')
            digit = *p - '0';
        else if (base == 16 && *p >= 'a' && *p <= 'f')
            digit = *p - 'a' + 10;
        else
            break;
        value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
    }
    return value;
}

// "/proc/self/task/<tid>/comm" without the trailing line end.
void threadName(pid_t tid, char *name, std::size_t size)
{
    char path[64];
    char *p = path;
    for (const char *s = "/proc/self/task/"; *s; ++s)
        *p++ = *s;
    char digits[24];
    int n = 0;
    for (unsigned long long v = static_cast<unsigned long long>(tid); n == 0 || v > 0; v /= 10)
        digits[n++] = static_cast<char>('0' + v % 10);
    while (n > 0)
        *p++ = digits[--n];
    for (const char *s = "/comm"; *s; ++s)
        *p++ = *s;
    *p = '\0';
    const std::size_t got = readSmallFile(path, name, size);
    if (got > 0 && name[got - 1] == '\n')
        name[got - 1] = '\0';
}

// ---- What prepare() reads once.

struct Prepared
{
    std::atomic<bool> done { false };
    char processor[256] = "unknown";
    long pageSize = 4096;
    int sampleSignal = 0;
};

Prepared prepared;

// ---- Loaded modules, from /proc/self/maps: a file that is mapped from its start and begins
// with an ELF header. Read again for every record, so that plugins loaded late are in it.

struct Module
{
    std::uintptr_t start = 0; // first mapping
    std::uintptr_t end = 0; // last mapping of the same file
    std::uintptr_t bias = 0; // what the module's addresses are shifted by
    char buildId[41] = {};
    char path[512] = {};
};

constexpr int maxModules = 256;
Module modules[maxModules];
int moduleCount = 0;

void readElfHeader(Module &module, std::uintptr_t firstEnd)
{
    // Only the first mapping is read: it holds the ELF and program headers and the notes.
    const auto *elf = reinterpret_cast<const ElfW(Ehdr) *>(module.start);
    if (std::memcmp(elf->e_ident, ELFMAG, SELFMAG) != 0 || elf->e_ident[EI_CLASS] != ELFCLASS64
        || elf->e_phentsize != sizeof(ElfW(Phdr))
        || elf->e_phoff + elf->e_phnum * sizeof(ElfW(Phdr)) > firstEnd - module.start) {
        module.path[0] = '\0';
        return;
    }
    const auto *phdrs = reinterpret_cast<const ElfW(Phdr) *>(module.start + elf->e_phoff);
    std::uintptr_t firstLoad = 0;
    for (int i = 0; i < elf->e_phnum; ++i) {
        if (phdrs[i].p_type == PT_LOAD && phdrs[i].p_offset == 0) {
            firstLoad = phdrs[i].p_vaddr & ~static_cast<std::uintptr_t>(prepared.pageSize - 1);
            break;
        }
    }
    module.bias = module.start - firstLoad;
    for (int i = 0; i < elf->e_phnum; ++i) {
        if (phdrs[i].p_type != PT_NOTE)
            continue;
        const std::uintptr_t begin = module.bias + phdrs[i].p_vaddr;
        const std::uintptr_t stop = begin + phdrs[i].p_memsz;
        if (begin < module.start || stop > firstEnd || stop < begin)
            continue;
        for (std::uintptr_t at = begin; at + sizeof(ElfW(Nhdr)) <= stop;) {
            const auto *note = reinterpret_cast<const ElfW(Nhdr) *>(at);
            const std::uintptr_t name = at + sizeof(ElfW(Nhdr));
            const std::uintptr_t desc = name + ((note->n_namesz + 3) & ~3u);
            const std::uintptr_t next = desc + ((note->n_descsz + 3) & ~3u);
            if (next > stop || next <= at)
                break;
            if (note->n_type == NT_GNU_BUILD_ID && note->n_namesz == 4
                && std::memcmp(reinterpret_cast<const char *>(name), "GNU", 4) == 0) {
                static const char digits[] = "0123456789abcdef";
                const auto *bytes = reinterpret_cast<const unsigned char *>(desc);
                const unsigned count = note->n_descsz < 20 ? note->n_descsz : 20;
                for (unsigned b = 0; b < count; ++b) {
                    module.buildId[2 * b] = digits[bytes[b] >> 4];
                    module.buildId[2 * b + 1] = digits[bytes[b] & 15];
                }
                module.buildId[2 * count] = '\0';
                return;
            }
            at = next;
        }
    }
}

void readMapsLine(const char *line)
{
    const char *p = line;
    const std::uintptr_t start = parseNumber(p, 16);
    if (*p++ != '-')
        return;
    const std::uintptr_t end = parseNumber(p, 16);
    if (*p++ != ' ')
        return;
    const bool readable = p[0] == 'r';
    p += 5;
    const unsigned long long offset = parseNumber(p, 16);
    // Device and inode, then the path.
    for (int field = 0; field < 2; ++field) {
        while (*p == ' ')
            ++p;
        while (*p != ' ' && *p != '\0')
            ++p;
    }
    while (*p == ' ')
        ++p;
    if (*p != '/')
        return;
    if (moduleCount > 0 && std::strcmp(modules[moduleCount - 1].path, p) == 0) {
        modules[moduleCount - 1].end = end;
        return;
    }
    if (offset != 0 || !readable || moduleCount == maxModules)
        return;
    Module &module = modules[moduleCount];
    module = Module();
    module.start = start;
    module.end = end;
    std::size_t n = 0;
    while (p[n] != '\0' && n + 1 < sizeof module.path) {
        module.path[n] = p[n];
        ++n;
    }
    module.path[n] = '\0';
    readElfHeader(module, end);
    if (module.path[0] != '\0')
        ++moduleCount;
}

void readModules()
{
    moduleCount = 0;
    const int fd = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    static char buffer[8192];
    std::size_t used = 0;
    for (;;) {
        const ssize_t got = ::read(fd, buffer + used, sizeof buffer - 1 - used);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        used += static_cast<std::size_t>(got);
        std::size_t lineStart = 0;
        for (std::size_t i = 0; i < used; ++i) {
            if (buffer[i] != '\n')
                continue;
            buffer[i] = '\0';
            readMapsLine(buffer + lineStart);
            lineStart = i + 1;
        }
        // A line longer than the buffer is dropped.
        if (lineStart == 0 && used == sizeof buffer - 1)
            lineStart = used;
        std::memmove(buffer, buffer + lineStart, used - lineStart);
        used -= lineStart;
    }
    ::close(fd);
}

const Module *moduleOf(std::uintptr_t address)
{
    for (int i = 0; i < moduleCount; ++i) {
        if (address >= modules[i].start && address < modules[i].end)
            return &modules[i];
    }
    return nullptr;
}

const char *baseName(const char *path)
{
    const char *base = path;
    for (const char *p = path; *p; ++p) {
        if (*p == '/')
            base = p + 1;
    }
    return base;
}

// "  #3 0x00005555deadbeef in quillsift+0x1beef": the address, and where it lies in its
// module's file, which is what a symboliser needs later. The address of a frame that was
// interrupted (the crash) is exact; every other one is a return address.
void writeFrames(
    Out &out, const char *indent, void *const *frames, int count, int first, bool interrupted)
{
    for (int i = first; i < count; ++i) {
        const auto address = reinterpret_cast<std::uintptr_t>(frames[i]);
        out << indent << "#";
        out.number(static_cast<unsigned long long>(i - first));
        out << " 0x";
        out.hex(address);
        if (const Module *module = moduleOf(address)) {
            out << " in " << baseName(module->path) << "+0x";
            out.hex(address - module->bias, 1);
        }
        if (i == first && interrupted)
            out << " (interrupted here)";
        out << "\n";
    }
}

// The first frame below a signal handler: the one whose address is the interrupted one.
int firstInterruptedFrame(void *const *frames, int count, std::uintptr_t pc)
{
    if (pc == 0)
        return 0;
    for (int i = 0; i < count; ++i) {
        if (reinterpret_cast<std::uintptr_t>(frames[i]) == pc)
            return i;
    }
    return 0;
}

std::uintptr_t interruptedAddress(const ucontext_t *context)
{
    if (!context)
        return 0;
#if defined(__x86_64__)
    return static_cast<std::uintptr_t>(context->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
    return static_cast<std::uintptr_t>(context->uc_mcontext.pc);
#else
    return 0;
#endif
}

// ---- The other threads: each one is sent a signal whose handler records its own stack
// into a slot prepared for it; what has not answered within a short while is reported as
// not available (a thread that blocks the signal, or is stuck in the loader).

enum SlotState : int { Idle, Requested, Writing, Done };

struct Slot
{
    std::atomic<pid_t> tid { 0 };
    std::atomic<int> state { Idle };
    std::uintptr_t pc = 0;
    Frames stack;
};

constexpr int maxThreads = 64;
Slot slots[maxThreads];
// Held by one sampling at a time; left held when a thread never finished writing its slot.
std::atomic<bool> samplingBusy { false };

void onSampleSignal(int, siginfo_t *, void *context)
{
    const int savedErrno = errno;
    const pid_t self = currentThread();
    for (Slot &slot : slots) {
        if (slot.tid.load(std::memory_order_acquire) != self)
            continue;
        int expected = Requested;
        if (slot.state.compare_exchange_strong(expected, Writing)) {
            slot.pc = interruptedAddress(static_cast<const ucontext_t *>(context));
            slot.stack.count = ::backtrace(slot.stack.frames, maxFrames);
            slot.state.store(Done, std::memory_order_release);
        }
        break;
    }
    errno = savedErrno;
}

void sleepMs(long ms)
{
    timespec pause { 0, ms * 1000000L };
    ::nanosleep(&pause, nullptr);
}

int listOtherThreads(pid_t *tids, int capacity)
{
    const int fd = ::open("/proc/self/task", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    const pid_t self = currentThread();
    int count = 0;
    alignas(8) char buffer[4096];
    for (;;) {
        const long got = ::syscall(SYS_getdents64, fd, buffer, sizeof buffer);
        if (got <= 0)
            break;
        for (long at = 0; at < got;) {
            struct Entry
            {
                std::uint64_t inode;
                std::int64_t offset;
                unsigned short size;
                unsigned char type;
                char name[1];
            };
            const auto *entry = reinterpret_cast<const Entry *>(buffer + at);
            at += entry->size;
            const char *p = entry->name;
            if (*p < '0' || *p > '9')
                continue;
            const auto tid = static_cast<pid_t>(parseNumber(p, 10));
            if (tid != self && count < capacity)
                tids[count++] = tid;
        }
    }
    ::close(fd);
    return count;
}

void writeOtherThreads(Out &out)
{
    out << "Other threads:\n";
    pid_t tids[maxThreads];
    const int count = listOtherThreads(tids, maxThreads);
    if (count == 0) {
        out << "  (none)\n";
        return;
    }
    bool expected = false;
    const bool sampling
        = prepared.sampleSignal != 0 && samplingBusy.compare_exchange_strong(expected, true);
    if (sampling) {
        for (int i = 0; i < count; ++i) {
            slots[i].state.store(Requested, std::memory_order_relaxed);
            slots[i].tid.store(tids[i], std::memory_order_release);
            ::syscall(SYS_tgkill, ::getpid(), tids[i], prepared.sampleSignal);
        }
        for (int waited = 0; waited < 500; ++waited) {
            int pending = 0;
            for (int i = 0; i < count; ++i)
                pending += slots[i].state.load(std::memory_order_acquire) != Done;
            if (pending == 0)
                break;
            sleepMs(1);
        }
    }
    bool stuck = false;
    for (int i = 0; i < count; ++i) {
        char name[64];
        threadName(tids[i], name, sizeof name);
        out << "  Thread ";
        out.number(static_cast<unsigned long long>(tids[i]));
        out << " \"" << name << "\":";
        int state = Requested;
        if (sampling && !slots[i].state.compare_exchange_strong(state, Idle)) {
            if (state == Writing) {
                for (int waited = 0; waited < 100 && state == Writing; ++waited) {
                    sleepMs(1);
                    state = slots[i].state.load(std::memory_order_acquire);
                }
            }
        }
        if (sampling && state == Done) {
            out << "\n";
            const int first
                = firstInterruptedFrame(slots[i].stack.frames, slots[i].stack.count, slots[i].pc);
            writeFrames(out, "    ", slots[i].stack.frames, slots[i].stack.count, first, first > 0);
        } else {
            out << " stack not available\n";
            stuck = stuck || state == Writing;
        }
    }
    if (sampling) {
        if (stuck)
            return; // the slots stay taken: a late writer must not meet a new sampling
        for (int i = 0; i < count; ++i) {
            slots[i].tid.store(0, std::memory_order_relaxed);
            slots[i].state.store(Idle, std::memory_order_relaxed);
        }
        samplingBusy.store(false, std::memory_order_release);
    }
}

// ---- Registers of the interrupted thread.

void writeRegister(Out &out, const char *name, unsigned long long value, bool lineEnd)
{
    out << name << " 0x";
    out.hex(value);
    out << (lineEnd ? "\n" : "  ");
}

void writeRegisters(Out &out, const siginfo_t *info, const ucontext_t *context)
{
    out << "Registers:\n";
    if (info) {
        const int signal = info->si_signo;
        if (info->si_code <= 0) {
            // Sent (kill, raise): there is no faulting address.
            out << "  sent by process ";
            out.number(static_cast<unsigned long long>(info->si_pid));
            out << "\n";
        } else if (signal == SIGSEGV || signal == SIGBUS || signal == SIGILL || signal == SIGFPE) {
            out << "  fault address 0x";
            out.hex(reinterpret_cast<std::uintptr_t>(info->si_addr));
            out << "  si_code ";
            out.number(static_cast<unsigned long long>(info->si_code & 0xffff));
            out << "\n";
        }
    }
#if defined(__x86_64__)
    const greg_t *g = context->uc_mcontext.gregs;
    struct Named
    {
        const char *name;
        int index;
    };
    static const Named names[] = {
        { "  rax", REG_RAX },
        { "rbx", REG_RBX },
        { "rcx", REG_RCX },
        { "rdx", REG_RDX },
        { "  rsi", REG_RSI },
        { "rdi", REG_RDI },
        { "rbp", REG_RBP },
        { "rsp", REG_RSP },
        { "  r8 ", REG_R8 },
        { "r9 ", REG_R9 },
        { "r10", REG_R10 },
        { "r11", REG_R11 },
        { "  r12", REG_R12 },
        { "r13", REG_R13 },
        { "r14", REG_R14 },
        { "r15", REG_R15 },
        { "  rip", REG_RIP },
        { "eflags", REG_EFL },
        { "err", REG_ERR },
        { "trapno", REG_TRAPNO },
    };
    for (std::size_t i = 0; i < sizeof names / sizeof names[0]; ++i)
        writeRegister(
            out, names[i].name, static_cast<unsigned long long>(g[names[i].index]), i % 4 == 3);
#elif defined(__aarch64__)
    const auto &m = context->uc_mcontext;
    static const char *const names[] = { "  x0 ", "x1 ", "x2 ", "x3 ", "  x4 ", "x5 ", "x6 ", "x7 ",
        "  x8 ", "x9 ", "x10", "x11", "  x12", "x13", "x14", "x15", "  x16", "x17", "x18", "x19",
        "  x20", "x21", "x22", "x23", "  x24", "x25", "x26", "x27", "  x28", "x29", "x30" };
    for (int i = 0; i < 31; ++i)
        writeRegister(out, names[i], m.regs[i], i % 4 == 3);
    writeRegister(out, "sp ", m.sp, false);
    out << "\n";
    writeRegister(out, "  pc ", m.pc, false);
    writeRegister(out, "pstate", m.pstate, true);
#else
    (void)context;
    out << "  (not recorded for this processor)\n";
#endif
}

void writeModules(Out &out)
{
    out << "Modules (load address, build ID, file):\n";
    for (int i = 0; i < moduleCount; ++i) {
        out << "  0x";
        out.hex(modules[i].bias);
        out << " " << (modules[i].buildId[0] ? modules[i].buildId : "-") << " " << modules[i].path
            << "\n";
    }
}

void writeMemory(Out &out)
{
    char text[4096];
    readSmallFile("/proc/meminfo", text, sizeof text);
    out << "Memory:";
    bool any = false;
    for (const char *key : { "MemTotal:", "MemAvailable:" }) {
        for (const char *line = text; *line;) {
            if (startsWith(line, key)) {
                const char *p = line + length(key);
                while (*p == ' ')
                    ++p;
                const unsigned long long kib = parseNumber(p, 10);
                out << (any ? ", " : " ") << (key[3] == 'T' ? "total " : "available ");
                out.number(kib / 1024);
                out << " MiB";
                any = true;
                break;
            }
            while (*line && *line != '\n')
                ++line;
            if (*line)
                ++line;
        }
    }
    out << (any ? "\n" : " unknown\n");
}

// "YYYY-MM-DD HH:MM:SS +HH:MM", without the C library's time functions (they take locks).
void writeStamp(Out &out, std::time_t seconds, long utcOffset)
{
    const long long local = static_cast<long long>(seconds) + utcOffset;
    long long days = local / 86400;
    long long rest = local % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    // Days since 1970-01-01 to a civil date (proleptic Gregorian calendar).
    const long long z = days + 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const long long day = doy - (153 * mp + 2) / 5 + 1;
    const long long month = mp < 10 ? mp + 3 : mp - 9;
    const long long year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    const long offset = utcOffset < 0 ? -utcOffset : utcOffset;
    const long long parts[] = { year, month, day, rest / 3600, rest / 60 % 60, rest % 60,
        offset / 3600, offset / 60 % 60 };
    const char *const separators[]
        = { "-", "-", " ", ":", ":", utcOffset < 0 ? " -" : " +", ":", "" };
    for (int i = 0; i < 8; ++i) {
        char digits[4];
        const int width = i == 0 ? 4 : 2;
        long long v = parts[i];
        for (int d = width - 1; d >= 0; --d) {
            digits[d] = static_cast<char>('0' + v % 10);
            v /= 10;
        }
        out.put(digits, static_cast<std::size_t>(width));
        out << separators[i];
    }
}

long utcOffsetAtStart = 0;

long currentUtcOffset()
{
    const std::time_t now = std::time(nullptr);
    std::tm parts {};
    if (!localtime_r(&now, &parts))
        return 0;
    return parts.tm_gmtoff;
}

void readProcessor()
{
    static char text[65536];
    readSmallFile("/proc/cpuinfo", text, sizeof text);
    char model[200] = "unknown processor";
    for (const char *line = text; *line;) {
        if (startsWith(line, "model name") || startsWith(line, "Model")) {
            const char *p = line;
            while (*p && *p != ':' && *p != '\n')
                ++p;
            if (*p == ':') {
                ++p;
                while (*p == ' ' || *p == '\t')
                    ++p;
                std::size_t n = 0;
                while (p[n] && p[n] != '\n' && n + 1 < sizeof model) {
                    model[n] = p[n];
                    ++n;
                }
                model[n] = '\0';
                break;
            }
        }
        while (*line && *line != '\n')
            ++line;
        if (*line)
            ++line;
    }
    std::string line = model;
    line += ", " + std::to_string(::sysconf(_SC_NPROCESSORS_ONLN)) + " cores online";
    line.copy(prepared.processor, sizeof prepared.processor - 1);
    prepared.processor[std::min(line.size(), sizeof prepared.processor - 1)] = '\0';
}

} // namespace

// ---- Out

Out &Out::operator<<(const char *text)
{
    put(text, length(text));
    return *this;
}

void Out::put(const char *text, std::size_t size)
{
    if (m_text) {
        m_text->append(text, size);
        return;
    }
    while (size > 0) {
        if (m_used == sizeof m_buffer)
            flush();
        const std::size_t n = std::min(size, sizeof m_buffer - m_used);
        std::memcpy(m_buffer + m_used, text, n);
        m_used += n;
        text += n;
        size -= n;
    }
}

void Out::number(unsigned long long value)
{
    char digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value > 0);
    char text[24];
    for (int i = 0; i < n; ++i)
        text[i] = digits[n - 1 - i];
    put(text, static_cast<std::size_t>(n));
}

void Out::hex(unsigned long long value, int digits)
{
    static const char hexDigits[] = "0123456789abcdef";
    char text[16];
    int n = 0;
    for (unsigned long long v = value; v > 0 || n < digits; v >>= 4)
        text[15 - n++] = hexDigits[v & 15];
    put(text + 16 - n, static_cast<std::size_t>(n));
}

void Out::flush()
{
    for (int fd : m_fds) {
        if (fd >= 0)
            writeAll(fd, m_buffer, m_used);
    }
    m_used = 0;
}

// ---- The record

void prepare()
{
    if (prepared.done.exchange(true))
        return;
    prepared.pageSize = ::sysconf(_SC_PAGESIZE);
    readProcessor();
    utcOffsetAtStart = currentUtcOffset();
    // backtrace() loads its unwinder on first use, which allocates: not in a handler.
    void *frames[1];
    ::backtrace(frames, 1);
    nextThrow();

    prepared.sampleSignal = SIGRTMIN + 4;
    struct sigaction action = {};
    action.sa_sigaction = onSampleSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    if (::sigaction(prepared.sampleSignal, &action, nullptr) != 0)
        prepared.sampleSignal = 0;
}

void write(Out &out, const Input &input)
{
    readModules();
    timespec now = {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    out << header << "\nDate: ";
    // In a handler the offset read at start is used; the C library's would take a lock.
    writeStamp(out, now.tv_sec, input.signalInfo ? utcOffsetAtStart : currentUtcOffset());
    out << "\nVersion: " << QS_VERSION << "\nError: " << input.error;
    if (input.detail)
        out << input.detail;

    const pid_t self = currentThread();
    char name[64];
    threadName(self, name, sizeof name);
    out << "\nCall stack";
    if (input.raised)
        out << " where the error was raised";
    else if (input.signalInfo)
        out << " at the crash";
    out << ", thread ";
    out.number(static_cast<unsigned long long>(self));
    out << " \"" << name << "\":\n";
    if (input.raised) {
        writeFrames(out, "  ", input.raised->frames, input.raised->count, 0, false);
    } else {
        static Frames here;
        here.count = ::backtrace(here.frames, maxFrames);
        const std::uintptr_t pc = interruptedAddress(input.context);
        // Without a signal context, the frame of this function is left out.
        const int first
            = pc ? firstInterruptedFrame(here.frames, here.count, pc) : (here.count > 1 ? 1 : 0);
        writeFrames(out, "  ", here.frames, here.count, first, pc != 0 && first > 0);
    }
    writeOtherThreads(out);
    if (input.context)
        writeRegisters(out, input.signalInfo, input.context);
    // The modules come last: a report that is cut (in a mail) keeps what comes first.
    out << "Processor: " << prepared.processor << "\n";
    writeMemory(out);
    writeModules(out);
    out << "\n";
    out.flush();
}

bool raisedStackOf(const void *exceptionObject, Frames &out)
{
    if (!exceptionObject)
        return false;
    for (unsigned i = 0; i < throwRingSize; ++i) {
        const ThrowRecord &record = throwRing[(throwNext + throwRingSize - 1 - i) % throwRingSize];
        if (record.object == exceptionObject) {
            out = record.stack;
            return true;
        }
    }
    return false;
}

const void *currentExceptionObject()
{
    const std::exception_ptr current = std::current_exception();
    if (!current)
        return nullptr;
    // libstdc++'s exception_ptr is the address of the thrown object (a fixed ABI).
    static_assert(sizeof current == sizeof(void *));
    const void *object = nullptr;
    std::memcpy(&object, static_cast<const void *>(&current), sizeof object);
    return object;
}

} // namespace bugreport::record

using bugreport::record::maxFrames;

extern "C" [[noreturn]] void __cxa_throw(
    void *object, std::type_info *type, void (*destroy)(void *))
{
    using namespace bugreport::record;
    if (!insideThrowHook) {
        insideThrowHook = true;
        ThrowRecord &record = throwRing[throwNext % throwRingSize];
        ++throwNext;
        record.object = object;
        record.stack.count = ::backtrace(record.stack.frames, maxFrames);
        // The stack starts at the thrower: the hook's own frame, and a sanitizer's frame of
        // backtrace() where there is one, are left out.
        const void *thrower = __builtin_return_address(0);
        int first = 1;
        for (int i = 0; i < record.stack.count; ++i) {
            if (record.stack.frames[i] == thrower) {
                first = i;
                break;
            }
        }
        first = std::min(first, record.stack.count);
        std::memmove(record.stack.frames, record.stack.frames + first,
            sizeof(void *) * static_cast<std::size_t>(record.stack.count - first));
        record.stack.count -= first;
        insideThrowHook = false;
    }
    nextThrow()(object, type, destroy);
    __builtin_unreachable();
}
