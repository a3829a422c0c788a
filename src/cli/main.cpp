#include "cli/CopyCommand.h"

#include "platform/Paths.h"

#include <csignal>
#include <unistd.h>

int main(int argc, char **argv)
{
    // A reader that goes away (`quillsift-copy ... | head`) must not end a copy half-way:
    // the run goes on without its standard output.
    std::signal(SIGPIPE, SIG_IGN);
    // Arguments are bytes: a folder whose name is not UTF-8 is found under its own bytes.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(platform::decodePath(QByteArrayView(argv[i])));
    return cli::runCopyCommand(arguments, STDOUT_FILENO, STDERR_FILENO);
}
