#pragma once

#include "rules/rulesfile.h"

#include <QByteArrayView>
#include <QHostAddress>
#include <QString>

// Why no rule answers `input`: the rule whose pattern agrees with the longest start of it, and
// where it parts, as "closest: "name", which parts at byte 4 (expected 00, got 07)". The earlier
// rule wins a tie. Empty when no rule agrees with even its first byte.
QString ClosestRule(const RuleSet& rules, QByteArrayView input, bool udp, const QHostAddress& peer);
