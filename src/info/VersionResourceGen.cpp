// Build-time generator: writes a C++ source whose one array is the program's version resource,
// placed in the ELF section that the version reader looks for.
//
// qs_version_resource_gen --output FILE --file-version A.B.C.D --product-version A.B.C.D
//     --flags-mask N --flags N --os N --type N --subtype N --translation LANG CODEPAGE
//     [--string NAME=TEXT]...
#include "info/VersionResourceBuilder.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace {

[[noreturn]] void fail(const std::string &message)
{
    std::cerr << "qs_version_resource_gen: " << message << '\n';
    std::exit(1);
}

std::uint32_t number(const char *text, std::uint32_t max)
{
    errno = 0;
    char *end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0' || value > max)
        fail(std::string("bad number: ") + text);
    return static_cast<std::uint32_t>(value);
}

std::string hex(std::uint32_t value, int digits)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%0*X", digits, value);
    return buffer;
}

} // namespace

int main(int argc, char **argv)
{
    std::string output;
    verres::Resource resource;
    verres::StringTable table;
    bool haveTranslation = false;

    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        auto next = [&]() -> const char * {
            if (i + 1 >= argc)
                fail("missing value after " + option);
            return argv[++i];
        };
        verres::FixedPart &fixed = resource.fixed;
        if (option == "--output") {
            output = next();
        } else if (option == "--file-version") {
            if (!verres::parseVersion(next(), fixed.fileVersionMS, fixed.fileVersionLS))
                fail("the file version needs four numbers of 0..65535");
        } else if (option == "--product-version") {
            if (!verres::parseVersion(next(), fixed.productVersionMS, fixed.productVersionLS))
                fail("the product version needs four numbers of 0..65535");
        } else if (option == "--flags-mask") {
            fixed.fileFlagsMask = number(next(), 0xFFFFFFFFu);
        } else if (option == "--flags") {
            fixed.fileFlags = number(next(), 0xFFFFFFFFu);
        } else if (option == "--os") {
            fixed.fileOS = number(next(), 0xFFFFFFFFu);
        } else if (option == "--type") {
            fixed.fileType = number(next(), 0xFFFFFFFFu);
        } else if (option == "--subtype") {
            fixed.fileSubtype = number(next(), 0xFFFFFFFFu);
        } else if (option == "--translation") {
            const std::uint32_t language = number(next(), 0xFFFF);
            const std::uint32_t codePage = number(next(), 0xFFFF);
            resource.translations.push_back(language | (codePage << 16));
            table.key = hex(language, 4) + hex(codePage, 4);
            haveTranslation = true;
        } else if (option == "--string") {
            const std::string item = next();
            const std::size_t equal = item.find('=');
            if (equal == std::string::npos || equal == 0)
                fail("--string needs NAME=TEXT");
            table.items.emplace_back(item.substr(0, equal), item.substr(equal + 1));
        } else {
            fail("unknown option " + option);
        }
    }
    if (output.empty() || !haveTranslation)
        fail("--output and --translation are required");
    resource.stringTables.push_back(table);

    std::vector<std::uint8_t> bytes;
    try {
        bytes = verres::build(resource);
    } catch (const std::exception &error) {
        fail(error.what());
    }

    std::ostringstream text;
    text << "// Generated at build time by qs_version_resource_gen from the project version.\n"
            "// Do not edit.\n"
            "namespace {\n"
            "alignas(4) __attribute__((section(\""
         << verres::kSectionName << "\"), used)) const unsigned char versionResource["
         << bytes.size() << "] = {";
    for (std::size_t i = 0; i < bytes.size(); ++i)
        text << (i % 12 == 0 ? "\n    " : " ") << "0x" << hex(bytes[i], 2) << ',';
    text << "\n};\n} // namespace\n";

    std::ofstream file(output, std::ios::binary | std::ios::trunc);
    file << text.str();
    file.close();
    if (!file)
        fail("cannot write " + output);
    return 0;
}
