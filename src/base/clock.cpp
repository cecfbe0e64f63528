#include "app/clock.h"

#include <QTime>

namespace kingyo {

int SystemClock::localSecond() const { return QTime::currentTime().second(); }

} // namespace kingyo
