#include "base/clock.h"

#include <QTime>

namespace kingyo {

int SystemClock::localSecond() const { return QTime::currentTime().second(); }

} // namespace kingyo
