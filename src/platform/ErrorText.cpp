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
    case ENOSYS:
        return u"Fonction incorrecte.";
    case ENOTCONN:
        return u"La connexion avec le serveur a été perdue.";
    case EHOSTDOWN:
        return u"Le serveur distant ne répond pas.";
    case EHOSTUNREACH:
    case ENETUNREACH:
    case ENETDOWN:
        return u"L'emplacement réseau ne peut pas être atteint.";
    case ECONNRESET:
    case ENETRESET:
        return u"La connexion a été fermée par le serveur distant.";
    case ECONNABORTED:
        return u"La connexion réseau a été abandonnée.";
    case ECONNREFUSED:
        return u"Le serveur distant a refusé la connexion.";
    case EPIPE: // the reader of a pipe went away
        return u"Le canal de communication a été fermé.";
    case ESHUTDOWN:
        return u"La connexion utilisée pour l'écriture est fermée.";
    case EREMOTEIO:
        return u"Erreur d'entrée/sortie sur le serveur distant.";
    case ENOLCK:
        return u"Aucun verrou n'est disponible.";
    case EDEADLK:
        return u"Le verrouillage demandé bloquerait le processus.";
    case ECANCELED:
        return u"L'opération a été annulée.";
    case EOVERFLOW:
        return u"La valeur est trop grande pour ce système de fichiers.";
    case EMLINK:
        return u"Le fichier a trop de liens.";
    case EUCLEAN:
    case EBADMSG:
        return u"Le fichier ou le répertoire est endommagé et illisible.";
    case EILSEQ:
        return u"Le nom du fichier ne peut pas être écrit sur ce support.";
    case EMEDIUMTYPE:
        return u"Le type de support est incorrect.";
    case ENOKEY:
    case EKEYEXPIRED:
    case EKEYREJECTED:
        return u"La clé nécessaire pour accéder au fichier n'est pas disponible.";
    case EPROTO:
    case ECOMM:
        return u"Une erreur de protocole réseau s'est produite.";
    case ENOBUFS:
        return u"Ressources système insuffisantes pour terminer l'opération.";
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
