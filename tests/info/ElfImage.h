#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

#include <cstdint>
#include <vector>

// Minimal ELF files made by the tests: a header, the given sections and a section-name
// table, in either class and byte order, with the offsets a test needs to damage them.
namespace testinfo {

struct ElfImage
{
    QByteArray bytes;
    bool is64 = true;
    bool bigEndian = false;
    qsizetype sectionHeadersOffset = 0; // e_shoff
    int sectionHeaderSize = 0; // e_shentsize

    // Offset of section `index`'s header (0 is the null section, sections start at 1).
    qsizetype sectionHeader(int index) const
    {
        return sectionHeadersOffset + qsizetype(index) * sectionHeaderSize;
    }
    // Offsets of header fields.
    qsizetype shoffField() const { return is64 ? 40 : 32; }
    qsizetype shnumField() const { return is64 ? 60 : 48; }
    qsizetype shstrndxField() const { return is64 ? 62 : 50; }
    qsizetype shentsizeField() const { return is64 ? 58 : 46; }
    qsizetype nameField(int index) const { return sectionHeader(index); }
    qsizetype typeField(int index) const { return sectionHeader(index) + 4; }
    qsizetype offsetField(int index) const { return sectionHeader(index) + (is64 ? 24 : 16); }
    qsizetype sizeField(int index) const { return sectionHeader(index) + (is64 ? 32 : 20); }

    // Writes an unsigned value of `width` bytes in the image's byte order.
    void put(qsizetype at, std::uint64_t value, int width);
};

ElfImage makeElf(
    const QList<QPair<QByteArray, QByteArray>> &sections, bool is64 = true, bool bigEndian = false);

QByteArray toBytes(const std::vector<std::uint8_t> &bytes);

} // namespace testinfo
