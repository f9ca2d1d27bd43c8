#pragma once

// The batch ahead at "Записать": a pre-flight of the cards the templates and the
// workbook give, and the operator's say when it finds a problem.

#include "writing/preflight.h"
#include "writing/preflightrunner.h"

#include <QString>

class BatchSession;
class QWidget;

namespace BatchAhead {

// What a pre-flight of the session's batch ahead reads, the journal at
// `journalPath` among it, for a batch of `size` cards (0: to the end of the
// data). The workbook is looked at first: a file changed on disk is read again,
// and this waits for it.
PreflightRunner::Request request(BatchSession& session, const QString& journalPath, int size = 0);
// The batch as the pre-flight found it, in one sentence: its size, where its
// data ends, or how many cards it holds.
QString batchLine(const Preflight::Result& result);
// The question put to the operator: the batch, the card the run will stop at
// and why, the problems that only warn, and the first of each.
QString question(const Preflight::Result& result);
// Before the first card of a run: true when the run may start. A clean batch
// starts at once, and so does a run that resumes a card in flight (it has its
// own question) and a batch with no end to judge it by (no size, no worksheet:
// the run checks each card as it goes); otherwise the operator says. Waits half
// a second for a read of a changed workbook and the pre-flight, then shows
// their progress, whose "Отмена" starts nothing.
bool confirm(QWidget* owner, BatchSession& session, const QString& journalPath, int size = 0);

} // namespace BatchAhead
