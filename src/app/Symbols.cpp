#include "app/Symbols.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <sstream>
#include <vector>

#include <cxxabi.h>
#include <elfutils/libdwfl.h>
#include <fcntl.h>
#include <unistd.h>

namespace bugreport {

namespace {

std::string hexText(const unsigned char *bytes, int size)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (int i = 0; i < size; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

int noElf(Dwfl_Module *, void **, const char *, Dwarf_Addr, char **, Elf **)
{
    return -1;
}

// Separate debug information by build ID under /usr/lib/debug (the -dbgsym packages). Not
// libdw's standard lookup: that one may ask a debuginfod server, and the program sends
// nothing of its own accord.
int localDebugInfo(Dwfl_Module *module, void **, const char *, Dwarf_Addr, const char *,
    const char *, GElf_Word, char **debugFile)
{
    const unsigned char *bits = nullptr;
    GElf_Addr vaddr = 0;
    const int size = dwfl_module_build_id(module, &bits, &vaddr);
    if (size < 2)
        return -1;
    const std::string path = "/usr/lib/debug/.build-id/" + hexText(bits, 1) + "/"
        + hexText(bits + 1, size - 1) + ".debug";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0)
        *debugFile = ::strdup(path.c_str());
    return fd;
}

const Dwfl_Callbacks callbacks = {
    noElf,
    localDebugInfo,
    dwfl_offline_section_address,
    nullptr,
};

struct DwflDeleter
{
    void operator()(Dwfl *dwfl) const { dwfl_end(dwfl); }
};

std::string demangled(const char *name)
{
    int status = -1;
    char *text = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    std::string result = status == 0 && text ? text : name;
    std::free(text);
    return result;
}

// "  0x<load address> <build ID or -> <file>" lines after "Modules (".
void reportModules(Dwfl *dwfl, const std::string &record, std::set<Dwfl_Module *> &changed)
{
    std::istringstream lines(record);
    std::string line;
    bool inModules = false;
    while (std::getline(lines, line)) {
        if (line.rfind("Modules (", 0) == 0) {
            inModules = true;
            continue;
        }
        if (!inModules)
            continue;
        if (line.rfind("  0x", 0) != 0) {
            inModules = false;
            continue;
        }
        const std::size_t idAt = line.find(' ', 4);
        const std::size_t pathAt = idAt == std::string::npos ? idAt : line.find(' ', idAt + 1);
        if (pathAt == std::string::npos)
            continue;
        const GElf_Addr bias = std::strtoull(line.c_str() + 4, nullptr, 16);
        const std::string buildId = line.substr(idAt + 1, pathAt - idAt - 1);
        const std::string path = line.substr(pathAt + 1);
        const std::string name = path.substr(path.rfind('/') + 1);
        Dwfl_Module *module = dwfl_report_elf(dwfl, name.c_str(), path.c_str(), -1, bias, true);
        if (!module || buildId == "-")
            continue;
        const unsigned char *bits = nullptr;
        GElf_Addr vaddr = 0;
        const int size = dwfl_module_build_id(module, &bits, &vaddr);
        if (size <= 0 || hexText(bits, size).substr(0, 40) != buildId)
            changed.insert(module);
    }
}

std::string describe(Dwfl *dwfl, const std::set<Dwfl_Module *> &changed, GElf_Addr address)
{
    Dwfl_Module *module = dwfl_addrmodule(dwfl, address);
    if (!module)
        return {};
    if (changed.count(module))
        return "(its file has changed since)";
    GElf_Off offset = 0;
    GElf_Sym symbol;
    const char *name
        = dwfl_module_addrinfo(module, address, &offset, &symbol, nullptr, nullptr, nullptr);
    std::string text = name ? demangled(name) : std::string("?");
    if (Dwfl_Line *line = dwfl_module_getsrc(module, address)) {
        int number = 0;
        if (const char *file = dwfl_lineinfo(line, nullptr, &number, nullptr, nullptr, nullptr))
            text += " at " + std::string(file) + ":" + std::to_string(number);
    }
    return name || text.size() > 1 ? text : std::string();
}

} // namespace

std::string resolveFrames(const std::string &record)
{
    std::unique_ptr<Dwfl, DwflDeleter> dwfl(dwfl_begin(&callbacks));
    if (!dwfl)
        return record;
    std::set<Dwfl_Module *> changed;
    dwfl_report_begin(dwfl.get());
    reportModules(dwfl.get(), record, changed);
    dwfl_report_end(dwfl.get(), nullptr, nullptr);

    std::string resolved;
    resolved.reserve(record.size() * 2);
    std::istringstream lines(record);
    std::string line;
    bool first = true;
    while (std::getline(lines, line)) {
        if (!first)
            resolved += '\n';
        first = false;
        resolved += line;
        const std::size_t hash = line.find_first_not_of(' ');
        if (hash == std::string::npos || hash == 0 || line[hash] != '#')
            continue;
        const std::size_t at = line.find(" 0x", hash);
        if (at == std::string::npos)
            continue;
        GElf_Addr address = std::strtoull(line.c_str() + at + 3, nullptr, 16);
        // A return address points after the call: the call itself is one byte before.
        const bool exact = line.find("(interrupted here)") != std::string::npos;
        if (!exact && address > 0)
            --address;
        const std::string description = describe(dwfl.get(), changed, address);
        if (!description.empty())
            resolved += ": " + description;
    }
    if (!record.empty() && record.back() == '\n')
        resolved += '\n';
    return resolved;
}

} // namespace bugreport
