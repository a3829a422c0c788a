#pragma once

#include "copy/CopyEngine.h"

#include <QString>

// The one-line outcome of a run, in French: "Copiés : 9 998   Ignorés : 1   Erreurs : 1".
// Numbers are grouped by three with a no-break space, so that the line never breaks inside
// one.
QString summaryText(const CopyTally &tally);

// The same line once the run is over, followed by the bytes copied and the run's duration:
// "…   Total : 12,4 Mo en 3,2 s".
QString finalSummaryText(const CopyTally &tally, qint64 milliseconds);

// "1 octet", "512 octets", "1,5 Ko", "12,4 Mo", "3,0 Go" (units of 1024).
QString byteCountText(qint64 bytes);

// "0,4 s", "59,9 s", "2 min 05 s", "1 h 02 min 05 s".
QString durationText(qint64 milliseconds);
