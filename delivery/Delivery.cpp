#include "delivery/Delivery.h"

Delivery::Delivery(AppState& state, Database& db, ActivityLog& log, ModemLink& link)
    : reports(state, db, log, *this), outboxRun(state, db, log, link, reports, *this),
      reception(state, db, log, link, reports, *this), calls(state, db, *this)
{}
