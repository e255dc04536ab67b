#include "net/ThreadTimer.h"
