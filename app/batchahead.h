#pragma once

// The batch ahead at "Записать": a pre-flight of the cards the templates and the
// workbook give, and the operator's say when it finds a problem.

#include "writing/preflight.h"
#include "writing/preflightrunner.h"

#include <QString>

class BatchSession;
class QWidget;

namespace BatchAhead {

// What a pre-flight of the session's batch ahead reads, the journal at `journalPath` among it.
PreflightRunner::Request request(BatchSession& session, const QString& journalPath);
// The question put to the operator: the cards the data gives, how many can go
// before the first problem, and the first problems.
QString question(const Preflight::Result& result);
// Before the first card of a run: true when the run may start. A clean batch
// starts at once, and so does a run that resumes a card in flight (it has its
// own question); otherwise the operator says. Waits half a second for the
// pre-flight, then shows its progress, whose "Отмена" starts nothing.
bool confirm(QWidget* owner, BatchSession& session, const QString& journalPath);

} // namespace BatchAhead
