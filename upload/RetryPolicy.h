#pragma once
// Which failures of an unattended run are worth another try: a connection
// that was not made (refused, timed out, unreachable), one that broke off, or answered that it cannot serve
// now (421, 425, 426, 450-452). A refused log-in (530) or anything else is
// final: trying again only repeats it, and repeated bad log-ins lock accounts.
#include <exception>

struct TRetryPolicy {
    int Retries = 0;        // tries after the first
    int WaitSeconds = 60;   // between two tries
};

bool IsTransientFailure(const std::exception& error);
