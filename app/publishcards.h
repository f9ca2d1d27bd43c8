#pragma once

#include "db/sharedbatch.h"
#include "writing/preflight.h"

#include <QList>
#include <QString>

#include <optional>

// The cards a pre-flight found, as a shared batch publishes them: every card of
// a whole batch that no problem stops, numbered from 1 in their order. A batch
// with a stop, one whose check was cancelled, or one without a size and an end
// is refused, with the reason for the operator in `refusal`.
std::optional<QList<SharedBatch::Card>> cardsToPublish(const Preflight::Result& result, QString* refusal);
