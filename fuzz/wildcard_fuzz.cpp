// The wildcard matcher, pattern x name. Input: the pattern, a line feed, the name, in UTF-8;
// an input that starts with FF FE is UTF-16LE instead, so that any code unit can reach it.
// Besides finishing without fault on any pattern and name, the matcher agrees with a plain
// backtracking reading of the rules on short inputs, and keeps the rules' certain results.
#include "FuzzSupport.h"

#include "platform/FileSearch.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

// The rules as written, without memory: exponential, so only for short inputs.
enum class Kind { Literal, Star, DosStar, DosQm, DosDot };
struct Token
{
    Kind kind;
    QChar c;
};

QString upper(const QString &text)
{
    QString result;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i).isHighSurrogate() && i + 1 < text.size()
            && text.at(i + 1).isLowSurrogate()) {
            const char32_t u = QChar::toUpper(QChar::surrogateToUcs4(text.at(i), text.at(i + 1)));
            result += QChar(QChar::highSurrogate(u));
            result += QChar(QChar::lowSurrogate(u));
            ++i;
        } else {
            result += text.at(i).toUpper();
        }
    }
    return result;
}

std::vector<Token> rewrite(const QString &pattern)
{
    QString text = upper(pattern);
    const bool endedWithDot = text.endsWith(u'.');
    while (text.endsWith(u'.') || text.endsWith(u' '))
        text.chop(1);
    if (text == u"*.*")
        return { { Kind::Star, {} } };
    std::vector<Token> tokens;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar next = i + 1 < text.size() ? text.at(i + 1) : QChar();
        if (text.at(i) == u'?')
            tokens.push_back({ Kind::DosQm, {} });
        else if (text.at(i) == u'*')
            tokens.push_back(
                { next == u'.' || (endedWithDot && i + 1 == text.size()) ? Kind::DosStar
                                                                         : Kind::Star,
                    {} });
        else if (text.at(i) == u'.' && (next == u'?' || next == u'*'))
            tokens.push_back({ Kind::DosDot, {} });
        else
            tokens.push_back({ Kind::Literal, text.at(i) });
    }
    return tokens;
}

bool matchFrom(const std::vector<Token> &p, std::size_t t, const QString &name, qsizetype n)
{
    if (t == p.size())
        return n == name.size();
    const qsizetype lastDot = name.lastIndexOf(u'.');
    switch (p[t].kind) {
    case Kind::Literal:
        return n < name.size() && name.at(n) == p[t].c && matchFrom(p, t + 1, name, n + 1);
    case Kind::Star:
        for (qsizetype end = n; end <= name.size(); ++end)
            if (matchFrom(p, t + 1, name, end))
                return true;
        return false;
    case Kind::DosStar: {
        const qsizetype limit = lastDot >= n ? lastDot + 1 : name.size();
        for (qsizetype end = n; end <= limit; ++end)
            if (matchFrom(p, t + 1, name, end))
                return true;
        return false;
    }
    case Kind::DosQm: {
        // One character other than a dot; at a dot or at the end the rest of the run
        // matches nothing, and a run that ends the pattern may take the dot.
        if (n < name.size() && name.at(n) != u'.')
            return matchFrom(p, t + 1, name, n + 1);
        std::size_t after = t;
        while (after < p.size() && p[after].kind == Kind::DosQm)
            ++after;
        if (after == p.size() && n < name.size() && matchFrom(p, after, name, n + 1))
            return true;
        return matchFrom(p, after, name, n);
    }
    case Kind::DosDot:
        if (n == name.size())
            return matchFrom(p, t + 1, name, n);
        return name.at(n) == u'.' && matchFrom(p, t + 1, name, n + 1);
    }
    return false;
}

bool hasWildcard(const QString &text)
{
    return text.contains(u'*') || text.contains(u'?');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const auto *chars = reinterpret_cast<const char *>(data);
    const QString text = size >= 2 && data[0] == 0xFF && data[1] == 0xFE
        ? fuzz::utf16Units(chars + 2, qsizetype(size) - 2)
        : QString::fromUtf8(chars, qsizetype(size));
    const qsizetype split = text.indexOf(u'\n');
    const QString pattern = split < 0 ? text : text.left(split);
    const QString name = split < 0 ? QString() : text.mid(split + 1);

    const bool matched = platform::matchesMask(pattern, name);
    if (pattern.size() <= 12 && name.size() <= 12) {
        // A run of DOS_QM tried here one by one still gives the run's result: the rules say
        // the run stops at a dot or the end, which matchFrom does by skipping the run.
        FUZZ_CHECK(matched == matchFrom(rewrite(pattern), 0, upper(name), 0));
    }

    FUZZ_CHECK(platform::matchesMask(QStringLiteral("*"), name));
    FUZZ_CHECK(platform::matchesMask(QStringLiteral("*.*"), name));
    const bool plain = !hasWildcard(name) && !name.endsWith(u'.') && !name.endsWith(u' ');
    if (plain) {
        FUZZ_CHECK(platform::matchesMask(name, name));
        FUZZ_CHECK(platform::matchesMask(u'*' + name, name));
        FUZZ_CHECK(platform::matchesMask(name + u'*', name));
        FUZZ_CHECK(
            platform::matchesMask(name.toLower(), name) == (upper(name.toLower()) == upper(name)));
    }
    // Whatever a pattern selects, the same pattern behind a star selects too.
    if (matched && !pattern.startsWith(u'.'))
        FUZZ_CHECK(platform::matchesMask(u'*' + pattern, name));
    return 0;
}
