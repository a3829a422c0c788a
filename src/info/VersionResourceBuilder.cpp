#include "info/VersionResourceBuilder.h"

#include <charconv>
#include <stdexcept>

namespace verres {

namespace {

struct Node
{
    std::u16string key;
    std::uint16_t type = 0; // 0 binary value (length in bytes), 1 text (length in characters)
    std::uint16_t valueLength = 0;
    std::vector<std::uint8_t> value;
    std::vector<Node> children;
};

// Malformed sequences become U+FFFD rather than failing: these texts come from our own build.
std::u16string fromUtf8(const std::string &text)
{
    std::u16string out;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::uint32_t code = 0xFFFD;
        std::size_t extra = 0;
        if (lead < 0x80) {
            code = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            code = lead & 0x1F;
            extra = 1;
        } else if ((lead & 0xF0) == 0xE0) {
            code = lead & 0x0F;
            extra = 2;
        } else if ((lead & 0xF8) == 0xF0) {
            code = lead & 0x07;
            extra = 3;
        }
        ++i;
        bool valid = lead < 0x80 || extra > 0;
        for (std::size_t k = 0; valid && k < extra; ++k, ++i) {
            if (i >= text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80)
                valid = false;
            else
                code = (code << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
        }
        if (!valid || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            code = 0xFFFD;
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
    }
    return out;
}

void put16(std::vector<std::uint8_t> &out, std::size_t at, std::uint32_t value)
{
    out[at] = static_cast<std::uint8_t>(value & 0xFF);
    out[at + 1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
}

void append16(std::vector<std::uint8_t> &out, std::uint32_t value)
{
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

void append32(std::vector<std::uint8_t> &out, std::uint32_t value)
{
    append16(out, value & 0xFFFF);
    append16(out, value >> 16);
}

void appendText(std::vector<std::uint8_t> &out, const std::u16string &text)
{
    for (const char16_t c : text)
        append16(out, c);
    append16(out, 0);
}

void padTo32Bits(std::vector<std::uint8_t> &out)
{
    while (out.size() % 4 != 0)
        out.push_back(0);
}

// Every node starts on a 32-bit boundary of the resource, so padding relative to the node's
// own start is padding relative to the resource. A node's length stops after its last byte of
// content; the parent pads before the next child.
std::vector<std::uint8_t> write(const Node &node)
{
    std::vector<std::uint8_t> out(6, 0);
    appendText(out, node.key);
    padTo32Bits(out);
    out.insert(out.end(), node.value.begin(), node.value.end());
    for (const Node &child : node.children) {
        padTo32Bits(out);
        const std::vector<std::uint8_t> bytes = write(child);
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    if (out.size() > 0xFFFF)
        throw std::length_error("version resource node longer than 65535 bytes");
    put16(out, 0, static_cast<std::uint32_t>(out.size()));
    put16(out, 2, node.valueLength);
    put16(out, 4, node.type);
    return out;
}

Node textNode(const std::string &key, const std::string &text)
{
    Node node;
    node.key = fromUtf8(key);
    node.type = 1;
    const std::u16string value = fromUtf8(text);
    if (value.size() + 1 > 0xFFFF)
        throw std::length_error("version resource text too long");
    node.valueLength = static_cast<std::uint16_t>(value.size() + 1);
    appendText(node.value, value);
    return node;
}

} // namespace

std::vector<std::uint8_t> build(const Resource &resource)
{
    Node root;
    root.key = u"VS_VERSION_INFO";
    if (resource.hasFixedPart) {
        const FixedPart &f = resource.fixed;
        for (const std::uint32_t v : { kFixedSignature, kFixedStrucVersion, f.fileVersionMS,
                 f.fileVersionLS, f.productVersionMS, f.productVersionLS, f.fileFlagsMask,
                 f.fileFlags, f.fileOS, f.fileType, f.fileSubtype, f.fileDateMS, f.fileDateLS })
            append32(root.value, v);
        root.valueLength = static_cast<std::uint16_t>(root.value.size());
    }

    if (!resource.stringTables.empty()) {
        Node stringFileInfo;
        stringFileInfo.key = u"StringFileInfo";
        stringFileInfo.type = 1;
        for (const StringTable &table : resource.stringTables) {
            Node tableNode;
            tableNode.key = fromUtf8(table.key);
            tableNode.type = 1;
            for (const auto &[name, text] : table.items)
                tableNode.children.push_back(textNode(name, text));
            stringFileInfo.children.push_back(std::move(tableNode));
        }
        root.children.push_back(std::move(stringFileInfo));
    }

    if (resource.hasTranslations) {
        Node var;
        var.key = u"Translation";
        for (const std::uint32_t entry : resource.translations)
            append32(var.value, entry);
        if (var.value.size() > 0xFFFF)
            throw std::length_error("too many translations");
        var.valueLength = static_cast<std::uint16_t>(var.value.size());
        Node varFileInfo;
        varFileInfo.key = u"VarFileInfo";
        varFileInfo.type = 1;
        varFileInfo.children.push_back(std::move(var));
        root.children.push_back(std::move(varFileInfo));
    }
    return write(root);
}

bool parseVersion(const std::string &text, std::uint32_t &ms, std::uint32_t &ls)
{
    std::uint32_t parts[4] = {};
    const char *p = text.data();
    const char *end = text.data() + text.size();
    for (int i = 0; i < 4; ++i) {
        const auto [next, ec] = std::from_chars(p, end, parts[i]);
        if (ec != std::errc() || next == p || parts[i] > 0xFFFF)
            return false;
        p = next;
        if (i < 3) {
            if (p == end || *p != '.')
                return false;
            ++p;
        }
    }
    if (p != end)
        return false;
    ms = (parts[0] << 16) | parts[1];
    ls = (parts[2] << 16) | parts[3];
    return true;
}

} // namespace verres
