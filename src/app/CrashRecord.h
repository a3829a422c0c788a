#pragma once

#include <csignal>
#include <string>

#include <ucontext.h>

// The raw bug-report record: everything in it can be written from a signal handler (no
// allocation, no locks, no stdio), so that a crash and an ordinary error give the same record.
// Addresses stay raw here ("0x... in module+0x..."); Symbols.h resolves them later, in an
// ordinary context.
namespace bugreport::record {

constexpr int maxFrames = 64;

struct Frames
{
    int count = 0;
    void *frames[maxFrames] = {};
};

// Where the record goes: up to two files, or a string (only outside a signal handler).
class Out
{
public:
    explicit Out(std::string *text)
        : m_text(text)
    {
    }
    Out(int fd1, int fd2)
        : m_fds { fd1, fd2 }
    {
    }
    ~Out() { flush(); }
    Out(const Out &) = delete;
    Out &operator=(const Out &) = delete;

    Out &operator<<(const char *text);
    void put(const char *text, std::size_t size);
    void number(unsigned long long value);
    void hex(unsigned long long value, int digits = 16);
    void flush();

private:
    std::string *m_text = nullptr;
    int m_fds[2] = { -1, -1 };
    char m_buffer[2048];
    std::size_t m_used = 0;
};

struct Input
{
    const char *error = "";
    const char *detail = nullptr;
    // The stack where the error was raised, when the throw was seen.
    const Frames *raised = nullptr;
    // For a crash by signal.
    const siginfo_t *signalInfo = nullptr;
    const ucontext_t *context = nullptr;
};

// Reads what the crash record needs and cannot read from a signal handler (processor, page
// size, the signal that samples other threads) and installs that signal's handler. Call once
// from an ordinary context before the first record; later calls do nothing.
void prepare();

// Writes one whole record, ended by an empty line. Safe in a signal handler once prepare()
// has run.
void write(Out &out, const Input &input);

// The first line of every record.
extern const char header[];

// The stack recorded when the exception object at this address was thrown on this thread.
bool raisedStackOf(const void *exceptionObject, Frames &out);
// The address of the exception being handled, or nullptr.
const void *currentExceptionObject();

} // namespace bugreport::record
