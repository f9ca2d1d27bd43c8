#pragma once

#include <QString>

class PgConnection;

// The shared batches' tables, functions and roles, created and upgraded step by
// step: each step runs once, in a transaction of its own, and the database
// keeps the number of the last one it has.
//
// Two roles, granted to the bureau's login roles:
//   stripewell_publisher  publishes batches, reads them, hands a card in flight back;
//   stripewell_station    reads batches, claims cards and records their outcomes,
//                         each only as the login role it connected as.
// Neither may delete a row, change another station's card or the schema.
namespace Schema {

// The version this program creates and expects.
int currentVersion();

// Brings the database to currentVersion(), on a connection that may create
// schemas and roles (the bureau's administrator). Waits in a local event loop:
// for the command line. Returns an empty string, or what went wrong.
QString upgrade(PgConnection& admin, int timeoutMs = 60000);

} // namespace Schema
