#pragma once

#include <QString>

namespace platform {

// CopyFileW: data, permission bits and modification time; a link is followed. The content
// goes to a temporary file in the target's folder that is renamed over the target once
// complete, so a failure never leaves a partial file nor damages the file it was to
// replace. With failIfExists an existing target (even one appearing meanwhile) is never
// replaced (EEXIST). A target without write permission is refused (EACCES).
// Returns 0 or an errno value.
int copyFile(const QString &source, const QString &target, bool failIfExists);

} // namespace platform
