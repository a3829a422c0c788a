#pragma once

#include <QString>

namespace platform {

// The platform's French text for an errno value, without trailing blanks and full stops;
// "Erreur système {code}" for a code without a text of its own.
QString sysErrorMessage(int code);

} // namespace platform
