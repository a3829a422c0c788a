#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Writes a version resource in the Windows VS_VERSIONINFO layout (little-endian, UTF-16 keys
// and texts, every node aligned on 32 bits). The build uses it to put the program's version
// resource into its executable; tests use it to make resources of any shape. Plain C++ with
// no Qt, so that the build-time generator stays small.
namespace verres {

// The ELF section that carries the version resource of an executable.
inline constexpr char kSectionName[] = ".qs_version";

inline constexpr std::uint32_t kFixedSignature = 0xFEEF04BDu;
inline constexpr std::uint32_t kFixedStrucVersion = 0x00010000u;

struct FixedPart
{
    std::uint32_t fileVersionMS = 0;
    std::uint32_t fileVersionLS = 0;
    std::uint32_t productVersionMS = 0;
    std::uint32_t productVersionLS = 0;
    std::uint32_t fileFlagsMask = 0;
    std::uint32_t fileFlags = 0;
    std::uint32_t fileOS = 0;
    std::uint32_t fileType = 0;
    std::uint32_t fileSubtype = 0;
    std::uint32_t fileDateMS = 0;
    std::uint32_t fileDateLS = 0;
};

// One string table: its key ("040904E4") and its items, UTF-8 encoded.
struct StringTable
{
    std::string key;
    std::vector<std::pair<std::string, std::string>> items;
};

struct Resource
{
    bool hasFixedPart = true;
    FixedPart fixed;
    bool hasTranslations = true;
    // Each entry: language identifier in the low 16 bits, code page in the high 16 bits.
    std::vector<std::uint32_t> translations;
    std::vector<StringTable> stringTables;
};

// The resource's bytes. Throws std::length_error when a node outgrows the 16-bit length field.
std::vector<std::uint8_t> build(const Resource &resource);

// "1.4.2018.209" -> the two 32-bit halves; false unless four numbers of 0..65535.
bool parseVersion(const std::string &text, std::uint32_t &ms, std::uint32_t &ls);

} // namespace verres
