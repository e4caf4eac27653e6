// The stamp reads the clock twice, as the service has always received it: the millisecond of the
// first reading joined to the whole seconds of the second.
#include "service/stamp.h"

#include "platform/clock.h"

namespace kv {

Text MillisecondStamp(std::optional<bool> secondsOnly) {
    const Text millis = NumberToText(GetLocalTime().milliseconds);
    const Text millisText = RepeatText(3 - TextLength(millis), "0") + millis;
    const double seconds = TimeDifference(CurrentTime(), TextToTime("1970-01-01 08:00:00"), 8);
    const Text stamp = NumberToText(static_cast<int>(seconds)) + millisText;
    if (secondsOnly.value_or(false)) {
        return TextLeft(stamp, 10);
    }
    return stamp;
}

} // namespace kv
