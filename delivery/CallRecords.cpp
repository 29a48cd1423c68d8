#include "delivery/CallRecords.h"

#include "common/AppState.h"
#include "common/Seams.h"
#include "delivery/DeliveryNews.h"
#include "store/Database.h"

void CallRecords::record(const QString& callerNumber)
{
    try {
        calls.recordMissedCall(callerNumber, state.clock->now(), news.modemId, news.modemName);
    } catch (const DbError& e) {
        news.failed(e);
    }
}
