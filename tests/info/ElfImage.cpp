#include "ElfImage.h"

namespace testinfo {

void ElfImage::put(qsizetype at, std::uint64_t value, int width)
{
    for (int i = 0; i < width; ++i) {
        const int shift = 8 * (bigEndian ? width - 1 - i : i);
        bytes[at + i] = char((value >> shift) & 0xFF);
    }
}

ElfImage makeElf(const QList<QPair<QByteArray, QByteArray>> &sections, bool is64, bool bigEndian)
{
    ElfImage image;
    image.is64 = is64;
    image.bigEndian = bigEndian;
    const int headerSize = is64 ? 64 : 52;
    image.sectionHeaderSize = is64 ? 64 : 40;

    QByteArray names(1, '\0');
    QList<std::uint64_t> nameOffsets;
    QList<std::uint64_t> dataOffsets;
    image.bytes = QByteArray(headerSize, '\0');
    for (const auto &[name, content] : sections) {
        nameOffsets.append(std::uint64_t(names.size()));
        names += name + '\0';
        while (image.bytes.size() % 8 != 0)
            image.bytes += '\0';
        dataOffsets.append(std::uint64_t(image.bytes.size()));
        image.bytes += content;
    }
    const std::uint64_t shstrtabName = std::uint64_t(names.size());
    names += QByteArray(".shstrtab") + '\0';
    const std::uint64_t namesOffset = std::uint64_t(image.bytes.size());
    image.bytes += names;
    while (image.bytes.size() % 8 != 0)
        image.bytes += '\0';

    const int count = int(sections.size()) + 2;
    image.sectionHeadersOffset = image.bytes.size();
    image.bytes += QByteArray(count * image.sectionHeaderSize, '\0');

    image.bytes[0] = '\x7f';
    image.bytes[1] = 'E';
    image.bytes[2] = 'L';
    image.bytes[3] = 'F';
    image.bytes[4] = char(is64 ? 2 : 1);
    image.bytes[5] = char(bigEndian ? 2 : 1);
    image.bytes[6] = 1; // EV_CURRENT
    image.put(16, 2, 2); // ET_EXEC
    image.put(18, is64 ? 62 : 3, 2);
    image.put(20, 1, 4);
    image.put(image.shoffField(), std::uint64_t(image.sectionHeadersOffset), is64 ? 8 : 4);
    image.put(is64 ? 52 : 40, std::uint64_t(headerSize), 2);
    image.put(image.shentsizeField(), std::uint64_t(image.sectionHeaderSize), 2);
    image.put(image.shnumField(), std::uint64_t(count), 2);
    image.put(image.shstrndxField(), std::uint64_t(count - 1), 2);

    const int word = is64 ? 8 : 4;
    for (int i = 0; i < int(sections.size()); ++i) {
        const int index = i + 1;
        image.put(image.nameField(index), nameOffsets[i], 4);
        image.put(image.typeField(index), 1, 4); // SHT_PROGBITS
        image.put(image.offsetField(index), dataOffsets[i], word);
        image.put(image.sizeField(index), std::uint64_t(sections[i].second.size()), word);
    }
    const int last = count - 1;
    image.put(image.nameField(last), shstrtabName, 4);
    image.put(image.typeField(last), 3, 4); // SHT_STRTAB
    image.put(image.offsetField(last), namesOffset, word);
    image.put(image.sizeField(last), std::uint64_t(names.size()), word);
    return image;
}

QByteArray toBytes(const std::vector<std::uint8_t> &bytes)
{
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size()));
}

} // namespace testinfo
