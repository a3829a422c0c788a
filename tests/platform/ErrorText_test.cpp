#include "platform/ErrorText.h"

#include <gtest/gtest.h>

#include <cerrno>

using platform::sysErrorMessage;
using namespace Qt::StringLiterals;

namespace {

TEST(ErrorTextTest, knownCodes_haveFrenchTextsWithoutFinalStop)
{
    struct Case
    {
        int code;
        QString text;
    };
    const Case cases[] = {
        { ENOENT, u"Impossible de trouver le fichier spécifié"_s },
        { ENOTDIR, u"Impossible de trouver le chemin spécifié"_s },
        { EACCES, u"Accès refusé"_s },
        { EPERM, u"Accès refusé"_s },
        { EEXIST, u"Le fichier existe"_s },
        { ENOSPC, u"Espace insuffisant sur le disque"_s },
        { ENAMETOOLONG, u"Le nom de fichier ou l'extension est trop long"_s },
        { EPIPE, u"Le canal de communication a été fermé"_s },
        { 12345, u"Erreur système 12345"_s },
        { -1, u"Erreur système -1"_s },
    };
    for (const auto &c : cases)
        EXPECT_EQ(sysErrorMessage(c.code), c.text) << c.code;
}

// Every code that a copy to a local, removable, FUSE or network file system can meet.
TEST(ErrorTextTest, everyCodeACopyCanMeet_hasItsOwnTrimmedText)
{
    for (const int code : { ENOENT, ENOTDIR, EACCES, EPERM, EEXIST, ENOSPC, EDQUOT, EROFS, EISDIR,
             EMFILE, ENFILE, EBUSY, ETXTBSY, EIO, ENAMETOOLONG, EFBIG, EXDEV, ELOOP, EINVAL, ENOSYS,
             EOPNOTSUPP, ENOTSUP, ETIMEDOUT, ESTALE, ENOTCONN, EHOSTDOWN, EHOSTUNREACH, ENETUNREACH,
             ENETDOWN, ECONNRESET, ECONNABORTED, ECONNREFUSED, EPIPE, EREMOTEIO, ENOLCK, ECANCELED,
             ENODEV, ENXIO, EAGAIN, EINTR, ENOMEDIUM, EMEDIUMTYPE, EOVERFLOW, EMLINK, EUCLEAN,
             EBADMSG, EILSEQ, ENOKEY, EKEYEXPIRED, EPROTO, ENOBUFS, ENOMEM, EDEADLK }) {
        const QString text = sysErrorMessage(code);
        EXPECT_FALSE(text.startsWith(u"Erreur système"_s)) << code;
        EXPECT_FALSE(text.endsWith(u'.') || text.endsWith(u' ')) << code;
    }
}

} // namespace
