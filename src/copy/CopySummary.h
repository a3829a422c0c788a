#pragma once

#include "copy/CopyEngine.h"

#include <QString>

// The one-line outcome of a run, in French: "Copiés : 9 998   Ignorés : 1   Erreurs : 1".
// Numbers are grouped by three with a no-break space, so that the line never breaks inside
// one.
QString summaryText(const CopyTally &tally);

// The line while the run works, with the time left once it can be told (remaining is -1
// until then): "…   Temps restant : 2 min 05 s".
QString summaryText(const CopyTally &tally, qint64 remaining);

// The time the files not yet visited will take at the pace of those visited in elapsed
// milliseconds; -1 until the pace is known (the first files and seconds say little of it)
// and once nothing is left.
qint64 remainingTime(qint64 visited, qint64 total, qint64 elapsed);

// The same line once the run is over, followed by the bytes copied and the run's duration:
// "…   Total : 12,4 Mo en 3,2 s".
QString finalSummaryText(const CopyTally &tally, qint64 milliseconds);

// The counts for a desktop notification: the summary line's, the errors first when there
// are any ("Erreurs : 2   Copiés : 9 998   Ignorés : 1").
QString notificationText(const CopyTally &tally);

// "1 octet", "512 octets", "1,5 Ko", "12,4 Mo", "3,0 Go" (units of 1024).
QString byteCountText(qint64 bytes);

// "0,4 s", "59,9 s", "2 min 05 s", "1 h 02 min 05 s".
QString durationText(qint64 milliseconds);
