#include "platform/ErrorText.h"

#include <cerrno>

namespace platform {

namespace {

// Our own texts, worded as the French desktop words the same failures.
const char16_t *knownText(int code)
{
    switch (code) {
    case 0:
        return u"L'opération a réussi.";
    case ENOENT:
        return u"Impossible de trouver le fichier spécifié.";
    case ENOTDIR:
        return u"Impossible de trouver le chemin spécifié.";
    case EACCES:
    case EPERM:
    case EISDIR: // a folder where a file is expected: refused, as the read-only mark is
        return u"Accès refusé.";
    case EEXIST:
        return u"Le fichier existe.";
    case ENOSPC:
        return u"Espace insuffisant sur le disque.";
    case EDQUOT:
        return u"Quota de disque dépassé.";
    case EROFS:
        return u"Le support est protégé en écriture.";
    case EMFILE:
        return u"Trop de fichiers ouverts.";
    case ENFILE:
        return u"Trop de fichiers ouverts dans le système.";
    case EBUSY:
        return u"La ressource demandée est en cours d'utilisation.";
    case ETXTBSY:
        return u"Le processus ne peut pas accéder au fichier car ce fichier est utilisé par un "
               u"autre processus.";
    case EIO:
        return u"Erreur d'entrée/sortie sur le périphérique.";
    case ENAMETOOLONG:
        return u"Le nom de fichier ou l'extension est trop long.";
    case EFBIG:
        return u"Le fichier est trop volumineux.";
    case EXDEV:
        return u"Le système ne peut pas déplacer le fichier vers une autre unité de disque.";
    case ELOOP:
        return u"Trop de niveaux de liens symboliques.";
    case EINVAL:
        return u"Paramètre incorrect.";
    case ENOMEM:
        return u"Mémoire insuffisante pour traiter cette commande.";
    case ENOMEDIUM:
        return u"Le périphérique n'est pas prêt.";
    case ENODATA: // what a file without a version resource reports
        return u"Le type de ressource spécifié est introuvable dans le fichier image.";
    case ENXIO:
    case ENODEV:
        return u"Le périphérique spécifié n'existe pas.";
    case ENOTEMPTY:
        return u"Le répertoire n'est pas vide.";
    case EAGAIN:
        return u"Ressource temporairement indisponible.";
    case EBADF:
        return u"Descripteur de fichier non valide.";
    case EOPNOTSUPP:
        return u"Opération non prise en charge.";
    case EINTR:
        return u"Opération interrompue.";
    case ESTALE:
        return u"Le fichier n'est plus accessible sur le serveur.";
    case ETIMEDOUT:
        return u"Le délai d'attente a expiré.";
    case EPIPE: // the reader of a pipe went away
        return u"Le canal de communication a été fermé.";
    default:
        return nullptr;
    }
}

} // namespace

QString sysErrorMessage(int code)
{
    const char16_t *text = knownText(code);
    QString message
        = text ? QString::fromUtf16(text) : QStringLiteral("Erreur système %1").arg(code);
    while (!message.isEmpty() && (message.back().unicode() <= 0x20 || message.back() == u'.'))
        message.chop(1);
    return message;
}

} // namespace platform
