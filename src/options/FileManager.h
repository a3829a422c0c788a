#pragma once

#include <QString>

namespace options {

// Shows file selected in the desktop's file manager: org.freedesktop.FileManager1.ShowItems
// on the session bus with the file's URI; when there is no bus, no such service or no
// answer in time, the file's folder is opened instead. Returns at once: the call is
// asynchronous and its outcome is not reported to the user.
void showFileInFileManager(const QString &file);

} // namespace options
