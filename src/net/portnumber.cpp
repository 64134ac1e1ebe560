#include "net/portnumber.h"

#include "convert/numeric.h"
#include "net/raisederror.h"

qint32 PortNumberOf(double value)
{
    const std::optional<qint32> port = RoundToInt32(value);
    if (!port)
        throw RaisedError(ErrorNumber::Overflow,
                          QStringLiteral("The port number is outside the 32-bit integer range."));
    return *port;
}
