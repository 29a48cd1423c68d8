// The call statistics: each incoming call the call watch saw, kept for the missed-calls list and the home
// page's count.
#pragma once

#include "store/CallsRepository.h"

#include <QString>

struct AppState;
struct DeliveryNews;

class CallRecords {
public:
    CallRecords(AppState& state, Database& db, const DeliveryNews& news) : state(state), calls(db), news(news) {}
    void record(const QString& callerNumber);

private:
    AppState& state;
    CallsRepository calls;
    const DeliveryNews& news;
};
