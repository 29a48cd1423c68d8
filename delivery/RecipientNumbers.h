// Whether a typed or imported number can be sent to, by the rule the delivery run applies, and why not in
// words a user understands. Numbers are checked where they are entered, so that a bad one is seen at once
// rather than as INVALID NUMBER after the next delivery run.
#pragma once

#include <QString>
#include <QStringList>

// Empty when the delivery run would send to the number; otherwise why it would not ("it holds "#"").
QString RecipientNumberProblem(const QString& number);

// The refusal of the compose window for the numbers that cannot be sent to (number and reason each).
QString BadNumbersText(const QStringList& numbers);

// What the compose windows say of the numbers they passed over because they are on the opt-out list.
QString OptedOutText(qsizetype count);
